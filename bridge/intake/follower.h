// Speech file follower: reads what is new in speech.txt every poll and hands each line to the
// line protocol. Owns the follower state and its fixed buffers. Main thread only; polled by the
// intake's steps (intake.h) and once after the game exits.
#pragma once
#include <stddef.h>
#include <stdint.h>

// Longest line handed over at once; a longer line arrives in pieces of this size.
constexpr int kLineMax = 16384;
// Bytes read per ReadFile: new bytes are read in chunks of this size, never more at once.
constexpr int kChunkSize = 65536;
// Leading bytes compared between polls to notice a file rewritten from its start.
constexpr int kFingerprintMax = 96;

// No bound on a poll: it reads up to the size it measured.
constexpr uint64_t kReadToEnd = UINT64_MAX;

// Resets the follower to "not yet polled" and hands it --from-start (start-up, and tests).
void start_speech_follower(bool from_start);
// Once budget_ms have passed since it began, the poll stops after the line it handed over last,
// or after the chunk it read last while a line is still incomplete; what was not consumed is read
// by the next poll. True when it stopped so, before the size it measured.
bool poll_speech_file(uint64_t budget_ms);

// Tests only: how many bytes of the file have been consumed.
int64_t follower_read_offset(void);
