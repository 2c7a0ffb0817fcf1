// The watchdog asks the window manager, never the game: IsWindow and IsHungAppWindow send no
// message, so a hung game cannot block the bridge. Windows are enumerated only while no live
// window is picked. A due dump is written right here on the main thread: the announcement is
// handed to the speech router first, so the player hears it while the loop stands still, and
// the outcome is queued behind it. dbghelp.dll is loaded by full path from the system folder
// for each attempt and freed after it, so nothing of it stays in the bridge between attempts.
//
// Per check:
//
//   no window picked --pick finds one (logged)--> watching, answers
//   watching, answers --IsHungAppWindow--> watching, hung (logged; hung_since = now)
//   watching, hung --answers again--> watching, answers (logged with the duration)
//   watching, hung --hung for hang_seconds, fewer than two attempts, and 30 s since the
//                    last one ended--> announce, dump, speak the outcome; stays hung
//
// A destroyed window is replaced by a fresh pick; the hang state carries over to the new one.
#include "hang/hang_watchdog.h"
#include <dbghelp.h>
#include "game/game_process.h"
#include "game/game_window.h"
#include "run/clock.h"
#include "run/libraries.h"
#include "run/log.h"
#include "run/seams.h"
#include "run/settings.h"
#include "run/state.h"
#include "run/text.h"
#include "speech/speech.h"

namespace {
// A run writes no more dumps than this, successful or not, however often the game hangs.
constexpr int kDumpAttemptsMax = 2;
// A second attempt waits this long after the first ended, so the two dumps show the game at
// moments apart and never share a file name (which carries the second).
constexpr uint64_t kDumpSpacingMs = 30000;
// Window class names are read into this many units; longer ones are cut.
constexpr int kClassNameCap = 64;
// UTF-8 of a class name: 63 units of at most 3 bytes each, and the terminator.
constexpr int kClassNameUtf8 = 200;
// GetSystemDirectoryW gets the classic MAX_PATH buffer; a longer answer leaves no room for
// "\dbghelp.dll", so the attempt gives up instead of loading a cut path.
constexpr UINT kSystemDirCap = 260;
constexpr UINT kSystemDirLongest = 243;
// Data segments, handles, unloaded modules, memory the stacks point at, and thread data.
constexpr DWORD kDumpType = MiniDumpWithDataSegs | MiniDumpWithHandleData | MiniDumpWithUnloadedModules |
                            MiniDumpWithIndirectlyReferencedMemory | MiniDumpWithProcessThreadData |
                            MiniDumpWithThreadInfo;  // 0x1165
static_assert(kDumpType == 0x1165, "dump type");
// Handle data wants PROCESS_DUP_HANDLE; without it the dump is still worth having.
constexpr DWORD kOpenForDump = PROCESS_QUERY_INFORMATION | PROCESS_VM_READ | PROCESS_DUP_HANDLE;  // 0x450
constexpr DWORD kOpenForDumpLesser = PROCESS_QUERY_INFORMATION | PROCESS_VM_READ;                 // 0x410

typedef BOOL(WINAPI* minidump_write_fn)(HANDLE process, DWORD pid, HANDLE file, MINIDUMP_TYPE type,
                                         PMINIDUMP_EXCEPTION_INFORMATION exception,
                                         PMINIDUMP_USER_STREAM_INFORMATION user_streams,
                                         PMINIDUMP_CALLBACK_INFORMATION callback);

// ---- Watchdog state: main thread only, ends with the run.
struct watchdog_state {
    HWND window = NULL;             // the game window under watch; NULL: none picked
    uint64_t hung_since = 0;        // tick of the first check that saw the current hang; 0: answers
    bool frozen_announced = false;  // the first announcement was spoken during the current hang
    int dumps_taken = 0;            // attempts in this run, never reset
    uint64_t last_dump_at = 0;      // tick at which the last attempt ended
    minidump_write_fn write = NULL; // MiniDumpWriteDump of the dbghelp loaded for the attempt
};
constinit watchdog_state watchdog;

void pick_window(void) {
    HWND window = find_game_window(game_pid.load(std::memory_order_acquire));
    if (window == watchdog.window) return;
    watchdog.window = window;
    if (!window) return;
    wchar_t class_name[kClassNameCap];
    class_name[0] = 0;
    GetClassNameW(window, class_name, kClassNameCap);
    char class_utf8[kClassNameUtf8];
    to_utf8(class_name, class_utf8, kClassNameUtf8);
    log_line("hang watchdog: watching game window %p class %s", (void*)window, class_utf8);
}


// dump_dir is exe_dir less its last two components, taken at the moment of the dump.
void compose_dump_name(wchar_t* name) {
    wchar_t dump_dir[kPathCap];
    format_wide(dump_dir, kPathCap, L"%ls", exe_dir);
    cut_at_last_backslash(dump_dir);
    cut_at_last_backslash(dump_dir);
    SYSTEMTIME now;
    seams.local_time(&now);
    format_wide(name, kPathCap, L"%ls\\hang_%04d_%02d_%02d_%02d_%02d_%02d.dmp", dump_dir, (int)now.wYear,
                (int)now.wMonth, (int)now.wDay, (int)now.wHour, (int)now.wMinute, (int)now.wSecond);
}

}  // namespace

BOOL write_found_dump(HANDLE process, DWORD pid, HANDLE file, DWORD type) {
    return watchdog.write(process, pid, file, (MINIDUMP_TYPE)type, NULL, NULL, NULL);
}

bool write_hang_dump(void) {
    wchar_t name[kPathCap];
    compose_dump_name(name);

    wchar_t library_path[kSystemDirCap];
    UINT length = seams.system_directory(library_path, kSystemDirCap);
    // Not logged: a system folder that is missing or too long has no error code to report.
    if (length == 0 || length > kSystemDirLongest) return false;
    format_wide(library_path + length, kSystemDirCap - length, L"\\dbghelp.dll");
    HMODULE dbghelp = load_system_library(library_path);
    if (!dbghelp) {
        DWORD error = GetLastError();
        log_line("hang dump: dbghelp not available (%lu)", error);
        return false;
    }
    watchdog.write =
        reinterpret_cast<minidump_write_fn>(reinterpret_cast<void*>(GetProcAddress(dbghelp, "MiniDumpWriteDump")));
    if (!watchdog.write) {
        DWORD error = GetLastError();
        log_line("hang dump: dbghelp not available (%lu)", error);
        FreeLibrary(dbghelp);
        return false;
    }

    const DWORD pid = game_pid.load(std::memory_order_acquire);
    HANDLE process = OpenProcess(kOpenForDump, FALSE, pid);
    if (!process) process = OpenProcess(kOpenForDumpLesser, FALSE, pid);
    if (!process) {
        DWORD error = GetLastError();
        log_line("hang dump: OpenProcess failed (%lu)", error);
        FreeLibrary(dbghelp);
        return false;
    }

    HANDLE file = CreateFileW(name, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        log_line("hang dump: cannot create file (%lu)", error);
        CloseHandle(process);
        FreeLibrary(dbghelp);
        return false;
    }

    const uint64_t started = tick_now();
    const bool written = seams.write_dump(process, pid, file, kDumpType) != FALSE;
    const DWORD error = written ? 0 : GetLastError();
    LARGE_INTEGER size;
    size.QuadPart = 0;
    GetFileSizeEx(file, &size);
    CloseHandle(file);
    CloseHandle(process);
    FreeLibrary(dbghelp);
    watchdog.write = NULL;

    char name_utf8[kPathUtf8Bytes];
    to_utf8(name, name_utf8, kPathUtf8Bytes);
    if (written) {
        log_line("hang dump written: %s (%lld bytes, %llu ms)", name_utf8, (long long)size.QuadPart,
                 (unsigned long long)(tick_now() - started));
        return true;
    }
    log_line("hang dump: MiniDumpWriteDump failed (0x%08lx), %s", error, name_utf8);
    // A cut-off dump only misleads whoever reads it later.
    DeleteFileW(name);
    return false;
}

void check_game_hang(void) {
    if (!hang_dump_enabled) return;
    if (!watchdog.window || !IsWindow(watchdog.window)) pick_window();
    if (!watchdog.window) return;

    const uint64_t now = tick_now();
    if (!seams.is_hung(watchdog.window)) {
        if (watchdog.hung_since != 0)
            log_line("game window responsive again after %llu ms", (unsigned long long)(now - watchdog.hung_since));
        watchdog.hung_since = 0;
        watchdog.frozen_announced = false;
        return;
    }
    if (watchdog.hung_since == 0) {
        watchdog.hung_since = now;
        log_line("game window not responding (IsHungAppWindow)");
    }
    if (now - watchdog.hung_since < (uint64_t)hang_seconds * 1000) return;
    if (watchdog.dumps_taken >= kDumpAttemptsMax) return;
    if (watchdog.dumps_taken == 1 && now - watchdog.last_dump_at < kDumpSpacingMs) return;

    if (watchdog.frozen_announced) {
        speak(L"Still frozen. Saving more debug info.", true);
    } else {
        speak(L"Game seems frozen. Saving debug info.", true);
        watchdog.frozen_announced = true;
    }
    watchdog.dumps_taken++;
    const bool written = write_hang_dump();
    watchdog.last_dump_at = tick_now();
    speak(written ? L"Debug info saved. You can close the game now." : L"Could not save debug info.", false);
}

void reset_hang_watchdog(void) { renew(watchdog); }
