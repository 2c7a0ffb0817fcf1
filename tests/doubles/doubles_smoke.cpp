// Smoke checks for the doubles, run by hand under Wine:
//   doubles_smoke nvda DLL [keep]  load a controller client, call what it exports, unload it
//                                  (keep: exit with it still loaded)
//   doubles_smoke voice        create the registered voice, speak through vtable slots 20 and 32
//   doubles_smoke jaws         create the JAWS API by its ProgID, call each method late-bound, look
//                              for JAWS's window
//   doubles_smoke windows PID  that process's top-level windows in EnumWindows order
//   doubles_smoke hung HWND    IsHungAppWindow
//   doubles_smoke fg           the foreground window
//   doubles_smoke close HWND   post WM_CLOSE
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

static const GUID SMOKE_CLSID_SpVoice = {0x96749377, 0x3391, 0x11D2, {0x9E, 0xE3, 0x00, 0xC0, 0x4F, 0x79, 0x73, 0x96}};
static const GUID SMOKE_IID_ISpVoice = {0x6C44DF74, 0x72B9, 0x4992, {0xA1, 0xEC, 0xEF, 0x99, 0x6E, 0x04, 0x22, 0xD4}};

typedef unsigned long(__stdcall* NoArgFn)(void);
typedef unsigned long(__stdcall* SpeakTextFn)(const wchar_t*);
typedef HRESULT(STDMETHODCALLTYPE* SpeakFn)(void*, LPCWSTR, DWORD, ULONG*);
typedef HRESULT(STDMETHODCALLTYPE* WaitFn)(void*, ULONG);
typedef ULONG(STDMETHODCALLTYPE* ReleaseFn)(void*);

static int smoke_nvda(const wchar_t* dll, bool keep) {
    HMODULE m = LoadLibraryW(dll);
    if (!m) {
        printf("load failed: %lu\n", (unsigned long)GetLastError());
        return 1;
    }
    NoArgFn running = (NoArgFn)(void*)GetProcAddress(m, "nvdaController_testIfRunning");
    NoArgFn cancel = (NoArgFn)(void*)GetProcAddress(m, "nvdaController_cancelSpeech");
    SpeakTextFn speak = (SpeakTextFn)(void*)GetProcAddress(m, "nvdaController_speakText");
    printf("exports: testIfRunning=%d cancelSpeech=%d speakText=%d\n", running != NULL, cancel != NULL, speak != NULL);
    if (running) printf("testIfRunning -> %lu\n", running());
    if (cancel) printf("cancelSpeech -> %lu\n", cancel());
    // Escapes, a non-BMP pair and an unpaired surrogate.
    static const wchar_t text[] = {L'a', L'\t', L'b', L'\\', L'c', L'\n', L'd', L'\r', 0xE9, L' ',
                                   0xD83D, 0xDE00, L' ', 0xD800, L'x', 0};
    if (speak) printf("speakText -> %lu\n", speak(text));
    if (!keep) FreeLibrary(m);
    return 0;
}

static int smoke_voice(void) {
    HRESULT hr = CoInitializeEx(NULL, COINIT_APARTMENTTHREADED);
    printf("CoInitializeEx 0x%08lX\n", (unsigned long)hr);
    void* voice = NULL;
    hr = CoCreateInstance(SMOKE_CLSID_SpVoice, NULL, CLSCTX_ALL, SMOKE_IID_ISpVoice, &voice);
    printf("CoCreateInstance 0x%08lX\n", (unsigned long)hr);
    if (SUCCEEDED(hr) && voice) {
        // Called by slot number, as the interface is laid out for every client.
        void** vtbl = *(void***)voice;
        SpeakFn speak = (SpeakFn)vtbl[20];
        WaitFn wait = (WaitFn)vtbl[32];
        ReleaseFn release = (ReleaseFn)vtbl[2];
        printf("Speak 0x%08lX\n", (unsigned long)speak(voice, L"hi", 19, NULL));
        DWORD t0 = GetTickCount();
        hr = wait(voice, 100);
        printf("WaitUntilDone 0x%08lX after %lu ms\n", (unsigned long)hr, (unsigned long)(GetTickCount() - t0));
        printf("Speak null purge 0x%08lX\n", (unsigned long)speak(voice, NULL, 2, NULL));
        printf("Release %lu\n", (unsigned long)release(voice));
    }
    CoUninitialize();
    return SUCCEEDED(hr) ? 0 : 1;
}

// Invokes a method with the arguments in call order; prints what came back.
static void smoke_invoke(IDispatch* api, const wchar_t* name, VARIANT* args, UINT count, const char* what) {
    LPOLESTR names[1] = {const_cast<LPOLESTR>(name)};
    DISPID id = DISPID_UNKNOWN;
    HRESULT hr = api->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr)) {
        printf("%ls: GetIDsOfNames 0x%08lX\n", name, (unsigned long)hr);
        return;
    }
    VARIANT reversed[4];
    for (UINT i = 0; i < count && i < 4; i++) reversed[i] = args[count - 1 - i];
    DISPPARAMS params = {count ? reversed : NULL, NULL, count, 0};
    VARIANT result;
    VariantInit(&result);
    UINT arg_err = (UINT)-1;
    hr = api->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result, NULL, &arg_err);
    printf("%ls%s: id %ld, Invoke 0x%08lX, result vt %u value %ld\n", name, what, (long)id, (unsigned long)hr,
           (unsigned)V_VT(&result), V_VT(&result) == VT_BOOL ? (long)V_BOOL(&result) : 0L);
    VariantClear(&result);
}

static int smoke_jaws(void) {
    HRESULT hr = CoInitializeEx(NULL, COINIT_APARTMENTTHREADED);
    printf("CoInitializeEx 0x%08lX\n", (unsigned long)hr);
    CLSID clsid;
    hr = CLSIDFromProgID(L"FreedomSci.JawsApi", &clsid);
    wchar_t text[64] = L"";
    if (SUCCEEDED(hr)) StringFromGUID2(clsid, text, 64);
    printf("CLSIDFromProgID 0x%08lX %ls\n", (unsigned long)hr, text);
    IDispatch* api = NULL;
    if (SUCCEEDED(hr))
        hr = CoCreateInstance(clsid, NULL, CLSCTX_INPROC_SERVER, IID_IDispatch, (void**)&api);
    printf("CoCreateInstance 0x%08lX\n", (unsigned long)hr);
    if (SUCCEEDED(hr) && api) {
        BSTR said = SysAllocString(L"a\tb \"quoted\" \u00e9");
        VARIANT args[2];
        V_VT(&args[0]) = VT_BSTR;
        V_BSTR(&args[0]) = said;
        V_VT(&args[1]) = VT_BOOL;
        V_BOOL(&args[1]) = VARIANT_TRUE;
        smoke_invoke(api, L"SayString", args, 2, " (VT_BOOL true)");
        V_VT(&args[1]) = VT_I4;
        V_I4(&args[1]) = 0;
        smoke_invoke(api, L"saystring", args, 2, " (VT_I4 0)");
        V_VT(&args[1]) = VT_I2;
        V_I2(&args[1]) = 1;
        smoke_invoke(api, L"SAYSTRING", args, 2, " (VT_I2 1)");
        VARIANT_BOOL flag = VARIANT_FALSE;
        V_VT(&args[1]) = VT_BOOL | VT_BYREF;
        V_BOOLREF(&args[1]) = &flag;
        smoke_invoke(api, L"SayString", args, 2, " (VT_BOOL by reference, false)");
        smoke_invoke(api, L"SayString", args, 1, " (one argument)");
        smoke_invoke(api, L"StopSpeech", NULL, 0, "");
        BSTR call = SysAllocString(L"BrailleString(\"hi\")");
        V_VT(&args[0]) = VT_BSTR;
        V_BSTR(&args[0]) = call;
        smoke_invoke(api, L"RunFunction", args, 1, "");
        smoke_invoke(api, L"RunScript", args, 1, "");
        smoke_invoke(api, L"SpeakString", args, 1, "");
        SysFreeString(call);
        SysFreeString(said);
        printf("Release %lu\n", (unsigned long)api->Release());
    }
    printf("FindWindowW JFWUI2 %llu\n", (unsigned long long)(ULONG_PTR)FindWindowW(L"JFWUI2", NULL));
    CoUninitialize();
    return SUCCEEDED(hr) ? 0 : 1;
}

static BOOL CALLBACK list_window(HWND hwnd, LPARAM pid) {
    DWORD owner_pid = 0;
    GetWindowThreadProcessId(hwnd, &owner_pid);
    if (owner_pid != (DWORD)pid) return TRUE;
    wchar_t cls[256], title[256];
    GetClassNameW(hwnd, cls, 256);
    GetWindowTextW(hwnd, title, 256);
    printf("%llu class=%ls title=%ls visible=%d owner=%llu\n", (unsigned long long)(ULONG_PTR)hwnd, cls, title,
           IsWindowVisible(hwnd) ? 1 : 0, (unsigned long long)(ULONG_PTR)GetWindow(hwnd, GW_OWNER));
    return TRUE;
}

int wmain(int argc, wchar_t** argv) {
    if ((argc == 3 || argc == 4) && wcscmp(argv[1], L"nvda") == 0) return smoke_nvda(argv[2], argc == 4);
    if (argc == 2 && wcscmp(argv[1], L"voice") == 0) return smoke_voice();
    if (argc == 2 && wcscmp(argv[1], L"jaws") == 0) return smoke_jaws();
    if (argc == 3 && wcscmp(argv[1], L"windows") == 0) {
        EnumWindows(list_window, (LPARAM)wcstoul(argv[2], NULL, 10));
        return 0;
    }
    if (argc == 3 && wcscmp(argv[1], L"hung") == 0) {
        HWND hwnd = (HWND)(ULONG_PTR)wcstoull(argv[2], NULL, 10);
        printf("hung %d\n", IsHungAppWindow(hwnd) ? 1 : 0);
        return 0;
    }
    if (argc == 2 && wcscmp(argv[1], L"fg") == 0) {
        printf("fg %llu\n", (unsigned long long)(ULONG_PTR)GetForegroundWindow());
        return 0;
    }
    if (argc == 3 && wcscmp(argv[1], L"close") == 0) {
        HWND hwnd = (HWND)(ULONG_PTR)wcstoull(argv[2], NULL, 10);
        return PostMessageW(hwnd, WM_CLOSE, 0, 0) ? 0 : 1;
    }
    printf("usage: doubles_smoke nvda DLL [keep] | voice | jaws | windows PID | hung HWND | fg | close HWND\n");
    return 2;
}
