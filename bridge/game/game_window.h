// Game window queries, without state: is the game's window in front, and which top-level window
// is the game's main window. game_window_in_front runs on the main thread and on the hook
// thread; find_game_window on the main thread (the hang watchdog).
#pragma once
#include <windows.h>

bool game_window_in_front(void);
HWND find_game_window(DWORD pid);

