"""Keys for real under Xvfb: xdotool keystrokes reach the bridge's hook as real, non-injected
keys. The hotkeys go to cmd.txt and on to the game; in settings-menu mode the menu keys go to
cmd.txt and never to the game; Escape, a silent mod and another window in front all end the mode.

Reusable helpers: focus_window, focus_game, press, chord, hold, start_keys_scene and Mod, a small
stand-in for the Lua mod that follows cmd.txt and keeps menu_state.txt alive while its menu is
open.
"""
import os
import re
import subprocess
import threading
import time

from testbed import wait_for

GAME_TITLE = "Stand-in Game"
# Virtual-key codes as the stand-in game reports them.
VK = {"F1": 112, "F2": 113, "Up": 38, "Down": 40, "Return": 13, "Escape": 27, "Shift": 16}


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


def log_time(message_line):
    """Seconds of the day from a log line's "[hh:mm:ss.mmm] " stamp."""
    h, m, s = message_line[1:13].split(":")
    return int(h) * 3600 + int(m) * 60 + float(s)


def log_line_time(scene, pattern):
    rx = re.compile(pattern)
    for line in scene.log().split("\r\n"):
        if rx.search(line[15:]):
            return log_time(line)
    raise AssertionError("no log line /%s/" % pattern)


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


def test_hotkeys_reach_the_mod_and_the_game(scene):
    game, bridge, mod = start_keys_scene(scene, mod=False)
    press(scene, game, "F1")
    wait_cmd(scene, "F1")
    wait_for(lambda: VK["F1"] in game_keys(game), 5, "F1 at the game")
    line = cmd_lines(scene)[0]
    assert re.fullmatch(r"key F1 \d+", line), line
    assert scene.read("cmd.txt", "rb").endswith(b"\n") and b"\r" not in scene.read("cmd.txt", "rb")
    # With Shift held the press is only counted.
    time.sleep(0.35)
    chord(scene, game, "shift", "F1")
    scene.wait_log(r"^key F1 pressed, ignored \(modifier held \(NVDA key / Ctrl / Alt / Shift\)\)$")
    assert cmd_names(scene) == ["F1"]
    finish(scene, game, bridge, mod)
    assert scene.log_messages()[-1] == "bye (0 lines spoken, 1 hotkey presses forwarded, 1 ignored)"


def test_settings_menu_swallows_its_keys_and_escape_ends_it(scene):
    game, bridge, mod = start_keys_scene(scene)
    open_menu(scene, game)
    scene.wait_log("^keyboard hook installed$")
    press(scene, game, "Down")
    wait_cmd(scene, "Down")
    # Held: the first press and every repeat go to the mod.
    hold(scene, game, "Up", 1.3)
    wait_cmd(scene, "Up", 4)
    # Held Enter is one command.
    hold(scene, game, "Return", 1.0)
    wait_cmd(scene, "Enter")
    # A chord with a modifier is the game's.
    press(scene, game, "shift+Up")
    wait_for(lambda: VK["Up"] in game_keys(game), 5, "Shift+Up at the game")
    time.sleep(0.3)
    names = cmd_names(scene)
    assert names.count("Enter") == 1, names
    ups = names.count("Up")
    assert names[:3] == ["F2", "Armed", "Down"], names
    for vk in (VK["Down"], VK["Return"]):
        assert vk not in game_keys(game) and vk not in game_keys(game, "keyup"), game.events()
    # The Up that reached the game is the one with Shift, down and up once each.
    assert game_keys(game).count(VK["Up"]) == 1 and game_keys(game, "keyup").count(VK["Up"]) == 1
    assert game_keys(game).index(VK["Shift"]) < game_keys(game).index(VK["Up"])
    # Every line carries a tick, the menu keys the tick of the hook.
    assert all(re.fullmatch(r"key \w+ \d+", line) for line in cmd_lines(scene))

    press(scene, game, "Escape")
    wait_cmd(scene, "Escape")
    scene.wait_log(r"^settings menu closed \(Escape\): keys pass to the game again$")
    scene.wait_log("^keyboard hook removed$", timeout=5)
    lingered = log_line_time(scene, "^keyboard hook removed$") - \
        log_line_time(scene, r"^settings menu closed \(Escape\)")
    assert 1.45 <= lingered <= 2.5, lingered
    assert VK["Escape"] not in game_keys(game)
    # Closed: the menu keys are the game's again.
    press(scene, game, "Down")
    wait_for(lambda: VK["Down"] in game_keys(game), 5, "Down at the game after the close")
    assert cmd_names(scene).count("Up") == ups and "MenuOff" not in cmd_names(scene)
    finish(scene, game, bridge, mod)


test_settings_menu_swallows_its_keys_and_escape_ends_it.timeout = 90


def test_the_mod_opens_and_closes_the_menu_through_menu_state(scene):
    game, bridge, mod = start_keys_scene(scene)
    time.sleep(0.3)  # past the bridge's baseline
    mod.set_open(True)
    scene.wait_log(r"^settings menu open \(opened by the Lua mod\): ")
    wait_cmd(scene, "Armed")
    press(scene, game, "space")
    wait_cmd(scene, "Space")
    mod.set_open(False)
    scene.wait_log(r"^settings menu closed \(Lua closed the menu\): keys pass to the game again$")
    press(scene, game, "space")
    wait_for(lambda: 32 in game_keys(game), 5, "Space at the game after the close")
    assert cmd_names(scene) == ["Armed", "Space"]
    finish(scene, game, bridge, mod)


def test_a_silent_mod_ends_the_menu_after_5_s(scene):
    game, bridge, _ = start_keys_scene(scene, mod=False)
    opened = time.time()
    open_menu(scene, game)
    press(scene, game, "Down")
    wait_cmd(scene, "Down")
    reason = r"the Lua mod does not answer \(no menu_state.txt update for 5 s\)"
    scene.wait_log(r"^FAILSAFE: %s -> menu flag cleared, nothing swallowed any more$" % reason, timeout=10)
    took = time.time() - opened
    assert 4.9 <= took <= 8, took
    scene.wait_log(r"^settings menu closed \(%s\): keys pass to the game again$" % reason, timeout=1)
    wait_cmd(scene, "MenuOff")
    press(scene, game, "Down")
    wait_for(lambda: VK["Down"] in game_keys(game), 5, "Down at the game after the failsafe")
    assert cmd_names(scene).count("Down") == 1
    finish(scene, game, bridge, None)


def test_another_window_in_front_for_more_than_2_s_ends_the_menu(scene):
    # Another program's window whose class differs from the game's only in letter case. A class
    # name reads as first registered on the desktop, so this window comes first.
    other_title = "Other Window"
    other = scene.start_game("--title", other_title, "--class", "unrealwindow", name="other.exe",
                             folder=os.path.join(scene.root, "elsewhere"))
    game, bridge, mod = start_keys_scene(scene)
    focus_game(scene, game)
    open_menu(scene, game)
    # Away briefly: the mode stays, and the keys belong to the window in front.
    left = time.time()
    focus_window(scene, other, other_title)
    xdotool(scene, "key", "Down")
    wait_for(lambda: VK["Down"] in game_keys(other), 5, "Down at the other window")
    focus_game(scene, game)
    back = time.time()
    time.sleep(0.5)
    if back - left < 1.6:  # a focus change that had to be retried may have taken longer
        assert "MenuOff" not in cmd_names(scene)
        assert not [m for m in scene.log_messages() if m.startswith("FAILSAFE")]
    # Away for good.
    away = time.time()
    focus_window(scene, other, other_title)
    scene.wait_log(r"^FAILSAFE: game window not in front for more than 2 s -> menu flag cleared, "
                   r"nothing swallowed any more$", timeout=8)
    took = time.time() - away
    assert 1.95 <= took <= 5, took
    wait_cmd(scene, "MenuOff")
    assert "Down" not in cmd_names(scene)
    finish(scene, game, bridge, mod)
    other.kill()


test_another_window_in_front_for_more_than_2_s_ends_the_menu.timeout = 90


def test_shutdown_with_the_menu_open_gives_the_keyboard_back(scene):
    # The bridge follows a game without a window; another window of the game's class is in front
    # and counts as the game, so it keeps receiving keys after the bridge has ended.
    scene.write_ini("[Speech]\nBackend=log\n")
    followed = scene.start_game("--no-window").wait_ready()
    game = scene.start_game("--title", GAME_TITLE)
    mod = Mod(scene)
    bridge = scene.start("--pid", str(followed.pid))
    scene.wait_log("hook thread ready")
    mod.start()
    open_menu(scene, game)
    press(scene, game, "Down")
    wait_cmd(scene, "Down")
    mod.stop()
    followed.command_nowait("exit")
    assert bridge.wait(10) == 0
    assert VK["Down"] not in game_keys(game)
    press(scene, game, "Down")
    wait_for(lambda: VK["Down"] in game_keys(game), 5, "Down at the game after the bridge ended")
    assert cmd_names(scene).count("Down") == 1


def test_a_frozen_screen_reader_does_not_hold_the_keyboard(scene):
    """While the main loop hangs in speakText, a fresh menu key press goes to the game; once the
    loop is back the menu swallows again, and nothing was spoken twice."""
    scene.install_nvda()
    game = scene.start_game("--title", GAME_TITLE)
    mod = Mod(scene)
    bridge = scene.start("--pid", str(game.pid))
    scene.wait_log("hook thread ready")
    focus_game(scene, game)
    mod.start()
    open_menu(scene, game)
    scene.nvda_control(speak_block_ms=5000)
    scene.append_speech("frozen line")
    scene.wait_log(r"^say!: frozen line$")
    scene.nvda_control()  # the call under way blocks; later ones answer at once
    time.sleep(2.0)
    press(scene, game, "Down")
    wait_for(lambda: VK["Down"] in game_keys(game) and VK["Down"] in game_keys(game, "keyup"), 3,
             "Down at the game during the freeze")
    assert "Down" not in cmd_names(scene)

    wait_for(lambda: ("speak", "frozen line") in scene.spoken_nvda(), 10, "the frozen line")
    scene.wait_log(r"^main loop stood still for (\d+) ms; 1 menu key presses went to the game meanwhile$")
    stood_ms = int(re.search(r"for (\d+) ms", [m for m in scene.log_messages() if "stood still" in m][0]).group(1))
    assert 4500 <= stood_ms <= 8000, stood_ms
    press(scene, game, "Up")
    wait_cmd(scene, "Up")
    time.sleep(0.3)
    assert VK["Up"] not in game_keys(game) and "MenuOff" not in cmd_names(scene)
    assert scene.spoken_nvda().count(("speak", "frozen line")) == 1
    finish(scene, game, bridge, mod)
    assert scene.log_messages()[-1].startswith("bye (")


test_a_frozen_screen_reader_does_not_hold_the_keyboard.timeout = 90
