// Times poll_speech_file on a given speech.txt, inside Wine:
//   bench_intake_poll PATH [ROUNDS]       first poll (first sight without --from-start), idle polls,
//                                         and polls that each find one appended line
//   bench_intake_poll PATH grow BYTES     after first sight, the file grows by BYTES of zeros and a
//                                         line; times the polls with the main loop's budget that
//                                         read them all: the longest, how many, all of them
// Prints "name value" lines in milliseconds (counts as plain numbers) for bench_intake.py.
#include <windows.h>
#include <shellapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>
#include <algorithm>
#include <vector>
#include "intake/follower.h"
#include "intake/intake.h"
#include "run/seams.h"
#include "intake/protocol.h"
#include "run/log.h"
#include "run/settings.h"
#include "speech/routes.h"

namespace {
long long lines_seen = 0;
void count_line(char*, size_t) { lines_seen++; }

double now_ms(void) {
    static LARGE_INTEGER frequency = {};
    if (!frequency.QuadPart) QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return (double)counter.QuadPart * 1000.0 / (double)frequency.QuadPart;
}

double timed_poll(uint64_t budget_ms = kReadToEnd) {
    double start = now_ms();
    poll_speech_file(budget_ms);
    return now_ms() - start;
}

bool append_bytes(const wchar_t* path, const char* bytes, DWORD count) {
    HANDLE h = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    BOOL ok = WriteFile(h, bytes, count, &written, NULL);
    CloseHandle(h);
    return ok && written == count;
}

bool grow_by(const wchar_t* path, long long bytes) {
    HANDLE h = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (h == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER size;
    bool ok = GetFileSizeEx(h, &size) != 0;
    size.QuadPart += bytes;
    ok = ok && SetFilePointerEx(h, size, NULL, FILE_BEGIN) && SetEndOfFile(h);
    CloseHandle(h);
    return ok;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}
}  // namespace

int main(void) {
    // Wide arguments without a wide entry point, which MinGW would need a link option for.
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv || argc < 2) {
        printf("usage: bench_intake_poll PATH [ROUNDS] | PATH grow BYTES\n");
        return 2;
    }
    format_wide(settings_for_tests().speech_file_path, kPathCap, L"%ls", argv[1]);
    if (argc >= 4 && !wcscmp(argv[2], L"grow")) {
        // The real protocol, speaking into nothing: what the bridge does with the bytes.
        settings_for_tests().backend = kBackendLog;
        start_speech_follower(false);
        poll_speech_file(kReadToEnd);
        if (!grow_by(argv[1], _wtoi64(argv[3])) || !append_bytes(argv[1], "+after the growth\n", 18)) {
            printf("error growing the file\n");
            return 1;
        }
        // The main loop polls again at once while the last poll stopped short.
        double longest = 0, all = 0;
        long long polls = 0;
        for (bool more = true; more; polls++) {
            const double start = now_ms();
            more = poll_speech_file(kSpeechPassBudgetMs);
            const double ms = now_ms() - start;
            all += ms;
            if (ms > longest) longest = ms;
        }
        printf("grow_poll_ms %.3f\ngrow_polls %lld\ngrow_all_ms %.3f\nread_offset %lld\n", longest, polls, all,
               (long long)follower_read_offset());
        return 0;
    }
    const int rounds = argc >= 3 ? _wtoi(argv[2]) : 50;
    seams.speech_line = count_line;
    start_speech_follower(false);
    double first = timed_poll();
    std::vector<double> idle, appended;
    for (int i = 0; i < rounds; i++) idle.push_back(timed_poll());
    for (int i = 0; i < rounds; i++) {
        append_bytes(argv[1], "+a line of speech\n", 18);
        appended.push_back(timed_poll());
    }
    printf("first_poll_ms %.3f\nidle_poll_ms %.3f\nappend_poll_ms %.3f\nlines %lld\n", first, median(idle),
           median(appended), lines_seen);
    return lines_seen == rounds ? 0 : 1;
}
