// One overlapped ReadDirectoryChangesW on the folder of speech.txt is pending while the watch
// works; its event joins the main loop's wait. Each report names the files that changed, so the
// bridge's own writes in that folder (the log, cmd.txt) wake the loop for one cheap pass but
// never make it poll. A report that lost changes (its buffer overflowed) or a read that fails
// counts as a change of speech.txt: the poll then decides.
//
// The watch must never stop the main thread. A read counts as pending only when the call
// accepted it: drives that refuse change reports mark the OVERLAPPED pending and fail, and
// nothing ever signals it. A pending read is cancelled and waited for at most kCancelWaitMs (a
// stuck network share may answer only at its session time-out); a read still running then may
// yet write into its OVERLAPPED and buffer, so its report slot is given up for the run and the
// next set-up takes another. With every slot given up the watch stays off and the poll carries
// on. A file system that completes each read at once with an empty report would make the loop
// spin: a run of such reports ends the watch until the next attempt.
//
// The watch is silent. Nothing is logged when it cannot be set up: the poll covers for it, and
// a line every 2 s would bury the log.
//
//   none --folder opened, read pending--> watching --a read fails, empty reports come in a run,
//   ^                                         |       or the folder by that name is another one
//   |                                         |       now (checked every 2 s)
//   +-----------------------------------------+
//   set up again at most every 2 s after the last attempt or failure
#include "intake/watch.h"
#include <stddef.h>
#include <wchar.h>
#include "run/clock.h"
#include "run/seams.h"
#include "run/state.h"
#include "run/text.h"

namespace {
// Sets the watch up again, or checks its folder, at most this often.
constexpr uint64_t kWatchRetryMs = 2000;
// Size, last write and name changes: what an append, a rewrite, a delete or a rename does.
constexpr DWORD kWatchedChanges =
    FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_SIZE | FILE_NOTIFY_CHANGE_LAST_WRITE;
// Reports of one wake; a burst that does not fit comes back as a lost report, and the poll
// reads the file anyway.
constexpr int kReportBytes = 2048;
// How long a cancelled read may take to end: long enough for a working file system, short
// against the main loop's 1 s stall limit.
constexpr DWORD kCancelWaitMs = 100;
// Reads given up on that the watch survives; each may hold its slot until its file system
// answers, if ever.
constexpr int kReportSlots = 4;
// This many empty reports in a row, within this long of the first, end the watch: a real lost
// report is rare, a file system that answers every read at once with nothing is not.
constexpr int kEmptyRunMax = 8;
constexpr uint64_t kEmptyRunMs = 1000;

// One read's memory: the system writes the OVERLAPPED and the buffer until the read has ended.
struct report_slot {
    OVERLAPPED overlapped;
    DWORD reports[kReportBytes / sizeof(DWORD)];  // DWORD-aligned, as the call wants
    HANDLE ready;                                 // manual-reset event of the slot's reads
    bool given_up;                                // a read may still end here: never used again
};

// ---- Watch state: main thread only.
struct watch_state {
    report_slot slots[kReportSlots] = {};
    report_slot* slot = NULL;  // the slot of the watch, NULL while none
    bool read_pending = false;  // a read on slot was accepted and has not been seen to end
    HANDLE folder = NULL;  // open while watching
    BY_HANDLE_FILE_INFORMATION folder_identity = {};
    wchar_t folder_path[kPathCap] = {};
    wchar_t file_name[kPathCap] = {};
    wchar_t short_name[kPathCap] = {};  // the file's 8.3 name, once it was seen to exist
    bool attempted = false;
    uint64_t attempted_at = 0;  // the last set-up, folder check or failure
    int empty_run = 0;
    uint64_t empty_run_since = 0;
};
constinit watch_state watch;

bool is_separator(wchar_t c) { return c == L'\\' || c == L'/'; }

// Units of a full path's root with its separator: "C:\" 3, "\\server\share\" (or "\\?\C:\")
// up to its second component's separator.
size_t root_units(const wchar_t* path) {
    if (!is_separator(path[0]) || !is_separator(path[1])) {
        if (path[0] && path[1] == L':') return is_separator(path[2]) ? 3 : 2;
        return is_separator(path[0]) ? 1 : 0;
    }
    size_t at = 2;
    for (int part = 0; part < 2 && path[at]; part++) {
        while (path[at] && !is_separator(path[at])) at++;
        if (path[at]) at++;
    }
    return at;
}

const wchar_t* last_component(const wchar_t* path) {
    const wchar_t* last = path;
    for (const wchar_t* at = path; *at; at++)
        if (is_separator(*at)) last = at + 1;
    return last;
}

bool same_file(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b) {
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
           a.nFileIndexLow == b.nFileIndexLow;
}

bool ask_for_report(void) {
    ResetEvent(watch.slot->ready);
    watch.slot->overlapped = OVERLAPPED();
    watch.slot->overlapped.hEvent = watch.slot->ready;
    // The call marks the OVERLAPPED pending before it can fail; only its answer says whether a
    // read is under way.
    watch.read_pending = seams.read_directory_changes(watch.folder, watch.slot->reports, sizeof watch.slot->reports,
                                                      kWatchedChanges, &watch.slot->overlapped) != 0;
    return watch.read_pending;
}

void end_watch(void) {
    if (watch.read_pending) {
        CancelIoEx(watch.folder, &watch.slot->overlapped);
        WaitForSingleObject(watch.slot->ready, kCancelWaitMs);
        if (!HasOverlappedIoCompleted(&watch.slot->overlapped)) watch.slot->given_up = true;
    }
    watch.read_pending = false;
    watch.slot = NULL;
    if (watch.folder) CloseHandle(watch.folder);
    watch.folder = NULL;
    watch.empty_run = 0;
}

// The watch failed: it is set up again no sooner than 2 s from now.
void fail_watch(uint64_t now) {
    end_watch();
    watch.attempted = true;
    watch.attempted_at = now;
}

// A report may name the file by its short name; a file that does not exist (yet) keeps the
// name seen last.
void note_short_name(void) {
    wchar_t path[kPathCap];
    const DWORD units = GetShortPathNameW(speech_file_path, path, kPathCap);
    if (units != 0 && units < (DWORD)kPathCap) format_wide(watch.short_name, kPathCap, L"%ls", last_component(path));
}

report_slot* free_slot(void) {
    for (report_slot& s : watch.slots)
        if (!s.given_up) return &s;
    return NULL;
}

void start_watch(void) {
    report_slot* next = free_slot();
    if (!next || !speech_watch_target(speech_file_path, watch.folder_path, watch.file_name)) return;
    note_short_name();
    HANDLE folder = CreateFileW(watch.folder_path, FILE_LIST_DIRECTORY,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, NULL);
    if (folder == INVALID_HANDLE_VALUE) return;
    watch.folder = folder;
    watch.slot = next;
    if (!watch.slot->ready) watch.slot->ready = CreateEventW(NULL, TRUE, FALSE, NULL);
    if (!watch.slot->ready || !GetFileInformationByHandle(watch.folder, &watch.folder_identity) || !ask_for_report())
        end_watch();
}

// The folder that speech_file_path names now is not the one watched: it was removed, renamed
// away or replaced.
bool folder_replaced(void) {
    HANDLE now = CreateFileW(watch.folder_path, FILE_READ_ATTRIBUTES,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS, NULL);
    if (now == INVALID_HANDLE_VALUE) return true;
    BY_HANDLE_FILE_INFORMATION info;
    const bool same = GetFileInformationByHandle(now, &info) && same_file(info, watch.folder_identity);
    CloseHandle(now);
    return !same;
}

// Names compare without regard to case, as the file system does.
bool is_named(const wchar_t* reported, size_t units, const wchar_t* name) {
    return name[0] && units == wcslen(name) && !_wcsnicmp(reported, name, units);
}

// A report names speech.txt, by its name or its short name. An entry that does not fit in what
// was read ends the search.
bool names_speech_file(DWORD bytes) {
    const char* base = reinterpret_cast<const char*>(watch.slot->reports);
    size_t at = 0;
    while (at + offsetof(FILE_NOTIFY_INFORMATION, FileName) <= bytes) {
        const FILE_NOTIFY_INFORMATION* report = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(base + at);
        if (report->FileNameLength > bytes - at - offsetof(FILE_NOTIFY_INFORMATION, FileName)) break;
        const size_t units = report->FileNameLength / sizeof(wchar_t);
        if (is_named(report->FileName, units, watch.file_name) || is_named(report->FileName, units, watch.short_name))
            return true;
        if (!report->NextEntryOffset) break;
        at += report->NextEntryOffset;
    }
    return false;
}
}  // namespace

bool speech_watch_target(const wchar_t* path, wchar_t folder_out[kPathCap], wchar_t name_out[kPathCap]) {
    wchar_t full[kPathCap];
    const DWORD units = GetFullPathNameW(path, kPathCap, full, NULL);
    if (units == 0 || units >= (DWORD)kPathCap) return false;
    const wchar_t* name = last_component(full);
    if (name == full) return false;
    format_wide(name_out, kPathCap, L"%ls", name);
    size_t cut = (size_t)(name - full);
    if (cut > root_units(full)) cut--;
    full[cut] = 0;
    format_wide(folder_out, kPathCap, L"%ls", full);
    return true;
}

HANDLE speech_watch_event(void) { return watch.read_pending ? watch.slot->ready : NULL; }

bool take_speech_watch(void) {
    if (!watch.read_pending) return false;
    const uint64_t now = tick_now();
    DWORD bytes = 0;
    if (!GetOverlappedResult(watch.folder, &watch.slot->overlapped, &bytes, FALSE)) {
        watch.read_pending = !HasOverlappedIoCompleted(&watch.slot->overlapped);
        fail_watch(now);
        return true;
    }
    watch.read_pending = false;
    // No bytes: more changes than the buffer held, and their names are lost.
    if (bytes == 0) {
        if (!watch.empty_run || ticks_since(now, watch.empty_run_since) >= kEmptyRunMs) {
            watch.empty_run = 0;
            watch.empty_run_since = now;
        }
        if (++watch.empty_run >= kEmptyRunMax) {
            fail_watch(now);
            return true;
        }
    } else {
        watch.empty_run = 0;
    }
    const bool speech_changed = bytes == 0 || names_speech_file(bytes);
    if (!ask_for_report()) {
        fail_watch(now);
        return true;
    }
    return speech_changed;
}

void keep_speech_watch(uint64_t now) {
    if (watch.attempted && ticks_since(now, watch.attempted_at) < kWatchRetryMs) return;
    watch.attempted = true;
    watch.attempted_at = now;
    if (watch.read_pending && !folder_replaced()) {
        note_short_name();
        return;
    }
    end_watch();
    start_watch();
}

void stop_speech_watch(void) {
    end_watch();
    // A given-up read holds its own reference to the event; the handle may go.
    for (report_slot& s : watch.slots) {
        if (s.ready) CloseHandle(s.ready);
        s.ready = NULL;
    }
    watch.attempted = false;
    watch.attempted_at = 0;
}

void reset_speech_watch(void) {
    stop_speech_watch();
    renew(watch);
}
