// The speech routes and the backends, one table each. A route is one way to speak: what it loads
// up front, whether it can take a text now, how it speaks, silences and ends, and what --say
// returns when it spoke. A backend is the order in which the routes are tried. The router
// (speech.cpp) reads nothing else about them, so a new route is a row here, its functions in a
// file of their own, and its place in the backends' orders. Main thread only.
#pragma once
#include <windows.h>
#include "run/settings.h"
#include "speech/speech.h"

// ---- NVDA controller client (nvda.cpp); load_nvda_client and nvda_answers are in speech.h.
bool nvda_speak(const wchar_t* text, bool interrupt);
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
void sapi_cancel(void);
void sapi_finish(DWORD timeout_ms);
void reset_sapi(void);
// ---- Log only (speech.cpp): takes every text and does nothing with it.
bool always_answers(void);
bool log_speak(const wchar_t* text, bool interrupt);

struct speech_route_row {
    int route;           // kRoute*
    const char* name;    // in "speech output now: %s"
    int say_exit_code;   // what --say returns when this route spoke
    void (*load)(void);  // at start-up and in --say, whatever the backend; NULL: nothing up front
    bool (*answers)(void);                               // can take a text now
    bool (*speak)(const wchar_t* text, bool interrupt);  // true when it took the text
    void (*cancel)(void);      // silences it when it speaks now; NULL: nothing to silence
    bool cancel_when_left;     // moving to another route silences this one
    bool cancel_on_every_stop; // a stop line silences it under every backend that silences anything,
                               // also one that does not use it (the player's own screen reader)
    void (*finish)(DWORD timeout_ms);        // end of a mode: let it finish, release it; NULL: nothing
    void (*braille)(const wchar_t* text);    // shows a text it took on the braille display while the
                                             // Braille setting is on; NULL: no braille
    void (*reset)(void);       // tests only: back to the start state
};

inline constexpr speech_route_row kSpeechRoutes[] = {
    {kRouteNvda, "NVDA", 0, load_nvda_client, nvda_answers, nvda_speak, nvda_cancel, false, true, NULL,
     nvda_braille, reset_nvda},
    {kRouteSapi, "SAPI", 10, NULL, always_answers, sapi_speak, sapi_cancel, true, false, sapi_finish, NULL,
     reset_sapi},
    {kRouteLog, "log-only", 0, NULL, always_answers, log_speak, NULL, false, false, NULL, NULL, NULL},
    {kRouteJaws, "JAWS", 0, NULL, jaws_answers, jaws_speak, jaws_cancel, false, false, jaws_finish, jaws_braille,
     reset_jaws},
};

// The longest order of routes a backend tries; the slots a shorter one leaves are 0, no route.
constexpr int kBackendRoutesMax = 3;
struct speech_backend_row {
    int backend;        // kBackend*, the number of the ini and the log lines
    const wchar_t* word;  // Backend= and --backend, matched without regard to case
    int routes[kBackendRoutesMax];  // tried in this order; the first that takes a text speaks it
};

inline constexpr speech_backend_row kSpeechBackends[] = {
    {kBackendAuto, L"auto", {kRouteNvda, kRouteJaws, kRouteSapi}},
    {kBackendNvda, L"nvda", {kRouteNvda}},
    {kBackendSapi, L"sapi", {kRouteSapi}},
    {kBackendLog, L"log", {kRouteLog}},
    {kBackendJaws, L"jaws", {kRouteJaws}},
};
