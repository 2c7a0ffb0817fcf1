#include "run/com.h"
#include <windows.h>
#include <objbase.h>

namespace {
// ---- COM state: main thread only.
struct com_state {
    bool started = false;
};
com_state com;
}  // namespace

void start_com(void) {
    // The result is of no consequence to any mode: without COM, SAPI is simply unavailable, and
    // CoUninitialize balances a failed call as well.
    CoInitializeEx(NULL, COINIT_APARTMENTTHREADED);
    com.started = true;
}

void end_com(void) {
    if (!com.started) return;
    com.started = false;
    CoUninitialize();
}
