"""Speech intake end to end: a separate writer process appends to speech.txt while the bridge runs
beside the stand-in game, and the stand-in NVDA records what NV Access's client tells it."""
import os
import subprocess
import sys
import threading
import time
from xml.etree import ElementTree

from helpers import end_bridge, start_bridge
from testbed import wait_for, win_path

# The writer runs as its own process, as the mod does inside the game.
WRITER = r"""
import sys, time
path, pause = sys.argv[1], float(sys.argv[2])
for text in sys.argv[3:]:
    with open(path, "ab") as f:
        f.write(text.encode("utf-8", "surrogateescape") + b"\n")
    time.sleep(pause)
"""

VERSION = "Tolvane Doduzu version 3.1.4"


def mod_writes(scene, *lines, pause=0.0):
    """Appends each line and its line feed to speech.txt from a separate process, the way the mod
    does, waiting pause seconds after each. Lines use the mod's grammar: "!text" interrupts,
    "+text" queues, "?N text" arms the watchdog, "#ok" cancels it, "-" stops speech, and a line
    starting with the version announcement is held until the game window is in front."""
    subprocess.run([sys.executable, "-c", WRITER, scene.path("speech.txt"), str(pause)] + list(lines), check=True)


def wait_spoken(scene, text, count=1, timeout=10):
    wait_for(lambda: scene.spoken_texts().count(text) >= count, timeout,
             "%r spoken %d times; spoken so far: %r" % (text, count, scene.spoken_texts()[-8:]))


def test_lines_spoken_with_their_interrupt_behaviour(scene):
    game, bridge = start_bridge(scene)
    alert = "Reef <ahead> & \"hard\" to port's side"
    mod_writes(scene, "!first", "+second", "third", "#comment", "+  fourth \t\r", "^" + alert, "\ufeff+fifth", "",
               "-")
    scene.wait_log(r"^stop$")
    wait_for(lambda: len(scene.spoken_nvda()) >= 9, 10, "the stop's cancel")  # logged before NVDA hears it
    # cancelSpeech comes right before each interrupting text and never before a queued one; the
    # "-" line cancels too. An alert is NVDA's priority speech "now", which resumes the queue
    # after it: no cancel, nothing repeated.
    ssml = "<speak>Reef &lt;ahead&gt; &amp; &quot;hard&quot; to port&apos;s side</speak>"
    assert scene.spoken_nvda() == [("cancel",), ("speak", "first"), ("speak", "second"), ("cancel",),
                                   ("speak", "third"), ("speak", "fourth"), ("ssml", "2", ssml),
                                   ("speak", "fifth"), ("cancel",)]
    assert [c[2:6] for c in scene.nvda_calls() if c[1] == "speakSsml"] == [["0", "2", "-1", "1"]]
    assert ElementTree.fromstring(ssml).text == alert
    assert "say^: " + alert in scene.log_messages()
    messages = scene.log_messages()
    assert "speech file not present yet; will read it from the start when it appears" in messages
    assert "speech file reset (file (re)created); reading from start" in messages
    end_bridge(scene, game, bridge)


def test_nvda_asleep_away_and_restarted_while_the_game_runs(scene):
    """NVDA in sleep mode for the game answers speakText with -1; one that is not running answers
    1722 (under Wine a client without a server answers 0, so the stand-in plays the gap); then it
    quits and a new one serves the endpoint. Each line goes where it is heard, and the bridge
    runs on with the client it loaded."""
    game, bridge = start_bridge(scene)
    mod_writes(scene, "awake")
    wait_spoken(scene, "awake")
    scene.nvda_control(speak_status=-1)
    mod_writes(scene, "asleep")
    scene.wait_log(r"^speech output now: SAPI$")
    assert "NVDA: speakText returned 4294967295" in scene.log_messages()
    scene.nvda_control(running=0)
    mod_writes(scene, "+away")
    wait_for(lambda: voice_texts(scene)[-1:] == ["away"], 10, "the gap's line by voice")
    first = scene.nvda
    scene.end_nvda()
    scene.start_nvda()
    assert scene.nvda is not first
    mod_writes(scene, "back")
    wait_spoken(scene, "back")
    scene.wait_log(r"^speech output now: NVDA$", count=2)

    assert [c[1:3] for c in scene.nvda_calls()] == [
        ["listen", "NvdaCtlr.1.Default"], ["testIfRunning", "0"], ["cancelSpeech", "0"], ["speakText", "0"],
        ["brailleMessage", "0"], ["testIfRunning", "0"], ["cancelSpeech", "0"], ["speakText", "4294967295"],
        ["testIfRunning", "1722"], ["end"], ["listen", "NvdaCtlr.1.Default"], ["testIfRunning", "0"],
        ["cancelSpeech", "0"], ["speakText", "0"], ["brailleMessage", "0"]]
    assert scene.spoken_texts() == ["awake", "asleep", "back"]
    # The voice spoke the two lines NVDA did not, and was silenced when NVDA came back.
    assert [c[2::2] for c in scene.voice_calls() if c[1] == "Speak"] == [["19", "asleep"], ["17", "away"],
                                                                         ["2", "(null)"]]
    messages = scene.log_messages()
    assert [m for m in messages if m.startswith("speech output now")] == [
        "speech output now: " + route for route in ("NVDA", "SAPI", "NVDA")]
    assert messages.count("NVDA: loaded nvdaControllerClient.dll") == 1
    assert len([m for m in messages if " started, pid " in m]) == 1 and bridge.running()
    end_bridge(scene, game, bridge)


def voice_texts(scene):
    return [c[4] for c in scene.voice_calls() if c[1] == "Speak"]


def test_file_replaced_truncated_removed_and_locked(scene):
    scene.write("speech.txt", "+old one\n+old two\n")
    game, bridge = start_bridge(scene, "--quiet")
    scene.wait_log(r"^speech file found \(18 bytes\); skipping existing content$")
    mod_writes(scene, "+new one")
    wait_spoken(scene, "new one")

    scene.write("speech.txt", "+short\n")
    wait_spoken(scene, "short")
    scene.wait_log(r"^speech file reset \(truncated\)")

    other = scene.write("other.txt", "+moved in\n")
    assert scene.tool("replace", win_path(other), win_path(scene.path("speech.txt"))).returncode == 0
    wait_spoken(scene, "moved in")
    scene.wait_log(r"^speech file reset \(different file\)")

    os.remove(scene.path("speech.txt"))
    scene.wait_log(r"^speech file reset \(file removed\)")
    mod_writes(scene, "+reborn")
    wait_spoken(scene, "reborn")
    scene.wait_log(r"^speech file reset \(file \(re\)created\)")

    # Held open without sharing by another program for a while: neither lost nor read again.
    mod_writes(scene, "+before lock")
    wait_spoken(scene, "before lock")
    locker = scene.start_tool("lock", win_path(scene.path("speech.txt")), "800")
    answer = locker.stdout.readline().strip()
    assert answer == b"locked", answer
    time.sleep(0.3)
    locker.wait(10)
    mod_writes(scene, "+after lock")
    wait_spoken(scene, "after lock")
    time.sleep(0.2)
    assert scene.spoken_texts() == ["new one", "short", "moved in", "reborn", "before lock", "after lock"], \
        scene.spoken_texts()
    resets = [m for m in scene.log_messages() if m.startswith("speech file reset")]
    assert len(resets) == 4, resets
    end_bridge(scene, game, bridge)


def test_from_start_reads_existing_lines(scene):
    scene.write("speech.txt", "+a\n+b\n+c")
    game, bridge = start_bridge(scene, "--from-start", client="2023.3")
    wait_spoken(scene, "b")
    assert "speech file found (8 bytes); reading from start (--from-start)" in scene.log_messages()
    mod_writes(scene, "")  # completes the third line
    wait_spoken(scene, "c")
    assert scene.spoken_texts() == ["a", "b", "c"]
    # NV Access's client before NVDA 2024.1 has no priority speech: alerts interrupt, said once.
    mod_writes(scene, "^Storm warning", "+d", "^Storm again")
    wait_spoken(scene, "Storm again")
    assert scene.spoken_nvda()[3:] == [("cancel",), ("speak", "Storm warning"), ("speak", "d"), ("cancel",),
                                       ("speak", "Storm again")]
    assert scene.log_messages().count("NVDA: no priority speech (error 127); alerts interrupt") == 1
    end_bridge(scene, game, bridge)


def test_watchdog_fires_only_without_ok(scene):
    game, bridge = start_bridge(scene)
    mod_writes(scene, "?1 Are you still there?")
    armed = time.time()
    scene.wait_log(r"^watchdog armed: 1 s$")
    wait_spoken(scene, "Are you still there?")
    assert time.time() - armed >= 0.9
    assert scene.spoken_nvda()[-2:] != [("cancel",), ("speak", "Are you still there?")]
    assert "watchdog expired (no #ok line)" in scene.log_messages()

    mod_writes(scene, "?1 not needed", "#ok")
    scene.wait_log(r"^watchdog cancelled \(#ok\)$")
    time.sleep(1.6)
    assert "not needed" not in scene.spoken_texts()
    end_bridge(scene, game, bridge)


def test_version_line_held_until_game_in_front(scene):
    game, bridge = start_bridge(scene, game_options=("--hidden",))
    mod_writes(scene, "+" + VERSION)
    scene.wait_log(r"^startup announcement held until the game window is in front: " + VERSION + "$")
    time.sleep(1.0)
    assert scene.spoken_texts() == []
    game.command("show")
    game.command("front")
    wait_for(game.in_front, 10, "stand-in game in front")
    fronted = time.time()
    scene.wait_log(r"^startup announcement spoken \(game window in front\)$")
    assert time.time() - fronted >= 0.4
    wait_spoken(scene, VERSION)
    assert scene.spoken_nvda() == [("cancel",), ("speak", VERSION)]
    # Released for good: the next version line is spoken at once.
    mod_writes(scene, "+" + VERSION + " again", "+after")
    wait_spoken(scene, "after")
    assert scene.spoken_texts() == [VERSION, VERSION + " again", "after"]
    end_bridge(scene, game, bridge)


def test_version_line_released_by_next_line(scene):
    game, bridge = start_bridge(scene, game_options=("--hidden",))
    mod_writes(scene, VERSION, pause=0.3)
    scene.wait_log(r"^startup announcement held")
    mod_writes(scene, "#not yet", "-", "+Loading done")
    wait_spoken(scene, "Loading done")
    # The announcement cuts in, the queued line follows it without a cancel in between.
    assert scene.spoken_nvda()[-3:] == [("cancel",), ("speak", VERSION), ("speak", "Loading done")]
    assert "startup announcement spoken (another line follows)" in scene.log_messages()
    end_bridge(scene, game, bridge)


def test_bad_input_never_stops_the_bridge(scene):
    os.makedirs(scene.path("speech.txt"))
    game, bridge = start_bridge(scene)
    os.rmdir(scene.path("speech.txt"))
    with open(scene.path("speech.txt"), "wb") as f:
        f.write(b"+bad \xff\xfe utf-8 \xc3\n")
        f.write(b"+nul \x00 inside\n")
        f.write(b"+" + b"m" * (3 << 20) + b"\n")
        f.write(b"+survivor\n")
    wait_spoken(scene, "survivor", timeout=30)
    texts = scene.spoken_texts()
    assert texts[0] == "bad \ufffd\ufffd utf-8 \ufffd" and texts[1] == "nul "
    assert len(texts) == 2 + (3 << 20) // 16384 + 1 + 1

    # A gigabyte of zeros between two polls, then a line.
    rss_before = resident_kib(bridge)
    with open(scene.path("speech.txt"), "ab") as f:
        f.truncate(os.path.getsize(scene.path("speech.txt")) + (1 << 30))
    mod_writes(scene, "+after a gigabyte")
    wait_spoken(scene, "after a gigabyte", timeout=90)

    # The file replaced hundreds of times a second.
    stop = []

    def storm():
        n = 0
        while not stop:
            tmp = scene.path("storm.tmp")
            with open(tmp, "wb") as f:
                f.write(b"+storm %d\n" % n)
            os.replace(tmp, scene.path("speech.txt"))
            n += 1

    writer = threading.Thread(target=storm)
    writer.start()
    time.sleep(2.0)
    stop.append(True)
    writer.join()
    mod_writes(scene, "+calm")
    wait_spoken(scene, "calm")
    assert bridge.running()
    # Every file it caught is read whole, once, in the order they came.
    storm = [int(t[6:]) for t in scene.spoken_texts("storm ")]
    assert storm and storm == sorted(set(storm)), storm[:20]
    assert all(t.startswith("storm ") for t in scene.spoken_texts()[-len(storm) - 1:-1])
    rss_after = resident_kib(bridge)
    if rss_before and rss_after:
        assert rss_after - rss_before < 16 * 1024, (rss_before, rss_after)
    end_bridge(scene, game, bridge)


test_bad_input_never_stops_the_bridge.timeout = 150


def resident_kib(process):
    """Resident memory of the bridge's Wine process, or None when it cannot be told."""
    try:
        with open("/proc/%d/status" % process.popen.pid) as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
    except OSError:
        return None
    return None


def test_lines_come_once_in_order_from_a_folder_watched_late_and_then_at_once(scene):
    # The folder of speech.txt does not exist when the bridge starts: no watch, only the poll.
    later = os.path.join(scene.root, "later")
    game, bridge = start_bridge(scene, "--file", win_path(os.path.join(later, "speech.txt")))
    os.makedirs(later)
    first = ["+early %d" % i for i in range(5)]
    subprocess.run([sys.executable, "-c", WRITER, os.path.join(later, "speech.txt"), "0.01"] + first, check=True)
    wait_spoken(scene, "early 4")
    # Past the watch's next attempt, lines come fast, from two writers at once.
    time.sleep(2.5)
    writers = [subprocess.Popen([sys.executable, "-c", WRITER, os.path.join(later, "speech.txt"), "0.005"] +
                                ["+%s %d" % (who, i) for i in range(30)]) for who in ("a", "b")]
    for writer in writers:
        writer.wait(30)
    wait_spoken(scene, "a 29")
    wait_spoken(scene, "b 29")
    texts = scene.spoken_texts()
    assert texts[:5] == [line[1:] for line in first], texts
    for who in ("a", "b"):
        assert [t for t in texts if t.startswith(who + " ")] == ["%s %d" % (who, i) for i in range(30)], texts
    assert len(texts) == 65, texts
    end_bridge(scene, game, bridge)
