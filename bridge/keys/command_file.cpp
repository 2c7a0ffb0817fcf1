#include "keys/command_file.h"
wchar_t cmd_file_path[kPathCap];
wchar_t menu_state_path[kPathCap];
void create_command_file(void) {}
void write_command(const char*, uint32_t) {}
