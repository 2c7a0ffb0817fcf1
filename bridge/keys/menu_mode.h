// Settings-menu mode: while menu_open is set the hook swallows the menu keys with the game in
// front, and every swallowed key goes to cmd.txt. Owns the main-thread state of the mode, the
// consumer side of menu_key_ring, menu_state.txt polling and the three failsafes.
// Main thread only; the run calls the five steps every pass while a game is attached.
#pragma once
#include <windows.h>
#include <stdint.h>
#include <atomic>

extern std::atomic<LONG> menu_open;        // main thread writes; hook procedure reads
extern std::atomic<LONG> hook_generation;  // raised by each failsafe; hook procedure reads
extern uint64_t last_key_activity;         // main thread only; the hotkey poller sets it too

void open_menu_mode(const char* reason);
void close_menu_mode(const char* reason);
void menu_failsafe(const char* reason);

void drain_menu_keys(void);
void check_hook_arming(void);
void remove_idle_hook(void);
void poll_menu_state(void);
void check_menu_failsafes(void);

// Name written to cmd.txt for a menu_key_code; "" for any other code.
const char* menu_key_name(int code);

// Back to the start state (tests only).
void reset_menu_mode(void);
