// Settings-menu mode: while menu_open is set the hook swallows the menu keys with the game in
// front, and every swallowed key goes to cmd.txt. Owns the main-thread state of the mode (the
// opening and closing, the confirmation, reinstall (and its retries) and delayed removal of the
// hook, menu_state.txt and its path, the failsafes, the main loop's pass tick) and drains the
// hook thread's ring. Main thread only: the run calls prepare_menu_state at start-up,
// note_loop_pass and, while a game is attached, run_menu_steps on every pass, and end_menu_mode
// at shutdown; the hotkey poller opens, closes and reports key activity.
#pragma once
#include <windows.h>
#include <stdint.h>
#include <atomic>

// Shared with the hook procedure, whole 32-bit words written on the main thread only, here.
// Stored with release; loaded by the hook procedure with acquire, by the main thread itself
// with relaxed order.
extern const std::atomic<LONG>& menu_open;
constexpr LONG kFirstHookGeneration = 1;
// Starts at kFirstHookGeneration; raised by each failsafe (fetch_add, release); loaded by the hook procedure
// (acquire), which then forgets what it swallowed.
extern const std::atomic<LONG>& hook_generation;
// The 32-bit tick of the main loop's last pass: stored here (release) at every pass, loaded by
// the hook procedure (acquire) to tell a loop that stands still.
extern const std::atomic<uint32_t>& loop_pass_tick;

// Tests only: the last opening, forwarded hotkey while open, or menu key written.
extern const uint64_t& last_key_activity;

// Start-up, with cmd.txt: composes menu_state_path from exe_dir.
void prepare_menu_state(void);
// Shutdown, before the hook thread is stopped: clears menu_open, unlogged, so that the hook
// swallows nothing new while it is removed.
void end_menu_mode(void);

// reason is only logged. Opening is refused without a hook thread or after the hook of an opening
// could not be installed: logged, and "NoHook" written each time (a mod "1" that follows a
// refused opening within 600 ms is no new opening); closing leaves the hook installed for a
// while, for the rest of presses it swallowed.
void open_menu_mode(const char* reason);
void close_menu_mode(const char* reason);
// menu_open as the main thread reads it.
bool menu_is_open(void);
// False while an opening would be refused.
bool menu_mode_available(void);
// A hotkey was forwarded at now: while the mode is open, that is key activity.
void note_menu_key_activity(uint64_t now);

// The run, at loop start and then first thing in every pass: publishes now as loop_pass_tick,
// and after a stall in which the hook let menu keys through, logs how long the loop stood
// still and how many presses went to the game.
void note_loop_pass(uint64_t now);
// The mode's steps of one pass, in this order: forward the swallowed keys, confirm or give up
// the hook (a reinstall: try again, or close the menu after 3 failed tries), install again a hook
// that Windows removed, remove an idle hook, read menu_state.txt, and the failsafes.
void run_menu_steps(uint64_t now);

// Tests only: back to the start state (reset_bridge_state).
void reset_menu_mode(void);
// Tests only: the flags as the hook procedure reads them, for a test that drives the procedure
// alone: menu_open set to open, after the generation was raised as a failsafe raises it.
void stand_in_menu_flags(LONG open, bool raise_generation);
