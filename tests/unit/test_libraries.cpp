// Where libraries come from once the search is restricted, for real: a DLL planted in the
// current folder is no longer found by name, one in a folder on PATH still is (voice engines rely
// on it). Its own program, since the restriction holds for the whole process.
#include "unit.h"
#include "run/libraries.h"

namespace {
// A copy of the stand-in NVDA client under another name, in a fresh folder; returns the folder.
std::wstring plant(const wchar_t* name) {
    const std::wstring source = unit_doubles_dir() + L"\\nvdaControllerClient.dll";
    std::wstring dir = unit_temp_dir();
    CopyFileW(source.c_str(), (dir + L"\\" + name).c_str(), FALSE);
    return dir;
}

bool loads_by_name(const wchar_t* name) {
    HMODULE library = LoadLibraryW(name);
    if (library) FreeLibrary(library);
    return library != NULL;
}
}  // namespace

TEST(a_restricted_search_ignores_the_current_folder_but_keeps_path) {
    const std::wstring here = plant(L"planted_here.dll");
    const std::wstring on_path = plant(L"planted_on_path.dll");
    REQUIRE(SetCurrentDirectoryW(here.c_str()));
    wchar_t path[8192];
    GetEnvironmentVariableW(L"PATH", path, 8192);
    SetEnvironmentVariableW(L"PATH", (on_path + L";" + path).c_str());
    REQUIRE(loads_by_name(L"planted_here.dll"));
    REQUIRE(loads_by_name(L"planted_on_path.dll"));

    restrict_library_search();
    CHECK(!loads_by_name(L"planted_here.dll"));
    CHECK(loads_by_name(L"planted_on_path.dll"));
    // By full path, a library beside the bridge and a system library still load.
    HMODULE beside = load_library_beside((here + L"\\planted_here.dll").c_str());
    CHECK(beside != NULL);
    if (beside) FreeLibrary(beside);
    wchar_t system[MAX_PATH];
    GetSystemDirectoryW(system, MAX_PATH);
    HMODULE dbghelp = load_system_library((std::wstring(system) + L"\\dbghelp.dll").c_str());
    CHECK(dbghelp != NULL);
    if (dbghelp) FreeLibrary(dbghelp);
    // The bridge's own loads search the system folder only: the flags are known to work.
    HMODULE outside = load_system_library(L"planted_on_path.dll");
    CHECK(outside == NULL);
    if (outside) FreeLibrary(outside);
}
