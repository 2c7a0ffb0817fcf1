#include "unit.h"
#include <string.h>
#include <wchar.h>
#include <string>
#include "run/log.h"
#include "run/settings.h"

namespace {
std::string fmt(const char* format, ...) {
    char buf[256];
    va_list args;
    va_start(args, format);
    int n = format_text(buf, sizeof buf, format, args);
    va_end(args);
    return n < 0 ? "<failed>" : std::string(buf);
}

// Opens a fresh log in a temp folder; returns its path.
std::wstring fresh_log(bool append, const std::string& old_content = "") {
    std::wstring path = unit_temp_dir() + L"\\TolvaneSpeech.log";
    if (!old_content.empty()) unit_write_file(path, old_content);
    format_wide(log_path, kPathCap, L"%ls", path.c_str());
    open_log(append);
    return path;
}

bool is_prefix(const std::string& line) {
    return line.size() >= 15 && line[0] == '[' && line[3] == ':' && line[6] == ':' && line[9] == '.' &&
           line[13] == ']' && line[14] == ' ';
}
}  // namespace

TEST(format_text_conversions) {
    CHECK_EQ(fmt("%d|%ld|%lld", -5, (long)-7, -9000000000LL), std::string("-5|-7|-9000000000"));
    CHECK_EQ(fmt("%lu|%llu", 4294967295UL, 18446744073709551615ULL), std::string("4294967295|18446744073709551615"));
    CHECK_EQ(fmt("%02d:%03d|%08lx", 7, 42, 0x80004001UL), std::string("07:042|80004001"));
    CHECK_EQ(fmt("%s and %s", "a", (const char*)NULL), std::string("a and (null)"));
    CHECK_EQ(fmt("100%%"), std::string("100%"));
    CHECK_EQ(fmt("%p", (void*)0x1234), std::string("0000000000001234"));
    CHECK_EQ(fmt("%03d", -5), std::string("-05"));
}

TEST(format_text_narrows_wide_text_to_utf8) {
    CHECK_EQ(fmt("%ls", L"h\u00e9llo \u20ac \U0001F600"), std::string("h\xc3\xa9llo \xe2\x82\xac \xf0\x9f\x98\x80"));
    const wchar_t unpaired[] = {L'a', 0xD800, L'b', 0};
    CHECK_EQ(fmt("x %ls", unpaired), std::string("<failed>"));
    const wchar_t lone_low[] = {0xDC00, 0};
    CHECK_EQ(fmt("%ls", lone_low), std::string("<failed>"));
    CHECK_EQ(fmt("%q"), std::string("<failed>"));
}

TEST(format_text_cuts_and_reports_full_length) {
    char buf[8];
    memset(buf, 'z', sizeof buf);
    va_list none{};
    int n = format_text(buf, sizeof buf, "0123456789", none);
    CHECK_EQ(n, 10);
    CHECK_EQ(std::string(buf), std::string("0123456"));
}

TEST(format_wide_cuts_at_capacity) {
    wchar_t buf[6];
    format_wide(buf, 6, L"%ls\\%ls", L"abc", L"defgh");
    CHECK_EQ(std::wstring(buf), std::wstring(L"abc\\d"));
    wchar_t exact[6];
    format_wide(exact, 6, L"%ls", L"abcdef");
    CHECK_EQ(std::wstring(exact), std::wstring(L"abcde"));
    format_wide(exact, 6, L"%d", 12);
    CHECK_EQ(std::wstring(exact), std::wstring(L"12"));
}

TEST(log_line_shape) {
    std::wstring path = fresh_log(false);
    log_line("hello %d", 5);
    log_line("%s", "");
    close_log();
    std::string text = unit_read_file(path);
    REQUIRE(text.size() == 15 + 7 + 2 + 17);
    CHECK(is_prefix(text));
    CHECK_EQ(text.substr(15, 9), std::string("hello 5\r\n"));
    CHECK(is_prefix(text.substr(24)));
    CHECK_EQ(text.substr(24 + 15), std::string("\r\n"));
    SYSTEMTIME now;
    GetLocalTime(&now);
    char hour[3] = {text[1], text[2], 0};
    CHECK(atoi(hour) == now.wHour || (atoi(hour) + 1) % 24 == now.wHour);
}

TEST(log_line_cuts_long_message) {
    std::wstring path = fresh_log(false);
    std::string message(5000, 'm');
    message[4076] = 'L';  // the last byte kept
    log_line("%s", message.c_str());
    close_log();
    std::string text = unit_read_file(path);
    CHECK_EQ(text.size(), (size_t)4094);
    CHECK_EQ(text.find('\0'), std::string::npos);
    CHECK_EQ(text.substr(4091), std::string("L\r\n"));
}

TEST(log_line_failed_format_leaves_prefix) {
    std::wstring path = fresh_log(false);
    const wchar_t bad[] = {0xD834, 0};
    log_line("text %ls", bad);
    close_log();
    std::string text = unit_read_file(path);
    CHECK_EQ(text.size(), (size_t)17);
    CHECK_EQ(text.substr(15), std::string("\r\n"));
}

TEST(log_cap_writes_the_crossing_line_whole) {
    std::wstring path = fresh_log(false);
    std::string full(kLogMessageMax, 'x');
    for (int i = 0; i < 512; i++) log_line("%s", full.c_str());
    // 512 lines of 4094 bytes leave 1024 bytes to the cap: one line of exactly that size.
    std::string rest(1024 - 17, 'y');
    log_line("%s", rest.c_str());
    CHECK_EQ(log_bytes(), kLogCap);
    log_line("still written");
    log_line("dropped");
    close_log();
    std::string text = unit_read_file(path);
    CHECK_EQ((int64_t)text.size(), kLogCap + 15 + 13 + 2);
    CHECK(text.find("still written\r\n") != std::string::npos);
    CHECK(text.find("dropped") == std::string::npos);
}

TEST(log_append_and_truncate) {
    std::string old(3000000, 'o');
    std::wstring path = fresh_log(true, old);
    log_line("appended");
    CHECK(log_bytes() == 25);  // the old content does not count against the cap
    close_log();
    std::string text = unit_read_file(path);
    CHECK_EQ(text.size(), old.size() + 25);
    CHECK_EQ(text.substr(old.size() + 15), std::string("appended\r\n"));

    format_wide(log_path, kPathCap, L"%ls", path.c_str());
    open_log(false);
    log_line("fresh");
    close_log();
    CHECK_EQ(unit_read_file(path).size(), (size_t)22);
}

TEST(log_without_file_is_silent) {
    close_log();
    log_line("nobody hears this %d", 1);  // before any open
    std::wstring dir = unit_temp_dir();
    format_wide(log_path, kPathCap, L"%ls", dir.c_str());  // a folder cannot be opened as the log
    open_log(false);
    log_line("nor this");
    close_log();
    CHECK_EQ(log_bytes(), (int64_t)0);
    format_wide(log_path, kPathCap, L"%ls\\missing\\x.log", dir.c_str());
    open_log(true);
    log_line("nor this");
    close_log();
    CHECK(!unit_file_exists(dir + L"\\missing"));
}

TEST(log_empty_path_goes_beside_the_executable) {
    std::wstring dir = unit_temp_dir();
    format_wide(exe_dir, kModulePathCap, L"%ls", dir.c_str());
    log_path[0] = 0;
    open_log(true);
    log_line("beside");
    close_log();
    CHECK(unit_read_file(dir + L"\\TolvaneSpeech.log").find("beside\r\n") != std::string::npos);
}

TEST(to_utf8_rules) {
    char out[8];
    CHECK(to_utf8(L"abc", out, sizeof out));
    CHECK_EQ(std::string(out), std::string("abc"));
    CHECK(!to_utf8(L"abcdefghij", out, sizeof out));  // does not fit
    CHECK_EQ(std::string(out), std::string(""));
    const wchar_t unpaired[] = {L'a', 0xDFFF, 0};
    CHECK(!to_utf8(unpaired, out, sizeof out));
    CHECK_EQ(std::string(out), std::string(""));
}

TEST(log_keeps_lines_another_process_appended) {
    std::wstring path = fresh_log(false);
    log_line("first");
    unit_append_file(path, "from a one-shot mode\r\n");
    log_line("second");
    close_log();
    std::string text = unit_read_file(path);
    CHECK(text.find("first\r\nfrom a one-shot mode\r\n[") != std::string::npos);
    CHECK(text.find("second\r\n") != std::string::npos);
}
