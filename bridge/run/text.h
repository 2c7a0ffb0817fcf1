// The bridge's text library: printf-style narrow formatting without heap or locale, wide
// formatting for paths, UTF-16 to UTF-8, and the one path operation the folders need. No state;
// any thread (the hook thread uses none of it today).
//
// format_text implements a small printf. The log, the only heavy user, checks every format at
// build time against that same grammar (format_supported), so a conversion that the engine
// cannot form fails the build instead of losing a message at run time.
#pragma once
#include <windows.h>
#include <stdarg.h>
#include <stddef.h>

// A path of up to 260 units, of up to 3 UTF-8 bytes each, and its terminator: the UTF-8 copies
// of paths for log lines. A longer path that is not plain ASCII does not fit and is logged empty.
constexpr int kPathUtf8Bytes = 780;

// One conversion of a format as format_text reads it: flags 0 and -, a width, the l and ll sizes,
// then one of s c d i u x X p %. Anything else (a precision, h, z, f, e, g, o, n, *, ...) reads as
// conversion 0: unsupported, and so does a width given to %ls or %c, which the engine would not
// pad.
struct format_directive {
    bool zero;
    bool left;
    int width;
    int longs;        // how many l
    char conversion;  // 0: unsupported
    const char* next; // just past the conversion
};

// Reads the conversion that starts just after a '%'.
constexpr format_directive read_directive(const char* f) {
    format_directive directive = {false, false, 0, 0, 0, f};
    for (;; f++) {
        if (*f == '0')
            directive.zero = true;
        else if (*f == '-')
            directive.left = true;
        else
            break;
    }
    while (*f >= '0' && *f <= '9') directive.width = directive.width * 10 + (*f++ - '0');
    while (*f == 'l') {
        directive.longs++;
        f++;
    }
    const char c = *f;
    const bool integer = c == 'd' || c == 'i' || c == 'u' || c == 'x' || c == 'X';
    const int longs = directive.longs;
    const bool padded = directive.width > 0;
    if ((integer && longs <= 2) || (c == 's' && longs == 0) || (c == 's' && longs == 1 && !padded) ||
        (c == 'c' && longs == 0 && !padded) || ((c == 'p' || c == '%') && longs == 0))
        directive.conversion = c;
    directive.next = c ? f + 1 : f;
    return directive;
}

// True when format_text can form every conversion of format.
constexpr bool format_supported(const char* format) {
    for (const char* f = format; *f; f++) {
        if (*f != '%') continue;
        const format_directive directive = read_directive(f + 1);
        if (!directive.conversion) return false;
        f = directive.next - 1;
    }
    return true;
}

// Formats into buf: %s copies bytes, %ls narrows UTF-16 to UTF-8, %p prints 16 hex digits.
// Writes at most capacity - 1 bytes and a terminator; returns the full length the output needs,
// or -1 when it cannot be formed (an unsupported conversion, or a %ls text that is not valid
// UTF-16).
int format_text(char* buf, size_t capacity, const char* format, va_list args);

// Compilers check the argument types of a format as C99's, of which format_text is a subset.
#if defined(__clang__)
#define TEXT_FORMAT(f, a) __attribute__((format(printf, f, a)))
#elif defined(__GNUC__)
#define TEXT_FORMAT(f, a) __attribute__((format(gnu_printf, f, a)))
#else
#define TEXT_FORMAT(f, a)
#endif

// Instantiated with format_supported of a literal format: a format that format_text cannot form,
// or one that is not a literal, fails the build here.
template <bool supported>
struct checked_format {
    static_assert(supported, "a conversion of this format is not one that format_text can form");
};
#define CHECKED_FORMAT(format) ((void)checked_format<format_supported(format)>())

// format_text with its arguments given directly; the format is checked at build time.
int format_narrow(char* buf, size_t capacity, const char* format, ...) TEXT_FORMAT(3, 4);
#define format_narrow(buf, capacity, format, ...) \
    (CHECKED_FORMAT(format), (format_narrow)(buf, capacity, format, ##__VA_ARGS__))

// Composes a wide text into buf with the C library's wide printf; longer output is cut at
// capacity - 1 units and the buffer always ends with a terminator.
void format_wide(wchar_t* buf, size_t capacity, const wchar_t* format, ...);

// UTF-16 to UTF-8 into out (capacity bytes, terminator included). Fails, leaving "" in out,
// when the text is not valid UTF-16 or does not fit.
bool to_utf8(const wchar_t* text, char* out, int capacity);

// Cuts path at its last backslash; a path without one stays whole.
void cut_at_last_backslash(wchar_t* path);
