// The line protocol, observed through the log: speak under the log-only backend writes
// "say!: text" (interrupting), "say+: text" (queued) or "say^: text" (alert), and the protocol's own
// lines sit between.
#include "unit.h"
#include <string.h>
#include <vector>
#include "game/game_process.h"
#include "game/game_window.h"
#include "intake/protocol.h"
#include "run/log.h"
#include "run/seams.h"
#include "run/settings.h"
#include "speech/routes.h"
#include "speech/speech.h"

namespace {
const uint64_t kStart = 5000000;
bool front_answer = false;
bool fake_front(void) { return front_answer; }

// One case's world: log-only speech, a fresh log, the fake clock, and optionally a game.
struct protocol_case {
    std::wstring log_file;
    explicit protocol_case(bool game) {
        settings_for_tests().backend = kBackendLog;
        log_file = unit_temp_dir() + L"\\protocol.log";
        format_wide(settings_for_tests().log_path, kPathCap, L"%ls", log_file.c_str());
        open_log(false);
        unit_fake_clock_install(kStart);
        front_answer = false;
        seams.game_window_in_front = fake_front;
        if (game) attach_game_for_tests(GetCurrentProcessId(), GetCurrentProcess());
    }
    // Log messages without time stamps, leaving out the route change that the first text causes.
    std::vector<std::string> messages() const {
        std::vector<std::string> out;
        for (const std::string& m : unit_log_messages(log_file))
            if (m.compare(0, 19, "speech output now: ") != 0) out.push_back(m);
        return out;
    }
};

// Hands a line to the protocol as the follower does: in a buffer with one spare byte, here
// followed by a guard that must stay untouched.
void feed(const std::string& line) {
    static char buffer[16384 + 1 + 8];
    REQUIRE(line.size() <= 16384);
    memcpy(buffer, line.data(), line.size());
    memset(buffer + line.size(), 'G', sizeof buffer - line.size());
    handle_speech_line(buffer, line.size());
    CHECK(memcmp(buffer + line.size() + 1, "GGGGGGG", 7) == 0);
}

const std::string kBom = "\xEF\xBB\xBF";
const std::string kVersion = "Tolvane Doduzu version 1.4.2";
}  // namespace

typedef std::vector<std::string> lines;
static std::string unit_str(const lines& v) {
    std::string out = "{";
    for (const std::string& s : v) out += (out.size() > 1 ? ", \"" : "\"") + s + "\"";
    return out + "}";
}

TEST(prefixes_pick_interrupting_queued_or_alert) {
    protocol_case c(false);
    feed("^ \tAlert");
    feed("Hello");
    feed("+Hello");
    feed("!Hello");
    feed("+   Hello");
    feed("!\t Hi there");
    feed("  leading blanks");
    feed("Hello \t\r \r");
    feed("x");
    CHECK_EQ(c.messages(), (lines{"say^: Alert", "say!: Hello", "say+: Hello", "say!: Hello", "say+: Hello", "say!: Hi there",
                                  "say!: leading blanks", "say!: Hello", "say!: x"}));
}

TEST(byte_order_mark_skipped_on_any_line) {
    protocol_case c(false);
    feed(kBom + "Hello");
    feed(kBom + "+queued");
    feed(kBom);
    feed(kBom + "  \r");
    feed(kBom + "#ok");
    feed(kBom + kBom + "twice");  // only one mark is skipped; the second one is text
    feed("\xEF\xBB");             // a cut mark is text too
    lines m = c.messages();
    REQUIRE(m.size() == 4);
    CHECK_EQ(m[0], std::string("say!: Hello"));
    CHECK_EQ(m[1], std::string("say+: queued"));
    CHECK_EQ(m[2], "say!: " + kBom + "twice");
    CHECK(m[3].compare(0, 6, "say!: ") == 0);
}

TEST(control_and_empty_lines_never_speak) {
    protocol_case c(false);
    const char* silent[] = {"", " \t\r", "!", "+", "+   ", "!\t", "^", "^ \t", "#", "#o", "#x", "#comment", "#OK", "#Ok fine",
                            "# ok"};
    for (const char* line : silent) feed(line);
    CHECK_EQ(c.messages(), lines{});
    feed("-");
    feed("-Hello there");
    feed("- +queued");
    CHECK_EQ(c.messages(), (lines{"stop", "stop", "stop"}));
}

TEST(watchdog_fires_queued_at_its_deadline) {
    protocol_case c(false);
    feed("?5 Are you still there?");
    CHECK_EQ(c.messages(), lines{"watchdog armed: 5 s"});
    unit_fake_clock_advance(4999);
    check_speech_watchdog();
    CHECK_EQ(c.messages().size(), (size_t)1);
    unit_fake_clock_advance(1);
    check_speech_watchdog();
    unit_fake_clock_advance(60000);
    check_speech_watchdog();
    CHECK_EQ(c.messages(), (lines{"watchdog armed: 5 s", "watchdog expired (no #ok line)",
                                  "say+: Are you still there?"}));
}

TEST(watchdog_cancelled_by_ok_lines_only) {
    protocol_case c(false);
    feed("#ok");  // nothing armed: nothing logged
    CHECK_EQ(c.messages(), lines{});
    feed("?2 one");
    feed("#OK");
    feed("#o k");
    unit_fake_clock_advance(2000);
    check_speech_watchdog();
    CHECK_EQ(c.messages().back(), std::string("say+: one"));

    feed("?2 two");
    feed("#okay, got it\r");
    feed("#ok");
    unit_fake_clock_advance(10000);
    check_speech_watchdog();
    lines m = c.messages();
    CHECK_EQ(m.back(), std::string("watchdog cancelled (#ok)"));
    CHECK_EQ(unit_count(unit_read_file(c.log_file), "watchdog cancelled"), 1);
    CHECK_EQ(unit_count(unit_read_file(c.log_file), "say+: two"), 0);
}

TEST(watchdog_ignores_seconds_outside_1_to_3600_or_without_a_text_and_takes_strtol_forms) {
    protocol_case c(false);
    feed("?10 kept");
    const char* ignored[] = {"?0 zero", "?3601 too long", "?-5 negative", "?abc 5 letters", "?5", "?5  \t ",
                             "? text", "?99999999999999999999 overflow", "?"};
    for (const char* line : ignored) feed(line);
    CHECK_EQ(c.messages(), lines{"watchdog armed: 10 s"});
    unit_fake_clock_advance(10000);
    check_speech_watchdog();
    CHECK_EQ(c.messages().back(), std::string("say+: kept"));

    // strtol's forms: leading white space, a sign, text right after the digits.
    feed("? 7 spaced");
    feed("?+8 signed");
    feed("?9glued");
    feed("?3600 an hour");
    feed("?1\tx");
    CHECK_EQ(c.messages(), (lines{"watchdog armed: 10 s", "watchdog expired (no #ok line)", "say+: kept",
                                  "watchdog armed: 7 s", "watchdog armed: 8 s", "watchdog armed: 9 s",
                                  "watchdog armed: 3600 s", "watchdog armed: 1 s"}));
}

TEST(watchdog_rearming_replaces_deadline_and_text) {
    protocol_case c(false);
    feed("?2 first");
    unit_fake_clock_advance(1500);
    feed("?2 second");
    unit_fake_clock_advance(1000);
    check_speech_watchdog();  // 2500 ms after the first arming, 1000 after the second
    CHECK_EQ(unit_count(unit_read_file(c.log_file), "expired"), 0);
    unit_fake_clock_advance(1000);
    check_speech_watchdog();
    CHECK_EQ(c.messages().back(), std::string("say+: second"));
}

TEST(watchdog_text_limit_keeps_armed_text) {
    protocol_case c(false);
    feed("?5 original");
    // 511 units do not fit; the armed watchdog keeps its own text and deadline.
    feed("?5 " + std::string(511, 'x'));
    feed("?5 " + std::string(300, 'y') + std::string(211, '\xFF'));  // invalid bytes become U+FFFD
    unit_fake_clock_advance(5000);
    check_speech_watchdog();
    CHECK_EQ(c.messages(), (lines{"watchdog armed: 5 s", "watchdog expired (no #ok line)", "say+: original"}));

    std::string longest;
    for (int i = 0; i < 510; i++) longest += "\xC3\xA9";  // 510 units in 1020 bytes
    feed("?1 " + longest);
    unit_fake_clock_advance(1000);
    check_speech_watchdog();
    CHECK_EQ(c.messages().back(), "say+: " + longest);
}

TEST(held_announcement_released_after_15_s_without_front) {
    protocol_case c(true);
    feed("+" + kVersion);
    CHECK_EQ(c.messages(), lines{"startup announcement held until the game window is in front: " + kVersion});
    for (int t = 20; t <= 15000; t += 20) tick_startup_announcement(kStart + t);
    CHECK_EQ(c.messages().size(), (size_t)1);
    tick_startup_announcement(kStart + 15001);
    tick_startup_announcement(kStart + 15020);
    // Held from a "+" line, spoken interrupting all the same.
    CHECK_EQ(c.messages(), (lines{"startup announcement held until the game window is in front: " + kVersion,
                                  "startup announcement spoken (15 s passed)", "say!: " + kVersion}));
}

TEST(held_announcement_released_700_ms_after_front_first_seen) {
    protocol_case c(true);
    feed(kVersion);
    tick_startup_announcement(kStart + 50);
    front_answer = true;
    tick_startup_announcement(kStart + 100);
    front_answer = false;  // leaving the front does not restart the wait
    tick_startup_announcement(kStart + 400);
    front_answer = true;
    tick_startup_announcement(kStart + 800);
    CHECK_EQ(c.messages().size(), (size_t)1);
    front_answer = false;
    tick_startup_announcement(kStart + 801);
    CHECK_EQ(c.messages().back(), "say!: " + kVersion);
    CHECK_EQ(c.messages()[1], std::string("startup announcement spoken (game window in front)"));
}

TEST(held_announcement_reason_when_front_seen_late) {
    protocol_case c(true);
    feed(kVersion);
    front_answer = true;
    tick_startup_announcement(kStart + 14800);
    tick_startup_announcement(kStart + 15001);  // 15 s passed, window seen 201 ms ago
    CHECK_EQ(c.messages()[1], std::string("startup announcement spoken (game window in front)"));
}

TEST(held_announcement_released_by_next_text_line) {
    protocol_case c(true);
    feed("!" + kVersion);
    // Control lines and empty lines leave it held.
    feed("#comment");
    feed("-");
    feed("?5 question");
    feed("+");
    feed("");
    CHECK_EQ(unit_count(unit_read_file(c.log_file), "say"), 0);
    feed("+Loading done");
    lines m = c.messages();
    REQUIRE(m.size() == 6);
    CHECK_EQ(m[3], std::string("startup announcement spoken (another line follows)"));
    CHECK_EQ(m[4], "say!: " + kVersion);
    CHECK_EQ(m[5], std::string("say+: Loading done"));
    // Released for good: a later version line and ticks change nothing.
    tick_startup_announcement(kStart + 60000);
    feed("+" + kVersion + " again");
    CHECK_EQ(c.messages().back(), "say+: " + kVersion + " again");
    CHECK_EQ(unit_count(unit_read_file(c.log_file), "held"), 1);
}

TEST(second_version_line_releases_first_and_is_spoken_and_an_alert_is_never_held) {
    protocol_case c(true);
    feed(kVersion);
    feed("^");
    feed("+" + kVersion + "b");
    CHECK_EQ(c.messages(), (lines{"startup announcement held until the game window is in front: " + kVersion,
                                  "startup announcement spoken (another line follows)", "say!: " + kVersion,
                                  "say+: " + kVersion + "b"}));
    reset_protocol();
    feed("^" + kVersion);
    feed("^Run");
    CHECK_EQ(c.messages().back(), "say^: Run");
    CHECK_EQ(c.messages()[c.messages().size() - 2], "say^: " + kVersion);
    reset_protocol();
    feed(kVersion);
    feed("^Run");
    CHECK_EQ(c.messages().back(), "say^: Run");
    CHECK_EQ(c.messages()[c.messages().size() - 2], "say!: " + kVersion);
}

TEST(version_line_without_game_spoken_and_not_counted) {
    protocol_case c(false);
    feed(kVersion);
    CHECK_EQ(c.messages(), lines{"say!: " + kVersion});
    attach_game_for_tests(GetCurrentProcessId(), GetCurrentProcess());
    feed(kVersion);
    CHECK_EQ(c.messages().back(), "startup announcement held until the game window is in front: " + kVersion);
    // The held line goes out after the game is gone too.
    reset_game_process();
    feed("next");
    CHECK_EQ(c.messages().back(), std::string("say!: next"));
}

TEST(version_line_length_and_prefix_boundaries) {
    protocol_case c(true);
    std::string at_limit = kVersion + std::string(249 - kVersion.size(), '.');
    std::string over = at_limit + ".";
    feed(over);
    CHECK_EQ(c.messages(), lines{"say!: " + over});
    feed("Tolvane Doduzu Version 2");  // case matters
    feed("tolvane Doduzu version 2");
    feed("Tolvane Doduzu versio");
    CHECK_EQ(unit_count(unit_read_file(c.log_file), "held"), 0);
    // Units, not bytes: 227 two-byte letters after the prefix make 249 units in 476 bytes.
    std::string wide_limit = "Tolvane Doduzu version";
    for (int i = 0; i < 227; i++) wide_limit += "\xC3\xB6";
    feed(wide_limit);
    CHECK_EQ(c.messages().back(), "startup announcement held until the game window is in front: " + wide_limit);
    release_startup_announcement("test");
    CHECK_EQ(c.messages().back(), "say!: " + wide_limit);
    release_startup_announcement("again");  // nothing held: nothing said
    CHECK_EQ(c.messages().back(), "say!: " + wide_limit);
}

TEST(odd_bytes_never_overrun_or_crash) {
    protocol_case c(false);
    feed(std::string("Hello\0World", 11));
    feed(std::string("\0leading nul", 12));
    feed(std::string("!\0", 2));
    feed(std::string("?5 \0text", 8));
    feed("\xFF\xFE broken \xC3");
    feed(std::string(16384, 'a'));
    feed("b" + std::string(16383, ' '));
    feed("?9" + std::string(16382, ' '));
    feed(std::string(16384, '#'));
    lines m = c.messages();
    REQUIRE(m.size() == 4);
    CHECK_EQ(m[0], std::string("say!: Hello"));
    CHECK_EQ(m[1], std::string("say!: \xEF\xBF\xBD\xEF\xBF\xBD broken \xEF\xBF\xBD"));
    CHECK_EQ(m[2], std::string("say!: "));  // the say line keeps at most 2047 bytes of a text
    CHECK_EQ(m[3], std::string("say!: b"));
    CHECK_EQ(lines_spoken, 4u);
}
