// One overlapped ReadDirectoryChangesW on the folder of speech.txt is always pending while the
// watch works; its event joins the main loop's wait. Each report names the files that changed,
// so the bridge's own writes in that folder (the log, cmd.txt) wake the loop for one cheap pass
// but never make it poll. A report that lost changes (its buffer overflowed) or a read that
// fails counts as a change of speech.txt: the poll then decides.
//
// The watch is silent. Nothing is logged when it cannot be set up: the poll covers for it, and
// a line every 2 s would bury the log.
//
//   none --folder opened, read pending--> watching --read fails, or the folder by that name is
//   ^                                         |       another one now (checked every 2 s)
//   +-----------------------------------------+
//   set up again at most every 2 s after the last attempt
//
// Built with TOLVANE_POLL_ONLY (a benchmark build, never shipped) the watch is never set up.
#include "intake/watch.h"
#include <wchar.h>
#include "run/clock.h"
#include "run/settings.h"
#include "run/text.h"

namespace {
#ifdef TOLVANE_POLL_ONLY
constexpr bool kWatchBuilt = false;
#else
constexpr bool kWatchBuilt = true;
#endif
// Sets the watch up again, or checks its folder, at most this often.
constexpr uint64_t kWatchRetryMs = 2000;
// Size, last write and name changes: what an append, a rewrite, a delete or a rename does.
constexpr DWORD kWatchedChanges = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_SIZE | FILE_NOTIFY_CHANGE_LAST_WRITE;
// Reports of one wake; a burst that does not fit comes back as a lost report, and the poll
// reads the file anyway.
constexpr int kReportBytes = 2048;

// ---- Watch state: main thread only.
HANDLE folder = INVALID_HANDLE_VALUE;  // open while watching
HANDLE report_ready = NULL;            // the event of the pending read
OVERLAPPED pending = {};
DWORD reports[kReportBytes / sizeof(DWORD)];  // DWORD-aligned, as the call wants
BY_HANDLE_FILE_INFORMATION folder_identity = {};
wchar_t folder_path[kPathCap];  // speech_file_path less its last component, "." for a bare name
const wchar_t* file_name = L"";  // the last component, inside speech_file_path
bool attempted = false;
uint64_t attempted_at = 0;  // the last set-up or folder check

bool same_file(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b) {
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
           a.nFileIndexLow == b.nFileIndexLow;
}

bool ask_for_report(void) {
    ResetEvent(report_ready);
    pending = OVERLAPPED();
    pending.hEvent = report_ready;
    return ReadDirectoryChangesW(folder, reports, sizeof reports, FALSE, kWatchedChanges, NULL, &pending, NULL) != 0;
}

void end_watch(void) {
    if (folder != INVALID_HANDLE_VALUE) {
        // The pending read must be over before its buffer can serve another.
        CancelIo(folder);
        DWORD ignored = 0;
        GetOverlappedResult(folder, &pending, &ignored, TRUE);
        CloseHandle(folder);
    }
    folder = INVALID_HANDLE_VALUE;
    if (report_ready) CloseHandle(report_ready);
    report_ready = NULL;
}

void start_watch(void) {
    const wchar_t* last = wcsrchr(speech_file_path, L'\\');
    file_name = last ? last + 1 : speech_file_path;
    format_wide(folder_path, kPathCap, L"%ls", last ? speech_file_path : L".");
    if (last) cut_at_last_backslash(folder_path);
    folder = CreateFileW(folder_path, FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, NULL);
    if (folder == INVALID_HANDLE_VALUE) return;
    report_ready = CreateEventW(NULL, TRUE, FALSE, NULL);
    if (!report_ready || !GetFileInformationByHandle(folder, &folder_identity) || !ask_for_report()) end_watch();
}

// The folder that speech_file_path names now is not the one watched: it was removed, renamed
// away or replaced.
bool folder_replaced(void) {
    HANDLE now = CreateFileW(folder_path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             NULL, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
    if (now == INVALID_HANDLE_VALUE) return true;
    BY_HANDLE_FILE_INFORMATION info;
    const bool same = GetFileInformationByHandle(now, &info) && same_file(info, folder_identity);
    CloseHandle(now);
    return !same;
}

// A report names speech.txt. Names compare without regard to case, as the file system does.
bool names_speech_file(DWORD bytes) {
    const size_t name_units = wcslen(file_name);
    const char* at = reinterpret_cast<const char*>(reports);
    const char* end = at + bytes;
    while (at + sizeof(FILE_NOTIFY_INFORMATION) <= end) {
        const FILE_NOTIFY_INFORMATION* report = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(at);
        const size_t units = report->FileNameLength / sizeof(wchar_t);
        if (units == name_units && !_wcsnicmp(report->FileName, file_name, units)) return true;
        if (!report->NextEntryOffset) break;
        at += report->NextEntryOffset;
    }
    return false;
}
}  // namespace

HANDLE speech_watch_event(void) { return folder != INVALID_HANDLE_VALUE ? report_ready : NULL; }

bool take_speech_watch(void) {
    if (folder == INVALID_HANDLE_VALUE) return false;
    DWORD bytes = 0;
    if (!GetOverlappedResult(folder, &pending, &bytes, FALSE)) {
        end_watch();
        return true;
    }
    // No bytes: more changes than the buffer held, and their names are lost.
    const bool speech_changed = bytes == 0 || names_speech_file(bytes);
    if (!ask_for_report()) {
        end_watch();
        return true;
    }
    return speech_changed;
}

void keep_speech_watch(uint64_t now) {
    if (!kWatchBuilt || (attempted && ticks_since(now, attempted_at) < kWatchRetryMs)) return;
    attempted = true;
    attempted_at = now;
    if (folder != INVALID_HANDLE_VALUE && !folder_replaced()) return;
    end_watch();
    start_watch();
}

void stop_speech_watch(void) {
    end_watch();
    attempted = false;
    attempted_at = 0;
}
