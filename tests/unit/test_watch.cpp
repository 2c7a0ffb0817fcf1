// The speech file watch on real folders: a change of speech.txt asks for a poll, the bridge's own
// log and cmd.txt writes wake the loop without one and then leave it quiet, and a folder that
// comes late, or is replaced, is watched again within 2 s of fake time. Through the read's seam:
// reads that are refused, never end or come back empty at once, alone and in the main loop
// against the stand-in game; and which folder and names a path gives.
#include "unit.h"
#include <atomic>
#include <functional>
#include <stddef.h>
#include <string.h>
#include <vector>
#include "intake/watch.h"
#include "keys/command_file.h"
#include "run/bridge_run.h"
#include "run/log.h"
#include "run/seams.h"
#include "run/settings.h"
#include "speech/routes.h"

namespace {
// Reports that arrive within ms: how many woke the loop, and how many asked for a poll; a watch
// that wakes for ever stops being counted at 1000.
struct wakes {
    int woken = 0;
    int polls = 0;
};
wakes take_reports(DWORD ms) {
    wakes seen;
    HANDLE event;
    while (seen.woken < 1000 && (event = speech_watch_event()) && WaitForSingleObject(event, ms) == WAIT_OBJECT_0) {
        seen.woken++;
        if (take_speech_watch()) seen.polls++;
    }
    return seen;
}

void watch_speech_file_in(const std::wstring& folder) {
    format_wide(settings_for_tests().speech_file_path, kPathCap, L"%ls\\speech.txt", folder.c_str());
}

// Stand-in reads, and what they were asked.
int reads_asked = 0;
std::vector<OVERLAPPED*> reads_seen;
std::string canned;  // the next report of canned_read
// As a drive that refuses change reports: the OVERLAPPED marked pending, then a failure.
BOOL refused_read(HANDLE, void*, DWORD, DWORD, OVERLAPPED* overlapped) {
    reads_asked++;
    overlapped->Internal = STATUS_PENDING;
    SetLastError(ERROR_INVALID_FUNCTION);
    return FALSE;
}
// The real read once, then refused: a re-arm that fails.
BOOL refused_after_the_first(HANDLE folder, void* buffer, DWORD bytes, DWORD filter, OVERLAPPED* overlapped) {
    if (reads_asked) return refused_read(folder, buffer, bytes, filter, overlapped);
    reads_asked++;
    return ReadDirectoryChangesW(folder, buffer, bytes, FALSE, filter, NULL, overlapped, NULL);
}
// Completes at once with nothing in it, as if every report were lost.
BOOL empty_at_once(HANDLE, void*, DWORD, DWORD, OVERLAPPED* overlapped) {
    reads_asked++;
    overlapped->Internal = 0;
    overlapped->InternalHigh = 0;
    return SetEvent(overlapped->hEvent);
}
// Accepted, and never ends: a share that stopped answering.
BOOL never_ending(HANDLE, void*, DWORD, DWORD, OVERLAPPED* overlapped) {
    reads_seen.push_back(overlapped);
    overlapped->Internal = STATUS_PENDING;
    return TRUE;
}
// Hands out canned at once, then reads for real.
BOOL canned_read(HANDLE folder, void* buffer, DWORD bytes, DWORD filter, OVERLAPPED* overlapped) {
    if (canned.empty()) return ReadDirectoryChangesW(folder, buffer, bytes, FALSE, filter, NULL, overlapped, NULL);
    memcpy(buffer, canned.data(), canned.size());
    overlapped->Internal = 0;
    overlapped->InternalHigh = canned.size();
    canned.clear();
    return SetEvent(overlapped->hEvent);
}
// One report naming name, whose length field says name_bytes.
std::string report_of(const std::wstring& name, DWORD name_bytes) {
    std::string out(offsetof(FILE_NOTIFY_INFORMATION, FileName), '\0');
    FILE_NOTIFY_INFORMATION head = {0, FILE_ACTION_MODIFIED, name_bytes, {0}};
    memcpy(&out[0], &head, out.size());
    return out.append(reinterpret_cast<const char*>(name.data()), name.size() * sizeof(wchar_t));
}

// A thread of the case that should end within ms. One that does not hangs on the watch: the case
// fails and the program ends, as no later case could clear that state.
void join_or_end(HANDLE thread, DWORD ms, const std::string& what) {
    if (WaitForSingleObject(thread, ms) == WAIT_OBJECT_0) return (void)CloseHandle(thread);
    unit_fail(__FILE__, __LINE__, what + ": still running after " + unit_str(ms) + " ms");
    ExitProcess(1);
}

std::string heard;  // the lines spoken, by the run's thread, until it ends
std::atomic<int> lines_heard{0};
void capture(char* line, size_t count) {
    if (!heard.empty()) heard += '|';
    heard.append(line, count);
    lines_heard++;
}
bool wait_until(const std::function<bool()>& done, DWORD ms) {
    for (DWORD waited = 0; !done() && waited < ms; waited += 10) Sleep(10);
    return done();
}
}  // namespace

TEST(only_a_change_of_speech_txt_asks_for_a_poll_and_own_writes_leave_the_loop_quiet) {
    const std::wstring dir = unit_begin_log();  // the log beside the speech file, as by default
    watch_speech_file_in(dir);
    create_command_file();
    unit_fake_clock_install(1000000);
    keep_speech_watch(unit_fake_clock_now());
    REQUIRE(speech_watch_event() != NULL);
    CHECK_EQ(take_reports(100).woken, 0);

    for (int i = 0; i < 3; i++) {
        log_line("a line of the bridge's own %d", i);
        write_command("F1", 100 + i);
    }
    wakes own = take_reports(200);
    CHECK(own.woken >= 1);
    CHECK_EQ(own.polls, 0);
    CHECK_EQ(take_reports(200).woken, 0);

    // Appended, rewritten, removed: each asks for a poll.
    unit_append_file(dir + L"\\speech.txt", "hello\n");
    CHECK(take_reports(200).polls >= 1);
    unit_write_file(dir + L"\\speech.txt", "again\n");
    CHECK(take_reports(200).polls >= 1);
    DeleteFileW((dir + L"\\speech.txt").c_str());
    CHECK(take_reports(200).polls >= 1);
    stop_speech_watch();
    CHECK(speech_watch_event() == NULL);
}

TEST(a_folder_that_comes_late_or_is_replaced_is_watched_within_2_s) {
    const std::wstring base = unit_temp_dir(), later = base + L"\\later";
    watch_speech_file_in(later);
    unit_fake_clock_install(1000000);
    keep_speech_watch(unit_fake_clock_now());
    CHECK(speech_watch_event() == NULL);
    REQUIRE(CreateDirectoryW(later.c_str(), NULL));
    unit_fake_clock_advance(1999);
    keep_speech_watch(unit_fake_clock_now());
    CHECK(speech_watch_event() == NULL);
    unit_fake_clock_advance(1);
    keep_speech_watch(unit_fake_clock_now());
    REQUIRE(speech_watch_event() != NULL);
    unit_append_file(later + L"\\speech.txt", "first\n");
    CHECK(take_reports(200).polls >= 1);

    // Renamed away and made anew: the new folder is the one watched after the next check.
    REQUIRE(MoveFileW(later.c_str(), (base + L"\\gone").c_str()));
    REQUIRE(CreateDirectoryW(later.c_str(), NULL));
    unit_fake_clock_advance(2000);
    keep_speech_watch(unit_fake_clock_now());
    take_reports(100);
    unit_append_file(later + L"\\speech.txt", "second\n");
    CHECK(take_reports(200).polls >= 1);
    unit_append_file(base + L"\\gone\\speech.txt", "lost\n");
    CHECK_EQ(take_reports(200).woken, 0);
}

TEST(the_folder_is_the_full_one_whatever_the_separators_and_a_short_name_counts) {
    static const struct {
        const wchar_t *path, *folder;
    } forms[] = {{L"C:\\speech.txt", L"C:\\"},
                 {L"C:/x/speech.txt", L"C:\\x"},
                 {L"C:\\x\\..\\y/speech.txt", L"C:\\y"},
                 {L"\\\\server\\share\\speech.txt", L"\\\\server\\share\\"},
                 {L"\\\\server\\share\\x\\speech.txt", L"\\\\server\\share\\x"}};
    wchar_t folder[kPathCap], name[kPathCap];
    for (const auto& f : forms) {
        CHECK(speech_watch_target(f.path, folder, name));
        const std::wstring said = std::wstring(f.path) + L" -> ";
        CHECK_EQ(said + folder + L" " + name, said + f.folder + L" speech.txt");
    }

    // Relative, and with forward slashes: the folder that holds the file is the one watched.
    const std::wstring dir = unit_temp_dir(), sub = dir + L"\\sub";
    REQUIRE(CreateDirectoryW(sub.c_str(), NULL));
    wchar_t before[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, before);
    SetCurrentDirectoryW(dir.c_str());
    std::wstring slashed = sub + L"/speech.txt";
    for (wchar_t& c : slashed) c = c == L'\\' ? L'/' : c;
    unit_fake_clock_install(1000000);
    for (const std::wstring& path : {std::wstring(L"sub/speech.txt"), slashed}) {
        stop_speech_watch();
        format_wide(settings_for_tests().speech_file_path, kPathCap, L"%ls", path.c_str());
        keep_speech_watch(unit_fake_clock_now());
        unit_append_file(sub + L"\\speech.txt", "hello\n");
        CHECK_EQ(unit_str(path) + (take_reports(200).polls ? " polls" : " does not poll"), unit_str(path) + " polls");
    }
    SetCurrentDirectoryW(before);

    // A report naming the file by its short name or in another case counts; another file, or an
    // entry longer than the report, does not.
    const std::wstring file = sub + L"\\The Speech Of Tolvane.txt";
    unit_write_file(file, "");
    wchar_t short_path[MAX_PATH];
    REQUIRE(GetShortPathNameW(file.c_str(), short_path, MAX_PATH) && file != short_path);
    const std::wstring short_name = wcsrchr(short_path, L'\\') + 1;
    format_wide(settings_for_tests().speech_file_path, kPathCap, L"%ls", file.c_str());
    seams.read_directory_changes = canned_read;
    static const struct {
        std::wstring name;
        DWORD bytes;  // 0: the name's own
        int polls;
    } reports[] = {{short_name, 0, 1},
                   {L"the speech of TOLVANE.TXT", 0, 1},
                   {L"TolvaneSpeech.log", 0, 0},
                   {short_name, 4096, 0}};
    for (const auto& r : reports) {
        canned = report_of(r.name, r.bytes ? r.bytes : (DWORD)(r.name.size() * sizeof(wchar_t)));
        stop_speech_watch();
        keep_speech_watch(unit_fake_clock_now());
        const std::string said = unit_str(r.name) + " polls ";
        CHECK_EQ(said + unit_str(take_reports(0).polls), said + unit_str(r.polls));
    }
}

TEST(reads_that_never_end_or_come_back_empty_cost_a_short_wait_a_slot_or_2_s) {
    watch_speech_file_in(unit_temp_dir());
    unit_fake_clock_install(1000000);
    // Empty at once, time after time: the watch ends after a run of them and comes back 2 s later.
    seams.read_directory_changes = empty_at_once;
    keep_speech_watch(unit_fake_clock_now());
    CHECK_EQ(take_reports(0).polls, 8);
    unit_fake_clock_advance(1999);
    keep_speech_watch(unit_fake_clock_now());
    CHECK_EQ(reads_asked, 8);
    unit_fake_clock_advance(1);
    keep_speech_watch(unit_fake_clock_now());
    CHECK_EQ(reads_asked, 9);

    // Refused at every set-up: no read is under way, so none is cancelled or waited for, and none
    // gives its memory up; every attempt reads again.
    seams.read_directory_changes = refused_read;
    stop_speech_watch();
    reads_asked = 0;
    const uint64_t refusals_began = GetTickCount64();
    for (int i = 0; i < 6; i++) {
        unit_fake_clock_advance(2000);
        keep_speech_watch(unit_fake_clock_now());
        CHECK(speech_watch_event() == NULL);
    }
    CHECK_EQ(reads_asked, 6);
    CHECK(GetTickCount64() - refusals_began < 300);

    // Never ending: each end waits briefly and gives that read's memory up for good; with all four
    // given up the watch stays off.
    seams.read_directory_changes = never_ending;
    const uint64_t began = GetTickCount64();
    join_or_end(CreateThread(NULL, 0, [](void*) -> DWORD {
        for (int i = 0; i < 6; i++) {
            stop_speech_watch();
            keep_speech_watch(unit_fake_clock_now());
        }
        return 0;
    }, NULL, 0, NULL), 5000, "ending never-ending reads");
    CHECK(GetTickCount64() - began < 1500);
    CHECK_EQ(reads_seen.size(), (size_t)4);
    for (size_t i = 1; i < reads_seen.size(); i++) CHECK(reads_seen[i] != reads_seen[i - 1]);
    CHECK(speech_watch_event() == NULL);
}

// The run against the stand-in game, whatever the read does: each line is spoken by the poll,
// once, in order, while the game runs; the game's exit ends the run; the loop passes at about its
// idle rate, 50 a second.
TEST(the_main_loop_speaks_and_ends_with_the_game_whatever_the_read_does) {
    static const struct {
        const char* name;
        BOOL (*read)(HANDLE, void*, DWORD, DWORD, OVERLAPPED*);
    } reads[] = {{"the real read", NULL},
                 {"refused at set-up", refused_read},
                 {"refused at a re-arm", refused_after_the_first},
                 {"empty at once for ever", empty_at_once}};
    const std::wstring game_exe = unit_doubles_dir() + L"\\standin_game.exe";
    std::wstring command = L"\"" + game_exe + L"\" --no-window";
    for (const auto& r : reads) {
        reset_bridge_state();
        const std::string name = r.name;
        const std::wstring dir = unit_begin_log();
        close_log();  // the run opens it anew
        watch_speech_file_in(dir);
        unit_write_file(dir + L"\\speech.txt", "");
        settings_for_tests().backend = kBackendLog;
        if (r.read) seams.read_directory_changes = r.read;
        seams.speech_line = capture;
        reads_asked = 0;
        heard.clear();
        lines_heard = 0;
        STARTUPINFOW si = {};
        si.cb = sizeof si;
        PROCESS_INFORMATION game = {};
        REQUIRE(CreateProcessW(game_exe.c_str(), &command[0], NULL, NULL, FALSE, 0, NULL, NULL, &si, &game));
        settings_for_tests().requested_pid = game.dwProcessId;
        const uint64_t began = GetTickCount64();
        HANDLE run = CreateThread(
            NULL, 0, [](void*) -> DWORD { return (DWORD)run_bridge(); }, NULL, 0, NULL);
        CHECK(wait_until([] { return unit_log().find("speech file found") != std::string::npos; }, 3000));
        // Five lines 500 ms apart: past the watch's next attempt at 2 s.
        std::string written;
        for (int i = 0; i < 5; i++) {
            const std::string line = "line " + unit_str(i);
            unit_append_file(dir + L"\\speech.txt", line + "\n");
            written += (i ? "|" : "") + line;
            const bool spoke = wait_until([i] { return lines_heard > i; }, 1000);
            CHECK_EQ(name + (spoke ? " spoke" : " is silent"), name + " spoke");
            Sleep(500);
        }
        TerminateProcess(game.hProcess, 0);
        join_or_end(run, 5000, name + ": the run");
        const int per_second = (int)(main_loop_passes() * 1000 / (GetTickCount64() - began));
        CloseHandle(game.hProcess);
        CloseHandle(game.hThread);
        CHECK_EQ(name + ": " + heard, name + ": " + written);
        CHECK_EQ(unit_logged("game process " + unit_str(game.dwProcessId) + " exited; quitting"), 1);
        CHECK_EQ(name + (per_second > 10 && per_second < 100 ? ": near idle" : ": passes/s " + unit_str(per_second)),
                 name + ": near idle");
        CHECK(r.read == NULL || reads_asked > 0);
    }
}
