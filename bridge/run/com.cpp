#include "run/com.h"
#include <windows.h>
#include <objbase.h>

namespace {
// ---- COM state: main thread only, one flag that needs no reset.
constinit bool com_started = false;
}  // namespace

void start_com(void) {
    // The result is of no consequence to any mode: without COM, SAPI is simply unavailable, and
    // CoUninitialize balances a failed call as well.
    CoInitializeEx(NULL, COINIT_APARTMENTTHREADED);
    com_started = true;
}

void end_com(void) {
    if (!com_started) return;
    com_started = false;
    CoUninitialize();
}
