// COM on the main thread: the single-threaded apartment in which the SAPI voice (and any other
// COM object of a speech route) lives. Owns whether COM was started. Main thread only: bridge_main
// starts it before any mode, and each mode ends it where its shutdown puts it (after the speech
// routes are finished, before the lock and the log go); the two lock failures never do.
#pragma once

void start_com(void);
// Ends what start_com started; a second call does nothing.
void end_com(void);
