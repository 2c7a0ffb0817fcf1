// The one-shot modes (--check, --say) and the instance lock of the resident run.
// Called by wWinMain on the main thread after COM is initialised. No state of its own.
#pragma once
#include <windows.h>

int run_check_mode(void);  // 0 NVDA answers, 20 no client library, 21 NVDA does not answer
int run_say_mode(void);    // 0 NVDA or log-only, 10 SAPI, 11 not spoken

// Takes the instance mutex instance_name: returns 0 and the held handle in *mutex, or the exit
// code 2 (mutex not created) or 1 (held elsewhere for 4000 ms). Nothing is logged either way.
int acquire_instance_lock(HANDLE* mutex);
