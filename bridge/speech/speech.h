// Speech output router: speaks a text through the NVDA controller client, a SAPI voice or only
// the log, following backend and what answers. Owns the client library and its entry points,
// the voice, speech_route and lines_spoken. Main thread only (a single-threaded COM apartment).
// Called by the modes, the run, the line protocol and the hang watchdog.
#pragma once
#include <windows.h>
#include <stdint.h>

enum { kRouteNone = -1, kRouteNvda = 1, kRouteSapi = 2, kRouteLog = 3 };

extern int speech_route;        // route that last worked, kRoute*
extern uint32_t lines_spoken;   // calls of speak, whatever became of them

// Loads nvdaControllerClient.dll, else nvdaControllerClient64.dll, from exe_dir.
void load_nvda_client(void);
bool nvda_client_loaded(void);
bool nvda_answers(void);
void unload_nvda_client(void);

// Says text (UTF-16, NUL-terminated); interrupt cuts off current speech, else it queues.
// Returns at once and keeps no pointer to text.
void speak(const wchar_t* text, bool interrupt);
// Silences NVDA (when it answers) and the voice; the route stays.
void stop_speech(void);
// Lets a SAPI voice finish for up to timeout_ms, then releases the voice.
void finish_speech(DWORD timeout_ms);

// Back to the start state: client unloaded, no voice, route none, count 0 (reset_bridge_state).
void reset_speech(void);
