#include "keys/hook_thread.h"
std::atomic<DWORD> hook_thread_id{0};
std::atomic<LONG> hook_installed{0};
std::atomic<LONG> hook_install_failed{0};
menu_key_ring_t menu_key_ring;

DWORD WINAPI hook_thread_main(LPVOID ready_event) {
    MSG msg;
    PeekMessageW(&msg, NULL, WM_USER, WM_USER, PM_NOREMOVE);
    hook_thread_id = GetCurrentThreadId();
    SetEvent((HANDLE)ready_event);
    while (GetMessageW(&msg, NULL, 0, 0) > 0) {
        if (msg.message == MSG_HOOK_QUIT) break;
    }
    return 0;
}
LRESULT CALLBACK keyboard_hook_proc(int code, WPARAM wparam, LPARAM lparam) {
    return CallNextHookEx(NULL, code, wparam, lparam);
}
bool any_modifier_down(void) { return false; }
bool push_menu_key(uint8_t) { return false; }
bool pop_menu_key(menu_key_event*) { return false; }
void seed_hook_tables(void) {}
void reset_hook_state(void) {}
