// Hotkey poller: samples F1 to F7 every pass while a game is attached and forwards each new
// press to cmd.txt when the game is in front and no modifier is held; F2 toggles and F4 closes
// settings-menu mode. The keys are only observed, never swallowed. Owns the hotkey table, the
// per-key state and the two counters. Main thread only.
#pragma once
#include <windows.h>

// Counted here; read by the run for its closing line.
extern const int& hotkeys_forwarded;  // presses written to cmd.txt
extern const int& hotkeys_ignored;    // accepted presses not written (not in front, or a modifier held)

// Start-up: logs which keys are polled.
void start_hotkey_polling(void);
// Run once per pass, first among the key and menu steps.
void poll_hotkeys(void);

// Tests only: back to the start state (reset_bridge_state).
void reset_hotkeys(void);
