// The log is one unbuffered WriteFile per line from a fixed buffer: no heap, no locale, and a
// line is either written whole or lost whole. Only the main thread writes it.
#include "run/log.h"
#include "run/settings.h"
#include <wchar.h>
#include <stdio.h>

namespace {
HANDLE log_handle = INVALID_HANDLE_VALUE;
int64_t log_bytes_written = 0;

// "[hh:mm:ss.mmm] "
constexpr int kPrefixLength = 15;
// Prefix, the longest message and CR LF fit with room to spare.
char line_buffer[4096];

struct text_out {
    char* buf;
    size_t capacity;
    size_t length;  // full length of the output, also past the capacity
};

void put_char(text_out* out, char c) {
    if (out->length + 1 < out->capacity) out->buf[out->length] = c;
    out->length++;
}

void put_padded(text_out* out, const char* text, size_t count, int width, bool zero, bool left) {
    size_t pad = width > 0 && (size_t)width > count ? (size_t)width - count : 0;
    if (!left) {
        // Zero padding goes after a sign.
        if (zero && count && text[0] == '-') {
            put_char(out, '-');
            text++;
            count--;
        }
        for (size_t i = 0; i < pad; i++) put_char(out, zero ? '0' : ' ');
    }
    for (size_t i = 0; i < count; i++) put_char(out, text[i]);
    if (left)
        for (size_t i = 0; i < pad; i++) put_char(out, ' ');
}

size_t digits_of(unsigned long long value, unsigned base, bool upper, char* end) {
    const char* set = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    size_t n = 0;
    do {
        *--end = set[value % base];
        value /= base;
        n++;
    } while (value);
    return n;
}

// Appends a UTF-16 text as UTF-8; false when it holds an unpaired surrogate.
bool put_wide(text_out* out, const wchar_t* text) {
    for (size_t i = 0; text[i]; i++) {
        unsigned long c = (unsigned short)text[i];
        if (c >= 0xD800 && c <= 0xDBFF) {
            unsigned long low = (unsigned short)text[i + 1];
            if (low < 0xDC00 || low > 0xDFFF) return false;
            c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
            i++;
        } else if (c >= 0xDC00 && c <= 0xDFFF) {
            return false;
        }
        if (c < 0x80) {
            put_char(out, (char)c);
        } else if (c < 0x800) {
            put_char(out, (char)(0xC0 | (c >> 6)));
            put_char(out, (char)(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            put_char(out, (char)(0xE0 | (c >> 12)));
            put_char(out, (char)(0x80 | ((c >> 6) & 0x3F)));
            put_char(out, (char)(0x80 | (c & 0x3F)));
        } else {
            put_char(out, (char)(0xF0 | (c >> 18)));
            put_char(out, (char)(0x80 | ((c >> 12) & 0x3F)));
            put_char(out, (char)(0x80 | ((c >> 6) & 0x3F)));
            put_char(out, (char)(0x80 | (c & 0x3F)));
        }
    }
    return true;
}

}  // namespace

int format_narrow(char* buf, size_t capacity, const char* format, ...) {
    va_list args;
    va_start(args, format);
    int n = format_text(buf, capacity, format, args);
    va_end(args);
    return n;
}

int format_text(char* buf, size_t capacity, const char* format, va_list args) {
    text_out out = {buf, capacity, 0};
    bool ok = true;
    for (const char* f = format; *f && ok; f++) {
        if (*f != '%') {
            put_char(&out, *f);
            continue;
        }
        f++;
        bool zero = false, left = false;
        for (;; f++) {
            if (*f == '0')
                zero = true;
            else if (*f == '-')
                left = true;
            else
                break;
        }
        int width = 0;
        while (*f >= '0' && *f <= '9') width = width * 10 + (*f++ - '0');
        int longs = 0;
        while (*f == 'l') {
            longs++;
            f++;
        }
        char digits[24];
        char* end = digits + sizeof digits;
        switch (*f) {
        case '%':
            put_char(&out, '%');
            break;
        case 'c':
            put_char(&out, (char)va_arg(args, int));
            break;
        case 's':
            if (longs) {
                const wchar_t* w = va_arg(args, const wchar_t*);
                ok = put_wide(&out, w ? w : L"(null)");
            } else {
                const char* s = va_arg(args, const char*);
                if (!s) s = "(null)";
                size_t n = 0;
                while (s[n]) n++;
                put_padded(&out, s, n, width, false, left);
            }
            break;
        case 'd':
        case 'i': {
            long long v = longs >= 2 ? va_arg(args, long long) : longs ? va_arg(args, long) : va_arg(args, int);
            unsigned long long mag = v < 0 ? 0ULL - (unsigned long long)v : (unsigned long long)v;
            size_t n = digits_of(mag, 10, false, end);
            if (v < 0) {
                *(end - n - 1) = '-';
                n++;
            }
            put_padded(&out, end - n, n, width, zero, left);
            break;
        }
        case 'u':
        case 'x':
        case 'X': {
            unsigned long long v = longs >= 2 ? va_arg(args, unsigned long long)
                                   : longs    ? va_arg(args, unsigned long)
                                              : va_arg(args, unsigned int);
            size_t n = digits_of(v, *f == 'u' ? 10 : 16, *f == 'X', end);
            put_padded(&out, end - n, n, width, zero, left);
            break;
        }
        case 'p': {
            size_t n = digits_of((uintptr_t)va_arg(args, void*), 16, true, end);
            put_padded(&out, end - n, n, 2 * (int)sizeof(void*), true, false);
            break;
        }
        default:
            ok = false;
            break;
        }
        if (!*f) break;
    }
    if (capacity) buf[out.length < capacity ? out.length : capacity - 1] = 0;
    return ok ? (int)out.length : -1;
}

bool to_utf8(const wchar_t* text, char* out, int capacity) {
    if (capacity <= 0) return false;
    out[0] = 0;
    if (!text) return true;
    int n = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text, -1, out, capacity, NULL, NULL);
    if (n <= 0) {
        out[0] = 0;
        return false;
    }
    return true;
}

void open_log(bool append) {
    wchar_t path[kPathCap];
    if (log_path[0])
        format_wide(path, kPathCap, L"%ls", log_path);
    else
        format_wide(path, kPathCap, L"%ls\\TolvaneSpeech.log", exe_dir);
    log_bytes_written = 0;
    // Append-only access puts every write at the end, also behind lines of another process.
    log_handle = CreateFileW(path, append ? FILE_APPEND_DATA : GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             NULL, append ? OPEN_ALWAYS : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
}

void log_line(const char* format, ...) {
    if (log_handle == INVALID_HANDLE_VALUE || log_bytes_written > kLogCap) return;
    SYSTEMTIME now;
    GetLocalTime(&now);
    format_narrow(line_buffer, kPrefixLength + 1, "[%02d:%02d:%02d.%03d] ", now.wHour, now.wMinute, now.wSecond,
                now.wMilliseconds);
    va_list args;
    va_start(args, format);
    int n = format_text(line_buffer + kPrefixLength, kLogMessageMax + 1, format, args);
    va_end(args);
    int length = kPrefixLength + (n < 0 ? 0 : n > kLogMessageMax ? kLogMessageMax : n);
    line_buffer[length] = '\r';
    line_buffer[length + 1] = '\n';
    // Always at the end of the file, so lines that a one-shot mode appended meanwhile are kept.
    OVERLAPPED at_end = {};
    at_end.Offset = at_end.OffsetHigh = 0xFFFFFFFF;
    DWORD written = 0;
    if (WriteFile(log_handle, line_buffer, (DWORD)length + 2, &written, &at_end)) log_bytes_written += written;
}

void close_log(void) {
    if (log_handle != INVALID_HANDLE_VALUE) CloseHandle(log_handle);
    log_handle = INVALID_HANDLE_VALUE;
}

int64_t log_bytes(void) { return log_bytes_written; }

void format_wide(wchar_t* buf, size_t capacity, const wchar_t* format, ...) {
    if (!capacity) return;
    va_list args;
    va_start(args, format);
    _vsnwprintf(buf, capacity, format, args);
    va_end(args);
    buf[capacity - 1] = 0;
}
