// A library of a voice engine's own: nothing in it but its name, which the stand-in voice loads.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
