// The one-shot modes (--check, --say) and the refusal of a mistyped command line. No state of
// their own. Called by bridge_main on the main thread between start_com and end_com; each opens
// the log for appending, finishes what it spoke with and closes the log before it returns.
#pragma once

// A command line with an unknown argument and no --pid was typed by hand and likely mistyped: a
// resident run would empty the log the player may still need, so none starts.
constexpr int kUnknownOptionExit = 2;

int run_check_mode(void);  // 0 NVDA answers, 20 no client library, 21 NVDA does not answer
int run_say_mode(void);    // by the route that spoke: 0 NVDA, JAWS or log-only, 10 SAPI, 11 not spoken
int run_nothing_done(void);  // appends "nothing done" to the log; kUnknownOptionExit
// One "unknown option ignored" line per unknown argument; each mode calls it after its first line.
void log_unknown_options(void);
