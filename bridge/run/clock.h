// The bridge's clock. Every timer reads tick_now(), milliseconds since system start; cmd.txt lines
// carry the 32-bit tick_now32(). The source is GetTickCount64 unless a test gives its own
// (seams.tick), which is the one way tests control time. Any thread.
#pragma once
#include <stdint.h>

uint64_t tick_now(void);
uint32_t tick_now32(void);

// Elapsed milliseconds from then to now; zero when the clock would go backwards.
inline uint64_t ticks_since(uint64_t now, uint64_t then) { return now > then ? now - then : 0; }
