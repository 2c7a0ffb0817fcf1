"""The hang watchdog against the stand-in game made to stop pumping messages.

Wine reports a window hung about 5 s after its thread stops taking messages, so with
HangSeconds=8 the first dump comes about 13-15 s after a freeze and the second 30 s after the
first ended.
"""
import os
import re
import shutil
import time

from helpers import (DUMP_NAME, FROZEN, NOT_RESPONDING, SAVED, STILL_FROZEN, dumps, freeze, log_times,
                     seconds_between, start_watched_game, thaw, wait_dump)
from testbed import wait_for

# ------------------------------------------------------------------------------ helpers
def check_dump_file(path, size):
    with open(path, "rb") as f:
        data = f.read()
    assert data[:4] == b"MDMP", data[:16]
    assert len(data) == size and size > 0, (len(data), size)


# -------------------------------------------------------------------------------- tests
def test_long_hang_two_dumps_then_recovery(scene):
    game, bridge = start_watched_game(scene)
    freeze(game)
    scene.wait_log("^" + re.escape(NOT_RESPONDING) + "$", timeout=20)

    # A dump usually takes about 3 s under Wine, but now and then half a minute or more.
    path, size, ms = wait_dump(scene, 1, timeout=120)
    names = dumps(scene.dump_dir)
    assert len(names) == 1 and DUMP_NAME.match(names[0]), names
    assert path.endswith("\\mods\\" + names[0]), path
    first = os.path.join(scene.dump_dir, names[0])
    check_dump_file(first, size)
    # The announcement reached NVDA before the dump began; the result was queued after it ended.
    said = wait_for(lambda: len(scene.spoken_nvda()) >= 3 and scene.spoken_nvda(times=True), 10, "result spoken")
    assert [event[1:] for event in said] == [("cancel",), ("speak", FROZEN), ("speak", SAVED)], said
    dump_ended = os.stat(first).st_mtime
    assert said[1][0] <= dump_ended - ms / 1000.0 + 0.3, (said, dump_ended, ms)
    assert said[2][0] >= dump_ended - 0.1, (said, dump_ended)

    path2, size2, _ = wait_dump(scene, 2, timeout=150)
    names = dumps(scene.dump_dir)
    assert len(names) == 2 and names[0] != names[1], names
    check_dump_file(path2.replace("\\", "/").replace("Z:", "", 1), size2)
    first_done = log_times(scene, "^hang dump written: ")[0]
    still = log_times(scene, "^say!: " + re.escape(STILL_FROZEN) + "$")
    assert len(still) == 1 and seconds_between(first_done, still[0]) >= 29.9, (first_done, still)

    # Long enough for a third attempt, were there one.
    time.sleep(33)
    assert scene.spoken_nvda() == [("cancel",), ("speak", FROZEN), ("speak", SAVED),
                                   ("cancel",), ("speak", STILL_FROZEN), ("speak", SAVED)]
    assert len(dumps(scene.dump_dir)) == 2
    assert len([l for l in scene.log_messages() if l.startswith("hang dump")]) == 2

    thaw(game)
    scene.wait_log(r"^game window responsive again after \d+ ms$", timeout=15)
    took = next(int(m.group(1)) for m in map(re.compile(r"^game window responsive again after (\d+) ms$").match,
                                             scene.log_messages()) if m)
    seen = log_times(scene, "^" + re.escape(NOT_RESPONDING) + "$")[0]
    back = log_times(scene, "^game window responsive again")[0]
    assert abs(took / 1000.0 - seconds_between(seen, back)) < 0.2, (took, seen, back)
    assert bridge.running()
    assert len(log_times(scene, re.escape(NOT_RESPONDING))) == 1


test_long_hang_two_dumps_then_recovery.timeout = 420


def test_switched_off_by_option_or_ini_it_does_nothing(scene):
    # Three bridges watch one frozen game: one started with --no-hang, one with HangDump=0 in
    # its ini, and one with the watchdog on, whose announcement of the dump shows that the others
    # had their chance.
    def other_bridge(name, ini):
        exe_dir = os.path.join(scene.root, name, "Win64", "mods", "tolvane", "bridge")
        os.makedirs(exe_dir)
        shutil.copy(scene.exe, exe_dir)
        with open(os.path.join(exe_dir, "TolvaneSpeech.ini"), "w") as f:
            f.write(ini)
        return exe_dir

    scene.install_nvda()
    scene.write_ini("[Debug]\nHangSeconds=8\n")
    off_dir = other_bridge("off", "[Debug]\nHangDump=0\nHangSeconds=8\n")
    shutil.copy(scene.path("nvdaControllerClient.dll"), off_dir)  # both clients speak to the one stand-in NVDA
    on_dir = other_bridge("on", "[Speech]\nBackend=log\n[Debug]\nHangSeconds=8\n")
    game = scene.start_game()
    scene.start("--pid", str(game.pid), "--no-hang")
    scene.start("--pid", str(game.pid), "--instance", "off", exe=os.path.join(off_dir, "TolvaneSpeech.exe"))
    scene.start("--pid", str(game.pid), "--instance", "on", exe=os.path.join(on_dir, "TolvaneSpeech.exe"))
    on_log = os.path.join(on_dir, "TolvaneSpeech.log")
    wait_for(lambda: "hang watchdog: watching game window" in scene.read(on_log), 20, "the control bridge")
    freeze(game)
    wait_for(lambda: "say!: " + FROZEN in scene.read(on_log), 40, "the control bridge's announcement")

    for exe_dir in (scene.exe_dir, off_dir):
        log = scene.read(os.path.join(exe_dir, "TolvaneSpeech.log"))
        assert "hang watchdog off (8 s)" in log, log
        messages = [l[15:] for l in log.split("\r\n")]
        assert not [m for m in messages if m.startswith(("hang watchdog:", "game window", "hang dump", "say"))], log
        assert dumps(os.path.dirname(os.path.dirname(exe_dir))) == []
    assert scene.spoken_nvda() == []  # from neither bridge


test_switched_off_by_option_or_ini_it_does_nothing.timeout = 90
