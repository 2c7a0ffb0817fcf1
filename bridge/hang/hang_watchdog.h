// Hang watchdog: tests the game's main window every 2 s, announces a hang that lasts
// hang_seconds, and writes at most two minidumps of the game a run. Owns the watchdog state
// (the watched window, when the current hang began, whether it was announced, the dump count
// and when the last attempt ended, and the dump call of the dbghelp loaded for an attempt).
// Main thread only; the run calls check_game_hang on its 2-second hang tick while a game is
// attached, and the dump is written synchronously inside that call.
#pragma once
#include <windows.h>

void check_game_hang(void);
// Exported for tests: one dump attempt of game_pid into dump_dir; true when a dump file was written. Loads
// dbghelp.dll from the system folder for the attempt and frees it again.
bool write_hang_dump(void);
// The real dump call, as the seam table holds it: MiniDumpWriteDump of the dbghelp that
// write_hang_dump loaded for its attempt.
BOOL write_found_dump(HANDLE process, DWORD pid, HANDLE file, DWORD type);

// Tests only: back to the start state (reset_bridge_state).
void reset_hang_watchdog(void);
