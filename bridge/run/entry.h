// What the program does from its start to its exit code: settings, command line, COM, then
// exactly one mode. The exe's wWinMain is this alone; a benchmark host runs it too, with a seam
// set. Main thread.
#pragma once

int bridge_main(void);
