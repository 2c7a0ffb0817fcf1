// The hook thread sleeps in GetMessageW. Windows calls keyboard_hook_proc on this thread, inside
// that wait, for every keystroke on the desktop while the hook is installed, so the procedure
// must be quick and must never block: table look-ups, one foreground query while the menu is
// open, and a lock-free ring push. It writes no log and no file; what it swallows reaches the
// main thread through menu_key_ring only. MSG_HOOK_ARM handling and the procedure both run on
// this thread and never at the same time, so the key tables need no synchronisation.
//
// Hook lifecycle:   none --ARM (install, clear, seed)--> installed --DISARM or QUIT--> none
//                   installed --ARM (install a new one, then remove the old)--> installed
//                   installed or none --ARM, the install fails (the old one removed too)--> none
// Windows removes a hook without notice when its procedure misses LowLevelHooksTimeout, and only
// a new install brings it back; so every ARM installs, and the new hook is in place before the old
// one goes, so that no key slips between them. An ARM is confirming (wParam 0: the menu opens) or
// silent (wParam 1: settings-menu mode noticed a removed hook while the menu is open, by menu keys
// pressed that hook_menu_downs never counted). A silent ARM always seeds the tables afresh: keys
// passed unseen while the hook was gone, so a release it missed would leave a modifier held or a
// swallowed press open, and Windows does not promise that the removed hook's handle stops
// unhooking. A confirming ARM keeps the tables of an old hook that was still installed (the rest
// of its swallowed presses stays swallowed) and seeds those of one that no longer unhooks.
//
// Start-up handover: the run waits a bounded time for the thread, and a thread may become ready
// after that wait gave up. Both sides swap hook_handover out of "waiting" with one
// compare-exchange; whoever swaps first decides. A thread that lost ends without serving, and
// hook_thread_id is published by the run only for a thread that won. The thread signals its own
// duplicate of the ready event, so it never touches a handle the run may have closed.
#include "keys/hook_thread.h"
#include <string.h>
#include "game/game_window.h"
#include "keys/menu_keys.h"
#include "keys/menu_mode.h"
#include "run/clock.h"
#include "run/log.h"
#include "run/seams.h"
#include "run/state.h"

// The two threads share only whole, lock-free 32-bit words.
static_assert(sizeof(std::atomic<LONG>) == 4 && sizeof(std::atomic<DWORD>) == 4 && sizeof(std::atomic<int32_t>) == 4,
              "shared words are 32-bit");
static_assert(std::atomic<LONG>::is_always_lock_free && std::atomic<int32_t>::is_always_lock_free,
              "shared words need no lock");

namespace {
enum : LONG { kHandoverWaiting = 0, kHandoverReady = 1, kHandoverAbandoned = 2 };
constexpr int kKeyCodes = 256;

struct menu_key_ring {
    menu_key_event slots[kRingSlots] = {};
    // The writer stores its index with release after its slot work; the other side loads it
    // with acquire before touching a slot.
    std::atomic<int32_t> head{0};  // next slot to fill; written by the hook procedure only
    std::atomic<int32_t> tail{0};  // next slot to read; written by the main thread only
};

// ---- Hook state. The shared words go to the main thread as the header says, under the names
// below; this module uses its fields directly, the hook procedure above all.
struct hook_state {
    std::atomic<DWORD> thread_id{0};
    std::atomic<LONG> installed{0};
    std::atomic<LONG> install_failed{0};
    std::atomic<DWORD> install_error{0};
    std::atomic<LONG> presses_let_through{0};
    std::atomic<LONG> menu_downs{0};
    menu_key_ring ring;
    // Start-up handover: both threads compare-exchange it out of kHandoverWaiting (acq_rel).
    std::atomic<LONG> handover{kHandoverWaiting};
    // Main thread: kept until shutdown, also for a thread that was given up.
    HANDLE thread = NULL;
    // Hook thread only; the main thread never touches these.
    HHOOK handle = NULL;
    // 1: the key-down that began the current press was swallowed, so the rest of it is too.
    uint8_t swallowed_down[kKeyCodes] = {};
    // 1: the menu key is down as far as the hook has seen (or was down at arming).
    uint8_t menu_key_down[kKeyCodes] = {};
    // 1: the modifier is down as far as the hook has seen (or was down at arming).
    uint8_t modifier_down[kKeyCodes] = {};
    LONG seen_generation = kFirstHookGeneration;
};
constinit hook_state hook;

// Held modifiers keep a fresh press from being swallowed: Shift, Ctrl and Alt in their generic,
// left and right codes, both Windows keys, and the screen reader's own Insert and Caps Lock. In
// the order they are seeded.
const int kModifierKeys[] = {VK_SHIFT,    VK_CONTROL,  VK_MENU,  VK_LSHIFT, VK_RSHIFT,
                             VK_LCONTROL, VK_RCONTROL, VK_LMENU, VK_RMENU,  VK_LWIN,
                             VK_RWIN,     VK_INSERT,   VK_CAPITAL};

bool is_tracked_modifier(DWORD vk) {
    for (int key : kModifierKeys)
        if ((DWORD)key == vk) return true;
    return false;
}

// Seeding sets the generic Shift, Ctrl and Alt entries, but low-level events carry only the
// left and right codes, so on each release the generic entry follows its two sides; otherwise
// a Shift held at arming would keep every menu key from being swallowed until the next arming.
void settle_generic_modifier(DWORD vk) {
    switch (vk) {
    case VK_LSHIFT:
    case VK_RSHIFT:
        hook.modifier_down[VK_SHIFT] = (uint8_t)(hook.modifier_down[VK_LSHIFT] | hook.modifier_down[VK_RSHIFT]);
        break;
    case VK_LCONTROL:
    case VK_RCONTROL:
        hook.modifier_down[VK_CONTROL] = (uint8_t)(hook.modifier_down[VK_LCONTROL] | hook.modifier_down[VK_RCONTROL]);
        break;
    case VK_LMENU:
    case VK_RMENU:
        hook.modifier_down[VK_MENU] = (uint8_t)(hook.modifier_down[VK_LMENU] | hook.modifier_down[VK_RMENU]);
        break;
    default:
        break;
    }
}

struct key_verdict {
    bool swallow;
    uint8_t queue_code;  // menu_key_code to hand to the main thread, 0 for none
    bool let_through;    // a fresh press passed only because the main loop stood still
};

// The decision for one key event (vk below 256), given whether the menu is active (open and the
// game in front) and for how long the main loop has not passed (read only for a key-down in an
// active menu, else 0). Updates the key tables; touches nothing else.
key_verdict judge_key_event(DWORD vk, bool down, bool injected, bool active, int32_t loop_quiet_ms) {
    const key_verdict pass = {false, 0, false};
    if (is_tracked_modifier(vk)) {
        // Modifiers are only watched, never swallowed.
        if (!injected) {
            hook.modifier_down[vk] = down ? 1 : 0;
            if (!down) settle_generic_modifier(vk);
        }
        return pass;
    }
    const int code = menu_key_code_of(vk);
    if (code == 0 || injected) return pass;
    if (!down) {
        hook.menu_key_down[vk] = 0;
        if (!hook.swallowed_down[vk]) return pass;
        hook.swallowed_down[vk] = 0;
        return {true, 0, false};
    }
    const bool was_down = hook.menu_key_down[vk] != 0;
    hook.menu_key_down[vk] = 1;
    if (hook.swallowed_down[vk]) {
        // The rest of a swallowed press stays swallowed, so the game never sees half a press.
        const bool queue = active && menu_key_of_code(code)->arrow && loop_quiet_ms <= (int32_t)kLoopRecentMs;
        return {true, (uint8_t)(queue ? code : 0), false};
    }
    if (!active || any_modifier_down() || was_down) return pass;
    // Nobody would forward it, so the press is the game's, whole.
    if (loop_quiet_ms > (int32_t)kLoopStallMs) return {false, 0, true};
    hook.swallowed_down[vk] = 1;
    return {true, (uint8_t)code, false};
}

// How long ago the main loop's last pass was. The tick is read after the pass tick, and the
// difference is signed, so a pass published meanwhile counts as none ago.
int32_t main_loop_quiet_ms(void) {
    const uint32_t last_pass = loop_pass_tick.load(std::memory_order_acquire);
    return (int32_t)(tick_now32() - last_pass);
}

// No key event is handled between the install and the removal or the seeding: the procedure runs
// only while this thread waits for messages. silent: the new hook replaces one that settings-menu
// mode found gone.
void arm_hook(bool silent) {
    const HHOOK old = hook.handle;
    const HHOOK fresh = SetWindowsHookExW(WH_KEYBOARD_LL, keyboard_hook_proc, GetModuleHandleW(NULL), 0);
    if (!fresh) {
        const DWORD error = GetLastError();
        // Settings-menu mode gives up the hook on this failure; an old one would only linger.
        if (old) UnhookWindowsHookEx(old);
        hook.handle = NULL;
        hook.installed.store(0, std::memory_order_release);
        hook.install_error.store(error, std::memory_order_release);
        hook.install_failed.store(1, std::memory_order_release);
        return;
    }
    hook.handle = fresh;
    // An old handle that no longer unhooks is one that Windows had removed. One that still
    // unhooks proves nothing after keys went past unseen: a silent arming always seeds.
    const bool old_was_installed = old && UnhookWindowsHookEx(old);
    if (silent || !old_was_installed) seed_hook_tables();
    hook.installed.store(1, std::memory_order_release);
    hook.install_failed.store(0, std::memory_order_release);
}

void disarm_hook(void) {
    if (hook.handle) {
        UnhookWindowsHookEx(hook.handle);
        hook.handle = NULL;
    }
    hook.installed.store(0, std::memory_order_release);
}
}  // namespace

const std::atomic<DWORD>& hook_thread_id = hook.thread_id;
const std::atomic<LONG>& hook_installed = hook.installed;
const std::atomic<LONG>& hook_install_failed = hook.install_failed;
const std::atomic<DWORD>& hook_install_error = hook.install_error;
const std::atomic<LONG>& presses_let_through = hook.presses_let_through;
const std::atomic<LONG>& hook_menu_downs = hook.menu_downs;

void prepare_arming(void) {
    hook.installed.store(0, std::memory_order_release);
    hook.install_failed.store(0, std::memory_order_release);
}

namespace {
// Thread entry; the parameter is the thread's own handle of the ready event, which it closes.
DWORD WINAPI hook_thread_main(LPVOID ready_event) {
    MSG msg;
    // Makes this thread's message queue before anyone posts to it.
    PeekMessageW(&msg, NULL, WM_USER, WM_USER, PM_NOREMOVE);
    // Every keystroke of the desktop waits for this thread while the hook is installed.
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST);
    seams.hook_thread_starting();
    LONG waiting = kHandoverWaiting;
    const bool wanted = hook.handover.compare_exchange_strong(waiting, kHandoverReady, std::memory_order_acq_rel);
    if (wanted) SetEvent((HANDLE)ready_event);
    CloseHandle((HANDLE)ready_event);
    // Too late: the run went on without a hook thread, and this one must not come to life.
    if (!wanted) return 0;
    // 0 (WM_QUIT) and -1 (failure) end the thread as MSG_HOOK_QUIT does.
    while (GetMessageW(&msg, NULL, 0, 0) > 0) {
        seams.hook_message(msg.message, hook.handle);
        if (msg.message == MSG_HOOK_ARM) {
            arm_hook(msg.wParam != 0);
        } else if (msg.message == MSG_HOOK_DISARM) {
            disarm_hook();
        } else if (msg.message == MSG_HOOK_QUIT) {
            break;
        }
    }
    disarm_hook();
    return 0;
}

}  // namespace

void start_hook_thread(DWORD wait_ms) {
    hook.thread_id.store(0, std::memory_order_release);
    hook.handover.store(kHandoverWaiting, std::memory_order_release);
    // The error logged is that of the call that failed, or ERROR_TIMEOUT for a wait that ran out.
    DWORD error = 0;
    HANDLE theirs = NULL;
    HANDLE ready = CreateEventW(NULL, TRUE, FALSE, NULL);
    if (!ready) error = GetLastError();
    if (ready && !DuplicateHandle(GetCurrentProcess(), ready, GetCurrentProcess(), &theirs, 0, FALSE,
                                  DUPLICATE_SAME_ACCESS)) {
        error = GetLastError();
        theirs = NULL;
    }
    DWORD id = 0;
    if (theirs) {
        hook.thread = CreateThread(NULL, 0, hook_thread_main, theirs, 0, &id);
        if (!hook.thread) {
            error = GetLastError();
            CloseHandle(theirs);
        }
    }
    if (hook.thread) {
        const DWORD waited = WaitForSingleObject(ready, wait_ms);
        if (waited == WAIT_FAILED)
            error = GetLastError();
        else if (waited != WAIT_OBJECT_0)
            error = ERROR_TIMEOUT;
    }
    LONG waiting = kHandoverWaiting;
    const bool given_up =
        !hook.thread || hook.handover.compare_exchange_strong(waiting, kHandoverAbandoned, std::memory_order_acq_rel);
    if (given_up) {
        log_line("hook thread: could not start (%lu); the settings menu will not swallow keys", error);
    } else {
        // Ready also when it won the handover just after the wait ran out: its queue exists.
        hook.thread_id.store(id, std::memory_order_release);
        log_line("hook thread ready (WH_KEYBOARD_LL is installed only while the settings menu is open)");
    }
    if (ready) CloseHandle(ready);
}

void stop_hook_thread(DWORD wait_ms) {
    const DWORD id = hook.thread_id.load(std::memory_order_acquire);
    if (id) {
        PostThreadMessageW(id, MSG_HOOK_QUIT, 0, 0);
        if (hook.thread) WaitForSingleObject(hook.thread, wait_ms);
    }
    if (hook.thread) CloseHandle(hook.thread);
    hook.thread = NULL;
    hook.thread_id.store(0, std::memory_order_release);
}

LRESULT CALLBACK keyboard_hook_proc(int code, WPARAM wparam, LPARAM lparam) {
    if (code != HC_ACTION) return CallNextHookEx(NULL, code, wparam, lparam);
    bool down;
    switch (wparam) {
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
        down = true;
        break;
    case WM_KEYUP:
    case WM_SYSKEYUP:
        down = false;
        break;
    default:
        return CallNextHookEx(NULL, code, wparam, lparam);
    }
    // A failsafe raised the generation: forget what was swallowed, so the repeats and releases
    // of keys held across it reach the game.
    const LONG generation = hook_generation.load(std::memory_order_acquire);
    if (generation != hook.seen_generation) {
        hook.seen_generation = generation;
        memset(hook.swallowed_down, 0, sizeof hook.swallowed_down);
    }
    // menu_open is read once; this event is judged by that value even if the main thread
    // changes it meanwhile.
    const bool active = menu_open.load(std::memory_order_acquire) != 0 && game_window_in_front();
    const KBDLLHOOKSTRUCT* event = reinterpret_cast<const KBDLLHOOKSTRUCT*>(lparam);
    if (event->vkCode >= (DWORD)kKeyCodes) return CallNextHookEx(NULL, code, wparam, lparam);
    const bool injected = (event->flags & LLKHF_INJECTED) != 0;
    // Injected ones too: they show in GetAsyncKeyState like any other.
    if (down && menu_key_code_of(event->vkCode))
        hook.menu_downs.store(hook.menu_downs.load(std::memory_order_relaxed) + 1, std::memory_order_release);
    // The loop's pass tick matters only for a key-down: a fresh press, or a repeat to queue.
    const int32_t quiet = active && down ? main_loop_quiet_ms() : 0;
    const key_verdict verdict = judge_key_event(event->vkCode, down, injected, active, quiet);
    if (verdict.let_through) hook.presses_let_through.fetch_add(1, std::memory_order_release);
    if (!verdict.swallow) return CallNextHookEx(NULL, code, wparam, lparam);
    // A full ring loses the event, but the key stays swallowed: it reaches neither side.
    if (verdict.queue_code) push_menu_key(verdict.queue_code);
    return 1;
}

bool any_modifier_down(void) {
    for (int key : kModifierKeys)
        if (hook.modifier_down[key]) return true;
    return false;
}

bool push_menu_key(uint8_t code) {
    const int32_t head = hook.ring.head.load(std::memory_order_relaxed);
    const int32_t next = (head + 1) % kRingSlots;
    // Acquire: the consumer has finished reading the slot it gave back.
    if (next == hook.ring.tail.load(std::memory_order_acquire)) return false;
    hook.ring.slots[head].code = code;
    hook.ring.slots[head].tick = tick_now32();
    // Release: the slot is complete before the consumer can see the new head.
    hook.ring.head.store(next, std::memory_order_release);
    return true;
}

bool pop_menu_key(menu_key_event* out) {
    const int32_t tail = hook.ring.tail.load(std::memory_order_relaxed);
    if (tail == hook.ring.head.load(std::memory_order_acquire)) return false;
    *out = hook.ring.slots[tail];
    // Release: the slot is read completely before the producer may fill it again.
    hook.ring.tail.store((tail + 1) % kRingSlots, std::memory_order_release);
    return true;
}

void seed_hook_tables(void) {
    memset(hook.swallowed_down, 0, sizeof hook.swallowed_down);
    memset(hook.menu_key_down, 0, sizeof hook.menu_key_down);
    memset(hook.modifier_down, 0, sizeof hook.modifier_down);
    hook.seen_generation = hook_generation.load(std::memory_order_acquire);
    for (int key : kModifierKeys)
        if (read_key_state(key) & 0x8000) hook.modifier_down[key] = 1;
    for (const menu_key& key : kMenuKeys)
        if (read_key_state(key.vk) & 0x8000) hook.menu_key_down[key.vk] = 1;
}

void reset_hook_state(void) { renew(hook); }

void stand_in_hook_thread(DWORD thread_id, LONG installed, DWORD install_error) {
    hook.thread_id.store(thread_id, std::memory_order_release);
    hook.installed.store(installed, std::memory_order_release);
    hook.install_error.store(install_error, std::memory_order_release);
    hook.install_failed.store(install_error != 0 ? 1 : 0, std::memory_order_release);
}
