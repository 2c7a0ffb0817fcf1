// Every line is its own open, append and close: the mod may truncate or delete the file at any
// time, and append-only access writes at whatever the end is at that moment.
#include "keys/command_file.h"
#include <windows.h>
#include "run/log.h"
#include "run/settings.h"
#include "run/state.h"
#include "run/text.h"

namespace {
// "key " + the longest name (9) + " " + 10 digits + LF is 25 bytes.
constexpr int kCommandLineCap = 64;

// ---- Command file state: main thread only.
struct command_file_state {
    wchar_t cmd_file_path[kPathCap] = {};
};
constinit command_file_state commands;
}  // namespace

void create_command_file(void) {
    format_wide(commands.cmd_file_path, kPathCap, L"%ls\\cmd.txt", exe_dir);
    HANDLE file = CreateFileW(commands.cmd_file_path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        log_line("cmd file: cannot create (%lu)", error);
        return;
    }
    CloseHandle(file);
}

void write_command(const char* name, uint32_t tick) {
    char line[kCommandLineCap];
    int length = format_narrow(line, kCommandLineCap, "key %s %lu\n", name, (unsigned long)tick);
    if (length <= 0 || length >= kCommandLineCap) return;  // only names of the fixed vocabulary come here
    HANDLE file = CreateFileW(commands.cmd_file_path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        log_line("cmd file: cannot open (%lu)", error);
        return;
    }
    // Not examined: a file that opened for appending takes the 25 bytes or the disk is full, and
    // then the log line would not be written either.
    DWORD written = 0;
    WriteFile(file, line, (DWORD)length, &written, NULL);
    CloseHandle(file);
}

void reset_command_file(void) { renew(commands); }
