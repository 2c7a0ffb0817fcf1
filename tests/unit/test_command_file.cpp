// cmd.txt: start-up creation, the exact line bytes, appending under a mod that truncates or
// deletes the file, and failures that are logged while the bridge goes on.
#include "unit.h"
#include <wchar.h>
#include "keys/command_file.h"
#include "run/log.h"
#include "run/settings.h"

namespace {
std::wstring dir;

// A fresh folder as exe_dir with the log in it.
void begin(void) { dir = unit_begin_log(); }

std::string cmd(void) { return unit_read_file(dir + L"\\cmd.txt"); }
std::string log_text(void) { return unit_log(); }
}  // namespace

TEST(start_up_empties_a_left_over_file_beside_the_executable) {
    begin();
    REQUIRE(unit_write_file(dir + L"\\cmd.txt", "key F1 1\nkey F2 2\n"));
    create_command_file();
    CHECK(unit_file_exists(dir + L"\\cmd.txt"));
    CHECK_EQ(cmd(), std::string(""));
    CHECK_EQ(log_text(), std::string(""));
    close_log();
}

TEST(lines_carry_exact_bytes_in_call_order) {
    begin();
    create_command_file();
    write_command("Up", 120000);
    CHECK_EQ(cmd(), std::string("key Up 120000\n"));
    // A menu key carries the hook's older tick, so ticks need not rise.
    write_command("F1", 120500);
    write_command("Down", 120400);
    // The 32-bit tick is written unchanged, also at and after its wrap.
    write_command("Backspace", 4294967295u);
    write_command("MenuOff", 0);
    CHECK_EQ(cmd(), std::string("key Up 120000\nkey F1 120500\nkey Down 120400\nkey Backspace 4294967295\n"
                                "key MenuOff 0\n"));
    // No terminator and no carriage return.
    CHECK_EQ(unit_count(cmd(), std::string(1, '\0')), 0);
    CHECK_EQ(unit_count(cmd(), "\r"), 0);
    close_log();
}

TEST(no_handle_stays_open_between_lines) {
    begin();
    create_command_file();
    write_command("F3", 7);
    // An exclusive open succeeds only when the bridge holds nothing.
    HANDLE h = CreateFileW((dir + L"\\cmd.txt").c_str(), GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, NULL);
    CHECK(h != INVALID_HANDLE_VALUE);
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    close_log();
}

TEST(a_file_deleted_or_truncated_by_the_mod_gets_the_next_line_at_its_start) {
    begin();
    create_command_file();
    write_command("F1", 10);
    REQUIRE(DeleteFileW((dir + L"\\cmd.txt").c_str()));
    write_command("F2", 20);
    CHECK_EQ(cmd(), std::string("key F2 20\n"));
    REQUIRE(unit_write_file(dir + L"\\cmd.txt", ""));
    write_command("Armed", 30);
    CHECK_EQ(cmd(), std::string("key Armed 30\n"));
    // A mod that keeps the file open for reading and writing does not stop the bridge.
    HANDLE mod = CreateFileW((dir + L"\\cmd.txt").c_str(), GENERIC_READ | GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    REQUIRE(mod != INVALID_HANDLE_VALUE);
    write_command("Escape", 40);
    CloseHandle(mod);
    CHECK_EQ(cmd(), std::string("key Armed 30\nkey Escape 40\n"));
    CHECK_EQ(log_text(), std::string(""));
    close_log();
}

TEST(failures_are_logged_and_the_line_is_dropped) {
    begin();
    // A folder that does not exist: creation and every write fail, each logged.
    wcsncpy(settings_for_tests().exe_dir, (dir + L"\\missing").c_str(), kModulePathCap - 1);
    create_command_file();
    write_command("F1", 1);
    std::string log = log_text();
    CHECK_EQ(unit_count(log, "cmd file: cannot create (3)\r\n"), 1);
    CHECK_EQ(unit_count(log, "cmd file: cannot open (3)\r\n"), 1);

    // A mod holding the file without letting writers in: the line is lost, the next one is not.
    wcsncpy(settings_for_tests().exe_dir, dir.c_str(), kModulePathCap - 1);
    create_command_file();
    HANDLE mod = CreateFileW((dir + L"\\cmd.txt").c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, NULL);
    REQUIRE(mod != INVALID_HANDLE_VALUE);
    write_command("Up", 2);
    CloseHandle(mod);
    write_command("Down", 3);
    CHECK_EQ(cmd(), std::string("key Down 3\n"));
    CHECK_EQ(unit_count(log_text(), "cmd file: cannot open (32)\r\n"), 1);
    close_log();
}
