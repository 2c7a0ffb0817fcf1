"""TolvaneLaunch.dll, loaded into the stand-in game and called there as the game's loader does,
and the whole path from there: the bridge it starts speaks what the mod writes, hands keys to the
mod and ends with the game."""
import os
import shutil

import helpers as h
from helpers import install_launcher, launch, launch_log, start_launching_game, started_pid, watch_exit
from testbed import wait_for

def test_the_bridge_is_started_hidden_with_the_games_pid(scene):
    dll = install_launcher(scene)
    shutil.copy(os.path.join(scene.bed.doubles, "launch_probe.exe"), scene.exe)  # records how it was started
    game = start_launching_game(scene, dll)
    wait_for(lambda: "show=" in scene.read("launch_probe.txt"), 10, "the probe ran")
    probe = dict(line.split("=", 1) for line in scene.read("launch_probe.txt").splitlines())
    assert probe["cmdline"] == '"%s\\TolvaneSpeech.exe" --pid %d --from-start' % (scene.exe_dir_win, game.pid)
    assert probe["cwd"].lower() == scene.exe_dir_win.lower()
    assert int(probe["startf"]) & 1 and probe["show"] == "0"  # STARTF_USESHOWWINDOW, SW_HIDE
    started_pid(scene, game)
    assert launch_log(scene).count("\r\n") == 1

    # No mutex (the probe has ended): each call starts anew, from any thread, and rewrites the log.
    os.remove(scene.path("launch_probe.txt"))
    assert launch(game, dll, "thread") == "launched 0 on a thread"
    wait_for(lambda: "show=" in scene.read("launch_probe.txt"), 10, "the probe ran again")
    started_pid(scene, game)
    game.command_nowait("exit")


def test_launch_starts_one_bridge_for_the_game(scene):
    dll = install_launcher(scene)
    scene.install_nvda()
    scene.append_speech("already there before the bridge")
    game = scene.start_game()
    # The game holds an inheritable handle while it calls the export: the bridge must not get it.
    assert launch(game, dll, "marker") == "launched 0"
    wait_for(lambda: [e for e in game.events() if e.startswith("marker")], 5, "the marker's verdict")
    assert "marker closed" in game.events()
    line = launch_log(scene)
    assert line.endswith(" (game pid %d)\r\n" % game.pid) and line.count("\r\n") == 1
    started_pid(scene, game)
    scene.wait_log(r"watching game process %d \(--pid\); will exit when it exits" % game.pid)
    # --from-start: what the mod wrote before the bridge came is spoken; no ready line.
    wait_for(lambda: ("speak", "already there before the bridge") in scene.spoken_nvda(), 10, "first line spoken")
    assert ("speak", "Tolvane Speech ready") not in scene.spoken_nvda()

    assert launch(game, dll, "thread") == "launched 0 on a thread"
    assert launch_log(scene) == "TolvaneSpeech.exe already running; not started again\r\n"
    assert launch(game, dll) == "launched 0"
    assert launch_log(scene) == "TolvaneSpeech.exe already running; not started again\r\n"
    assert len([m for m in scene.log_messages() if m.startswith(h.STARTED)]) == 1

    game.command_nowait("exit")
    scene.wait_log(r"bye \(")


def test_bridges_without_the_instance_mutex_do_not_count(scene):
    dll = install_launcher(scene)
    game = scene.start_game()
    # A resident bridge of another instance, and a one-shot --say that lasts 4 s: neither holds
    # the mutex the launcher probes.
    other = scene.start("--instance", "second", "--pid", str(game.pid), "--log", scene.win(scene.path("other.log")))
    wait_for(lambda: "hook thread" in scene.read("other.log"), 10, "the other instance runs")
    scene.voice_control(speak_ms=4000)
    say = scene.start("--say", "a long sentence", "--backend", "sapi", "--log", scene.win(scene.path("say.log")))
    wait_for(lambda: any(r[1] == "Speak" for r in scene.voice_calls()), 10, "the one-shot speaks")

    assert launch(game, dll) == "launched 0"
    started_pid(scene, game)
    scene.wait_log(r"watching game process %d \(--pid\)" % game.pid)
    assert say.running() and other.running()
    assert say.wait(30) == 10  # spoken by the SAPI voice

    game.command_nowait("exit")
    scene.wait_log(r"bye \(")
    assert other.wait(10) == 0


def test_launch_without_the_bridge_beside_it(scene):
    dll = install_launcher(scene)
    os.remove(scene.exe)
    game = scene.start_game()
    assert launch(game, dll) == "launched 0"
    assert launch_log(scene) == "CreateProcess TolvaneSpeech.exe failed, error 2\r\n"
    game.command_nowait("exit")


def test_the_whole_path_from_the_game_to_its_end(scene):
    """The game loads the library, which starts the bridge; the mod's lines are spoken, the
    F-keys and the settings menu's keys reach the mod; the game ends and so does the bridge."""
    dll = install_launcher(scene)
    scene.install_nvda()
    scene.append_speech("Tolvane Doduzu version 1.0")  # written before the bridge came
    mod = h.Mod(scene)
    game = start_launching_game(scene, dll)
    bridge = watch_exit(scene, started_pid(scene, game))
    scene.wait_log(r"^watching game process %d \(--pid\); will exit when it exits$" % game.pid)
    scene.wait_log(r"^speech file found \(\d+ bytes\); reading from start \(--from-start\)$")
    scene.wait_log("^hook thread ready")
    mod.start()

    h.focus_game(scene, game)
    wait_for(lambda: ("speak", "Tolvane Doduzu version 1.0") in scene.spoken_nvda(), 10, "the version line")
    scene.append_speech("Welcome back.")
    scene.append_speech("+The harbour is quiet.")
    wait_for(lambda: ("speak", "The harbour is quiet.") in scene.spoken_nvda(), 10, "the mod's lines")
    assert scene.spoken_nvda()[-3:] == [("cancel",), ("speak", "Welcome back."), ("speak", "The harbour is quiet.")]

    h.press(scene, game, "F1")
    h.wait_cmd(scene, "F1")
    h.open_menu(scene, game)
    h.press(scene, game, "Down", "Up")
    h.wait_cmd(scene, "Up")
    h.press(scene, game, "Escape")
    h.wait_cmd(scene, "Escape")
    assert h.cmd_names(scene) == ["F1", "F2", "Armed", "Down", "Up", "Escape"]
    assert h.VK["F1"] in h.game_keys(game)
    assert h.VK["Down"] not in h.game_keys(game) and h.VK["Up"] not in h.game_keys(game)
    mod.stop()

    game.command_nowait("exit")
    assert bridge.wait(30) == 0 and bridge.stdout.read().strip() == b"exit 0"
    messages = scene.log_messages()
    assert "game process %d exited; quitting" % game.pid in messages
    assert messages[-1] == "bye (3 lines spoken, 2 hotkey presses forwarded, 0 ignored)"
