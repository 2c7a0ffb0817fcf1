#include <windows.h>
extern "C" int tolvane_launch(void) { return 0; }
