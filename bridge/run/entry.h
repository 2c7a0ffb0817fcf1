// What the program does from its start to its exit code: settings, command line, COM, then
// exactly one mode (the resident run inside the instance lock), and COM ended, whatever the
// mode's outcome. The exe's wWinMain is this alone; a benchmark host runs it too, with a seam
// set. Main thread.
#pragma once

int bridge_main(void);
