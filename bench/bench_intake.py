"""Speech intake figures: line latency to the stand-in NVDA client, a 10,000-line burst, the poll's
cost on a 1 KiB and a 1 GiB speech.txt (bench_intake_poll.exe), and the model-checked follower
run with many more sequences than the unit suite uses.

BENCH_MODEL_SEQUENCES (default 12000) and BENCH_MODEL_SEED (default: from the clock) steer the
model run; a failure prints the seed that replays it."""
import os
import random
import re
import subprocess
import time

from benchlib import figure, percentile
from testbed import parse_record, wait_for, win_path

LATENCY_LINES = 500
BURST_LINES = 10000


def speak_times(scene, prefix):
    """(time, text) of every speakText whose text starts with prefix, in call order."""
    return [(rec[0], rec[3]) for rec in parse_record(scene.path("nvda_calls.txt"))
            if rec[1] == "speakText" and rec[3].startswith(prefix)]


def start_bridge(scene):
    scene.install_nvda()
    game = scene.start_game()
    bridge = scene.start("--pid", str(game.pid))
    scene.wait_log(r"^speech file (not present yet|found)", timeout=20)
    return game, bridge


def end_bridge(game, bridge):
    game.command_nowait("exit")
    bridge.wait(10)


def latency(bed):
    scene = bed.scene("intake_latency")
    game, bridge = start_bridge(scene)
    rng = random.Random(7)
    written = []
    for i in range(LATENCY_LINES):
        time.sleep(rng.uniform(0.005, 0.15))
        with open(scene.path("speech.txt"), "ab") as f:
            f.write(b"+latency %d\n" % i)
        written.append(time.time())
    wait_for(lambda: len(speak_times(scene, "latency ")) >= LATENCY_LINES, 60, "all latency lines spoken")
    spoken = speak_times(scene, "latency ")
    end_bridge(game, bridge)
    assert [t for _, t in spoken] == ["latency %d" % i for i in range(LATENCY_LINES)], "latency lines out of order"
    ms = [(at - written[i]) * 1000 for i, (at, _) in enumerate(spoken)]
    figure("line to speakText, p50 (%d lines)" % LATENCY_LINES, percentile(ms, 50), "ms", 35)
    figure("line to speakText, p99", percentile(ms, 99), "ms", 80)
    figure("line to speakText, max", max(ms), "ms")


def burst(bed):
    scene = bed.scene("intake_burst")
    game, bridge = start_bridge(scene)
    data = b"".join(b"+burst %d\n" % i for i in range(BURST_LINES))
    with open(scene.path("speech.txt"), "ab") as f:
        f.write(data)
    written = time.time()
    wait_for(lambda: len(speak_times(scene, "burst ")) >= BURST_LINES, 600, "all burst lines spoken", interval=0.5)
    spoken = speak_times(scene, "burst ")
    end_bridge(game, bridge)
    texts = [t for _, t in spoken]
    in_order = texts == ["burst %d" % i for i in range(BURST_LINES)]
    figure("burst: lines spoken, in order (of %d)" % BURST_LINES, len(texts) if in_order else 0, "lines",
           BURST_LINES, better="higher")
    # The poll that sees the burst hands over its first line at once; from there to the last call.
    figure("burst: first to last speakText", (spoken[-1][0] - spoken[0][0]) * 1000, "ms")
    figure("burst: write to first speakText", (spoken[0][0] - written) * 1000, "ms")


def poll_cost(bed):
    exe = os.path.join(bed.build, "bench", "bench_intake_poll.exe")
    folder = os.path.join(bed.scratch, "intake_poll")
    os.makedirs(folder, exist_ok=True)
    results = {}
    for name, size in (("1 KiB", 1024), ("1 GiB", 1 << 30)):
        path = os.path.join(folder, "speech_%d.txt" % size)
        with open(path, "wb") as f:
            f.write(b"x" * min(size, 1024))
        os.truncate(path, size)  # sparse beyond the first KiB
        out = bed.wine([exe, win_path(path), "50"], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                       timeout=120).stdout.decode()
        os.remove(path)
        results[name] = dict((k, float(v)) for k, v in re.findall(r"^(\w+) ([\d.]+)", out, re.M))
    big, small = results["1 GiB"], results["1 KiB"]
    figure("first poll, 1 GiB present, no --from-start", big.get("first_poll_ms", -1), "ms", 10)
    figure("idle poll, 1 KiB file (median)", small.get("idle_poll_ms", -1), "ms")
    figure("idle poll, 1 GiB file (median)", big.get("idle_poll_ms", -1), "ms")
    figure("poll with one new line, 1 KiB file (median)", small.get("append_poll_ms", -1), "ms")
    figure("poll with one new line, 1 GiB file (median)", big.get("append_poll_ms", -1), "ms")

    path = os.path.join(folder, "speech_grow.txt")
    with open(path, "wb") as f:
        f.write(b"+before\n")
    out = bed.wine([exe, win_path(path), "grow", str(1 << 30)], stdout=subprocess.PIPE,
                   stderr=subprocess.DEVNULL, timeout=600).stdout.decode()
    os.remove(path)
    grown = dict((k, float(v)) for k, v in re.findall(r"^(\w+) ([\d.]+)", out, re.M))
    figure("one poll reading 1 GiB of zeros grown between polls", grown.get("grow_poll_ms", -1), "ms")


def model(bed):
    sequences = int(os.environ.get("BENCH_MODEL_SEQUENCES", "12000"))
    seed = int(os.environ.get("BENCH_MODEL_SEED", str(int(time.time()))))
    tmp = os.path.join(bed.scratch, "intake_model")
    os.makedirs(tmp, exist_ok=True)
    env = dict(bed.env, UNIT_TMP=win_path(tmp), FOLLOWER_MODEL_SEQUENCES=str(sequences),
               FOLLOWER_MODEL_SEED=str(seed))
    start = time.time()
    done = subprocess.run(["wine", os.path.join(bed.unit, "test_follower_model.exe")], env=env,
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=3600)
    secs = time.time() - start
    out = done.stdout.decode("utf-8", "replace")
    failures = [l for l in out.splitlines() if l.startswith("FAIL ")]
    print("   model seed %d, %d sequences" % (seed, sequences), flush=True)
    for line in failures:
        print("   " + line[:2000], flush=True)
    figure("model-checked sequences without a difference", 0 if failures else sequences, "sequences",
           sequences, better="higher")
    figure("model-checked follower, time per sequence", secs * 1000 / sequences, "ms")


def run(bed, args):
    for step in (latency, burst, poll_cost, model):
        try:
            step(bed)
        except Exception as e:  # one failed measurement does not hide the others
            print("   %s failed: %s" % (step.__name__, e), flush=True)
