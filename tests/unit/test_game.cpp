// Window queries against real windows of this test program, and the attach rules against real
// processes.
#include "unit.h"
#include <wchar.h>
#include <wctype.h>
#include <string>
#include "game/game_process.h"
#include "game/game_window.h"
#include "run/log.h"
#include "run/seams.h"
#include "run/settings.h"

namespace {
LRESULT CALLBACK plain_proc(HWND w, UINT m, WPARAM wp, LPARAM lp) { return DefWindowProcW(w, m, wp, lp); }

HWND make_window(const wchar_t* cls, bool visible, HWND owner = NULL) {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = plain_proc;
    wc.hInstance = GetModuleHandleW(NULL);
    wc.lpszClassName = cls;
    RegisterClassW(&wc);  // fails harmlessly when the class exists
    HWND w = CreateWindowExW(0, cls, cls, WS_OVERLAPPEDWINDOW, 10, 10, 200, 100, owner, NULL, wc.hInstance, NULL);
    if (visible) ShowWindow(w, SW_SHOWNORMAL);
    return w;
}

void pump(void) {
    MSG msg;
    while (PeekMessageW(&msg, NULL, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
}

bool bring_to_front(HWND w) {
    for (int i = 0; i < 50; i++) {
        SetForegroundWindow(w);
        pump();
        if (GetForegroundWindow() == w) return true;
        Sleep(20);
    }
    return false;
}

}  // namespace

// Windows are left to the process exit: destroying a mapped window makes Wine wait for X.
TEST(find_game_window_picks_from_visible_unowned_windows) {
    DWORD me = GetCurrentProcessId();
    make_window(L"UnrealWindow", false);
    HWND owner = make_window(L"OwnerWindow", false);
    make_window(L"UnrealWindow", true, owner);
    CHECK(find_game_window(me) == NULL);  // only hidden or owned windows

    make_window(L"AnotherWindow", true);
    HWND splash = make_window(L"SplashScreen", true);  // on top: enumerated first
    CHECK(find_game_window(me) == splash);  // no game class: the first visible unowned window
    HWND game = make_window(L"UnrealWindow", true);
    make_window(L"SplashScreen", true);
    CHECK(find_game_window(me) == game);
    CHECK(find_game_window(me + 4000000) == NULL);

    // In front: the class alone counts, also with no game attached...
    reset_game_process();
    REQUIRE(bring_to_front(game));
    CHECK(game_window_in_front());
    REQUIRE(bring_to_front(splash));
    CHECK(!game_window_in_front());
    // ...and any window of the game process counts whatever its class.
    attach_game_for_tests(me, NULL);
    CHECK(game_window_in_front());
    reset_game_process();
    seams.game_window_in_front = []() { return true; };
    CHECK(game_window_in_front());
    seams.game_window_in_front = real_seams.game_window_in_front;
    CHECK(!game_window_in_front());
}

TEST(attach_takes_a_running_process_and_logs_a_missing_or_ended_one) {
    unit_begin_log();
    CHECK_EQ(attach_game_process(4000001, "--pid"), 0);
    CHECK(game_process == NULL);
    CHECK_EQ(game_pid.load(), 0UL);

    // A process that has ended but is still held open somewhere: "already exited".
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    // This program again, asked to run no case: it ends at once.
    wchar_t cmd[MAX_PATH + 32];
    GetModuleFileNameW(NULL, cmd, MAX_PATH);
    wcscat(cmd, L" no-such-case");
    REQUIRE(CreateProcessW(NULL, cmd, NULL, NULL, FALSE, CREATE_NO_WINDOW, NULL, NULL, &si, &pi));
    WaitForSingleObject(pi.hProcess, 10000);
    CHECK_EQ(attach_game_process(pi.dwProcessId, "--pid"), 0);
    CHECK(game_process == NULL);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);

    CHECK_EQ(attach_game_process(GetCurrentProcessId(), "found by name"), 1);
    CHECK(game_process != NULL);
    CHECK_EQ(game_pid.load(), GetCurrentProcessId());
    close_log();
    std::string log = unit_log();
    CHECK(log.find("cannot open game process 4000001 (--pid), error ") != std::string::npos);
    CHECK(log.find("process " + std::to_string(pi.dwProcessId) + " already exited\r\n") != std::string::npos);
    CHECK(log.find("watching game process " + std::to_string(GetCurrentProcessId()) +
                   " (found by name); will exit when it exits\r\n") != std::string::npos);
    CloseHandle(game_process);
}

TEST(search_finds_nothing_quietly) {
    unit_begin_log();
    format_wide(settings_for_tests().game_exe_name, kGameExeNameCap, L"%ls", L"no-such-game-here.exe");
    CHECK_EQ(find_game_process(), 0);
    // This very program, by its own name: found by name (its folder is not game_dir).
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(NULL, self, MAX_PATH);
    format_wide(settings_for_tests().game_exe_name, kGameExeNameCap, L"%ls", wcsrchr(self, L'\\') + 1);
    format_wide(settings_for_tests().game_dir, kModulePathCap, L"%ls", L"C:\\nowhere");
    CHECK_EQ(find_game_process(), 1);
    CHECK_EQ(game_pid.load(), GetCurrentProcessId());
    CloseHandle(game_process);
    reset_game_process();
    // Its folder in other letter case still counts as game_dir.
    wchar_t folder[MAX_PATH];
    DWORD size = MAX_PATH;
    REQUIRE(QueryFullProcessImageNameW(GetCurrentProcess(), 0, folder, &size));
    *wcsrchr(folder, L'\\') = 0;
    format_wide(settings_for_tests().game_dir, kModulePathCap, L"%ls", folder);
    for (wchar_t* c = settings_for_tests().game_dir; *c; c++) *c = iswupper(*c) ? towlower(*c) : towupper(*c);
    CHECK(wcscmp(game_dir, folder) != 0 && _wcsicmp(game_dir, folder) == 0);
    CHECK_EQ(find_game_process(), 1);
    close_log();
    std::string log = unit_log();
    CHECK_EQ(log.substr(kLogPrefixLength, 22), std::string("watching game process "));
    CHECK(log.find("(found by name); will exit") != std::string::npos);
    CHECK(log.find("(found by name and folder); will exit") != std::string::npos);
    CloseHandle(game_process);
}
