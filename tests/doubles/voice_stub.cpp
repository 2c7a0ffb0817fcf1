// Stand-in SAPI voice: an in-process COM server whose object answers as ISpVoice. Answers come
// from voice_control.txt and calls are recorded in voice_calls.txt, both in the folder named by
// VOICE_STUB_DIR (no variable: nothing recorded, default answers).
#include "com_server.h"
#include "record.h"
#include <ole2.h>
#include <sapi.h>
#include <stdio.h>

static const GUID STUB_CLSID_SpVoice = {0x96749377, 0x3391, 0x11D2, {0x9E, 0xE3, 0x00, 0xC0, 0x4F, 0x79, 0x73, 0x96}};
static const GUID STUB_IID_ISpVoice = {0x6C44DF74, 0x72B9, 0x4992, {0xA1, 0xEC, 0xEF, 0x99, 0x6E, 0x04, 0x22, 0xD4}};

// Milliseconds on a fine clock: GetTickCount moves in 16 ms steps, too coarse for short speech.
static unsigned long long now_ms(void) {
    LARGE_INTEGER freq, count;
    QueryPerformanceFrequency(&freq);
    QueryPerformanceCounter(&count);
    return (unsigned long long)count.QuadPart * 1000ULL / (unsigned long long)freq.QuadPart;
}

class StubVoice final : public ISpVoice {
public:
    StubVoice() : refs(1), speech_end(0) { stub_object_born(); }

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
            stub_record("release", NULL);
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
    HRESULT STDMETHODCALLTYPE SetVoice(ISpObjectToken*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetVoice(ISpObjectToken**) override { return E_NOTIMPL; }

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
        stub_record(head, text);
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
    HRESULT STDMETHODCALLTYPE SetPriority(SPVPRIORITY) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetPriority(SPVPRIORITY*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetAlertBoundary(SPEVENTENUM) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetAlertBoundary(SPEVENTENUM*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetRate(LONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetRate(LONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetVolume(USHORT) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetVolume(USHORT*) override { return E_NOTIMPL; }

    HRESULT STDMETHODCALLTYPE WaitUntilDone(ULONG timeout) override {
        char head[64];
        snprintf(head, sizeof(head), "WaitUntilDone\t%lu", (unsigned long)timeout);
        stub_record(head, NULL);
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
    volatile LONG refs;
    unsigned long long speech_end;  // when the last accepted text is done, on the now_ms clock
};

const stub_identity kStubIdentity = {STUB_CLSID_SpVoice, L"VOICE_STUB_DIR", L"voice_calls.txt", L"voice_control.txt"};

HRESULT create_stub_object(REFIID riid, void** out) { return new_stub_object<StubVoice>(riid, out); }
