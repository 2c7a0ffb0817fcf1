// Every text goes through speak, which tries the routes of the configured backend in their order
// (routes.h) until one takes it; the first success after another route logs the change. Leaving
// a route that is silenced when left (SAPI) silences it, so two voices never talk at once;
// leaving a screen reader does not, as the player's screen reader is theirs.
#include "speech/speech.h"
#include <wchar.h>
#include "run/log.h"
#include "run/settings.h"
#include "run/state.h"
#include "run/text.h"
#include "speech/routes.h"

namespace {
// Only the first texts get a "say" line, so a chatty mod cannot fill the log.
constexpr uint32_t kSayLinesLogged = 2000;
// UTF-8 copy of a text for its "say" line, terminator included.
constexpr int kSayTextBytes = 2048;
// "0 auto,1 nvda,2 sapi,3 log,4 jaws" and its like: a few bytes a backend.
constexpr int kLegendBytes = 128;

// ---- Router state: main thread only, alive for the mode.
struct router_state {
    int route = kRouteNone;
    uint32_t lines_spoken = 0;
};
constinit router_state router;

const speech_route_row* route_row(int route) {
    for (const speech_route_row& row : kSpeechRoutes)
        if (row.route == route) return &row;
    return NULL;
}

// A backend number that no row has speaks through SAPI, as the settings never set one.
const speech_backend_row& backend_row(int number) {
    for (const speech_backend_row& row : kSpeechBackends)
        if (row.backend == number) return row;
    for (const speech_backend_row& row : kSpeechBackends)
        if (row.backend == kBackendSapi) return row;
    return kSpeechBackends[0];
}

// How a text is said, and the mark of its "say" line.
enum speech_kind { kQueued, kInterrupting, kAlert };
const char kSayMarks[] = {'+', '!', '^'};

void change_route(const speech_route_row& to) {
    if (router.route == to.route) return;
    log_line("speech output now: %s", to.name);
    const speech_route_row* from = route_row(router.route);
    if (from && from->cancel_when_left && from->cancel) from->cancel();
    router.route = to.route;
}
}  // namespace

const int& speech_route = router.route;
const uint32_t& lines_spoken = router.lines_spoken;

int backend_of_word(const wchar_t* word) {
    for (const speech_backend_row& row : kSpeechBackends)
        if (!_wcsicmp(word, row.word)) return row.backend;
    return kBackendAuto;
}

const wchar_t* backend_word(int number) { return backend_row(number).word; }

const char* backend_legend(void) {
    static char legend[kLegendBytes];
    if (legend[0]) return legend;
    int at = 0;
    for (const speech_backend_row& row : kSpeechBackends)
        if (at < kLegendBytes)
            at += format_narrow(legend + at, (size_t)(kLegendBytes - at), "%s%d %ls", at ? "," : "", row.backend,
                                row.word);
    return legend;
}

int say_exit_code(int route) {
    const speech_route_row* row = route_row(route);
    return row ? row->say_exit_code : kSayNotSpoken;
}

void start_speech(void) {
    for (const speech_route_row& row : kSpeechRoutes)
        if (row.load) row.load();
}

bool always_answers(void) { return true; }

bool log_speak(const wchar_t*, bool) { return true; }

namespace {
void say(const wchar_t* text, speech_kind kind) {
    if (!text) text = L"";
    router.lines_spoken++;
    if (router.lines_spoken <= kSayLinesLogged) {
        char utf8[kSayTextBytes];
        to_utf8(text, utf8, kSayTextBytes);
        log_line("say%c: %s", kSayMarks[kind], utf8);
    }
    // A text no route takes is dropped: the backend asked for those routes alone.
    for (int route : backend_row(backend).routes) {
        const speech_route_row* row = route_row(route);
        if (!row || !row->answers()) continue;
        bool took = kind == kAlert && row->alert ? row->alert(text) : row->speak(text, kind != kQueued);
        if (!took) continue;
        change_route(*row);
        if (braille_enabled && row->braille) row->braille(text);
        return;
    }
}
}  // namespace

void speak(const wchar_t* text, bool interrupt) { say(text, interrupt ? kInterrupting : kQueued); }

void speak_alert(const wchar_t* text) { say(text, kAlert); }

void stop_speech(void) {
    // A backend with nothing to silence among its routes (log only) speaks nowhere, and stops
    // nothing; any other silences its own routes and those silenced on every stop, and leaves
    // alone a route it never uses (JAWS would be created only to be told to stop).
    const speech_backend_row& configured = backend_row(backend);
    bool silences = false;
    for (int route : configured.routes) {
        const speech_route_row* row = route_row(route);
        if (row && row->cancel) silences = true;
    }
    if (!silences) return;
    for (const speech_route_row& row : kSpeechRoutes) {
        if (!row.cancel) continue;
        bool used = row.cancel_on_every_stop;
        for (int route : configured.routes) used = used || route == row.route;
        if (used) row.cancel();
    }
}

void end_speech(DWORD finish_ms) {
    for (const speech_route_row& row : kSpeechRoutes)
        if (row.finish) row.finish(finish_ms);
    for (const speech_route_row& row : kSpeechRoutes)
        if (row.unload) row.unload();
}

void reset_speech(void) {
    for (const speech_route_row& row : kSpeechRoutes)
        if (row.reset) row.reset();
    renew(router);
}
