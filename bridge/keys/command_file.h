// cmd.txt, the bridge's one channel to the mod: emptied at start-up, then one "key NAME TICK\n"
// line appended per command. Owns the file's path. Main thread only; the run creates the file,
// the hotkey poller and settings-menu mode write to it.
//
// The names: F1 to F7 (the hotkey table, hotkeys.cpp), the eight menu keys (menu_keys.h), and
// Armed, NoHook and MenuOff (settings-menu mode).
#pragma once
#include <stdint.h>

// Composes the path from exe_dir and creates cmd.txt empty (cutting any old one); a failure is
// logged and every later line tries again.
void create_command_file(void);
// Appends "key NAME TICK\n"; the file is opened for this one line and closed again. A file that
// cannot be opened is logged and the line dropped; the write itself is not checked.
void write_command(const char* name, uint32_t tick);

// Tests only: back to the start state (reset_bridge_state).
void reset_command_file(void);
