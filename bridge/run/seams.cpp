// The real calls, each a plain function of the bridge's own, so that the table is a constant that
// is in place before any code runs.
#include "run/seams.h"
#include "game/game_window.h"
#include "hang/hang_watchdog.h"
#include "intake/protocol.h"

namespace {
uint64_t system_tick(void) { return GetTickCount64(); }
SHORT async_key_state(int vk) { return GetAsyncKeyState(vk); }
BOOL window_hung(HWND window) { return IsHungAppWindow(window); }
UINT system_folder(wchar_t* buf, UINT size) { return GetSystemDirectoryW(buf, size); }
void local_time_now(SYSTEMTIME* out) { GetLocalTime(out); }
BOOL read_folder_changes(HANDLE folder, void* buffer, DWORD bytes, DWORD filter, OVERLAPPED* overlapped) {
    return ReadDirectoryChangesW(folder, buffer, bytes, FALSE, filter, NULL, overlapped, NULL);
}
void no_look(void) {}
void no_look_at_message(UINT, HHOOK) {}

constexpr bridge_seams kRealSeams = {
    system_tick,      foreground_is_game,  async_key_state,   window_hung,
    system_folder,    local_time_now,      write_found_dump,  read_folder_changes,
    handle_speech_line, no_look,           no_look_at_message,
};
}  // namespace

const bridge_seams real_seams = kRealSeams;
constinit bridge_seams seams = kRealSeams;
