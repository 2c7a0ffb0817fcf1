// Speech file watch: asks the file system to report changes in the folder of speech_file_path,
// so that the main loop wakes the moment the mod appends a line and polls at once, instead of
// at the next 50 ms poll. The 50 ms poll stays as it is: a folder that does not exist (yet),
// a file system that cannot report changes, a lost report or a replaced folder costs at most
// that poll's delay. Owns the folder handle, its report slots (event, OVERLAPPED and buffer of
// each read) and the pending read. Main thread only; the run waits on speech_watch_event, the
// intake's steps (intake.h) call take_speech_watch when the event fired, keep_speech_watch with
// each poll and stop_speech_watch when they stop. No call waits on the file system for
// longer than a cancelled read's short limit.
#pragma once
#include <windows.h>
#include <stdint.h>
#include "run/settings.h"

// The event the main loop's wait includes; NULL while nothing is watched.
HANDLE speech_watch_event(void);
// The event fired: true when speech.txt may have changed (its name was reported, reports were
// lost, or the watch failed), false for changes to other files of the folder, such as the
// bridge's own log and cmd.txt. Asks for the next report, or ends the watch when it fails or
// when reports come back empty at once, time after time.
bool take_speech_watch(void);
// Sets the watch up when there is none, or again when its folder was replaced; tries at most
// every 2 s, and logs nothing either way.
void keep_speech_watch(uint64_t now);
// Shutdown: ends the watch and closes its handles.
void stop_speech_watch(void);

// Exported for tests: the folder to watch for path and the file's name in it: the full path
// (GetFullPathNameW) cut at its last `\` or `/`, a root keeping its backslash ("C:\",
// "\\server\share\"). False when the path has no full form within kPathCap units.
bool speech_watch_target(const wchar_t* path, wchar_t folder[kPathCap], wchar_t name[kPathCap]);

// Tests only: stop_speech_watch, and the report slots given up on all free again (a stand-in
// read never writes to them).
void reset_speech_watch(void);
