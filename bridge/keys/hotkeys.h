// Hotkey poller: samples F1 to F7 every pass while a game is attached and forwards each new
// press to cmd.txt when the game is in front and no modifier is held; F2 toggles and F4 closes
// settings-menu mode. Owns the per-key state and the two counters. Main thread only.
#pragma once
#include <windows.h>

extern int hotkeys_forwarded;
extern int hotkeys_ignored;

void poll_hotkeys(void);

// The key state query used here and for seeding the hook's tables; GetAsyncKeyState unless a
// test installs its own (NULL restores it).
SHORT read_key_state(int vk);
void set_key_state_query(SHORT (*query)(int vk));

// Back to the start state (tests only).
void reset_hotkeys(void);
