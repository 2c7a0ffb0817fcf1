#include "com_server.h"
#include "record.h"
#include <stdio.h>

namespace {
constexpr size_t kFolderCap = 1024;
constexpr size_t kPathCap = 1100;

volatile LONG live_objects = 0;
volatile LONG server_locks = 0;

class StubFactory final : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (!out) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
            *out = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *out = NULL;
        return E_NOINTERFACE;
    }
    // One static factory for the module's lifetime.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** out) override {
        if (!out) return E_POINTER;
        *out = NULL;
        HRESULT hr = (HRESULT)(LONG)stub_control("create_hr", 0);
        if (hr >= 0) hr = S_OK;
        if (SUCCEEDED(hr) && outer) hr = CLASS_E_NOAGGREGATION;
        if (SUCCEEDED(hr)) hr = create_stub_object(riid, out);
        char head[48];
        snprintf(head, sizeof(head), "create\t0x%08lX", (unsigned long)hr);
        stub_record(head, NULL);
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        if (lock) InterlockedIncrement(&server_locks);
        else InterlockedDecrement(&server_locks);
        return S_OK;
    }
};

StubFactory factory;
}  // namespace

bool stub_file(const wchar_t* name, wchar_t* out, size_t cap) {
    wchar_t folder[kFolderCap];
    DWORD n = GetEnvironmentVariableW(kStubIdentity.dir_variable, folder, kFolderCap);
    if (n == 0 || n >= kFolderCap) return false;
    return path_join(out, cap, folder, name);
}

void stub_record(const char* head, const wchar_t* text) {
    wchar_t path[kPathCap];
    if (stub_file(kStubIdentity.calls_file, path, kPathCap)) rec_event(path, head, text);
}

long long stub_control(const char* key, long long fallback) {
    wchar_t path[kPathCap];
    return stub_file(kStubIdentity.control_file, path, kPathCap) ? ctl_file_value(path, key, fallback) : fallback;
}

void stub_object_born(void) { InterlockedIncrement(&live_objects); }
void stub_object_gone(void) { InterlockedDecrement(&live_objects); }

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, LPVOID* out) {
    if (!out) return E_POINTER;
    *out = NULL;
    if (!IsEqualCLSID(clsid, kStubIdentity.clsid)) return CLASS_E_CLASSNOTAVAILABLE;
    return factory.QueryInterface(riid, out);
}

STDAPI DllCanUnloadNow(void) { return (live_objects == 0 && server_locks == 0) ? S_OK : S_FALSE; }
