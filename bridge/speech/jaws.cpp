// The JAWS route: the API object that JAWS installs for other programs (ProgID
// "FreedomSci.JawsApi"), called late-bound through IDispatch as JAWS documents it. JAWS counts as
// running while its window (class "JFWUI2") exists; the window is looked up only when a text
// reaches this route, so NVDA's lines cost nothing here. The object is created on the first text
// that reaches the route while JAWS runs, at most once a run: a failed creation leaves JAWS off
// for the run, logged once. SayString returns once JAWS has scheduled the text.
#include "speech/routes.h"
#include <objbase.h>
#include <oleauto.h>
#include <string.h>
#include <wchar.h>
#include "run/log.h"
#include "run/state.h"

namespace {
const wchar_t kJawsProgId[] = L"FreedomSci.JawsApi";
const wchar_t kJawsWindowClass[] = L"JFWUI2";

enum jaws_member { kSayString, kStopSpeech, kRunFunction, kJawsMembers };
// The names GetIDsOfNames is asked for; their dispatch ids are looked up once an object.
const wchar_t* const kMemberNames[kJawsMembers] = {L"SayString", L"StopSpeech", L"RunFunction"};

// The script call that shows a text on the braille display: BrailleString("text").
const wchar_t kBrailleCallHead[] = L"BrailleString(\"";
const wchar_t kBrailleCallTail[] = L"\")";

// ---- JAWS state: main thread only, alive for the mode.
struct jaws_state {
    IDispatch* api = NULL;
    bool attempted = false;  // set just before the one creation attempt of the run
    DISPID members[kJawsMembers] = {DISPID_UNKNOWN, DISPID_UNKNOWN, DISPID_UNKNOWN};
    bool braille_failure_logged = false;
};
constinit jaws_state jaws;

bool jaws_window_exists(void) { return FindWindowW(kJawsWindowClass, NULL) != NULL; }

// The object, created on first need while JAWS runs; NULL when JAWS is off for the run.
IDispatch* jaws_api(void) {
    if (jaws.api || jaws.attempted) return jaws.api;
    jaws.attempted = true;
    CLSID clsid;
    HRESULT hr = CLSIDFromProgID(kJawsProgId, &clsid);
    IDispatch* api = NULL;
    if (SUCCEEDED(hr)) hr = CoCreateInstance(clsid, NULL, CLSCTX_INPROC_SERVER, IID_IDispatch, (void**)&api);
    if (FAILED(hr) || !api) {
        log_line("JAWS: API not available (hr=0x%08lx)", (unsigned long)hr);
        return NULL;
    }
    jaws.api = api;
    return api;
}

// Calls a member with its arguments in the order the member takes them; true when the call went
// through and, for a member that answers, the answer was true.
bool call_jaws(jaws_member member, VARIANT* arguments, UINT count, bool answers) {
    IDispatch* api = jaws_api();
    if (!api) return false;
    if (jaws.members[member] == DISPID_UNKNOWN) {
        LPOLESTR name = const_cast<LPOLESTR>(kMemberNames[member]);
        if (FAILED(api->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &jaws.members[member]))) {
            jaws.members[member] = DISPID_UNKNOWN;
            return false;
        }
    }
    // IDispatch takes the arguments last first.
    VARIANT reversed[2];
    for (UINT i = 0; i < count; i++) reversed[i] = arguments[count - 1 - i];
    DISPPARAMS parameters = {count ? reversed : NULL, NULL, count, 0};
    VARIANT result;
    VariantInit(&result);
    const HRESULT hr = api->Invoke(jaws.members[member], IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD,
                                   &parameters, answers ? &result : NULL, NULL, NULL);
    const bool said_yes = result.vt == VT_BOOL && result.boolVal != VARIANT_FALSE;
    VariantClear(&result);
    return SUCCEEDED(hr) && (!answers || said_yes);
}

VARIANT text_argument(BSTR text) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = text;
    return v;
}
}  // namespace

bool jaws_answers(void) { return jaws_window_exists() && jaws_api() != NULL; }

bool jaws_speak(const wchar_t* text, bool interrupt) {
    BSTR copy = SysAllocString(text);
    if (!copy) return false;
    VARIANT arguments[2] = {text_argument(copy), {}};
    arguments[1].vt = VT_BOOL;
    arguments[1].boolVal = interrupt ? VARIANT_TRUE : VARIANT_FALSE;
    const bool took = call_jaws(kSayString, arguments, 2, true);
    SysFreeString(copy);
    return took;
}

void jaws_cancel(void) {
    if (jaws_window_exists()) call_jaws(kStopSpeech, NULL, 0, false);
}

// A double quote would end the script's string: each becomes an apostrophe.
void jaws_braille(const wchar_t* text) {
    const UINT head = (UINT)(sizeof kBrailleCallHead / sizeof kBrailleCallHead[0] - 1);
    const UINT tail = (UINT)(sizeof kBrailleCallTail / sizeof kBrailleCallTail[0] - 1);
    const UINT units = (UINT)wcslen(text);
    BSTR call = SysAllocStringLen(NULL, head + units + tail);
    bool shown = false;
    if (call) {
        memcpy(call, kBrailleCallHead, head * sizeof(wchar_t));
        for (UINT i = 0; i < units; i++) call[head + i] = text[i] == L'"' ? L'\'' : text[i];
        memcpy(call + head + units, kBrailleCallTail, tail * sizeof(wchar_t));
        VARIANT argument = text_argument(call);
        shown = call_jaws(kRunFunction, &argument, 1, true);
        SysFreeString(call);
    }
    if (shown || jaws.braille_failure_logged) return;
    jaws.braille_failure_logged = true;
    log_line("braille: JAWS RunFunction failed");
}

void jaws_finish(DWORD) {
    if (jaws.api) jaws.api->Release();
    jaws.api = NULL;
}

void reset_jaws(void) {
    jaws_finish(0);
    renew(jaws);
}
