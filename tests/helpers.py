"""Helpers that the integration tests, the demo and the benchmarks share, on top of the test bed
(testbed.py): a bridge speaking beside the stand-in game, keystrokes through xdotool with the
stand-in game in front, a stand-in mod in Python (Mod) and one on the Lua module (LuaMod), the
launcher called from the stand-in game, a frozen game for the hang watchdog, and times read from
the log.
"""
import os
import re
import shutil
import subprocess
import threading
import time

from testbed import ROOT, Process, wait_for


# ------------------------------------------------------------------------------ speech
def start_bridge(scene, *options, client="2025.1.1", game_options=()):
    """An NVDA client beside the bridge (scene.install_nvda(client)), the stand-in game and the
    bridge attached to it by --pid with options; returns (game, bridge) once the bridge has looked
    for speech.txt, so that a line written from then on is new to it."""
    scene.install_nvda(client)
    game = scene.start_game(*game_options)
    bridge = scene.start("--pid", str(game.pid), *options)
    scene.wait_log(r"^speech file (not present yet|found)", timeout=20)
    return game, bridge


def end_bridge(scene, game, bridge):
    """The game exits and the bridge with it, with exit code 0; then everything the scene started
    ends, the stand-in NVDA too, so that the next scene may serve its endpoint."""
    game.command_nowait("exit")
    try:
        assert bridge.wait(10) == 0
    finally:
        scene.cleanup()


# ------------------------------------------------------------------------------ keys
GAME_TITLE = "Stand-in Game"
# Virtual-key codes as the stand-in game reports them, by their xdotool names.
VK = {"F1": 112, "F2": 113, "Up": 38, "Down": 40, "Right": 39, "Return": 13, "Escape": 27, "Shift": 16}


def xdotool(scene, *args):
    return subprocess.run(["xdotool"] + [str(a) for a in args], env=dict(os.environ, DISPLAY=scene.env["DISPLAY"]),
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, timeout=20)


def x_window(scene, title):
    found = xdotool(scene, "search", "--name", "^%s$" % re.escape(title)).stdout.split()
    return found[0] if found else None


_fronts = [0]


def focus_window(scene, game, title, attempts=6):
    """Brings a stand-in game's window to the front for Wine and gives its X window the keyboard
    focus. The window asks for the foreground itself (its "front" command): an xdotool focus
    change alone is lost now and then without a window manager, and is no news to Wine at all
    when the X focus is already there."""
    for _ in range(attempts):
        window = x_window(scene, title)
        if not window:
            time.sleep(0.2)
            continue
        if xdotool(scene, "getwindowfocus").stdout.strip() != window:
            xdotool(scene, "windowfocus", "--sync", window)
        if game.in_front():
            return
        _fronts[0] += 1
        game.command("front %d" % _fronts[0])  # a new text, or the game would not run it again
        deadline = time.time() + 1.0
        while time.time() < deadline:
            if game.in_front():
                return
            time.sleep(0.03)
    raise AssertionError("could not bring %r to the front" % title)


def focus_game(scene, game, title=GAME_TITLE):
    """Keystrokes go to the X focus and on to Wine's foreground: both must be the game's."""
    window = x_window(scene, title)
    if window and game.in_front() and xdotool(scene, "getwindowfocus").stdout.strip() == window:
        return
    focus_window(scene, game, title)


def press(scene, game, *keys, title=GAME_TITLE):
    """Taps each key (xdotool names, "shift+Up" for a chord) with the game in front."""
    for key in keys:
        focus_game(scene, game, title)
        xdotool(scene, "key", key)


def chord(scene, game, modifier, key, title=GAME_TITLE):
    """Taps key while modifier is held long enough for the bridge's 20 ms polling to see it (an
    xdotool "shift+F1" lets Shift go within a millisecond or two)."""
    focus_game(scene, game, title)
    xdotool(scene, "keydown", modifier)
    time.sleep(0.1)
    xdotool(scene, "key", key)
    time.sleep(0.1)
    xdotool(scene, "keyup", modifier)


def hold(scene, game, key, seconds, title=GAME_TITLE):
    """Holds a key down long enough for auto-repeat, then lets it go."""
    focus_game(scene, game, title)
    xdotool(scene, "keydown", key)
    time.sleep(seconds)
    xdotool(scene, "keyup", key)


def cmd_lines(scene):
    return scene.read("cmd.txt").splitlines()


def cmd_names(scene):
    return [line.split()[1] for line in cmd_lines(scene)]


def wait_cmd(scene, name, count=1, timeout=5):
    return wait_for(lambda: cmd_names(scene).count(name) >= count, timeout,
                    "%d x %s in cmd.txt: %r" % (count, name, cmd_names(scene)))


def game_keys(game, kind="keydown"):
    """Virtual-key codes of the key messages the game's window received."""
    return [int(e.split()[1]) for e in game.events() if e.split()[0] == kind]


class Mod(threading.Thread):
    """Follows cmd.txt as the mod does (F2 toggles its menu; F4, Escape, Backspace, MenuOff and
    NoHook close it) and writes menu_state.txt: "menu 1 N" every 250 ms while its menu is open,
    "menu 0 N" once when it closes. Silent while closed, so it never reopens the bridge's mode
    by accident. set_open() opens or closes the menu from the mod's side."""

    def __init__(self, scene):
        threading.Thread.__init__(self, daemon=True)
        self.scene = scene
        self.open = False
        self.serial = 0
        self.seen = 0
        self.running = True
        self.lock = threading.Lock()
        self.write_state()  # the bridge's baseline

    def write_state(self):
        self.serial += 1
        tmp = self.scene.path("menu_state.tmp")
        with open(tmp, "w") as f:
            f.write("menu %d %d\n" % (1 if self.open else 0, self.serial))
        os.replace(tmp, self.scene.path("menu_state.txt"))

    def set_open(self, value):
        with self.lock:
            self.open = value
            self.write_state()

    def follow_cmd(self):
        names = cmd_names(self.scene)
        for name in names[self.seen:]:
            if name == "F2":
                self.open = not self.open
                self.write_state()
            elif name in ("F4", "Escape", "Backspace", "MenuOff", "NoHook") and self.open:
                self.open = False
                self.write_state()
        self.seen = len(names)

    def run(self):
        last = 0
        while self.running:
            with self.lock:
                self.follow_cmd()
                if self.open and time.time() - last >= 0.25:
                    self.write_state()
                    last = time.time()
            time.sleep(0.03)

    def stop(self):
        self.running = False
        self.join(2)


def start_keys_scene(scene, mod=True, backend="log"):
    """The stand-in game in front, the bridge attached to it, and (unless mod is False) a mod."""
    scene.write_ini("[Speech]\nBackend=%s\n" % backend)
    game = scene.start_game("--title", GAME_TITLE)
    helper = Mod(scene) if mod else None
    bridge = scene.start("--pid", str(game.pid))
    scene.wait_log("hook thread ready")
    # Lines written before the first poll would be taken for old ones and skipped.
    scene.wait_log(r"^speech file (found|not present)")
    focus_game(scene, game)
    if helper:
        helper.start()
    return game, bridge, helper


def finish(scene, game, bridge, mod):
    if mod:
        mod.stop()
    game.command_nowait("exit")
    assert bridge.wait(10) == 0


def open_menu(scene, game):
    before = cmd_names(scene).count("Armed")
    press(scene, game, "F2")
    wait_cmd(scene, "Armed", before + 1)


# ------------------------------------------------------------------------------ the log
def project_version():
    """The release's version, from the one place it is set."""
    with open(os.path.join(ROOT, "CMakeLists.txt")) as f:
        return re.search(r"^project\(Tolvane VERSION (\S+)", f.read(), re.M).group(1)


STARTED = "TolvaneSpeech %s started, pid " % project_version()  # how a resident run's log begins


# ------------------------------------------------------------------------------ log times
def log_times(scene, pattern, path=None):
    """Seconds of the day at which the log lines matching pattern were written."""
    text = scene.read(path or scene.log_path, "rb").decode("utf-8", "replace")
    out = []
    for line in text.split("\r\n"):
        m = re.match(r"^\[(\d\d):(\d\d):(\d\d)\.(\d\d\d)\] (.*)$", line)
        if m and re.search(pattern, m.group(5)):
            out.append(int(m.group(1)) * 3600 + int(m.group(2)) * 60 + int(m.group(3)) + int(m.group(4)) / 1000)
    return out


def seconds_between(earlier, later):
    return (later - earlier) % 86400


# ------------------------------------------------------------------------------ launcher
LAUNCHED = r"^started TolvaneSpeech\.exe, pid (\d+) \(game pid (\d+)\)\r\n$"


def install_launcher(scene):
    path = scene.path("TolvaneLaunch.dll")
    shutil.copy(os.path.join(scene.bed.bin, "TolvaneLaunch.dll"), path)
    return scene.win(path)


def launch_events(game):
    return [e for e in game.events() if e.startswith("launch")]


def launch(game, dll, *words):
    """Has the game call the export (again); returns the game's "launched ..." event."""
    before = len(launch_events(game))
    game.command(" ".join(("launch", dll) + words))
    wait_for(lambda: len(launch_events(game)) > before, 10, "launch done")
    return launch_events(game)[-1]


def start_launching_game(scene, dll, title=GAME_TITLE):
    """The stand-in game, which calls the export at its start before it shows its window."""
    game = scene.start_game("--title", title, "--launch", dll)
    assert launch_events(game) == ["launched 0"]
    return game


def launch_log(scene):
    return scene.read("TolvaneLaunch.log", "rb").decode("ascii")


def started_pid(scene, game):
    """The bridge's pid from the launch log, which must name this game."""
    found = re.match(LAUNCHED, launch_log(scene))
    assert found, launch_log(scene)
    assert int(found.group(2)) == game.pid
    return int(found.group(1))


def watch_exit(scene, pid):
    """A process that holds a handle on pid and prints its exit code when it ends."""
    waiter = scene.start_tool("wait-process", str(pid), "60000")
    assert waiter.stdout.readline().strip() == b"waiting"
    return waiter


# ------------------------------------------------------------------------------ hang
NOT_RESPONDING = "game window not responding (IsHungAppWindow)"
FROZEN = "Game seems frozen. Saving debug info."
STILL_FROZEN = "Still frozen. Saving more debug info."
SAVED = "Debug info saved. You can close the game now."
DUMP_NAME = re.compile(r"^hang_\d{4}_\d\d_\d\d_\d\d_\d\d_\d\d\.dmp$")
WRITTEN = re.compile(r"^hang dump written: (.*) \((\d+) bytes, (\d+) ms\)$")


def start_watched_game(scene, hang_seconds=8, nvda=True):
    """Stand-in game plus a bridge attached to it by --pid with the watchdog at hang_seconds;
    returns (game, bridge) once the bridge watches the game's window."""
    if nvda:
        scene.install_nvda()
    scene.write_ini("[Debug]\nHangSeconds=%d\n" % hang_seconds)
    game = scene.start_game()
    bridge = scene.start("--pid", str(game.pid))
    scene.wait_log(r"^hang watchdog: watching game window [0-9A-F]{16} class UnrealWindow$", timeout=20)
    return game, bridge


def freeze(game):
    """The game stops pumping messages until thaw()."""
    game.command("hang")


def thaw(game):
    """Any new control content ends the freeze; this one does nothing else."""
    game.command("resume")


def wait_dump(scene, count=1, timeout=40):
    """Waits for the count-th "hang dump written" line; returns (path, bytes, ms) of that dump."""
    scene.wait_log(WRITTEN.pattern, timeout=timeout, count=count)
    m = [WRITTEN.match(l) for l in scene.log_messages() if WRITTEN.match(l)][count - 1]
    return m.group(1), int(m.group(2)), int(m.group(3))


def dumps(folder):
    return sorted(n for n in os.listdir(folder) if n.endswith(".dmp"))


# ------------------------------------------------------------------------------ Lua mod
LUA_MOD = os.path.join(ROOT, "tests", "integration", "lua_mod.lua")


class LuaMod:
    """call() hands the mod a Lua expression and returns its answer line; send() and answer()
    split that for one that runs while the test goes on. Ended with the scene."""

    def __init__(self, scene):
        self.popen = subprocess.Popen(["lua5.4", LUA_MOD, os.path.join(ROOT, "mod", "tolvane_speech.lua"),
                                       scene.exe_dir], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        scene.processes.append(Process(self.popen, "lua mod"))

    def send(self, expression):
        self.popen.stdin.write(expression + "\n")
        self.popen.stdin.flush()

    def answer(self):
        return self.popen.stdout.readline().rstrip("\n")

    def call(self, expression):
        self.send(expression)
        return self.answer()
