// A line is cleaned, its first byte picks what it means, and a text goes to speak within the same
// poll. The only text not spoken at once is the mod's version announcement, which the mod writes
// while the game is still loading behind a splash screen; it waits until the player can hear it
// in the game:
//
//   not held --version line, game attached--> held --next text line ("another line follows"),
//                                                    game window first in front + 700 ms,
//                                                    or 15 s after holding--> released (final)
//
// A version line while no game is attached is spoken at once and releases nothing.
#include "intake/protocol.h"
#include <windows.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>
#include "game/game_process.h"
#include "game/game_window.h"
#include "run/clock.h"
#include "run/log.h"
#include "run/state.h"
#include "speech/speech.h"

namespace {
// Longest watchdog text in UTF-16 units; a longer "?" line is dropped and leaves an armed
// watchdog as it was.
constexpr int kWatchdogTextMax = 510;
// The text, its terminator, and a last unit that always stays a terminator.
constexpr int kWatchdogTextUnits = kWatchdogTextMax + 2;
// Longest version announcement that is held; a longer one is spoken at once.
constexpr int kHeldAnnouncementMax = 249;
constexpr int kHeldTextUnits = kHeldAnnouncementMax + 1;
constexpr long kWatchdogSecondsMin = 1;
constexpr long kWatchdogSecondsMax = 3600;
// The window must have been in front this long, so the game has its audio up.
constexpr uint64_t kFrontSettleMs = 700;
// A game that never comes to the front must not swallow the announcement.
constexpr uint64_t kHoldLimitMs = 15000;
const wchar_t kVersionPrefix[] = L"Tolvane Doduzu version";
constexpr size_t kVersionPrefixUnits = sizeof kVersionPrefix / sizeof kVersionPrefix[0] - 1;

// ---- Protocol state: main thread only, alive for the run.
struct protocol_state {
    uint64_t watchdog_deadline = 0;  // 0: not armed
    wchar_t watchdog_text[kWatchdogTextUnits] = {};
    bool announcement_held = false;
    bool announcement_released = false;  // once set, nothing is held again this run
    wchar_t held_announcement[kHeldTextUnits] = {};
    uint64_t held_since = 0;
    uint64_t front_seen_at = 0;  // first pass that saw the game in front while held; 0: not yet
};
constinit protocol_state protocol;

bool is_blank(char c) { return c == ' ' || c == '\t'; }

const char* skip_blanks(const char* p, const char* end) {
    while (p < end && is_blank(*p)) p++;
    return p;
}

bool is_version_line(const wchar_t* text, size_t units) {
    return units >= kVersionPrefixUnits && !wcsncmp(text, kVersionPrefix, kVersionPrefixUnits);
}

// "?" seconds, blanks, text. Anything that does not fit leaves an armed watchdog as it was.
void arm_watchdog(const char* after_prefix, const char* end) {
    char* number_end = NULL;
    // The line is terminated, so strtol stops at its end at the latest.
    long seconds = strtol(after_prefix, &number_end, 10);
    if (seconds < kWatchdogSecondsMin || seconds > kWatchdogSecondsMax) return;
    const char* text = skip_blanks(number_end, end);
    if (text >= end || *text == 0) return;  // a NUL-led text would fire as silence
    // Converted aside first: a failed conversion may have written part of its output, and the
    // armed text must survive a line that is dropped. The terminator after end is converted too.
    wchar_t converted[kWatchdogTextUnits - 1];
    int units = MultiByteToWideChar(CP_UTF8, 0, text, (int)(end - text) + 1, converted, kWatchdogTextUnits - 1);
    if (units <= 0) return;
    memcpy(protocol.watchdog_text, converted, (size_t)units * sizeof(wchar_t));
    protocol.watchdog_text[kWatchdogTextUnits - 1] = 0;
    protocol.watchdog_deadline = tick_now() + (uint64_t)seconds * 1000;
    log_line("watchdog armed: %ld s", seconds);
}

// Speaks bytes as a text, or holds it when it is the first version announcement of a game. An
// alert is never held: it is urgent.
void speak_line_text(const char* text, size_t bytes, bool interrupt, bool alert) {
    int units = MultiByteToWideChar(CP_UTF8, 0, text, (int)bytes, NULL, 0);
    if (units <= 0) return;
    wchar_t* wide = (wchar_t*)malloc(((size_t)units + 1) * sizeof(wchar_t));
    if (!wide) return;
    if (MultiByteToWideChar(CP_UTF8, 0, text, (int)bytes, wide, units) != units) {
        free(wide);
        return;
    }
    wide[units] = 0;
    if (!alert && !protocol.announcement_released && !protocol.announcement_held && game_process != NULL &&
        is_version_line(wide, (size_t)units) && units <= kHeldAnnouncementMax) {
        memcpy(protocol.held_announcement, wide, ((size_t)units + 1) * sizeof(wchar_t));
        protocol.announcement_held = true;
        protocol.held_since = tick_now();
        protocol.front_seen_at = 0;
        log_line("startup announcement held until the game window is in front: %ls", protocol.held_announcement);
        free(wide);
        return;
    }
    if (protocol.announcement_held) release_startup_announcement("another line follows");
    if (alert)
        speak_alert(wide);
    else
        speak(wide, interrupt);
    free(wide);
}
}  // namespace

void handle_speech_line(char* line, size_t count) {
    while (count > 0 && (line[count - 1] == ' ' || line[count - 1] == '\t' || line[count - 1] == '\r')) count--;
    line[count] = 0;
    const char* p = line;
    const char* end = line + count;
    // The mark may come before any line: a mod that reopens the file writes it again.
    if (count >= 3 && (unsigned char)p[0] == 0xEF && (unsigned char)p[1] == 0xBB && (unsigned char)p[2] == 0xBF)
        p += 3;
    if (p == end) return;
    bool interrupt = true;
    bool alert = false;
    switch (*p) {
    case '!':
    case '+':
    case '^':
        interrupt = *p != '+';
        alert = *p == '^';
        p++;
        if (p == end) return;
        break;
    case '#':
        if (end - p < 3) return;
        if (p[1] == 'o' && p[2] == 'k') {
            if (protocol.watchdog_deadline != 0) log_line("watchdog cancelled (#ok)");
            protocol.watchdog_deadline = 0;
        }
        return;
    case '-':
        log_line("stop");
        stop_speech();
        return;
    case '?':
        arm_watchdog(p + 1, end);
        return;
    default:
        break;
    }
    p = skip_blanks(p, end);
    // A text that starts with a NUL byte is empty to the screen reader, and saying nothing would
    // still cut off what it is saying: a run of zeros in the file stays silent.
    if (p == end || *p == 0) return;
    speak_line_text(p, (size_t)(end - p), interrupt, alert);
}

void release_startup_announcement(const char* reason) {
    if (!protocol.announcement_held) return;
    protocol.announcement_held = false;
    protocol.announcement_released = true;
    log_line("startup announcement spoken (%s)", reason);
    speak(protocol.held_announcement, true);
}

void tick_startup_announcement(uint64_t now) {
    if (!protocol.announcement_held) return;
    // What counts is the first time the window was in front, not whether it still is.
    if (protocol.front_seen_at == 0 && game_window_in_front()) protocol.front_seen_at = now;
    bool settled = protocol.front_seen_at != 0 && ticks_since(now, protocol.front_seen_at) > kFrontSettleMs;
    if (!settled && ticks_since(now, protocol.held_since) <= kHoldLimitMs) return;
    char reason[32] = "game window in front";
    if (protocol.front_seen_at == 0)
        format_narrow(reason, sizeof reason, "%d s passed", (int)(kHoldLimitMs / 1000));
    release_startup_announcement(reason);
}

void check_speech_watchdog(void) {
    if (protocol.watchdog_deadline == 0 || tick_now() < protocol.watchdog_deadline) return;
    protocol.watchdog_deadline = 0;
    log_line("watchdog expired (no #ok line)");
    // Kept after firing: the text stays until the next arming overwrites it.
    speak(protocol.watchdog_text, false);
}

void reset_protocol(void) { renew(protocol); }
