// Hotkey poller: samples F1 to F7 every pass while a game is attached and forwards each new
// press to cmd.txt when the game is in front and no modifier is held; F2 toggles and F4 closes
// settings-menu mode. The keys are only observed, never swallowed. Owns the per-key state, the
// two counters and the key-state query. Main thread only (the hook thread also reads keys
// through read_key_state when it seeds its tables).
#pragma once
#include <windows.h>

extern int hotkeys_forwarded;  // presses written to cmd.txt
extern int hotkeys_ignored;    // accepted presses not written (not in front, or a modifier held)

// Run once per pass, first among the key and menu steps.
void poll_hotkeys(void);

// Back to the start state (tests only).
void reset_hotkeys(void);
