// The bridge as shipped, which at its end writes main_loop_passes.txt beside itself: how many
// passes its main loop made and the longest one in ms ("passes N", "longest_pass_ms N"). The
// benchmark runs it where it asks how long a burst of speech holds the loop. Never shipped.
#include <windows.h>
#include <stdio.h>
#include "run/bridge_run.h"
#include "run/entry.h"
#include "run/settings.h"
#include "run/text.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    const int code = bridge_main();
    wchar_t path[kPathCap];
    format_wide(path, kPathCap, L"%ls\\main_loop_passes.txt", exe_dir);
    FILE* out = _wfopen(path, L"w");
    if (out) {
        fprintf(out, "passes %llu\nlongest_pass_ms %llu\n", (unsigned long long)main_loop_passes(),
                (unsigned long long)longest_main_loop_pass());
        fclose(out);
    }
    return code;
}
