// Stand-in game: a window (or several, or none) that the bridge can find, watch and send keys to,
// steered by a control file and reporting what it sees in an events file.
#include "record.h"
#include <shellapi.h>
#include <stdio.h>
#include <string.h>
#include <stdlib.h>
#include <wchar.h>

static const UINT_PTR TIMER_TICK = 1;
static const UINT_PTR TIMER_EXIT = 2;
static const DWORD TICK_MS = 50;

static wchar_t g_title[256] = L"Stand-in Game";
static wchar_t g_class[256] = L"UnrealWindow";
static wchar_t g_events[1024];
static wchar_t g_control[1024];
static bool g_splash, g_hidden, g_owned, g_no_window;
static wchar_t g_launch[1024];  // --launch: the library called at start, before the window
static DWORD g_exit_after;  // 0: run until told otherwise
static UINT g_exit_code;

static HWND g_main;
static char g_last_control[4096];
static int g_front = -1;  // -1 until the first tick has written it

static void ev(const char* line) {
    if (!g_events[0]) return;
    char buf[4200];
    int n = snprintf(buf, sizeof(buf) - 1, "%s", line);
    if (n < 0) return;
    if (n > (int)sizeof(buf) - 2) n = (int)sizeof(buf) - 2;
    buf[n++] = '\n';
    rec_append_raw(g_events, buf, (size_t)n);
}

static void game_exit(void) {
    ev("exit");
    ExitProcess(g_exit_code);
}

// Trimmed control file content; a BOM or stray line ends do not make a different command.
static void read_control(char* out, size_t cap) {
    char raw[4096];
    ctl_read_file(g_control, raw, sizeof(raw));
    char* p = raw;
    if ((unsigned char)p[0] == 0xEF && (unsigned char)p[1] == 0xBB && (unsigned char)p[2] == 0xBF) p += 3;
    while (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n') p++;
    size_t n = strlen(p);
    while (n > 0 && (p[n - 1] == ' ' || p[n - 1] == '\t' || p[n - 1] == '\r' || p[n - 1] == '\n')) n--;
    if (n >= cap) n = cap - 1;
    memcpy(out, p, n);
    out[n] = 0;
}

static bool word_is(const char* cmd, const char* word) {
    size_t n = strlen(word);
    return strncmp(cmd, word, n) == 0 && (cmd[n] == 0 || cmd[n] == ' ' || cmd[n] == '\t');
}

// Loads the library and calls its tolvane_launch export from this process, as the game's mod
// loader does; the event is "launched RESULT" or "launch failed ERROR".
typedef int (*launch_fn)(void);

static DWORD WINAPI launch_thread(void* fn) {
    return (DWORD)((launch_fn)fn)();
}

// With marker, an inheritable pipe end is open while the export runs; a process started with
// handle inheritance keeps it open after the game closed its own.
static void launch_library(const wchar_t* path, bool on_thread, bool marker = false) {
    HANDLE pipe_read = NULL, pipe_write = NULL;
    if (marker) {
        SECURITY_ATTRIBUTES inherit = {sizeof inherit, NULL, TRUE};
        if (CreatePipe(&pipe_read, &pipe_write, &inherit, 0)) SetHandleInformation(pipe_read, HANDLE_FLAG_INHERIT, 0);
    }
    HMODULE lib = LoadLibraryW(path);
    launch_fn fn = lib ? (launch_fn)(void*)GetProcAddress(lib, "tolvane_launch") : NULL;
    char line[64];
    if (!fn) {
        snprintf(line, sizeof(line), "launch failed %lu", (unsigned long)GetLastError());
    } else if (on_thread) {
        DWORD result = 1;
        HANDLE thread = CreateThread(NULL, 0, launch_thread, (void*)fn, 0, NULL);
        if (thread) {
            WaitForSingleObject(thread, INFINITE);
            GetExitCodeThread(thread, &result);
            CloseHandle(thread);
        }
        snprintf(line, sizeof(line), "launched %lu on a thread", (unsigned long)result);
    } else {
        snprintf(line, sizeof(line), "launched %d", fn());
    }
    ev(line);
    if (pipe_read) {
        CloseHandle(pipe_write);
        bool kept = true;
        for (int waited = 0; waited < 1500 && kept; waited += 50) {
            DWORD available = 0;
            kept = PeekNamedPipe(pipe_read, NULL, 0, NULL, &available, NULL) || GetLastError() != ERROR_BROKEN_PIPE;
            if (kept) Sleep(50);
        }
        CloseHandle(pipe_read);
        ev(kept ? "marker kept" : "marker closed");
    }
}

static void run_command(const char* cmd) {
    char line[4200];
    snprintf(line, sizeof(line), "cmd %s", cmd);
    // The events file is one line per event.
    for (char* p = line; *p; p++)
        if (*p == '\r' || *p == '\n') *p = ' ';
    ev(line);

    if (word_is(cmd, "exit")) {
        game_exit();
    } else if (word_is(cmd, "hang")) {
        const char* arg = cmd + 4;
        while (*arg == ' ' || *arg == '\t') arg++;
        ev("hang begin");
        if (*arg) {
            Sleep((DWORD)strtoul(arg, NULL, 10));
        } else {
            // Until the file changes; the new content is then run at the next tick.
            char now[4096];
            for (;;) {
                Sleep(TICK_MS);
                read_control(now, sizeof(now));
                if (strcmp(now, g_last_control) != 0) break;
            }
        }
        ev("hang end");
    } else if (word_is(cmd, "launch")) {
        // "launch Z:\path\TolvaneLaunch.dll [thread] [anything]": the path ends at the first
        // blank; "thread" calls the export from a thread of its own, other words only make the
        // command differ from the last one.
        const char* arg = cmd + 6;
        while (*arg == ' ' || *arg == '\t') arg++;
        int length = 0;
        while (arg[length] && arg[length] != ' ' && arg[length] != '\t') length++;
        wchar_t path[1024];
        int n = MultiByteToWideChar(CP_UTF8, 0, arg, length, path, 1023);
        path[n > 0 ? n : 0] = 0;
        launch_library(path, strstr(arg + length, " thread") != NULL, strstr(arg + length, " marker") != NULL);
    } else if (word_is(cmd, "front")) {
        if (g_main) {
            SetForegroundWindow(g_main);
            SetFocus(g_main);
        }
    } else if (word_is(cmd, "hide")) {
        if (g_main) ShowWindow(g_main, SW_HIDE);
    } else if (word_is(cmd, "show")) {
        if (g_main) ShowWindow(g_main, SW_SHOW);
    }
}

static void control_tick(void) {
    if (!g_control[0]) return;
    char now[4096];
    read_control(now, sizeof(now));
    if (strcmp(now, g_last_control) == 0) return;
    memcpy(g_last_control, now, sizeof(now));
    if (now[0]) run_command(now);
}

static void front_tick(void) {
    if (!g_main) return;
    int front = GetForegroundWindow() == g_main ? 1 : 0;
    if (front == g_front) return;
    g_front = front;
    ev(front ? "front 1" : "front 0");
}

static void key_event(const char* name, WPARAM vk) {
    char line[64];
    snprintf(line, sizeof(line), "%s %u", name, (unsigned)vk);
    ev(line);
}

static LRESULT CALLBACK main_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        // System keys are kept from DefWindowProc: Alt or F10 alone would enter the menu loop
        // and swallow the keys that follow.
        case WM_KEYDOWN: key_event("keydown", wp); return 0;
        case WM_SYSKEYDOWN: key_event("sysdown", wp); return 0;
        case WM_KEYUP: key_event("keyup", wp); return 0;
        case WM_SYSKEYUP: key_event("sysup", wp); return 0;
        case WM_SYSCHAR: return 0;
        case WM_TIMER:
            if (wp == TIMER_TICK) {
                front_tick();
                control_tick();
            } else if (wp == TIMER_EXIT) {
                game_exit();
            }
            return 0;
        // Straight out: destroying a window first costs Wine 2 s without a window manager.
        case WM_CLOSE:
        case WM_DESTROY: game_exit(); return 0;
        default: break;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

static bool register_class(const wchar_t* name, WNDPROC proc, HINSTANCE inst) {
    WNDCLASSEXW wc;
    memset(&wc, 0, sizeof(wc));
    wc.cbSize = sizeof(wc);
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = proc;
    wc.hInstance = inst;
    wc.hCursor = LoadCursorW(NULL, (LPCWSTR)IDC_ARROW);
    wc.hbrBackground = (HBRUSH)(COLOR_WINDOW + 1);
    wc.lpszClassName = name;
    return RegisterClassExW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

static void copy_arg(wchar_t* out, size_t cap, const wchar_t* arg) {
    size_t n = wcslen(arg);
    if (n >= cap) n = cap - 1;
    memcpy(out, arg, n * sizeof(wchar_t));
    out[n] = 0;
}

static void parse_args(void) {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv) return;
    for (int i = 1; i < argc; i++) {
        const wchar_t* a = argv[i];
        bool has_value = i + 1 < argc;
        if (wcscmp(a, L"--splash") == 0) g_splash = true;
        else if (wcscmp(a, L"--hidden") == 0) g_hidden = true;
        else if (wcscmp(a, L"--owned") == 0) g_owned = true;
        else if (wcscmp(a, L"--no-window") == 0) g_no_window = true;
        else if (has_value && wcscmp(a, L"--title") == 0) copy_arg(g_title, 256, argv[++i]);
        else if (has_value && wcscmp(a, L"--class") == 0) copy_arg(g_class, 256, argv[++i]);
        else if (has_value && wcscmp(a, L"--events") == 0) copy_arg(g_events, 1024, argv[++i]);
        else if (has_value && wcscmp(a, L"--control") == 0) copy_arg(g_control, 1024, argv[++i]);
        else if (has_value && wcscmp(a, L"--launch") == 0) copy_arg(g_launch, 1024, argv[++i]);
        else if (has_value && wcscmp(a, L"--exit-after") == 0) g_exit_after = (DWORD)wcstoul(argv[++i], NULL, 10);
        else if (has_value && wcscmp(a, L"--exit-code") == 0) g_exit_code = (UINT)wcstol(argv[++i], NULL, 10);
    }
    LocalFree(argv);
}

static void ready(HWND hwnd) {
    char line[96];
    snprintf(line, sizeof(line), "ready %llu %lu", (unsigned long long)(ULONG_PTR)hwnd,
             (unsigned long)GetCurrentProcessId());
    ev(line);
}

static int run_without_window(void) {
    ready(NULL);
    ULONGLONG start = GetTickCount64();
    for (;;) {
        Sleep(TICK_MS);
        if (g_exit_after && GetTickCount64() - start >= g_exit_after) game_exit();
        control_tick();
    }
}

int WINAPI wWinMain(HINSTANCE inst, HINSTANCE, LPWSTR, int) {
    parse_args();
    if (g_launch[0]) launch_library(g_launch, false);
    if (g_no_window) return run_without_window();

    if (!register_class(g_class, main_proc, inst)) return 3;

    // Shown first, as a game's splash is; topmost so that it stays ahead of the main window in
    // z-order, which is the order EnumWindows reports.
    if (g_splash && register_class(L"SplashScreen", DefWindowProcW, inst)) {
        wchar_t title[300];
        _snwprintf(title, 300, L"%ls splash", g_title);
        title[299] = 0;
        HWND splash = CreateWindowExW(WS_EX_TOPMOST, L"SplashScreen", title, WS_POPUP | WS_BORDER,
                                      480, 100, 240, 120, NULL, NULL, inst, NULL);
        if (splash) ShowWindow(splash, SW_SHOWNOACTIVATE);
    }

    HWND owner = NULL;
    if (g_owned && register_class(L"StandinGameOwner", DefWindowProcW, inst))
        owner = CreateWindowExW(0, L"StandinGameOwner", L"", WS_OVERLAPPED, 0, 0, 10, 10, NULL, NULL, inst, NULL);

    g_main = CreateWindowExW(0, g_class, g_title, WS_OVERLAPPEDWINDOW, 100, 100, 320, 200, owner, NULL, inst, NULL);
    if (!g_main) return 4;
    if (!g_hidden) {
        ShowWindow(g_main, SW_SHOW);
        UpdateWindow(g_main);
        SetForegroundWindow(g_main);
    }
    ready(g_main);

    SetTimer(g_main, TIMER_TICK, TICK_MS, NULL);
    if (g_exit_after) SetTimer(g_main, TIMER_EXIT, g_exit_after, NULL);

    MSG msg;
    while (GetMessageW(&msg, NULL, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    game_exit();
    return 0;
}
