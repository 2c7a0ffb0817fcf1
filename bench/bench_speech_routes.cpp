// What one line costs in the speech router: COUNT interrupting lines through speak, each timed,
// with the backend and braille setting given, against whatever the scene has running (NV Access's
// client beside EXE_DIR and the stand-in NVDA, the stand-in JAWS API and JAWS's window). No log is
// open, so the figures are the routes' own calls.
//
//   bench_speech_routes.exe EXE_DIR BACKEND_WORD BRAILLE(0|1) COUNT
//
// Prints "line_p50", "line_p99" and "line_max" in ms, and "route N", the route that spoke last.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <algorithm>
#include "run/com.h"
#include "run/settings.h"
#include "run/text.h"
#include "speech/speech.h"

namespace {
constexpr int kMaxCount = 100000;
double ms[kMaxCount];
}  // namespace

int main(int argc, char** argv) {
    if (argc < 5) return 2;
    const int count = atoi(argv[4]);
    if (count < 1 || count > kMaxCount) return 2;
    wchar_t word[32];
    format_wide(settings_for_tests().exe_dir, kModulePathCap, L"%hs", argv[1]);
    format_wide(word, 32, L"%hs", argv[2]);
    settings_for_tests().backend = backend_of_word(word);
    settings_for_tests().braille_enabled = atoi(argv[3]) != 0;
    start_com();
    start_speech();
    LARGE_INTEGER frequency, before, after;
    QueryPerformanceFrequency(&frequency);
    for (int i = 0; i < count; i++) {
        QueryPerformanceCounter(&before);
        speak(L"Enemy ship on the horizon!", true);
        QueryPerformanceCounter(&after);
        ms[i] = (double)(after.QuadPart - before.QuadPart) * 1000.0 / (double)frequency.QuadPart;
    }
    std::sort(ms, ms + count);
    printf("line_p50 %.4f\nline_p99 %.4f\nline_max %.4f\nroute %d\n", ms[count / 2], ms[count * 99 / 100],
           ms[count - 1], speech_route);
    end_speech(0);
    end_com();
    return 0;
}
