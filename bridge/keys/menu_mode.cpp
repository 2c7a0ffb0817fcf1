// Settings-menu mode on the main thread. The mode itself is menu_open; the hook thread installs
// a new hook on each MSG_HOOK_ARM and this module confirms it through hook_installed (cleared
// before each arming, so a flag left from an older hook confirms nothing), gives up after 700 ms,
// and removes the hook 1500 ms after a close (until then the hook still swallows the rest of
// presses it swallowed before, and nothing new). Three failsafes make sure the player's keyboard
// is never left captured: the game window away for more than 2 s, no key for 120 s, or the mod
// not touching menu_state.txt for 5 s. While the menu is open, a hook that Windows removed is
// noticed and installed again by a silent arming; one that cannot be reinstalled closes the menu
// the same way.
//
//   state                  menu_open  arm_pending  reinstall_waiting  hook_unavailable  hook
//   Closed                     0           0               0                 0           none
//   Closed, hook lingering     0           0               0                 0           installed
//   Arming                     1           1               0                 0           requested
//   Open                       1           0               0                 0           installed
//   Reinstalling               1       1 (silent)          0                 0           requested again
//   Reinstall waiting          1           0               1                 0           none, or a late one
//   Unavailable                0           0               0                 1           none, or a late one
// (menu_closed_at is the close, or the give-up, while a hook may linger; 0 once it was removed.)
//
//                 F2 / mod "1"                   hook_installed: "Armed"
//   Closed -------------------------> Arming ---------------------------> Open
//     ^                                 |                                   |
//     | more than 1500 ms after         | hook failed or 700 ms: "NoHook"   | F2, F4, Escape, Backspace,
//     | the close: DISARM posted,       v                                   | mod "0"; a failsafe
//     | "keyboard hook removed"     Unavailable (final: every opening       | also writes "MenuOff"
//     |                             is refused, and "NoHook" written        | (from Arming and both
//     |                             again; a hook installed late is         | Reinstalling states too)
//     |                             removed as after a close)               |
//   Closed, hook lingering <------------------------------------------------+
//
//           a menu key pressed that the hook never counted: silent ARM (at most every 2 s)
//   Open ------------------------------------------------------------------------> Reinstalling
//        <--- hook_installed: "keyboard hook reinstalled (Windows had removed it)", nothing written
//   Reinstalling --- hook failed or 700 ms, tries 1 and 2 in a row ---> Reinstall waiting
//   Reinstall waiting --- hook_installed (late) ---> Open, as a reinstall
//   Reinstall waiting --- 2 s after the last try: silent ARM ---> Reinstalling
//   Reinstalling --- hook failed or 700 ms, try 3 in a row: a failsafe, "MenuOff" ---> Closed
// Keys pass to the game while a reinstall waits, as they did while the hook was gone. Nothing
// here makes the hook unavailable: the next opening arms afresh.
//
// Without a hook thread every opening is refused as in Unavailable. A mod "1" within 600 ms of
// a refused opening is the mod following that F2, already told: it is taken and refuses nothing
// again, so one refused opening writes one "NoHook".
// An opening while the hook lingers installs a new hook too; "Armed" follows that install.
// Elapsed times use ticks_since, which counts a clock going backwards as no time at all.
#include "keys/menu_mode.h"
#include <string.h>
#include "game/game_window.h"
#include "keys/command_file.h"
#include "keys/hook_thread.h"
#include "keys/menu_keys.h"
#include "run/clock.h"
#include "run/log.h"
#include "run/seams.h"
#include "run/settings.h"
#include "run/state.h"
#include "run/text.h"

namespace {
constexpr uint64_t kArmGiveUpMs = 700;
constexpr uint64_t kHookLingerMs = 1500;
constexpr uint64_t kStatePollMs = 100;
// A mod "1" this soon after a close or a refused opening is the mod catching up with it, not a
// new opening.
constexpr uint64_t kReopenQuietMs = 600;
constexpr uint64_t kWindowAwayMs = 2000;
constexpr uint64_t kNoActivityMs = 120000;
constexpr uint64_t kModSilentMs = 5000;
// menu_state.txt is one short line; only its first 47 bytes are read.
constexpr int kStateBytes = 47;
constexpr int kMenuKeysLogged = 60;
// Numbers this large mean nothing; they stop growing instead of overflowing.
constexpr long kStateNumberCap = 100000000;
// A menu key seen pressed has this long to show in the hook's count: the hook procedure runs
// before the key state changes, but one that Windows found slow may finish late.
constexpr uint64_t kHookCountGraceMs = 300;
constexpr uint64_t kReinstallEveryMs = 2000;
constexpr int kReinstallsLogged = 10;
// Reinstalls in a row that failed or went unconfirmed before the menu is closed.
constexpr int kReinstallTries = 3;

// ---- Mode state. The three shared words go to the hook procedure as the header says; every
// other field is main-thread only.
struct mode_state {
    std::atomic<LONG> menu_open{0};
    std::atomic<LONG> hook_generation{kFirstHookGeneration};
    std::atomic<uint32_t> loop_pass_tick{0};
    uint64_t last_key_activity = 0;
    wchar_t menu_state_path[kPathCap] = {};
    bool hook_unavailable = false;  // final: the install of an opening failed or timed out
    bool arm_pending = false;
    bool arm_silent = false;  // the pending arming replaces a hook that Windows removed
    uint64_t arm_requested_at = 0;
    uint64_t menu_opened_at = 0;
    uint64_t not_in_front_since = 0;  // 0 while the game is in front
    uint64_t menu_closed_at = 0;      // 0 once the hook after that close was removed
    uint64_t refused_at = 0;          // the last refused opening; 0 before any
    uint64_t menu_state_polled_at = 0;
    char menu_state_last[kStateBytes + 1] = {};
    bool menu_state_baseline_seen = false;
    uint64_t menu_state_changed_at = 0;
    int menu_keys_logged = 0;
    uint64_t last_pass_at = 0;   // 0 before the loop's first pass
    uint64_t last_stall_ms = 0;  // the last gap between passes longer than kLoopStallMs
    LONG presses_reported = 0;   // presses_let_through as of the last stall line
    // The watch for a hook that Windows removed; it starts afresh (primed) at each confirmed hook.
    bool drop_watch_primed = false;
    bool menu_key_was_down[kMenuKeyCount] = {};
    LONG downs_at_last_pass = 0;   // hook_menu_downs as read at the watch's last pass
    uint64_t unseen_press_at = 0;  // 0 unless a press is waiting to show in the hook's count
    LONG unseen_press_downs = 0;   // the count it waits to see move
    bool hook_drop_noticed = false;
    uint64_t last_reinstall_at = 0;  // the last try of a reinstall; 0 before the first
    int reinstalls = 0;
    int reinstall_failures = 0;      // failed or unconfirmed tries in a row since the opening
    bool reinstall_waiting = false;  // a try failed: the next is due kReinstallEveryMs after it
    int failed_reinstalls = 0;       // all failed tries, for the log's limit
};
constinit mode_state mode;

// A mod "1" within kReopenQuietMs of at (a close, or a refused opening; 0: none) follows it.
bool just_ended(uint64_t now, uint64_t at) { return at != 0 && ticks_since(now, at) <= kReopenQuietMs; }

// White space, an optional sign, then digits up to the first non-digit; no digits give 0.
long read_state_number(const char* text) {
    while (*text == ' ' || (*text >= '\t' && *text <= '\r')) text++;
    bool negative = false;
    if (*text == '+' || *text == '-') negative = *text++ == '-';
    long value = 0;
    for (; *text >= '0' && *text <= '9'; text++)
        if (value < kStateNumberCap) value = value * 10 + (*text - '0');
    return negative ? -value : value;
}

void post_to_hook_thread(UINT message, WPARAM wparam) {
    DWORD thread = hook_thread_id.load(std::memory_order_acquire);
    // Not checked: a lost arming ends in the 700 ms give-up, a lost removal leaves a hook that
    // swallows nothing new.
    if (thread) PostThreadMessageW(thread, message, wparam, 0);
}

// Only an install made for this request confirms it, so both flags start clear.
void request_arming(uint64_t now, bool silent) {
    mode.arm_pending = true;
    mode.arm_silent = silent;
    mode.arm_requested_at = now;
    prepare_arming();
    post_to_hook_thread(MSG_HOOK_ARM, silent ? 1 : 0);
}
}  // namespace

const std::atomic<LONG>& menu_open = mode.menu_open;
const std::atomic<LONG>& hook_generation = mode.hook_generation;
const std::atomic<uint32_t>& loop_pass_tick = mode.loop_pass_tick;
const uint64_t& last_key_activity = mode.last_key_activity;

// The main thread is menu_open's only writer, so its own reads need no order.
bool menu_is_open(void) { return mode.menu_open.load(std::memory_order_relaxed) != 0; }

bool menu_mode_available(void) { return !mode.hook_unavailable && hook_thread_id.load(std::memory_order_acquire) != 0; }

void open_menu_mode(const char* reason) {
    const uint64_t t = tick_now();
    if (menu_is_open()) return;
    if (!menu_mode_available()) {
        log_line("settings menu opened (%s): no keyboard hook available, keys are not swallowed", reason);
        // Every time: a mod that asks again is told again that its menu cannot take the keys.
        write_command("NoHook", tick_now32());
        mode.refused_at = t;
        return;
    }
    mode.menu_open.store(1, std::memory_order_release);
    mode.menu_opened_at = t;
    mode.last_key_activity = t;
    mode.not_in_front_since = 0;
    mode.hook_drop_noticed = false;
    mode.reinstall_failures = 0;
    mode.reinstall_waiting = false;
    request_arming(t, false);
    log_line("settings menu open (%s): swallowing Up/Down/Left/Right/Enter/Space/Escape/Backspace while the game "
             "is in front",
             reason);
}

void close_menu_mode(const char* reason) {
    const uint64_t t = tick_now();
    if (!menu_is_open()) return;
    mode.menu_open.store(0, std::memory_order_release);
    mode.menu_closed_at = t;
    mode.arm_pending = false;
    mode.reinstall_waiting = false;
    mode.hook_drop_noticed = false;
    log_line("settings menu closed (%s): keys pass to the game again", reason);
}

void note_menu_key_activity(uint64_t now) {
    if (menu_is_open()) mode.last_key_activity = now;
}

void prepare_menu_state(void) { format_wide(mode.menu_state_path, kPathCap, L"%ls\\menu_state.txt", exe_dir); }

void end_menu_mode(void) { mode.menu_open.store(0, std::memory_order_release); }

void note_loop_pass(uint64_t now) {
    const uint64_t gap = mode.last_pass_at ? ticks_since(now, mode.last_pass_at) : 0;
    mode.last_pass_at = now;
    mode.loop_pass_tick.store((uint32_t)now, std::memory_order_release);
    if (gap > kLoopStallMs) mode.last_stall_ms = gap;
    const LONG let_through = presses_let_through.load(std::memory_order_acquire);
    if (let_through == mode.presses_reported) return;
    // A press let through just as the loop came back is reported with the stall before it.
    log_line("main loop stood still for %llu ms; %ld menu key presses went to the game meanwhile",
             (unsigned long long)mode.last_stall_ms, (long)(let_through - mode.presses_reported));
    mode.presses_reported = let_through;
}

namespace {
// Closes the mode, makes the hook forget what it swallowed, and tells the mod with "MenuOff".
void menu_failsafe(const char* reason) {
    mode.hook_generation.fetch_add(1, std::memory_order_release);
    close_menu_mode(reason);
    log_line("FAILSAFE: %s -> menu flag cleared, nothing swallowed any more", reason);
    write_command("MenuOff", tick_now32());
}

// Everything queued is written, also keys behind an Escape that closed the mode.
void drain_menu_keys(uint64_t now) {
    menu_key_event event;
    while (pop_menu_key(&event)) {
        const menu_key* key = menu_key_of_code(event.code);
        if (!key) continue;
        write_command(key->name, event.tick);
        mode.last_key_activity = now;
        if (mode.menu_keys_logged < kMenuKeysLogged) log_line("menu key %s -> cmd.txt (swallowed)", key->name);
        mode.menu_keys_logged++;
        if (key->closes_menu) close_menu_mode(key->name);
    }
}

// A reinstall that failed or went unconfirmed is never final: the menu stays open, its keys
// pass to the game while the hook is gone, and the next try is due kReinstallEveryMs after this
// one; after kReinstallTries in a row the menu closes as by a failsafe, and the next opening
// arms afresh.
void reinstall_failed(DWORD error) {
    mode.reinstall_failures++;
    if (mode.failed_reinstalls < kReinstallsLogged)
        log_line("keyboard hook could not be reinstalled (error %lu, try %d of %d)", error, mode.reinstall_failures,
                 kReinstallTries);
    mode.failed_reinstalls++;
    if (mode.reinstall_failures >= kReinstallTries)
        menu_failsafe("keyboard hook could not be reinstalled");
    else
        mode.reinstall_waiting = true;
}

void check_hook_arming(uint64_t now) {
    if (!mode.arm_pending && !mode.reinstall_waiting) return;
    // Also while a failed reinstall waits: a confirmation that came late still counts.
    if (hook_installed.load(std::memory_order_acquire)) {
        mode.arm_pending = false;
        mode.reinstall_waiting = false;
        if (mode.arm_silent) {
            // The mod's menu never knew the hook was gone: nothing for cmd.txt.
            if (mode.reinstalls < kReinstallsLogged) log_line("keyboard hook reinstalled (Windows had removed it)");
            mode.reinstalls++;
            mode.reinstall_failures = 0;
        } else {
            write_command("Armed", tick_now32());
            log_line("keyboard hook installed");
        }
        return;
    }
    if (mode.reinstall_waiting) {
        if (ticks_since(now, mode.last_reinstall_at) < kReinstallEveryMs) return;
        mode.reinstall_waiting = false;
        mode.last_reinstall_at = now;
        request_arming(now, true);
        return;
    }
    const bool failed = hook_install_failed.load(std::memory_order_acquire) != 0;
    if (!failed && ticks_since(now, mode.arm_requested_at) <= kArmGiveUpMs) return;
    // The hook thread's own error when SetWindowsHookExW failed; ERROR_TIMEOUT when it never
    // answered.
    const DWORD error = failed ? hook_install_error.load(std::memory_order_acquire) : (DWORD)ERROR_TIMEOUT;
    mode.arm_pending = false;
    if (mode.arm_silent) {
        reinstall_failed(error);
        return;
    }
    mode.hook_unavailable = true;
    mode.menu_open.store(0, std::memory_order_release);
    // A hook that the thread still installs after this is removed like that of any close.
    mode.menu_closed_at = now;
    log_line("keyboard hook could not be installed (error %lu); settings menu runs without swallowing", error);
    write_command("NoHook", tick_now32());
}

// Reads the menu keys' state and the hook's count; sets mode.hook_drop_noticed when a press did not
// show in the count within the grace. The count is read before the key states: a press that the
// states show has by then been counted by a live hook, unless its procedure is late. A key that
// the live hook swallows may not show in the states at all, and needs no count. Only menu keys
// are read, so the mouse plays no part.
void notice_removed_hook(uint64_t now) {
    const LONG downs = hook_menu_downs.load(std::memory_order_acquire);
    bool pressed = false;
    for (int i = 0; i < kMenuKeyCount; i++) {
        const SHORT state = read_key_state(kMenuKeys[i].vk);
        const bool down = (state & 0x8000) != 0;
        // A rising edge, or bit 0 for a tap between two passes; a key held when the watch began
        // counts from its next press.
        if (mode.drop_watch_primed && !mode.menu_key_was_down[i] && (down || (state & 0x0001))) pressed = true;
        mode.menu_key_was_down[i] = down;
    }
    if (!mode.drop_watch_primed) {
        mode.drop_watch_primed = true;
        mode.unseen_press_at = 0;
    } else if (mode.unseen_press_at == 0) {
        if (pressed && downs == mode.downs_at_last_pass) {
            mode.unseen_press_at = now;
            mode.unseen_press_downs = downs;
        }
    } else if (downs != mode.unseen_press_downs) {
        mode.unseen_press_at = 0;
    } else if (ticks_since(now, mode.unseen_press_at) > kHookCountGraceMs) {
        mode.unseen_press_at = 0;
        mode.hook_drop_noticed = true;
    }
    mode.downs_at_last_pass = downs;
}

// While the menu is open on a confirmed hook: a hook that Windows removed is installed again,
// at most every 2 s.
void watch_for_removed_hook(uint64_t now) {
    if (!menu_is_open() || mode.arm_pending || !hook_installed.load(std::memory_order_acquire)) {
        mode.drop_watch_primed = false;
        return;
    }
    if (!mode.hook_drop_noticed) notice_removed_hook(now);
    if (!mode.hook_drop_noticed) return;
    if (mode.last_reinstall_at != 0 && ticks_since(now, mode.last_reinstall_at) < kReinstallEveryMs) return;
    mode.hook_drop_noticed = false;
    mode.last_reinstall_at = now;
    request_arming(now, true);
}

void remove_idle_hook(uint64_t now) {
    if (menu_is_open()) return;
    if (!hook_installed.load(std::memory_order_acquire) || hook_thread_id.load(std::memory_order_acquire) == 0 ||
        mode.menu_closed_at == 0)
        return;
    if (ticks_since(now, mode.menu_closed_at) <= kHookLingerMs) return;
    post_to_hook_thread(MSG_HOOK_DISARM, 0);
    log_line("keyboard hook removed");
    mode.menu_closed_at = 0;
}

void poll_menu_state(uint64_t now) {
    if (ticks_since(now, mode.menu_state_polled_at) < kStatePollMs) return;
    mode.menu_state_polled_at = now;
    HANDLE file = CreateFileW(mode.menu_state_path, GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    // Not logged: a missing or locked file is the mod's business, and the 5 s failsafe covers a
    // mod that stays silent; a line per 100 ms would bury the log.
    if (file == INVALID_HANDLE_VALUE) return;
    char text[kStateBytes + 1];
    memset(text, 0, sizeof text);
    DWORD got = 0;
    if (!ReadFile(file, text, kStateBytes, &got, NULL)) got = 0;
    CloseHandle(file);
    if (got < 3) return;
    text[got] = 0;
    text[strcspn(text, "\r\n")] = 0;
    if (!strcmp(text, mode.menu_state_last)) return;
    memcpy(mode.menu_state_last, text, sizeof mode.menu_state_last);
    // The first text seen may be left over from before this run; only changes are heard.
    if (!mode.menu_state_baseline_seen) {
        mode.menu_state_baseline_seen = true;
        return;
    }
    mode.menu_state_changed_at = now;
    const char* space = strchr(text, ' ');
    if (!space) return;
    const long number = read_state_number(space + 1);
    if (number == 1) {
        // The mod following a refused F2 was told with that refusal's "NoHook".
        if (!menu_is_open() && !just_ended(now, mode.menu_closed_at) && !just_ended(now, mode.refused_at))
            open_menu_mode("opened by the Lua mod");
    } else if (number == 0) {
        close_menu_mode("Lua closed the menu");
    }
}

// The failsafes' reasons give their limits in whole seconds.
static_assert(kWindowAwayMs % 1000 == 0 && kNoActivityMs % 1000 == 0 && kModSilentMs % 1000 == 0,
              "failsafe limits are whole seconds");
constexpr int kReasonBytes = 96;
unsigned long long seconds(uint64_t ms) { return (unsigned long long)(ms / 1000); }

// In this order; each failsafe clears menu_open, so at most one fires in a pass.
void check_menu_failsafes(uint64_t now) {
    if (!menu_is_open()) return;
    char reason[kReasonBytes];
    if (game_window_in_front()) {
        mode.not_in_front_since = 0;
    } else if (mode.not_in_front_since == 0) {
        mode.not_in_front_since = now;
    } else if (ticks_since(now, mode.not_in_front_since) > kWindowAwayMs) {
        format_narrow(reason, sizeof reason, "game window not in front for more than %llu s", seconds(kWindowAwayMs));
        menu_failsafe(reason);
    }
    if (menu_is_open() && ticks_since(now, mode.last_key_activity) > kNoActivityMs) {
        format_narrow(reason, sizeof reason, "no key activity for %llu s", seconds(kNoActivityMs));
        menu_failsafe(reason);
    }
    if (menu_is_open()) {
        const uint64_t heard =
            mode.menu_opened_at > mode.menu_state_changed_at ? mode.menu_opened_at : mode.menu_state_changed_at;
        if (ticks_since(now, heard) > kModSilentMs) {
            format_narrow(reason, sizeof reason, "the Lua mod does not answer (no menu_state.txt update for %llu s)",
                          seconds(kModSilentMs));
            menu_failsafe(reason);
        }
    }
}
}  // namespace

void run_menu_steps(uint64_t now) {
    drain_menu_keys(now);
    check_hook_arming(now);
    watch_for_removed_hook(now);
    remove_idle_hook(now);
    poll_menu_state(now);
    check_menu_failsafes(now);
}

void reset_menu_mode(void) { renew(mode); }

void stand_in_menu_flags(LONG open, bool raise_generation) {
    if (raise_generation) mode.hook_generation.fetch_add(1, std::memory_order_release);
    mode.menu_open.store(open, std::memory_order_release);
}
