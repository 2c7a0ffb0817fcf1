#include "run/entry.h"
#include <windows.h>
#include <shellapi.h>
#include "run/bridge_run.h"
#include "run/com.h"
#include "run/instance_lock.h"
#include "run/libraries.h"
#include "run/modes.h"
#include "run/settings.h"

int bridge_main(void) {
    restrict_library_search();
    load_settings();
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argv) parse_command_line(argc, argv);
    // Undone in reverse order. The run has closed its log when the lock goes, so a bridge that
    // waited for the lock never empties a log still being written.
    start_com();
    int code;
    if (check_mode) {
        code = run_check_mode();
    } else if (say_text) {
        code = run_say_mode();
    } else if (unknown_option_count > 0 && requested_pid == 0) {
        code = run_nothing_done();
    } else {
        code = acquire_instance_lock();
        if (code == 0) {
            code = run_bridge();
            release_instance_lock();
        }
    }
    end_com();
    if (argv) LocalFree(argv);
    return code;
}
