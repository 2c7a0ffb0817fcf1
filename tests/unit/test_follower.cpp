// The follower on real files under a temporary folder: what the writer does between two polls,
// the lines that come out, and the follower's log lines.
#include "unit.h"
#include <psapi.h>
#include <string.h>
#include <vector>
#include "intake/follower.h"
#include "intake/intake.h"
#include "run/log.h"
#include "run/seams.h"
#include "run/settings.h"

typedef std::vector<std::string> lines;
static std::string unit_str(const lines& v) {
    std::string out = "{";
    for (const std::string& s : v)
        out += (out.size() > 1 ? ", \"" : "\"") + (s.size() > 40 ? s.substr(0, 20) + "...(" + unit_str(s.size()) + ")" : s) +
               "\"";
    return out + "}";
}

namespace {
lines handed;
void capture(char* line, size_t count) { handed.push_back(std::string(line, count)); }

const char kNotPresent[] = "speech file not present yet; will read it from the start when it appears";
std::string reset_line(const char* reason) {
    return std::string("speech file reset (") + reason + "); reading from start";
}

struct follower_case {
    std::wstring dir, file, log_file;
    explicit follower_case(bool from_start_flag) {
        dir = unit_temp_dir();
        file = dir + L"\\speech.txt";
        log_file = dir + L"\\follower.log";
        format_wide(settings_for_tests().speech_file_path, kPathCap, L"%ls", file.c_str());
        format_wide(settings_for_tests().log_path, kPathCap, L"%ls", log_file.c_str());
        open_log(false);
        handed.clear();
        seams.speech_line = capture;
        start_speech_follower(from_start_flag);
    }
    lines messages() const { return unit_log_messages(log_file); }
    // Lines handed over by one poll.
    lines poll() {
        handed.clear();
        poll_speech_file(kReadToEnd);
        return handed;
    }
    bool write(const std::string& bytes) const { return unit_write_file(file, bytes); }
    bool append(const std::string& bytes) const { return unit_append_file(file, bytes); }
};

bool set_size(const std::wstring& path, int64_t size) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (h == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER at;
    at.QuadPart = size;
    bool ok = SetFilePointerEx(h, at, NULL, FILE_BEGIN) && SetEndOfFile(h);
    CloseHandle(h);
    return ok;
}

// What the follower must make of bytes read from a line start: lines at line feeds, pieces of
// kLineMax bytes when a line runs on; the unfinished rest stays behind.
lines split_lines(const std::string& bytes) {
    lines out;
    std::string current;
    for (char b : bytes) {
        if (b == '\n') {
            out.push_back(current);
            current.clear();
            continue;
        }
        if (current.size() == (size_t)kLineMax) {
            out.push_back(current);
            current.clear();
        }
        current += b;
    }
    return out;
}
}  // namespace

TEST(missing_at_start_then_created_is_read_whole) {
    follower_case c(false);
    CHECK_EQ(c.poll(), lines{});
    CHECK_EQ(c.poll(), lines{});
    CHECK_EQ(c.messages(), lines{kNotPresent});
    c.write("one\ntwo\nthr");
    CHECK_EQ(c.poll(), (lines{"one", "two"}));
    CHECK_EQ(c.messages(), (lines{kNotPresent, reset_line("file (re)created")}));
    c.append("ee\n");
    CHECK_EQ(c.poll(), lines{"three"});
    CHECK_EQ(c.messages().size(), (size_t)2);
}

TEST(present_at_start_skips_or_reads_existing_content) {
    {
        follower_case c(false);
        c.write("old one\nold two\n");
        CHECK_EQ(c.poll(), lines{});
        CHECK_EQ(follower_read_offset(), (int64_t)16);
        c.append("new\n");
        CHECK_EQ(c.poll(), lines{"new"});
        CHECK_EQ(c.messages(), lines{"speech file found (16 bytes); skipping existing content"});
    }
    {
        follower_case c(true);
        c.write("a\nb\nc");
        CHECK_EQ(c.poll(), (lines{"a", "b"}));
        c.append("\n");
        CHECK_EQ(c.poll(), lines{"c"});
        CHECK_EQ(c.messages(), lines{"speech file found (5 bytes); reading from start (--from-start)"});
    }
    {
        follower_case c(false);  // empty at start: everything later is new
        c.write("");
        CHECK_EQ(c.poll(), lines{});
        c.append("first\n");
        CHECK_EQ(c.poll(), lines{"first"});
        CHECK_EQ(c.messages(), lines{"speech file found (0 bytes); skipping existing content"});
    }
}

TEST(removed_file_drops_partial_line_and_is_read_whole_when_back) {
    follower_case c(false);
    c.write("old\n");
    c.poll();
    c.append("partial");
    CHECK_EQ(c.poll(), lines{});
    REQUIRE(DeleteFileW(c.file.c_str()));
    CHECK_EQ(c.poll(), lines{});
    CHECK_EQ(c.poll(), lines{});
    CHECK_EQ(follower_read_offset(), (int64_t)0);
    c.write("fresh\n");
    CHECK_EQ(c.poll(), lines{"fresh"});
    CHECK_EQ(c.messages(), (lines{"speech file found (4 bytes); skipping existing content", reset_line("file removed"),
                                  reset_line("file (re)created")}));
}

TEST(file_moved_over_it_is_read_from_its_start) {
    follower_case c(false);
    c.write("a\n");
    c.poll();
    c.append("b\n");
    CHECK_EQ(c.poll(), lines{"b"});
    // Same first bytes and longer: only the file's identity tells it apart.
    std::wstring other = c.dir + L"\\other.txt";
    REQUIRE(unit_write_file(other, "a\nb\nc\nd\n"));
    REQUIRE(MoveFileExW(other.c_str(), c.file.c_str(), MOVEFILE_REPLACE_EXISTING));
    CHECK_EQ(c.poll(), (lines{"a", "b", "c", "d"}));
    CHECK_EQ(c.messages().back(), reset_line("different file"));
}

TEST(truncation_restarts_from_first_byte) {
    follower_case c(true);
    c.write("one\ntwo\nhalf");
    CHECK_EQ(c.poll(), (lines{"one", "two"}));
    c.write("3\n");
    CHECK_EQ(c.poll(), lines{"3"});  // the half line of the old content is gone
    CHECK_EQ(c.messages().back(), reset_line("truncated"));
    REQUIRE(set_size(c.file, 0));
    CHECK_EQ(c.poll(), lines{});
    c.append("after emptying\n");
    CHECK_EQ(c.poll(), lines{"after emptying"});
    CHECK_EQ(unit_count(unit_read_file(c.log_file), "truncated"), 2);
}

TEST(rewrite_from_start_noticed_by_first_bytes_only) {
    follower_case c(true);
    c.write("alpha\nbeta\n");
    c.poll();
    c.write("gamma\ndelta\nepsilon\n");
    CHECK_EQ(c.poll(), (lines{"gamma", "delta", "epsilon"}));
    CHECK_EQ(c.messages().back(), reset_line("content replaced"));

    // The first 96 bytes kept and the file as long as before: not noticed, reading goes on.
    std::string head = std::string(94, 'h') + "\n";
    c.write(head + "xtail\n");
    CHECK_EQ(c.poll(), (lines{head.substr(0, 94), "xtail"}));
    c.write(head + "xTAIL\n" + "next\n");
    CHECK_EQ(c.poll(), lines{"next"});
    CHECK_EQ(unit_count(unit_read_file(c.log_file), "reset"), 2);

    // A change in byte 96 of a longer first line is past the fingerprint.
    c.write(std::string(200, 'q') + "\n");
    c.poll();
    c.write(std::string(96, 'q') + std::string(104, 'Q') + "\nmore\n");
    CHECK_EQ(c.poll(), lines{"more"});
    // A short file's whole fingerprint counts.
    c.write("ab\n");
    CHECK_EQ(c.poll(), lines{"ab"});  // truncated
    c.write("xb\nsecond\n");
    CHECK_EQ(c.poll(), (lines{"xb", "second"}));
    CHECK_EQ(c.messages().back(), reset_line("content replaced"));
}

TEST(long_line_handed_over_in_pieces_as_its_bytes_arrive) {
    follower_case c(true);
    c.write("");
    c.poll();
    c.append(std::string(kLineMax, 'a'));
    CHECK_EQ(c.poll(), lines{});
    c.append("b");
    CHECK_EQ(c.poll(), lines{std::string(kLineMax, 'a')});
    c.append(std::string(kLineMax - 1, 'b'));
    CHECK_EQ(c.poll(), lines{});
    c.append("c");
    CHECK_EQ(c.poll(), lines{std::string(kLineMax, 'b')});
    c.append(std::string(99, 'c') + "\n");
    CHECK_EQ(c.poll(), lines{std::string(100, 'c')});
    // Exactly kLineMax bytes and their line feed are one line; empty lines are lines too.
    c.append(std::string(kLineMax, 'd') + "\n\n\r\n");
    CHECK_EQ(c.poll(), (lines{std::string(kLineMax, 'd'), "", "\r"}));
}

TEST(line_written_in_parts_handed_over_once_complete) {
    follower_case c(true);
    c.write("Hel");
    CHECK_EQ(c.poll(), lines{});
    CHECK_EQ(c.poll(), lines{});
    c.append("lo\r");
    CHECK_EQ(c.poll(), lines{});
    c.append("\nWor");
    CHECK_EQ(c.poll(), lines{"Hello\r"});
    c.append("ld\n");
    CHECK_EQ(c.poll(), lines{"World"});
}

TEST(many_chunks_in_one_poll_lose_nothing) {
    follower_case c(true);
    std::string bytes;
    for (int i = 0; bytes.size() < 5 * (size_t)kChunkSize; i++) {
        bytes += "line " + std::to_string(i) + std::string((size_t)(i * 37) % 300, '.') + "\n";
        if (i % 97 == 0) bytes += std::string(kLineMax + 1000 + i, 'L') + "\n";  // crosses chunk ends
        if (i % 101 == 0) bytes += "\xEF\xBB\xBF\r\n\n";
    }
    bytes += "unfinished";
    c.write(bytes);
    lines got = c.poll();
    CHECK_EQ(got.size(), split_lines(bytes).size());
    CHECK(got == split_lines(bytes));
    CHECK_EQ(follower_read_offset(), (int64_t)bytes.size());
    c.append("\n");
    CHECK_EQ(c.poll(), lines{"unfinished"});
}

// A burst is read in passes of about 20 ms, each polling again at once; then the 50 ms cadence.
TEST(a_burst_is_read_over_passes_that_poll_again_at_once) {
    follower_case c(false);
    c.write("");
    unit_fake_clock_install(1000000);
    start_speech_steps(unit_fake_clock_now());
    run_speech_steps(unit_fake_clock_now(), false);  // first sight
    seams.speech_line = [](char* line, size_t count) {  // each line takes 8 ms
        capture(line, count);
        unit_fake_clock_advance(8);
    };
    const std::string burst = "+b0\n+b1\n+b2\n+b3\n+b4\n+b5\n+b6\n+b7\n+b8\n+b9\n";
    c.append(burst);
    unit_fake_clock_advance(50);
    handed.clear();
    std::string per_pass;
    do {
        const size_t before = handed.size();
        run_speech_steps(unit_fake_clock_now(), false);
        per_pass += std::to_string(handed.size() - before) + " ";
        unit_fake_clock_advance(1);
    } while (speech_intake_behind() && per_pass.size() < 40);
    CHECK_EQ(per_pass, std::string("3 3 3 1 "));
    CHECK(handed == split_lines(burst));
    CHECK(!speech_intake_behind());
    // Read to its end: the next poll comes 50 ms after the last one.
    c.append("later\n");
    run_speech_steps(unit_fake_clock_now(), false);
    CHECK_EQ(handed.size(), (size_t)10);
    unit_fake_clock_advance(50);
    run_speech_steps(unit_fake_clock_now(), false);
    CHECK_EQ(handed.back(), std::string("later"));
}

TEST(file_locked_against_readers_is_waited_for) {
    follower_case c(false);
    c.write("old\n");
    c.poll();
    c.append("a\n");
    HANDLE lock = CreateFileW(c.file.c_str(), GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    REQUIRE(lock != INVALID_HANDLE_VALUE);
    CHECK_EQ(c.poll(), lines{});
    CHECK_EQ(c.poll(), lines{});
    CloseHandle(lock);
    // Neither taken for removed nor read again from its start.
    CHECK_EQ(c.poll(), lines{"a"});
    CHECK_EQ(c.messages(), lines{"speech file found (4 bytes); skipping existing content"});
}

TEST(file_locked_at_first_poll_is_first_seen_when_free) {
    follower_case c(false);
    c.write("old\n");
    HANDLE lock = CreateFileW(c.file.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    REQUIRE(lock != INVALID_HANDLE_VALUE);
    CHECK_EQ(c.poll(), lines{});
    CloseHandle(lock);
    c.append("older\n");
    CHECK_EQ(c.poll(), lines{});
    c.append("new\n");
    CHECK_EQ(c.poll(), lines{"new"});
    CHECK_EQ(c.messages(), lines{"speech file found (10 bytes); skipping existing content"});
}

TEST(folder_in_place_of_the_file_counts_as_missing) {
    follower_case c(false);
    REQUIRE(CreateDirectoryW(c.file.c_str(), NULL));
    CHECK_EQ(c.poll(), lines{});
    REQUIRE(RemoveDirectoryW(c.file.c_str()));
    c.write("hi\n");
    CHECK_EQ(c.poll(), lines{"hi"});
    REQUIRE(DeleteFileW(c.file.c_str()));
    REQUIRE(CreateDirectoryW(c.file.c_str(), NULL));
    CHECK_EQ(c.poll(), lines{});
    REQUIRE(RemoveDirectoryW(c.file.c_str()));
    c.write("again\n");
    CHECK_EQ(c.poll(), lines{"again"});
    CHECK_EQ(c.messages(), (lines{kNotPresent, reset_line("file (re)created"), reset_line("file removed"),
                                  reset_line("file (re)created")}));
}

TEST(no_handle_stays_open_between_polls) {
    follower_case c(true);
    c.write("one\ntwo\n");
    c.poll();
    c.append("three");
    c.poll();
    c.poll();  // nothing new
    // Each of these fails under Wine while anyone holds the file open.
    HANDLE exclusive = CreateFileW(c.file.c_str(), GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    CHECK(exclusive != INVALID_HANDLE_VALUE);
    if (exclusive != INVALID_HANDLE_VALUE) CloseHandle(exclusive);
    std::wstring other = c.dir + L"\\other.txt";
    REQUIRE(unit_write_file(other, "x\n"));
    CHECK(MoveFileExW(other.c_str(), c.file.c_str(), MOVEFILE_REPLACE_EXISTING));
}

TEST(growth_by_many_megabytes_read_in_fixed_buffers) {
    follower_case c(false);
    c.write("start\n");
    c.poll();
    const int64_t grown = 6 + ((int64_t)64 << 20);
    REQUIRE(set_size(c.file, grown));  // 64 MiB of zeros, without a line feed
    c.append("after\n");
    static int zero_pieces, other_lines;
    zero_pieces = other_lines = 0;
    seams.speech_line = [](char* line, size_t count) {
        bool zeros = count == (size_t)kLineMax && line[0] == 0 && !memcmp(line, line + 1, count - 1);
        if (zeros)
            zero_pieces++;
        else if (std::string(line, count) == "after")
            other_lines++;
    };
    PROCESS_MEMORY_COUNTERS before = {}, after = {};
    before.cb = after.cb = sizeof before;
    K32GetProcessMemoryInfo(GetCurrentProcess(), &before, sizeof before);
    poll_speech_file(kReadToEnd);
    K32GetProcessMemoryInfo(GetCurrentProcess(), &after, sizeof after);
    CHECK_EQ(zero_pieces, 4096);
    CHECK_EQ(other_lines, 1);
    CHECK_EQ(follower_read_offset(), grown + 6);
    CHECK(after.PagefileUsage < before.PagefileUsage + (1u << 20));
}
