// The SAPI route: the Windows voice, created on the first text that reaches it and at most once a
// run. It speaks asynchronously, so speak never waits for it; only the end of a mode does.
#include "speech/routes.h"
#include <objbase.h>
#include <sapi.h>
#include "run/log.h"
#include "run/state.h"

namespace {
// MinGW's import libraries lack these two; named apart from the SDK's so both toolchains link.
const CLSID kClsidSpVoice = {0x96749377, 0x3391, 0x11D2, {0x9E, 0xE3, 0x00, 0xC0, 0x4F, 0x79, 0x73, 0x96}};
const IID kIidISpVoice = {0x6C44DF74, 0x72B9, 0x4992, {0xA1, 0xEC, 0xEF, 0x99, 0x6E, 0x04, 0x22, 0xD4}};

// Speak flags: asynchronous and never parsed as XML; interrupting ones purge first.
constexpr DWORD kSpeakQueued = SPF_ASYNC | SPF_IS_NOT_XML;                               // 17
constexpr DWORD kSpeakInterrupting = SPF_ASYNC | SPF_PURGEBEFORESPEAK | SPF_IS_NOT_XML;  // 19

// ---- Voice state: main thread only, alive for the mode.
struct voice_state {
    ISpVoice* voice = NULL;
    bool attempted = false;  // set just before the one creation attempt of the run
};
constinit voice_state sapi;
}  // namespace

bool sapi_speak(const wchar_t* text, bool interrupt) {
    if (!sapi.voice) {
        if (sapi.attempted) return false;
        sapi.attempted = true;
        ISpVoice* voice = NULL;
        HRESULT hr = CoCreateInstance(kClsidSpVoice, NULL, CLSCTX_ALL, kIidISpVoice, (void**)&voice);
        if (FAILED(hr) || !voice) {
            log_line("SAPI: CoCreateInstance failed hr=0x%08lx", (unsigned long)hr);
            return false;
        }
        sapi.voice = voice;
        log_line("SAPI: voice created");
    }
    HRESULT hr = sapi.voice->Speak(text, interrupt ? kSpeakInterrupting : kSpeakQueued, NULL);
    if (FAILED(hr)) {
        log_line("SAPI: Speak failed hr=0x%08lx", (unsigned long)hr);
        return false;
    }
    return true;
}

bool sapi_alert(const wchar_t* text) { return sapi_speak(text, true); }

void sapi_cancel(void) {
    if (sapi.voice) sapi.voice->Speak(NULL, SPF_PURGEBEFORESPEAK, NULL);
}

void sapi_finish(DWORD timeout_ms) {
    if (speech_route == kRouteSapi && sapi.voice) sapi.voice->WaitUntilDone(timeout_ms);
    if (sapi.voice) sapi.voice->Release();
    sapi.voice = NULL;
}

void reset_sapi(void) {
    sapi_finish(0);
    renew(sapi);
}
