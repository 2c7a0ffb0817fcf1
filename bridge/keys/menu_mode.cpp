#include "keys/menu_mode.h"
std::atomic<LONG> menu_open{0};
std::atomic<LONG> hook_generation{1};
uint64_t last_key_activity = 0;
void open_menu_mode(const char*) {}
void close_menu_mode(const char*) {}
void menu_failsafe(const char*) {}
void drain_menu_keys(void) {}
void check_hook_arming(void) {}
void remove_idle_hook(void) {}
void poll_menu_state(void) {}
void check_menu_failsafes(void) {}
const char* menu_key_name(int) { return ""; }
void reset_menu_mode(void) {}
