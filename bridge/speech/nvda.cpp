// The NVDA route: NV Access's controller client, loaded from exe_dir once a mode and asked before
// every text whether NVDA runs, with no cached answer, so speech follows the screen reader as it
// comes and goes.
//
// An alert goes as SSML at priority "now", which NVDA speaks at once and after which it resumes
// the speech it cut into. A client without speakSsml, or an NVDA older than its second interface,
// gets the alert as an interrupting line instead, and is not asked again until NVDA has been away
// (it may come back updated):
//
//   asks speakSsml --fails (logged)--> interrupts --nvda_answers() false--> asks speakSsml
#include "speech/routes.h"
#include <stdint.h>
#include <stdlib.h>
#include <wchar.h>
#include "run/libraries.h"
#include "run/log.h"
#include "run/settings.h"
#include "run/state.h"
#include "run/text.h"

namespace {
typedef DWORD(WINAPI* nvda_status_fn)(void);
typedef DWORD(WINAPI* nvda_speak_fn)(const wchar_t* text);
typedef DWORD(WINAPI* nvda_ssml_fn)(const wchar_t* ssml, int symbol_level, int priority, BOOL asynchronous);

constexpr int kSymbolLevelUnchanged = -1;  // NVDA's own symbol level
constexpr int kPriorityNow = 2;
// The longest escape, "&quot;" and "&apos;", per UTF-16 unit of the text.
constexpr size_t kEscapedUnitsMax = 6;
const wchar_t kSsmlOpen[] = L"<speak>";
const wchar_t kSsmlClose[] = L"</speak>";
constexpr size_t kSsmlFrameUnits = sizeof kSsmlOpen / sizeof(wchar_t) + sizeof kSsmlClose / sizeof(wchar_t) - 2;

// ---- Client state: main thread only, from load_nvda_client to unload_nvda_client.
struct client_state {
    HMODULE library = NULL;
    nvda_status_fn test_if_running = NULL;
    nvda_status_fn cancel_speech = NULL;
    nvda_speak_fn speak_text = NULL;
    nvda_speak_fn braille_message = NULL;  // optional: without it, no braille
    nvda_ssml_fn speak_ssml = NULL;        // optional: without it, alerts interrupt
    // speakSsml failed for this NVDA: alerts interrupt until nvda_answers() sees it away.
    bool priority_refused = false;
    bool braille_failure_logged = false;
};
constinit client_state client;

template <typename T>
T bind_export(HMODULE library, const char* name) {
    return reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}

bool is_high_surrogate(wchar_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool is_low_surrogate(wchar_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// Writes <speak>text</speak> to out, which holds kSsmlFrameUnits + 1 + units * kEscapedUnitsMax.
// XML's five specials become entities; what XML 1.0 does not allow (most controls, unpaired
// surrogates, U+FFFE and U+FFFF) becomes a space, as NVDA would refuse the whole document.
void write_ssml(const wchar_t* text, size_t units, wchar_t* out) {
    wchar_t* at = out;
    for (const wchar_t* p = kSsmlOpen; *p; p++) *at++ = *p;
    for (size_t i = 0; i < units; i++) {
        const wchar_t unit = text[i];
        const wchar_t* entity = NULL;
        switch (unit) {
            case L'&': entity = L"&amp;"; break;
            case L'<': entity = L"&lt;"; break;
            case L'>': entity = L"&gt;"; break;
            case L'"': entity = L"&quot;"; break;
            case L'\'': entity = L"&apos;"; break;
            default: break;
        }
        if (entity) {
            while (*entity) *at++ = *entity++;
        } else if (is_high_surrogate(unit) && i + 1 < units && is_low_surrogate(text[i + 1])) {
            *at++ = unit;
            *at++ = text[++i];
        } else if ((unit < 0x20 && unit != L'\t' && unit != L'\n' && unit != L'\r') || is_high_surrogate(unit) ||
                   is_low_surrogate(unit) || unit == 0xFFFE || unit == 0xFFFF) {
            *at++ = L' ';
        } else {
            *at++ = unit;
        }
    }
    for (const wchar_t* p = kSsmlClose; *p; p++) *at++ = *p;
    *at = 0;
}

// speakSsml's status for an alert; the escaped text is sized to the text, so it is never cut.
DWORD speak_priority(const wchar_t* text) {
    if (!client.speak_ssml) return ERROR_PROC_NOT_FOUND;
    const size_t units = wcslen(text);
    if (units > (SIZE_MAX / sizeof(wchar_t) - kSsmlFrameUnits - 1) / kEscapedUnitsMax) return ERROR_NOT_ENOUGH_MEMORY;
    wchar_t* ssml = (wchar_t*)malloc((kSsmlFrameUnits + 1 + units * kEscapedUnitsMax) * sizeof(wchar_t));
    if (!ssml) return ERROR_NOT_ENOUGH_MEMORY;
    write_ssml(text, units, ssml);
    const DWORD status = client.speak_ssml(ssml, kSymbolLevelUnchanged, kPriorityNow, TRUE);
    free(ssml);
    return status;
}
}  // namespace

void load_nvda_client(void) {
    if (client.library) return;
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
        client.test_if_running = bind_export<nvda_status_fn>(library, "nvdaController_testIfRunning");
        client.cancel_speech = bind_export<nvda_status_fn>(library, "nvdaController_cancelSpeech");
        client.speak_text = bind_export<nvda_speak_fn>(library, "nvdaController_speakText");
        client.braille_message = bind_export<nvda_speak_fn>(library, "nvdaController_brailleMessage");
        client.speak_ssml = bind_export<nvda_ssml_fn>(library, "nvdaController_speakSsml");
        if (!client.test_if_running || !client.cancel_speech || !client.speak_text) {
            log_line("NVDA: %ls lacks expected exports", name);
            FreeLibrary(library);
            continue;
        }
        client.library = library;
        log_line("NVDA: loaded %ls", name);
        return;
    }
    log_line("NVDA: controller client DLL not available; SAPI only");
}

bool nvda_client_loaded(void) { return client.library != NULL; }

bool nvda_answers(void) {
    const bool answers = client.library && client.test_if_running() == 0;
    // The NVDA that comes back may be a newer one; a client without the export stays without it.
    if (!answers && client.speak_ssml) client.priority_refused = false;
    return answers;
}

void unload_nvda_client(void) {
    if (client.library) FreeLibrary(client.library);
    renew(client);
}

bool nvda_speak(const wchar_t* text, bool interrupt) {
    if (interrupt) client.cancel_speech();
    const DWORD status = client.speak_text(text);
    if (status == 0) return true;
    log_line("NVDA: speakText returned %lu", status);
    return false;
}

bool nvda_alert(const wchar_t* text) {
    if (!client.priority_refused) {
        const DWORD status = speak_priority(text);
        if (status == 0) return true;
        client.priority_refused = true;
        log_line("NVDA: no priority speech (error %lu); alerts interrupt", status);
    }
    return nvda_speak(text, true);
}

void nvda_cancel(void) {
    if (nvda_answers()) client.cancel_speech();
}

void nvda_braille(const wchar_t* text) {
    if (!client.braille_message) return;
    const DWORD status = client.braille_message(text);
    if (status == 0 || client.braille_failure_logged) return;
    client.braille_failure_logged = true;
    log_line("braille: NVDA brailleMessage returned %lu", status);
}

void reset_nvda(void) { unload_nvda_client(); }
