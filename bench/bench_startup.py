"""Process start cost: the one-shot modes against a trivial GUI program that initialises COM the
same way and returns, all under the same warm Wine. Target: ratio at most 1.5."""
import os
import subprocess
import time

from benchlib import figure, percentile

RUNS = 20


def timed(scene, exe, args):
    times = []
    for _ in range(RUNS):
        start = time.perf_counter()
        subprocess.run(["wine", exe] + args, env=scene.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        times.append((time.perf_counter() - start) * 1000)
    return percentile(times, 50)


def run(bed, args):
    scene = bed.scene("bench_startup")
    baseline_exe = os.path.join(bed.doubles, "com_baseline.exe")
    timed(scene, baseline_exe, [])  # warm the server and the file cache
    base = timed(scene, baseline_exe, [])
    say = timed(scene, scene.exe, ["--say", "x", "--backend", "log"])
    check = timed(scene, scene.exe, ["--check"])
    figure("trivial COM program, median of %d" % RUNS, base, "ms")
    figure("--say x --backend log, median", say, "ms")
    figure("--check, median", check, "ms")
    figure("--say ratio to the trivial program", say / base, "x", 1.5)
    figure("--check ratio to the trivial program", check / base, "x", 1.5)
