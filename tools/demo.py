#!/usr/bin/env python3
"""make demo: the bridge at work under Wine, beside the project's stand-in game, SAPI voice and
NVDA (reached through NV Access's controller client), with a scripted Lua mod that talks to it
through mod/tolvane_speech.lua. Prints what was spoken, what the mod received and the log.

usage: demo.py --build DIR [--hang]
"""
import argparse
import os
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests"))
import helpers as h  # noqa: E402
import testbed  # noqa: E402


def title(text):
    print("\n== " + text, flush=True)


def show(label, lines):
    print("   %s:" % label)
    for line in lines:
        print("      " + line)
    if not lines:
        print("      (nothing)")


PRIORITIES = {"0": "normal", "1": "next", "2": "now"}


def spoken(scene):
    def line(event):
        if event[0] == "ssml":
            return "speakSsml, priority %s (%s), %r" % (event[1], PRIORITIES.get(event[1], "?"), event[2])
        return event[0] if len(event) == 1 else "speak %r" % event[1]
    return ["NVDA  " + line(event) for event in scene.spoken_nvda()]


def show_alert(scene):
    """What NVDA was told for each alert, and whether a cancel came right before it."""
    events = scene.spoken_nvda()
    for at, event in enumerate(events):
        if event[0] == "ssml":
            cancelled = at > 0 and events[at - 1] == ("cancel",)
            print("   the alert: one speakSsml of priority %s, %s"
                  % (PRIORITIES.get(event[1], event[1]), "after a cancel" if cancelled else "no cancel before it"))
    print("   (NVDA speaks priority \"now\" at once, then resumes the speech it cut into)")


def voiced(scene, since=0):
    return ["SAPI  %s" % " ".join(rec[1:]) for rec in scene.voice_calls()[since:]]


def one_shot_modes(bed):
    title("one-shot modes: --check and --say")
    scene = bed.scene("demo_oneshot")
    code = scene.run("--check")
    print("   --check without the NVDA client beside the exe: exit %d" % code)
    scene.install_nvda()
    print("   --check with the client, NVDA running:         exit %d" % scene.run("--check"))
    scene.nvda_control(running=0)
    print("   --check with the client, NVDA not running:     exit %d" % scene.run("--check"))
    scene.nvda_control(running=1)
    print("   --say 'Hello from the bridge' (NVDA):           exit %d" % scene.run("--say", "Hello from the bridge"))
    print("   --say 'queued behind it' --queue (NVDA):        exit %d"
          % scene.run("--say", "queued behind it", "--queue"))
    scene.nvda_control(running=0)
    print("   --say 'NVDA is away' (auto falls back to SAPI): exit %d" % scene.run("--say", "NVDA is away"))
    jaws = scene.start_jaws_window()
    print("   --say 'JAWS runs' (auto: NVDA away, JAWS next): exit %d" % scene.run("--say", "JAWS runs"))
    jaws.exit()
    jaws.wait(10)
    print("   --say 'only NVDA' --backend nvda:               exit %d"
          % scene.run("--say", "only NVDA", "--backend", "nvda"))
    print("   --say 'just logged' --backend log:              exit %d"
          % scene.run("--say", "just logged", "--backend", "log"))
    show("the stand-in NVDA received, through NV Access's client", spoken(scene))
    show("the stand-in SAPI voice received", voiced(scene))
    show("the stand-in JAWS received", ["JAWS  %s" % " ".join(rec[1:]) for rec in scene.jaws_calls()])
    show("TolvaneSpeech.log", scene.log().splitlines())
    scene.cleanup()


def resident_run(bed, hang):
    title("the game starts the bridge through TolvaneLaunch.dll; a scripted mod talks to it")
    scene = bed.scene("demo_resident")
    scene.install_nvda()
    if hang:
        scene.write_ini("[Debug]\r\nHangSeconds=8\r\n")
    dll = h.install_launcher(scene)
    mod = h.LuaMod(scene)  # the scripted mod, on mod/tolvane_speech.lua
    print("   the mod's calls, and what each appends to speech.txt:")
    mod_calls(scene, mod, ["bridge:reset()", 'bridge:say("Tolvane Doduzu version 1.0 loaded")'])
    mod.call("names()")  # from here on it reads its commands, as a mod does every frame
    print("   (so far the bridge does not run)")
    game = h.start_launching_game(scene, dll, title="Tolvane")
    print("   the stand-in game %s (pid %d) called tolvane_launch; TolvaneLaunch.log says:"
          % (testbed.GAME_EXE, game.pid))
    print("      " + h.launch_log(scene).strip())
    bridge = h.watch_exit(scene, h.started_pid(scene, game))
    scene.wait_log("^hook thread ready")

    time.sleep(1.0)  # the version line waits until the game window has been in front for 700 ms
    mod_calls(scene, mod, [
        'bridge:queue("Welcome back, captain.")',  # a say would cut off a version line still held
        'bridge:queue("The harbour is quiet tonight.")',
        'bridge:alert("Man overboard!")',
        'bridge:say("Enemy ship on the horizon!")',
        'bridge:queue("-5 gold for the harbour fee")',
        'bridge:watchdog(3, "Are you still there?")',
        'bridge:queue("This line waits for the watchdog to fire.")',
    ])
    time.sleep(3.5)  # the watchdog's 3 s pass without bridge:ok()
    mod_calls(scene, mod, ["bridge:stop()", 'bridge:say("After the stop, speech goes on.")'])

    pressed = drive_keys(scene, game)

    if hang:
        hang_scene(scene, game)

    game.command_nowait("exit")
    bridge.wait(30)
    print("   the game ended; the bridge %s" % bridge.stdout.read().decode().strip().replace("exit", "exited with code"))
    show("the stand-in NVDA received, through NV Access's client", spoken(scene))
    show_alert(scene)
    if pressed:
        show("cmd.txt", scene.read("cmd.txt").splitlines())
        print("   the mod's bridge:commands() gave: %s" % mod.call("names()").replace(" ", ", "))
    if hang:
        dumps = [f for f in os.listdir(scene.dump_dir) if f.endswith(".dmp")]
        show("hang dumps in %s" % scene.dump_dir, dumps)
    show("TolvaneSpeech.log", scene.log().splitlines())
    scene.cleanup()


def mod_calls(scene, mod, calls):
    for call in calls:
        before = len(scene.read("speech.txt", "rb"))
        answer = mod.call(call)
        added = scene.read("speech.txt", "rb")[before:].decode("utf-8").splitlines()
        print("      %-58s %s" % (call, (" | ".join(added) or "(nothing appended)") if answer == "true" else answer))
        time.sleep(0.4)


def drive_keys(scene, game):
    title("keys: F1, then the settings menu with F2, the arrows and Escape")
    try:
        h.focus_game(scene, game, "Tolvane")
    except AssertionError:
        print("   (the stand-in game could not be brought to the front; keys skipped)")
        return False
    mod = h.Mod(scene)  # follows cmd.txt and keeps menu_state.txt alive while its menu is open
    mod.start()
    steps = [("F1", "a hotkey: the mod gets it, and so does the game"),
             ("F2", "the settings menu opens; the keyboard hook is armed"),
             ("Down", "swallowed: only the mod gets it"), ("Down", "swallowed"), ("Right", "swallowed"),
             ("Up", "swallowed"), ("Escape", "swallowed, and the menu closes")]
    for name, what in steps:
        h.press(scene, game, name, title="Tolvane")
        print("   pressed %-7s %s" % (name, what))
        time.sleep(0.4)
    try:
        scene.wait_log("^keyboard hook removed$", timeout=5)
    except AssertionError:
        pass
    mod.stop()
    seen = [int(e.split()[1]) for e in game.events() if e.startswith(("keydown", "sysdown"))]
    names = {vk: name for name, vk in h.VK.items()}
    print("   the game's own window received: %s" % ", ".join(names.get(vk, str(vk)) for vk in seen))
    return True


def hang_scene(scene, game):
    title("hang: the game stops answering")
    h.freeze(game)
    print("   the game stopped pumping messages; the watchdog announces it and saves a dump")
    try:
        h.wait_dump(scene, 1, timeout=120)
    except AssertionError as e:
        print("   " + str(e).splitlines()[0])
    h.thaw(game)
    scene.wait_log("^game window responsive again", timeout=10)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default="build")
    parser.add_argument("--hang", action="store_true", help="also show a hung game (takes about a minute)")
    args = parser.parse_args()
    bed = testbed.TestBed(args.build, "demo")
    try:
        bed.start()
        resident_run(bed, args.hang)
        one_shot_modes(bed)
    finally:
        bed.stop()


if __name__ == "__main__":
    main()
