#include "run/modes.h"
#include <objbase.h>
#include "run/log.h"
#include "run/settings.h"
#include "speech/speech.h"

int run_check_mode(void) {
    open_log(true);
    log_line("TolvaneSpeech --check, pid %lu, exe dir %ls", GetCurrentProcessId(), exe_dir);
    load_nvda_client();
    int code;
    if (!nvda_client_loaded()) {
        log_line("check: NVDA client DLL not loaded");
        code = 20;
    } else if (nvda_answers()) {
        log_line("check: NVDA answers");
        code = 0;
    } else {
        log_line("check: client DLL loaded, but NVDA does not answer (not running, or running as another "
                 "user/elevated)");
        code = 21;
    }
    unload_nvda_client();
    CoUninitialize();
    close_log();
    return code;
}

int run_say_mode(void) {
    open_log(true);
    log_line("TolvaneSpeech --say, pid %lu, backend %d (0 auto,1 nvda,2 sapi,3 log), exe dir %ls",
             GetCurrentProcessId(), backend, exe_dir);
    load_nvda_client();
    speak(say_text, !say_queued);
    int code;
    if (speech_route == kRouteNvda || speech_route == kRouteLog) {
        code = 0;
    } else if (speech_route == kRouteSapi) {
        code = 10;
    } else {
        log_line("say: NOT spoken (no working speech route)");
        code = 11;
    }
    // A voice speaks asynchronously: let it finish before the process ends.
    finish_speech(30000);
    CoUninitialize();
    close_log();
    return code;
}

int acquire_instance_lock(HANDLE* mutex) {
    HANDLE held = CreateMutexW(NULL, FALSE, instance_name);
    if (!held) return 2;
    DWORD wait = GetLastError() == ERROR_ALREADY_EXISTS ? 4000 : 0;
    // A bridge that died holding the mutex leaves it abandoned, which is as good as free.
    DWORD result = WaitForSingleObject(held, wait);
    if (result != WAIT_OBJECT_0 && result != WAIT_ABANDONED) return 1;
    *mutex = held;
    return 0;
}
