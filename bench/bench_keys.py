"""Keys: the hook procedure's cost per event with the menu open and the real foreground query
(target p99 at most 50 us), and the latency from a real key press (xdotool) to its cmd.txt line
(target p99 at most 40 ms), for a hotkey and for a swallowed menu key.

The latency clock starts when the press is handed to a running xdotool, so the figures include
xdotool's and the X server's share (well under a millisecond) and Wine's. Under Wine a hotkey is
seen through GetAsyncKeyState, which Wine answers from a per-thread cache for up to 50 ms in a
process that gets no input of its own: that cache, not the bridge, sets most of the F1 figure.
"""
import os
import re
import subprocess
import time

import helpers as h
from benchlib import figure, percentile

HOOK_EVENTS = 100000
HOTKEY_PRESSES = 60
MENU_PRESSES = 60


def hook_cost(bed, scene, game):
    h.focus_game(scene, game)
    exe = os.path.join(bed.build, "bench", "bench_keys_hook.exe")
    out = subprocess.run(["wine", exe, str(game.pid), str(HOOK_EVENTS)], env=scene.env, stdout=subprocess.PIPE,
                         stderr=subprocess.DEVNULL, text=True, timeout=120).stdout
    values = dict(re.findall(r"(\w+)=([\d.]+)", out))
    if "p99_us" not in values:
        print("   bench_keys_hook gave no figures: %r" % out, flush=True)
        return
    figure("hook proc per event, p50 (%s of %s swallowed)" % (values["swallowed"], values["events"]),
           float(values["p50_us"]), "us")
    figure("hook proc per event, p99", float(values["p99_us"]), "us", 50)
    figure("hook proc per event, max", float(values["max_us"]), "us")
    if "given_p99_us" in values:
        # Under Wine each of these window-manager calls is a round trip to wineserver.
        figure("  of which the foreground query alone, p50", float(values["query_p50_us"]), "us")
        figure("  of which the foreground query alone, p99", float(values["query_p99_us"]), "us")
        figure("hook proc with the foreground answer given, p50", float(values["given_p50_us"]), "us")
        figure("hook proc with the foreground answer given, p99", float(values["given_p99_us"]), "us")


def latency_of(scene, game, key, presses, gap):
    """Milliseconds from the key press to the grown cmd.txt, per press. One xdotool process reads
    its commands from a pipe, so a press goes out within a millisecond of being asked for."""
    path = scene.path("cmd.txt")
    typist = subprocess.Popen(["xdotool", "-"], stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                              env=dict(os.environ, DISPLAY=scene.env["DISPLAY"]), text=True, bufsize=1)
    results = []
    try:
        for _ in range(presses):
            h.focus_game(scene, game)
            size = os.path.getsize(path)
            start = time.perf_counter()
            typist.stdin.write("key %s\n" % key)
            typist.stdin.flush()
            deadline = start + 2
            while os.path.getsize(path) == size and time.perf_counter() < deadline:
                time.sleep(0.0002)
            if os.path.getsize(path) != size:
                results.append((time.perf_counter() - start) * 1000)
            time.sleep(gap)
    finally:
        typist.stdin.close()
        typist.wait(5)
    return results


def run(bed, args):
    scene = bed.scene("bench_keys")
    game, bridge, mod = h.start_keys_scene(scene)
    try:
        hook_cost(bed, scene, game)

        # F1 is debounced for 300 ms per key.
        f1 = latency_of(scene, game, "F1", HOTKEY_PRESSES, 0.35)
        figure("F1 press to cmd.txt line, p50 (%d of %d seen)" % (len(f1), HOTKEY_PRESSES), percentile(f1, 50), "ms")
        figure("F1 press to cmd.txt line, p99", percentile(f1, 99), "ms", 40)

        h.open_menu(scene, game)
        down = latency_of(scene, game, "Down", MENU_PRESSES, 0.1)
        figure("Down (swallowed) to cmd.txt line, p50 (%d of %d seen)" % (len(down), MENU_PRESSES),
               percentile(down, 50), "ms")
        figure("Down (swallowed) to cmd.txt line, p99", percentile(down, 99), "ms", 40)
    finally:
        h.finish(scene, game, bridge, mod)
