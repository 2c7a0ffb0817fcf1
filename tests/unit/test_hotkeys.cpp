// The hotkey poller against a fake keyboard (bit 15 held, bit 0 pressed since the last read)
// and a controlled clock: edges, the per-key debounce, the modifier and foreground filters, the
// counters and their log cap, and F2/F4 steering settings-menu mode.
#include "unit.h"
#include <string.h>
#include <wchar.h>
#include "game/game_window.h"
#include "keys/command_file.h"
#include "keys/hook_thread.h"
#include "keys/hotkeys.h"
#include "keys/menu_mode.h"
#include "run/clock.h"
#include "run/log.h"
#include "run/seams.h"
#include "run/settings.h"

namespace {
std::wstring dir;
bool front = true;
bool front_query(void) { return front; }
bool key_down[256];
bool key_pressed[256];
int key_reads[256];

SHORT keyboard(int vk) {
    vk &= 0xFF;
    key_reads[vk]++;
    SHORT state = key_down[vk] ? (SHORT)0x8000 : 0;
    if (key_pressed[vk]) state = (SHORT)(state | 1);
    key_pressed[vk] = false;
    return state;
}
void press(int vk) { key_down[vk] = key_pressed[vk] = true; }
void release(int vk) { key_down[vk] = false; }
// Down and up again between two polls.
void tap(int vk) { key_pressed[vk] = true; }

void begin(void) {
    dir = unit_begin_log();
    create_command_file();
    memset(key_down, 0, sizeof key_down);
    memset(key_pressed, 0, sizeof key_pressed);
    memset(key_reads, 0, sizeof key_reads);
    seams.key_state = keyboard;
    front = true;
    seams.game_window_in_front = front_query;
    unit_fake_clock_install(5000000);
    MSG msg;
    PeekMessageW(&msg, NULL, WM_USER, WM_USER, PM_NOREMOVE);
    while (PeekMessageW(&msg, NULL, MSG_HOOK_ARM, MSG_HOOK_QUIT, PM_REMOVE)) {
    }
    stand_in_hook_thread(GetCurrentThreadId(), 0, 0);
}

void poll_after(uint64_t ms) {
    unit_fake_clock_advance(ms);
    poll_hotkeys();
}

std::string cmd(void) { return unit_read_file(dir + L"\\cmd.txt"); }
std::string cmd_names(void) { return unit_cmd_names(dir + L"\\cmd.txt"); }
std::string log_text(void) { return unit_log(); }
int logged(const std::string& message) { return unit_logged(message); }
size_t log_position(const std::string& message) { return log_text().find("] " + message + "\r\n"); }

const char kModifierReason[] = "modifier held (NVDA key / Ctrl / Alt / Shift)";
}  // namespace

TEST(a_held_key_is_one_press_and_pressing_again_after_300_ms_is_another) {
    begin();
    press(VK_F1);
    for (int i = 0; i < 100; i++) poll_after(20);
    CHECK_EQ(cmd_names(), std::string("F1"));
    CHECK_EQ(logged("key F1 pressed (#1) -> cmd.txt"), 1);
    release(VK_F1);
    poll_after(20);
    press(VK_F1);
    poll_after(20);
    release(VK_F1);
    poll_after(20);
    CHECK_EQ(cmd_names(), std::string("F1 F1"));
    CHECK_EQ(cmd(), "key F1 " + std::to_string((uint32_t)(5000000 + 20)) + "\nkey F1 " +
                        std::to_string((uint32_t)(5000000 + 2040)) + "\n");
    CHECK_EQ(hotkeys_forwarded, 2);
    CHECK_EQ(hotkeys_ignored, 0);
}

TEST(a_press_within_300_ms_of_the_accepted_one_is_dropped_silently) {
    begin();
    tap(VK_F5);
    poll_after(0);
    tap(VK_F5);
    poll_after(150);
    tap(VK_F5);
    poll_after(149);  // 299 ms after the first
    tap(VK_F5);
    poll_after(21);  // 320 ms
    CHECK_EQ(cmd_names(), std::string("F5 F5"));
    CHECK_EQ(unit_count(log_text(), "key F5 pressed"), 2);
    CHECK_EQ(hotkeys_forwarded, 2);
    CHECK_EQ(hotkeys_ignored, 0);
    // An ignored press also restarts the window.
    front = false;
    tap(VK_F5);
    poll_after(400);
    front = true;
    tap(VK_F5);
    poll_after(200);
    CHECK_EQ(hotkeys_ignored, 1);
    CHECK_EQ(hotkeys_forwarded, 2);
    tap(VK_F5);
    poll_after(100);
    CHECK_EQ(hotkeys_forwarded, 3);
}

TEST(keys_are_taken_in_table_order_and_do_not_debounce_each_other) {
    begin();
    tap(VK_F3);
    tap(VK_F1);
    poll_after(10);
    tap(VK_F7);
    tap(VK_F6);
    tap(VK_F5);
    poll_after(10);
    CHECK_EQ(cmd_names(), std::string("F1 F3 F5 F6 F7"));
    CHECK(log_position("key F1 pressed (#1) -> cmd.txt") < log_position("key F3 pressed (#2) -> cmd.txt"));
    CHECK_EQ(logged("key F7 pressed (#5) -> cmd.txt"), 1);
    // Keys other than F1 to F7 are not sampled.
    tap(VK_F8);
    tap('A');
    poll_after(400);
    CHECK_EQ(hotkeys_forwarded, 5);
    CHECK_EQ(key_reads[VK_F8] + key_reads['A'], 0);
}

TEST(modifiers_and_the_foreground_decide_between_forwarded_and_ignored) {
    begin();
    const int modifiers[] = {VK_CONTROL, VK_MENU, VK_SHIFT, VK_INSERT, VK_CAPITAL};
    for (int modifier : modifiers) {
        press(modifier);
        tap(VK_F1);
        poll_after(400);
        release(modifier);
    }
    CHECK_EQ(logged(std::string("key F1 pressed, ignored (") + kModifierReason + ")"), 5);
    CHECK_EQ(hotkeys_ignored, 5);
    // Another window in front: that reason, whatever is held.
    front = false;
    press(VK_SHIFT);
    tap(VK_F3);
    poll_after(400);
    release(VK_SHIFT);
    tap(VK_F3);
    poll_after(400);
    CHECK_EQ(logged("key F3 pressed, ignored (game window not in front)"), 2);
    CHECK_EQ(cmd(), std::string(""));
    // Windows keys do not count, nor does Caps Lock's toggle state.
    front = true;
    press(VK_LWIN);
    press(VK_RWIN);
    key_pressed[VK_CAPITAL] = true;
    tap(VK_F6);
    poll_after(400);
    CHECK_EQ(cmd_names(), std::string("F6"));
    CHECK_EQ(hotkeys_ignored, 7);
    CHECK_EQ(hotkeys_forwarded, 1);
}

TEST(only_the_first_20_ignored_presses_are_logged_but_all_counted) {
    begin();
    front = false;
    for (int i = 0; i < 25; i++) {
        tap(VK_F7);
        poll_after(300);
    }
    CHECK_EQ(hotkeys_ignored, 25);
    CHECK_EQ(unit_count(log_text(), "key F7 pressed, ignored"), 20);
}

TEST(idle_passes_read_the_seven_keys_and_nothing_else) {
    begin();
    for (int i = 0; i < 50; i++) poll_after(20);
    int other = 0;
    for (int vk = 0; vk < 256; vk++)
        if (vk < VK_F1 || vk > VK_F7) other += key_reads[vk];
    CHECK_EQ(other, 0);
    CHECK_EQ(key_reads[VK_F1], 50);
    CHECK_EQ(key_reads[VK_F7], 50);
}

TEST(f2_toggles_the_menu_and_f4_closes_it_before_their_lines_are_written) {
    begin();
    tap(VK_F2);
    poll_after(10);
    CHECK_EQ(menu_open.load(), 1L);
    CHECK_EQ(last_key_activity, (uint64_t)5000010);
    const size_t forwarded = log_position("key F2 pressed (#1) -> cmd.txt");
    const size_t opened = log_position(
        "settings menu open (F2): swallowing Up/Down/Left/Right/Enter/Space/Escape/Backspace while the game is in front");
    CHECK(forwarded != std::string::npos && opened != std::string::npos && forwarded < opened);
    MSG msg;
    CHECK(PeekMessageW(&msg, NULL, MSG_HOOK_ARM, MSG_HOOK_ARM, PM_REMOVE));
    CHECK_EQ(cmd_names(), std::string("F2"));
    // A forwarded key while open restarts the activity time.
    tap(VK_F1);
    poll_after(1000);
    CHECK_EQ(last_key_activity, (uint64_t)5001010);
    tap(VK_F2);
    poll_after(400);
    CHECK_EQ(menu_open.load(), 0L);
    CHECK_EQ(logged("settings menu closed (F2): keys pass to the game again"), 1);
    // Closed: forwarded keys leave the activity time alone.
    tap(VK_F1);
    poll_after(400);
    CHECK_EQ(last_key_activity, (uint64_t)5001010);
    tap(VK_F4);
    poll_after(400);
    CHECK_EQ(unit_count(log_text(), "settings menu closed"), 1);
    tap(VK_F2);
    poll_after(400);
    tap(VK_F4);
    poll_after(400);
    CHECK_EQ(menu_open.load(), 0L);
    CHECK_EQ(logged("settings menu closed (F4): keys pass to the game again"), 1);
    CHECK_EQ(cmd_names(), std::string("F2 F1 F2 F1 F4 F2 F4"));
}

TEST(f2_without_a_hook_is_refused_but_still_written) {
    begin();
    stand_in_hook_thread(0, 0, 0);
    tap(VK_F2);
    poll_after(10);
    CHECK_EQ(menu_open.load(), 0L);
    CHECK_EQ(logged("settings menu opened (F2): no keyboard hook available, keys are not swallowed"), 1);
    CHECK_EQ(cmd_names(), std::string("F2 NoHook"));
    CHECK_EQ(hotkeys_forwarded, 1);
}
