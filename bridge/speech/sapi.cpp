// The SAPI route: the Windows voice, created on the first text that reaches it and at most once a
// run, and a second voice at alert priority for alerts, created on the first alert: SAPI pauses
// the first while the second speaks. Both take the player's Voice, Rate and Volume. They speak
// asynchronously, so speak never waits for them; only the end of a mode does.
#include "speech/routes.h"
#include <objbase.h>
#include <sapi.h>
#include <wctype.h>
#include "run/clock.h"
#include "run/log.h"
#include "run/settings.h"
#include "run/state.h"
#include "run/text.h"

namespace {
// MinGW's import libraries lack these; named apart from the SDK's so both toolchains link.
const CLSID kClsidSpVoice = {0x96749377, 0x3391, 0x11D2, {0x9E, 0xE3, 0x00, 0xC0, 0x4F, 0x79, 0x73, 0x96}};
const IID kIidISpVoice = {0x6C44DF74, 0x72B9, 0x4992, {0xA1, 0xEC, 0xEF, 0x99, 0x6E, 0x04, 0x22, 0xD4}};
const CLSID kClsidSpObjectTokenCategory = {0xA910187F, 0x0C7A, 0x45AC, {0x92, 0xCC, 0x59, 0xED, 0xAF, 0xB7, 0x7B, 0x53}};
const IID kIidISpObjectTokenCategory = {0x2D3D3845, 0x39AF, 0x4850, {0xBB, 0xF9, 0x40, 0xB4, 0x97, 0x80, 0x01, 0x1D}};
const wchar_t kVoicesCategory[] = L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Speech\\Voices";
const wchar_t kVoiceTokensKey[] = L"SOFTWARE\\Microsoft\\Speech\\Voices\\Tokens\\";

// Speak flags: asynchronous and never parsed as XML; interrupting ones purge first.
constexpr DWORD kSpeakQueued = SPF_ASYNC | SPF_IS_NOT_XML;                               // 17
constexpr DWORD kSpeakInterrupting = SPF_ASYNC | SPF_PURGEBEFORESPEAK | SPF_IS_NOT_XML;  // 19
// The voice's own speed and volume: a setting at these leaves the voice as Windows made it.
constexpr int kOwnRate = 0;
constexpr int kFullVolume = 100;
// A voice's name as the log gives it; a longer one is cut.
constexpr int kVoiceNameCap = 128;

// ---- Voice state: main thread only, alive for the mode.
struct voice_state {
    ISpVoice* voice = NULL;
    ISpVoice* alert_voice = NULL;   // at SPVPRI_ALERT; NULL until the first alert
    ISpObjectToken* token = NULL;   // the voice the Voice setting found; NULL: Windows' default
    bool attempted = false;         // set just before the one creation attempt of the run
    bool alert_attempted = false;   // the same for the alert voice
};
constinit voice_state sapi;

// The token's name: its default string value. SAPI without GetStringValue (Wine's) still keeps
// it as the default value of the token's key, whose id may then lack the hive.
bool token_name(ISpObjectToken* token, wchar_t* out, int cap) {
    wchar_t* value = NULL;
    if (SUCCEEDED(token->GetStringValue(NULL, &value)) && value) {
        format_wide(out, (size_t)cap, L"%ls", value);
        CoTaskMemFree(value);
        return out[0] != 0;
    }
    wchar_t* id = NULL;
    if (FAILED(token->GetId(&id)) || !id) return false;
    const wchar_t kMachine[] = L"HKEY_LOCAL_MACHINE\\", kUser[] = L"HKEY_CURRENT_USER\\";
    HKEY root = HKEY_LOCAL_MACHINE;
    wchar_t key[kPathCap];
    if (!_wcsnicmp(id, kMachine, wcslen(kMachine))) {
        format_wide(key, kPathCap, L"%ls", id + wcslen(kMachine));
    } else if (!_wcsnicmp(id, kUser, wcslen(kUser))) {
        root = HKEY_CURRENT_USER;
        format_wide(key, kPathCap, L"%ls", id + wcslen(kUser));
    } else {
        format_wide(key, kPathCap, L"%ls%ls", kVoiceTokensKey, id);
    }
    CoTaskMemFree(id);
    DWORD bytes = (DWORD)(cap * sizeof(wchar_t));
    return RegGetValueW(root, key, NULL, RRF_RT_REG_SZ, NULL, out, &bytes) == ERROR_SUCCESS && out[0];
}

bool contains_ignoring_case(const wchar_t* text, const wchar_t* part) {
    for (; *text; text++) {
        int i = 0;
        while (part[i] && text[i] && towlower(text[i]) == towlower(part[i])) i++;
        if (!part[i]) return true;
    }
    return false;
}

// The first installed voice, in the system's order, whose name holds the Voice setting; NULL
// (logged) when none does.
ISpObjectToken* find_voice_token(void) {
    ISpObjectTokenCategory* category = NULL;
    IEnumSpObjectTokens* tokens = NULL;
    ISpObjectToken* found = NULL;
    HRESULT hr = CoCreateInstance(kClsidSpObjectTokenCategory, NULL, CLSCTX_ALL, kIidISpObjectTokenCategory,
                                  (void**)&category);
    if (SUCCEEDED(hr) && category) hr = category->SetId(kVoicesCategory, FALSE);
    if (SUCCEEDED(hr) && category) hr = category->EnumTokens(NULL, NULL, &tokens);
    if (SUCCEEDED(hr) && tokens) {
        ISpObjectToken* token = NULL;
        ULONG fetched = 0;
        while (!found && tokens->Next(1, &token, &fetched) == S_OK && fetched == 1 && token) {
            wchar_t name[kVoiceNameCap];
            if (token_name(token, name, kVoiceNameCap) && contains_ignoring_case(name, voice_name))
                found = token;
            else
                token->Release();
            token = NULL;
        }
    }
    if (tokens) tokens->Release();
    if (category) category->Release();
    if (!found) log_line("SAPI voice \"%ls\" not found; using the default voice", voice_name);
    return found;
}

// Gives the voice the player's settings; one it refuses leaves the voice as it was, still speaking.
void apply_settings(ISpVoice* voice) {
    HRESULT hr;
    if (voice_rate != kOwnRate && FAILED(hr = voice->SetRate(voice_rate)))
        log_line("SAPI: SetRate failed hr=0x%08lx", (unsigned long)hr);
    if (voice_volume != kFullVolume && FAILED(hr = voice->SetVolume((USHORT)voice_volume)))
        log_line("SAPI: SetVolume failed hr=0x%08lx", (unsigned long)hr);
    if (sapi.token && FAILED(hr = voice->SetVoice(sapi.token)))
        log_line("SAPI: SetVoice failed hr=0x%08lx", (unsigned long)hr);
}

HRESULT create_voice(ISpVoice** out) {
    *out = NULL;
    HRESULT hr = CoCreateInstance(kClsidSpVoice, NULL, CLSCTX_ALL, kIidISpVoice, (void**)out);
    if (SUCCEEDED(hr) && !*out) hr = E_POINTER;
    return hr;
}

// The name of the voice that speaks: the one found, else the one Windows gave.
void speaking_voice_name(wchar_t* out, int cap) {
    ISpObjectToken* token = sapi.token;
    if (!token && FAILED(sapi.voice->GetVoice(&token))) token = NULL;
    if (!token || !token_name(token, out, cap)) format_wide(out, (size_t)cap, L"%ls", L"default");
    if (token && token != sapi.token) token->Release();
}

// The voice, created on the first call of the run.
bool have_voice(void) {
    if (sapi.voice) return true;
    if (sapi.attempted) return false;
    sapi.attempted = true;
    HRESULT hr = create_voice(&sapi.voice);
    if (FAILED(hr)) {
        log_line("SAPI: CoCreateInstance failed hr=0x%08lx", (unsigned long)hr);
        return false;
    }
    log_line("SAPI: voice created");
    if (voice_name[0]) sapi.token = find_voice_token();
    apply_settings(sapi.voice);
    wchar_t name[kVoiceNameCap];
    speaking_voice_name(name, kVoiceNameCap);
    log_line("SAPI voice: %ls, rate %d, volume %d", name, voice_rate, voice_volume);
    return true;
}

// The alert voice, created on the first alert of the run beside the voice.
bool have_alert_voice(void) {
    if (sapi.alert_voice) return true;
    if (sapi.alert_attempted) return false;
    sapi.alert_attempted = true;
    ISpVoice* voice = NULL;
    HRESULT hr = create_voice(&voice);
    // Without alert priority it would talk over the voice rather than pause it.
    if (SUCCEEDED(hr)) hr = voice->SetPriority(SPVPRI_ALERT);
    if (FAILED(hr)) {
        log_line("SAPI: alert voice not created hr=0x%08lx; alerts interrupt the voice", (unsigned long)hr);
        if (voice) voice->Release();
        return false;
    }
    apply_settings(voice);
    sapi.alert_voice = voice;
    return true;
}

bool speak_on(ISpVoice* voice, const wchar_t* text, DWORD flags) {
    HRESULT hr = voice->Speak(text, flags, NULL);
    if (FAILED(hr)) {
        log_line("SAPI: Speak failed hr=0x%08lx", (unsigned long)hr);
        return false;
    }
    return true;
}

void purge(ISpVoice* voice) {
    if (voice) voice->Speak(NULL, SPF_PURGEBEFORESPEAK, NULL);
}

// Waits for the voice for what is left of a budget that started at start.
void wait_within(ISpVoice* voice, DWORD budget_ms, uint64_t start) {
    if (!voice) return;
    uint64_t spent = ticks_since(tick_now(), start);
    voice->WaitUntilDone(spent < budget_ms ? (ULONG)(budget_ms - spent) : 0);
}

void release(ISpVoice*& voice) {
    if (voice) voice->Release();
    voice = NULL;
}
}  // namespace

bool sapi_speak(const wchar_t* text, bool interrupt) {
    if (!have_voice()) return false;
    if (interrupt) purge(sapi.alert_voice);
    return speak_on(sapi.voice, text, interrupt ? kSpeakInterrupting : kSpeakQueued);
}

// Alerts queue behind an alert still being spoken; the voice resumes once they are done.
bool sapi_alert(const wchar_t* text) {
    if (!have_voice()) return false;
    if (!have_alert_voice()) return sapi_speak(text, true);
    return speak_on(sapi.alert_voice, text, kSpeakQueued);
}

void sapi_cancel(void) {
    purge(sapi.alert_voice);
    purge(sapi.voice);
}

void sapi_finish(DWORD timeout_ms) {
    if (speech_route == kRouteSapi) {
        // One budget for both: the voice resumes only once the alerts are done.
        const uint64_t start = tick_now();
        if (sapi.voice) sapi.voice->WaitUntilDone(timeout_ms);
        wait_within(sapi.alert_voice, timeout_ms, start);
    }
    release(sapi.alert_voice);
    release(sapi.voice);
    if (sapi.token) sapi.token->Release();
    sapi.token = NULL;
}

void reset_sapi(void) {
    sapi_finish(0);
    renew(sapi);
}
