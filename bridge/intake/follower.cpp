// The follower keeps no handle between polls. Each poll opens speech.txt afresh, decides from its
// identity, size and first bytes whether it is still the file it followed, reads what is new up to
// the size it measured, and closes it. The mod may therefore append, truncate, delete or replace
// the file at any moment; a race costs at most a poll's delay. When the file turns out to be
// another one, the follower starts again at its first byte and drops any partial line, so no
// line is ever made of bytes from two files.
//
// A failed information query, seek or read is not logged: the poll just ends, what was handed
// over stays consumed, and the next poll 50 ms later tries again. A line per failed poll would
// bury the log; the lines here are the file's first sight and each reset.
//
// Each line handed over may cost the screen reader's round trips, so a poll given a budget stops
// once it is spent, right after a line: read_offset then points just past that line's bytes, and
// the rest of the chunk is read again by the next poll. A chunk that completes no line is
// consumed whole, its bytes kept as the partial line, as between any two polls.
#include "intake/follower.h"
#include <windows.h>
#include <string.h>
#include "intake/protocol.h"
#include "run/clock.h"
#include "run/log.h"
#include "run/seams.h"
#include "run/settings.h"
#include "run/state.h"

namespace {
struct file_id {
    DWORD volume;
    DWORD index_high;
    DWORD index_low;
};

// ---- Follower state: main thread only, alive for the run.
struct follower_state {
    bool read_from_start = false;  // --from-start, only used at first sight
    bool first_poll_done = false;
    bool identity_known = false;  // identity describes a file seen open; cleared when it cannot be opened
    file_id identity = {0, 0, 0};
    int64_t read_offset = 0;  // bytes consumed; reading resumes here
    unsigned char fingerprint[kFingerprintMax] = {};
    uint32_t fingerprint_length = 0;  // 0: none
    // The spare byte lets the protocol terminate a full-length line in place.
    char line_buffer[kLineMax + 1] = {};
    uint64_t line_length = 0;  // kept between polls, so a line may end in a later poll
    char chunk[kChunkSize] = {};
};
constinit follower_state follower;

// A partial line never survives a reset.
void reset_follower(const char* reason) {
    log_line("speech file reset (%s); reading from start", reason);
    follower.read_offset = 0;
    follower.fingerprint_length = 0;
    follower.line_length = 0;
}

void remember_identity(const BY_HANDLE_FILE_INFORMATION& info) {
    follower.identity_known = true;
    follower.identity.volume = info.dwVolumeSerialNumber;
    follower.identity.index_high = info.nFileIndexHigh;
    follower.identity.index_low = info.nFileIndexLow;
}

// A file system that reports no file index cannot tell files apart; truncation and the
// fingerprint still can.
bool is_other_file(const BY_HANDLE_FILE_INFORMATION& info) {
    if (info.nFileIndexHigh == 0 && info.nFileIndexLow == 0) return false;
    const file_id& known = follower.identity;
    return info.dwVolumeSerialNumber != known.volume || info.nFileIndexHigh != known.index_high ||
           info.nFileIndexLow != known.index_low;
}

DWORD head_size(int64_t size) { return size < kFingerprintMax ? (DWORD)size : (DWORD)kFingerprintMax; }

// The mod may rewrite the file from its start with as many bytes as were read: its first bytes
// tell. A rewrite that keeps them goes unnoticed.
void check_fingerprint(HANDLE file, int64_t size) {
    LARGE_INTEGER start;
    start.QuadPart = 0;
    if (!SetFilePointerEx(file, start, NULL, FILE_BEGIN)) return;
    unsigned char head[kFingerprintMax];
    DWORD got = 0;
    if (!ReadFile(file, head, head_size(size), &got, NULL)) return;
    DWORD common = got < follower.fingerprint_length ? got : follower.fingerprint_length;
    if (common != 0 && memcmp(head, follower.fingerprint, common) != 0) reset_follower("content replaced");
    if (got > follower.fingerprint_length || follower.read_offset == 0) {
        memcpy(follower.fingerprint, head, got);
        follower.fingerprint_length = got;
    }
}

void hand_over_line(void) {
    seams.speech_line(follower.line_buffer, (size_t)follower.line_length);
    follower.line_length = 0;
}

bool past(uint64_t deadline) { return deadline != kReadToEnd && tick_now() >= deadline; }

// Cuts bytes into lines at line feeds; a line that reaches kLineMax is handed over as a piece
// when its next byte arrives, so a line of exactly kLineMax bytes still arrives whole. Returns
// how many bytes it consumed: fewer than count when the deadline passed after a line.
size_t assemble_lines(const char* bytes, size_t count, uint64_t deadline) {
    const char* p = bytes;
    const char* end = bytes + count;
    while (p < end) {
        const char* feed = (const char*)memchr(p, '\n', (size_t)(end - p));
        const char* stop = feed ? feed : end;
        while (p < stop) {
            if (follower.line_length == (uint64_t)kLineMax) {
                hand_over_line();
                if (past(deadline)) return (size_t)(p - bytes);
            }
            size_t room = (size_t)kLineMax - (size_t)follower.line_length;
            size_t n = (size_t)(stop - p) < room ? (size_t)(stop - p) : room;
            memcpy(follower.line_buffer + follower.line_length, p, n);
            follower.line_length += n;
            p += n;
        }
        if (feed) {
            hand_over_line();
            p = feed + 1;
            if (past(deadline)) break;
        }
    }
    return (size_t)(p - bytes);
}

// Reads from read_offset up to size, never beyond: bytes appended meanwhile wait for the next
// poll. A failed read ends the poll; what was handed over stays consumed. True when the deadline
// ended it before size.
bool read_new_bytes(HANDLE file, int64_t size, uint64_t deadline) {
    LARGE_INTEGER at;
    at.QuadPart = follower.read_offset;
    if (!SetFilePointerEx(file, at, NULL, FILE_BEGIN)) return false;
    while (follower.read_offset < size) {
        int64_t remaining = size - follower.read_offset;
        DWORD want = remaining < kChunkSize ? (DWORD)remaining : (DWORD)kChunkSize;
        DWORD got = 0;
        if (!ReadFile(file, follower.chunk, want, &got, NULL) || got == 0) return false;
        follower.read_offset += (int64_t)assemble_lines(follower.chunk, got, deadline);
        if (follower.read_offset < size && past(deadline)) return true;
    }
    return false;
}

// The file was there at the very first poll: --from-start decides whether its lines are old news.
void first_sight(HANDLE file, int64_t size) {
    follower.first_poll_done = true;
    follower.read_offset = follower.read_from_start ? 0 : size;
    if (follower.read_from_start)
        log_line("speech file found (%lld bytes); reading from start (--from-start)", (long long)size);
    else
        log_line("speech file found (%lld bytes); skipping existing content", (long long)size);
    DWORD want = head_size(size);
    DWORD got = 0;
    if (want != 0 && ReadFile(file, follower.fingerprint, want, &got, NULL)) follower.fingerprint_length = got;
}
}  // namespace

void start_speech_follower(bool from_start_flag) {
    renew(follower);
    follower.read_from_start = from_start_flag;
}

bool poll_speech_file(uint64_t budget_ms) {
    const uint64_t deadline = budget_ms == kReadToEnd ? kReadToEnd : tick_now() + budget_ms;
    HANDLE file = CreateFileW(speech_file_path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        // Someone holds the file open without letting readers in: it is still there, and
        // taking it for removed would read it all again once they let go.
        if (error == ERROR_SHARING_VIOLATION) return false;
        if (!follower.first_poll_done) {
            follower.first_poll_done = true;
            log_line("speech file not present yet; will read it from the start when it appears");
        }
        if (follower.identity_known) {
            follower.identity_known = false;
            reset_follower("file removed");
        }
        return false;
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file, &info)) {  // not logged: see above
        CloseHandle(file);
        return false;
    }
    const int64_t size = (int64_t)(((uint64_t)info.nFileSizeHigh << 32) | info.nFileSizeLow);
    if (!follower.first_poll_done) {
        first_sight(file, size);
        remember_identity(info);
    }
    if (!follower.identity_known)
        reset_follower("file (re)created");
    else if (is_other_file(info))
        reset_follower("different file");
    else if (size < follower.read_offset)
        reset_follower("truncated");
    remember_identity(info);
    if (size > 0)
        check_fingerprint(file, size);
    else
        follower.fingerprint_length = 0;
    const bool more = size > follower.read_offset && read_new_bytes(file, size, deadline);
    CloseHandle(file);
    return more;
}

int64_t follower_read_offset(void) { return follower.read_offset; }

