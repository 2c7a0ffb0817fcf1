// The watchdog's timeline runs on the fake clock with the hang verdict from a seam, against a
// window of this test program; the dump writer runs for real against the stand-in game, and its
// failure paths through the seams. Speech is read from the "say" lines of the log.
#include "unit.h"
#include <stdio.h>
#include <wchar.h>
#include <string>
#include <vector>
#include "game/game_process.h"
#include "hang/hang_watchdog.h"
#include "run/log.h"
#include "run/seams.h"
#include "run/settings.h"
#include "speech/routes.h"
#include "speech/speech.h"

namespace {
const char kFrozen[] = "say!: Game seems frozen. Saving debug info.";
const char kStillFrozen[] = "say!: Still frozen. Saving more debug info.";
const char kSaved[] = "say+: Debug info saved. You can close the game now.";
const char kNotSaved[] = "say+: Could not save debug info.";
const char kNotResponding[] = "game window not responding (IsHungAppWindow)";

// What the seams answer and what they saw.
bool hung_answer = false;
int hung_asked = 0;
int dump_calls = 0;
DWORD dump_error = 0;  // 0: the fake dump succeeds; else it fails with this code
DWORD dump_type_seen = 0;
bool dump_handles_ok = true;
uint64_t dump_takes_ms = 0;
const wchar_t* system_dir_answer = L"";
UINT system_dir_length = 0;

BOOL fake_is_hung(HWND) {
    hung_asked++;
    return hung_answer;
}

// Writes a dump-like head into the real file and takes dump_takes_ms of fake time.
BOOL fake_write_dump(HANDLE process, DWORD pid, HANDLE file, DWORD type) {
    dump_calls++;
    dump_type_seen = type;
    DWORD put = 0;
    if (GetProcessId(process) != pid || pid != game_pid || !WriteFile(file, "MDMP0123", 8, &put, NULL))
        dump_handles_ok = false;
    unit_fake_clock_advance(dump_takes_ms);
    if (dump_error) SetLastError(dump_error);
    return dump_error == 0;
}

// The local time follows the fake clock, so every dump of a case has its own name.
void fake_local_time(SYSTEMTIME* out) {
    uint64_t s = unit_fake_clock_now() / 1000;
    *out = SYSTEMTIME{2025, 3, 5, 7, (WORD)(s / 3600 % 24), (WORD)(s / 60 % 60), (WORD)(s % 60), 0};
}

UINT fake_system_dir(wchar_t* buf, UINT size) {
    format_wide(buf, size, L"%ls", system_dir_answer);
    return system_dir_length ? system_dir_length : (UINT)wcslen(buf);
}

std::string utf8(const std::wstring& text) {
    char buf[2048];
    return to_utf8(text.c_str(), buf, sizeof buf) ? buf : "?";
}


// One case: exe_dir two levels below dump_dir in a fresh folder, a log, the fake clock, and the
// game either a window of this program or the stand-in game; all of it undone at the end.
struct hang_case {
    std::wstring dir, dump_dir, log;
    HWND window = NULL;
    PROCESS_INFORMATION game = {};

    hang_case() {
        settings_for_tests().backend = kBackendLog;
        settings_for_tests().hang_seconds = 8;
        hung_answer = false;
        hung_asked = dump_calls = 0;
        dump_error = dump_type_seen = 0;
        dump_handles_ok = true;
        dump_takes_ms = 0;
        system_dir_length = 0;
        dir = unit_temp_dir();
        dump_dir = dir + L"\\mods";
        CreateDirectoryW(dump_dir.c_str(), NULL);
        CreateDirectoryW((dump_dir + L"\\tolvane").c_str(), NULL);
        format_wide(settings_for_tests().exe_dir, kModulePathCap, L"%ls\\tolvane\\bridge", dump_dir.c_str());
        CreateDirectoryW(exe_dir, NULL);
        log = dir + L"\\TolvaneSpeech.log";
        format_wide(settings_for_tests().log_path, kPathCap, L"%ls", log.c_str());
        open_log(false);
        unit_fake_clock_install(5000000);
    }
    ~hang_case() {
        if (window) DestroyWindow(window);
        if (game.hProcess) {
            TerminateProcess(game.hProcess, 0);
            WaitForSingleObject(game.hProcess, 5000);
            CloseHandle(game.hProcess);
            CloseHandle(game.hThread);
        }
    }

    // The timeline cases: this program is the game, its window the game window, and the
    // verdict and the dump call come from the seams.
    void own_game(const wchar_t* window_class = L"UnrealWindow") {
        attach_game_for_tests(GetCurrentProcessId(), NULL);
        window = make_window(window_class);
        seams.is_hung = fake_is_hung;
        seams.write_dump = fake_write_dump;
        seams.local_time = fake_local_time;
    }
    static HWND make_window(const wchar_t* window_class) {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = DefWindowProcW;
        wc.hInstance = GetModuleHandleW(NULL);
        wc.lpszClassName = window_class;
        RegisterClassW(&wc);
        // A pop-up: Wine destroys a framed window only after waiting 2 s for a window manager.
        HWND w = CreateWindowExW(WS_EX_NOACTIVATE, window_class, L"hang test", WS_POPUP, 0, 0, 200, 100, NULL, NULL,
                                 wc.hInstance, NULL);
        ShowWindow(w, SW_SHOWNOACTIVATE);
        return w;
    }

    bool start_standin(void) {
        std::wstring exe = unit_doubles_dir() + L"\\standin_game.exe", events = dir + L"\\game.events";
        std::wstring command = L"\"" + exe + L"\" --events \"" + events + L"\"";
        STARTUPINFOW si = {};
        si.cb = sizeof si;
        if (!CreateProcessW(exe.c_str(), &command[0], NULL, NULL, FALSE, 0, NULL, NULL, &si, &game)) return false;
        for (int i = 0; i < 1000 && unit_read_file(events).find("ready ") == std::string::npos; i++) Sleep(20);
        attach_game_for_tests(game.dwProcessId, game.hProcess);
        return unit_read_file(events).find("ready ") != std::string::npos;
    }

    std::vector<std::string> messages(void) { return unit_log_messages(log); }
    // The messages that say something about a hang, in order, joined by " | ", without the
    // dump file names.
    std::string hang_story(void) {
        std::string out, folder = std::string(1, ' ').append(utf8(dump_dir));
        for (const std::string& m : messages()) {
            if (m.compare(0, 4, "say!") && m.compare(0, 4, "say+") && m.find("hang dump") && m.find("game window"))
                continue;
            out += (out.empty() ? "" : " | ") + m.substr(0, m.find(folder));
        }
        return out;
    }
    std::vector<std::wstring> dump_files(void) {
        std::vector<std::wstring> out;
        WIN32_FIND_DATAW fd;
        HANDLE h = FindFirstFileW((dump_dir + L"\\*").c_str(), &fd);
        if (h == INVALID_HANDLE_VALUE) return out;
        do {
            std::wstring name = fd.cFileName;
            if (name != L"." && name != L".." && name != L"tolvane") out.push_back(name);
        } while (FindNextFileW(h, &fd));
        FindClose(h);
        return out;
    }
    // Checks every 2 s of fake time for ms, as the run does.
    void checks_for(uint64_t ms) {
        for (uint64_t spent = 0; spent < ms; spent += 2000) {
            unit_fake_clock_advance(2000);
            check_game_hang();
        }
    }
};

std::string hex_handle(HWND w) {
    char buf[32];
    snprintf(buf, sizeof buf, "%016llX", (unsigned long long)(uintptr_t)w);
    return buf;
}
}  // namespace

TEST(switched_off_it_never_looks) {
    hang_case c;
    c.own_game();
    settings_for_tests().hang_dump_enabled = false;
    hung_answer = true;
    c.checks_for(600000);
    CHECK_EQ(hung_asked, 0);
    CHECK_EQ(c.messages().size(), (size_t)0);
    CHECK_EQ(lines_spoken, 0u);
    CHECK_EQ(dump_calls, 0);
}

TEST(window_pick_is_logged_once_and_redone_for_a_new_window) {
    hang_case c;
    c.own_game();
    DestroyWindow(c.window);
    c.window = NULL;
    c.checks_for(10000);
    CHECK_EQ(hung_asked, 0);
    CHECK_EQ(c.messages().size(), (size_t)0);

    c.window = hang_case::make_window(L"TolvaneTestFrame");
    c.checks_for(6000);
    CHECK_EQ(c.hang_story(), "");
    std::vector<std::string> m = c.messages();
    REQUIRE(m.size() == 1);
    CHECK_EQ(m[0], "hang watchdog: watching game window " + hex_handle(c.window) + " class TolvaneTestFrame");
    CHECK_EQ(hung_asked, 3);

    // Hung for 6 s, then the game makes a new main window: the hang carries over to it.
    hung_answer = true;
    c.checks_for(6000);
    DestroyWindow(c.window);
    c.window = hang_case::make_window(L"UnrealWindow");
    c.checks_for(2000);
    m = c.messages();
    CHECK_EQ(m.back(), "hang watchdog: watching game window " + hex_handle(c.window) + " class UnrealWindow");
    CHECK_EQ(dump_calls, 0);
    c.checks_for(2000);
    CHECK_EQ(dump_calls, 1);
    CHECK_EQ(unit_count(unit_read_file(c.log), kNotResponding), 1);
}

TEST(a_long_hang_gets_two_dumps_30_s_apart_then_only_log_lines) {
    hang_case c;
    c.own_game();
    dump_takes_ms = 3000;
    c.checks_for(4000);
    hung_answer = true;
    c.checks_for(2000);
    const uint64_t first_seen = unit_fake_clock_now();
    c.checks_for(6000);
    CHECK_EQ(c.hang_story(), kNotResponding);
    CHECK_EQ(dump_calls, 0);
    c.checks_for(2000);
    CHECK_EQ(dump_calls, 1);
    CHECK_EQ(dump_type_seen, (DWORD)0x1165);
    CHECK(dump_handles_ok);
    const uint64_t first_ended = unit_fake_clock_now();
    std::string first_part = std::string(kNotResponding) + " | " + kFrozen + " | hang dump written: | " + kSaved;
    CHECK_EQ(c.hang_story(), first_part);

    while (dump_calls == 1 && unit_fake_clock_now() < first_ended + 60000) c.checks_for(2000);
    const uint64_t second_at = unit_fake_clock_now() - dump_takes_ms;
    CHECK(second_at >= first_ended + 30000 && second_at < first_ended + 32000);
    std::string both = first_part + " | " + kStillFrozen + " | hang dump written: | " + kSaved;
    CHECK_EQ(c.hang_story(), both);

    c.checks_for(600000);
    CHECK_EQ(c.hang_story(), both);
    CHECK_EQ(dump_calls, 2);
    hung_answer = false;
    c.checks_for(2000);
    const std::string recovered =
        "game window responsive again after " + unit_str(unit_fake_clock_now() - first_seen) + " ms";
    CHECK_EQ(c.hang_story(), both + " | " + recovered);
    hung_answer = true;
    c.checks_for(120000);
    CHECK_EQ(c.hang_story(), both + " | " + recovered + " | " + kNotResponding);
    CHECK_EQ(lines_spoken, 4u);

    std::vector<std::wstring> files = c.dump_files();
    REQUIRE(files.size() == 2);
    CHECK(files[0] != files[1]);
    const std::string written = "hang dump written: " + utf8(c.dump_dir + L"\\" + files[0]) + " (8 bytes, 3000 ms)";
    CHECK(unit_read_file(c.log).find(written + "\r\n") != std::string::npos);
}

TEST(short_hangs_are_only_logged_and_a_new_hang_is_announced_afresh) {
    hang_case c;
    c.own_game();
    c.checks_for(2000);
    hung_answer = true;
    c.checks_for(6000);
    hung_answer = false;
    c.checks_for(6000);
    CHECK_EQ(c.hang_story(), std::string(kNotResponding) + " | game window responsive again after 6000 ms");
    CHECK_EQ(lines_spoken, 0u);

    // One dump, a recovery, and a new hang: it waits for its own hang_seconds and for 30 s
    // after the first attempt ended, whichever is later.
    hung_answer = true;
    c.checks_for(10000);
    REQUIRE(dump_calls == 1);
    const uint64_t first_ended = unit_fake_clock_now();
    hung_answer = false;
    c.checks_for(2000);
    hung_answer = true;
    c.checks_for(2000);
    while (dump_calls == 1 && unit_fake_clock_now() < first_ended + 60000) c.checks_for(2000);
    CHECK_EQ(unit_fake_clock_now(), first_ended + 30000);
    std::string story = c.hang_story();
    CHECK_EQ(unit_count(story, kFrozen), 2);
    CHECK_EQ(unit_count(story, kStillFrozen), 0);
    CHECK_EQ(unit_count(story, kSaved), 2);

    // A third hang after a recovery, however long: no announcement, no dump.
    hung_answer = false;
    c.checks_for(2000);
    hung_answer = true;
    c.checks_for(300000);
    CHECK_EQ(dump_calls, 2);
    CHECK_EQ(lines_spoken, 4u);
}

TEST(failed_attempts_apologise_count_and_leave_no_file) {
    hang_case c;
    c.own_game();
    dump_error = 0x8007001F;
    hung_answer = true;
    c.checks_for(300000);
    CHECK_EQ(dump_calls, 2);
    CHECK_EQ(c.hang_story(), std::string(kNotResponding) + " | " + kFrozen +
                                 " | hang dump: MiniDumpWriteDump failed (0x8007001f), | " + kNotSaved + " | " +
                                 kStillFrozen + " | hang dump: MiniDumpWriteDump failed (0x8007001f), | " + kNotSaved);
    CHECK_EQ(c.dump_files().size(), (size_t)0);
}

TEST(real_dump_of_the_standin_game_named_by_local_time) {
    hang_case c;
    REQUIRE(GetModuleHandleW(L"dbghelp.dll") == NULL);
    REQUIRE(c.start_standin());
    seams.local_time = [](SYSTEMTIME* t) { *t = SYSTEMTIME{2025, 3, 5, 7, 14, 5, 9, 0}; };
    CHECK(write_hang_dump());
    CHECK(GetModuleHandleW(L"dbghelp.dll") == NULL);
    const std::wstring file = c.dump_dir + L"\\hang_2025_03_07_14_05_09.dmp";
    std::string dump = unit_read_file(file);
    CHECK(dump.size() > 1000);
    CHECK_EQ(dump.substr(0, 4), std::string("MDMP"));
    std::vector<std::string> m = c.messages();
    REQUIRE(m.size() == 1);
    std::string head = "hang dump written: " + utf8(file) + " (" + unit_str((unsigned long long)dump.size()) + " bytes, ";
    CHECK_EQ(m[0].substr(0, head.size()), head);
    CHECK_EQ(m[0].substr(m[0].size() - 4), std::string(" ms)"));
}

TEST(dbghelp_only_from_a_usable_system_folder) {
    hang_case c;
    c.own_game();
    seams.system_directory = fake_system_dir;
    // A folder without dbghelp.dll: loading by name alone would have found the system's.
    std::wstring empty = c.dir + L"\\empty";
    CreateDirectoryW(empty.c_str(), NULL);
    system_dir_answer = empty.c_str();
    hung_answer = true;
    c.checks_for(10000);
    CHECK_EQ(c.hang_story(), std::string(kNotResponding) + " | " + kFrozen +
                                 " | hang dump: dbghelp not available (126) | " + kNotSaved);

    // Too long for "\dbghelp.dll" behind it, or none: no log line, but still the apology.
    system_dir_answer = L"C:\\nowhere";
    system_dir_length = 244;
    c.checks_for(40000);
    CHECK_EQ(c.hang_story(), std::string(kNotResponding) + " | " + kFrozen +
                                 " | hang dump: dbghelp not available (126) | " + kNotSaved + " | " +
                                 kStillFrozen + " | " + kNotSaved);
    system_dir_answer = L"";
    system_dir_length = 0;
    CHECK(!write_hang_dump());
    // The longest folder that is still tried.
    std::wstring longest(243, L'x');
    longest.replace(0, 3, L"C:\\");
    system_dir_answer = longest.c_str();
    CHECK(!write_hang_dump());
    CHECK_EQ(c.messages().back(), "hang dump: dbghelp not available (126)");
    CHECK_EQ(unit_count(unit_read_file(c.log), "hang dump"), 2);
    CHECK_EQ(c.dump_files().size(), (size_t)0);
    CHECK_EQ(dump_calls, 0);
}

TEST(a_blocked_file_name_or_a_missing_process_fail_before_the_dump) {
    hang_case c;
    c.own_game();
    seams.local_time = [](SYSTEMTIME* t) { *t = SYSTEMTIME{2025, 3, 5, 7, 14, 5, 9, 0}; };
    const std::wstring file = c.dump_dir + L"\\hang_2025_03_07_14_05_09.dmp";
    CreateDirectoryW(file.c_str(), NULL);
    CHECK(!write_hang_dump());
    CHECK_EQ(c.messages().back(), "hang dump: cannot create file (5)");
    CHECK(GetFileAttributesW(file.c_str()) & FILE_ATTRIBUTE_DIRECTORY);
    RemoveDirectoryW(file.c_str());

    // An id that names no process.
    attach_game_for_tests(0xFFFFFFF0, NULL);
    CHECK(!write_hang_dump());
    std::string last = c.messages().back();
    CHECK_EQ(last.substr(0, 31), std::string("hang dump: OpenProcess failed ("));
    CHECK(last != "hang dump: OpenProcess failed (0)");
    CHECK_EQ(c.dump_files().size(), (size_t)0);
    CHECK_EQ(dump_calls, 0);
    CHECK(GetModuleHandleW(L"dbghelp.dll") == NULL);
}
