// File operations that tests need done by a Windows process, with Windows sharing semantics:
//   file_tool lock PATH MS        exclusive open (share 0), hold MS ms; prints "locked"
//   file_tool hold-share PATH MS  open shared read/write/delete, hold MS ms; prints "locked"
//   file_tool replace SRC DST     MoveFileExW with MOVEFILE_REPLACE_EXISTING
//   file_tool append PATH TEXT    append TEXT as UTF-8 plus LF
//   file_tool append-lines PATH PREFIX COUNT MIN_MS MAX_MS
//                                 append COUNT lines "PREFIX<i>", each with its own open, write and
//                                 close, MIN_MS to MAX_MS apart (a fixed pseudo-random sequence);
//                                 prints the time of each, in microseconds since 1970, after its close
//   file_tool post-quit PID       post WM_QUIT to every thread of process PID; prints the count
//   file_tool hold-process PID MS keep a handle on process PID for MS ms; prints "held"
//   file_tool wait-process PID MS wait up to MS ms for process PID to end; prints "waiting",
//                                 then "exit CODE" or "still running"
//   file_tool hold-mutex NAME MS  keep the named mutex object alive (not owned) for MS ms;
//                                 prints "held"
//   file_tool say-unpaired EXE    run EXE --say with a text holding an unpaired surrogate;
//                                 exit code: EXE's
// Exit code 0 on success, 1 on failure (with "error N" on stdout), 2 on bad usage.
#include <windows.h>
#include <tlhelp32.h>
#include <stdio.h>
#include <string.h>
#include <stdlib.h>
#include <wchar.h>

static void out(const char* text) {
    DWORD written;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, (DWORD)strlen(text), &written, NULL);
}

static int fail(const char* what) {
    char line[128];
    snprintf(line, sizeof(line), "%s: error %lu\n", what, (unsigned long)GetLastError());
    out(line);
    return 1;
}

static int hold(const wchar_t* path, DWORD share, DWORD ms) {
    // A reader that has the file open for a moment (the bridge polling it) is waited out.
    HANDLE h = INVALID_HANDLE_VALUE;
    for (int tries = 0; tries < 2000; tries++) {
        h = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, share, NULL, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
        if (h != INVALID_HANDLE_VALUE || GetLastError() != ERROR_SHARING_VIOLATION) break;
        Sleep(1);
    }
    if (h == INVALID_HANDLE_VALUE) return fail("open");
    out("locked\n");
    Sleep(ms);
    CloseHandle(h);
    return 0;
}

static int append(const wchar_t* path, const wchar_t* text) {
    int len = (int)wcslen(text);
    int need = len ? WideCharToMultiByte(CP_UTF8, 0, text, len, NULL, 0, NULL, NULL) : 0;
    char small[4096];
    char* buf = small;
    if (need + 1 > (int)sizeof(small)) {
        buf = (char*)HeapAlloc(GetProcessHeap(), 0, (SIZE_T)need + 1);
        if (!buf) return fail("memory");
    }
    if (len) WideCharToMultiByte(CP_UTF8, 0, text, len, buf, need, NULL, NULL);
    buf[need] = '\n';
    HANDLE h = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    int rc = 0;
    if (h == INVALID_HANDLE_VALUE) {
        rc = fail("open");
    } else {
        DWORD written = 0;
        if (!WriteFile(h, buf, (DWORD)need + 1, &written, NULL) || written != (DWORD)need + 1) rc = fail("write");
        CloseHandle(h);
    }
    if (buf != small) HeapFree(GetProcessHeap(), 0, buf);
    return rc;
}

static unsigned long long now_us(void) {
    FILETIME ft;
    GetSystemTimePreciseAsFileTime(&ft);
    return ((((unsigned long long)ft.dwHighDateTime << 32) | ft.dwLowDateTime) - 116444736000000000ULL) / 10;
}

// As the mod writes: one open, one append and one close per line.
static int append_lines(const wchar_t* path, const wchar_t* prefix, int count, DWORD min_ms, DWORD max_ms) {
    unsigned long state = 12345;
    char line[512], text[64];
    for (int i = 0; i < count; i++) {
        state = state * 1103515245UL + 12345UL;
        Sleep(min_ms + (DWORD)((state >> 16) % (max_ms - min_ms + 1)));
        int n = WideCharToMultiByte(CP_UTF8, 0, prefix, -1, line, 400, NULL, NULL);
        n = n > 0 ? n - 1 : 0;
        n += snprintf(line + n, sizeof line - n, "%d\n", i);
        HANDLE h = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                               OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
        if (h == INVALID_HANDLE_VALUE) return fail("open");
        DWORD written = 0;
        BOOL ok = WriteFile(h, line, (DWORD)n, &written, NULL);
        CloseHandle(h);
        if (!ok) return fail("write");
        snprintf(text, sizeof text, "%llu\n", now_us());
        out(text);
    }
    return 0;
}

static int post_quit(DWORD pid) {
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snap == INVALID_HANDLE_VALUE) return fail("snapshot");
    THREADENTRY32 te;
    te.dwSize = sizeof te;
    int posted = 0;
    for (BOOL ok = Thread32First(snap, &te); ok; ok = Thread32Next(snap, &te))
        if (te.th32OwnerProcessID == pid && PostThreadMessageW(te.th32ThreadID, WM_QUIT, 0, 0)) posted++;
    CloseHandle(snap);
    char line[32];
    snprintf(line, sizeof(line), "%d\n", posted);
    out(line);
    return posted ? 0 : 1;
}

// Keeps a handle for ms; with another handle on a mutex, the object outlives its owner, so
// when the owner dies the mutex stays, abandoned.
static int hold_handle(HANDLE h, DWORD ms) {
    if (!h) return fail("open");
    out("held\n");
    Sleep(ms);
    CloseHandle(h);
    return 0;
}

static int hold_process(DWORD pid, DWORD ms) { return hold_handle(OpenProcess(SYNCHRONIZE, FALSE, pid), ms); }

static int hold_mutex(const wchar_t* name, DWORD ms) { return hold_handle(OpenMutexW(SYNCHRONIZE, FALSE, name), ms); }

static int wait_process(DWORD pid, DWORD ms) {
    HANDLE h = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!h) return fail("open");
    out("waiting\n");
    DWORD code = 0;
    bool ended = WaitForSingleObject(h, ms) == WAIT_OBJECT_0 && GetExitCodeProcess(h, &code);
    CloseHandle(h);
    char line[32];
    snprintf(line, sizeof(line), ended ? "exit %lu\n" : "still running\n", (unsigned long)code);
    out(line);
    return ended ? 0 : 1;
}

static int say_unpaired(const wchar_t* exe) {
    wchar_t cmd[1200];
    _snwprintf(cmd, 1200, L"\"%ls\" --say a\xD800" L"b", exe);
    cmd[1199] = 0;
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(exe, cmd, NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi)) return fail("start");
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return (int)code;
}

int wmain(int argc, wchar_t** argv) {
    if (argc == 3 && wcscmp(argv[1], L"post-quit") == 0) return post_quit((DWORD)wcstoul(argv[2], NULL, 10));
    if (argc == 4 && wcscmp(argv[1], L"hold-process") == 0)
        return hold_process((DWORD)wcstoul(argv[2], NULL, 10), (DWORD)wcstoul(argv[3], NULL, 10));
    if (argc == 4 && wcscmp(argv[1], L"wait-process") == 0)
        return wait_process((DWORD)wcstoul(argv[2], NULL, 10), (DWORD)wcstoul(argv[3], NULL, 10));
    if (argc == 3 && wcscmp(argv[1], L"say-unpaired") == 0) return say_unpaired(argv[2]);
    if (argc == 4 && wcscmp(argv[1], L"hold-mutex") == 0) return hold_mutex(argv[2], (DWORD)wcstoul(argv[3], NULL, 10));
    if (argc == 4 && wcscmp(argv[1], L"lock") == 0) return hold(argv[2], 0, (DWORD)wcstoul(argv[3], NULL, 10));
    if (argc == 4 && wcscmp(argv[1], L"hold-share") == 0)
        return hold(argv[2], FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, (DWORD)wcstoul(argv[3], NULL, 10));
    if (argc == 4 && wcscmp(argv[1], L"replace") == 0)
        return MoveFileExW(argv[2], argv[3], MOVEFILE_REPLACE_EXISTING) ? 0 : fail("replace");
    if (argc == 4 && wcscmp(argv[1], L"append") == 0) return append(argv[2], argv[3]);
    if (argc == 7 && wcscmp(argv[1], L"append-lines") == 0)
        return append_lines(argv[2], argv[3], _wtoi(argv[4]), (DWORD)_wtoi(argv[5]), (DWORD)_wtoi(argv[6]));
    out("usage: file_tool lock|hold-share PATH MS | replace SRC DST | append PATH TEXT |"
        " append-lines PATH PREFIX COUNT MIN_MS MAX_MS | post-quit PID |"
        " hold-process|wait-process PID MS | hold-mutex NAME MS | say-unpaired EXE\n");
    return 2;
}
