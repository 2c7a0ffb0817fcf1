// One poll samples the seven keys in table order. A press is a rising edge of bit 15, or bit 0
// (pressed since the last call) so that a tap between two passes is not missed. Accepted
// presses restart a 300 ms debounce window per key whether or not they are forwarded.
#include "keys/hotkeys.h"
#include <stdint.h>
#include "game/game_window.h"
#include "keys/command_file.h"
#include "keys/menu_mode.h"
#include "run/clock.h"
#include "run/log.h"
#include "run/seams.h"
#include "run/state.h"
#include "run/text.h"

namespace {
struct hotkey {
    int vk;
    const char* name;
};
// Polling order.
const hotkey hotkey_table[] = {
    {VK_F1, "F1"}, {VK_F2, "F2"}, {VK_F3, "F3"}, {VK_F4, "F4"}, {VK_F5, "F5"}, {VK_F6, "F6"}, {VK_F7, "F7"},
};
constexpr int kHotkeys = sizeof hotkey_table / sizeof hotkey_table[0];
constexpr uint64_t kDebounceMs = 300;
// Ignored presses past this many are only counted.
constexpr int kIgnoredLogged = 20;
// Ctrl, Alt, Shift, and the screen reader's own modifiers Insert and Caps Lock (held, not
// toggled); read in this order.
const int kHotkeyModifiers[] = {VK_CONTROL, VK_MENU, VK_SHIFT, VK_INSERT, VK_CAPITAL};

// The start-up line names the keys: "F1, F2" and so on with "and" before the last; 7 names of
// at most 3 bytes, 5 separators and the rest of the line fit with room to spare.
constexpr int kKeyListBytes = 64;

// ---- Poller state: main thread only.
struct hotkey_state {
    int forwarded = 0;  // presses written to cmd.txt
    int ignored = 0;    // accepted presses not written
    int was_down[kHotkeys] = {};
    uint64_t accepted_at[kHotkeys] = {};
};
constinit hotkey_state poller;

}  // namespace

const int& hotkeys_forwarded = poller.forwarded;
const int& hotkeys_ignored = poller.ignored;

namespace {
void forward_press(int index, uint64_t now) {
    const char* name = hotkey_table[index].name;
    poller.forwarded++;
    log_line("key %s pressed (#%d) -> cmd.txt", name, poller.forwarded);
    // The mode changes before the mod reads the key, so the mod never sees F2 ahead of the
    // state it caused.
    const bool open = menu_is_open();
    if (hotkey_table[index].vk == VK_F4 && open) close_menu_mode("F4");
    // A refused opening is told after the key, so the mod closes the menu that F2 opened.
    if (hotkey_table[index].vk == VK_F2 && !open && !menu_mode_available()) {
        write_command(name, tick_now32());
        open_menu_mode("F2");
        return;
    }
    if (hotkey_table[index].vk == VK_F2) {
        if (open)
            close_menu_mode("F2");
        else
            open_menu_mode("F2");
    }
    note_menu_key_activity(now);
    write_command(name, tick_now32());
}

void ignore_press(int index, const char* reason) {
    if (poller.ignored < kIgnoredLogged) log_line("key %s pressed, ignored (%s)", hotkey_table[index].name, reason);
    poller.ignored++;
}
}  // namespace

void start_hotkey_polling(void) {
    char keys[kKeyListBytes] = "";
    int at = 0;
    for (int i = 0; i < kHotkeys && at < kKeyListBytes; i++) {
        const char* separator = i == 0 ? "" : i == kHotkeys - 1 ? " and " : ", ";
        at += format_narrow(keys + at, (size_t)(kKeyListBytes - at), "%s%s", separator, hotkey_table[i].name);
    }
    log_line("hotkey polling: %s while the game window is in front; commands go to cmd.txt", keys);
}

void poll_hotkeys(void) {
    const uint64_t now = tick_now();
    for (int i = 0; i < kHotkeys; i++) {
        const SHORT state = read_key_state(hotkey_table[i].vk);
        const int down = (state & 0x8000) ? 1 : 0;
        const bool pressed = (state & 0x0001) != 0;
        const bool new_press = !poller.was_down[i] && (down || pressed);
        poller.was_down[i] = down;
        if (!new_press) continue;
        if (now - poller.accepted_at[i] < kDebounceMs) continue;
        poller.accepted_at[i] = now;
        bool modifier_held = false;
        for (int key : kHotkeyModifiers)
            if (read_key_state(key) & 0x8000) modifier_held = true;
        if (!game_window_in_front())
            ignore_press(i, "game window not in front");
        else if (modifier_held)
            ignore_press(i, "modifier held (NVDA key / Ctrl / Alt / Shift)");
        else
            forward_press(i, now);
    }
}

void reset_hotkeys(void) { renew(poller); }
