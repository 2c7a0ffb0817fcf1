// Hang watchdog: tests the game's main window every 2 s, announces a hang that lasts
// hang_seconds, and writes at most two minidumps of the game a run. Owns the watchdog state.
// Main thread only; the run calls check_game_hang on its 2-second hang tick.
#pragma once
#include <windows.h>

void check_game_hang(void);
bool write_hang_dump(void);

// Tests only: replacements for the OS answers a test cannot arrange; NULL fields use the system.
struct hang_seams {
    UINT (*get_system_directory)(wchar_t* buf, UINT size);
    void (*get_local_time)(SYSTEMTIME* out);
    // Replaces MiniDumpWriteDump after it was found in dbghelp.
    BOOL (*write_dump)(HANDLE process, DWORD pid, HANDLE file);
};
void set_hang_seams(const hang_seams* seams);
// Back to the start state (tests only).
void reset_hang_watchdog(void);
