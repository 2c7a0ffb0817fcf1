// Start-up baseline for the benchmarks: a static GUI program that only enters and leaves COM,
// which is what the bridge does at the least before it can speak.
#include <windows.h>
#include <objbase.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
    if (SUCCEEDED(CoInitializeEx(NULL, COINIT_APARTMENTTHREADED))) CoUninitialize();
    return 0;
}
