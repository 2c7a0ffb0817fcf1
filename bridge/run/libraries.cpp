// SetDefaultDllDirectories and the LOAD_LIBRARY_SEARCH_* flags come together (Windows 8, or
// Windows 7 with KB2533623); without them the loader refuses the flags, so each load falls back
// to the search that starts in the library's own folder. SetDllDirectoryW(L"") drops the current
// folder from the search in either case.
#include "run/libraries.h"

namespace {
// Named here: older headers lack them.
constexpr DWORD kSearchDllLoadDir = 0x00000100;  // LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR
constexpr DWORD kSearchSystem32 = 0x00000800;    // LOAD_LIBRARY_SEARCH_SYSTEM32

bool search_flags_work = false;  // set once, before any other thread exists

typedef BOOL(WINAPI* set_default_dll_directories_fn)(DWORD flags);
}  // namespace

void restrict_library_search(void) {
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    set_default_dll_directories_fn set_default = reinterpret_cast<set_default_dll_directories_fn>(
        reinterpret_cast<void*>(kernel ? GetProcAddress(kernel, "SetDefaultDllDirectories") : NULL));
    search_flags_work = set_default && set_default(kSearchSystem32);
    SetDllDirectoryW(L"");
}

HMODULE load_system_library(const wchar_t* path) {
    return LoadLibraryExW(path, NULL, search_flags_work ? kSearchSystem32 : LOAD_WITH_ALTERED_SEARCH_PATH);
}

HMODULE load_library_beside(const wchar_t* path) {
    return LoadLibraryExW(path, NULL,
                          search_flags_work ? kSearchDllLoadDir | kSearchSystem32 : LOAD_WITH_ALTERED_SEARCH_PATH);
}
