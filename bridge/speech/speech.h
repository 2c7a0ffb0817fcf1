// Speech output router: speaks a text through the first route of the configured backend that
// takes it (the NVDA controller client, the JAWS API, a SAPI voice, or only the log), shows it on
// the braille display when a screen reader took it, and remembers which route last worked. The
// routes, the backends and their numbers are tables (routes.h). Owns speech_route and
// lines_spoken; each route owns its own library or object. Main thread only (a single-threaded
// COM apartment). Called by the modes, the run, the line protocol and the hang watchdog.
#pragma once
#include <windows.h>
#include <stdint.h>

// What --say returns when no route has worked.
constexpr int kSayNotSpoken = 11;

// The route that last worked, kRoute*, never set back to none. Written by speak on the main
// thread; read there by --say for its exit code, and by tests.
extern const int& speech_route;
// Calls of speak, whatever became of them; read by the run for its closing line.
extern const uint32_t& lines_spoken;

// The backend a word names, without regard to case; any other word means auto (settings).
int backend_of_word(const wchar_t* word);
// The word of a backend number (settings: the word of the default).
const wchar_t* backend_word(int backend);
// "0 auto,1 nvda,2 sapi,3 log,4 jaws": the backends for the start line and the --say header.
const char* backend_legend(void);
// --say's exit code when route spoke last; kSayNotSpoken for none.
int say_exit_code(int route);

// The start of a mode that speaks (the run, --say, --check): loads what the routes load up front
// (the NVDA client), whatever the backend.
void start_speech(void);
// The end of that mode, before COM ends: when the voice spoke last, gives it up to finish_ms to
// finish, then releases what the routes created and unloads what they loaded.
void end_speech(DWORD finish_ms);
// Whether the NVDA client was loaded, and whether NVDA answers through it now (--check).
bool nvda_client_loaded(void);
bool nvda_answers(void);

// Says text (UTF-16, NUL-terminated); interrupt cuts off current speech, else it queues.
// Returns at once and keeps no pointer to text.
void speak(const wchar_t* text, bool interrupt);
// Says text at once; where the route can (NVDA's priority speech, the alert voice), what it cut
// into resumes afterwards, else it interrupts. Counted and logged as any text ("say^:").
void speak_alert(const wchar_t* text);
// Silences the routes of the configured backend that speak now (NVDA when it answers, JAWS when it
// runs, the voice), and NVDA under every backend but log; the route stays.
void stop_speech(void);

// Tests only: back to the start state: client unloaded, no JAWS object, no voice, route none,
// count 0 (reset_bridge_state).
void reset_speech(void);
