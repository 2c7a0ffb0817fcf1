// Entry of TolvaneSpeech: the GUI subsystem's wide entry, whose arguments go unused (the command
// line is read whole).
#include <windows.h>
#include "run/entry.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return bridge_main(); }
