#include "unit.h"
#include "keys/menu_keys.h"
#include "run/log.h"
#include "run/seams.h"
#include "run/settings.h"
#include <stdio.h>
#include <string.h>
#include <vector>

namespace {
struct unit_case {
    const char* name;
    unit_fn fn;
};
std::vector<unit_case>& unit_cases() {
    static std::vector<unit_case> cases;
    return cases;
}
const char* current_name = "";
bool current_failed = false;
int temp_serial = 0;
uint64_t fake_now = 0;
uint64_t fake_tick(void) { return fake_now; }
}  // namespace

unit_registrar::unit_registrar(const char* name, unit_fn fn) { unit_cases().push_back({name, fn}); }

void unit_fail(const char* file, int line, const std::string& what) {
    const char* base = strrchr(file, '/');
    if (!base) base = strrchr(file, '\\');
    printf("FAIL %s: %s:%d: %s\n", current_name, base ? base + 1 : file, line, what.c_str());
    fflush(stdout);
    current_failed = true;
}

std::string unit_str(long long v) { return std::to_string(v); }
std::string unit_str(unsigned long long v) { return std::to_string(v); }
// Appended piece by piece: g++ 12 warns (-Wrestrict, wrongly) on a literal + std::string.
std::string unit_str(const std::string& v) { return std::string(1, '"').append(v).append(1, '"'); }
std::string unit_str(const char* v) { return v ? unit_str(std::string(v)) : "(null)"; }
std::string unit_str(const std::wstring& v) { return unit_str(v.c_str()); }
std::string unit_str(const wchar_t* v) {
    if (!v) return "(null)";
    char buf[2048];
    int n = WideCharToMultiByte(CP_UTF8, 0, v, -1, buf, sizeof buf, NULL, NULL);
    return n > 0 ? "L\"" + std::string(buf) + "\"" : "L\"?\"";
}

std::wstring unit_widen(const std::string& utf8) {
    if (utf8.empty()) return L"";
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), (int)utf8.size(), NULL, 0);
    std::wstring w(n, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), (int)utf8.size(), &w[0], n);
    return w;
}

static void remove_tree(const std::wstring& dir) {
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((dir + L"\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            if (!wcscmp(fd.cFileName, L".") || !wcscmp(fd.cFileName, L"..")) continue;
            std::wstring p = dir + L"\\" + fd.cFileName;
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                remove_tree(p);
            } else {
                SetFileAttributesW(p.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(p.c_str());
            }
        } while (FindNextFileW(h, &fd));
        FindClose(h);
    }
    RemoveDirectoryW(dir.c_str());
}

std::wstring unit_temp_dir(void) {
    wchar_t base[MAX_PATH];
    DWORD n = GetEnvironmentVariableW(L"UNIT_TMP", base, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) {
        GetTempPathW(MAX_PATH, base);
        size_t len = wcslen(base);
        if (len && base[len - 1] == L'\\') base[len - 1] = 0;
    }
    wchar_t dir[MAX_PATH];
    swprintf(dir, MAX_PATH, L"%ls\\unit_%lu_%d", base, GetCurrentProcessId(), ++temp_serial);
    remove_tree(dir);
    CreateDirectoryW(dir, NULL);
    return dir;
}

std::string unit_read_file(const std::wstring& path) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (h == INVALID_HANDLE_VALUE) return "";
    std::string out;
    char buf[65536];
    DWORD got = 0;
    while (ReadFile(h, buf, sizeof buf, &got, NULL) && got > 0) out.append(buf, got);
    CloseHandle(h);
    return out;
}

static bool put_file(const std::wstring& path, const std::string& bytes, DWORD access, DWORD disposition) {
    HANDLE h = CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                           disposition, FILE_ATTRIBUTE_NORMAL, NULL);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD put = 0;
    BOOL ok = bytes.empty() || WriteFile(h, bytes.data(), (DWORD)bytes.size(), &put, NULL);
    CloseHandle(h);
    return ok && put == bytes.size();
}

bool unit_write_file(const std::wstring& path, const std::string& bytes) {
    return put_file(path, bytes, GENERIC_WRITE, CREATE_ALWAYS);
}

bool unit_append_file(const std::wstring& path, const std::string& bytes) {
    return put_file(path, bytes, FILE_APPEND_DATA, OPEN_ALWAYS);
}

bool unit_file_exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

int unit_count(const std::string& hay, const std::string& needle) {
    int n = 0;
    if (needle.empty()) return 0;
    for (size_t at = hay.find(needle); at != std::string::npos; at = hay.find(needle, at + needle.size())) n++;
    return n;
}

namespace {
std::wstring log_dir;
}

std::wstring unit_begin_log(void) {
    close_log();
    log_dir = unit_temp_dir();
    format_wide(settings_for_tests().exe_dir, kModulePathCap, L"%ls", log_dir.c_str());
    format_wide(settings_for_tests().log_path, kPathCap, L"%ls\\test.log", log_dir.c_str());
    open_log(false);
    return log_dir;
}

std::string unit_log(void) { return unit_read_file(log_dir + L"\\test.log"); }

int unit_logged(const std::string& message) { return unit_count(unit_log(), "] " + message + "\r\n"); }

std::vector<std::string> unit_lines(const std::string& text) {
    std::vector<std::string> out;
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        out.push_back(text.substr(at, end - at));
        if (!out.back().empty() && out.back().back() == '\r') out.back().pop_back();
        at = end + 1;
    }
    return out;
}

std::vector<std::string> unit_log_messages(const std::wstring& path) {
    std::vector<std::string> out;
    for (const std::string& line : unit_lines(unit_read_file(path))) out.push_back(line.substr(kLogPrefixLength));
    return out;
}

std::wstring unit_doubles_dir(void) {
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(NULL, path, MAX_PATH);
    *wcsrchr(path, L'\\') = 0;
    *wcsrchr(path, L'\\') = 0;
    return std::wstring(path) + L"\\doubles";
}

std::string unit_cmd_names(const std::wstring& path) {
    std::string out, text = unit_read_file(path);
    size_t at = 0;
    while ((at = text.find("key ", at)) != std::string::npos) {
        size_t space = text.find(' ', at + 4);
        if (!out.empty()) out += " ";
        out += text.substr(at + 4, space - at - 4);
        at = space;
    }
    return out;
}

uint8_t unit_menu_key(DWORD vk) { return (uint8_t)menu_key_code_of(vk); }

uint8_t unit_menu_key(const char* name) {
    for (const menu_key& key : kMenuKeys)
        if (!strcmp(key.name, name)) return unit_menu_key((DWORD)key.vk);
    unit_fail(__FILE__, __LINE__, std::string("no menu key is named ") + name);
    return 0;
}

void unit_fake_clock_install(uint64_t start) {
    fake_now = start;
    seams.tick = fake_tick;
}
void unit_fake_clock_set(uint64_t now) { fake_now = now; }
void unit_fake_clock_advance(uint64_t ms) { fake_now += ms; }
uint64_t unit_fake_clock_now(void) { return fake_now; }

int main(int argc, char** argv) {
    const char* filter = argc > 1 ? argv[1] : NULL;
    int passed = 0, failed = 0;
    for (const unit_case& c : unit_cases()) {
        if (filter && !strstr(c.name, filter)) continue;
        current_name = c.name;
        current_failed = false;
        // Every case starts from the bridge as a process starts it.
        reset_bridge_state();
        c.fn();
        if (current_failed) {
            failed++;
        } else {
            passed++;
            printf("PASS %s\n", c.name);
        }
        fflush(stdout);
    }
    printf("%d passed, %d failed\n", passed, failed);
    return failed ? 1 : 0;
}
