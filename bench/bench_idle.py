"""A resident bridge beside an idle game: CPU share of one core and wake-ups per second over 30 s
(targets: at most 1 % of a core under Wine; about 50 wake-ups a second, not more), and the time
from the game's exit to the bridge's exit (target under 100 ms)."""
import collections
import os
import re
import signal
import subprocess
import time

from benchlib import figure, percentile

SECONDS = 30
TICK = os.sysconf("SC_CLK_TCK")


def cpu_ticks(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])  # utime + stime


def wakeups(pid):
    total = 0
    for tid in os.listdir("/proc/%d/task" % pid):
        try:
            with open("/proc/%d/task/%s/status" % (pid, tid)) as f:
                for line in f:
                    if line.startswith("voluntary_ctxt_switches"):
                        total += int(line.split()[1])
        except FileNotFoundError:
            pass
    return total


def passes_per_second(pid, seconds=5):
    """Completed waits of the bridge's main thread: under Wine each wake-up of a thread blocked in
    a wait is one 16-byte read of its wait descriptor, so strace counts them exactly."""
    trace = "/tmp/bench_idle_%d.strace" % pid
    subprocess.run(["timeout", "-s", "INT", str(seconds), "strace", "-p", str(pid), "-e", "trace=read",
                    "-o", trace], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    per_fd = collections.Counter()
    with open(trace) as f:
        for line in f:
            m = re.match(r"read\((\d+), .*, 16\) = 16", line)
            if m:
                per_fd[m.group(1)] += 1
    os.remove(trace)
    return max(per_fd.values()) / float(seconds) if per_fd else float("nan")


def log_time(line):
    h, m, s = line[1:13].split(":")
    return int(h) * 3600 + int(m) * 60 + float(s)


def run(bed, args):
    scene = bed.scene("bench_idle")
    scene.install_nvda()
    game = scene.start_game()
    bridge = scene.start("--pid", str(game.pid), "--quiet")
    scene.wait_log("hang watchdog")
    time.sleep(2)
    pid = bridge.popen.pid
    c0, w0, t0 = cpu_ticks(pid), wakeups(pid), time.time()
    time.sleep(SECONDS)
    c1, w1, t1 = cpu_ticks(pid), wakeups(pid), time.time()
    figure("CPU, share of one core over %d s" % SECONDS, 100.0 * (c1 - c0) / TICK / (t1 - t0), "%", 1.0)
    figure("Linux context switches per second (all threads)", (w1 - w0) / (t1 - t0), "/s")
    figure("wake-ups (main-loop passes) per second", passes_per_second(pid), "/s", 55)

    exits, ends = [], []
    for i in range(5):
        if i:
            game = scene.start_game()
            bridge = scene.start("--pid", str(game.pid), "--quiet")
            scene.wait_log("hang watchdog", count=1)
            time.sleep(1)
        killed = time.time()
        os.kill(game.popen.pid, signal.SIGKILL)
        bridge.wait(10)
        ends.append((time.time() - killed) * 1000)
        line = [l for l in scene.log().split("\r\n") if "exited; quitting" in l][-1]
        local = time.localtime(killed)
        seconds = local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec + (killed % 1)
        exits.append((log_time(line) - seconds) * 1000)
    figure("game exit to 'exited; quitting' line, median of 5", percentile(exits, 50), "ms", 100)
    figure("game exit to bridge process end, median of 5", percentile(ends, 50), "ms")
    scene.cleanup()  # the stand-in NVDA too
