// Stand-in for the screen reader's controller client: answers from nvda_control.txt and records
// every call in nvda_calls.txt, both in the DLL's own folder. Built a second time without
// nvdaController_speakText (NVDA_STUB_MISSING_SPEAK) to exercise a client that lacks it.
#include "record.h"
#include <stdio.h>

static const unsigned long NOT_RUNNING = 1717;  // RPC_S_UNKNOWN_IF, what the client gives without a reader

static void anchor(void) {}

// The DLL's folder, so tests can keep several copies side by side.
static bool own_file(const wchar_t* name, wchar_t* out, size_t cap) {
    HMODULE self = NULL;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            (LPCWSTR)(void*)&anchor, &self))
        return false;
    wchar_t folder[1024];
    DWORD n = GetModuleFileNameW(self, folder, 1024);
    if (n == 0 || n >= 1024) return false;
    while (n > 0 && folder[n - 1] != L'\\' && folder[n - 1] != L'/') n--;
    folder[n] = 0;
    return path_join(out, cap, folder, name);
}

static void record(const char* head, const wchar_t* text) {
    wchar_t path[1100];
    if (own_file(L"nvda_calls.txt", path, 1100)) rec_event(path, head, text);
}

// The control file's content, read afresh for each call.
static void read_control(char* out, size_t cap) {
    wchar_t path[1100];
    out[0] = 0;
    if (own_file(L"nvda_control.txt", path, 1100)) ctl_read_file(path, out, cap);
}

static long long control(const char* key, long long fallback) {
    char content[4096];
    read_control(content, sizeof content);
    return ctl_value(content, key, fallback);
}

extern "C" __declspec(dllexport) unsigned long __stdcall nvdaController_testIfRunning(void) {
    unsigned long result = control("running", 1) == 1 ? 0 : NOT_RUNNING;
    char head[64];
    snprintf(head, sizeof(head), "testIfRunning\t%lu", result);
    record(head, NULL);
    return result;
}

extern "C" __declspec(dllexport) unsigned long __stdcall nvdaController_cancelSpeech(void) {
    unsigned long result = (unsigned long)control("cancel_status", 0);
    record("cancelSpeech", NULL);
    return result;
}

#ifndef NVDA_STUB_MISSING_SPEAK
extern "C" __declspec(dllexport) unsigned long __stdcall nvdaController_speakText(const wchar_t* text) {
    char content[4096];
    read_control(content, sizeof content);
    // A screen reader that freezes holds its caller inside the call.
    long long block_ms = ctl_value(content, "speak_block_ms", 0);
    if (block_ms > 0) Sleep((DWORD)block_ms);
    unsigned long result = (unsigned long)ctl_value(content, "speak_status", 0);
    char head[64];
    snprintf(head, sizeof(head), text ? "speakText\t%lu" : "speakText\t%lu\t(null)", result);
    record(head, text);
    return result;
}
#endif

// Priority speech of NVDA 2024.1+, recorded as the stand-in NVDA records it; ssml_status=1717 plays
// an older NVDA, which does not serve the interface.
extern "C" __declspec(dllexport) unsigned long __stdcall nvdaController_speakSsml(const wchar_t* ssml, int symbol_level,
                                                                                  int priority, BOOL asynchronous) {
    unsigned long result = (unsigned long)control("ssml_status", 0);
    char head[96];
    snprintf(head, sizeof(head), "speakSsml\t%lu\t%d\t%d\t%d", result, priority, symbol_level, (int)asynchronous);
    record(head, ssml);
    return result;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(instance);
        record("attach", NULL);
    } else if (reason == DLL_PROCESS_DETACH) {
        record(reserved ? "detach\texit" : "detach\tfree", NULL);
    }
    return TRUE;
}
