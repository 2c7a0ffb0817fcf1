#include "run/settings.h"
#include <wchar.h>
#include <stdlib.h>
#include "run/state.h"
#include "run/text.h"
#include "speech/routes.h"

namespace {
// The ini's words; a longer word is cut and then matches no word of its table.
constexpr int kSettingWordCap = 32;

// The compiled-in defaults, which the ini's keys fall back to and --instance composes from.
constexpr bridge_settings kDefaults{};
constinit bridge_settings settings;

// A row reads one field, a flag, a number or a text, and a word row has both ways between words
// and numbers; an option sets a word, a number or a text (a flag's options are its own).
constexpr bool rows_read_one_way(void) {
    for (const setting_key_row& row : kSettingKeys) {
        if ((row.flag != nullptr) + (row.number != nullptr) + (row.text != nullptr) != 1) return false;
        if (!row.of_word != !row.word_of || (row.of_word && !row.number) || row.floor > row.ceiling) return false;
        if (row.option && row.flag) return false;
    }
    return true;
}
static_assert(rows_read_one_way(), "a setting row reads one field in one way");

int held(const setting_key_row& row, long value) {
    return value < row.floor ? row.floor : value > row.ceiling ? row.ceiling : (int)value;
}

void read_key(const setting_key_row& row, const wchar_t* ini) {
    if (row.flag) {
        settings.*row.flag = GetPrivateProfileIntW(row.section, row.key, kDefaults.*row.flag ? 1 : 0, ini) != 0;
    } else if (row.of_word) {
        wchar_t word[kSettingWordCap];
        GetPrivateProfileStringW(row.section, row.key, row.word_of(kDefaults.*row.number), word, kSettingWordCap, ini);
        settings.*row.number = row.of_word(word);
    } else if (row.text) {
        GetPrivateProfileStringW(row.section, row.key, kDefaults.*row.text, settings.*row.text, kSettingTextCap, ini);
    } else {
        // The value comes back unsigned; a negative number must count as below the floor too.
        settings.*row.number = held(row, (int)GetPrivateProfileIntW(row.section, row.key, kDefaults.*row.number, ini));
    }
}

// Sets the field of the row whose option arg is, from value; false when arg is no row's option.
bool read_option(const wchar_t* arg, const wchar_t* value) {
    for (const setting_key_row& row : kSettingKeys) {
        if (!row.option || wcscmp(arg, row.option)) continue;
        if (!value) return true;
        if (row.of_word)
            settings.*row.number = row.of_word(value);
        else if (row.text)
            format_wide(settings.*row.text, kSettingTextCap, L"%ls", value);
        else
            settings.*row.number = held(row, wcstol(value, NULL, 10));
        return true;
    }
    return false;
}

void note_unknown_option(const wchar_t* arg) {
    if (settings.unknown_option_count < kUnknownOptionsCap) settings.unknown_options[settings.unknown_option_count] = arg;
    settings.unknown_option_count++;
}
}  // namespace

const wchar_t (&default_game_exe_name)[kGameExeNameCap] = kDefaults.game_exe_name;
const wchar_t (&exe_dir)[kModulePathCap] = settings.exe_dir;
const wchar_t (&game_dir)[kModulePathCap] = settings.game_dir;
const int& backend = settings.backend;
const bool& braille_enabled = settings.braille_enabled;
const int& voice_rate = settings.voice_rate;
const int& voice_volume = settings.voice_volume;
const wchar_t (&voice_name)[kSettingTextCap] = settings.voice_name;
const bool& hang_dump_enabled = settings.hang_dump_enabled;
const int& hang_seconds = settings.hang_seconds;
const wchar_t (&speech_file_path)[kPathCap] = settings.speech_file_path;
const wchar_t (&log_path)[kPathCap] = settings.log_path;
const wchar_t (&instance_name)[kInstanceNameCap] = settings.instance_name;
const wchar_t (&game_exe_name)[kGameExeNameCap] = settings.game_exe_name;
const DWORD& requested_pid = settings.requested_pid;
const int& game_timeout = settings.game_timeout;
const bool& from_start = settings.from_start;
const bool& quiet = settings.quiet;
const wchar_t* const& say_text = settings.say_text;
const bool& say_queued = settings.say_queued;
const bool& check_mode = settings.check_mode;
const wchar_t* const (&unknown_options)[kUnknownOptionsCap] = settings.unknown_options;
const int& unknown_option_count = settings.unknown_option_count;

void reset_settings(void) { renew(settings); }

bridge_settings& settings_for_tests(void) { return settings; }

void load_settings(void) {
    renew(settings);
    wchar_t module[kModulePathCap];
    DWORD n = GetModuleFileNameW(NULL, module, kModulePathCap);
    if (n == 0) module[0] = 0;
    module[kModulePathCap - 1] = 0;
    format_wide(settings.exe_dir, kModulePathCap, L"%ls", module);
    cut_at_last_backslash(settings.exe_dir);
    format_wide(settings.game_dir, kModulePathCap, L"%ls", settings.exe_dir);
    for (int i = 0; i < 3; i++) cut_at_last_backslash(settings.game_dir);

    format_wide(settings.speech_file_path, kPathCap, L"%ls\\speech.txt", settings.exe_dir);
    wchar_t ini[kPathCap];
    format_wide(ini, kPathCap, L"%ls\\TolvaneSpeech.ini", settings.exe_dir);
    for (const setting_key_row& row : kSettingKeys) read_key(row, ini);
}

void parse_command_line(int argc, wchar_t** argv) {
    for (int i = 1; i < argc; i++) {
        const wchar_t* arg = argv[i];
        // An option's value is the next argument, whatever it looks like.
        const wchar_t* value = i + 1 < argc ? argv[i + 1] : NULL;
        bool takes_value = true;
        if (read_option(arg, value)) {
            // a key of the ini's table, read as the ini reads it
        } else if (!wcscmp(arg, L"--pid")) {
            if (value) settings.requested_pid = wcstoul(value, NULL, 10);
        } else if (!wcscmp(arg, L"--file")) {
            if (value) format_wide(settings.speech_file_path, kPathCap, L"%ls", value);
        } else if (!wcscmp(arg, L"--log")) {
            if (value) format_wide(settings.log_path, kPathCap, L"%ls", value);
        } else if (!wcscmp(arg, L"--instance")) {
            if (value)
                format_wide(settings.instance_name, kInstanceNameCap, L"%ls_%ls", kDefaults.instance_name, value);
        } else if (!wcscmp(arg, L"--game-exe")) {
            if (value) format_wide(settings.game_exe_name, kGameExeNameCap, L"%ls", value);
        } else if (!wcscmp(arg, L"--game-timeout")) {
            if (value) settings.game_timeout = (int)wcstol(value, NULL, 10);
        } else if (!wcscmp(arg, L"--say")) {
            if (value) settings.say_text = value;
        } else {
            takes_value = false;
            if (!wcscmp(arg, L"--from-start"))
                settings.from_start = true;
            else if (!wcscmp(arg, L"--quiet"))
                settings.quiet = true;
            else if (!wcscmp(arg, L"--no-hang"))
                settings.hang_dump_enabled = false;
            else if (!wcscmp(arg, L"--queue"))
                settings.say_queued = true;
            else if (!wcscmp(arg, L"--check"))
                settings.check_mode = true;
            else
                note_unknown_option(arg);
        }
        if (takes_value && value) i++;
    }
}
