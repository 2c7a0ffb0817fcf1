// The speech intake's place in the main loop: speech.txt is polled every 50 ms, and at once when
// the speech file watch reports that it changed; each poll is followed by the watchdog check and
// the watch's upkeep. A poll reads and speaks for about 20 ms at most, so that a burst of lines
// never holds the loop; while the file has more, the next pass polls again at once. Owns the
// poll's cadence. Main thread only: the run calls start_speech_steps at loop start, waits on
// speech_watch_event (watch.h), or not at all while speech_intake_behind, calls
// run_speech_steps on every pass, and stop_speech_steps at shutdown.
#pragma once
#include <stdint.h>

// Reading and speaking in one pass; the hotkeys, the menu keys, the game's exit and the hang
// watch wait for the pass to end.
constexpr uint64_t kSpeechPassBudgetMs = 20;

// Starts the speech file watch too; stop_speech_steps ends it.
void start_speech_steps(uint64_t now);
void stop_speech_steps(void);
// now: the pass tick; woke: the watch's event ended this pass's wait.
void run_speech_steps(uint64_t now, bool woke);
// True while the last poll stopped before the end of the file: the next pass should come at once.
bool speech_intake_behind(void);

// Tests only: back to the start state (reset_bridge_state).
void reset_speech_steps(void);
