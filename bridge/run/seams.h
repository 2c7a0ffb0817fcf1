// The seams: every answer of the system that a unit test may replace, and the places where it may
// look inside the bridge, in one table. The table starts with the real calls and every call site
// calls through it, so the product runs the very code the tests run; the product never writes it.
// A test replaces the entries it needs before the code under test runs, and the unit runner puts
// the real table back, with every module's state, before each case (reset_bridge_state). Entries
// are read on the main thread, and tick, game_window_in_front and key_state on the hook thread
// too, so a test sets them before it starts that thread.
#pragma once
#include <windows.h>
#include <stddef.h>
#include <stdint.h>

struct bridge_seams {
    // Answers of the system that a test cannot arrange for real, or not on a controlled clock.
    uint64_t (*tick)(void);                                // GetTickCount64; 32-bit ticks are its low half
    bool (*game_window_in_front)(void);                    // the foreground test as a whole
    SHORT (*key_state)(int vk);                            // GetAsyncKeyState
    BOOL (*is_hung)(HWND window);                          // IsHungAppWindow, which follows real time
    UINT (*system_directory)(wchar_t* buf, UINT size);     // GetSystemDirectoryW, where dbghelp is taken from
    void (*local_time)(SYSTEMTIME* out);                   // GetLocalTime, which names a dump file
    BOOL (*write_dump)(HANDLE process, DWORD pid, HANDLE file, DWORD type);  // MiniDumpWriteDump, once found
    // The speech file watch's read: ReadDirectoryChangesW on one folder, without its subtree,
    // byte count or completion routine.
    BOOL (*read_directory_changes)(HANDLE folder, void* buffer, DWORD bytes, DWORD filter, OVERLAPPED* overlapped);
    // Places to look inside.
    void (*speech_line)(char* line, size_t count);  // each line of speech.txt: the line protocol
    void (*hook_thread_starting)(void);             // runs on the hook thread right before it reports ready
    // The hook as Windows may treat it: runs on the hook thread with each message it takes, before
    // serving it, and the hook it has installed (NULL for none), which the test may remove behind
    // the thread's back.
    void (*hook_message)(UINT message, HHOOK installed);
};
extern bridge_seams seams;
// The table as the product has it.
extern const bridge_seams real_seams;

// The key state that the hotkey poller, the hook's seeding and the menu read.
inline SHORT read_key_state(int vk) { return seams.key_state(vk); }

// Tests only: every module back to its state at process start, the log closed, the real seams.
void reset_bridge_state(void);
