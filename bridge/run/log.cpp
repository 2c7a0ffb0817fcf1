// The log is one unbuffered WriteFile per line from a fixed buffer: no heap, no locale, and a
// line is either written whole or lost whole. Only the main thread writes it.
#include "run/log.h"
#include <windows.h>
#include "run/settings.h"
#include "run/text.h"

namespace {
// The longest line, kLogTextMax bytes and CR LF, is built in place with room to spare.
constexpr int kLineBufferBytes = 4096;
static_assert(kLogTextMax + 2 <= kLineBufferBytes, "the longest line and its CR LF fit the buffer");

// ---- Log state: main thread only, from open_log to close_log.
struct log_state {
    HANDLE handle = NULL;  // NULL while no log is open, as a constant state needs
    int64_t bytes_written = 0;
    char line_buffer[kLineBufferBytes] = {};
};
constinit log_state logfile;

// path less a last ".log", in any case, and ".previous.log"; NAME.previous for another name.
void previous_log_path(const wchar_t* path, wchar_t* previous) {
    wchar_t stem[kPathCap];
    format_wide(stem, kPathCap, L"%ls", path);
    const size_t n = wcslen(stem);
    const bool dot_log = n >= 4 && !_wcsicmp(stem + n - 4, L".log");
    if (dot_log) stem[n - 4] = 0;
    format_wide(previous, kPathCap, L"%ls.previous%ls", stem, dot_log ? path + n - 4 : L"");
}
}  // namespace

void open_log(bool append) {
    wchar_t path[kPathCap];
    if (log_path[0])
        format_wide(path, kPathCap, L"%ls", log_path);
    else
        format_wide(path, kPathCap, L"%ls\\TolvaneSpeech.log", exe_dir);
    logfile.bytes_written = 0;
    // A fresh log keeps the last one beside it: a player who starts the game again after a
    // failure still has the failed session's log to send. If it cannot be kept, the new run
    // appends to it rather than destroy it.
    DWORD kept_error = 0;
    wchar_t previous[kPathCap];
    const DWORD attributes = GetFileAttributesW(path);
    // A folder given as the log is left where it is; it cannot be opened as the log either.
    if (!append && attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        previous_log_path(path, previous);
        if (!MoveFileExW(path, previous, MOVEFILE_REPLACE_EXISTING)) {
            kept_error = GetLastError();
            append = true;
        }
    }
    // Append-only access puts every write at the end, also behind lines of another process.
    // Sharing delete lets the next run rename the log while a one-shot mode still holds it.
    // A log that cannot be opened is not reported anywhere: the log is where it would go.
    HANDLE file = CreateFileW(path, append ? FILE_APPEND_DATA : GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                              append ? OPEN_ALWAYS : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    logfile.handle = file == INVALID_HANDLE_VALUE ? NULL : file;
    if (kept_error) log_line("previous log not kept as %ls (error %lu); appending", previous, kept_error);
}

void(log_line)(const char* format, ...) {
    if (!logfile.handle || logfile.bytes_written > kLogCap) return;
    SYSTEMTIME now;
    GetLocalTime(&now);
    format_narrow(logfile.line_buffer, kLogPrefixLength + 1, "[%02d:%02d:%02d.%03d] ", now.wHour, now.wMinute,
                  now.wSecond, now.wMilliseconds);
    va_list args;
    va_start(args, format);
    int n = format_text(logfile.line_buffer + kLogPrefixLength, kLogMessageMax + 1, format, args);
    va_end(args);
    int length = kLogPrefixLength + (n < 0 ? 0 : n > kLogMessageMax ? kLogMessageMax : n);
    logfile.line_buffer[length] = '\r';
    logfile.line_buffer[length + 1] = '\n';
    // Always at the end of the file, so lines that a one-shot mode appended meanwhile are kept.
    OVERLAPPED at_end = {};
    at_end.Offset = at_end.OffsetHigh = 0xFFFFFFFF;
    DWORD written = 0;
    // A failed write (a full disk) loses the line; there is nowhere to report it.
    if (WriteFile(logfile.handle, logfile.line_buffer, (DWORD)length + 2, &written, &at_end))
        logfile.bytes_written += written;
}

void close_log(void) {
    if (logfile.handle) CloseHandle(logfile.handle);
    logfile.handle = NULL;
}

int64_t log_bytes(void) { return logfile.bytes_written; }
