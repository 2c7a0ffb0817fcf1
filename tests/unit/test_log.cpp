#include "unit.h"
#include <wchar.h>
#include <string>
#include "run/log.h"
#include "run/settings.h"

namespace {
// Opens a fresh log in a temp folder; returns its path.
std::wstring fresh_log(bool append, const std::string& old_content = "") {
    std::wstring path = unit_temp_dir() + L"\\TolvaneSpeech.log";
    if (!old_content.empty()) unit_write_file(path, old_content);
    format_wide(settings_for_tests().log_path, kPathCap, L"%ls", path.c_str());
    open_log(append);
    return path;
}

bool is_prefix(const std::string& line) {
    return line.size() >= 15 && line[0] == '[' && line[3] == ':' && line[6] == ':' && line[9] == '.' &&
           line[13] == ']' && line[14] == ' ';
}
}  // namespace

TEST(a_line_is_the_time_prefix_the_message_and_cr_lf) {
    std::wstring path = fresh_log(false);
    log_line("hello %d", 5);
    log_line("%s", "");
    close_log();
    std::string text = unit_read_file(path);
    REQUIRE(text.size() == kLogPrefixLength + 7 + 2 + 17);
    CHECK(is_prefix(text));
    CHECK_EQ(text.substr(kLogPrefixLength, 9), std::string("hello 5\r\n"));
    CHECK(is_prefix(text.substr(24)));
    CHECK_EQ(text.substr(24 + kLogPrefixLength), std::string("\r\n"));
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
    CHECK_EQ(text.substr(kLogPrefixLength), std::string("\r\n"));
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
    CHECK_EQ((int64_t)text.size(), kLogCap + kLogPrefixLength + 13 + 2);
    CHECK(text.find("still written\r\n") != std::string::npos);
    CHECK(text.find("dropped") == std::string::npos);
}

TEST(log_appends_to_old_text_without_counting_it_and_a_fresh_open_keeps_the_last_log) {
    std::string old(3000000, 'o');
    std::wstring path = fresh_log(true, old);
    log_line("appended");
    CHECK(log_bytes() == 25);  // the old content does not count against the cap
    close_log();
    std::string text = unit_read_file(path);
    CHECK_EQ(text.size(), old.size() + 25);
    CHECK_EQ(text.substr(old.size() + kLogPrefixLength), std::string("appended\r\n"));

    format_wide(settings_for_tests().log_path, kPathCap, L"%ls", path.c_str());
    open_log(false);
    log_line("fresh");
    close_log();
    CHECK_EQ(unit_read_file(path).size(), (size_t)22);
    // The fresh log kept the last one whole; one that cannot be replaced (held open) leaves the
    // log to be appended to, and the log says so.
    const std::wstring dir = path.substr(0, path.rfind(L'\\'));
    const std::wstring previous = dir + L"\\TolvaneSpeech.previous.log";
    CHECK_EQ(unit_read_file(previous).size(), old.size() + 25);
    HANDLE held = CreateFileW(previous.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    open_log(false);
    close_log();
    CloseHandle(held);
    text = unit_read_file(path);
    CHECK_EQ(text.substr(kLogPrefixLength, 7), std::string("fresh\r\n"));
    CHECK_EQ(text.find("] previous log not kept as " + std::string(previous.begin(), previous.end()) + " (error "),
             (size_t)22 + kLogPrefixLength - 2);
    CHECK_EQ(text.substr(text.size() - 14), std::string("); appending\r\n"));

    // Another name than NAME.log gets .previous at its end.
    const std::wstring other = dir + L"\\speech.out";
    unit_write_file(other, "x");
    format_wide(settings_for_tests().log_path, kPathCap, L"%ls", other.c_str());
    open_log(false);
    close_log();
    CHECK_EQ(unit_read_file(other + L".previous"), std::string("x"));
}

TEST(log_without_file_is_silent) {
    close_log();
    log_line("nobody hears this %d", 1);  // before any open
    std::wstring dir = unit_temp_dir();
    // A folder cannot be opened as the log.
    format_wide(settings_for_tests().log_path, kPathCap, L"%ls", dir.c_str());
    open_log(false);
    log_line("nor this");
    close_log();
    CHECK_EQ(log_bytes(), (int64_t)0);
    format_wide(settings_for_tests().log_path, kPathCap, L"%ls\\missing\\x.log", dir.c_str());
    open_log(true);
    log_line("nor this");
    close_log();
    CHECK(!unit_file_exists(dir + L"\\missing"));
}

TEST(log_empty_path_goes_beside_the_executable) {
    std::wstring dir = unit_temp_dir();
    format_wide(settings_for_tests().exe_dir, kModulePathCap, L"%ls", dir.c_str());
    settings_for_tests().log_path[0] = 0;
    open_log(true);
    log_line("beside");
    close_log();
    CHECK(unit_read_file(dir + L"\\TolvaneSpeech.log").find("beside\r\n") != std::string::npos);
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
