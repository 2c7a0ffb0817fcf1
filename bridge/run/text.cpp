#include "run/text.h"
#include <stdint.h>
#include <stdio.h>
#include <wchar.h>

namespace {
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

// A 64-bit value in base 8 would need 22 digits; base 10 needs 20 and a sign, base 16 16.
constexpr int kDigitsMax = 24;

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

// Forms one conversion; false when it cannot be formed.
bool put_conversion(text_out* out, const format_directive& directive, va_list* args) {
    char digits[kDigitsMax];
    char* end = digits + sizeof digits;
    switch (directive.conversion) {
    case '%':
        put_char(out, '%');
        return true;
    case 'c':
        put_char(out, (char)va_arg(*args, int));
        return true;
    case 's':
        if (directive.longs) {
            const wchar_t* w = va_arg(*args, const wchar_t*);
            return put_wide(out, w ? w : L"(null)");
        } else {
            const char* s = va_arg(*args, const char*);
            if (!s) s = "(null)";
            size_t n = 0;
            while (s[n]) n++;
            put_padded(out, s, n, directive.width, false, directive.left);
            return true;
        }
    case 'd':
    case 'i': {
        long long v = directive.longs >= 2 ? va_arg(*args, long long)
                      : directive.longs    ? va_arg(*args, long)
                                           : va_arg(*args, int);
        unsigned long long mag = v < 0 ? 0ULL - (unsigned long long)v : (unsigned long long)v;
        size_t n = digits_of(mag, 10, false, end);
        if (v < 0) {
            *(end - n - 1) = '-';
            n++;
        }
        put_padded(out, end - n, n, directive.width, directive.zero, directive.left);
        return true;
    }
    case 'u':
    case 'x':
    case 'X': {
        unsigned long long v = directive.longs >= 2 ? va_arg(*args, unsigned long long)
                               : directive.longs    ? va_arg(*args, unsigned long)
                                               : va_arg(*args, unsigned int);
        size_t n = digits_of(v, directive.conversion == 'u' ? 10 : 16, directive.conversion == 'X', end);
        put_padded(out, end - n, n, directive.width, directive.zero, directive.left);
        return true;
    }
    case 'p': {
        size_t n = digits_of((uintptr_t)va_arg(*args, void*), 16, true, end);
        put_padded(out, end - n, n, 2 * (int)sizeof(void*), true, false);
        return true;
    }
    default:
        return false;
    }
}
}  // namespace

int format_text(char* buf, size_t capacity, const char* format, va_list args) {
    text_out out = {buf, capacity, 0};
    va_list rest;
    va_copy(rest, args);
    bool ok = true;
    for (const char* f = format; *f && ok;) {
        if (*f != '%') {
            put_char(&out, *f++);
            continue;
        }
        const format_directive directive = read_directive(f + 1);
        ok = put_conversion(&out, directive, &rest);
        f = directive.next;
    }
    va_end(rest);
    if (capacity) buf[out.length < capacity ? out.length : capacity - 1] = 0;
    return ok ? (int)out.length : -1;
}

int(format_narrow)(char* buf, size_t capacity, const char* format, ...) {
    va_list args;
    va_start(args, format);
    int n = format_text(buf, capacity, format, args);
    va_end(args);
    return n;
}

void format_wide(wchar_t* buf, size_t capacity, const wchar_t* format, ...) {
    if (!capacity) return;
    va_list args;
    va_start(args, format);
    _vsnwprintf(buf, capacity, format, args);
    va_end(args);
    buf[capacity - 1] = 0;
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

void cut_at_last_backslash(wchar_t* path) {
    wchar_t* last = wcsrchr(path, L'\\');
    if (last) *last = 0;
}
