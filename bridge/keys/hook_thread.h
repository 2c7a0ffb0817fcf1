// Keyboard hook thread: installs the WH_KEYBOARD_LL hook only while settings-menu mode needs it,
// swallows menu keys by the decision table in keyboard_hook_proc, and hands each swallowed key
// to the main thread through menu_key_ring. Owns the hook, its key tables and the producer side
// of the ring; the run starts and stops the thread, settings-menu mode posts the messages and
// consumes the ring.
#pragma once
#include <windows.h>
#include <stdint.h>
#include <atomic>

constexpr UINT MSG_HOOK_ARM = WM_APP + 1;
constexpr UINT MSG_HOOK_DISARM = WM_APP + 2;
constexpr UINT MSG_HOOK_QUIT = WM_APP + 3;

// Shared with the main thread; whole 32-bit words, see hook_thread.cpp for the orderings.
extern std::atomic<DWORD> hook_thread_id;     // hook thread writes once; run clears
extern std::atomic<LONG> hook_installed;      // hook thread writes; main reads
extern std::atomic<LONG> hook_install_failed; // hook thread writes; main clears before arming

// One swallowed key on its way to the main thread.
struct menu_key_event {
    uint8_t code;   // menu_key_code 1..8
    uint32_t tick;  // GetTickCount when the hook queued it
};
constexpr int kRingSlots = 128;
struct menu_key_ring_t {
    menu_key_event slots[kRingSlots];
    std::atomic<int32_t> head;  // next slot to fill; hook thread only
    std::atomic<int32_t> tail;  // next slot to read; main thread only
};
extern menu_key_ring_t menu_key_ring;

DWORD WINAPI hook_thread_main(LPVOID ready_event);
LRESULT CALLBACK keyboard_hook_proc(int code, WPARAM wparam, LPARAM lparam);
bool any_modifier_down(void);

// Producer side (hook procedure); false when the ring is full and the event was dropped.
bool push_menu_key(uint8_t code);
// Consumer side (main thread); false when the ring is empty.
bool pop_menu_key(menu_key_event* out);

// Tests only: what MSG_HOOK_ARM does to the tables (clear and seed), without installing.
void seed_hook_tables(void);
// Tests only: empties the ring and the tables.
void reset_hook_state(void);
