// Launch probe: put beside TolvaneLaunch.dll under the name TolvaneSpeech.exe, it records how it
// was started into launch_probe.txt beside itself and exits. One "key=value" line each:
// cmdline (as given), cwd, startf (STARTUPINFO dwFlags), show (wShowWindow).
#include <windows.h>
#include <stdio.h>
#include <wchar.h>

static void put(HANDLE file, const char* key, const wchar_t* value) {
    char text[2200];
    int n = snprintf(text, sizeof(text), "%s=", key);
    int m = WideCharToMultiByte(CP_UTF8, 0, value, -1, text + n, (int)sizeof(text) - n - 2, NULL, NULL);
    n += m > 0 ? m - 1 : 0;
    text[n++] = '\n';
    DWORD written;
    WriteFile(file, text, (DWORD)n, &written, NULL);
}

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
    wchar_t path[1024];
    DWORD length = GetModuleFileNameW(NULL, path, 1000);
    wchar_t* slash = wcsrchr(path, L'\\');
    if (!length || !slash) return 1;
    wcscpy(slash + 1, L"launch_probe.txt");
    HANDLE file = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) return 1;

    put(file, "cmdline", GetCommandLineW());
    wchar_t cwd[1024];
    if (!GetCurrentDirectoryW(1024, cwd)) cwd[0] = 0;
    put(file, "cwd", cwd);
    STARTUPINFOW startup;
    GetStartupInfoW(&startup);
    wchar_t number[32];
    _snwprintf(number, 32, L"%lu", (unsigned long)startup.dwFlags);
    number[31] = 0;
    put(file, "startf", number);
    _snwprintf(number, 32, L"%u", (unsigned)startup.wShowWindow);
    number[31] = 0;
    put(file, "show", number);
    CloseHandle(file);
    return 0;
}
