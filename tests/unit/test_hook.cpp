// The keyboard hook: every row of the decision table driven through keyboard_hook_proc with
// synthetic events, the seeding at arming, the ring under two threads, and the thread itself
// serving its three messages.
#include "unit.h"
#include <string.h>
#include "game/game_window.h"
#include "keys/command_file.h"
#include "keys/hook_thread.h"
#include "keys/hotkeys.h"
#include "keys/menu_keys.h"
#include "keys/menu_mode.h"
#include "run/seams.h"
#include "run/clock.h"
#include "run/log.h"

namespace {
bool front = true;
bool front_query(void) { return front; }
SHORT held[256];
SHORT held_query(int vk) { return held[vk & 0xFF]; }

// Menu open, game in front, nothing held, tables freshly armed; also a second time in a case.
void begin(void) {
    reset_bridge_state();
    memset(held, 0, sizeof held);
    front = true;
    seams.game_window_in_front = front_query;
    seams.key_state = held_query;
    unit_fake_clock_install(1000000);
    note_loop_pass(unit_fake_clock_now());
    seed_hook_tables();
    stand_in_menu_flags(1, false);
}

// Result of the procedure: 1 swallows; anything else passed the event on.
LRESULT send(DWORD vk, WPARAM message, DWORD flags = 0, int code = HC_ACTION) {
    KBDLLHOOKSTRUCT event;
    memset(&event, 0, sizeof event);
    event.vkCode = vk;
    event.flags = flags;
    return keyboard_hook_proc(code, message, reinterpret_cast<LPARAM>(&event));
}
bool down(DWORD vk) { return send(vk, WM_KEYDOWN) == 1; }  // true: swallowed
bool up(DWORD vk) { return send(vk, WM_KEYUP) == 1; }
bool injected_down(DWORD vk) { return send(vk, WM_KEYDOWN, LLKHF_INJECTED) == 1; }
bool injected_up(DWORD vk) { return send(vk, WM_KEYUP, LLKHF_INJECTED) == 1; }

// Names of the queued events, in order, space-separated; empties the ring.
std::string queued(void) {
    std::string out;
    menu_key_event event;
    while (pop_menu_key(&event)) {
        if (!out.empty()) out += " ";
        out += menu_key_of_code(event.code)->name;
    }
    return out;
}

const DWORD kModifiers[] = {VK_SHIFT, VK_CONTROL, VK_MENU, VK_LSHIFT, VK_RSHIFT, VK_LCONTROL, VK_RCONTROL,
                            VK_LMENU, VK_RMENU,  VK_LWIN,    VK_RWIN,  VK_INSERT, VK_CAPITAL};
}  // namespace

TEST(fresh_press_in_an_active_menu_is_swallowed_and_queued_with_its_tick) {
    begin();
    for (const menu_key& key : kMenuKeys) {
        CHECK(down((DWORD)key.vk));
        CHECK(up((DWORD)key.vk));
    }
    CHECK_EQ(queued(), std::string("Up Down Left Right Enter Space Escape Backspace"));
    // The event carries the 32-bit tick of the moment it was queued.
    unit_fake_clock_set(0x100000000ULL + 4242);
    CHECK(down(VK_DOWN));
    menu_key_event event;
    REQUIRE(pop_menu_key(&event));
    CHECK_EQ(event.code, unit_menu_key(VK_DOWN));
    CHECK_EQ((unsigned long)event.tick, 4242ul);
    CHECK(up(VK_DOWN));
    CHECK_EQ(queued(), std::string(""));
}

TEST(auto_repeat_queues_arrows_again_and_swallows_the_others_silently) {
    begin();
    CHECK(down(VK_UP));
    CHECK(down(VK_UP));
    CHECK(down(VK_UP));
    CHECK(up(VK_UP));
    CHECK_EQ(queued(), std::string("Up Up Up"));
    for (DWORD vk : {VK_RETURN, VK_SPACE, VK_ESCAPE, VK_BACK}) {
        CHECK(down(vk));
        CHECK(down(vk));
        CHECK(down(vk));
        CHECK(up(vk));
    }
    CHECK_EQ(queued(), std::string("Enter Space Escape Backspace"));
    // A modifier pressed during a held, swallowed arrow does not stop its repeats.
    CHECK(down(VK_LEFT));
    CHECK(!down(VK_LCONTROL));
    CHECK(down(VK_LEFT));
    CHECK(up(VK_LEFT));
    CHECK(!up(VK_LCONTROL));
    CHECK_EQ(queued(), std::string("Left Left"));
}

TEST(an_inactive_menu_passes_fresh_presses_but_finishes_swallowed_ones) {
    begin();
    // Closed while Up is held: the repeats and the release stay swallowed, without events.
    CHECK(down(VK_UP));
    stand_in_menu_flags(0, false);
    CHECK(down(VK_UP));
    CHECK(down(VK_UP));
    CHECK(up(VK_UP));
    CHECK_EQ(queued(), std::string("Up"));
    CHECK(!down(VK_UP));
    CHECK(!up(VK_UP));
    CHECK(!down(VK_RETURN));
    CHECK(!up(VK_RETURN));
    // Open but another window in front: the same.
    stand_in_menu_flags(1, false);
    CHECK(down(VK_RIGHT));
    front = false;
    CHECK(down(VK_RIGHT));
    CHECK(up(VK_RIGHT));
    CHECK(!down(VK_ESCAPE));
    CHECK(!up(VK_ESCAPE));
    CHECK_EQ(queued(), std::string("Right"));
    // Back in front, a fresh press is swallowed again.
    front = true;
    CHECK(down(VK_ESCAPE));
    CHECK(up(VK_ESCAPE));
    CHECK_EQ(queued(), std::string("Escape"));
}

TEST(modifiers_always_pass_and_hold_off_fresh_presses) {
    begin();
    for (DWORD modifier : kModifiers) {
        CHECK(!down(modifier));
        CHECK(any_modifier_down());
        CHECK(!down(VK_UP));
        CHECK(!up(VK_UP));
        CHECK(!down(VK_SPACE));
        CHECK(!up(VK_SPACE));
        CHECK(!up(modifier));
        CHECK(!any_modifier_down());
        CHECK(down(VK_UP));
        CHECK(up(VK_UP));
    }
    CHECK_EQ(queued(), std::string("Up Up Up Up Up Up Up Up Up Up Up Up Up"));
    // Alt with a menu key comes as a system key-down and passes for the held Alt.
    CHECK(send(VK_LMENU, WM_SYSKEYDOWN) != 1);
    CHECK(send(VK_DOWN, WM_SYSKEYDOWN) != 1);
    CHECK(send(VK_DOWN, WM_SYSKEYUP) != 1);
    CHECK(send(VK_LMENU, WM_SYSKEYUP) != 1);
    CHECK(!any_modifier_down());
    // A system release finishes a swallowed press like a plain one.
    CHECK(down(VK_DOWN));
    CHECK(send(VK_DOWN, WM_SYSKEYUP) == 1);
    CHECK(!down(VK_LMENU));
    CHECK(!up(VK_LMENU));
    CHECK_EQ(queued(), std::string("Down"));
}

TEST(a_key_already_down_passes_until_it_is_released) {
    begin();
    // Down at arming: its repeats and release reach the game.
    held[VK_DOWN] = (SHORT)0x8000;
    held[VK_RETURN] = (SHORT)0x8001;
    seed_hook_tables();
    CHECK(!down(VK_DOWN));
    CHECK(!down(VK_DOWN));
    CHECK(!up(VK_DOWN));
    CHECK(!down(VK_RETURN));
    CHECK(!up(VK_RETURN));
    CHECK(down(VK_DOWN));
    CHECK(up(VK_DOWN));
    // A press that passed for a held modifier stays passed after the modifier's release.
    CHECK(!down(VK_RCONTROL));
    CHECK(!down(VK_LEFT));
    CHECK(!up(VK_RCONTROL));
    CHECK(!down(VK_LEFT));
    CHECK(!up(VK_LEFT));
    // So does one that began while the menu was closed.
    stand_in_menu_flags(0, false);
    CHECK(!down(VK_SPACE));
    stand_in_menu_flags(1, false);
    CHECK(!down(VK_SPACE));
    CHECK(!up(VK_SPACE));
    CHECK_EQ(queued(), std::string("Down"));
}

TEST(injected_events_pass_and_change_no_table) {
    begin();
    CHECK(!injected_down(VK_UP));
    CHECK(down(VK_UP));  // the injected down did not mark Up as held
    CHECK(!injected_up(VK_UP));
    CHECK(down(VK_UP));  // nor did the injected release end the swallowed press
    CHECK(up(VK_UP));
    CHECK(!injected_down(VK_LSHIFT));
    CHECK(!any_modifier_down());
    CHECK(down(VK_RETURN));
    CHECK(up(VK_RETURN));
    CHECK(!down(VK_RSHIFT));
    CHECK(!injected_up(VK_RSHIFT));
    CHECK(any_modifier_down());
    CHECK(!up(VK_RSHIFT));
    CHECK_EQ(queued(), std::string("Up Up Enter"));
}

TEST(other_keys_other_messages_and_other_codes_pass_without_trace) {
    begin();
    for (DWORD vk : {(DWORD)'A', (DWORD)VK_F1, (DWORD)VK_F2, (DWORD)VK_TAB, (DWORD)VK_DELETE, (DWORD)VK_NUMPAD8}) {
        CHECK(!down(vk));
        CHECK(!down(vk));
        CHECK(!up(vk));
    }
    CHECK(!any_modifier_down());
    // Not HC_ACTION, not a key message, or a code past the table: passed on, nothing learnt.
    CHECK(send(VK_UP, WM_KEYDOWN, 0, 3) != 1);
    CHECK(send(VK_LSHIFT, WM_KEYDOWN, 0, 3) != 1);
    CHECK(send(VK_UP, WM_CHAR) != 1);
    CHECK(send(VK_LSHIFT, WM_CHAR) != 1);
    CHECK(send(0x100 + VK_UP, WM_KEYDOWN) != 1);
    CHECK(!any_modifier_down());
    CHECK_EQ(queued(), std::string(""));
    CHECK(down(VK_UP));
    CHECK(up(VK_UP));
    CHECK_EQ(queued(), std::string("Up"));
}

TEST(a_raised_generation_forgets_swallowed_presses) {
    begin();
    CHECK(down(VK_UP));
    CHECK(down(VK_BACK));
    stand_in_menu_flags(0, true);
    // Held across the failsafe: repeats and releases reach the game.
    CHECK(!down(VK_UP));
    CHECK(!up(VK_UP));
    CHECK(!up(VK_BACK));
    stand_in_menu_flags(1, false);
    CHECK(down(VK_UP));
    CHECK(up(VK_UP));
    CHECK_EQ(queued(), std::string("Up Backspace Up"));
    // Any event notices the new generation, a modifier's too.
    CHECK(down(VK_LEFT));
    stand_in_menu_flags(1, true);
    CHECK(!down('Q'));
    stand_in_menu_flags(0, false);
    CHECK(!up(VK_LEFT));
}

TEST(a_generic_modifier_held_at_arming_clears_when_its_key_is_released) {
    // The system reports the generic and the sided code at arming; events only the sided one.
    const DWORD pairs[][3] = {{VK_SHIFT, VK_LSHIFT, VK_RSHIFT},
                              {VK_CONTROL, VK_LCONTROL, VK_RCONTROL},
                              {VK_MENU, VK_LMENU, VK_RMENU}};
    for (const auto& pair : pairs) {
        begin();
        held[pair[0]] = (SHORT)0x8000;
        held[pair[1]] = (SHORT)0x8000;
        seed_hook_tables();
        CHECK(!down(VK_UP));
        CHECK(!up(VK_UP));
        CHECK(!up(pair[1]));
        CHECK(!any_modifier_down());
        CHECK(down(VK_UP));
        CHECK(up(VK_UP));
        CHECK_EQ(queued(), std::string("Up"));

        // Both sides held: releasing one keeps the modifier held.
        begin();
        held[pair[0]] = held[pair[1]] = held[pair[2]] = (SHORT)0x8000;
        seed_hook_tables();
        CHECK(!up(pair[2]));
        CHECK(!down(VK_DOWN));
        CHECK(!up(VK_DOWN));
        CHECK(!up(pair[1]));
        CHECK(down(VK_DOWN));
        CHECK(up(VK_DOWN));

        // Only the generic code reported at arming: the release of either side clears it.
        begin();
        held[pair[0]] = (SHORT)0x8000;
        seed_hook_tables();
        CHECK(any_modifier_down());
        CHECK(!up(pair[2]));
        CHECK(!any_modifier_down());
    }
}

TEST(a_full_ring_drops_the_event_but_still_swallows_the_key) {
    begin();
    for (int i = 0; i < kRingSlots - 1; i++) {
        CHECK(down(VK_DOWN));
        CHECK(up(VK_DOWN));
    }
    // 127 waiting: the next press reaches neither the mod nor the game.
    CHECK(down(VK_UP));
    CHECK(down(VK_UP));
    CHECK(up(VK_UP));
    CHECK(!push_menu_key(unit_menu_key("Up")));
    menu_key_event event;
    int drained = 0;
    while (pop_menu_key(&event)) {
        CHECK_EQ(event.code, unit_menu_key(VK_DOWN));
        drained++;
    }
    CHECK_EQ(drained, kRingSlots - 1);
    CHECK(down(VK_UP));
    CHECK(up(VK_UP));
    CHECK_EQ(queued(), std::string("Up"));
    // One slot freed lets exactly one event in again.
    for (int i = 0; i < kRingSlots - 1; i++) CHECK(push_menu_key(unit_menu_key("Enter")));
    CHECK(!push_menu_key(unit_menu_key("Space")));
    REQUIRE(pop_menu_key(&event));
    CHECK(push_menu_key(unit_menu_key("Space")));
    CHECK(!push_menu_key(unit_menu_key("Escape")));
}

namespace {
constexpr int kRingEvents = 1000000;
uint32_t produced = 0;
// Only the producer asks for the tick, so it numbers the events in push order.
uint64_t numbering_tick(void) { return ++produced; }

DWORD WINAPI produce(LPVOID) {
    for (int i = 0; i < kRingEvents; i++)
        while (!push_menu_key((uint8_t)(i % kMenuKeyCount + 1))) {  // every menu_key_code in turn
        }
    return 0;
}

bool wait_until(const std::atomic<LONG>& flag, LONG value, DWORD ms) {
    for (DWORD waited = 0; waited < ms; waited++) {
        if (flag.load() == value) return true;
        Sleep(1);
    }
    return flag.load() == value;
}
}  // namespace

TEST(the_ring_keeps_every_event_in_order_between_two_threads_at_full_speed) {
    produced = 0;
    seams.tick = numbering_tick;
    HANDLE producer = CreateThread(NULL, 0, produce, NULL, 0, NULL);
    REQUIRE(producer != NULL);
    int received = 0, wrong = 0;
    uint32_t first_wrong_tick = 0;
    DWORD last_progress = GetTickCount();
    menu_key_event event;
    while (received < kRingEvents && GetTickCount() - last_progress < 10000) {
        if (!pop_menu_key(&event)) continue;
        const uint32_t expected = (uint32_t)received + 1;
        if (event.tick != expected || event.code != (uint8_t)(received % kMenuKeyCount + 1)) {
            if (!wrong) first_wrong_tick = event.tick;
            wrong++;
        }
        received++;
        last_progress = GetTickCount();
    }
    CHECK_EQ(WaitForSingleObject(producer, 10000), (DWORD)WAIT_OBJECT_0);
    CloseHandle(producer);
    CHECK_EQ(received, kRingEvents);
    CHECK_EQ(wrong, 0);
    CHECK_EQ(first_wrong_tick, 0u);
    CHECK(!pop_menu_key(&event));
}

namespace {
// Test messages the hook thread ignores; the seam acts on them on that thread.
constexpr UINT kProbe = WM_APP + 8;  // notes the installed hook; the thread has served all before it
constexpr UINT kDrop = WM_APP + 9;   // removes the installed hook as Windows does, unannounced
HHOOK probed_hook = NULL;
BOOL dropped = FALSE;
std::atomic<LONG> probes{0};
void watch_hook_messages(UINT message, HHOOK installed) {
    if (message == kDrop) dropped = UnhookWindowsHookEx(installed);
    if (message != kProbe) return;
    probed_hook = installed;
    probes.fetch_add(1);
}
// Waits until the hook thread has served everything posted so far; the hook it has installed.
HHOOK hook_after_posted(DWORD thread) {
    const LONG before = probes.load();
    PostThreadMessageW(thread, kProbe, 0, 0);
    for (int waited = 0; probes.load() == before && waited < 2000; waited++) Sleep(1);
    return probed_hook;
}

// The hook thread as seen from inside, taken on the thread right before it reports ready.
HANDLE seen_thread = NULL;
DWORD seen_thread_id = 0;
HANDLE hold_back = NULL;  // set: the thread waits for it before reporting ready
void take_hook_thread(void) {
    seen_thread_id = GetCurrentThreadId();
    DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &seen_thread, 0, FALSE,
                    DUPLICATE_SAME_ACCESS);
    if (hold_back) WaitForSingleObject(hold_back, INFINITE);
}
}  // namespace

TEST(the_hook_thread_serves_arm_disarm_and_quit) {
    unit_begin_log();
    memset(held, 0, sizeof held);
    seams.key_state = held_query;
    seams.game_window_in_front = front_query;
    front = true;
    hold_back = NULL;
    seams.hook_thread_starting = take_hook_thread;
    seams.hook_message = watch_hook_messages;
    start_hook_thread(2000);
    REQUIRE(seen_thread != NULL);
    const DWORD id = seen_thread_id;
    CHECK_EQ(hook_thread_id.load(), id);
    CHECK_EQ(unit_logged("hook thread ready (WH_KEYBOARD_LL is installed only while the settings menu is open)"), 1);
    CHECK_EQ(GetThreadPriority(seen_thread), THREAD_PRIORITY_HIGHEST);
    CHECK_EQ(hook_installed.load(), 0L);

    // Installed on request, with Up seeded as held.
    held[VK_UP] = (SHORT)0x8000;
    stand_in_hook_thread(id, 0, ERROR_ACCESS_DENIED);
    CHECK(PostThreadMessageW(id, MSG_HOOK_ARM, 0, 0));
    CHECK(wait_until(hook_installed, 1, 2000));
    CHECK_EQ(hook_install_failed.load(), 0L);

    // A second arming installs a new hook, removes the old one and keeps the tables: Up still
    // counts as held.
    const HHOOK first = hook_after_posted(id);
    held[VK_UP] = 0;
    prepare_arming();
    CHECK(PostThreadMessageW(id, MSG_HOOK_ARM, 0, 0));
    CHECK(wait_until(hook_installed, 1, 2000));
    CHECK(hook_after_posted(id) != first);
    CHECK(!UnhookWindowsHookEx(first));
    stand_in_menu_flags(1, false);
    note_loop_pass(tick_now());
    CHECK(send(VK_UP, WM_KEYDOWN) != 1);
    CHECK(send(VK_UP, WM_KEYUP) != 1);

    // Enter swallowed, then Shift pressed; both released unseen while the hook was gone. A silent
    // arming seeds from the keyboard although the old hook still unhooks: Shift no longer counts
    // as held, and the next Enter is a fresh press for the menu.
    CHECK(send(VK_RETURN, WM_KEYDOWN) == 1);
    CHECK(send(VK_LSHIFT, WM_KEYDOWN) != 1);
    const HHOOK second = hook_after_posted(id);
    prepare_arming();
    CHECK(PostThreadMessageW(id, MSG_HOOK_ARM, 1, 0));
    CHECK(wait_until(hook_installed, 1, 2000));
    CHECK(hook_after_posted(id) != second);
    CHECK(!UnhookWindowsHookEx(second));  // the thread's own unhook of it had answered TRUE
    note_loop_pass(tick_now());
    CHECK(send(VK_UP, WM_KEYDOWN) == 1);
    CHECK(send(VK_UP, WM_KEYUP) == 1);
    CHECK(send(VK_RETURN, WM_KEYDOWN) == 1);
    CHECK(send(VK_RETURN, WM_KEYUP) == 1);
    CHECK_EQ(queued(), std::string("Enter Up Enter"));
    stand_in_menu_flags(0, false);

    CHECK(PostThreadMessageW(id, MSG_HOOK_DISARM, 0, 0));
    CHECK(wait_until(hook_installed, 0, 2000));
    CHECK(PostThreadMessageW(id, MSG_HOOK_ARM, 0, 0));
    CHECK(wait_until(hook_installed, 1, 2000));
    // Stopping removes the hook on the way out.
    stop_hook_thread(1500);
    CHECK_EQ(WaitForSingleObject(seen_thread, 0), (DWORD)WAIT_OBJECT_0);
    DWORD code = 99;
    GetExitCodeThread(seen_thread, &code);
    CHECK_EQ(code, 0ul);
    CHECK_EQ(hook_installed.load(), 0L);
    CHECK_EQ(hook_thread_id.load(), 0ul);
    CloseHandle(seen_thread);
    seen_thread = NULL;
}

TEST(a_hook_thread_ready_too_late_never_serves_and_the_menu_refuses_to_open) {
    const std::wstring dir = unit_begin_log();
    create_command_file();
    hold_back = CreateEventW(NULL, TRUE, FALSE, NULL);
    seams.hook_thread_starting = take_hook_thread;
    start_hook_thread(50);
    CHECK_EQ(hook_thread_id.load(), 0ul);
    CHECK_EQ(unit_logged("hook thread: could not start (1460); the settings menu will not swallow keys"), 1);
    // F2 is still the mod's; the menu stays closed, and the mod is told.
    memset(held, 0, sizeof held);
    held[VK_F2] = (SHORT)0x8001;
    seams.key_state = held_query;
    front = true;
    seams.game_window_in_front = front_query;
    poll_hotkeys();
    CHECK_EQ(unit_cmd_names(dir + L"\\cmd.txt"), std::string("F2 NoHook"));
    CHECK_EQ(menu_open.load(), 0L);
    CHECK_EQ(unit_logged("settings menu opened (F2): no keyboard hook available, keys are not swallowed"), 1);
    // Let go, it ends without ever publishing itself or serving a message.
    REQUIRE(seen_thread != NULL);
    SetEvent(hold_back);
    CHECK_EQ(WaitForSingleObject(seen_thread, 2000), (DWORD)WAIT_OBJECT_0);
    DWORD code = 99;
    GetExitCodeThread(seen_thread, &code);
    CHECK_EQ(code, 0ul);
    CHECK_EQ(hook_thread_id.load(), 0ul);
    stop_hook_thread(100);
    CloseHandle(seen_thread);
    CloseHandle(hold_back);
    seen_thread = NULL;
    hold_back = NULL;
}

TEST(a_stalled_main_loop_lets_fresh_presses_through) {
    begin();
    unit_begin_log();
    const uint64_t pass_at = unit_fake_clock_now();
    // Arrow repeats are queued up to 100 ms after the last pass, later only swallowed: those of a
    // stall would reach the mod all at once.
    unit_fake_clock_set(pass_at + 100);
    CHECK(down(VK_LEFT));
    CHECK(down(VK_LEFT));
    unit_fake_clock_set(pass_at + 101);
    CHECK(down(VK_LEFT));
    // Fresh presses are swallowed up to 1000 ms after the last pass.
    unit_fake_clock_set(pass_at + 999);
    CHECK(down(VK_RETURN));
    // Past it, a fresh press is the game's, whole; the rest of the presses swallowed before stays
    // swallowed.
    unit_fake_clock_set(pass_at + 1001);
    CHECK(!down(VK_DOWN));
    CHECK(!down(VK_DOWN));
    CHECK(!up(VK_DOWN));
    for (int i = 0; i < kRingSlots; i++) CHECK(down(VK_LEFT));
    CHECK(down(VK_RETURN));
    CHECK(up(VK_RETURN));
    // The other rows pass as before and count nothing.
    CHECK(!down(VK_LSHIFT));
    CHECK(!down(VK_UP));
    CHECK(!up(VK_UP));
    CHECK(!up(VK_LSHIFT));
    CHECK_EQ(presses_let_through.load(), 1L);
    CHECK_EQ(queued(), std::string("Left Left Enter"));
    // The next pass reports the stall once; keys are swallowed again, repeats queued again.
    unit_fake_clock_set(pass_at + 4200);
    note_loop_pass(unit_fake_clock_now());
    note_loop_pass(unit_fake_clock_now() + 20);
    CHECK_EQ(unit_logged("main loop stood still for 4200 ms; 1 menu key presses went to the game meanwhile"), 1);
    CHECK_EQ(unit_count(unit_log(), "stood still"), 1);
    CHECK(down(VK_LEFT));
    CHECK(up(VK_LEFT));
    CHECK(down(VK_SPACE));
    CHECK(up(VK_SPACE));
    CHECK_EQ(queued(), std::string("Left Space"));
    // A pass tick newer than the hook's own reading is no stall.
    unit_fake_clock_set(pass_at + 4100);
    CHECK(down(VK_UP));
    CHECK(up(VK_UP));
}

TEST(a_hook_that_windows_removed_is_installed_again_while_the_menu_is_open) {
    const std::wstring dir = unit_begin_log();
    create_command_file();
    prepare_menu_state();
    memset(held, 0, sizeof held);
    seams.key_state = held_query;
    front = true;
    seams.game_window_in_front = front_query;
    seams.hook_message = watch_hook_messages;
    unit_fake_clock_install(1000000);
    start_hook_thread(2000);
    const DWORD id = hook_thread_id.load();
    REQUIRE(id != 0);
    // One main-loop pass, ms after the last, once the hook thread has served what was posted;
    // the mod answers at every pass.
    int answers = 0;
    auto pass = [&](uint64_t ms) {
        hook_after_posted(id);
        unit_write_file(dir + L"\\menu_state.txt", "menu 1 " + std::to_string(++answers));
        unit_fake_clock_advance(ms);
        note_loop_pass(unit_fake_clock_now());
        run_menu_steps(unit_fake_clock_now());
    };
    const auto reinstalls = [] { return unit_logged("keyboard hook reinstalled (Windows had removed it)"); };
    open_menu_mode("F2");
    pass(20);
    pass(20);
    // The mouse, and keys the live hook saw, are no sign of a removed hook.
    held[VK_LBUTTON] = (SHORT)0x8000;
    pass(20);
    pass(1000);
    held[VK_DOWN] = (SHORT)0x8000;
    CHECK(down(VK_DOWN));
    pass(20);
    pass(1000);
    held[VK_DOWN] = 0;
    CHECK(up(VK_DOWN));
    pass(1000);
    CHECK_EQ(reinstalls(), 0);
    // Removed: a key pressed that the hook never saw is noticed after 300 ms, and a new hook,
    // seeded afresh, takes over; again and again at most every 2 s, logged for the first 10.
    for (int round = 0; round < 12; round++) {
        const HHOOK removed = hook_after_posted(id);
        PostThreadMessageW(id, kDrop, 0, 0);
        held[VK_UP] = 0;
        pass(20);
        held[VK_UP] = (SHORT)0x8000;
        pass(20);
        pass(300);
        pass(1);  // noticed, 341 ms after the last reinstall
        if (round > 0) pass(1658);
        CHECK_EQ(reinstalls(), round < 10 ? round : 10);
        if (round > 0) pass(1);
        pass(0);
        CHECK(dropped);
        CHECK(hook_after_posted(id) != removed);
    }
    CHECK(!down(VK_UP));
    CHECK_EQ(reinstalls(), 10);
    CHECK_EQ(menu_open.load(), 1L);
    // The mod never heard of it.
    CHECK_EQ(unit_cmd_names(dir + L"\\cmd.txt"), std::string("Armed Down"));
    stop_hook_thread(1500);
}
