// Randomized check of the follower against a reference model. Each sequence does random writer
// operations on a real speech.txt between polls (appends of whole and partial lines, long lines,
// CR LF, byte order marks, NUL and non-ASCII bytes, truncations, rewrites that keep or change the
// first bytes, deletions, re-creations, another file moved over it, a folder in its place, a lock
// against readers during a poll). Before each poll the test looks at the file exactly as the
// follower will (same open, same identity query) and lets the model, which works on whole-file
// strings, say which lines that poll must hand over and which log lines it must write. Half the
// polls have a budget of a few lines (each line handed over takes 1 ms of a fake clock), so that
// writes also come between a poll that stopped short and the one that goes on.
//
// FOLLOWER_MODEL_SEQUENCES sets the number of sequences (default 3000), FOLLOWER_MODEL_SEED the
// first sequence's seed; sequence i uses seed + i, and a failure prints how to replay it alone.
// Without a count given, the run also stops starting sequences after kDefaultBudgetMs, so a
// machine busy with other work does not stall the suite; it says how many it ran.
#include "unit.h"
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <vector>
#include "intake/follower.h"
#include "run/log.h"
#include "run/seams.h"
#include "run/settings.h"

namespace {
typedef std::vector<std::string> lines;

const unsigned long long kDefaultSeed = 0x5EEDF011;
const int kDefaultSequences = 3000;
const DWORD kDefaultBudgetMs = 150000;
const int kMaxReportedFailures = 3;

// ---- Random source: splitmix64, the same numbers on every platform ---------------------------
struct rng {
    unsigned long long state;
    unsigned long long next() {
        unsigned long long z = (state += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    size_t below(size_t n) { return n ? (size_t)(next() % n) : 0; }
    bool chance(int percent) { return below(100) < (size_t)percent; }
};

// ---- The reference model: the follower's rules over whole-file snapshots ----------------------
struct snapshot {
    bool opened;
    DWORD error;  // when not opened
    DWORD volume, index_high, index_low;
    std::string content;
};

struct model {
    bool from_start = false;
    bool first_poll_done = false;
    bool identity_known = false;
    DWORD volume = 0, index_high = 0, index_low = 0;
    size_t offset = 0;
    std::string fingerprint;
    std::string partial;
    lines log;

    void reset(const char* reason) {
        log.push_back(std::string("speech file reset (") + reason + "); reading from start");
        offset = 0;
        fingerprint.clear();
        partial.clear();
    }

    // max_lines: the poll stops after that many lines (0: no limit); more tells that it did so
    // before the end.
    bool more = false;
    lines poll(const snapshot& s, size_t max_lines = 0) {
        lines out;
        more = false;
        if (!s.opened) {
            if (s.error == ERROR_SHARING_VIOLATION) return out;
            if (!first_poll_done) {
                first_poll_done = true;
                log.push_back("speech file not present yet; will read it from the start when it appears");
            }
            if (identity_known) {
                identity_known = false;
                reset("file removed");
            }
            return out;
        }
        const size_t size = s.content.size();
        if (!first_poll_done) {
            first_poll_done = true;
            offset = from_start ? 0 : size;
            log.push_back("speech file found (" + std::to_string(size) + " bytes); " +
                          (from_start ? "reading from start (--from-start)" : "skipping existing content"));
            identity_known = true;
            volume = s.volume, index_high = s.index_high, index_low = s.index_low;
            fingerprint = s.content.substr(0, kFingerprintMax);
        }
        bool indexed = s.index_high != 0 || s.index_low != 0;
        if (!identity_known)
            reset("file (re)created");
        else if (indexed && (s.volume != volume || s.index_high != index_high || s.index_low != index_low))
            reset("different file");
        else if (size < offset)
            reset("truncated");
        identity_known = true;
        volume = s.volume, index_high = s.index_high, index_low = s.index_low;
        if (size > 0) {
            std::string head = s.content.substr(0, kFingerprintMax);
            size_t common = head.size() < fingerprint.size() ? head.size() : fingerprint.size();
            if (common && head.compare(0, common, fingerprint, 0, common) != 0) reset("content replaced");
            if (head.size() > fingerprint.size() || offset == 0) fingerprint = head;
        } else {
            fingerprint.clear();
        }
        // Hands the partial line over; true when that spent the budget, the poll ending before next.
        const auto spent = [&](size_t next) {
            out.push_back(partial);
            partial.clear();
            if (out.size() != max_lines) return false;
            offset = next;
            more = next < size;
            return true;
        };
        for (size_t i = offset; i < size; i++) {
            char b = s.content[i];
            if (b == '\n') {
                if (spent(i + 1)) return out;
                continue;
            }
            if (partial.size() == (size_t)kLineMax && spent(i)) return out;
            partial += b;
        }
        if (size > offset) offset = size;
        return out;
    }
};

// ---- The writer's world -------------------------------------------------------------------------
std::wstring file_path, other_path, log_file;
lines handed;
void capture(char* line, size_t count) {
    handed.push_back(std::string(line, count));
    unit_fake_clock_advance(1);
}

const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

snapshot look(void) {
    snapshot s = {false, 0, 0, 0, 0, std::string()};
    HANDLE h = CreateFileW(file_path.c_str(), GENERIC_READ, kShareAll, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (h == INVALID_HANDLE_VALUE) {
        s.error = GetLastError();
        return s;
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileInformationByHandle(h, &info)) {
        s.opened = true;
        s.volume = info.dwVolumeSerialNumber;
        s.index_high = info.nFileIndexHigh;
        s.index_low = info.nFileIndexLow;
        char buf[65536];
        DWORD got = 0;
        while (ReadFile(h, buf, sizeof buf, &got, NULL) && got > 0) s.content.append(buf, got);
    }
    CloseHandle(h);
    return s;
}


bool set_size(int64_t size) {
    HANDLE h = CreateFileW(file_path.c_str(), GENERIC_WRITE, kShareAll, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (h == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER at;
    at.QuadPart = size;
    bool ok = SetFilePointerEx(h, at, NULL, FILE_BEGIN) && SetEndOfFile(h);
    CloseHandle(h);
    return ok;
}

// One line's bytes, without its line feed: mostly short text, sometimes empty, CR-ended, marked,
// odd bytes, or long enough to be cut into pieces.
std::string random_text(rng& r) {
    size_t length;
    switch (r.below(20)) {
    case 0: length = 0; break;
    case 1: length = 30 + r.below(300); break;
    case 2: length = (size_t)kLineMax - 2 + r.below(5); break;
    case 3:
        if (r.chance(50)) {
            length = 2 * (size_t)kLineMax + r.below(200);
            break;
        }
        // fall through
    default: length = r.below(30); break;
    }
    std::string t;
    t.reserve(length + 4);
    if (r.chance(8)) t += "\xEF\xBB\xBF";
    static const char kPrefixes[] = "!+#-?";
    if (r.chance(20)) t += kPrefixes[r.below(5)];
    while (t.size() < length) {
        switch (r.below(24)) {
        case 0: t += ' '; break;
        case 1: t += '\t'; break;
        case 2: t += '\0'; break;
        case 3: t += "\xC3\xA9"; break;
        case 4: t += "\xE2\x82\xAC"; break;
        case 5: t += (char)(0x80 + r.below(128)); break;
        default: t += (char)('a' + r.below(26)); break;
        }
    }
    if (r.chance(15)) t += '\r';
    return t;
}

std::string random_lines(rng& r, bool partial_end) {
    std::string bytes;
    size_t count = r.below(4) + (partial_end ? 0 : 1);
    for (size_t i = 0; i < count; i++) bytes += random_text(r) + "\n";
    if (partial_end) bytes += random_text(r);
    return bytes;
}

struct sequence_result {
    bool ok;
    std::string why;
};

std::string shown(const lines& v) {
    std::string out = "{";
    for (const std::string& s : v) {
        if (out.size() > 1) out += ", ";
        std::string t = s.size() > 24 ? s.substr(0, 24) + "..." : s;
        for (char& ch : t)
            if ((unsigned char)ch < 32 || (unsigned char)ch > 126) ch = '?';
        out += "\"" + t + "\"(" + std::to_string(s.size()) + ")";
    }
    return out + "}";
}

lines log_messages(void) { return unit_log_messages(log_file); }

// One random sequence: the file's state at the start, then steps of writer operations and a poll.
sequence_result run_sequence(unsigned long long seed) {
    rng r = {seed};
    rng budgets = {seed ^ 0xB0D9E7ULL};  // apart, so a seed writes the same with or without them
    std::string trace;
    DeleteFileW(file_path.c_str());
    RemoveDirectoryW(file_path.c_str());
    DeleteFileW(other_path.c_str());
    open_log(false);
    model m;
    m.from_start = r.chance(50);
    start_speech_follower(m.from_start);
    // Appends alone are checked once more at the end against what the writer wrote.
    bool appends_only = r.chance(20);
    size_t start_size = 0;
    if (r.chance(70)) {
        std::string initial = random_lines(r, false);
        unit_write_file(file_path, initial);
        trace += "start(" + std::to_string(initial.size()) + ")";
    } else {
        trace += "start(missing)";
    }
    lines all_handed;
    int steps = 3 + (int)r.below(14);
    for (int step = 0; step < steps; step++) {
        HANDLE lock = INVALID_HANDLE_VALUE;
        int ops = (int)r.below(4);
        for (int op = 0; op < ops; op++) {
            DWORD attributes = GetFileAttributesW(file_path.c_str());
            const bool is_file = attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
            const bool is_folder = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
            int kind = appends_only ? (int)r.below(4) : (int)r.below(14);
            switch (kind) {
            case 0:
            case 1:
                if (!is_folder) {
                    std::string bytes = random_lines(r, false);
                    unit_append_file(file_path, bytes);
                    trace += " +lines(" + std::to_string(bytes.size()) + ")";
                }
                break;
            case 2:
                if (!is_folder) {
                    std::string bytes = r.chance(50) ? random_text(r) : random_lines(r, true);
                    unit_append_file(file_path, bytes);
                    trace += " +part(" + std::to_string(bytes.size()) + ")";
                }
                break;
            case 3:
                // An append-only sequence is checked from its first sight on, so no lock delays that.
                if (is_file && lock == INVALID_HANDLE_VALUE && r.chance(30) && (m.first_poll_done || !appends_only)) {
                    lock = CreateFileW(file_path.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
                    trace += " lock";
                } else if (!is_folder) {
                    unit_append_file(file_path, "\n");
                    trace += " +lf";
                }
                break;
            case 4:
                if (is_file && lock == INVALID_HANDLE_VALUE) {
                    size_t size = look().content.size();
                    size_t to = size ? r.below(size) : 0;
                    set_size((int64_t)to);
                    trace += " trunc(" + std::to_string(to) + ")";
                }
                break;
            case 5:
            case 6:
                // Rewritten from the start, keeping some first bytes (often the whole fingerprint).
                if (is_file && lock == INVALID_HANDLE_VALUE) {
                    std::string old = look().content;
                    size_t keep = r.chance(50) ? (old.size() < 100 ? old.size() : 96 + r.below(5)) : r.below(old.size() + 1);
                    if (keep > old.size()) keep = old.size();
                    std::string fresh = old.substr(0, keep) + random_lines(r, r.chance(30));
                    if (r.chance(50) && fresh.size() < old.size()) fresh += old.substr(fresh.size());
                    unit_write_file(file_path, fresh);
                    trace += " rewrite(keep " + std::to_string(keep) + ", " + std::to_string(fresh.size()) + ")";
                }
                break;
            case 7:
                if (is_file && lock == INVALID_HANDLE_VALUE) {
                    std::string fresh = random_lines(r, r.chance(30));
                    unit_write_file(file_path, fresh);
                    trace += " rewrite(" + std::to_string(fresh.size()) + ")";
                }
                break;
            case 8:
                if (is_file && lock == INVALID_HANDLE_VALUE) {
                    DeleteFileW(file_path.c_str());
                    trace += " delete";
                }
                break;
            case 9:
                if (!is_file && !is_folder) {
                    std::string fresh = random_lines(r, r.chance(30));
                    unit_write_file(file_path, fresh);
                    trace += " create(" + std::to_string(fresh.size()) + ")";
                }
                break;
            case 10:
                // Another file moved over it, often one that starts like it and is longer.
                if (!is_folder && lock == INVALID_HANDLE_VALUE) {
                    std::string other = r.chance(50) ? look().content : std::string();
                    other += random_lines(r, r.chance(30));
                    unit_write_file(other_path, other);
                    MoveFileExW(other_path.c_str(), file_path.c_str(), MOVEFILE_REPLACE_EXISTING);
                    trace += " moved-over(" + std::to_string(other.size()) + ")";
                }
                break;
            case 11:
                if (is_file && lock == INVALID_HANDLE_VALUE) {
                    DeleteFileW(file_path.c_str());
                    std::string fresh = random_lines(r, r.chance(30));
                    unit_write_file(file_path, fresh);
                    trace += " recreate(" + std::to_string(fresh.size()) + ")";
                }
                break;
            case 12:
                if (!is_file && !is_folder && r.chance(50)) {
                    CreateDirectoryW(file_path.c_str(), NULL);
                    trace += " folder";
                } else if (is_folder) {
                    RemoveDirectoryW(file_path.c_str());
                    trace += " unfolder";
                }
                break;
            default:
                break;  // a quiet interval
            }
        }
        snapshot s = look();
        bool first_poll = !m.first_poll_done;
        const size_t max_lines = budgets.chance(50) ? 1 + budgets.below(6) : 0;
        lines expected = m.poll(s, max_lines);
        if (first_poll && s.opened && m.first_poll_done && !m.from_start) start_size = s.content.size();
        handed.clear();
        const bool more = poll_speech_file(max_lines ? max_lines : kReadToEnd);
        if (lock != INVALID_HANDLE_VALUE) CloseHandle(lock);
        trace += max_lines ? " | poll(" + std::to_string(max_lines) + ")" : " | poll";
        all_handed.insert(all_handed.end(), handed.begin(), handed.end());
        if (more != m.more) {
            close_log();
            return {false, "step " + std::to_string(step) + ": more " + std::to_string(more) + ", model " +
                               std::to_string(m.more) + "  ||  ops: " + trace};
        }
        if (handed != expected) {
            close_log();
            return {false, "step " + std::to_string(step) + ": lines " + shown(handed) + ", model " + shown(expected) +
                               "  ||  ops: " + trace};
        }
        if (follower_read_offset() != (int64_t)m.offset) {
            close_log();
            return {false, "step " + std::to_string(step) + ": read offset " + std::to_string(follower_read_offset()) +
                               ", model " + std::to_string(m.offset) + "  ||  ops: " + trace};
        }
    }
    // A last quiet poll, so lines held back by a lock in the last step are out too.
    snapshot s = look();
    lines expected = m.poll(s);
    handed.clear();
    poll_speech_file(kReadToEnd);
    all_handed.insert(all_handed.end(), handed.begin(), handed.end());
    close_log();
    if (handed != expected) return {false, "last poll: lines " + shown(handed) + ", model " + shown(expected) + "  ||  ops: " + trace};
    lines logged = log_messages();
    if (logged != m.log) return {false, "log " + shown(logged) + ", model " + shown(m.log) + "  ||  ops: " + trace};
    if (appends_only) {
        // Every line the writer completed after the start is there once, in order, unchanged.
        std::string written = unit_read_file(file_path);
        lines wanted;
        std::string current;
        for (size_t i = start_size; i < written.size(); i++) {
            if (written[i] == '\n') {
                wanted.push_back(current);
                current.clear();
            } else {
                if (current.size() == (size_t)kLineMax) {
                    wanted.push_back(current);
                    current.clear();
                }
                current += written[i];
            }
        }
        if (all_handed != wanted)
            return {false, "appends: handed " + shown(all_handed) + ", written " + shown(wanted) + "  ||  ops: " + trace};
    }
    return {true, ""};
}

unsigned long long env_number(const wchar_t* name, unsigned long long fallback) {
    wchar_t value[64];
    DWORD n = GetEnvironmentVariableW(name, value, 64);
    if (n == 0 || n >= 64) return fallback;
    return wcstoull(value, NULL, 0);
}
}  // namespace

TEST(follower_matches_model_over_random_sequences) {
    const unsigned long long seed = env_number(L"FOLLOWER_MODEL_SEED", kDefaultSeed);
    const unsigned long long sequences = env_number(L"FOLLOWER_MODEL_SEQUENCES", 0);
    const unsigned long long wanted = sequences ? sequences : kDefaultSequences;
    const DWORD budget_ms = sequences ? 0 : kDefaultBudgetMs;
    std::wstring dir = unit_temp_dir();
    file_path = dir + L"\\speech.txt";
    other_path = dir + L"\\other.txt";
    log_file = dir + L"\\model.log";
    format_wide(settings_for_tests().speech_file_path, kPathCap, L"%ls", file_path.c_str());
    format_wide(settings_for_tests().log_path, kPathCap, L"%ls", log_file.c_str());
    seams.speech_line = capture;
    unit_fake_clock_install(1000000);
    DWORD started = GetTickCount();
    int failures = 0;
    unsigned long long ran = 0;
    for (unsigned long long i = 0; i < wanted && failures < kMaxReportedFailures; i++) {
        if (budget_ms && GetTickCount() - started > budget_ms) break;
        ran++;
        sequence_result result = run_sequence(seed + i);
        if (result.ok) continue;
        failures++;
        unit_fail(__FILE__, __LINE__,
                  "sequence " + std::to_string(i) + " differs; replay with FOLLOWER_MODEL_SEED=" +
                      std::to_string(seed + i) + " FOLLOWER_MODEL_SEQUENCES=1  ||  " + result.why);
    }
    printf("model: %llu of %llu sequences from seed %llu in %lu ms\n", ran, wanted, seed, GetTickCount() - started);
    fflush(stdout);
}
