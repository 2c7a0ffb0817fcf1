// What one line costs in calls of an NVDA controller client: loads the client given and times
// COUNT rounds of the calls the bridge makes for an interrupting line (testIfRunning, cancelSpeech,
// speakText), each call and the three together.
//
//   bench_nvda_rpc.exe CLIENT_DLL COUNT
//
// Prints "<name>_p50 ms", "<name>_p99 ms" and "<name>_max ms" lines for test, cancel, speak and line.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <algorithm>

namespace {
typedef DWORD(WINAPI* status_fn)(void);
typedef DWORD(WINAPI* speak_fn)(const wchar_t* text);
constexpr int kMaxCount = 100000;

double ms[4][kMaxCount];

void print(const char* name, double* values, int count) {
    std::sort(values, values + count);
    printf("%s_p50 %.4f\n%s_p99 %.4f\n%s_max %.4f\n", name, values[count / 2], name, values[count * 99 / 100], name,
           values[count - 1]);
}
}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    int count = atoi(argv[2]);
    if (count < 1 || count > kMaxCount) return 2;
    HMODULE client = LoadLibraryA(argv[1]);
    if (!client) {
        DWORD error = GetLastError();
        printf("LoadLibrary: error %lu\n", error);
        return 1;
    }
    status_fn test = reinterpret_cast<status_fn>(reinterpret_cast<void*>(GetProcAddress(client, "nvdaController_testIfRunning")));
    status_fn cancel = reinterpret_cast<status_fn>(reinterpret_cast<void*>(GetProcAddress(client, "nvdaController_cancelSpeech")));
    speak_fn speak = reinterpret_cast<speak_fn>(reinterpret_cast<void*>(GetProcAddress(client, "nvdaController_speakText")));
    if (!test || !cancel || !speak) return 1;
    LARGE_INTEGER frequency, t0, t1, t2, t3;
    QueryPerformanceFrequency(&frequency);
    double unit = 1000.0 / (double)frequency.QuadPart;
    DWORD failed = 0;
    for (int i = 0; i < count; i++) {
        QueryPerformanceCounter(&t0);
        failed |= test();
        QueryPerformanceCounter(&t1);
        failed |= cancel();
        QueryPerformanceCounter(&t2);
        failed |= speak(L"Enemy ship on the horizon!");
        QueryPerformanceCounter(&t3);
        ms[0][i] = (double)(t1.QuadPart - t0.QuadPart) * unit;
        ms[1][i] = (double)(t2.QuadPart - t1.QuadPart) * unit;
        ms[2][i] = (double)(t3.QuadPart - t2.QuadPart) * unit;
        ms[3][i] = (double)(t3.QuadPart - t0.QuadPart) * unit;
    }
    if (failed) printf("a call failed: %lu\n", failed);
    print("test", ms[0], count);
    print("cancel", ms[1], count);
    print("speak", ms[2], count);
    print("line", ms[3], count);
    FreeLibrary(client);
    return 0;
}
