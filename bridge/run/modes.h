// The one-shot modes (--check, --say). No state of their own. Called by bridge_main on the main
// thread between start_com and end_com; each opens the log for appending, finishes what it
// spoke with and closes the log before it returns.
#pragma once

int run_check_mode(void);  // 0 NVDA answers, 20 no client library, 21 NVDA does not answer
int run_say_mode(void);    // by the route that spoke: 0 NVDA, JAWS or log-only, 10 SAPI, 11 not spoken
