#include "run/instance_lock.h"
#include <windows.h>
#include "run/settings.h"

namespace {
// A second bridge waits this long for the first to end (a game restart) before it gives up.
constexpr DWORD kLockWaitMs = 4000;

// ---- Lock state: main thread only; held while set.
constinit HANDLE held_mutex = NULL;
}  // namespace

int acquire_instance_lock(void) {
    HANDLE held = CreateMutexW(NULL, FALSE, instance_name);
    if (!held) return 2;
    const DWORD wait = GetLastError() == ERROR_ALREADY_EXISTS ? kLockWaitMs : 0;
    // A bridge that died holding the mutex leaves it abandoned, which is as good as free. A lock
    // not acquired leaves its handle to the end of the process.
    const DWORD result = WaitForSingleObject(held, wait);
    if (result != WAIT_OBJECT_0 && result != WAIT_ABANDONED) return 1;
    held_mutex = held;
    return 0;
}

void release_instance_lock(void) {
    if (!held_mutex) return;
    ReleaseMutex(held_mutex);
    CloseHandle(held_mutex);
    held_mutex = NULL;
}
