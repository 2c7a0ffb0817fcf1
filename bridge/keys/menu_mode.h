// Settings-menu mode: while menu_open is set the hook swallows the menu keys with the game in
// front, and every swallowed key goes to cmd.txt. Owns the main-thread state of the mode (the
// opening and closing, the confirmation and delayed removal of the hook, menu_state.txt polling
// and the three failsafes) and drains menu_key_ring. Main thread only; the run calls the five
// steps every pass while a game is attached, in the order declared below, after poll_hotkeys.
#pragma once
#include <windows.h>
#include <stdint.h>
#include <atomic>

// Shared with the hook procedure, which only reads them (acquire); whole 32-bit words.
extern std::atomic<LONG> menu_open;        // written here (and cleared by the run at shutdown)
extern std::atomic<LONG> hook_generation;  // starts at 1; raised with fetch_add by each failsafe
extern uint64_t last_key_activity;         // main thread only; the hotkey poller sets it too
// The 32-bit tick of the main loop's last pass: the main thread stores it (release) at every
// pass, the hook procedure loads it (acquire) to tell a loop that stands still.
extern std::atomic<uint32_t> loop_pass_tick;

// reason is only logged. Opening is refused (and logged) without a hook thread or after the
// hook was found unavailable; closing leaves the hook installed for remove_idle_hook.
void open_menu_mode(const char* reason);
void close_menu_mode(const char* reason);
// Closes the mode, makes the hook forget what it swallowed, and tells the mod with "MenuOff".
void menu_failsafe(const char* reason);

// The run, at loop start and then first thing in every pass: publishes now as loop_pass_tick,
// and after a stall in which the hook let menu keys through, logs how long the loop stood
// still and how many presses went to the game.
void note_loop_pass(uint64_t now);

void drain_menu_keys(void);
void check_hook_arming(void);
void remove_idle_hook(void);
void poll_menu_state(void);
void check_menu_failsafes(void);

// Name written to cmd.txt for a menu_key_code; "" for any other code.
const char* menu_key_name(int code);

// Back to the start state (tests only).
void reset_menu_mode(void);
