#include "run/modes.h"
#include <windows.h>
#include "run/log.h"
#include "run/settings.h"
#include "speech/speech.h"

namespace {
// What --say spoke gets this long to finish before the process ends; only the voice, which
// speaks asynchronously, is waited for.
constexpr DWORD kSayFinishMs = 30000;
// --check speaks nothing, so nothing is waited for.
constexpr DWORD kCheckFinishMs = 0;
}  // namespace

int run_check_mode(void) {
    open_log(true);
    log_line("TolvaneSpeech --check, pid %lu, exe dir %ls", GetCurrentProcessId(), exe_dir);
    log_unknown_options();
    start_speech();
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
    end_speech(kCheckFinishMs);
    close_log();
    return code;
}

int run_say_mode(void) {
    open_log(true);
    log_line("TolvaneSpeech --say, pid %lu, backend %d (%s), exe dir %ls", GetCurrentProcessId(), backend,
             backend_legend(), exe_dir);
    log_unknown_options();
    start_speech();
    speak(say_text, !say_queued);
    const int code = say_exit_code(speech_route);
    if (code == kSayNotSpoken) log_line("say: NOT spoken (no working speech route)");
    end_speech(kSayFinishMs);
    close_log();
    return code;
}

int run_nothing_done(void) {
    open_log(true);
    log_line("nothing done: unknown option %ls", unknown_options[0]);
    close_log();
    return kUnknownOptionExit;
}

void log_unknown_options(void) {
    for (int i = 0; i < unknown_option_count && i < kUnknownOptionsCap; i++)
        log_line("unknown option ignored: %ls", unknown_options[i]);
}
