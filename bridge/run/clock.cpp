#include "run/clock.h"
#include "run/seams.h"

uint64_t tick_now(void) { return seams.tick ? seams.tick() : GetTickCount64(); }

uint32_t tick_now32(void) { return seams.tick ? (uint32_t)seams.tick() : GetTickCount(); }
