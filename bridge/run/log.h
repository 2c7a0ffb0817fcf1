// Diagnostic log TolvaneSpeech.log. Owns its handle and the count of bytes written. Main thread
// only: the hook thread never logs. The mode that runs opens the log (modes.cpp, bridge_run.cpp)
// and closes it at its end; every module writes its lines with log_line.
#pragma once
#include <stdint.h>
#include "run/text.h"

// "[hh:mm:ss.mmm] " before every message.
constexpr int kLogPrefixLength = 15;
// Prefix and message of one line; CR LF follow. A longer message is cut to kLogMessageMax.
constexpr int kLogTextMax = 4092;
constexpr int kLogMessageMax = kLogTextMax - kLogPrefixLength;
// Past this many bytes written by this process the log falls silent; the line that crosses it
// is still written whole.
constexpr int64_t kLogCap = 2097152;

// Appends, or starts a fresh log (the resident run) after keeping the last one as
// TolvaneSpeech.previous.log (NAME.previous.log for a --log NAME.log); when that cannot be done
// the run appends, and says so in its first line.
void open_log(bool append);
// One line: the time prefix, the message formatted by format_text, CR LF, in one write. Does
// nothing without a log or past the cap; a message that cannot be formed leaves the prefix alone.
void log_line(const char* format, ...) TEXT_FORMAT(1, 2);
// Every format is checked at build time against what format_text can form (text.h).
#define log_line(format, ...) (CHECKED_FORMAT(format), (log_line)(format, ##__VA_ARGS__))
void close_log(void);
// Tests only: bytes this process has written to the log.
int64_t log_bytes(void);
