// Speech line protocol: interprets each line of speech.txt (speak, alert, stop, watchdog,
// comment) and holds the mod's version announcement until the game window is in front. Owns the
// watchdog and the held announcement. Main thread only: handle_speech_line is called by the
// follower (through seams.speech_line), check_speech_watchdog by the intake's steps after each
// poll, and tick_startup_announcement by the run.
#pragma once
#include <stddef.h>
#include <stdint.h>

// line holds count bytes (0 to 16384, no line feed) and has one spare byte after them, where
// the protocol writes a terminator. The bytes may be changed.
void handle_speech_line(char* line, size_t count);
// Exported for tests: speaks the held announcement, interrupting, and logs the reason; nothing
// when none is held.
void release_startup_announcement(const char* reason);
// now: the pass tick. Called on every pass while a game is attached.
void tick_startup_announcement(uint64_t now);
// Called right after each 50 ms poll of speech.txt.
void check_speech_watchdog(void);

// Tests only: back to the start state, nothing held or released, no watchdog (reset_bridge_state).
void reset_protocol(void);
