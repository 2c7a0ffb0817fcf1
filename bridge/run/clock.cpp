#include "run/clock.h"
#include <windows.h>

// Written by tests before the code under test runs; read on both threads.
static uint64_t (*volatile tick_source)(void) = NULL;

uint64_t tick_now(void) {
    uint64_t (*source)(void) = tick_source;
    return source ? source() : GetTickCount64();
}

uint32_t tick_now32(void) {
    uint64_t (*source)(void) = tick_source;
    return source ? (uint32_t)source() : GetTickCount();
}

void set_tick_source(uint64_t (*source)(void)) { tick_source = source; }
