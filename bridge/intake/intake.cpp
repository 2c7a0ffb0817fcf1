#include "intake/intake.h"
#include "intake/follower.h"
#include "intake/protocol.h"
#include "intake/watch.h"
#include "run/state.h"

namespace {
constexpr uint64_t kSpeechPollMs = 50;

// ---- Step state: main thread only.
struct steps_state {
    uint64_t last_speech_poll = 0;  // 0: the first pass polls
    bool behind = false;            // the last poll left bytes it had measured unread
};
constinit steps_state steps;
}  // namespace

void start_speech_steps(uint64_t now) {
    renew(steps);
    keep_speech_watch(now);
}

void run_speech_steps(uint64_t now, bool woke) {
    // The report is taken whenever it came, so the watch asks for the next one.
    const bool changed = woke && take_speech_watch();
    if (!changed && !steps.behind && now - steps.last_speech_poll < kSpeechPollMs) return;
    steps.behind = poll_speech_file(kSpeechPassBudgetMs);
    steps.last_speech_poll = now;
    check_speech_watchdog();
    keep_speech_watch(now);
}

void stop_speech_steps(void) { stop_speech_watch(); }

bool speech_intake_behind(void) { return steps.behind; }

void reset_speech_steps(void) { renew(steps); }
