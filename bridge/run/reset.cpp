// Kept apart from the table, so that only the unit tests link it.
#include "run/seams.h"
#include "game/game_process.h"
#include "hang/hang_watchdog.h"
#include "intake/follower.h"
#include "intake/intake.h"
#include "intake/protocol.h"
#include "intake/watch.h"
#include "keys/command_file.h"
#include "keys/hook_thread.h"
#include "keys/hotkeys.h"
#include "keys/menu_mode.h"
#include "run/log.h"
#include "run/settings.h"
#include "speech/speech.h"

void reset_bridge_state(void) {
    seams = real_seams;
    close_log();
    reset_settings();
    reset_speech();
    start_speech_follower(false);
    reset_speech_watch();
    reset_speech_steps();
    reset_protocol();
    reset_game_process();
    reset_command_file();
    reset_hotkeys();
    reset_menu_mode();
    reset_hook_state();
    reset_hang_watchdog();
}
