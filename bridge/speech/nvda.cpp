// The NVDA route: NV Access's controller client, loaded from exe_dir once a mode and asked before
// every text whether NVDA runs, with no cached answer, so speech follows the screen reader as it
// comes and goes.
#include "speech/routes.h"
#include "run/libraries.h"
#include "run/log.h"
#include "run/settings.h"
#include "run/state.h"
#include "run/text.h"

namespace {
typedef DWORD(WINAPI* nvda_status_fn)(void);
typedef DWORD(WINAPI* nvda_speak_fn)(const wchar_t* text);

// ---- Client state: main thread only, from load_nvda_client to unload_nvda_client.
struct client_state {
    HMODULE library = NULL;
    nvda_status_fn test_if_running = NULL;
    nvda_status_fn cancel_speech = NULL;
    nvda_speak_fn speak_text = NULL;
    nvda_speak_fn braille_message = NULL;  // optional: without it, no braille
    bool braille_failure_logged = false;
};
constinit client_state client;

template <typename T>
T bind_export(HMODULE library, const char* name) {
    return reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(library, name)));
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

bool nvda_answers(void) { return client.library && client.test_if_running() == 0; }

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

bool nvda_alert(const wchar_t* text) { return nvda_speak(text, true); }

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
