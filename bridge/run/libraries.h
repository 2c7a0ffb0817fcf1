// Where the bridge takes its libraries from. bridge_main calls restrict_library_search before
// anything else, so that no library, and no dependency of one, is ever taken from the current
// folder: a game folder is writable by anyone who installs a mod, and a DLL planted there must
// not run inside a program that sees every keystroke. The search of the process is otherwise
// left as Windows has it, PATH included: a SAPI voice engine runs inside the bridge and loads its
// own libraries by bare name, often from its install folder on PATH. The bridge's own loads
// (dbghelp, the NVDA client) name the full path and narrow the search of their dependencies
// themselves. Owns whether the system offers that narrowed search (Windows 8 on, and Windows 7
// with its loader update). Main thread.
#pragma once
#include <windows.h>

void restrict_library_search(void);
// A system library by its full path (dbghelp): it and its dependencies from the system folder only.
HMODULE load_system_library(const wchar_t* path);
// A library shipped beside the bridge, by its full path (the NVDA client): its dependencies may
// come from its own folder or the system folder.
HMODULE load_library_beside(const wchar_t* path);
