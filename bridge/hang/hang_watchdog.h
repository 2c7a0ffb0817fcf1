// Hang watchdog: tests the game's main window every 2 s, announces a hang that lasts
// hang_seconds, and writes at most two minidumps of the game a run. Owns the watchdog state
// (the watched window, when the current hang began, whether it was announced, the dump count
// and when the last attempt ended) and the test seams below.
// Main thread only; the run calls check_game_hang on its 2-second hang tick while a game is
// attached, and the dump is written synchronously inside that call.
#pragma once
#include <windows.h>

void check_game_hang(void);
// One dump attempt of game_pid into dump_dir; true when a dump file was written. Loads
// dbghelp.dll from the system folder for the attempt and frees it again.
bool write_hang_dump(void);

// Tests only: replacements for the OS answers a test cannot arrange; NULL fields use the system.
struct hang_seams {
    // Replaces GetSystemDirectoryW, the folder dbghelp.dll is loaded from.
    UINT (*get_system_directory)(wchar_t* buf, UINT size);
    // Replaces GetLocalTime, which names the dump file.
    void (*get_local_time)(SYSTEMTIME* out);
    // Replaces MiniDumpWriteDump after it was found in dbghelp; gets the dump type it would.
    BOOL (*write_dump)(HANDLE process, DWORD pid, HANDLE file, DWORD type);
    // Replaces IsHungAppWindow: the system's verdict follows real time, a test's clock is fake.
    BOOL (*is_hung)(HWND window);
};
// Copies the table; NULL puts every call back to the system's.
void set_hang_seams(const hang_seams* seams);
// Back to the start state, with no seams (tests only).
void reset_hang_watchdog(void);
