// Stand-in JAWS API: an in-process COM server whose object is called late-bound through
// IDispatch, as clients of the real one do. Answers come from jaws_control.txt and calls are
// recorded in jaws_calls.txt, both in the folder named by JAWS_STUB_DIR (no variable: nothing
// recorded, default answers). The object keeps no state but its count, so any thread may call it.
#include "com_server.h"
#include "record.h"
#include <ole2.h>
#include <oleauto.h>
#include <stdio.h>
#include <string.h>
#include <wchar.h>

// Ours, not the real server's: the test prefix maps the ProgID to it.
static const GUID STUB_CLSID_JawsApi = {0xED206472, 0x812A, 0x4F94, {0xB8, 0x93, 0xEC, 0x21, 0x45, 0x2F, 0x9C, 0x2D}};

enum MemberId { kSayString = 1, kStopSpeech, kRunScript, kRunFunction };

struct Member {
    const wchar_t* name;
    DISPID id;
    UINT params;
};

static const Member kMembers[] = {
    {L"SayString", kSayString, 2},  // (text, interrupt) -> bool
    {L"StopSpeech", kStopSpeech, 0},  // () -> nothing
    {L"RunScript", kRunScript, 1},  // (name) -> bool
    {L"RunFunction", kRunFunction, 1},  // (name) -> bool
};
static const size_t kMemberCount = sizeof(kMembers) / sizeof(kMembers[0]);

static const Member* member_by_id(DISPID id) {
    for (size_t i = 0; i < kMemberCount; i++)
        if (kMembers[i].id == id) return &kMembers[i];
    return NULL;
}

static void record_refusal(HRESULT hr, const wchar_t* member) {
    char head[48];
    snprintf(head, sizeof(head), "refused\t0x%08lX", (unsigned long)hr);
    stub_record(head, member);
}

// Argument i in call order; rgvarg holds them last first.
static const VARIANT* arg(const DISPPARAMS* params, UINT i) { return &params->rgvarg[params->cArgs - 1 - i]; }

// Coerces argument i as the automation runtime would (VT_I2/VT_I4/VT_BOOL, by reference too).
static HRESULT take_arg(const DISPPARAMS* params, UINT i, VARTYPE type, VARIANT* out, UINT* arg_err) {
    VariantInit(out);
    HRESULT hr = VariantChangeType(out, const_cast<VARIANT*>(arg(params, i)), 0, type);
    if (FAILED(hr) && arg_err) *arg_err = params->cArgs - 1 - i;
    return hr;
}

// An answer as a VT_BOOL, or as a VT_I4 of 1 or 0 when answer_vt says so (as some JAWS versions
// give TRUE).
static void put_bool(VARIANT* result, bool value) {
    if (!result) return;
    VariantInit(result);
    if (stub_control("answer_vt", VT_BOOL) == VT_I4) {
        V_VT(result) = VT_I4;
        V_I4(result) = value ? 1 : 0;
        return;
    }
    V_VT(result) = VT_BOOL;
    V_BOOL(result) = value ? VARIANT_TRUE : VARIANT_FALSE;
}

// Reads a call "Name(\"literal\")" as JAWS reads a script string literal, into out (as long as
// call at most): in the literal a backslash escapes the next character (\\ \" \n \r \t; before
// any other character the backslash is dropped) and an unescaped quote ends it. False when it
// does not parse: something but ")" after the literal, or no end to it (a lone backslash before
// the closing quote). A call without a literal is copied as it is.
static bool decode_call(const wchar_t* call, wchar_t* out) {
    const wchar_t* open = wcsstr(call, L"(\"");
    if (!open) {
        wcscpy(out, call);
        return true;
    }
    size_t at = (size_t)(open - call) + 2;
    memcpy(out, call, at * sizeof(wchar_t));
    for (const wchar_t* c = open + 2;; c++) {
        if (!*c) return false;
        if (*c == L'"') {
            if (wcscmp(c, L"\")") != 0) return false;
            wcscpy(out + at, c);
            return true;
        }
        if (*c != L'\\') {
            out[at++] = *c;
            continue;
        }
        if (!*++c) return false;
        out[at++] = *c == L'n' ? L'\n' : *c == L'r' ? L'\r' : *c == L't' ? L'\t' : *c;
    }
}

static bool control_result(const char* key) { return stub_control(key, 1) != 0; }

static HRESULT say_string(const DISPPARAMS* params, VARIANT* result, UINT* arg_err) {
    VARIANT text, interrupt;
    HRESULT hr = take_arg(params, 0, VT_BSTR, &text, arg_err);
    if (FAILED(hr)) return hr;
    hr = take_arg(params, 1, VT_BOOL, &interrupt, arg_err);
    if (FAILED(hr)) {
        VariantClear(&text);
        return hr;
    }
    bool said = control_result("say_result");
    char head[48];
    snprintf(head, sizeof(head), "SayString\t%d\t%d", V_BOOL(&interrupt) != VARIANT_FALSE ? 1 : 0, said ? 1 : 0);
    stub_record(head, V_BSTR(&text) ? V_BSTR(&text) : L"");
    VariantClear(&text);
    put_bool(result, said);
    return S_OK;
}

// RunFunction's call is recorded as JAWS decoded it, or as it came when it does not parse (false).
static HRESULT run_named(const Member* m, const DISPPARAMS* params, VARIANT* result, UINT* arg_err) {
    VARIANT name;
    HRESULT hr = take_arg(params, 0, VT_BSTR, &name, arg_err);
    if (FAILED(hr)) return hr;
    const wchar_t* text = V_BSTR(&name) ? V_BSTR(&name) : L"";
    wchar_t* decoded = NULL;
    bool parsed = true;
    if (m->id == kRunFunction) {
        decoded = new (std::nothrow) wchar_t[wcslen(text) + 1];
        if (!decoded) parsed = false;
        else if (!decode_call(text, decoded)) parsed = false;
        else text = decoded;
    }
    bool ran = parsed && control_result("run_result");
    char head[48];
    snprintf(head, sizeof(head), "%ls\t%d", m->name, ran ? 1 : 0);
    stub_record(head, text);
    delete[] decoded;
    VariantClear(&name);
    put_bool(result, ran);
    return S_OK;
}

class StubJaws final : public IDispatch {
public:
    StubJaws() : refs(1) { stub_object_born(); }

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (!out) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch)) {
            *out = static_cast<IDispatch*>(this);
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

    // IDispatch, without type information: callers resolve names at run time.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (!count) return E_POINTER;
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
        if (info) *info = NULL;
        return DISP_E_BADINDEX;
    }

    // Automation names are case-insensitive; parameter names (named arguments) are not offered.
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
        if (!names || !ids || count == 0) return E_INVALIDARG;
        for (UINT i = 0; i < count; i++) ids[i] = DISPID_UNKNOWN;
        for (size_t i = 0; i < kMemberCount && names[0]; i++)
            if (_wcsicmp(names[0], kMembers[i].name) == 0) ids[0] = kMembers[i].id;
        if (ids[0] == DISPID_UNKNOWN) {
            record_refusal(DISP_E_UNKNOWNNAME, names[0] ? names[0] : L"");
            return DISP_E_UNKNOWNNAME;
        }
        return count == 1 ? S_OK : DISP_E_UNKNOWNNAME;
    }

    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO*, UINT* arg_err) override {
        const Member* m = member_by_id(id);
        HRESULT hr = S_OK;
        if (result) VariantInit(result);
        if (!m) hr = DISP_E_MEMBERNOTFOUND;
        else if (!IsEqualIID(riid, IID_NULL)) hr = DISP_E_UNKNOWNINTERFACE;
        else if (!(flags & DISPATCH_METHOD)) hr = DISP_E_MEMBERNOTFOUND;
        else if (!params || (params->cArgs && !params->rgvarg)) hr = E_INVALIDARG;
        else if (params->cNamedArgs) hr = DISP_E_NONAMEDARGS;
        else if (params->cArgs != m->params) hr = DISP_E_BADPARAMCOUNT;
        else hr = (HRESULT)(LONG)stub_control("invoke_hr", 0);
        if (hr >= 0) {
            if (m->id == kSayString) hr = say_string(params, result, arg_err);
            else if (m->id == kStopSpeech) stub_record("StopSpeech", NULL);
            else hr = run_named(m, params, result, arg_err);
        }
        if (FAILED(hr)) {
            wchar_t unknown[24];
            if (!m) {
                _snwprintf(unknown, 24, L"#%ld", (long)id);
                unknown[23] = 0;
            }
            record_refusal(hr, m ? m->name : unknown);
            return hr;
        }
        return S_OK;
    }

private:
    volatile LONG refs;
};

const stub_identity kStubIdentity = {STUB_CLSID_JawsApi, L"JAWS_STUB_DIR", L"jaws_calls.txt", L"jaws_control.txt"};

HRESULT create_stub_object(REFIID riid, void** out) { return new_stub_object<StubJaws>(riid, out); }
