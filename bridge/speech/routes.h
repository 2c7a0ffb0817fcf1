// The speech routes and the backends: their numbers and one table each. A route is one way to
// speak: what it loads up front and lets go of at the end, whether it can take a text now, how it
// speaks, silences and ends, and what --say returns when it spoke. A backend is the order in which
// the routes are tried. The router (speech.cpp) reads nothing else about them, so a new route is a
// number and a row here, its functions in a file of their own, and its place in the backends'
// orders. Main thread only.
#pragma once
#include <windows.h>
#include "speech/speech.h"

// The routes' numbers; speech_route holds one, kRouteNone until a route has spoken. "No route" is
// 0, so the slots a short backend order leaves are none of themselves.
enum { kRouteNone = 0, kRouteNvda = 1, kRouteSapi = 2, kRouteLog = 3, kRouteJaws = 4 };
// The backends' numbers, those of the log lines; Backend= and --backend name them by their words.
enum { kBackendAuto = 0, kBackendNvda = 1, kBackendSapi = 2, kBackendLog = 3, kBackendJaws = 4 };

// ---- NVDA controller client (nvda.cpp); nvda_client_loaded and nvda_answers are in speech.h.
// Loads nvdaControllerClient.dll, else nvdaControllerClient64.dll, from exe_dir.
void load_nvda_client(void);
void unload_nvda_client(void);
bool nvda_speak(const wchar_t* text, bool interrupt);
bool nvda_alert(const wchar_t* text);
void nvda_cancel(void);
void nvda_braille(const wchar_t* text);
void reset_nvda(void);
// ---- JAWS API (jaws.cpp); the object is created on the first text that reaches it while JAWS's
// window is there, and let go when the window goes.
bool jaws_answers(void);
bool jaws_speak(const wchar_t* text, bool interrupt);
void jaws_cancel(void);
void jaws_braille(const wchar_t* text);
void jaws_finish(DWORD timeout_ms);
void reset_jaws(void);
// ---- SAPI voice (sapi.cpp); the voice is created on the first text that reaches it.
bool sapi_speak(const wchar_t* text, bool interrupt);
bool sapi_alert(const wchar_t* text);
void sapi_cancel(void);
void sapi_finish(DWORD timeout_ms);
void reset_sapi(void);
// ---- Log only (speech.cpp): takes every text and does nothing with it.
bool always_answers(void);
bool log_speak(const wchar_t* text, bool interrupt);

// Rows are written with the fields' names. An optional field left out is NULL or false; one
// without a default here must be given (the build warns of one left out).
struct speech_route_row {
    int route;                    // kRoute*
    const char* name;             // in "speech output now: %s"
    int say_exit_code;            // what --say returns when this route spoke
    void (*load)(void) = NULL;    // start_speech, whatever the backend: what it needs up front
    void (*unload)(void) = NULL;  // end_speech, after every route's finish: lets go of what load took
    bool (*answers)(void);                               // can take a text now
    bool (*speak)(const wchar_t* text, bool interrupt);  // true when it took the text
    // Speaks a text at once and resumes what it cut into afterwards; true when it took the text.
    // NULL: the route cannot resume, and an alert is spoken interrupting.
    bool (*alert)(const wchar_t* text) = NULL;
    void (*cancel)(void) = NULL;        // silences it when it speaks now; NULL: nothing to silence
    bool cancel_when_left = false;      // moving to another route silences this one
    bool cancel_on_every_stop = false;  // a stop line silences it under every backend that silences
                                        // anything, also one that does not use it (the player's
                                        // own screen reader)
    void (*finish)(DWORD timeout_ms) = NULL;      // end_speech: lets it finish, releases what speaking
                                                  // created
    void (*braille)(const wchar_t* text) = NULL;  // shows a text it took on the braille display while
                                                  // the Braille setting is on
    void (*reset)(void) = NULL;  // tests only: back to the start state
};

inline constexpr speech_route_row kSpeechRoutes[] = {
    {.route = kRouteNvda, .name = "NVDA", .say_exit_code = 0, .load = load_nvda_client,
     .unload = unload_nvda_client, .answers = nvda_answers, .speak = nvda_speak, .alert = nvda_alert,
     .cancel = nvda_cancel,
     .cancel_on_every_stop = true, .braille = nvda_braille, .reset = reset_nvda},
    {.route = kRouteSapi, .name = "SAPI", .say_exit_code = 10, .answers = always_answers, .speak = sapi_speak,
     .alert = sapi_alert, .cancel = sapi_cancel, .cancel_when_left = true, .finish = sapi_finish, .reset = reset_sapi},
    {.route = kRouteLog, .name = "log-only", .say_exit_code = 0, .answers = always_answers, .speak = log_speak},
    {.route = kRouteJaws, .name = "JAWS", .say_exit_code = 0, .answers = jaws_answers, .speak = jaws_speak,
     .cancel = jaws_cancel, .finish = jaws_finish, .braille = jaws_braille, .reset = reset_jaws},
};

// The longest order of routes a backend tries; a shorter one ends in kRouteNone.
constexpr int kBackendRoutesMax = 3;
struct speech_backend_row {
    int backend;          // kBackend*
    const wchar_t* word;  // Backend= and --backend, matched without regard to case
    int routes[kBackendRoutesMax];  // tried in this order; the first that takes a text speaks it
};

inline constexpr speech_backend_row kSpeechBackends[] = {
    {.backend = kBackendAuto, .word = L"auto", .routes = {kRouteNvda, kRouteJaws, kRouteSapi}},
    {.backend = kBackendNvda, .word = L"nvda", .routes = {kRouteNvda}},
    {.backend = kBackendSapi, .word = L"sapi", .routes = {kRouteSapi}},
    {.backend = kBackendLog, .word = L"log", .routes = {kRouteLog}},
    {.backend = kBackendJaws, .word = L"jaws", .routes = {kRouteJaws}},
};
