// The resident run is a single-threaded scheduler on the main thread: each pass waits at most
// 20 ms on the game process, the speech file watch and the message queue, pumps messages, reads
// the tick once and runs the steps that are due, in a fixed order. The speech file is polled
// every 50 ms, and at once when the watch reports that it changed; the watch bounds its own
// waits and drops out when empty reports come at once, so it can neither stop nor spin the loop.
// The only other thread is the keyboard hook thread, started here and stopped at shutdown; the
// run never waits for it longer than 2000 ms at start-up or 1500 ms at the end.
#include "run/bridge_run.h"
#include <objbase.h>
#include "game/game_process.h"
#include "hang/hang_watchdog.h"
#include "intake/follower.h"
#include "intake/protocol.h"
#include "intake/watch.h"
#include "keys/command_file.h"
#include "keys/hook_thread.h"
#include "keys/hotkeys.h"
#include "keys/menu_mode.h"
#include "run/clock.h"
#include "run/log.h"
#include "run/settings.h"
#include "speech/speech.h"

namespace {
constexpr DWORD kPassWaitMs = 20;
constexpr uint64_t kSpeechPollMs = 50;
constexpr uint64_t kHangCheckMs = 2000;
constexpr uint64_t kGameSearchMs = 2000;
constexpr DWORD kHookReadyWaitMs = 2000;
constexpr DWORD kHookQuitWaitMs = 1500;
constexpr DWORD kSapiFinishMs = 3000;

HANDLE instance_mutex = NULL;
uint64_t loop_start = 0;
uint64_t last_speech_poll = 0;
uint64_t last_hang_check = 0;
uint64_t last_game_search = 0;
bool game_timeout_armed = false;
uint64_t loop_passes = 0;

void pump_messages(void) {
    MSG msg;
    // WM_QUIT is dispatched like any other message: nothing but the game ends the run.
    while (PeekMessageW(&msg, NULL, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

// Runs the main loop until the game exits or the game timeout passes.
void run_main_loop(void) {
    const uint64_t timeout_ms = (uint64_t)game_timeout * 1000;
    for (;;) {
        // The game comes first: when both are signalled, the wait reports the game's exit.
        HANDLE handles[2];
        DWORD count = 0;
        const HANDLE game = game_process;
        if (game) handles[count++] = game;
        const HANDLE watch = speech_watch_event();
        if (watch) handles[count++] = watch;
        const DWORD waited =
            MsgWaitForMultipleObjects(count, count ? handles : NULL, FALSE, kPassWaitMs, QS_ALLINPUT);
        if (game && waited == WAIT_OBJECT_0) {
            log_line("game process %lu exited; quitting", (DWORD)game_pid);
            // Lines the mod wrote just before the game ended are still spoken.
            poll_speech_file();
            return;
        }
        const bool speech_changed = watch && waited == WAIT_OBJECT_0 + count - 1 && take_speech_watch();
        pump_messages();
        loop_passes++;
        const uint64_t now = tick_now();
        note_loop_pass(now);
        if (game_process) {
            poll_hotkeys();
            run_menu_steps(now);
            tick_startup_announcement(now);
        }
        if (speech_changed || now - last_speech_poll >= kSpeechPollMs) {
            poll_speech_file();
            last_speech_poll = now;
            check_speech_watchdog();
            keep_speech_watch(now);
        }
        if (game_process && now - last_hang_check >= kHangCheckMs) {
            last_hang_check = now;
            check_game_hang();
        }
        if (!game_process && now - last_game_search >= kGameSearchMs) {
            int found = find_game_process();
            last_game_search = now;
            if (found) {
                game_timeout_armed = false;
            } else if (game_timeout_armed && now - loop_start > timeout_ms) {
                log_line("no game process seen in %ld s; quitting", (long)game_timeout);
                return;
            }
        }
    }
}
}  // namespace

uint64_t main_loop_passes(void) { return loop_passes; }

int run_bridge(HANDLE held_mutex) {
    instance_mutex = held_mutex;
    open_log(false);
    char file_utf8[kPathUtf8Bytes], game_dir_utf8[kPathUtf8Bytes];
    to_utf8(speech_file_path, file_utf8, kPathUtf8Bytes);
    to_utf8(game_dir, game_dir_utf8, kPathUtf8Bytes);
    log_line("TolvaneSpeech " TOLVANE_VERSION " started, pid %lu, backend %d (0 auto,1 nvda,2 sapi,3 log). "
             "file=%s gamedir=%s",
             GetCurrentProcessId(), backend, file_utf8, game_dir_utf8);
    load_nvda_client();
    start_speech_follower(from_start);
    if (requested_pid != 0) attach_game_process(requested_pid, "--pid");
    if (!game_process) find_game_process();
    create_command_file();
    prepare_menu_state();
    log_line("hotkey polling: F1, F2, F3, F4, F5, F6 and F7 while the game window is in front; commands go to "
             "cmd.txt");
    start_hook_thread(kHookReadyWaitMs);
    if (requested_pid == 0 && !game_process && !quiet) speak(L"Tolvane Speech ready", true);
    log_line("hang watchdog %s (%ld s)", hang_dump_enabled ? "on" : "off", (long)hang_seconds);

    loop_start = tick_now();
    loop_passes = 0;
    note_loop_pass(loop_start);
    last_speech_poll = 0;
    last_hang_check = loop_start;
    last_game_search = loop_start;
    game_timeout_armed = game_timeout > 0 && !game_process;
    keep_speech_watch(loop_start);
    run_main_loop();

    // Shutdown, in the order that frees the keyboard first and the lock last but one.
    menu_open = 0;
    stop_hook_thread(kHookQuitWaitMs);
    stop_speech_watch();
    finish_speech(kSapiFinishMs);
    unload_nvda_client();
    CoUninitialize();
    ReleaseMutex(instance_mutex);
    CloseHandle(instance_mutex);
    instance_mutex = NULL;
    log_line("bye (%lu lines spoken, %d hotkey presses forwarded, %d ignored)", (unsigned long)lines_spoken,
             hotkeys_forwarded, hotkeys_ignored);
    close_log();
    return 0;
}
