// The LOAD_LIBRARY_SEARCH_* flags come with AddDllDirectory and SetDefaultDllDirectories
// (Windows 8, or Windows 7 with KB2533623); without them the loader refuses the flags, so each
// load falls back to the search that starts in the library's own folder. The presence of the
// function is the documented test; calling it would change the search of the whole process, and
// with it that of every voice engine. A DLL directory set with SetDllDirectoryW takes the
// current folder's place in the search, in either case.
#include "run/libraries.h"

namespace {
// Named here: older headers lack them.
constexpr DWORD kSearchDllLoadDir = 0x00000100;  // LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR
constexpr DWORD kSearchSystem32 = 0x00000800;    // LOAD_LIBRARY_SEARCH_SYSTEM32

// ---- Library state: set once, before any other thread exists, and never reset.
constinit bool search_flags_work = false;
}  // namespace

void restrict_library_search(void) {
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    search_flags_work = kernel && GetProcAddress(kernel, "AddDllDirectory") != NULL;
    // The system folder (searched anyway) as that directory. An empty text would mean none to
    // Windows, but Wine then leaves the current folder in.
    wchar_t system[MAX_PATH];
    UINT length = GetSystemDirectoryW(system, MAX_PATH);
    SetDllDirectoryW(length > 0 && length < MAX_PATH ? system : L"");
}

HMODULE load_system_library(const wchar_t* path) {
    return LoadLibraryExW(path, NULL, search_flags_work ? kSearchSystem32 : LOAD_WITH_ALTERED_SEARCH_PATH);
}

HMODULE load_library_beside(const wchar_t* path) {
    return LoadLibraryExW(path, NULL,
                          search_flags_work ? kSearchDllLoadDir | kSearchSystem32 : LOAD_WITH_ALTERED_SEARCH_PATH);
}
