// Keyboard hook thread: installs the WH_KEYBOARD_LL hook only while settings-menu mode needs it,
// swallows menu keys by the decision table in keyboard_hook_proc, and hands each swallowed key
// to the main thread through a ring. Owns the hook, its key tables and the ring (its producer
// side runs in the hook procedure, its consumer side, pop_menu_key, on the main thread). The run
// starts and stops the thread; settings-menu mode clears the install flags (prepare_arming),
// posts the messages, polls the flags below and drains the ring.
#pragma once
#include <windows.h>
#include <stdint.h>
#include <atomic>

// Install a new hook, then remove the old one; wParam 1 for a silent arming (a reinstall while
// the menu is open, which always seeds the tables), 0 for a confirming one (the menu opens).
constexpr UINT MSG_HOOK_ARM = WM_APP + 1;
constexpr UINT MSG_HOOK_DISARM = WM_APP + 2;  // remove the hook
constexpr UINT MSG_HOOK_QUIT = WM_APP + 3;    // remove the hook and end the thread

// A fresh press of a menu key goes to the game when the main loop's last pass is older than
// this: a loop that stands still (a frozen screen reader, a hang dump) can neither forward what
// is swallowed nor close the menu, and must not hold the keyboard meanwhile. Normal passes are
// at most 20 ms apart plus their steps.
constexpr uint32_t kLoopStallMs = 1000;
// Auto-repeats of a swallowed arrow are queued only while the last pass is this recent: those of
// a stall would all reach cmd.txt at once when the loop comes back, and the mod's cursor jump.
// They stay swallowed all the same.
constexpr uint32_t kLoopRecentMs = 100;

// Shared with the main thread: aligned 32-bit words, read and written whole. Every store is a
// release and every load on the other thread an acquire, so hook_install_error is complete by the
// time hook_install_failed is seen.
extern const std::atomic<DWORD>& hook_thread_id;      // main publishes once the thread is ready,
                                                      // clears at the end; settings-menu mode reads it
extern const std::atomic<LONG>& hook_installed;       // hook thread sets at each install, clears at
                                                      // removal; prepare_arming clears it
extern const std::atomic<LONG>& hook_install_failed;  // hook thread writes; prepare_arming clears it
extern const std::atomic<DWORD>& hook_install_error;  // hook thread writes before setting
                                                      // hook_install_failed
extern const std::atomic<LONG>& presses_let_through;  // hook procedure adds each press it let through
                                                      // for a stalled loop; main reads
extern const std::atomic<LONG>& hook_menu_downs;      // hook procedure adds every menu-key down it
                                                      // sees, injected or not; main reads to tell a
                                                      // hook that Windows removed

// Main thread, before each MSG_HOOK_ARM: clears hook_installed and hook_install_failed, so that
// only an install made for this arming confirms it.
void prepare_arming(void);

// One swallowed key on its way to the main thread.
struct menu_key_event {
    uint8_t code;   // menu_key_code 1..8
    uint32_t tick;  // 32-bit tick when the hook queued it
};
// Single producer (the hook procedure), single consumer (the main thread); one slot is kept
// free to tell full from empty, so at most 127 events wait.
constexpr int kRingSlots = 128;

// Main thread, at start-up: starts the thread and waits up to wait_ms for it to be ready, then
// logs the outcome. A thread that is not ready by then never serves: hook_thread_id stays 0 and
// settings-menu mode refuses to open.
void start_hook_thread(DWORD wait_ms);
// Main thread, at shutdown: asks the thread to remove the hook and end, waits up to wait_ms.
void stop_hook_thread(DWORD wait_ms);

// Exported for tests: the hook procedure, which the thread installs.
LRESULT CALLBACK keyboard_hook_proc(int code, WPARAM wparam, LPARAM lparam);
// Exported for tests: any of the 13 tracked modifiers (Shift, Ctrl, Alt in generic, left and
// right codes, both Windows keys, Insert, Caps Lock) down as far as the hook knows. Hook thread.
bool any_modifier_down(void);

// Exported for tests: the producer side (hook procedure); false when the ring is full and the
// event was dropped.
bool push_menu_key(uint8_t code);
// Consumer side (main thread); false when the ring is empty.
bool pop_menu_key(menu_key_event* out);

// Exported for tests: what MSG_HOOK_ARM does to the tables of a new hook that is silent or
// replaces no installed hook: clear all three, take the current generation, seed the modifiers
// and menu keys from read_key_state. Hook thread.
void seed_hook_tables(void);
// Tests only: empties the ring and the tables and clears the shared flags (reset_bridge_state).
void reset_hook_state(void);
// Tests only: the test's thread stands in for the hook thread: thread_id is published as its id
// (0: no hook thread), and the flags are left as an arming that installed a hook (installed 1)
// or none (0), or that failed with install_error (not 0).
void stand_in_hook_thread(DWORD thread_id, LONG installed, DWORD install_error);
