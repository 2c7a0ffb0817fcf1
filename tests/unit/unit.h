// A small test framework for the unit tests, which run as console programs under Wine.
// TEST(name) registers a case; CHECK and CHECK_EQ record a failure and go on; REQUIRE returns.
// Before each case every module of the bridge is put back to its start state and the seams
// (run/seams.h) are set back to the real calls, so a case replaces only what it needs.
// Each case prints "PASS name" or "FAIL name: where: what"; the program ends with
// "N passed, N failed" and exits 1 when anything failed. An argument runs only the cases whose
// name contains it.
#pragma once
#include <windows.h>
#include <stdint.h>
#include <string>
#include <vector>

typedef void (*unit_fn)(void);
struct unit_registrar {
    unit_registrar(const char* name, unit_fn fn);
};
void unit_fail(const char* file, int line, const std::string& what);

std::string unit_str(long long v);
std::string unit_str(unsigned long long v);
std::string unit_str(const std::string& v);
std::string unit_str(const char* v);
std::string unit_str(const wchar_t* v);
std::string unit_str(const std::wstring& v);
inline std::string unit_str(int v) { return unit_str((long long)v); }
inline std::string unit_str(long v) { return unit_str((long long)v); }
inline std::string unit_str(unsigned v) { return unit_str((unsigned long long)v); }
inline std::string unit_str(unsigned long v) { return unit_str((unsigned long long)v); }
inline std::string unit_str(bool v) { return v ? "true" : "false"; }

#define TEST(name)                                            \
    static void name(void);                                   \
    static unit_registrar name##_registrar(#name, name);      \
    static void name(void)

#define CHECK(cond)                                                        \
    do {                                                                   \
        if (!(cond)) unit_fail(__FILE__, __LINE__, "CHECK(" #cond ")");    \
    } while (0)

#define CHECK_EQ(a, b)                                                             \
    do {                                                                           \
        auto unit_a_ = (a);                                                        \
        auto unit_b_ = (b);                                                        \
        if (!(unit_a_ == unit_b_))                                                 \
            unit_fail(__FILE__, __LINE__,                                          \
                      std::string(#a " == " #b ": ") + unit_str(unit_a_) + " vs " + \
                          unit_str(unit_b_));                                      \
    } while (0)

#define REQUIRE(cond)                                                        \
    do {                                                                     \
        if (!(cond)) {                                                       \
            unit_fail(__FILE__, __LINE__, "REQUIRE(" #cond ")");             \
            return;                                                          \
        }                                                                    \
    } while (0)

// A fresh empty folder for the current case (under %TEMP%), without trailing backslash.
std::wstring unit_temp_dir(void);
// Whole-file helpers; read gives "" for a missing file.
std::string unit_read_file(const std::wstring& path);
bool unit_write_file(const std::wstring& path, const std::string& bytes);
bool unit_append_file(const std::wstring& path, const std::string& bytes);
bool unit_file_exists(const std::wstring& path);
// Count of occurrences of needle in hay.
int unit_count(const std::string& hay, const std::string& needle);
std::wstring unit_widen(const std::string& utf8);

// The bridge's log for the current case, with exe_dir: a fresh folder holding dir\test.log.
// Returns the folder.
std::wstring unit_begin_log(void);
std::string unit_log(void);
// Number of log lines whose message is exactly this.
int unit_logged(const std::string& message);
// The lines of a text, split at line feeds, each without its carriage return; a last line
// without a line feed counts, the empty one after a final line feed does not.
std::vector<std::string> unit_lines(const std::string& text);
// The messages of a log file, one a line, each without its time prefix.
std::vector<std::string> unit_log_messages(const std::wstring& path);
// The folder of the project's stand-ins (build\doubles), beside this test program's folder.
std::wstring unit_doubles_dir(void);
// Command names of a cmd.txt, space-separated: "F1 Armed Down".
std::string unit_cmd_names(const std::wstring& path);
// The menu_key_code of a settings-menu key, by its name in cmd.txt ("Escape") or its virtual-key
// code, through the bridge's table (keys/menu_keys.h); 0 for no menu key (a name that is none
// fails the case).
uint8_t unit_menu_key(const char* name);
uint8_t unit_menu_key(DWORD vk);

// A controlled clock for the modules' tick: install it, then set or advance it.
void unit_fake_clock_install(uint64_t start);
void unit_fake_clock_set(uint64_t now);
void unit_fake_clock_advance(uint64_t ms);
uint64_t unit_fake_clock_now(void);
