// The JAWS route: the API object that JAWS installs for other programs (ProgID
// "FreedomSci.JawsApi"), called late-bound through IDispatch as JAWS documents it. JAWS counts as
// running while its window (class "JFWUI2") exists; the window is looked up only when a text or
// a stop line reaches this route, so NVDA's lines cost nothing here. Each window seen is one
// appearance of JAWS: the object is created on the first text of an appearance, at most once,
// and let go when the window is gone or another one stands in its place (JAWS restarted), so a
// broken installation costs one log line per JAWS start. A window that stops taking its messages
// is a hung JAWS: it is not called, as a call would hang the bridge with it. SayString returns
// once JAWS has scheduled the text.
#include "speech/routes.h"
#include <objbase.h>
#include <oleauto.h>
#include <string.h>
#include <wchar.h>
#include "run/log.h"
#include "run/seams.h"
#include "run/state.h"

namespace {
const wchar_t kJawsProgId[] = L"FreedomSci.JawsApi";
const wchar_t kJawsWindowClass[] = L"JFWUI2";

// The script call that shows a text on the braille display: BrailleString("text").
const wchar_t kBrailleCallHead[] = L"BrailleString(\"";
const wchar_t kBrailleCallTail[] = L"\")";

// A member the route calls: the name GetIDsOfNames is asked for, and the dispatch id it gave,
// looked up once an object.
struct jaws_member {
    const wchar_t* name;
    DISPID id;
};
struct jaws_members {
    jaws_member say_string = {.name = L"SayString", .id = DISPID_UNKNOWN};
    jaws_member stop_speech = {.name = L"StopSpeech", .id = DISPID_UNKNOWN};
    jaws_member run_function = {.name = L"RunFunction", .id = DISPID_UNKNOWN};
};

// ---- JAWS state: main thread only, alive for the mode.
struct jaws_state {
    HWND window = NULL;      // JAWS's window when last looked up; NULL: JAWS was not running
    IDispatch* api = NULL;   // the object of this appearance of the window
    bool attempted = false;  // set just before the one creation attempt of the appearance
    jaws_members members;
    bool say_failure_logged = false;  // this appearance
    bool hang_logged = false;         // the current hang; cleared once the window answers
    bool braille_failure_logged = false;
};
constinit jaws_state jaws;

void release_api(void) {
    if (jaws.api) jaws.api->Release();
    jaws.api = NULL;
    jaws.members = jaws_members();
}

// JAWS's window, followed: one other than the last is a new appearance of JAWS (its start, or a
// restart between two texts), and none lets go of the last one's object.
HWND jaws_window(void) {
    const HWND window = FindWindowW(kJawsWindowClass, NULL);
    if (window == jaws.window) return window;
    release_api();
    jaws.window = window;
    jaws.attempted = false;
    jaws.say_failure_logged = false;
    jaws.hang_logged = false;
    return window;
}

// True when JAWS runs and takes its messages; a hung one is logged once a hang.
bool jaws_responds(void) {
    const HWND window = jaws_window();
    if (!window) return false;
    if (!seams.is_hung(window)) {
        jaws.hang_logged = false;
        return true;
    }
    if (!jaws.hang_logged) log_line("JAWS: not responding; skipped");
    jaws.hang_logged = true;
    return false;
}

// The object, created on first need while JAWS runs; NULL when this appearance has none.
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

// Calls a member with its arguments in the order the member takes them. For a member that
// answers, *answer is its answer read as a truth value (JAWS may give TRUE as an integer), false
// whenever the call failed. Returns the first failure of the call (looking up the name, the call,
// reading the answer), else S_OK.
HRESULT call_jaws(jaws_member& member, VARIANT* arguments, UINT count, bool* answer) {
    if (answer) *answer = false;
    IDispatch* api = jaws_api();
    if (!api) return E_NOINTERFACE;
    if (member.id == DISPID_UNKNOWN) {
        LPOLESTR name = const_cast<LPOLESTR>(member.name);
        const HRESULT hr = api->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &member.id);
        if (FAILED(hr)) {
            member.id = DISPID_UNKNOWN;
            return hr;
        }
    }
    // IDispatch takes the arguments last first.
    VARIANT reversed[2];
    for (UINT i = 0; i < count; i++) reversed[i] = arguments[count - 1 - i];
    DISPPARAMS parameters = {count ? reversed : NULL, NULL, count, 0};
    VARIANT result;
    VariantInit(&result);
    HRESULT hr = api->Invoke(member.id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &parameters,
                             answer ? &result : NULL, NULL, NULL);
    if (SUCCEEDED(hr) && answer) {
        VARIANT truth;
        VariantInit(&truth);
        hr = VariantChangeType(&truth, &result, 0, VT_BOOL);
        *answer = SUCCEEDED(hr) && truth.boolVal != VARIANT_FALSE;
        VariantClear(&truth);
    }
    VariantClear(&result);
    return hr;
}

VARIANT text_argument(BSTR text) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = text;
    return v;
}

// A script string holds no line break or other control character: each becomes a space.
bool is_control(wchar_t c) { return c < 0x20 || c == 0x7F; }
}  // namespace

bool jaws_answers(void) { return jaws_responds() && jaws_api() != NULL; }

bool jaws_speak(const wchar_t* text, bool interrupt) {
    BSTR copy = SysAllocString(text);
    if (!copy) return false;
    VARIANT arguments[2] = {text_argument(copy), {}};
    arguments[1].vt = VT_BOOL;
    arguments[1].boolVal = interrupt ? VARIANT_TRUE : VARIANT_FALSE;
    bool took = false;
    const HRESULT hr = call_jaws(jaws.members.say_string, arguments, 2, &took);
    SysFreeString(copy);
    if (took) return true;
    // A FALSE answer logs S_OK: the call went through and JAWS refused the text.
    if (!jaws.say_failure_logged) log_line("JAWS: SayString failed (hr=0x%08lx)", (unsigned long)hr);
    jaws.say_failure_logged = true;
    return false;
}

void jaws_cancel(void) {
    if (jaws_responds()) call_jaws(jaws.members.stop_speech, NULL, 0, NULL);
}

// The text goes into a script string literal, where a backslash starts an escape and a double
// quote ends it: each backslash is doubled, each double quote becomes an apostrophe.
void jaws_braille(const wchar_t* text) {
    const UINT head = (UINT)(sizeof kBrailleCallHead / sizeof kBrailleCallHead[0] - 1);
    const UINT tail = (UINT)(sizeof kBrailleCallTail / sizeof kBrailleCallTail[0] - 1);
    const UINT units = (UINT)wcslen(text);
    UINT written = units;
    for (UINT i = 0; i < units; i++)
        if (text[i] == L'\\') written++;
    BSTR call = SysAllocStringLen(NULL, head + written + tail);
    bool shown = false;
    if (call) {
        memcpy(call, kBrailleCallHead, head * sizeof(wchar_t));
        UINT at = head;
        for (UINT i = 0; i < units; i++) {
            const wchar_t c = text[i];
            if (c == L'\\') call[at++] = L'\\';
            call[at++] = c == L'"' ? L'\'' : is_control(c) ? L' ' : c;
        }
        memcpy(call + at, kBrailleCallTail, tail * sizeof(wchar_t));
        VARIANT argument = text_argument(call);
        call_jaws(jaws.members.run_function, &argument, 1, &shown);
        SysFreeString(call);
    }
    if (shown || jaws.braille_failure_logged) return;
    jaws.braille_failure_logged = true;
    log_line("braille: JAWS RunFunction failed");
}

void jaws_finish(DWORD) { release_api(); }

void reset_jaws(void) {
    jaws_finish(0);
    renew(jaws);
}
