"""The resident run: finding and attaching the game, the ready line, the game timeout, the end
with the game, and the shutdown."""
import os
import shutil
import signal
import time

import helpers as h
from testbed import ALT_GAME_EXE, GAME_EXE, wait_for


def messages_after(scene, prefix):
    return [m for m in scene.log_messages() if m.startswith(prefix)]


def test_attached_by_pid_ends_with_the_game(scene):
    scene.install_nvda("stub")  # its record tells when the client is unloaded
    game = scene.start_game()
    # An option this bridge does not know, as a newer launcher may pass, is named and ignored.
    bridge = scene.start("--pid", str(game.pid), "--from-start", "--newer-option")
    scene.wait_log("hang watchdog on")
    messages = scene.log_messages()
    assert messages[0].startswith(h.STARTED)
    assert messages[0].endswith("file=%s\\speech.txt gamedir=%s" % (scene.exe_dir_win, scene.win(scene.game_dir)))
    assert messages.pop(1) == "unknown option ignored: --newer-option"
    assert messages[1:6] == [
        "NVDA: loaded nvdaControllerClient.dll",
        "watching game process %d (--pid); will exit when it exits" % game.pid,
        "hotkey polling: F1, F2, F3, F4, F5, F6 and F7 while the game window is in front; commands go to cmd.txt",
        "hook thread ready (WH_KEYBOARD_LL is installed only while the settings menu is open)",
        "hang watchdog on (20 s)",
    ]
    assert os.path.exists(scene.path("cmd.txt")) and scene.read("cmd.txt") == ""
    time.sleep(0.5)
    exited_at = time.time()
    game.command_nowait("exit")
    assert bridge.wait(10) == 0
    assert time.time() - exited_at < 3
    tail = scene.log_messages()[-2:]
    assert tail == ["game process %d exited; quitting" % game.pid,
                    "bye (0 lines spoken, 0 hotkey presses forwarded, 0 ignored)"]
    assert scene.spoken_texts() == []  # no ready line with --pid
    # The client was unloaded before the end, not only by the process exit.
    assert [c[1:] for c in scene.nvda_calls() if c[1] == "detach"] == [["detach", "free"]]


def test_started_by_hand_without_a_game(scene):
    scene.install_nvda()
    # "--check" typed by ear without its minus signs starts nothing and leaves the log whole.
    scene.write("TolvaneSpeech.log", "[10:00:00.000] the failed session\r\n")
    assert scene.run("check") == 2 and scene.run("--quiet", "-check") == 2
    failed = scene.log()
    assert scene.log_messages() == ["the failed session", "nothing done: unknown option check",
                                    "nothing done: unknown option -check"]
    start = time.time()
    assert scene.run("--game-timeout", "5") == 0
    took = time.time() - start
    assert 5.5 <= took <= 9, took  # the third failed search, about 6 s after the loop began
    assert scene.spoken_nvda() == [("cancel",), ("speak", "Tolvane Speech ready")]
    assert scene.log_messages()[-2:] == ["no game process seen in 5 s; quitting",
                                         "bye (1 lines spoken, 0 hotkey presses forwarded, 0 ignored)"]
    assert scene.read("TolvaneSpeech.previous.log", "rb").decode() == failed

    # --quiet: the same without the ready line; the run before is now the previous one.
    os.remove(scene.path("nvda_calls.txt"))
    first_run = scene.log()
    assert scene.run("--game-timeout", "1", "--quiet") == 0
    assert scene.spoken_nvda() == []
    assert scene.log_messages()[-1] == "bye (0 lines spoken, 0 hotkey presses forwarded, 0 ignored)"
    assert scene.read("TolvaneSpeech.previous.log", "rb").decode() == first_run


test_started_by_hand_without_a_game.timeout = 60


def test_pid_of_a_process_that_has_ended(scene):
    scene.install_nvda()
    gone = scene.start_game(name="other.exe", folder=os.path.join(scene.root, "elsewhere"))
    gone.command_nowait("exit")
    gone.wait(10)
    # No game, a failed --pid: the search runs at once, and the ready line is never spoken.
    assert scene.run("--pid", str(gone.pid), "--game-timeout", "1") == 0
    assert scene.log_messages()[2] == "cannot open game process %d (--pid), error 87" % gone.pid
    assert scene.spoken_nvda() == []

    # Held open by someone else, the ended process can be opened: it has "already exited".
    ghost = scene.start_game(name="other.exe", folder=os.path.join(scene.root, "elsewhere"))
    holder = scene.start_tool("hold-process", str(ghost.pid), "20000")
    assert holder.stdout.readline().strip() == b"held"
    ghost.command_nowait("exit")
    ghost.wait(10)
    assert scene.run("--pid", str(ghost.pid), "--game-timeout", "1") == 0
    assert scene.log_messages()[2] == "process %d already exited" % ghost.pid
    holder.kill()

    game = scene.start_game()
    bridge = scene.start("--pid", str(gone.pid))
    scene.wait_log(r"watching game process %d \(found by name and folder\)" % game.pid)
    game.command_nowait("exit")
    assert bridge.wait(10) == 0
    assert scene.spoken_nvda() == []


def test_search_prefers_the_game_folder(scene):
    outside = scene.start_game(folder=os.path.join(scene.root, "Copy", "Binaries", "Win64"))
    inside = scene.start_game()
    bridge = scene.start("--quiet")
    scene.wait_log(r"watching game process %d \(found by name and folder\)" % inside.pid)
    inside.command_nowait("exit")
    assert bridge.wait(10) == 0

    # Only a copy outside the folder: taken by name.
    bridge = scene.start("--quiet")
    scene.wait_log(r"watching game process %d \(found by name\); will exit when it exits" % outside.pid)
    outside.command_nowait("exit")
    assert bridge.wait(10) == 0


def test_search_ignores_letter_case(scene):
    upper_exe = os.path.join(scene.game_dir, GAME_EXE)
    shutil.copy(os.path.join(scene.bed.doubles, "standin_game.exe"), upper_exe)
    # Started through a path typed in other letter case: the process carries that case.
    typed = scene.win(upper_exe).upper().replace("TOLVANE-WIN64-SHIPPING.EXE", "tolvane-WIN64-shipping.exe")
    game = scene.start_game(exe_path=typed)
    bridge = scene.start("--quiet")
    scene.wait_log(r"watching game process %d \(found by name and folder\)" % game.pid)
    game.command_nowait("exit")
    assert bridge.wait(10) == 0


def test_alternative_name_and_game_exe(scene):
    alt = scene.start_game(name=ALT_GAME_EXE)
    bridge = scene.start("--quiet", "--game-exe", "TOLVANE-win64-shipping.exe")
    scene.wait_log(r"watching game process %d \(found by name and folder\)" % alt.pid)
    bridge.kill()
    # Another name is searched for: the alternative name no longer counts.
    assert scene.run("--quiet", "--game-exe", "Other.exe", "--game-timeout", "1") == 0
    assert not messages_after(scene, "watching")
    other = scene.start_game(name="Other.exe")
    bridge = scene.start("--quiet", "--game-exe", "other.EXE")
    scene.wait_log(r"watching game process %d \(found by name and folder\)" % other.pid)
    alt.command_nowait("exit")
    other.command_nowait("exit")
    assert bridge.wait(10) == 0


def test_game_that_starts_after_the_bridge(scene):
    scene.install_nvda()
    bridge = scene.start("--game-timeout", "5")
    scene.wait_log("hang watchdog on")
    game = scene.start_game()
    line = scene.wait_log(r"watching game process %d \(found by name and folder\)" % game.pid, timeout=5)
    time.sleep(6)  # past the game timeout: it no longer applies
    assert bridge.running()
    assert scene.spoken_nvda() == [("cancel",), ("speak", "Tolvane Speech ready")]
    game.command_nowait("exit")
    assert bridge.wait(10) == 0
    assert not messages_after(scene, "no game process seen")


test_game_that_starts_after_the_bridge.timeout = 60


def test_the_wait_for_a_game_without_timeout(scene):
    bridge = scene.start("--game-timeout", "-3", "--quiet")
    time.sleep(7)
    assert bridge.running()
    assert not messages_after(scene, "no game process seen")
    game = scene.start_game(name=ALT_GAME_EXE)
    scene.wait_log(r"watching game process %d" % game.pid, timeout=5)
    game.command_nowait("exit")
    assert bridge.wait(10) == 0


test_the_wait_for_a_game_without_timeout.timeout = 60


def test_a_quit_message_does_not_end_the_run(scene):
    game = scene.start_game()
    bridge = scene.start("--pid", str(game.pid))
    scene.wait_log("hang watchdog")
    done = scene.tool("post-quit", str(bridge_windows_pid(scene)))
    assert done.returncode == 0, done.stdout
    time.sleep(1)
    assert bridge.running()
    game.command_nowait("exit")
    assert bridge.wait(10) == 0


def bridge_windows_pid(scene):
    return int(scene.log_messages()[0].split("pid ")[1].split(",")[0])


def test_line_written_just_before_the_game_exits_is_spoken(scene):
    game, bridge = h.start_bridge(scene, "--quiet")
    for n in range(3):
        time.sleep(0.5)
        # Written and the game gone within a millisecond: only the final poll can see the line.
        scene.append_speech("+last words %d" % n)
        if n == 2:
            os.kill(game.popen.pid, signal.SIGKILL)
    assert bridge.wait(10) == 0
    texts = scene.spoken_texts()
    assert texts == ["last words 0", "last words 1", "last words 2"], texts
    # (In the rare case that a regular poll ran between the write and the kill, the line comes
    # before the exit line instead.)
    assert sorted(scene.log_messages()[-3:-1]) == ["game process %d exited; quitting" % game.pid,
                                                   "say+: last words 2"]
    assert scene.log_messages()[-1] == "bye (3 lines spoken, 0 hotkey presses forwarded, 0 ignored)"


def test_lines_are_spoken_while_no_game_is_attached(scene):
    scene.install_nvda()
    bridge = scene.start("--quiet", "--game-timeout", "0")
    scene.wait_log("^speech file")
    written = scene.append_speech("no game yet")
    wait_for(lambda: ("speak", "no game yet") in scene.spoken_nvda(), 5, "spoken")
    spoken_at = scene.spoken_texts(times=True)[0][0]
    assert spoken_at - written < 0.5
    bridge.kill()
