// The resident run: start-up, the main loop that drives every periodic step, and shutdown.
// Owns the run's timers and its main loop's wait. Main thread only; called by bridge_main once
// COM is started and the instance lock is held, both of which bridge_main undoes after it.
#pragma once
#include <stdint.h>

// Runs until the game exits or no game turns up within the game timeout; opens the log and
// closes it before it returns the exit code 0, with the lock still held.
int run_bridge(void);
// Tests only: passes of the main loop since the last run began (read once run_bridge returned).
uint64_t main_loop_passes(void);
// Tests only: the longest pass of that run in ms, from its tick to its end (the wait excluded).
uint64_t longest_main_loop_pass(void);
