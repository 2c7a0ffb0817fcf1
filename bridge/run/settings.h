// Settings and folders of the run. Owns every value below; load_settings and parse_command_line
// write them on the main thread before a mode starts, and they are read-only afterwards.
// Called by bridge_main (entry.cpp); read by every module.
#pragma once
#include <windows.h>

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

extern const wchar_t default_game_exe_name[];  // L"Tolvane-Win64-Shipping.exe"

extern wchar_t exe_dir[kModulePathCap];  // folder of the executable, no trailing backslash
extern wchar_t game_dir[kModulePathCap];  // exe_dir less its last three components

extern int backend;  // kBackend* (speech/routes.h)
extern bool braille_enabled;  // texts a screen reader took go to its braille display too
extern bool hang_dump_enabled;
extern int hang_seconds;
extern wchar_t speech_file_path[kPathCap];
extern wchar_t log_path[kPathCap];  // empty: exe_dir\TolvaneSpeech.log
extern wchar_t instance_name[kInstanceNameCap];
extern wchar_t game_exe_name[kGameExeNameCap];
extern DWORD requested_pid;
extern int game_timeout;  // seconds; 0 or less waits for a game for ever
extern bool from_start;
extern bool quiet;
extern const wchar_t* say_text;  // NULL: no --say; points into the argument vector
extern bool say_queued;
extern bool check_mode;

// Every setting to its default, then folders, default paths and the ini file. Reads the
// executable's own path.
void load_settings(void);
// Applies the command line over the ini values; argv[0] is the program path and is skipped.
void parse_command_line(int argc, wchar_t** argv);
// Tests only: puts every setting back to its compiled-in default (reset_bridge_state; the run
// calls load_settings once).
void reset_settings(void);
