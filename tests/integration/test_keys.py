"""Keys for real under Xvfb: xdotool keystrokes reach the bridge's hook as real, non-injected
keys. The hotkeys go to cmd.txt and on to the game; in settings-menu mode the menu keys go to
cmd.txt and never to the game; Escape, a silent mod and another window in front all end the mode;
a frozen bridge and a bridge that ends give the keys back.
"""
import os
import re
import time

from helpers import (GAME_TITLE, VK, Mod, chord, cmd_lines, cmd_names, finish, focus_game, focus_window, game_keys,
                     hold, log_times, open_menu, press, start_keys_scene, wait_cmd, xdotool)
from testbed import wait_for

def test_hotkeys_reach_the_mod_and_the_game(scene):
    game, bridge, mod = start_keys_scene(scene, mod=False)
    press(scene, game, "F1")
    wait_cmd(scene, "F1")
    wait_for(lambda: VK["F1"] in game_keys(game), 5, "F1 at the game")
    line = cmd_lines(scene)[0]
    assert re.fullmatch(r"key F1 \d+", line), line
    assert scene.read("cmd.txt", "rb").endswith(b"\n") and b"\r" not in scene.read("cmd.txt", "rb")
    # With Shift held the press is only counted.
    time.sleep(0.35)
    chord(scene, game, "shift", "F1")
    scene.wait_log(r"^key F1 pressed, ignored \(modifier held \(NVDA key / Ctrl / Alt / Shift\)\)$")
    assert cmd_names(scene) == ["F1"]
    finish(scene, game, bridge, mod)
    assert scene.log_messages()[-1] == "bye (0 lines spoken, 1 hotkey presses forwarded, 1 ignored)"


def test_settings_menu_swallows_its_keys_and_escape_ends_it(scene):
    game, bridge, mod = start_keys_scene(scene)
    open_menu(scene, game)
    scene.wait_log("^keyboard hook installed$")
    press(scene, game, "Down")
    wait_cmd(scene, "Down")
    # Held: the first press and every repeat go to the mod.
    hold(scene, game, "Up", 1.3)
    wait_cmd(scene, "Up", 4)
    # Held Enter is one command.
    hold(scene, game, "Return", 1.0)
    wait_cmd(scene, "Enter")
    # A chord with a modifier is the game's.
    press(scene, game, "shift+Up")
    wait_for(lambda: VK["Up"] in game_keys(game), 5, "Shift+Up at the game")
    time.sleep(0.3)
    names = cmd_names(scene)
    assert names.count("Enter") == 1, names
    ups = names.count("Up")
    assert names[:3] == ["F2", "Armed", "Down"], names
    for vk in (VK["Down"], VK["Return"]):
        assert vk not in game_keys(game) and vk not in game_keys(game, "keyup"), game.events()
    # The Up that reached the game is the one with Shift, down and up once each.
    assert game_keys(game).count(VK["Up"]) == 1 and game_keys(game, "keyup").count(VK["Up"]) == 1
    assert game_keys(game).index(VK["Shift"]) < game_keys(game).index(VK["Up"])
    # Every line carries a tick, the menu keys the tick of the hook.
    assert all(re.fullmatch(r"key \w+ \d+", line) for line in cmd_lines(scene))
    # Keys swallowed or passed by the live hook never look like a hook that Windows removed.
    assert not [m for m in scene.log_messages() if "reinstalled" in m]

    press(scene, game, "Escape")
    wait_cmd(scene, "Escape")
    scene.wait_log(r"^settings menu closed \(Escape\): keys pass to the game again$")
    scene.wait_log("^keyboard hook removed$", timeout=5)
    lingered = log_times(scene, "^keyboard hook removed$")[0] - \
        log_times(scene, r"^settings menu closed \(Escape\)")[0]
    assert 1.45 <= lingered <= 2.5, lingered
    assert VK["Escape"] not in game_keys(game)
    # Closed: the menu keys are the game's again.
    press(scene, game, "Down")
    wait_for(lambda: VK["Down"] in game_keys(game), 5, "Down at the game after the close")
    assert cmd_names(scene).count("Up") == ups and "MenuOff" not in cmd_names(scene)
    finish(scene, game, bridge, mod)


test_settings_menu_swallows_its_keys_and_escape_ends_it.timeout = 90


def test_the_mod_opens_and_closes_the_menu_through_menu_state(scene):
    game, bridge, mod = start_keys_scene(scene)
    time.sleep(0.3)  # past the bridge's baseline
    mod.set_open(True)
    scene.wait_log(r"^settings menu open \(opened by the Lua mod\): ")
    wait_cmd(scene, "Armed")
    press(scene, game, "space")
    wait_cmd(scene, "Space")
    mod.set_open(False)
    scene.wait_log(r"^settings menu closed \(Lua closed the menu\): keys pass to the game again$")
    press(scene, game, "space")
    wait_for(lambda: 32 in game_keys(game), 5, "Space at the game after the close")
    assert cmd_names(scene) == ["Armed", "Space"]
    finish(scene, game, bridge, mod)


def test_a_silent_mod_ends_the_menu_after_5_s(scene):
    game, bridge, _ = start_keys_scene(scene, mod=False)
    opened = time.time()
    open_menu(scene, game)
    press(scene, game, "Down")
    wait_cmd(scene, "Down")
    reason = r"the Lua mod does not answer \(no menu_state.txt update for 5 s\)"
    scene.wait_log(r"^FAILSAFE: %s -> menu flag cleared, nothing swallowed any more$" % reason, timeout=10)
    took = time.time() - opened
    assert 4.9 <= took <= 8, took
    scene.wait_log(r"^settings menu closed \(%s\): keys pass to the game again$" % reason, timeout=1)
    wait_cmd(scene, "MenuOff")
    press(scene, game, "Down")
    wait_for(lambda: VK["Down"] in game_keys(game), 5, "Down at the game after the failsafe")
    assert cmd_names(scene).count("Down") == 1
    finish(scene, game, bridge, None)


def test_another_window_in_front_for_more_than_2_s_ends_the_menu(scene):
    # Another program's window whose class differs from the game's only in letter case. A class
    # name reads as first registered on the desktop, so this window comes first.
    other_title = "Other Window"
    other = scene.start_game("--title", other_title, "--class", "unrealwindow", name="other.exe",
                             folder=os.path.join(scene.root, "elsewhere"))
    game, bridge, mod = start_keys_scene(scene)
    focus_game(scene, game)
    open_menu(scene, game)
    # Away briefly: the mode stays, and the keys belong to the window in front.
    left = time.time()
    focus_window(scene, other, other_title)
    xdotool(scene, "key", "Down")
    wait_for(lambda: VK["Down"] in game_keys(other), 5, "Down at the other window")
    focus_game(scene, game)
    back = time.time()
    time.sleep(0.5)
    if back - left < 1.6:  # a focus change that had to be retried may have taken longer
        assert "MenuOff" not in cmd_names(scene)
        assert not [m for m in scene.log_messages() if m.startswith("FAILSAFE")]
    # Away for good.
    away = time.time()
    focus_window(scene, other, other_title)
    scene.wait_log(r"^FAILSAFE: game window not in front for more than 2 s -> menu flag cleared, "
                   r"nothing swallowed any more$", timeout=8)
    took = time.time() - away
    assert 1.95 <= took <= 5, took
    wait_cmd(scene, "MenuOff")
    assert "Down" not in cmd_names(scene)
    finish(scene, game, bridge, mod)
    other.kill()


test_another_window_in_front_for_more_than_2_s_ends_the_menu.timeout = 90


def test_shutdown_with_the_menu_open_gives_the_keyboard_back(scene):
    # The bridge follows a game without a window; another window of the game's class is in front
    # and counts as the game, so it keeps receiving keys after the bridge has ended.
    scene.write_ini("[Speech]\nBackend=log\n")
    followed = scene.start_game("--no-window").wait_ready()
    game = scene.start_game("--title", GAME_TITLE)
    mod = Mod(scene)
    bridge = scene.start("--pid", str(followed.pid))
    scene.wait_log("hook thread ready")
    mod.start()
    open_menu(scene, game)
    press(scene, game, "Down")
    wait_cmd(scene, "Down")
    mod.stop()
    followed.command_nowait("exit")
    assert bridge.wait(10) == 0
    assert VK["Down"] not in game_keys(game)
    press(scene, game, "Down")
    wait_for(lambda: VK["Down"] in game_keys(game), 5, "Down at the game after the bridge ended")
    assert cmd_names(scene).count("Down") == 1


def test_a_frozen_screen_reader_or_a_burst_of_lines_does_not_hold_the_keyboard(scene):
    """While the main loop hangs in NV Access's client, NVDA frozen inside speakText, a fresh menu
    key press goes to the game; once the loop is back the menu swallows again, nothing was spoken
    twice. A burst of lines through a slow NVDA never holds the loop: a hotkey is forwarded at
    once and the menu swallows its keys while the burst is spoken, each line once, in order. The
    bridge ends with the game."""
    scene.install_nvda()
    game = scene.start_game("--title", GAME_TITLE)
    mod = Mod(scene)
    bridge = scene.start("--pid", str(game.pid))
    scene.wait_log("hook thread ready")
    focus_game(scene, game)
    mod.start()
    open_menu(scene, game)
    scene.nvda_control(speak_block_ms=5000)  # NVDA freezes inside speakText
    scene.append_speech("frozen line")
    scene.wait_log(r"^say!: frozen line$")
    time.sleep(2.0)
    press(scene, game, "Down")
    wait_for(lambda: VK["Down"] in game_keys(game) and VK["Down"] in game_keys(game, "keyup"), 3,
             "Down at the game during the freeze")
    assert "Down" not in cmd_names(scene)

    wait_for(lambda: ("speak", "frozen line") in scene.spoken_nvda(), 10, "the frozen line")
    scene.nvda_control()  # recorded once answered: later calls answer at once
    scene.wait_log(r"^main loop stood still for (\d+) ms; 1 menu key presses went to the game meanwhile$")
    stood_ms = int(re.search(r"for (\d+) ms", [m for m in scene.log_messages() if "stood still" in m][0]).group(1))
    assert 4500 <= stood_ms <= 8000, stood_ms
    press(scene, game, "Up")
    wait_cmd(scene, "Up")
    time.sleep(0.3)
    assert VK["Up"] not in game_keys(game) and "MenuOff" not in cmd_names(scene)
    assert scene.spoken_nvda().count(("speak", "frozen line")) == 1
    assert not [m for m in scene.log_messages() if "reinstalled" in m]

    # Each line is three calls of a few milliseconds: seconds of speech, written at once.
    scene.nvda_control(call_delay_ms=4)
    burst = ["burst %d" % i for i in range(300)]
    with open(scene.path("speech.txt"), "ab") as f:
        f.write("".join("+%s\n" % text for text in burst).encode())
    wait_for(lambda: len(scene.spoken_texts("burst ")) >= 20, 20, "the burst under way", interval=0.01)
    focus_game(scene, game)
    pressed = time.time()
    xdotool(scene, "key", "F1")
    wait_for(lambda: "F1" in cmd_names(scene), 20, "F1 in cmd.txt", interval=0.005)
    forwarded = time.time() - pressed
    assert forwarded <= 0.15, "F1 forwarded %.3f s after the press" % forwarded
    press(scene, game, "Down")
    wait_cmd(scene, "Down")
    spoken_by_then = len(scene.spoken_texts("burst "))
    assert spoken_by_then < len(burst), "the burst ended before the keys were pressed"
    wait_for(lambda: len(scene.spoken_texts("burst ")) >= len(burst), 60, "the whole burst", interval=0.5)
    assert game_keys(game).count(VK["Down"]) == 1 and cmd_names(scene).count("Down") == 1
    assert scene.spoken_texts("burst ") == burst
    finish(scene, game, bridge, mod)
    assert scene.log_messages()[-1].startswith("bye (")


test_a_frozen_screen_reader_or_a_burst_of_lines_does_not_hold_the_keyboard.timeout = 120
