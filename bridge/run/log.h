// Diagnostic log TolvaneSpeech.log and the text helpers that build its lines and the bridge's
// paths. Owns log_handle and log_bytes_written. Main thread only: the hook thread never logs.
// The mode that runs opens the log (modes.cpp, bridge_run.cpp) and closes it at its end.
#pragma once
#include <windows.h>
#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>

// Longest message of one line; with the 15-byte time prefix a line holds at most 4092 bytes
// before its CR LF.
constexpr int kLogMessageMax = 4077;
// Past this many bytes written by this process the log falls silent.
constexpr int64_t kLogCap = 2097152;

void open_log(bool append);
// The formats are checked as C99's, which is what format_text implements.
#if defined(__clang__)
#define LOG_FORMAT(f, a) __attribute__((format(printf, f, a)))
#elif defined(__GNUC__)
#define LOG_FORMAT(f, a) __attribute__((format(gnu_printf, f, a)))
#else
#define LOG_FORMAT(f, a)
#endif

void log_line(const char* format, ...) LOG_FORMAT(1, 2);
void close_log(void);
int64_t log_bytes(void);  // bytes this process has written to the log

// Composes a wide text into buf; longer output is cut at capacity - 1 units and always ends
// with a terminator.
void format_wide(wchar_t* buf, size_t capacity, const wchar_t* format, ...);

// printf-style narrow formatting without heap or locale: %s, %ls (as UTF-8), %c, %d, %u, %x,
// %p and %%, with the 0 flag, a width and the l and ll sizes. Writes at most capacity - 1 bytes
// and a terminator; returns the full length the output needs, or -1 when it cannot be formed
// (a %ls text that is not valid UTF-16, or an unknown conversion).
int format_text(char* buf, size_t capacity, const char* format, va_list args);

// format_text with its arguments given directly.
int format_narrow(char* buf, size_t capacity, const char* format, ...) LOG_FORMAT(3, 4);

// UTF-16 to UTF-8 into out (capacity bytes, terminator included). Fails, leaving "" in out,
// when the text is not valid UTF-16 or does not fit.
bool to_utf8(const wchar_t* text, char* out, int capacity);
