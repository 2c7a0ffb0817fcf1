"""Hang watchdog: the cost of one check between hangs, and the size and duration of a dump of
the stand-in game written by the bridge when the game freezes."""
import os
import re
import subprocess

from benchlib import figure

WRITTEN = r"^hang dump written: .* \((\d+) bytes, (\d+) ms\)$"


def run(bed, args):
    scene = bed.scene("bench_hang")
    try:
        game = scene.start_game()
        done = subprocess.run(["wine", os.path.join(bed.build, "bench", "bench_hang_check.exe"), str(game.pid)],
                              env=scene.env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=120)
        values = dict((k, float(v)) for k, v in re.findall(r"^(\w+) ([\d.]+)", done.stdout.decode(), re.M))
        figure("watchdog check between hangs, median", values["check_median_us"] / 1000, "ms", 1.0)
        figure("watchdog check between hangs, p99", values["check_p99_us"] / 1000, "ms", 1.0)
        figure("watchdog check between hangs, max", values["check_max_us"] / 1000, "ms")
        figure("window pick before the first check", values["pick_us"] / 1000, "ms")

        scene.write_ini("[Debug]\nHangSeconds=8\n")
        scene.start("--pid", str(game.pid))
        scene.wait_log("^hang watchdog: watching game window ", timeout=20)
        game.command("hang")
        scene.wait_log(WRITTEN, timeout=40)
        size, ms = next(re.match(WRITTEN, l).groups() for l in scene.log_messages() if re.match(WRITTEN, l))
        figure("hang dump of the stand-in game, size", int(size) / 1024.0, "KiB")
        figure("hang dump of the stand-in game, duration", int(ms), "ms")
        game.command_nowait("resume")
    finally:
        scene.cleanup()
