// Stand-in NVDA: serves the controller interface 1.0, and the second one of NVDA 2024.1 and later,
// over ncalrpc at the endpoint NV Access's client computes for this session and desktop, so the
// real client can be tested against it.
//
//   nvda_server.exe [--record PATH] [--control PATH]
//
// Each call is answered from the control file, read afresh, and recorded with the time it
// arrived, once its answer is known. The main thread only waits for the control file to say
// end=1; the RPC runtime's threads serve the calls.
#include "record.h"
#include "nvda_controller.h"
#include <stdio.h>
#include <string.h>
#include <initializer_list>

namespace {
// What the client gives on Windows when no NVDA listens (RPC_S_SERVER_UNAVAILABLE).
constexpr unsigned long kNotRunning = 1722;
// How often the main thread looks for end=1.
constexpr DWORD kEndPollMs = 20;
constexpr size_t kPathCap = 1024;

wchar_t record_path[kPathCap];
wchar_t control_path[kPathCap];

// Answers a call: 1722 for every call while running is not 1, else the call's own status key.
// Every call may first hold its caller a little (a slow NVDA), and speakText longer (a frozen one).
// Its record line is the call, its answer, then the arguments in fields, then its text.
error_status_t serve(const char* call, const char* status_key, const wchar_t* text, const char* fields = "") {
    unsigned long long arrived = rec_time_us();
    char content[4096];
    ctl_read_file(control_path, content, sizeof content);
    unsigned long status = kNotRunning;
    const long long call_ms = ctl_value(content, "call_delay_ms", 0);
    if (call_ms > 0) Sleep((DWORD)call_ms);
    if (ctl_value(content, "running", 1) == 1) {
        status = (unsigned long)ctl_value(content, status_key, 0);
        long long block_ms = strcmp(call, "speakText") == 0 ? ctl_value(content, "speak_block_ms", 0) : 0;
        if (block_ms > 0) Sleep((DWORD)block_ms);
    }
    char head[96];
    snprintf(head, sizeof head, "%s\t%lu%s", call, status, fields);
    rec_event_at(record_path, arrived, head, text);
    return status;
}

void copy_argument(wchar_t* out, const wchar_t* value) {
    if (wcslen(value) < kPathCap) wcscpy(out, value);
}
}  // namespace

extern "C" {
error_status_t testIfRunning(void) { return serve("testIfRunning", "test_status", NULL); }
error_status_t speakText(const wchar_t* text) { return serve("speakText", "speak_status", text); }
error_status_t cancelSpeech(void) { return serve("cancelSpeech", "cancel_status", NULL); }
error_status_t brailleMessage(const wchar_t* message) { return serve("brailleMessage", "braille_status", message); }

error_status_t getProcessId(unsigned long* pid) {
    *pid = GetCurrentProcessId();
    return serve("getProcessId", "pid_status", NULL);
}
error_status_t speakSsml(const wchar_t* ssml, SYMBOL_LEVEL symbol_level, SPEECH_PRIORITY priority, boolean asynchronous) {
    char fields[48];
    snprintf(fields, sizeof fields, "\t%d\t%d\t%d", (int)priority, (int)symbol_level, (int)asynchronous);
    return serve("speakSsml", "ssml_status", ssml, fields);
}

void* __RPC_USER MIDL_user_allocate(size_t size) { return HeapAlloc(GetProcessHeap(), 0, size); }
void __RPC_USER MIDL_user_free(void* block) { HeapFree(GetProcessHeap(), 0, block); }
}

int wmain(int argc, wchar_t** argv) {
    for (int i = 1; i + 1 < argc; i += 2) {
        if (wcscmp(argv[i], L"--record") == 0) copy_argument(record_path, argv[i + 1]);
        else if (wcscmp(argv[i], L"--control") == 0) copy_argument(control_path, argv[i + 1]);
    }
    // The client's endpoint: NvdaCtlr.<session id>.<desktop name>.
    DWORD session = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &session);
    wchar_t desktop[256] = L"";
    DWORD needed = 0;
    GetUserObjectInformationW(GetThreadDesktop(GetCurrentThreadId()), UOI_NAME, desktop, sizeof desktop, &needed);
    wchar_t endpoint[300];
    _snwprintf(endpoint, 300, L"NvdaCtlr.%lu.%ls", session, desktop);
    endpoint[299] = 0;

    RPC_STATUS status = RpcServerUseProtseqEpW((RPC_WSTR)L"ncalrpc", RPC_C_PROTSEQ_MAX_REQS_DEFAULT,
                                               (RPC_WSTR)endpoint, NULL);
    for (RPC_IF_HANDLE served : {NvdaController_v1_0_s_ifspec, NvdaController2_v1_0_s_ifspec})
        if (status == RPC_S_OK)
            status = RpcServerRegisterIf2(served, NULL, NULL, RPC_IF_ALLOW_CALLBACKS_WITH_NO_AUTH,
                                          RPC_C_LISTEN_MAX_CALLS_DEFAULT, (unsigned)-1, NULL);
    if (status == RPC_S_OK) status = RpcServerListen(1, RPC_C_LISTEN_MAX_CALLS_DEFAULT, TRUE);
    if (status != RPC_S_OK) {
        char head[64];
        snprintf(head, sizeof head, "failed\t%ld", (long)status);
        rec_event(record_path, head, endpoint);
        return 1;
    }
    rec_event(record_path, "listen", endpoint);
    while (ctl_file_value(control_path, "end", 0) != 1) Sleep(kEndPollMs);
    // Ending as NVDA quits: the endpoint goes with the process.
    RpcMgmtStopServerListening(NULL);
    rec_event(record_path, "end", NULL);
    return 0;
}
