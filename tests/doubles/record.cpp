// GetSystemTimePreciseAsFileTime is declared from Windows 8 on; the doubles only run in tests.
#ifdef _WIN32_WINNT
#undef _WIN32_WINNT
#endif
#define _WIN32_WINNT 0x0602
#include "record.h"
#include <string.h>

unsigned long long rec_time_us(void) {
    FILETIME ft;
    GetSystemTimePreciseAsFileTime(&ft);
    unsigned long long t = ((unsigned long long)ft.dwHighDateTime << 32) | ft.dwLowDateTime;
    return (t - 116444736000000000ULL) / 10;
}

bool rec_append_raw(const wchar_t* path, const char* bytes, size_t count) {
    HANDLE h = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           NULL, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    BOOL ok = WriteFile(h, bytes, (DWORD)count, &written, NULL);
    CloseHandle(h);
    return ok && written == count;
}

static size_t put_utf8(unsigned long cp, char* out, size_t pos, size_t cap) {
    char tmp[4];
    size_t n;
    if (cp < 0x80) {
        tmp[0] = (char)cp;
        n = 1;
    } else if (cp < 0x800) {
        tmp[0] = (char)(0xC0 | (cp >> 6));
        tmp[1] = (char)(0x80 | (cp & 0x3F));
        n = 2;
    } else if (cp < 0x10000) {
        tmp[0] = (char)(0xE0 | (cp >> 12));
        tmp[1] = (char)(0x80 | ((cp >> 6) & 0x3F));
        tmp[2] = (char)(0x80 | (cp & 0x3F));
        n = 3;
    } else {
        tmp[0] = (char)(0xF0 | (cp >> 18));
        tmp[1] = (char)(0x80 | ((cp >> 12) & 0x3F));
        tmp[2] = (char)(0x80 | ((cp >> 6) & 0x3F));
        tmp[3] = (char)(0x80 | (cp & 0x3F));
        n = 4;
    }
    // A character that does not fit whole is dropped rather than cut.
    if (pos + n >= cap) return pos;
    memcpy(out + pos, tmp, n);
    return pos + n;
}

size_t rec_escape(const wchar_t* text, size_t length, char* out, size_t cap) {
    if (cap == 0) return 0;
    size_t pos = 0;
    for (size_t i = 0; i < length && pos + 1 < cap; i++) {
        unsigned long c = (unsigned short)text[i];
        const char* esc = NULL;
        switch (c) {
            case '\\': esc = "\\\\"; break;
            case '\n': esc = "\\n"; break;
            case '\r': esc = "\\r"; break;
            case '\t': esc = "\\t"; break;
            default: break;
        }
        if (esc) {
            if (pos + 2 >= cap) break;
            out[pos++] = esc[0];
            out[pos++] = esc[1];
            continue;
        }
        if (c >= 0xD800 && c <= 0xDBFF) {
            unsigned long low = (i + 1 < length) ? (unsigned short)text[i + 1] : 0;
            if (low >= 0xDC00 && low <= 0xDFFF) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                i++;
            } else {
                c = 0xFFFD;
            }
        } else if (c >= 0xDC00 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        pos = put_utf8(c, out, pos, cap);
    }
    out[pos] = 0;
    return pos;
}

bool rec_event(const wchar_t* path, const char* head, const wchar_t* text) {
    return rec_event_at(path, rec_time_us(), head, text);
}

bool rec_event_at(const wchar_t* path, unsigned long long us, const char* head, const wchar_t* text) {
    if (!path || !path[0]) return false;
    size_t head_len = strlen(head);
    size_t text_len = text ? wcslen(text) : 0;
    size_t cap = 32 + head_len + 1 + text_len * 3 + 2;
    char small[4096];
    char* line = small;
    if (cap > sizeof(small)) {
        line = (char*)HeapAlloc(GetProcessHeap(), 0, cap);
        // Out of memory: record the event without its text rather than nothing.
        if (!line) {
            line = small;
            text = NULL;
            text_len = 0;
            cap = sizeof(small);
            if (head_len > cap - 40) head_len = cap - 40;
        }
    }
    // Time in decimal without relying on printf's 64-bit formats.
    char digits[24];
    int nd = 0;
    do {
        digits[nd++] = (char)('0' + us % 10);
        us /= 10;
    } while (us);
    size_t pos = 0;
    while (nd) line[pos++] = digits[--nd];
    line[pos++] = '\t';
    memcpy(line + pos, head, head_len);
    pos += head_len;
    if (text) {
        line[pos++] = '\t';
        pos += rec_escape(text, text_len, line + pos, cap - pos - 1);
    }
    line[pos++] = '\n';
    bool ok = rec_append_raw(path, line, pos);
    if (line != small) HeapFree(GetProcessHeap(), 0, line);
    return ok;
}

size_t ctl_read_file(const wchar_t* path, char* out, size_t cap) {
    if (cap == 0) return 0;
    out[0] = 0;
    if (!path || !path[0]) return 0;
    HANDLE h = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (h == INVALID_HANDLE_VALUE) return 0;
    size_t total = 0;
    while (total + 1 < cap) {
        DWORD got = 0;
        if (!ReadFile(h, out + total, (DWORD)(cap - 1 - total), &got, NULL) || got == 0) break;
        total += got;
    }
    CloseHandle(h);
    out[total] = 0;
    return total;
}

static bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

static bool parse_number(const char* p, const char* end, long long* value) {
    while (p < end && is_blank(*p)) p++;
    while (end > p && is_blank(end[-1])) end--;
    bool negative = false;
    if (p < end && (*p == '-' || *p == '+')) {
        negative = *p == '-';
        p++;
    }
    if (p >= end) return false;
    unsigned long long v = 0;
    if (end - p > 2 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
        p += 2;
        for (; p < end; p++) {
            char c = *p;
            int d;
            if (c >= '0' && c <= '9') d = c - '0';
            else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
            else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
            else return false;
            v = v * 16 + (unsigned)d;
        }
    } else {
        for (; p < end; p++) {
            if (*p < '0' || *p > '9') return false;
            v = v * 10 + (unsigned)(*p - '0');
        }
    }
    *value = negative ? -(long long)v : (long long)v;
    return true;
}

// The value of the next "key=value" line at or after *line, blanks trimmed; *line moves past it.
static bool next_value(const char** line, const char* key, const char** begin, const char** end) {
    size_t key_len = strlen(key);
    while (*line && **line) {
        const char* eol = strchr(*line, '\n');
        const char* stop = eol ? eol : *line + strlen(*line);
        const char* p = *line;
        *line = eol ? eol + 1 : NULL;
        while (p < stop && is_blank(*p)) p++;
        if ((size_t)(stop - p) <= key_len || memcmp(p, key, key_len) != 0) continue;
        p += key_len;
        while (p < stop && is_blank(*p)) p++;
        if (p == stop || *p != '=') continue;
        p++;
        while (p < stop && is_blank(*p)) p++;
        while (stop > p && is_blank(stop[-1])) stop--;
        *begin = p;
        *end = stop;
        return true;
    }
    return false;
}

long long ctl_value(const char* content, const char* key, long long fallback) {
    long long result = fallback;
    const char *begin, *end;
    // The last valid line for a key wins, as a test appending an override would expect.
    for (const char* line = content; next_value(&line, key, &begin, &end);) {
        long long v;
        if (parse_number(begin, end, &v)) result = v;
    }
    return result;
}

bool ctl_file_text(const wchar_t* path, const char* key, wchar_t* out, size_t cap) {
    if (cap < 2) return false;
    char content[4096];
    ctl_read_file(path, content, sizeof(content));
    const char *begin, *end;
    bool found = false;
    for (const char* line = content; next_value(&line, key, &begin, &end);) {
        int n = MultiByteToWideChar(CP_UTF8, 0, begin, (int)(end - begin), out, (int)cap - 1);
        found = n > 0 || begin == end;
        out[found ? n : 0] = 0;
    }
    return found;
}

bool path_join(wchar_t* out, size_t cap, const wchar_t* folder, const wchar_t* name) {
    size_t a = wcslen(folder), b = wcslen(name);
    bool slash = a > 0 && folder[a - 1] != L'\\' && folder[a - 1] != L'/';
    if (a + (slash ? 1 : 0) + b + 1 > cap) {
        if (cap) out[0] = 0;
        return false;
    }
    memcpy(out, folder, a * sizeof(wchar_t));
    if (slash) out[a++] = L'\\';
    memcpy(out + a, name, (b + 1) * sizeof(wchar_t));
    return true;
}

long long ctl_file_value(const wchar_t* path, const char* key, long long fallback) {
    char content[4096];
    ctl_read_file(path, content, sizeof(content));
    return ctl_value(content, key, fallback);
}
