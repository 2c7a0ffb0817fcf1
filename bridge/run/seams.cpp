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
    .tick = system_tick,
    .game_window_in_front = foreground_is_game,
    .key_state = async_key_state,
    .is_hung = window_hung,
    .system_directory = system_folder,
    .local_time = local_time_now,
    .write_dump = write_found_dump,
    .read_directory_changes = read_folder_changes,
    .speech_line = handle_speech_line,
    .hook_thread_starting = no_look,
    .hook_message = no_look_at_message,
};
}  // namespace

const bridge_seams real_seams = kRealSeams;
constinit bridge_seams seams = kRealSeams;
