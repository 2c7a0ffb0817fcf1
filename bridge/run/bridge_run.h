// The resident run: start-up, the main loop that drives every periodic step, and shutdown.
// Owns the run's timers and the instance mutex while it runs. Main thread only; called by
// wWinMain once the instance lock is held.
#pragma once
#include <windows.h>
#include <stdint.h>

// Runs until the game exits or no game turns up within the game timeout; releases and closes
// the mutex and returns the exit code 0.
int run_bridge(HANDLE instance_mutex);
// Tests only: passes of the main loop since the last run began (read once run_bridge returned).
uint64_t main_loop_passes(void);
