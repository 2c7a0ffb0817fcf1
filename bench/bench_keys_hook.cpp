// Cost of keyboard_hook_proc per event with settings-menu mode open and the real foreground
// query, as the hook thread pays it for every keystroke of the desktop.
// usage: bench_keys_hook.exe GAME_PID [EVENTS]; prints "p50_us=.. p99_us=.. max_us=.. swallowed=.."
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <algorithm>
#include <vector>
#include "game/game_process.h"
#include "keys/hook_thread.h"
#include "keys/menu_mode.h"

namespace {
struct synthetic_event {
    DWORD vk;
    WPARAM message;
};
// A press with a repeat, a key that is not the menu's, another menu key, and a modifier.
const synthetic_event kPattern[] = {
    {VK_UP, WM_KEYDOWN},   {VK_UP, WM_KEYDOWN},   {VK_UP, WM_KEYUP},         {'A', WM_KEYDOWN},
    {'A', WM_KEYUP},       {VK_DOWN, WM_KEYDOWN}, {VK_DOWN, WM_KEYUP},       {VK_LSHIFT, WM_KEYDOWN},
    {VK_LSHIFT, WM_KEYUP}, {VK_RETURN, WM_KEYDOWN}, {VK_RETURN, WM_KEYUP},
};
constexpr int kPatternLength = sizeof kPattern / sizeof kPattern[0];
}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: bench_keys_hook GAME_PID [EVENTS]\n");
        return 2;
    }
    game_pid = (DWORD)strtoul(argv[1], NULL, 10);
    const int events = argc > 2 ? atoi(argv[2]) : 100000;
    seed_hook_tables();
    menu_open = 1;
    LARGE_INTEGER frequency, before, after;
    QueryPerformanceFrequency(&frequency);
    std::vector<double> cost_us((size_t)events);
    int swallowed = 0;
    KBDLLHOOKSTRUCT event;
    ZeroMemory(&event, sizeof event);
    menu_key_event queued;
    for (int i = 0; i < events; i++) {
        const synthetic_event& e = kPattern[i % kPatternLength];
        event.vkCode = e.vk;
        QueryPerformanceCounter(&before);
        LRESULT result = keyboard_hook_proc(HC_ACTION, e.message, reinterpret_cast<LPARAM>(&event));
        QueryPerformanceCounter(&after);
        cost_us[(size_t)i] = (double)(after.QuadPart - before.QuadPart) * 1e6 / (double)frequency.QuadPart;
        if (result == 1) swallowed++;
        while (pop_menu_key(&queued)) {
        }
    }
    std::sort(cost_us.begin(), cost_us.end());
    printf("p50_us=%.3f p99_us=%.3f max_us=%.3f swallowed=%d events=%d\n", cost_us[(size_t)events / 2],
           cost_us[(size_t)events * 99 / 100], cost_us[(size_t)events - 1], swallowed, events);
    return 0;
}
