// The speech intake's place in the main loop: speech.txt is polled every 50 ms, and at once when
// the speech file watch reports that it changed; each poll is followed by the watchdog check and
// the watch's upkeep. Owns the poll's cadence. Main thread only: the run calls start_speech_steps
// at loop start, waits on speech_watch_event (watch.h) and calls run_speech_steps on every pass.
#pragma once
#include <stdint.h>

void start_speech_steps(uint64_t now);
// now: the pass tick; woke: the watch's event ended this pass's wait.
void run_speech_steps(uint64_t now, bool woke);

// Tests only: back to the start state (reset_bridge_state).
void reset_speech_steps(void);
