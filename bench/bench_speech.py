"""Speech route figures: what one interrupting line costs in the router (bench_speech_routes.exe),
through NV Access's client to the stand-in NVDA and through the stand-in JAWS API, with braille off
and on. The doubles record every call to a file, as in the other benchmarks, so the figures are an
upper bound of what the routes cost with a real screen reader."""
import os
import re
import subprocess

from benchlib import figure
from testbed import win_path

LINES = 1000
NVDA_AWAY = 1722  # what NV Access's client answers when NVDA does not run


def line_cost(bed, scene, backend, braille):
    out = bed.wine([os.path.join(bed.build, "bench", "bench_speech_routes.exe"), scene.exe_dir_win, backend,
                    str(braille), str(LINES)], env=scene.env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                   timeout=300).stdout.decode()
    return dict((k, float(v)) for k, v in re.findall(r"^(\w+) ([\d.]+)", out, re.M))


def run(bed, args):
    scene = bed.scene("speech_routes")
    scene.install_nvda()
    jaws = scene.start_jaws_window()
    cases = [("NVDA answers, braille off", "auto", 0, None, 1),
             ("NVDA answers, braille on", "auto", 1, None, 1),
             ("auto, NVDA away, JAWS takes it, braille off", "auto", 0, NVDA_AWAY, 4),
             ("auto, NVDA away, JAWS takes it, braille on", "auto", 1, NVDA_AWAY, 4),
             ("backend jaws, braille off", "jaws", 0, None, 4),
             ("backend jaws, braille on", "jaws", 1, None, 4)]
    print("   one interrupting line through speak, %d lines a case:" % LINES, flush=True)
    for name, backend, braille, test_status, route in cases:
        scene.nvda_control(**({"test_status": test_status} if test_status else {}))
        cost = line_cost(bed, scene, backend, braille)
        if cost.get("route") != route:
            print("   %s: spoken by route %s, not %d" % (name, cost.get("route"), route), flush=True)
        figure(name + ", p50", cost.get("line_p50", -1), "ms")
        figure("  p99", cost.get("line_p99", -1), "ms")
    jaws.exit()
    jaws.wait(10)
    scene.cleanup()
