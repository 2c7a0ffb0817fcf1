// Game window queries, without state: is the game's window in front, and which top-level window
// is the game's main window. game_window_in_front runs on the main thread and on the hook
// thread; find_game_window on the main thread (the hang watchdog).
#pragma once
#include <windows.h>

// The foreground window belongs to game_pid or has the game's window class; asks seams.
bool game_window_in_front(void);
// The real foreground test, as the seam table holds it.
bool foreground_is_game(void);
HWND find_game_window(DWORD pid);

