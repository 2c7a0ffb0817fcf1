// The speech file watch on real folders: a change of speech.txt asks for a poll, the bridge's own
// log and cmd.txt writes wake the loop without one and then leave it quiet, and a folder that
// comes late, or is replaced, is watched again within 2 s of fake time.
#include "unit.h"
#include "intake/watch.h"
#include "keys/command_file.h"
#include "run/log.h"
#include "run/settings.h"

namespace {
// Reports that arrive within ms: how many woke the loop, and how many asked for a poll.
struct wakes {
    int woken = 0;
    int polls = 0;
};
wakes take_reports(DWORD ms) {
    wakes seen;
    HANDLE event;
    while ((event = speech_watch_event()) && WaitForSingleObject(event, ms) == WAIT_OBJECT_0) {
        seen.woken++;
        if (take_speech_watch()) seen.polls++;
    }
    return seen;
}

void watch_speech_file_in(const std::wstring& folder) {
    format_wide(speech_file_path, kPathCap, L"%ls\\speech.txt", folder.c_str());
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
