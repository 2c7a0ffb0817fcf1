// cmd.txt, the bridge's one channel to the mod: emptied at start-up, then one "key NAME TICK\n"
// line appended per command. Owns cmd_file_path and menu_state_path. Main thread only; the run
// creates it, the hotkey poller and settings-menu mode write to it.
#pragma once
#include <stdint.h>
#include "run/settings.h"

extern wchar_t cmd_file_path[kPathCap];
extern wchar_t menu_state_path[kPathCap];

void create_command_file(void);
void write_command(const char* name, uint32_t tick);
