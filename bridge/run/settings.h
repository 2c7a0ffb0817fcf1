// Settings and folders of the run. Owns every value below; load_settings and parse_command_line
// write them on the main thread before a mode starts, and they are read-only afterwards.
// Called by bridge_main (entry.cpp); read by every module.
#pragma once
#include <windows.h>
#include <limits.h>
#include "speech/routes.h"

// Paths are composed in buffers of this many UTF-16 units, so they are at most 519 long; a
// longer composition is cut there.
constexpr int kPathCap = 520;
// The module path that exe_dir comes from, read into the classic MAX_PATH; a longer one is cut.
constexpr int kModulePathCap = 260;
// The mutex name: the 34 units of the base name, "_" and an --instance value, at most 95 units
// in all; a longer value is cut, so two long values that differ only past that name one mutex.
constexpr int kInstanceNameCap = 96;
// A file name alone never needs more than MAX_PATH; a longer --game-exe value is cut.
constexpr int kGameExeNameCap = 260;
// A text setting (a part of a voice's name) is at most 127 units; a longer value is cut.
constexpr int kSettingTextCap = 128;
// Unknown arguments named in the log; any past these are counted only.
constexpr int kUnknownOptionsCap = 8;

// ---- The settings: main thread; load_settings and parse_command_line write them before a mode
// starts, and nothing writes them afterwards. Each default is the one the ini file documents.
struct bridge_settings {
    wchar_t exe_dir[kModulePathCap] = {};   // folder of the executable, no trailing backslash
    wchar_t game_dir[kModulePathCap] = {};  // exe_dir less its last three components
    int backend = kBackendAuto;             // kBackend*
    bool braille_enabled = true;            // texts a screen reader took go to its braille display too
    // The Windows voice only; NVDA and JAWS keep their own. 0 and 100 are what a new voice has.
    int voice_rate = 0;                          // -10 to 10
    int voice_volume = 100;                      // 0 to 100
    wchar_t voice_name[kSettingTextCap] = {};    // a part of a voice's name; empty: Windows' default voice
    bool hang_dump_enabled = true;
    int hang_seconds = 20;
    wchar_t speech_file_path[kPathCap] = {};  // load_settings: exe_dir\speech.txt
    wchar_t log_path[kPathCap] = {};          // empty: exe_dir\TolvaneSpeech.log
    // The launcher probes this very name, so a bridge started with --instance is invisible to it.
    wchar_t instance_name[kInstanceNameCap] = L"Local\\TolvaneSpeech_SingleInstance";
    wchar_t game_exe_name[kGameExeNameCap] = L"Tolvane-Win64-Shipping.exe";
    DWORD requested_pid = 0;
    int game_timeout = 600;  // seconds; 0 or less waits for a game for ever
    bool from_start = false;
    bool quiet = false;
    const wchar_t* say_text = NULL;  // NULL: no --say; points into the argument vector
    bool say_queued = false;
    bool check_mode = false;
    // Arguments that are neither an option nor an option's value: typos, or a newer launcher's
    // options. They point into the argument vector.
    const wchar_t* unknown_options[kUnknownOptionsCap] = {};
    int unknown_option_count = 0;  // all of them, also past the cap
};

// What the rest of the bridge reads; only this module writes them.
extern const wchar_t (&default_game_exe_name)[kGameExeNameCap];  // the compiled-in game_exe_name
extern const wchar_t (&exe_dir)[kModulePathCap];
extern const wchar_t (&game_dir)[kModulePathCap];
extern const int& backend;
extern const bool& braille_enabled;
extern const int& voice_rate;
extern const int& voice_volume;
extern const wchar_t (&voice_name)[kSettingTextCap];
extern const bool& hang_dump_enabled;
extern const int& hang_seconds;
extern const wchar_t (&speech_file_path)[kPathCap];
extern const wchar_t (&log_path)[kPathCap];
extern const wchar_t (&instance_name)[kInstanceNameCap];
extern const wchar_t (&game_exe_name)[kGameExeNameCap];
extern const DWORD& requested_pid;
extern const int& game_timeout;
extern const bool& from_start;
extern const bool& quiet;
extern const wchar_t* const& say_text;
extern const bool& say_queued;
extern const bool& check_mode;
extern const wchar_t* const (&unknown_options)[kUnknownOptionsCap];
extern const int& unknown_option_count;

// ---- The ini file's keys, one row each: load_settings reads them in this order, and the unit
// tests check the shipped defaults file against them. A missing key reads as the field's default.
// A row reads its field in one of four ways:
// - a word (number, of_word and word_of): the number that of_word gives the word;
// - 0/1 (flag): any number but 0 is on; a word reads as 0, off;
// - a number (number alone): decimal as GetPrivateProfileIntW reads it (a word is 0), then held
//   within floor and ceiling;
// - a text (text): as it stands, cut to kSettingTextCap - 1 units.
// A row with an option is set by that option's next argument too, read the same way (a number
// as wcstol reads it), after the ini.
struct setting_key_row {
    const wchar_t* section;
    const wchar_t* key;
    bool bridge_settings::*flag = nullptr;
    int bridge_settings::*number = nullptr;
    wchar_t (bridge_settings::*text)[kSettingTextCap] = nullptr;
    int (*of_word)(const wchar_t* word) = nullptr;   // any word its table lacks gives one number
    const wchar_t* (*word_of)(int number) = nullptr;  // the word that stands for the default
    int floor = INT_MIN;    // a smaller number, a negative one too, reads as the floor
    int ceiling = INT_MAX;  // a larger one reads as the ceiling
    const wchar_t* option = nullptr;  // the command-line option that wins over the key
};

// A shorter hang time would take a game's loading pause for a hang.
constexpr int kHangSecondsMin = 8;

inline constexpr setting_key_row kSettingKeys[] = {
    {.section = L"Speech", .key = L"Backend", .number = &bridge_settings::backend, .of_word = backend_of_word,
     .word_of = backend_word, .option = L"--backend"},
    {.section = L"Speech", .key = L"Braille", .flag = &bridge_settings::braille_enabled},
    {.section = L"Speech", .key = L"Rate", .number = &bridge_settings::voice_rate, .floor = -10, .ceiling = 10,
     .option = L"--rate"},
    {.section = L"Speech", .key = L"Volume", .number = &bridge_settings::voice_volume, .floor = 0, .ceiling = 100,
     .option = L"--volume"},
    {.section = L"Speech", .key = L"Voice", .text = &bridge_settings::voice_name, .option = L"--voice"},
    {.section = L"Debug", .key = L"HangDump", .flag = &bridge_settings::hang_dump_enabled},
    {.section = L"Debug", .key = L"HangSeconds", .number = &bridge_settings::hang_seconds, .floor = kHangSecondsMin},
};

// Every setting to its default, then folders, default paths and the ini file. Reads the
// executable's own path.
void load_settings(void);
// Applies the command line over the ini values; argv[0] is the program path and is skipped. An
// argument that is no option nor an option's value is kept in unknown_options.
void parse_command_line(int argc, wchar_t** argv);
// Tests only: puts every setting back to its compiled-in default (reset_bridge_state; the run
// calls load_settings once).
void reset_settings(void);
// Tests only: the settings, to set what a case needs.
bridge_settings& settings_for_tests(void);
