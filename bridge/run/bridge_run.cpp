// The resident run is a single-threaded scheduler on the main thread: each pass waits at most
// 20 ms on the game process, the speech file watch and the message queue, pumps messages, reads
// the tick once and runs the steps that are due, in a fixed order. The speech file is polled
// every 50 ms, and at once when the watch reports that it changed; the watch bounds its own
// waits and drops out when empty reports come at once, so it can neither stop nor spin the loop.
// A poll reads and speaks for about 20 ms at most; while it leaves lines behind, the next pass
// only looks at the handles and the queue (a wait of 0 ms) and polls again.
// The only other thread is the keyboard hook thread, started here and stopped at shutdown; the
// run never waits for it longer than 2000 ms at start-up or 1500 ms at the end.
#include "run/bridge_run.h"
#include <windows.h>
#include "game/game_process.h"
#include "hang/hang_watchdog.h"
#include "intake/follower.h"
#include "intake/intake.h"
#include "intake/protocol.h"
#include "intake/watch.h"
#include "keys/command_file.h"
#include "keys/hook_thread.h"
#include "keys/hotkeys.h"
#include "keys/menu_mode.h"
#include "run/clock.h"
#include "run/log.h"
#include "run/modes.h"
#include "run/settings.h"
#include "run/state.h"
#include "run/text.h"
#include "speech/speech.h"

namespace {
constexpr DWORD kPassWaitMs = 20;
constexpr uint64_t kHangCheckMs = 2000;
constexpr uint64_t kGameSearchMs = 2000;
constexpr DWORD kHookReadyWaitMs = 2000;
constexpr DWORD kHookQuitWaitMs = 1500;
// What is still being spoken at the end gets this long to finish (only the voice waits).
constexpr DWORD kSpeechFinishMs = 3000;

// ---- Run state: main thread only, from start-up to shutdown.
struct run_state {
    uint64_t loop_start = 0;
    uint64_t last_hang_check = 0;
    uint64_t last_game_search = 0;
    bool game_timeout_armed = false;
    uint64_t loop_passes = 0;
    uint64_t longest_pass = 0;  // ms from a pass's tick to its end
};
constinit run_state run;

// The handles of one pass's wait, each found again by the slot it was given, never by its place
// in the list. The game is added first: when several are signalled the wait reports the lowest,
// so the game's exit wins.
constexpr DWORD kWaitSlotsMax = 2;
constexpr DWORD kNotWaited = MAXDWORD;
struct wait_list {
    HANDLE handles[kWaitSlotsMax];
    DWORD count;
};

DWORD wait_on(wait_list* list, HANDLE handle) {
    if (!handle || list->count == kWaitSlotsMax) return kNotWaited;
    list->handles[list->count] = handle;
    return list->count++;
}

bool woken_by(DWORD waited, DWORD slot) { return slot != kNotWaited && waited == WAIT_OBJECT_0 + slot; }

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
        wait_list waits = {};
        const DWORD game_slot = wait_on(&waits, game_process);
        const DWORD speech_slot = wait_on(&waits, speech_watch_event());
        const DWORD wait_ms = speech_intake_behind() ? 0 : kPassWaitMs;
        const DWORD waited = MsgWaitForMultipleObjects(waits.count, waits.count ? waits.handles : NULL, FALSE,
                                                       wait_ms, QS_ALLINPUT);
        if (woken_by(waited, game_slot)) {
            log_line("game process %lu exited; quitting", game_pid.load(std::memory_order_acquire));
            // Lines the mod wrote just before the game ended are still spoken, all of them.
            poll_speech_file(kReadToEnd);
            return;
        }
        pump_messages();
        run.loop_passes++;
        const uint64_t now = tick_now();
        note_loop_pass(now);
        if (game_process) {
            poll_hotkeys();
            run_menu_steps(now);
            tick_startup_announcement(now);
        }
        run_speech_steps(now, woken_by(waited, speech_slot));
        if (game_process && now - run.last_hang_check >= kHangCheckMs) {
            run.last_hang_check = now;
            check_game_hang();
        }
        if (!game_process && now - run.last_game_search >= kGameSearchMs) {
            int found = find_game_process();
            run.last_game_search = now;
            if (found) {
                run.game_timeout_armed = false;
            } else if (run.game_timeout_armed && now - run.loop_start > timeout_ms) {
                log_line("no game process seen in %ld s; quitting", (long)game_timeout);
                return;
            }
        }
        const uint64_t took = ticks_since(tick_now(), now);
        if (took > run.longest_pass) run.longest_pass = took;
    }
}
}  // namespace

uint64_t main_loop_passes(void) { return run.loop_passes; }
uint64_t longest_main_loop_pass(void) { return run.longest_pass; }

int run_bridge(void) {
    renew(run);
    open_log(false);
    char file_utf8[kPathUtf8Bytes], game_dir_utf8[kPathUtf8Bytes];
    to_utf8(speech_file_path, file_utf8, kPathUtf8Bytes);
    to_utf8(game_dir, game_dir_utf8, kPathUtf8Bytes);
    log_line("TolvaneSpeech " TOLVANE_VERSION " started, pid %lu, backend %d (%s). file=%s gamedir=%s",
             GetCurrentProcessId(), backend, backend_legend(), file_utf8, game_dir_utf8);
    log_unknown_options();
    start_speech();
    start_speech_follower(from_start);
    if (requested_pid != 0) attach_game_process(requested_pid, "--pid");
    if (!game_process) find_game_process();
    create_command_file();
    prepare_menu_state();
    start_hotkey_polling();
    start_hook_thread(kHookReadyWaitMs);
    if (requested_pid == 0 && !game_process && !quiet) speak(L"Tolvane Speech ready", true);
    log_line("hang watchdog %s (%ld s)", hang_dump_enabled ? "on" : "off", (long)hang_seconds);

    run.loop_start = tick_now();
    note_loop_pass(run.loop_start);
    run.last_hang_check = run.loop_start;
    run.last_game_search = run.loop_start;
    run.game_timeout_armed = game_timeout > 0 && !game_process;
    start_speech_steps(run.loop_start);
    run_main_loop();

    // Shutdown, in the order that frees the keyboard first. The log is closed last: bridge_main
    // ends COM and releases the lock only after that.
    end_menu_mode();
    stop_hook_thread(kHookQuitWaitMs);
    stop_speech_steps();
    end_speech(kSpeechFinishMs);
    log_line("bye (%lu lines spoken, %d hotkey presses forwarded, %d ignored)", (unsigned long)lines_spoken,
             hotkeys_forwarded, hotkeys_ignored);
    close_log();
    return 0;
}
