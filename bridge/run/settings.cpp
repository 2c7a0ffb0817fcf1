#include "run/settings.h"
#include "run/text.h"
#include "speech/routes.h"
#include <wchar.h>
#include <stdlib.h>

const wchar_t default_game_exe_name[] = L"Tolvane-Win64-Shipping.exe";

constinit wchar_t exe_dir[kModulePathCap];
constinit wchar_t game_dir[kModulePathCap];
constinit int backend;
constinit bool braille_enabled;
constinit bool hang_dump_enabled;
constinit int hang_seconds;
constinit wchar_t speech_file_path[kPathCap];
constinit wchar_t log_path[kPathCap];
constinit wchar_t instance_name[kInstanceNameCap];
constinit wchar_t game_exe_name[kGameExeNameCap];
constinit DWORD requested_pid;
constinit int game_timeout;
constinit bool from_start;
constinit bool quiet;
constinit const wchar_t* say_text;
constinit bool say_queued;
constinit bool check_mode;

namespace {
// The launcher probes this very name, so a bridge started with --instance is invisible to it.
const wchar_t instance_base_name[] = L"Local\\TolvaneSpeech_SingleInstance";
// The ini's Backend word; a longer word is cut and then matches no backend (auto).
constexpr int kBackendWordCap = 32;
constexpr int kHangSecondsDefault = 20;
// A shorter hang time would take a game's loading pause for a hang.
constexpr int kHangSecondsMin = 8;
// Started by hand, the bridge waits this long for a game before it gives up.
constexpr int kGameTimeoutDefault = 600;

void set_defaults(void) {
    backend = kBackendAuto;
    braille_enabled = true;
    hang_dump_enabled = true;
    hang_seconds = kHangSecondsDefault;
    log_path[0] = 0;
    format_wide(instance_name, kInstanceNameCap, L"%ls", instance_base_name);
    format_wide(game_exe_name, kGameExeNameCap, L"%ls", default_game_exe_name);
    requested_pid = 0;
    game_timeout = kGameTimeoutDefault;
    from_start = false;
    quiet = false;
    say_text = NULL;
    say_queued = false;
    check_mode = false;
}
}  // namespace

void reset_settings(void) {
    set_defaults();
    speech_file_path[0] = 0;
}

void load_settings(void) {
    set_defaults();
    wchar_t module[kModulePathCap];
    DWORD n = GetModuleFileNameW(NULL, module, kModulePathCap);
    if (n == 0) module[0] = 0;
    module[kModulePathCap - 1] = 0;
    format_wide(exe_dir, kModulePathCap, L"%ls", module);
    cut_at_last_backslash(exe_dir);
    format_wide(game_dir, kModulePathCap, L"%ls", exe_dir);
    for (int i = 0; i < 3; i++) cut_at_last_backslash(game_dir);

    format_wide(speech_file_path, kPathCap, L"%ls\\speech.txt", exe_dir);
    wchar_t ini[kPathCap];
    format_wide(ini, kPathCap, L"%ls\\TolvaneSpeech.ini", exe_dir);

    wchar_t word[kBackendWordCap];
    GetPrivateProfileStringW(L"Speech", L"Backend", L"auto", word, kBackendWordCap, ini);
    backend = backend_of_word(word);
    braille_enabled = GetPrivateProfileIntW(L"Speech", L"Braille", 1, ini) != 0;
    hang_dump_enabled = GetPrivateProfileIntW(L"Debug", L"HangDump", 1, ini) != 0;
    // The value comes back unsigned; a negative number must count as below the floor too.
    int seconds = (int)GetPrivateProfileIntW(L"Debug", L"HangSeconds", kHangSecondsDefault, ini);
    hang_seconds = seconds < kHangSecondsMin ? kHangSecondsMin : seconds;
}

void parse_command_line(int argc, wchar_t** argv) {
    for (int i = 1; i < argc; i++) {
        const wchar_t* arg = argv[i];
        // An option's value is the next argument, whatever it looks like.
        const wchar_t* value = i + 1 < argc ? argv[i + 1] : NULL;
        bool takes_value = true;
        if (!wcscmp(arg, L"--pid")) {
            if (value) requested_pid = wcstoul(value, NULL, 10);
        } else if (!wcscmp(arg, L"--file")) {
            if (value) format_wide(speech_file_path, kPathCap, L"%ls", value);
        } else if (!wcscmp(arg, L"--log")) {
            if (value) format_wide(log_path, kPathCap, L"%ls", value);
        } else if (!wcscmp(arg, L"--instance")) {
            if (value) format_wide(instance_name, kInstanceNameCap, L"%ls_%ls", instance_base_name, value);
        } else if (!wcscmp(arg, L"--game-exe")) {
            if (value) format_wide(game_exe_name, kGameExeNameCap, L"%ls", value);
        } else if (!wcscmp(arg, L"--game-timeout")) {
            if (value) game_timeout = (int)wcstol(value, NULL, 10);
        } else if (!wcscmp(arg, L"--say")) {
            if (value) say_text = value;
        } else if (!wcscmp(arg, L"--backend")) {
            if (value) backend = backend_of_word(value);
        } else {
            takes_value = false;
            if (!wcscmp(arg, L"--from-start"))
                from_start = true;
            else if (!wcscmp(arg, L"--quiet"))
                quiet = true;
            else if (!wcscmp(arg, L"--no-hang"))
                hang_dump_enabled = false;
            else if (!wcscmp(arg, L"--queue"))
                say_queued = true;
            else if (!wcscmp(arg, L"--check"))
                check_mode = true;
        }
        if (takes_value && value) i++;
    }
}
