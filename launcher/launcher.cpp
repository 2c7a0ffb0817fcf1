// TolvaneLaunch: loaded into the game process, its one export starts TolvaneSpeech.exe from the
// library's own folder, hidden and detached, unless a bridge already holds its instance mutex.
// The mutex name and the bridge's command line are the whole contract between the two; each
// call leaves its outcome as the one line of TolvaneLaunch.log beside the library.
#include <windows.h>
#include <stdio.h>
#include <string.h>
#include <wchar.h>

namespace {
HMODULE launcher_module = NULL;

// The library's own path, read into the classic MAX_PATH; a longer one is cut.
constexpr int kModulePathCap = 260;
// The program and log paths: the library's folder and a file name, cut at 519 units.
constexpr int kPathCap = 520;
// The quoted program path (519 units at most) and " --pid 4294967295 --from-start" (30 more) fit
// with room to spare, so the line is never cut.
constexpr int kCommandLineCap = 584;
// The longest of the three log lines, with two 10-digit ids, is 53 bytes.
constexpr int kLogTextCap = 512;

const wchar_t kInstanceMutex[] = L"Local\\TolvaneSpeech_SingleInstance";

void format_wide(wchar_t* buf, size_t capacity, const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    _vsnwprintf(buf, capacity, format, args);
    va_end(args);
    buf[capacity - 1] = 0;
}

void format_log_text(char* buf, size_t capacity, const char* format, ...) {
    va_list args;
    va_start(args, format);
    _vsnprintf(buf, capacity, format, args);
    va_end(args);
    buf[capacity - 1] = 0;
}

void write_launch_log(const wchar_t* folder, const char* text) {
    wchar_t path[kPathCap];
    format_wide(path, kPathCap, L"%ls\\TolvaneLaunch.log", folder);
    HANDLE file = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, text, (DWORD)strlen(text), &written, NULL);
    CloseHandle(file);
}
}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        launcher_module = module;
        DisableThreadLibraryCalls(module);
    }
    return TRUE;
}

// Whatever a caller passes is ignored; the result is always 0 and the outcome is in the log.
extern "C" int tolvane_launch(void) {
    wchar_t launch_dir[kModulePathCap];
    if (GetModuleFileNameW(launcher_module, launch_dir, kModulePathCap) == 0) return 0;
    launch_dir[kModulePathCap - 1] = 0;
    wchar_t* last = wcsrchr(launch_dir, L'\\');
    if (last) *last = 0;

    char text[kLogTextCap];
    HANDLE existing = OpenMutexW(SYNCHRONIZE, FALSE, kInstanceMutex);
    if (existing) {
        CloseHandle(existing);
        format_log_text(text, kLogTextCap, "TolvaneSpeech.exe already running; not started again\r\n");
    } else {
        wchar_t program[kPathCap];
        wchar_t command_line[kCommandLineCap];
        DWORD game_pid = GetCurrentProcessId();
        format_wide(program, kPathCap, L"%ls\\TolvaneSpeech.exe", launch_dir);
        format_wide(command_line, kCommandLineCap, L"\"%ls\" --pid %lu --from-start", program, game_pid);
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = SW_HIDE;
        PROCESS_INFORMATION started = {};
        if (CreateProcessW(program, command_line, NULL, NULL, FALSE, DETACHED_PROCESS | CREATE_NEW_PROCESS_GROUP,
                           NULL, launch_dir, &startup, &started)) {
            format_log_text(text, kLogTextCap, "started TolvaneSpeech.exe, pid %lu (game pid %lu)\r\n",
                        started.dwProcessId, game_pid);
            CloseHandle(started.hThread);
            CloseHandle(started.hProcess);
        } else {
            DWORD error = GetLastError();
            format_log_text(text, kLogTextCap, "CreateProcess TolvaneSpeech.exe failed, error %lu\r\n", error);
        }
    }
    write_launch_log(launch_dir, text);
    return 0;
}
