// The bridge as it runs on a drive that refuses change reports: the speech file watch's read is
// refused as such a drive refuses it, so speech waits for the 50 ms poll. The benchmark runs it
// beside the real bridge to show what the watch gains. Never shipped.
#include <windows.h>
#include "run/entry.h"
#include "run/seams.h"

namespace {
// Marks the read pending, then fails, as the system call does on such a drive.
BOOL refuse_change_reports(HANDLE, void*, DWORD, DWORD, OVERLAPPED* overlapped) {
    overlapped->Internal = (ULONG_PTR)STATUS_PENDING;
    SetLastError(ERROR_INVALID_FUNCTION);
    return FALSE;
}
}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    seams.read_directory_changes = refuse_change_reports;
    return bridge_main();
}
