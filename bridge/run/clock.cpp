#include "run/clock.h"
#include "run/seams.h"

uint64_t tick_now(void) { return seams.tick(); }

// GetTickCount is the low half of GetTickCount64.
uint32_t tick_now32(void) { return (uint32_t)seams.tick(); }
