// Both queries ask the window manager only: no message is sent to the game's windows, so a hung
// game cannot block them, and the hook thread may ask too.
#include "game/game_window.h"
#include <wchar.h>
#include "game/game_process.h"
#include "run/seams.h"

namespace {
// Class name of the game's main window, compared exactly: another program's window whose class
// differs only in letter case is not the game.
const wchar_t game_window_class[] = L"UnrealWindow";
// Longer class names are cut and never equal the game's.
constexpr int kClassNameCap = 64;

bool has_game_class(HWND window) {
    wchar_t name[kClassNameCap];
    name[0] = 0;
    GetClassNameW(window, name, kClassNameCap);
    return !wcscmp(name, game_window_class);
}
}  // namespace

bool game_window_in_front(void) { return seams.game_window_in_front(); }

bool foreground_is_game(void) {
    HWND front = GetForegroundWindow();
    if (!front) return false;
    DWORD pid = 0;
    GetWindowThreadProcessId(front, &pid);
    const DWORD game = game_pid.load(std::memory_order_acquire);
    if (game != 0 && pid == game) return true;
    return has_game_class(front);
}

namespace {
// What find_game_window hands to the enumeration.
struct window_pick {
    DWORD pid;
    HWND chosen;
};

BOOL CALLBACK game_window_enum_proc(HWND window, LPARAM param) {
    window_pick* pick = reinterpret_cast<window_pick*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid != pick->pid || !IsWindowVisible(window) || GetWindow(window, GW_OWNER)) return TRUE;
    bool game_class = has_game_class(window);
    if (!pick->chosen || game_class) pick->chosen = window;
    return game_class ? FALSE : TRUE;
}
}  // namespace

HWND find_game_window(DWORD pid) {
    window_pick pick = {pid, NULL};
    EnumWindows(game_window_enum_proc, reinterpret_cast<LPARAM>(&pick));
    return pick.chosen;
}

