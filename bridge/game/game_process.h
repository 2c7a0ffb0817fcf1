// Game process tracking: attaches the game by --pid or finds it by executable name and folder.
// Owns game_pid and game_process, each written once by attach_game_process and never cleared.
// Main thread only, except that the hook thread reads game_pid (through game_window_in_front).
// Called by the run at start-up and every 2 s while no game is attached.
#pragma once
#include <windows.h>
#include <atomic>

// Written once, before any settings-menu mode can start; read on both threads.
extern std::atomic<DWORD> game_pid;
// The watched game; NULL while none is attached. The run waits on it and ends when it ends.
extern HANDLE game_process;

// how: "--pid", "found by name and folder" or "found by name". Returns 1 when now attached.
int attach_game_process(DWORD pid, const char* how);
// Searches the process list; returns the result of the one attach it makes, or 0.
int find_game_process(void);

// Detaches without closing anything (reset_bridge_state, and tests that detach).
void reset_game_process(void);
