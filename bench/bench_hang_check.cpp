// Cost of the hang watchdog's check against a live, answering game window (the stand-in game
// whose process id is the argument), and of the window pick that precedes the first check.
// Prints "pick_us", "check_median_us", "check_p99_us" and "check_max_us" lines for bench_hang.py.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <algorithm>
#include "game/game_process.h"
#include "hang/hang_watchdog.h"
#include "run/settings.h"

namespace {
constexpr int kChecks = 400;
double elapsed_us(LARGE_INTEGER from, LARGE_INTEGER to, LARGE_INTEGER frequency) {
    return (double)(to.QuadPart - from.QuadPart) * 1e6 / (double)frequency.QuadPart;
}
}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: bench_hang_check GAME_PID\n");
        return 2;
    }
    reset_settings();
    if (!attach_game_process((DWORD)strtoul(argv[1], NULL, 10), "--pid")) {
        fprintf(stderr, "bench_hang_check: no game process %s\n", argv[1]);
        return 2;
    }
    LARGE_INTEGER frequency, a, b;
    QueryPerformanceFrequency(&frequency);

    // The first call also pays for the process's first use of the window system.
    check_game_hang();
    reset_hang_watchdog();
    QueryPerformanceCounter(&a);
    check_game_hang();
    QueryPerformanceCounter(&b);
    printf("pick_us %.1f\n", elapsed_us(a, b, frequency));

    static double took[kChecks];
    for (int i = 0; i < kChecks; i++) {
        QueryPerformanceCounter(&a);
        check_game_hang();
        QueryPerformanceCounter(&b);
        took[i] = elapsed_us(a, b, frequency);
    }
    std::sort(took, took + kChecks);
    printf("check_median_us %.1f\ncheck_p99_us %.1f\ncheck_max_us %.1f\n", took[kChecks / 2],
           took[kChecks * 99 / 100], took[kChecks - 1]);
    return 0;
}
