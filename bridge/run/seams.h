// The seams: every place where a unit test may replace an answer of the system, or look inside
// the bridge, in one table. A null entry means the real call; the product never writes the
// table. A test fills the entries it needs before the code under test runs, and the unit runner
// clears the table, with every module's state, before each case (reset_bridge_state). Entries
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
    // Places to look inside.
    void (*speech_line)(char* line, size_t count);  // gets each line of speech.txt instead of the line protocol
    void (*hook_thread_starting)(void);             // runs on the hook thread right before it reports ready
    // The speech file watch's read: ReadDirectoryChangesW on one folder, without its subtree,
    // byte count or completion routine.
    BOOL (*read_directory_changes)(HANDLE folder, void* buffer, DWORD bytes, DWORD filter, OVERLAPPED* overlapped);
    // The hook as Windows may treat it: runs on the hook thread with each message it takes, before
    // serving it, and the hook it has installed (NULL for none), which the test may remove behind
    // the thread's back.
    void (*hook_message)(UINT message, HHOOK installed);
};
extern bridge_seams seams;

// The key state that the hotkey poller and the hook's seeding read.
inline SHORT read_key_state(int vk) { return seams.key_state ? seams.key_state(vk) : GetAsyncKeyState(vk); }

// Tests only: every module back to its state at process start, the log closed, no seams.
void reset_bridge_state(void);
