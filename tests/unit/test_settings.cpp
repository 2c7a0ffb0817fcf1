#include "unit.h"
#include <limits.h>
#include <wchar.h>
#include <string>
#include <vector>
#include "run/log.h"
#include "run/settings.h"
#include "run/text.h"
#include "speech/routes.h"

namespace {
// Applies a command line given as its arguments after the program path.
void apply(std::vector<std::wstring> args) {
    static std::vector<std::wstring> keep;  // say_text points into the arguments
    keep = args;
    keep.insert(keep.begin(), L"TolvaneSpeech.exe");
    std::vector<wchar_t*> argv;
    for (std::wstring& a : keep) argv.push_back(&a[0]);
    parse_command_line((int)argv.size(), argv.data());
}

void parse(std::vector<std::wstring> args) {
    reset_settings();
    apply(args);
}

// The folder of this test program, where load_settings looks for its ini file.
std::wstring program_dir(void) {
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(NULL, path, MAX_PATH);
    *wcsrchr(path, L'\\') = 0;
    return path;
}

void load_with_ini(const std::string& ini) {
    std::wstring path = program_dir() + L"\\TolvaneSpeech.ini";
    if (ini.empty())
        DeleteFileW(path.c_str());
    else
        unit_write_file(path, ini);
    reset_settings();
    load_settings();
    DeleteFileW(path.c_str());
}

// "Section/Key=value " for each key line of an ini file's text, in order.
std::wstring key_lines(const std::string& ini) {
    std::wstring section, keys;
    for (const std::string& line : unit_lines(ini)) {
        if (line.size() > 1 && line[0] == '[')
            section = unit_widen(line.substr(1, line.size() - 2));
        else if (!line.empty() && line[0] != ';' && line.find('=') != std::string::npos)
            keys += section + L"/" + unit_widen(line) + L" ";
    }
    return keys;
}
}  // namespace

TEST(no_arguments_keep_every_default) {
    parse({});
    CHECK_EQ(game_timeout, 600);
    CHECK_EQ(requested_pid, 0UL);
    CHECK(!from_start && !quiet && !say_queued && !check_mode && say_text == NULL);
    CHECK_EQ(std::wstring(instance_name), std::wstring(L"Local\\TolvaneSpeech_SingleInstance"));
    CHECK_EQ(std::wstring(game_exe_name), std::wstring(L"Tolvane-Win64-Shipping.exe"));
}

TEST(option_values_are_taken_whatever_they_look_like) {
    parse({L"--file", L"--quiet"});
    CHECK_EQ(std::wstring(speech_file_path), std::wstring(L"--quiet"));
    CHECK(!quiet);
    parse({L"--quiet", L"--file"});  // a value option as the last argument is skipped
    CHECK(quiet);
    CHECK_EQ(std::wstring(speech_file_path), std::wstring(L""));
    parse({L"stray", L"--from-start", L"-x", L"--Quiet", L"--no-hang", L"--queue"});
    CHECK(from_start && !quiet && !hang_dump_enabled && say_queued);
}

TEST(a_pid_is_read_as_unsigned_32_bit_decimal_with_its_digits_alone) {
    struct {
        const wchar_t* text;
        unsigned long want;
    } cases[] = {{L"812", 812},          {L"12abc", 12},  {L"abc", 0},       {L"-1", 4294967295UL},
                 {L"99999999999", 4294967295UL}, {L"  +7", 7}, {L"", 0}, {L"4294967295", 4294967295UL},
                 {L"-4294967295", 1}};
    for (auto& c : cases) {
        parse({L"--pid", c.text});
        CHECK_EQ(requested_pid, c.want);
    }
}

TEST(game_timeout_is_read_as_signed_32_bit_decimal_and_clamped) {
    struct {
        const wchar_t* text;
        int want;
    } cases[] = {{L"5", 5},         {L"abc", 0},          {L"-5", -5}, {L"7s", 7},
                 {L"99999999999", INT_MAX}, {L"-99999999999", INT_MIN}, {L" 30", 30}};
    for (auto& c : cases) {
        parse({L"--game-timeout", c.text});
        CHECK_EQ(game_timeout, c.want);
    }
}

TEST(instance_names_start_from_the_base_name) {
    parse({L"--instance", L"a", L"--instance", L"b"});
    CHECK_EQ(std::wstring(instance_name), std::wstring(L"Local\\TolvaneSpeech_SingleInstance_b"));
    parse({L"--instance", std::wstring(200, L'x')});
    CHECK_EQ(wcslen(instance_name), (size_t)95);
}

TEST(long_paths_are_cut_to_519_units) {
    std::wstring long_path(1000, L'p');
    parse({L"--file", long_path, L"--log", long_path, L"--game-exe", long_path});
    CHECK_EQ(wcslen(speech_file_path), (size_t)519);
    CHECK_EQ(wcslen(log_path), (size_t)519);
    CHECK_EQ(wcslen(game_exe_name), (size_t)259);
}

TEST(check_wins_over_say_and_an_empty_say_text_still_says) {
    parse({L"--say", L"", L"--queue"});
    REQUIRE(say_text != NULL);
    CHECK_EQ(std::wstring(say_text), std::wstring(L""));
    CHECK(say_queued);
    parse({L"--say", L"hi", L"--check"});
    CHECK(check_mode);
    CHECK_EQ(std::wstring(say_text), std::wstring(L"hi"));
    parse({L"--say"});
    CHECK(say_text == NULL);
}

TEST(backend_option_ignores_case_the_last_one_counts_and_an_unknown_word_means_auto) {
    parse({L"--backend", L"SAPI"});
    CHECK_EQ(backend, (int)kBackendSapi);
    parse({L"--backend", L"NvDa"});
    CHECK_EQ(backend, (int)kBackendNvda);
    parse({L"--backend", L"JAWS"});
    CHECK_EQ(backend, (int)kBackendJaws);
    parse({L"--backend", L"log", L"--backend", L"speakers"});
    CHECK_EQ(backend, (int)kBackendAuto);
}

TEST(ini_keys_with_their_defaults_floors_ceilings_and_the_command_line_on_top) {
    load_with_ini("[Speech]\r\nBackend=SAPI\r\nBraille=0\r\nRate=-25\r\nVolume=101\r\nVoice=Bass Test\r\n[Debug]\r\n"
                  "HangDump=0\r\nHangSeconds=3\r\n");
    CHECK_EQ(backend, (int)kBackendSapi);
    CHECK_EQ(voice_rate, -10);
    CHECK_EQ(voice_volume, 100);
    CHECK_EQ(std::wstring(voice_name), std::wstring(L"Bass Test"));
    CHECK(!braille_enabled);
    CHECK(!hang_dump_enabled);
    CHECK_EQ(hang_seconds, 8);

    load_with_ini("[Debug]\r\nHangSeconds=9\r\nHangDump=abc\r\n");
    CHECK_EQ(backend, (int)kBackendAuto);
    CHECK_EQ(hang_seconds, 9);
    CHECK(!hang_dump_enabled);

    load_with_ini("[Debug]\r\nHangSeconds=-5\r\nHangDump=7\r\n[Speech]\r\nBackend=loudly\r\nBraille=abc\r\n");
    CHECK(!braille_enabled);  // read as HangDump is: not a number reads as 0
    CHECK_EQ(hang_seconds, 8);
    CHECK(hang_dump_enabled);
    CHECK_EQ(backend, (int)kBackendAuto);

    load_with_ini("[Speech]\r\nBackend=jaws\r\nRate=11\r\nVolume=-1\r\n");
    CHECK_EQ(voice_rate, 10);
    CHECK_EQ(voice_volume, 0);
    CHECK_EQ(std::wstring(voice_name), std::wstring(L""));
    CHECK_EQ(hang_seconds, 20);
    CHECK(hang_dump_enabled && braille_enabled);
    CHECK_EQ(backend, (int)kBackendJaws);

    // A word counts as 0 and is held at the floor; an empty value is the default.
    load_with_ini("[Debug]\r\nHangSeconds=abc\r\nHangDump=\r\n[Speech]\r\nBraille=\r\nBackend=\r\n");
    CHECK_EQ(hang_seconds, 8);
    CHECK(hang_dump_enabled && braille_enabled);
    CHECK_EQ(backend, (int)kBackendAuto);

    // The command line wins over the ini file.
    load_with_ini("[Speech]\r\nBackend=sapi\r\nRate=4\r\nVolume=50\r\nVoice=Alto\r\n[Debug]\r\nHangDump=1\r\n");
    apply({L"--backend", L"other", L"--no-hang", L"--rate", L"-3", L"--volume", L"99999999999", L"--voice", L"bass"});
    CHECK_EQ(backend, (int)kBackendAuto);
    CHECK(!hang_dump_enabled);
    CHECK_EQ(voice_rate, -3);
    CHECK_EQ(voice_volume, 100);
    CHECK_EQ(std::wstring(voice_name), std::wstring(L"bass"));
    apply({L"--rate", L"fast", L"--volume", L"-7", L"--voice", std::wstring(300, L'v')});
    CHECK_EQ(voice_rate, 0);
    CHECK_EQ(voice_volume, 0);
    CHECK_EQ(wcslen(voice_name), (size_t)127);
}

TEST(the_shipped_defaults_file_holds_every_ini_key_at_its_compiled_in_default) {
    // The file as the build made it for the zip, in the build tree's package folder.
    std::wstring build = program_dir();
    build.resize(build.rfind(L'\\'));
    std::string shipped = unit_read_file(build + L"\\package\\TolvaneSpeech-defaults.ini");
    REQUIRE(!shipped.empty());
    const bridge_settings defaults;
    std::wstring want;
    for (const setting_key_row& row : kSettingKeys) {
        std::wstring value = row.flag      ? (defaults.*row.flag ? L"1" : L"0")
                             : row.text    ? defaults.*row.text
                             : row.word_of ? row.word_of(defaults.*row.number)
                                           : std::to_wstring(defaults.*row.number);
        want += std::wstring(row.section) + L"/" + row.key + L"=" + value + L" ";
    }
    CHECK_EQ(key_lines(shipped), want);
}

TEST(game_folder_is_three_above_the_exe_and_speech_txt_beside_it) {
    load_with_ini("");
    std::wstring dir = program_dir();
    CHECK_EQ(std::wstring(exe_dir), dir);
    std::wstring game = dir;
    for (int i = 0; i < 3; i++) game = game.substr(0, game.rfind(L'\\'));
    CHECK_EQ(std::wstring(game_dir), game);
    CHECK_EQ(std::wstring(speech_file_path), dir + L"\\speech.txt");
}

TEST(cut_at_last_backslash_drops_one_folder_and_leaves_a_bare_name) {
    wchar_t path[32] = L"C:\\a\\b\\c\\d\\e";
    cut_at_last_backslash(path);
    cut_at_last_backslash(path);
    CHECK_EQ(std::wstring(path), std::wstring(L"C:\\a\\b\\c"));
    wchar_t bare[8] = L"name";
    cut_at_last_backslash(bare);
    CHECK_EQ(std::wstring(bare), std::wstring(L"name"));
}
