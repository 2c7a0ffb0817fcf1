"""The one-shot modes and the instance lock, through the real TolvaneSpeech.exe."""
import os
import shutil
import time

import helpers as h
from testbed import wait_for


def test_check_exits_20_without_the_client_0_when_nvda_answers_and_21_when_it_does_not(scene):
    scene.write("TolvaneSpeech.log", "earlier line\r\n")
    assert scene.run("--check") == 20
    messages = scene.log_messages()
    assert scene.log().startswith("earlier line\r\n")
    assert messages[1].startswith("TolvaneSpeech --check, pid ")
    assert messages[1].endswith(", exe dir " + scene.exe_dir_win)
    assert messages[2:] == ["NVDA: controller client DLL not available; SAPI only",
                            "check: NVDA client DLL not loaded"]

    # NV Access's client, and the stand-in NVDA answering or playing one that is not running.
    scene.install_nvda()
    assert scene.run("--check") == 0
    assert scene.log_messages()[-2:] == ["NVDA: loaded nvdaControllerClient.dll", "check: NVDA answers"]
    scene.nvda_control(running=0)
    not_running = ("check: client DLL loaded, but NVDA does not answer (not running, or "
                   "running as another user/elevated)")
    assert scene.run("--check", "--say", "not spoken") == 21
    assert scene.log_messages()[-1] == not_running
    assert [c[1:] for c in scene.nvda_calls()[-2:]] == [["testIfRunning", "0"], ["testIfRunning", "1722"]]

    # The stand-in client with no NVDA at all (under Wine NV Access's client answers 0 then); it is
    # unloaded before the check ends.
    scene.install_nvda("stub")
    assert scene.run("--check", "--say", "not spoken") == 21
    assert scene.log_messages()[-1] == not_running
    assert scene.spoken_texts() == []
    assert [c[1:] for c in scene.nvda_calls() if c[1] == "detach"][-1] == ["detach", "free"]


def test_say_through_each_route(scene):
    scene.install_nvda()
    assert scene.run("--say", "Hello there") == 0
    assert scene.spoken_nvda() == [("cancel",), ("speak", "Hello there")]
    assert scene.run("--say", "queued", "--queue") == 0
    assert scene.spoken_nvda()[-1] == ("speak", "queued") and scene.spoken_nvda()[-2] != ("cancel",)
    assert "say+: queued" in scene.log_messages()

    # The voice, registered from a folder of its own, loads a library by bare name from a folder
    # on PATH when it speaks, as installed voices do; the bridge leaves that search alone. The
    # ini's Voice matches no installed voice, so the default one speaks, and its Rate is held at -10.
    engine = os.path.join(scene.root, "voice engine")
    os.makedirs(engine)
    shutil.copy(os.path.join(scene.bed.doubles, "voice_helper.dll"), engine)
    scene.env["WINEPATH"] = scene.win(engine)
    scene.voice_control(speak_loads="voice_helper.dll")
    scene.nvda_control(running=0)
    scene.write_ini("[Speech]\r\nVoice=tenor\r\nRate=-25\r\n")
    assert scene.run("--say", "by voice") == 10
    speaks = [c[2:] for c in scene.voice_calls() if c[1] == "Speak"]
    assert speaks == [["19", "0x00000000", "by voice"]]
    assert [m for m in scene.log_messages() if m.startswith("SAPI")] == [
        "SAPI: voice created", 'SAPI voice "tenor" not found; using the default voice',
        "SAPI voice: Alto Test Voice, rate -10, volume 100"]
    assert [c[1:] for c in scene.voice_calls()][:3] == [["create", "0x00000000"], ["SetRate", "-10"],
                                                        ["Speak", "19", "0x00000000", "by voice"]]
    # The voice speaks to its end before the process goes.
    assert [c[1:] for c in scene.voice_calls()][-2:] == [["WaitUntilDone", "30000"], ["release"]]
    assert scene.run("--game-timeout", "1", "--backend", "sapi") == 0
    assert [c[2:] for c in scene.voice_calls() if c[1] == "Speak"][-1] == ["19", "0x00000000", "Tolvane Speech ready"]
    del scene.env["WINEPATH"]  # without its library the voice cannot speak
    # The command line wins over the ini, and finds a voice by a part of its name.
    assert scene.run("--say", "no library", "--voice", "BASS", "--volume", "30", "--rate", "4") == 11
    assert [c[2:] for c in scene.voice_calls() if c[1] == "Speak"][-1] == ["19", "0x8007007E", "no library"]
    assert "SAPI voice: Bass Test Voice, rate 4, volume 30" in scene.log_messages()
    assert [c[1:] for c in scene.voice_calls() if c[1].startswith("Set")][-3:] == [
        ["SetRate", "4"], ["SetVolume", "30"], ["SetVoice", "Test Bass"]]

    assert scene.run("--say", "nowhere", "--backend", "nvda") == 11
    assert scene.log_messages()[-1] == "say: NOT spoken (no working speech route)"
    assert scene.run("--say", "only logged", "--backend", "LOG") == 0
    assert scene.log_messages()[-2:] == ["say!: only logged", "speech output now: log-only"]

    scene.voice_control(create_hr="0x80040154")
    assert scene.run("--say", "no voice", "--backend", "sapi") == 11
    assert scene.log_messages()[-2:] == ["SAPI: CoCreateInstance failed hr=0x80040154",
                                         "say: NOT spoken (no working speech route)"]
    scene.voice_control(speak_hr="0x80004001")
    assert scene.run("--say", "refused", "--backend", "sapi") == 11


def test_jaws_speaks_when_nvda_does_not_and_braille_follows_both_screen_readers(scene):
    """--say through JAWS under auto, its braille with the quotes turned, the object released
    before the end; NV Access's client shows the text on the display too, a refusal is logged and
    speech goes on; Braille=0 leaves the display alone."""
    scene.install_nvda()
    scene.nvda_control(running=0)
    jaws = scene.start_jaws_window()
    assert scene.run("--say", 'He said "go"') == 0
    said = scene.log_messages()
    assert said[0].startswith("TolvaneSpeech --say") and "backend 0 (0 auto,1 nvda,2 sapi,3 log,4 jaws)" in said[0]
    assert said[-1] == "speech output now: JAWS"
    assert [c[1:] for c in scene.jaws_calls()] == [
        ["create", "0x00000000"], ["SayString", "1", "1", 'He said "go"'],
        ["RunFunction", "1", "BrailleString(\"He said 'go'\")"], ["release"]]
    jaws.exit()
    jaws.wait(10)

    scene.nvda_control(braille_status=5)
    assert scene.run("--say", "on the display") == 0
    shown = lambda: [c[1:] for c in scene.nvda_calls() if c[1] in ("speakText", "brailleMessage")]
    assert shown() == [["speakText", "0", "on the display"], ["brailleMessage", "5", "on the display"]]
    assert scene.log_messages()[-1] == "braille: NVDA brailleMessage returned 5"
    scene.write_ini("[Speech]\r\nBraille=0\r\n")
    assert scene.run("--say", "spoken only") == 0
    assert shown()[-1] == ["speakText", "0", "spoken only"] and len(shown()) == 3
    assert len(scene.jaws_calls()) == 4


def test_say_texts_arrive_exactly(scene):
    # NV Access's older client, under the name it had then.
    scene.install_nvda("2023.3")
    text = "h\u00e9llo w\u00f6rld \u6f22\u5b57 \U0001F600"
    assert scene.run("--say", text, "--queue") == 0
    assert scene.run("--say", "") == 0
    assert scene.spoken_nvda()[0] == ("speak", text)
    assert scene.spoken_nvda()[-2:] == [("cancel",), ("speak", "")]
    messages = scene.log_messages()
    assert messages.count("NVDA: loaded nvdaControllerClient64.dll") == 2
    assert "say+: " + text in messages
    assert "say!: " in messages


def test_say_text_that_is_not_valid_utf16(scene):
    scene.install_nvda()
    done = scene.tool("say-unpaired", scene.win(scene.exe))
    assert done.returncode == 0
    assert "say!: " in scene.log_messages()  # the text cannot be logged...
    assert scene.spoken_nvda() == [("cancel",), ("speak", "a\ufffdb")]  # ...but it is spoken


def test_ini_backend_and_odd_arguments(scene):
    scene.install_nvda()
    scene.write_ini("[Speech]\r\nBackend=LOG\r\n")
    assert scene.run("--say", "logged") == 0
    assert "backend 3 (0 auto,1 nvda,2 sapi,3 log,4 jaws)" in scene.log_messages()[0]
    # Any other --backend word means auto, whatever the ini file chose.
    assert scene.run("--say", "spoken", "--backend", "speakers") == 0
    assert scene.spoken_nvda()[-1] == ("speak", "spoken")
    odd = ["--pid", "12abc", "--game-timeout", "99999999999", "--instance", "x" * 200,
           "--file", "f" * 1000, "--log", "", "--game-exe", "--file", "--bogus", "-1"]
    assert scene.run("--say", "odd", "--backend", "log", *odd) == 0
    messages = scene.log_messages()
    assert messages[-2:] == ["say!: odd", "speech output now: log-only"]
    assert [m for m in messages if m.startswith("unknown")] == ["unknown option ignored: --bogus",
                                                                "unknown option ignored: -1"]
    # --say without its text is skipped: the resident run, which here finds no game.
    assert scene.run("--game-timeout", "1", "--quiet", "--say") == 0
    assert scene.log_messages()[0].startswith(h.STARTED)


def test_unusable_log_paths(scene):
    folder = os.path.join(scene.root, "a_folder")
    os.makedirs(folder)
    assert scene.run("--say", "x", "--backend", "log", "--log", scene.win(folder)) == 0
    assert scene.run("--check", "--log", scene.win(os.path.join(folder, "missing", "x.log"))) == 20
    assert os.listdir(folder) == []
    assert not os.path.exists(scene.log_path)
    custom = os.path.join(scene.root, "custom.log")
    assert scene.run("--check", "--log", scene.win(custom)) == 20
    assert "check: NVDA client DLL not loaded" in open(custom).read()


def test_second_bridge_waits_then_gives_up(scene):
    first = scene.start("--game-timeout", "0", "--quiet")
    scene.wait_log("hang watchdog")
    start = time.time()
    assert scene.run("--game-timeout", "0") == 1
    waited = time.time() - start
    assert 3.8 <= waited <= 7, waited
    # The loser never opened the log: the winner's start line is still its first line.
    assert scene.log_messages()[0].startswith(h.STARTED)
    assert len([m for m in scene.log_messages() if m.startswith(h.STARTED)]) == 1
    # One-shot modes take no lock and append to the same log while the resident run writes it.
    scene.install_nvda()
    assert scene.run("--say", "beside it", "--backend", "log") == 0
    assert "say!: beside it" in scene.log_messages()
    assert first.running()
    first.kill()


test_second_bridge_waits_then_gives_up.timeout = 60


def test_lock_taken_when_the_holder_ends(scene):
    game = scene.start_game()
    first = scene.start("--pid", str(game.pid), "--instance", "handover")
    scene.wait_log("hang watchdog")
    # Both on one log: the waiting bridge empties it only once the holder has closed it.
    second = scene.start("--instance", "handover", "--quiet", "--game-timeout", "0")
    time.sleep(1.0)
    game.command_nowait("exit")
    assert first.wait(10) == 0
    wait_for(lambda: "quitting" not in scene.log() and "hang watchdog" in scene.log(), 6, "second bridge running")
    assert second.running()
    # The holder's lines, its "bye" last of all, were written before the new run began.
    messages = scene.log_messages()
    assert messages[0].startswith(h.STARTED), messages
    assert [m for m in messages if m.startswith(h.STARTED) or m.startswith("bye")] == messages[:1], messages
    second.kill()


def test_abandoned_lock_counts_as_acquired(scene):
    first = scene.start("--instance", "abandon", "--game-timeout", "0", "--quiet")
    scene.wait_log("hang watchdog")
    # A third process keeps the mutex object alive, so the next bridge finds it abandoned instead
    # of making a fresh one.
    holder = scene.start_tool("hold-mutex", "Local\\TolvaneSpeech_SingleInstance_abandon", "30000")
    assert holder.stdout.readline().strip() == b"held"
    first.kill()  # dies holding the mutex
    second_log = os.path.join(scene.root, "second.log")
    start = time.time()
    second = scene.start("--instance", "abandon", "--game-timeout", "0", "--quiet", "--log", scene.win(second_log))
    wait_for(lambda: "hang watchdog" in scene.read(second_log), 3, "second bridge running")
    assert time.time() - start < 3
    second.kill()


def test_mutex_that_cannot_be_created(scene):
    assert scene.run("--instance", "bad\\name") == 2
    assert not os.path.exists(scene.log_path)
