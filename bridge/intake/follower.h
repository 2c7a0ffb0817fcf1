// Speech file follower: reads what is new in speech.txt every poll and hands each line to the
// line protocol. Owns the follower state and its fixed buffers. Main thread only; polled by the
// run every 50 ms and once after the game exits.
#pragma once
#include <stddef.h>
#include <stdint.h>

// Longest line handed over at once; a longer line arrives in pieces of this size.
constexpr int kLineMax = 16384;
// Bytes read per ReadFile: new bytes are read in chunks of this size, never more at once.
constexpr int kChunkSize = 65536;
// Leading bytes compared between polls to notice a file rewritten from its start.
constexpr int kFingerprintMax = 96;

// Resets the follower to "not yet polled" and hands it --from-start (start-up, and tests).
void start_speech_follower(bool from_start);
void poll_speech_file(void);

// Tests only: how many bytes of the file have been consumed.
int64_t follower_read_offset(void);
