"""TolvaneLaunch.dll, loaded into the stand-in game and called there as the game's loader does."""
import os
import shutil

from testbed import wait_for


def install_launcher(scene):
    path = scene.path("TolvaneLaunch.dll")
    shutil.copy(os.path.join(scene.bed.bin, "TolvaneLaunch.dll"), path)
    return scene.win(path)


def launch(game, dll, serial=""):
    before = len([e for e in game.events() if e.startswith("launch")])
    game.command(("launch %s %s" % (dll, serial)).strip())
    wait_for(lambda: len([e for e in game.events() if e.startswith("launch")]) > before, 10, "launch done")
    return [e for e in game.events() if e.startswith("launch")][-1]


def launch_log(scene):
    return scene.read("TolvaneLaunch.log", "rb")


def test_launch_starts_one_bridge_for_the_game(scene):
    dll = install_launcher(scene)
    scene.install_nvda()
    scene.append_speech("already there before the bridge")
    game = scene.start_game()
    assert launch(game, dll) == "launched 0"
    line = launch_log(scene)
    assert line.startswith(b"started TolvaneSpeech.exe, pid ") and line.endswith(b" (game pid %d)\r\n" % game.pid)
    assert line.count(b"\r\n") == 1
    scene.wait_log(r"watching game process %d \(--pid\); will exit when it exits" % game.pid)
    # --from-start: what the mod wrote before the bridge came is spoken; no ready line.
    wait_for(lambda: ("speak", "already there before the bridge") in scene.spoken_nvda(), 10, "first line spoken")
    assert ("speak", "Tolvane Speech ready") not in scene.spoken_nvda()

    assert launch(game, dll, "again") == "launched 0"
    assert launch_log(scene) == b"TolvaneSpeech.exe already running; not started again\r\n"
    assert len([m for m in scene.log_messages() if m.startswith("TolvaneSpeech started")]) == 1

    game.command_nowait("exit")
    scene.wait_log(r"bye \(")


def test_launch_without_the_bridge_beside_it(scene):
    dll = install_launcher(scene)
    os.remove(scene.exe)
    game = scene.start_game()
    assert launch(game, dll) == "launched 0"
    assert launch_log(scene) == b"CreateProcess TolvaneSpeech.exe failed, error 2\r\n"
