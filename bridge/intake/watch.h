// Speech file watch: asks the file system to report changes in the folder of speech_file_path,
// so that the main loop wakes the moment the mod appends a line and polls at once, instead of
// at the next 50 ms poll. The 50 ms poll stays as it is: a folder that does not exist (yet),
// a file system that cannot report changes, a lost report or a replaced folder costs at most
// that poll's delay. Owns the folder handle, its event and the pending read. Main thread only;
// the run waits on speech_watch_event, calls take_speech_watch when it fires, keep_speech_watch
// with its speech polls, and stop_speech_watch at shutdown.
#pragma once
#include <windows.h>
#include <stdint.h>

// The event the main loop's wait includes; NULL while nothing is watched.
HANDLE speech_watch_event(void);
// The event fired: true when speech.txt may have changed (its name was reported, reports were
// lost, or the watch failed), false for changes to other files of the folder, such as the
// bridge's own log and cmd.txt. Asks for the next report, or ends the watch when it fails.
bool take_speech_watch(void);
// Sets the watch up when there is none, or again when its folder was replaced; tries at most
// every 2 s, and logs nothing either way.
void keep_speech_watch(uint64_t now);
// Shutdown: ends the watch and closes its handles.
void stop_speech_watch(void);
