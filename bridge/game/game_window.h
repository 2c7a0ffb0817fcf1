// Game window queries, without state: is the game's window in front, and which top-level window
// is the game's main window. game_window_in_front runs on the main thread and on the hook
// thread; find_game_window on the main thread (the hang watchdog).
#pragma once
#include <windows.h>

// Class name of the game's main window; compared exactly.
extern const wchar_t game_window_class[];  // L"UnrealWindow"

bool game_window_in_front(void);
HWND find_game_window(DWORD pid);

struct window_pick {
    DWORD pid;
    HWND chosen;
};
BOOL CALLBACK game_window_enum_proc(HWND window, LPARAM pick);

// Tests only: the answer game_window_in_front gives instead of asking the system; NULL asks.
// A function, so a test can change the answer while another thread asks.
void set_front_window_query(bool (*query)(void));
