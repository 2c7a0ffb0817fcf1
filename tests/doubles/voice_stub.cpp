// Stand-in SAPI voice: an in-process COM server whose object answers as ISpVoice. Answers come
// from voice_control.txt and calls are recorded in voice_calls.txt, both in the folder named by
// VOICE_STUB_DIR (no variable: nothing recorded, default answers). A voice born while others live
// leads each record with its number among them ("2:Speak"), so a test tells the voices apart.
#include "com_server.h"
#include "record.h"
#include <ole2.h>
#include <sapi.h>
#include <stdio.h>

static const GUID STUB_CLSID_SpVoice = {0x96749377, 0x3391, 0x11D2, {0x9E, 0xE3, 0x00, 0xC0, 0x4F, 0x79, 0x73, 0x96}};
static const GUID STUB_IID_ISpVoice = {0x6C44DF74, 0x72B9, 0x4992, {0xA1, 0xEC, 0xEF, 0x99, 0x6E, 0x04, 0x22, 0xD4}};
static const GUID STUB_CLSID_SpObjectTokenCategory = {0xA910187F, 0x0C7A, 0x45AC, {0x92, 0xCC, 0x59, 0xED, 0xAF, 0xB7, 0x7B, 0x53}};
static const GUID STUB_IID_ISpObjectTokenCategory = {0x2D3D3845, 0x39AF, 0x4850, {0xBB, 0xF9, 0x40, 0xB4, 0x97, 0x80, 0x01, 0x1D}};
static volatile LONG voices_alive = 0;

// The first installed voice, as a voice that was given none speaks with; NULL when there is none.
static ISpObjectToken* first_installed_voice(void) {
    ISpObjectTokenCategory* category = NULL;
    IEnumSpObjectTokens* tokens = NULL;
    ISpObjectToken* token = NULL;
    ULONG fetched = 0;
    if (SUCCEEDED(CoCreateInstance(STUB_CLSID_SpObjectTokenCategory, NULL, CLSCTX_ALL, STUB_IID_ISpObjectTokenCategory,
                                   (void**)&category)) &&
        SUCCEEDED(category->SetId(L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Speech\\Voices", FALSE)) &&
        SUCCEEDED(category->EnumTokens(NULL, NULL, &tokens)) && tokens->Next(1, &token, &fetched) != S_OK)
        token = NULL;
    if (tokens) tokens->Release();
    if (category) category->Release();
    return token;
}

// Milliseconds on a fine clock: GetTickCount moves in 16 ms steps, too coarse for short speech.
static unsigned long long now_ms(void) {
    LARGE_INTEGER freq, count;
    QueryPerformanceFrequency(&freq);
    QueryPerformanceCounter(&count);
    return (unsigned long long)count.QuadPart * 1000ULL / (unsigned long long)freq.QuadPart;
}

class StubVoice final : public ISpVoice {
public:
    StubVoice() : refs(1), number(InterlockedIncrement(&voices_alive)), speech_end(0), token(NULL) { stub_object_born(); }

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (!out) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, STUB_IID_ISpVoice)) {
            *out = static_cast<ISpVoice*>(this);
            AddRef();
            return S_OK;
        }
        *out = NULL;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return (ULONG)InterlockedIncrement(&refs); }
    ULONG STDMETHODCALLTYPE Release() override {
        LONG left = InterlockedDecrement(&refs);
        if (left == 0) {
            record("release", NULL);
            if (token) token->Release();
            InterlockedDecrement(&voices_alive);
            delete this;
            stub_object_gone();
        }
        return (ULONG)left;
    }

    // ISpNotifySource
    HRESULT STDMETHODCALLTYPE SetNotifySink(ISpNotifySink*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetNotifyWindowMessage(HWND, UINT, WPARAM, LPARAM) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetNotifyCallbackFunction(SPNOTIFYCALLBACK*, WPARAM, LPARAM) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetNotifyCallbackInterface(ISpNotifyCallback*, WPARAM, LPARAM) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetNotifyWin32Event() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE WaitForNotifyEvent(DWORD) override { return E_NOTIMPL; }
    HANDLE STDMETHODCALLTYPE GetNotifyEventHandle() override { return NULL; }

    // ISpEventSource
    HRESULT STDMETHODCALLTYPE SetInterest(ULONGLONG, ULONGLONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetEvents(ULONG, SPEVENT*, ULONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetInfo(SPEVENTSOURCEINFO*) override { return E_NOTIMPL; }

    // ISpVoice
    HRESULT STDMETHODCALLTYPE SetOutput(IUnknown*, WINBOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetOutputObjectToken(ISpObjectToken**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetOutputStream(ISpStreamFormat**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Pause() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Resume() override { return E_NOTIMPL; }
    // Recorded by the token's key name, the last part of its id.
    HRESULT STDMETHODCALLTYPE SetVoice(ISpObjectToken* voice) override {
        wchar_t* id = NULL;
        if (voice && FAILED(voice->GetId(&id))) id = NULL;
        const wchar_t* name = id && wcsrchr(id, L'\\') ? wcsrchr(id, L'\\') + 1 : id;
        record("SetVoice", name ? name : L"(null)");
        if (id) CoTaskMemFree(id);
        if (voice) voice->AddRef();
        if (token) token->Release();
        token = voice;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetVoice(ISpObjectToken** out) override {
        if (!out) return E_POINTER;
        if (token) token->AddRef();
        *out = token ? token : first_installed_voice();
        return *out ? S_OK : E_FAIL;
    }

    HRESULT STDMETHODCALLTYPE Speak(LPCWSTR text, DWORD flags, ULONG* stream_number) override {
        HRESULT hr = (HRESULT)(LONG)stub_control("speak_hr", 0);
        if (hr >= 0) hr = S_OK;
        // A voice engine that loads a library of its own by bare name, as installed voices do.
        wchar_t path[1100], library_name[MAX_PATH];
        if (SUCCEEDED(hr) && stub_file(kStubIdentity.control_file, path, 1100) &&
            ctl_file_text(path, "speak_loads", library_name, MAX_PATH) && library_name[0]) {
            HMODULE library = LoadLibraryW(library_name);
            DWORD error = GetLastError();
            if (library) FreeLibrary(library);
            else hr = HRESULT_FROM_WIN32(error);
        }
        char head[96];
        snprintf(head, sizeof(head), text ? "Speak\t%lu\t0x%08lX" : "Speak\t%lu\t0x%08lX\t(null)",
                 (unsigned long)flags, (unsigned long)hr);
        record(head, text);
        if (FAILED(hr)) return hr;
        if (stream_number) *stream_number = 1;
        unsigned long long now = now_ms();
        if (flags & SPF_PURGEBEFORESPEAK) speech_end = now;
        if (text) {
            long long ms = stub_control("speak_ms", 0);
            if (ms < 0) ms = 0;
            speech_end = (speech_end > now ? speech_end : now) + (unsigned long long)ms;
        }
        // Without SPF_ASYNC the real voice returns only when done speaking.
        if (!(flags & SPF_ASYNC) && speech_end > now) Sleep((DWORD)(speech_end - now));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SpeakStream(IStream*, DWORD, ULONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetStatus(SPVOICESTATUS*, LPWSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Skip(LPCWSTR, LONG, ULONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetPriority(SPVPRIORITY priority) override { return record_number("SetPriority", priority); }
    HRESULT STDMETHODCALLTYPE GetPriority(SPVPRIORITY*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetAlertBoundary(SPEVENTENUM) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetAlertBoundary(SPEVENTENUM*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetRate(LONG rate) override { return record_number("SetRate", rate); }
    HRESULT STDMETHODCALLTYPE GetRate(LONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetVolume(USHORT volume) override { return record_number("SetVolume", volume); }
    HRESULT STDMETHODCALLTYPE GetVolume(USHORT*) override { return E_NOTIMPL; }

    HRESULT STDMETHODCALLTYPE WaitUntilDone(ULONG timeout) override {
        char head[64];
        snprintf(head, sizeof(head), "WaitUntilDone\t%lu", (unsigned long)timeout);
        record(head, NULL);
        unsigned long long now = now_ms();
        unsigned long long remaining = speech_end > now ? speech_end - now : 0;
        if (remaining == 0) return S_OK;
        if (timeout != INFINITE && timeout < remaining) {
            Sleep(timeout);
            return S_FALSE;
        }
        Sleep((DWORD)remaining);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetSyncSpeakTimeout(ULONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetSyncSpeakTimeout(ULONG*) override { return E_NOTIMPL; }
    HANDLE STDMETHODCALLTYPE SpeakCompleteEvent() override { return NULL; }
    HRESULT STDMETHODCALLTYPE IsUISupported(LPCWSTR, void*, ULONG, WINBOOL*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE DisplayUI(HWND, LPCWSTR, LPCWSTR, void*, ULONG) override { return E_NOTIMPL; }

private:
    void record(const char* head, const wchar_t* text) {
        char numbered[128];
        if (number > 1) snprintf(numbered, sizeof(numbered), "%ld:%s", (long)number, head);
        stub_record(number > 1 ? numbered : head, text);
    }
    HRESULT record_number(const char* name, long value) {
        char head[64];
        snprintf(head, sizeof(head), "%s\t%ld", name, value);
        record(head, NULL);
        return S_OK;
    }

    volatile LONG refs;
    const LONG number;              // 1 for a voice born while no other lived
    unsigned long long speech_end;  // when the last accepted text is done, on the now_ms clock
    ISpObjectToken* token;          // what SetVoice gave; NULL: the first installed voice
};

const stub_identity kStubIdentity = {STUB_CLSID_SpVoice, L"VOICE_STUB_DIR", L"voice_calls.txt", L"voice_control.txt"};

HRESULT create_stub_object(REFIID riid, void** out) { return new_stub_object<StubVoice>(riid, out); }
