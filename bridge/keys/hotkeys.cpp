#include "keys/hotkeys.h"
int hotkeys_forwarded = 0;
int hotkeys_ignored = 0;
void poll_hotkeys(void) {}
SHORT read_key_state(int vk) { return GetAsyncKeyState(vk); }
void set_key_state_query(SHORT (*)(int)) {}
void reset_hotkeys(void) {}
