// Entry of TolvaneSpeech: settings, command line, COM, then exactly one mode.
#include <windows.h>
#include <shellapi.h>
#include <objbase.h>
#include "run/bridge_run.h"
#include "run/libraries.h"
#include "run/modes.h"
#include "run/settings.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    restrict_library_search();
    load_settings();
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argv) parse_command_line(argc, argv);
    // The voice lives in this apartment; the result is of no consequence to any mode.
    CoInitializeEx(NULL, COINIT_APARTMENTTHREADED);

    int code;
    if (check_mode) {
        code = run_check_mode();
    } else if (say_text) {
        code = run_say_mode();
    } else {
        HANDLE mutex = NULL;
        code = acquire_instance_lock(&mutex);
        if (code == 0) code = run_bridge(mutex);
    }
    if (argv) LocalFree(argv);
    return code;
}
