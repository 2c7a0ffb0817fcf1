// cmd.txt, the bridge's one channel to the mod: emptied at start-up, then one "key NAME TICK\n"
// line appended per command. Owns cmd_file_path and menu_state_path (the latter is read by
// settings-menu mode). Main thread only; the run creates the file, the hotkey poller and
// settings-menu mode write to it.
//
// The complete vocabulary: F1..F7 (hotkeys), Up, Down, Left, Right, Enter, Space, Escape,
// Backspace (swallowed menu keys), Armed, NoHook, MenuOff (settings-menu status).
#pragma once
#include <stdint.h>
#include "run/settings.h"

extern wchar_t cmd_file_path[kPathCap];
extern wchar_t menu_state_path[kPathCap];

// Composes both paths from exe_dir and creates cmd.txt empty (cutting any old one).
void create_command_file(void);
// Appends "key NAME TICK\n"; the file is opened for this one line and closed again. Failures are
// logged and the line is dropped.
void write_command(const char* name, uint32_t tick);
