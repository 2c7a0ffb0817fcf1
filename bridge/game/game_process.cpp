// The bridge lives exactly as long as its game: the handle opened here is what the main loop
// waits on. A game is attached at most once a run and never detached.
#include "game/game_process.h"
#include <tlhelp32.h>
#include <wchar.h>
#include "run/log.h"
#include "run/settings.h"
#include "run/state.h"
#include "run/text.h"

namespace {
// ---- Game state: main thread, but for the pid, which the hook thread reads.
struct game_state {
    std::atomic<DWORD> pid{0};
    HANDLE process = NULL;
};
constinit game_state game;
// Accepted only while the default name is searched for.
const wchar_t alternative_game_exe_name[] = L"Quellmoor-Win64-Shipping.exe";

bool is_candidate(const wchar_t* file_name) {
    if (!_wcsicmp(file_name, game_exe_name)) return true;
    // The alternative name is only accepted while the default name is searched for.
    return !_wcsicmp(game_exe_name, default_game_exe_name) && !_wcsicmp(file_name, alternative_game_exe_name);
}

// True when the process's executable lies in game_dir.
bool runs_from_game_dir(DWORD pid) {
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!process) return false;
    wchar_t image[kPathCap];
    DWORD size = kPathCap;
    BOOL ok = QueryFullProcessImageNameW(process, 0, image, &size);
    CloseHandle(process);
    if (!ok) return false;
    cut_at_last_backslash(image);
    return !_wcsicmp(image, game_dir);
}
}  // namespace

const std::atomic<DWORD>& game_pid = game.pid;
HANDLE const& game_process = game.process;

int attach_game_process(DWORD pid, const char* how) {
    HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!process) process = OpenProcess(SYNCHRONIZE, FALSE, pid);
    if (!process) {
        DWORD error = GetLastError();
        log_line("cannot open game process %lu (%s), error %lu", pid, how, error);
        return 0;
    }
    if (WaitForSingleObject(process, 0) == WAIT_OBJECT_0) {
        CloseHandle(process);
        log_line("process %lu already exited", pid);
        return 0;
    }
    game.process = process;
    game.pid.store(pid, std::memory_order_release);
    log_line("watching game process %lu (%s); will exit when it exits", pid, how);
    return 1;
}

int find_game_process(void) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return 0;
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof entry;
    if (!Process32FirstW(snapshot, &entry)) {
        CloseHandle(snapshot);
        return 0;
    }
    DWORD first_name_match = 0;
    bool have_name_match = false;
    do {
        if (!is_candidate(entry.szExeFile)) continue;
        // Recorded before the path query, so a game we may not inspect still counts.
        if (!have_name_match) {
            have_name_match = true;
            first_name_match = entry.th32ProcessID;
        }
        if (!runs_from_game_dir(entry.th32ProcessID) || entry.th32ProcessID == 0) continue;
        CloseHandle(snapshot);
        return attach_game_process(entry.th32ProcessID, "found by name and folder");
    } while (Process32NextW(snapshot, &entry));
    CloseHandle(snapshot);
    return have_name_match ? attach_game_process(first_name_match, "found by name") : 0;
}

void reset_game_process(void) { renew(game); }

void attach_game_for_tests(DWORD pid, HANDLE process) {
    game.process = process;
    game.pid.store(pid, std::memory_order_release);
}
