// The eight keys that settings-menu mode takes from the game, in one table: the hook's filter and
// seeding, the names written to cmd.txt, which repeats are forwarded and which keys close the
// menu all read it. A key travels through menu_key_ring as its menu_key_code, its row number + 1.
#pragma once
#include <windows.h>

struct menu_key {
    int vk;
    const char* name;  // written to cmd.txt and logged
    bool arrow;        // auto-repeats of a swallowed press are forwarded too, not only its first down
    bool closes_menu;  // forwarding it also leaves settings-menu mode
};

inline constexpr menu_key kMenuKeys[] = {
    {VK_UP, "Up", true, false},          {VK_DOWN, "Down", true, false},     {VK_LEFT, "Left", true, false},
    {VK_RIGHT, "Right", true, false},    {VK_RETURN, "Enter", false, false}, {VK_SPACE, "Space", false, false},
    {VK_ESCAPE, "Escape", false, true},  {VK_BACK, "Backspace", false, true},
};
constexpr int kMenuKeyCount = sizeof kMenuKeys / sizeof kMenuKeys[0];

// The row of a menu_key_code; NULL for a code outside 1 to kMenuKeyCount.
inline const menu_key* menu_key_of_code(int code) {
    return code >= 1 && code <= kMenuKeyCount ? &kMenuKeys[code - 1] : NULL;
}

// The menu_key_code of a virtual-key code; 0 when it is no menu key.
inline int menu_key_code_of(DWORD vk) {
    for (int i = 0; i < kMenuKeyCount; i++)
        if ((DWORD)kMenuKeys[i].vk == vk) return i + 1;
    return 0;
}
