// Game process tracking: attaches the game by --pid or finds it by executable name and folder.
// Owns game_pid and game_process, each written once by attach_game_process and never cleared.
// Main thread only, except that the hook thread reads game_pid (through game_window_in_front).
// Called by the run at start-up and every 2 s while no game is attached.
#pragma once
#include <windows.h>
#include <atomic>

// The watched game's id, 0 while none: stored once (release) by attach_game_process on the main
// thread, before any settings-menu mode can start; loaded (acquire) on the main thread and by the
// hook thread's foreground test.
extern const std::atomic<DWORD>& game_pid;
// The watched game; NULL while none is attached. Main thread only: the run waits on it and ends
// when it ends, the line protocol and the hang watchdog ask whether a game is attached.
extern HANDLE const& game_process;

// how: "--pid", "found by name and folder" or "found by name". Returns 1 when now attached.
int attach_game_process(DWORD pid, const char* how);
// Searches the process list; returns the result of the one attach it makes, or 0.
int find_game_process(void);

// Tests only: detaches without closing anything (reset_bridge_state, and tests that detach).
void reset_game_process(void);
// Tests only: attaches pid and process as given, unchecked and unlogged (a pseudo-handle, an id
// that names no process).
void attach_game_for_tests(DWORD pid, HANDLE process);
