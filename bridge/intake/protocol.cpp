#include "intake/protocol.h"
void handle_speech_line(char*, size_t) {}
void release_startup_announcement(const char*) {}
void tick_startup_announcement(uint64_t) {}
void check_speech_watchdog(void) {}
void reset_protocol(void) {}
