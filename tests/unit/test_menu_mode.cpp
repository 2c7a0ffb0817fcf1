// Settings-menu mode driven through its main-loop steps with a controlled clock: opening,
// confirming and giving up on the hook, reinstalling it, the delayed removal, draining the ring,
// menu_state.txt and the failsafes. The test thread stands in for the hook thread, so the messages
// posted to it can be read back.
#include "unit.h"
#include <string.h>
#include <wchar.h>
#include "game/game_window.h"
#include "keys/command_file.h"
#include "keys/hook_thread.h"
#include "keys/menu_keys.h"
#include "keys/menu_mode.h"
#include "run/seams.h"
#include "run/clock.h"
#include "run/log.h"
#include "run/settings.h"

namespace {
std::wstring dir;
bool front = true;
bool front_query(void) { return front; }
SHORT held[256];
SHORT held_query(int vk) { return held[vk & 0xFF]; }
// Past the 32-bit wrap, so cmd.txt ticks are the low half.
constexpr uint64_t kStart = 0x100000000ULL + 1000000;

std::string posted(void) {
    std::string out;
    MSG msg;
    while (PeekMessageW(&msg, NULL, MSG_HOOK_ARM, MSG_HOOK_QUIT, PM_REMOVE)) {
        if (!out.empty()) out += " ";
        out += msg.message == MSG_HOOK_ARM ? (msg.wParam ? "ARM silent" : "ARM")
               : msg.message == MSG_HOOK_DISARM ? "DISARM"
                                                : "QUIT";
    }
    return out;
}

// Also a second time in a case.
void begin(void) {
    reset_bridge_state();
    dir = unit_begin_log();
    create_command_file();
    prepare_menu_state();
    front = true;
    seams.game_window_in_front = front_query;
    memset(held, 0, sizeof held);
    seams.key_state = held_query;
    unit_fake_clock_install(kStart);
    MSG msg;
    PeekMessageW(&msg, NULL, WM_USER, WM_USER, PM_NOREMOVE);
    posted();
    stand_in_hook_thread(GetCurrentThreadId(), 0, 0);
}

// Takes the messages posted to this thread, which stands in for the hook thread.
void end(void) { posted(); }

// The hook thread's answer to an arming: a hook installed (1) or not (0), or a failure with error.
void hook_reports(LONG installed, DWORD error = 0) { stand_in_hook_thread(GetCurrentThreadId(), installed, error); }

std::string cmd(void) { return unit_read_file(dir + L"\\cmd.txt"); }
// The names in cmd.txt, space-separated.
std::string cmd_names(void) { return unit_cmd_names(dir + L"\\cmd.txt"); }
std::string log_text(void) { return unit_log(); }
int logged(const std::string& message) { return unit_logged(message); }

void mod_writes(const std::string& text) { unit_write_file(dir + L"\\menu_state.txt", text); }

// One main-loop pass of the mode's steps, ms after the previous one.
void pass(uint64_t ms) {
    unit_fake_clock_advance(ms);
    run_menu_steps(unit_fake_clock_now());
}

// Mode open with the hook confirmed and the mod's baseline taken.
void open_and_armed(void) {
    mod_writes("menu 0 0");
    pass(100);
    open_menu_mode("F2");
    hook_reports(1);
    pass(20);
    posted();
}

const char kOpenF2[] =
    "settings menu open (F2): swallowing Up/Down/Left/Right/Enter/Space/Escape/Backspace while the game is in front";
const char kModSilent[] = "the Lua mod does not answer (no menu_state.txt update for 5 s)";
}  // namespace

TEST(opening_posts_the_arming_and_the_confirmation_writes_armed) {
    begin();
    // Flags left from an older hook confirm nothing.
    hook_reports(1, 1428);
    open_menu_mode("F2");
    CHECK_EQ(menu_open.load(), 1L);
    CHECK_EQ(posted(), std::string("ARM"));
    CHECK_EQ(hook_install_failed.load(), 0L);
    CHECK_EQ(hook_installed.load(), 0L);
    CHECK_EQ(logged(kOpenF2), 1);
    open_menu_mode("F2");
    CHECK_EQ(posted(), std::string(""));
    CHECK_EQ(logged(kOpenF2), 1);
    pass(20);
    CHECK_EQ(cmd(), std::string(""));
    hook_reports(1);
    pass(0);
    CHECK_EQ(cmd(), "key Armed " + std::to_string(tick_now32()) + "\n");
    CHECK_EQ(logged("keyboard hook installed"), 1);
    pass(20);
    CHECK_EQ(cmd_names(), std::string("Armed"));
    end();
}

TEST(each_refused_opening_is_told_once) {
    begin();
    stand_in_hook_thread(0, 0, 0);
    mod_writes("menu 0 0");
    pass(100);
    // F2, and the mod's "1" that follows it within 600 ms: one refused opening.
    open_menu_mode("F2");
    mod_writes("menu 1 1");
    pass(500);
    mod_writes("menu 0 2");
    pass(100);
    CHECK_EQ(menu_open.load(), 0L);
    CHECK_EQ(logged("settings menu opened (F2): no keyboard hook available, keys are not swallowed"), 1);
    CHECK_EQ(cmd(), "key NoHook " + std::to_string(tick_now32() - 600) + "\n");
    // Later ones are told again, each: the mod's own, and every F2.
    pass(1000);
    mod_writes("menu 1 3");
    pass(100);
    CHECK_EQ(logged("settings menu opened (opened by the Lua mod): no keyboard hook available, keys are not swallowed"),
             1);
    pass(1000);
    open_menu_mode("F2");
    open_menu_mode("F2");
    CHECK_EQ(menu_open.load(), 0L);
    CHECK_EQ(logged("settings menu opened (F2): no keyboard hook available, keys are not swallowed"), 3);
    CHECK_EQ(cmd_names(), std::string("NoHook NoHook NoHook NoHook"));
    end();
}

TEST(a_failed_installation_makes_the_hook_unavailable_for_the_rest_of_the_run) {
    begin();
    open_menu_mode("F2");
    pass(20);
    hook_reports(0, 1428);
    pass(20);
    CHECK_EQ(menu_open.load(), 0L);
    CHECK_EQ(logged("keyboard hook could not be installed (error 1428); settings menu runs without swallowing"), 1);
    CHECK_EQ(cmd_names(), std::string("NoHook"));
    // Given up, not closed: no closing line, no generation change.
    CHECK_EQ(unit_count(log_text(), "settings menu closed"), 0);
    CHECK_EQ(hook_generation.load(), 1L);
    CHECK_EQ(posted(), std::string("ARM"));
    // Every later opening is refused, each with its line.
    open_menu_mode("F2");
    open_menu_mode("F2");
    CHECK_EQ(menu_open.load(), 0L);
    CHECK_EQ(posted(), std::string(""));
    CHECK_EQ(logged("settings menu opened (F2): no keyboard hook available, keys are not swallowed"), 2);
    pass(20);
    CHECK_EQ(cmd_names(), std::string("NoHook NoHook NoHook"));
    end();
}

TEST(an_unconfirmed_arming_gives_up_after_700_ms) {
    begin();
    open_menu_mode("F2");
    pass(700);
    CHECK_EQ(menu_open.load(), 1L);
    CHECK_EQ(cmd(), std::string(""));
    pass(1);
    CHECK_EQ(menu_open.load(), 0L);
    CHECK_EQ(logged("keyboard hook could not be installed (error 1460); settings menu runs without swallowing"), 1);
    CHECK_EQ(cmd_names(), std::string("NoHook"));
    CHECK_EQ(posted(), std::string("ARM"));
    // The hook thread installs it after all: removed like after any close, once.
    pass(1000);
    hook_reports(1);
    pass(500);
    CHECK_EQ(posted(), std::string(""));
    pass(1);
    CHECK_EQ(posted(), std::string("DISARM"));
    CHECK_EQ(logged("keyboard hook removed"), 1);
    pass(3000);
    CHECK_EQ(posted(), std::string(""));
    CHECK_EQ(cmd_names(), std::string("NoHook"));
    end();
}

TEST(a_reinstall_that_fails_is_tried_again_and_never_makes_the_hook_unavailable) {
    begin();
    open_and_armed();
    int n = 0;
    // One pass, the mod answering.
    const auto answered = [&](uint64_t ms) {
        mod_writes("menu 1 " + std::to_string(++n));
        pass(ms);
    };
    // Up pressed without the hook counting it: noticed 300 ms on, and a silent arming asked.
    const auto hook_removed = [&] {
        held[VK_UP] = 0;
        answered(20);
        held[VK_UP] = (SHORT)0x8000;
        answered(20);
        answered(301);
        CHECK_EQ(posted(), std::string("ARM silent"));
    };
    answered(20);
    hook_removed();
    // Not confirmed in 700 ms, then confirmed late but before the next try: that is the reinstall.
    answered(700);
    answered(1);
    CHECK_EQ(logged("keyboard hook could not be reinstalled (error 1460, try 1 of 3)"), 1);
    CHECK_EQ(menu_open.load(), 1L);
    answered(1000);
    hook_reports(1);
    answered(20);
    CHECK_EQ(logged("keyboard hook reinstalled (Windows had removed it)"), 1);
    answered(1000);
    CHECK_EQ(posted(), std::string(""));

    // Removed again, and every try fails: the next one comes 2 s after the last, and the third
    // failure in a row closes the menu as a failsafe does.
    hook_removed();
    for (int attempt = 1; attempt <= 3; attempt++) {
        if (attempt > 1) {
            answered(1979);
            CHECK_EQ(posted(), std::string(""));
            answered(1);
            CHECK_EQ(posted(), std::string("ARM silent"));
        }
        CHECK_EQ(menu_open.load(), 1L);
        hook_reports(0, 1428);
        answered(20);
    }
    CHECK_EQ(logged("keyboard hook could not be reinstalled (error 1428, try 3 of 3)"), 1);
    CHECK_EQ(menu_open.load(), 0L);
    CHECK_EQ(logged("FAILSAFE: keyboard hook could not be reinstalled -> menu flag cleared, nothing swallowed any "
                    "more"),
             1);
    CHECK_EQ(hook_generation.load(), 2L);
    // Not final: the next opening arms afresh, and the mod was told only "MenuOff".
    CHECK(menu_mode_available());
    pass(1000);
    open_menu_mode("F2");
    CHECK_EQ(posted(), std::string("ARM"));
    hook_reports(1);
    pass(20);
    CHECK_EQ(cmd_names(), std::string("Armed MenuOff Armed"));
    end();
}

TEST(a_close_keeps_the_hook_1500_ms_and_then_removes_it_once) {
    begin();
    open_and_armed();
    close_menu_mode("Escape");
    CHECK_EQ(menu_open.load(), 0L);
    CHECK_EQ(logged("settings menu closed (Escape): keys pass to the game again"), 1);
    close_menu_mode("Escape");
    CHECK_EQ(logged("settings menu closed (Escape): keys pass to the game again"), 1);
    pass(1500);
    CHECK_EQ(posted(), std::string(""));
    pass(1);
    CHECK_EQ(posted(), std::string("DISARM"));
    CHECK_EQ(logged("keyboard hook removed"), 1);
    pass(5000);
    CHECK_EQ(posted(), std::string(""));
    CHECK_EQ(logged("keyboard hook removed"), 1);
    // No removal while the mode is open again, or without a hook installed.
    hook_reports(0);
    open_menu_mode("F2");
    close_menu_mode("F4");
    pass(2000);
    CHECK_EQ(posted(), std::string("ARM"));
    end();
}

TEST(reopening_while_the_hook_lingers_is_armed_by_the_new_install) {
    begin();
    open_and_armed();
    close_menu_mode("Escape");
    pass(1000);
    open_menu_mode("F2");
    pass(0);
    CHECK_EQ(cmd_names(), std::string("Armed"));
    CHECK_EQ(posted(), std::string("ARM"));
    hook_reports(1);
    pass(20);
    CHECK_EQ(cmd_names(), std::string("Armed Armed"));
    // The close that comes later starts its own 1500 ms.
    close_menu_mode("F2");
    pass(1000);
    CHECK_EQ(posted(), std::string(""));
    pass(501);
    CHECK_EQ(posted(), std::string("DISARM"));
    end();
}

TEST(drain_writes_every_key_with_its_tick_and_escape_or_backspace_closes) {
    begin();
    open_and_armed();
    const std::string armed = cmd();
    const uint32_t first = tick_now32();
    push_menu_key(unit_menu_key("Up"));
    unit_fake_clock_advance(30);
    push_menu_key(unit_menu_key("Enter"));
    push_menu_key(unit_menu_key("Escape"));
    push_menu_key(kMenuKeyCount + 1);  // no such key: skipped
    push_menu_key(unit_menu_key("Down"));
    pass(40);
    const std::string second = std::to_string(first + 30);
    CHECK_EQ(cmd(), armed + "key Up " + std::to_string(first) + "\nkey Enter " + second + "\nkey Escape " + second +
                        "\nkey Down " + second + "\n");
    CHECK_EQ(menu_open.load(), 0L);
    CHECK_EQ(logged("settings menu closed (Escape): keys pass to the game again"), 1);
    CHECK_EQ(logged("menu key Up -> cmd.txt (swallowed)"), 1);
    CHECK_EQ(logged("menu key Down -> cmd.txt (swallowed)"), 1);
    CHECK_EQ(unit_count(log_text(), "menu key "), 4);
    // Backspace closes too.
    pass(1000);
    open_menu_mode("F2");
    push_menu_key(unit_menu_key("Backspace"));
    pass(20);
    CHECK_EQ(logged("settings menu closed (Backspace): keys pass to the game again"), 1);
    end();
}

TEST(only_the_first_60_menu_keys_are_logged_but_all_are_written) {
    begin();
    open_and_armed();
    for (int batch = 0; batch < 3; batch++) {
        for (int i = 0; i < 30; i++) push_menu_key(unit_menu_key(i % 2 ? "Down" : "Up"));
        pass(20);
    }
    CHECK_EQ(unit_count(cmd(), "key "), 1 + 90);
    CHECK_EQ(unit_count(log_text(), "] menu key "), 60);
    end();
}

TEST(key_activity_and_mod_updates_hold_off_the_failsafes) {
    begin();
    open_and_armed();
    // The mod answers every second, keys come now and then: open for 200 s.
    int n = 0;
    for (int second = 0; second < 200; second++) {
        mod_writes("menu 1 " + std::to_string(++n));
        if (second % 100 == 50) push_menu_key(unit_menu_key("Left"));
        pass(500);
        pass(500);
    }
    CHECK_EQ(menu_open.load(), 1L);
    CHECK_EQ(cmd_names(), std::string("Armed Left Left"));
    // Without keys: closed a little more than 120 s after the last one.
    push_menu_key(unit_menu_key("Right"));
    pass(100);
    const uint64_t last_key = unit_fake_clock_now();
    while (menu_open.load() && unit_fake_clock_now() - last_key < 200000) {
        if ((unit_fake_clock_now() - last_key) % 1000 == 0) mod_writes("menu 1 " + std::to_string(++n));
        pass(100);
    }
    CHECK_EQ(unit_fake_clock_now() - last_key, 120100ull);
    CHECK_EQ(logged("settings menu closed (no key activity for 120 s): keys pass to the game again"), 1);
    CHECK_EQ(logged("FAILSAFE: no key activity for 120 s -> menu flag cleared, nothing swallowed any more"), 1);
    CHECK_EQ(cmd_names(), std::string("Armed Left Left Right MenuOff"));
    CHECK_EQ(hook_generation.load(), 2L);
    end();
}

TEST(a_silent_mod_closes_the_mode_after_5_s) {
    begin();
    open_and_armed();
    pass(4980);  // 5000 ms after the opening
    CHECK_EQ(menu_open.load(), 1L);
    pass(1);
    CHECK_EQ(menu_open.load(), 0L);
    CHECK_EQ(logged(std::string("settings menu closed (") + kModSilent + "): keys pass to the game again"), 1);
    CHECK_EQ(logged(std::string("FAILSAFE: ") + kModSilent + " -> menu flag cleared, nothing swallowed any more"), 1);
    CHECK_EQ(cmd_names(), std::string("Armed MenuOff"));
    CHECK_EQ(hook_generation.load(), 2L);
    // A mod update counts from its change, not from the opening.
    pass(1000);
    open_menu_mode("F2");
    hook_reports(1);
    pass(3000);
    mod_writes("menu 1 7");
    pass(100);
    pass(4900);
    CHECK_EQ(menu_open.load(), 1L);
    pass(101);
    CHECK_EQ(menu_open.load(), 0L);
    CHECK_EQ(hook_generation.load(), 3L);
    end();
}

TEST(the_game_window_away_for_more_than_2_s_closes_the_mode) {
    begin();
    open_and_armed();
    int n = 0;
    // Away for 2 s at most, twice: kept.
    for (int round = 0; round < 2; round++) {
        front = false;
        for (int i = 0; i < 20; i++) {
            if (i % 5 == 0) mod_writes("menu 1 " + std::to_string(++n));
            pass(100);
        }
        front = true;
        pass(100);
    }
    CHECK_EQ(menu_open.load(), 1L);
    front = false;
    pass(100);  // first seen away
    pass(2000);
    CHECK_EQ(menu_open.load(), 1L);
    pass(1);
    CHECK_EQ(menu_open.load(), 0L);
    CHECK_EQ(logged("FAILSAFE: game window not in front for more than 2 s -> menu flag cleared, nothing swallowed any "
                    "more"),
             1);
    CHECK_EQ(cmd_names(), std::string("Armed MenuOff"));
    end();
}

TEST(at_most_one_failsafe_fires_in_a_pass) {
    begin();
    open_and_armed();
    front = false;
    pass(20);
    // All three are due at once: the window check is first and the only one.
    pass(200000);
    CHECK_EQ(menu_open.load(), 0L);
    CHECK_EQ(unit_count(log_text(), "FAILSAFE: "), 1);
    CHECK_EQ(logged("FAILSAFE: game window not in front for more than 2 s -> menu flag cleared, nothing swallowed any "
                    "more"),
             1);
    CHECK_EQ(cmd_names(), std::string("Armed MenuOff"));
    CHECK_EQ(hook_generation.load(), 2L);
    pass(20);
    CHECK_EQ(unit_count(log_text(), "FAILSAFE: "), 1);
    end();
}

TEST(the_first_menu_state_text_is_only_a_baseline) {
    begin();
    mod_writes("menu 1 5");
    pass(100);
    CHECK_EQ(menu_open.load(), 0L);
    // Written again unchanged: still nothing.
    mod_writes("menu 1 5");
    pass(100);
    CHECK_EQ(menu_open.load(), 0L);
    mod_writes("menu 1 6");
    pass(100);
    CHECK_EQ(menu_open.load(), 1L);
    CHECK_EQ(logged("settings menu open (opened by the Lua mod): swallowing Up/Down/Left/Right/Enter/Space/Escape/"
                    "Backspace while the game is in front"),
             1);
    mod_writes("menu 0 7");
    pass(100);
    CHECK_EQ(menu_open.load(), 0L);
    CHECK_EQ(logged("settings menu closed (Lua closed the menu): keys pass to the game again"), 1);
    end();
}

TEST(the_number_after_the_first_space_of_the_first_line_decides) {
    struct state_case {
        const char* text;
        int opens;  // from closed: 1 opens; from open: 0 closes, anything else keeps it open
    };
    const state_case cases[] = {
        {"menu 1", 1},          {"menu 01", 1},           {"menu +1", 1},      {"menu 1abc", 1},
        {"menu  \t1", 1},       {"menu 1\r\nmenu 0\n", 1}, {"m 1 9", 1},        {"menu 0", 0},
        {"menu abc", 0},        {"menu -0", 0},           {"menu ", 0},        {"menu 0\nmenu 1", 0},
        {"menu 2", 2},          {"menu -1", 2},           {"menu1", 2},        {"menu 1000000000000000000001", 2},
        {"menu 4294967297", 2}, {"menu -4294967295", 2},   {"menu\n 0", 2},     {"menu\r 1", 2},
    };
    for (const state_case& c : cases) {
        // From closed, long after the last close.
        begin();
        mod_writes("baseline");
        pass(100);
        mod_writes(c.text);
        pass(100);
        if (menu_open.load() != (c.opens == 1 ? 1L : 0L)) unit_fail(__FILE__, __LINE__, std::string("closed, ") + c.text);
        end();
        // From open.
        begin();
        open_and_armed();
        mod_writes(c.text);
        pass(100);
        if (menu_open.load() != (c.opens == 0 ? 0L : 1L)) unit_fail(__FILE__, __LINE__, std::string("open, ") + c.text);
        // Any change counts as the mod answering.
        pass(4950);
        if (menu_open.load() != (c.opens == 0 ? 0L : 1L)) unit_fail(__FILE__, __LINE__, std::string("held, ") + c.text);
        end();
    }
}

TEST(a_1_within_600_ms_of_a_close_is_taken_but_opens_nothing) {
    begin();
    open_and_armed();
    close_menu_mode("Escape");
    pass(500);
    mod_writes("menu 1 1");
    pass(100);
    CHECK_EQ(menu_open.load(), 0L);
    // The same text again later is no change.
    pass(1000);
    CHECK_EQ(menu_open.load(), 0L);
    mod_writes("menu 1 2");
    pass(100);
    CHECK_EQ(menu_open.load(), 1L);
    // Just past 600 ms is enough.
    close_menu_mode("F2");
    pass(501);
    mod_writes("menu 1 3");
    pass(100);
    CHECK_EQ(menu_open.load(), 1L);
    end();
}

TEST(menu_state_is_read_at_most_every_100_ms_and_only_from_3_bytes_on) {
    begin();
    mod_writes("menu 0 0");
    pass(100);
    open_menu_mode("F2");
    hook_reports(1);
    mod_writes("menu 0 1");
    pass(99);
    CHECK_EQ(menu_open.load(), 1L);
    pass(1);
    CHECK_EQ(menu_open.load(), 0L);
    // Shorter than 3 bytes, or missing: nothing read and no answer from the mod.
    pass(1000);
    open_menu_mode("F2");
    hook_reports(1);
    mod_writes("0\n");
    pass(100);
    CHECK_EQ(menu_open.load(), 1L);
    DeleteFileW((dir + L"\\menu_state.txt").c_str());
    pass(100);
    pass(4800);
    CHECK_EQ(menu_open.load(), 1L);
    pass(1);
    CHECK_EQ(menu_open.load(), 0L);
    CHECK_EQ(logged(std::string("FAILSAFE: ") + kModSilent + " -> menu flag cleared, nothing swallowed any more"), 1);
    // Only the first 47 bytes count: a change past them is no answer.
    std::string long_text = "menu 1 " + std::string(40, 'x');
    mod_writes(long_text + "a");
    pass(1000);
    CHECK_EQ(menu_open.load(), 1L);
    hook_reports(1);
    mod_writes(long_text + "b");
    pass(100);
    pass(4900);
    CHECK_EQ(menu_open.load(), 1L);
    pass(1);
    CHECK_EQ(menu_open.load(), 0L);
    end();
}
