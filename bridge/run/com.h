// COM on the main thread: the single-threaded apartment in which the SAPI voice (and any other
// COM object of a speech route) lives. Owns whether COM was started. Main thread only: bridge_main
// starts it before any mode and ends it after the mode returned, so after the speech routes were
// finished, also when the instance lock was refused.
#pragma once

void start_com(void);
// Ends what start_com started; a second call does nothing.
void end_com(void);
