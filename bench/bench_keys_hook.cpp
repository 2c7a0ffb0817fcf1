// Cost of keyboard_hook_proc per event with settings-menu mode open and the real foreground
// query, as the hook thread pays it for every keystroke of the desktop; the check for a main
// loop that stands still is part of it (a fresh pass is published before each event, untimed).
// usage: bench_keys_hook.exe GAME_PID [EVENTS]; prints "p50_us=.. p99_us=.. max_us=.. swallowed=.."
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <algorithm>
#include <vector>
#include "game/game_process.h"
#include "game/game_window.h"
#include "keys/hook_thread.h"
#include "keys/menu_mode.h"
#include "run/clock.h"
#include "run/seams.h"

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

struct run_result {
    std::vector<double> cost_us;
    int swallowed;
};

// Times every call of keyboard_hook_proc over the pattern, repeated to the count of events.
run_result time_hook(int events) {
    run_result out;
    out.cost_us.resize((size_t)events);
    out.swallowed = 0;
    LARGE_INTEGER frequency, before, after;
    QueryPerformanceFrequency(&frequency);
    KBDLLHOOKSTRUCT event;
    ZeroMemory(&event, sizeof event);
    menu_key_event queued;
    seed_hook_tables();
    for (int i = 0; i < events; i++) {
        const synthetic_event& e = kPattern[i % kPatternLength];
        event.vkCode = e.vk;
        note_loop_pass(tick_now());
        QueryPerformanceCounter(&before);
        LRESULT result = keyboard_hook_proc(HC_ACTION, e.message, reinterpret_cast<LPARAM>(&event));
        QueryPerformanceCounter(&after);
        out.cost_us[(size_t)i] = (double)(after.QuadPart - before.QuadPart) * 1e6 / (double)frequency.QuadPart;
        if (result == 1) out.swallowed++;
        while (pop_menu_key(&queued)) {
        }
    }
    std::sort(out.cost_us.begin(), out.cost_us.end());
    return out;
}

double at(const std::vector<double>& sorted, int per_cent) {
    return sorted[std::min(sorted.size() - 1, sorted.size() * (size_t)per_cent / 100)];
}

bool always_in_front(void) { return true; }
}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: bench_keys_hook GAME_PID [EVENTS]\n");
        return 2;
    }
    if (!attach_game_process((DWORD)strtoul(argv[1], NULL, 10), "--pid")) {
        fprintf(stderr, "bench_keys_hook: no game process %s\n", argv[1]);
        return 2;
    }
    const int events = argc > 2 ? atoi(argv[2]) : 100000;
    stand_in_menu_flags(1, false);
    run_result real = time_hook(events);
    printf("p50_us=%.3f p99_us=%.3f max_us=%.3f swallowed=%d events=%d\n", at(real.cost_us, 50),
           at(real.cost_us, 99), real.cost_us.back(), real.swallowed, events);

    // The same events with the foreground answer given: what the bridge's own code costs, with
    // the CallNextHookEx of each event that passes on.
    seams.game_window_in_front = always_in_front;
    run_result given = time_hook(events);
    seams.game_window_in_front = real_seams.game_window_in_front;
    printf("given_p50_us=%.3f given_p99_us=%.3f\n", at(given.cost_us, 50), at(given.cost_us, 99));

    // The foreground query alone, as the hook makes it for each event.
    std::vector<double> query_us((size_t)events);
    LARGE_INTEGER frequency, before, after;
    QueryPerformanceFrequency(&frequency);
    for (int i = 0; i < events; i++) {
        QueryPerformanceCounter(&before);
        game_window_in_front();
        QueryPerformanceCounter(&after);
        query_us[(size_t)i] = (double)(after.QuadPart - before.QuadPart) * 1e6 / (double)frequency.QuadPart;
    }
    std::sort(query_us.begin(), query_us.end());
    printf("query_p50_us=%.3f query_p99_us=%.3f\n", at(query_us, 50), at(query_us, 99));
    return 0;
}
