// Every text goes through speak. Under backend auto NVDA is asked before each text, with no
// cached answer, so speech follows the screen reader as it comes and goes; SAPI is the fallback
// and its voice is created at most once a run.
#include "speech/speech.h"
#include <objbase.h>
#include <sapi.h>
#include "run/libraries.h"
#include "run/log.h"
#include "run/settings.h"

int speech_route = kRouteNone;
uint32_t lines_spoken = 0;

namespace {
// MinGW's import libraries lack these two; named apart from the SDK's so both toolchains link.
const CLSID kClsidSpVoice = {0x96749377, 0x3391, 0x11D2, {0x9E, 0xE3, 0x00, 0xC0, 0x4F, 0x79, 0x73, 0x96}};
const IID kIidISpVoice = {0x6C44DF74, 0x72B9, 0x4992, {0xA1, 0xEC, 0xEF, 0x99, 0x6E, 0x04, 0x22, 0xD4}};

// Speak flags: asynchronous and never parsed as XML; interrupting ones purge first.
constexpr DWORD kSpeakQueued = SPF_ASYNC | SPF_IS_NOT_XML;                          // 17
constexpr DWORD kSpeakInterrupting = SPF_ASYNC | SPF_PURGEBEFORESPEAK | SPF_IS_NOT_XML;  // 19
// Only the first texts get a "say" line, so a chatty mod cannot fill the log.
constexpr uint32_t kSayLinesLogged = 2000;
// UTF-8 copy of a text for its "say" line, terminator included.
constexpr int kSayTextBytes = 2048;

typedef DWORD(WINAPI* nvda_status_fn)(void);
typedef DWORD(WINAPI* nvda_speak_fn)(const wchar_t* text);

HMODULE nvda_library = NULL;
nvda_status_fn nvda_test_if_running = NULL;
nvda_status_fn nvda_cancel_speech = NULL;
nvda_speak_fn nvda_speak_text = NULL;
ISpVoice* sapi_voice = NULL;
bool sapi_attempted = false;

template <typename T>
T bind_export(HMODULE library, const char* name) {
    return reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}

void purge_voice(void) {
    if (sapi_voice) sapi_voice->Speak(NULL, SPF_PURGEBEFORESPEAK, NULL);
}

// Moves to NVDA or log-only; leaving SAPI silences what the voice was still saying.
void change_route(int route) {
    if (speech_route == route) return;
    log_line("speech output now: %s", route == kRouteNvda ? "NVDA" : "log-only");
    if (speech_route == kRouteSapi) purge_voice();
    speech_route = route;
}

// True when NVDA accepted the text.
bool speak_nvda(const wchar_t* text, bool interrupt) {
    if (interrupt) nvda_cancel_speech();
    DWORD status = nvda_speak_text(text);
    if (status == 0) {
        change_route(kRouteNvda);
        return true;
    }
    log_line("NVDA: speakText returned %lu", status);
    return false;
}

void speak_sapi(const wchar_t* text, bool interrupt) {
    if (!sapi_voice) {
        if (sapi_attempted) return;
        sapi_attempted = true;
        ISpVoice* voice = NULL;
        HRESULT hr = CoCreateInstance(kClsidSpVoice, NULL, CLSCTX_ALL, kIidISpVoice, (void**)&voice);
        if (FAILED(hr) || !voice) {
            log_line("SAPI: CoCreateInstance failed hr=0x%08lx", (unsigned long)hr);
            return;
        }
        sapi_voice = voice;
        log_line("SAPI: voice created");
    }
    HRESULT hr = sapi_voice->Speak(text, interrupt ? kSpeakInterrupting : kSpeakQueued, NULL);
    if (FAILED(hr)) {
        log_line("SAPI: Speak failed hr=0x%08lx", (unsigned long)hr);
        return;
    }
    if (speech_route != kRouteSapi) {
        log_line("speech output now: %s", "SAPI");
        speech_route = kRouteSapi;
    }
}
}  // namespace

void load_nvda_client(void) {
    if (nvda_library) return;
    static const wchar_t* const names[] = {L"nvdaControllerClient.dll", L"nvdaControllerClient64.dll"};
    for (const wchar_t* name : names) {
        wchar_t path[kPathCap];
        format_wide(path, kPathCap, L"%ls\\%ls", exe_dir, name);
        if (GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES) continue;
        HMODULE library = load_library_beside(path);
        if (!library) {
            DWORD error = GetLastError();
            log_line("NVDA: LoadLibrary(%ls) failed, error %lu", name, error);
            continue;
        }
        nvda_test_if_running = bind_export<nvda_status_fn>(library, "nvdaController_testIfRunning");
        nvda_cancel_speech = bind_export<nvda_status_fn>(library, "nvdaController_cancelSpeech");
        nvda_speak_text = bind_export<nvda_speak_fn>(library, "nvdaController_speakText");
        if (!nvda_test_if_running || !nvda_cancel_speech || !nvda_speak_text) {
            log_line("NVDA: %ls lacks expected exports", name);
            FreeLibrary(library);
            continue;
        }
        nvda_library = library;
        log_line("NVDA: loaded %ls", name);
        return;
    }
    log_line("NVDA: controller client DLL not available; SAPI only");
}

bool nvda_client_loaded(void) { return nvda_library != NULL; }

bool nvda_answers(void) { return nvda_library && nvda_test_if_running() == 0; }

void unload_nvda_client(void) {
    if (nvda_library) FreeLibrary(nvda_library);
    nvda_library = NULL;
}

void speak(const wchar_t* text, bool interrupt) {
    if (!text) text = L"";
    lines_spoken++;
    if (lines_spoken <= kSayLinesLogged) {
        char utf8[kSayTextBytes];
        to_utf8(text, utf8, kSayTextBytes);
        log_line("say%s: %s", interrupt ? "!" : "+", utf8);
    }
    switch (backend) {
    case kBackendLog:
        change_route(kRouteLog);
        return;
    case kBackendAuto:
    case kBackendNvda:
        if (nvda_answers() && speak_nvda(text, interrupt)) return;
        if (backend == kBackendNvda) return;  // dropped: NVDA alone was asked for
        speak_sapi(text, interrupt);
        return;
    default:
        speak_sapi(text, interrupt);
        return;
    }
}

void stop_speech(void) {
    if (backend == kBackendLog) return;
    if (nvda_answers()) nvda_cancel_speech();
    purge_voice();
}

void finish_speech(DWORD timeout_ms) {
    if (speech_route == kRouteSapi && sapi_voice) sapi_voice->WaitUntilDone(timeout_ms);
    if (sapi_voice) sapi_voice->Release();
    sapi_voice = NULL;
}

void reset_speech(void) {
    finish_speech(0);
    unload_nvda_client();
    sapi_attempted = false;
    speech_route = kRouteNone;
    lines_spoken = 0;
}
