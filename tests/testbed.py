"""The Wine test bed shared by the test runner, the demo and the benchmarks.

A TestBed owns a private Wine prefix (copied from a template kept in the build tree), its own
Xvfb display on a free display number and one warm wineserver; stop() shuts all of them down and
is safe to call twice. A Scene is one test's folder tree laid out like a game install (the
bridge three levels below the game's folder) with helpers to run the bridge, the stand-in game
and the doubles, and to read what they recorded.
"""
import importlib.util
import os
import re
import shutil
import subprocess
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
GAME_EXE = "Tolvane-Win64-Shipping.exe"
ALT_GAME_EXE = "Quellmoor-Win64-Shipping.exe"
SPVOICE_CLSID = "{96749377-3391-11D2-9EE3-00C04F797396}"
JAWS_PROGID = "FreedomSci.JawsApi"
JAWS_CLSID = "{ED206472-812A-4F94-B893-EC21452F9C2D}"  # the stand-in's own
# The stand-in COM servers the prefix registers: DLL, class, ProgID that names the class (or None).
COM_STANDINS = (("voice_stub.dll", SPVOICE_CLSID, None), ("jaws_stub.dll", JAWS_CLSID, JAWS_PROGID))
JAWS_WINDOW_CLASS = "JFWUI2"
# Installed voices for the Voice setting to choose from: each token's key and its name. They come
# before Wine's own voice, so the first is the one a voice speaks with by default.
VOICE_TOKENS = (("Test Alto", "Alto Test Voice"), ("Test Bass", "Bass Test Voice"))
# NV Access's controller clients as the project vendors them, by NVDA version; each speaks to the
# stand-in NVDA (doubles/nvda_server.exe).
NVDA_CLIENT_DIR = os.path.join(ROOT, "third_party", "nvda-controller-client")
NVDA_CLIENTS = {"2025.1.1": "2025.1.1-x64/nvdaControllerClient.dll", "2023.3": "2023.3-x64/nvdaControllerClient64.dll"}
# The project's stand-in client DLLs, which answer by themselves.
NVDA_STUBS = {"stub": "nvdaControllerClient.dll", "missing_export": "nvda_stub_missing_export.dll"}


def load_module(path):
    """A test or benchmark file as a module, by its path."""
    found = importlib.util.spec_from_file_location(os.path.splitext(os.path.basename(path))[0], path)
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    return module


def win_path(path):
    """The Wine (Z:) form of a Linux path."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class TestBed:
    def __init__(self, build, name="test"):
        self.build = os.path.abspath(build)
        self.bin = os.path.join(self.build, "bin")
        self.doubles = os.path.join(self.build, "doubles")
        self.unit = os.path.join(self.build, "unit")
        self.template = os.path.join(self.build, "wine-template")
        self.prefix = os.path.join(self.build, name + "-prefix")
        self.scratch = os.path.join(self.build, name + "-tmp")
        self.xvfb = None
        self.display = None
        self.started = False
        self.env = {}

    # ----------------------------------------------------------------- set-up and shut-down
    def start(self):
        self._make_template()
        shutil.rmtree(self.prefix, ignore_errors=True)
        subprocess.run(["cp", "-a", self.template, self.prefix], check=True)
        shutil.rmtree(self.scratch, ignore_errors=True)
        os.makedirs(self.scratch)
        self._start_xvfb()
        self.env = dict(os.environ)
        self.env.update({
            "WINEPREFIX": self.prefix,
            "WINEDEBUG": "-all",
            "DISPLAY": self.display,
            "LANG": "C.UTF-8",
            "LC_ALL": "C.UTF-8",
            "WINEDLLOVERRIDES": "winemenubuilder.exe=d;mscoree,mshtml=",
        })
        self.env.pop("VOICE_STUB_DIR", None)
        self.env.pop("JAWS_STUB_DIR", None)
        # One wineserver for the whole run keeps every process start warm; it lingers 30 s at
        # most after the last process, so even a killed runner leaves nothing behind for long.
        subprocess.run(["wineserver", "-p30"], env=self.env, check=True)
        self.started = True
        self._registry()

    def stop(self):
        if self.env.get("WINEPREFIX"):
            subprocess.run(["wineserver", "-k"], env=self.env, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
        if self.xvfb:
            self.xvfb.terminate()
            try:
                self.xvfb.wait(5)
            except subprocess.TimeoutExpired:
                self.xvfb.kill()
            self.xvfb = None
        self.started = False

    def _make_template(self):
        stamp = os.path.join(self.template, "ready")
        if os.path.exists(stamp):
            return
        shutil.rmtree(self.template, ignore_errors=True)
        env = dict(os.environ, WINEPREFIX=self.template, WINEDEBUG="-all",
                   WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree,mshtml=")
        env.pop("DISPLAY", None)
        print("testbed: making the Wine prefix template (once per build tree)", flush=True)
        subprocess.run(["wineboot", "-i"], env=env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, check=True)
        # A crash must end the process (code 5), not wait for ever in a dialog; and without a
        # window manager Wine only follows xdotool's focus changes with UseTakeFocus off.
        for key, name, kind, data in ((r"HKCU\Software\Wine\WineDbg", "ShowCrashDialog", "REG_DWORD", "0"),
                                      (r"HKCU\Software\Wine\X11 Driver", "UseTakeFocus", "REG_SZ", "N")):
            subprocess.run(["wine", "reg", "add", key, "/v", name, "/t", kind, "/d", data, "/f"], env=env,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
        subprocess.run(["wineserver", "-w"], env=env)
        open(stamp, "w").close()

    def _start_xvfb(self):
        for n in range(70 + os.getpid() % 50, 400):
            if os.path.exists("/tmp/.X%d-lock" % n) or os.path.exists("/tmp/.X11-unix/X%d" % n):
                continue
            proc = subprocess.Popen(["Xvfb", ":%d" % n, "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            deadline = time.time() + 10
            while time.time() < deadline and proc.poll() is None:
                if os.path.exists("/tmp/.X11-unix/X%d" % n):
                    self.xvfb, self.display = proc, ":%d" % n
                    return
                time.sleep(0.05)
            proc.kill()
            proc.wait()
        raise RuntimeError("no free X display for Xvfb")

    def reg_add(self, key, name, kind, data):
        args = ["wine", "reg", "add", key]
        args += ["/ve"] if name is None else ["/v", name]
        args += ["/t", kind, "/d", data, "/f"]
        subprocess.run(args, env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)

    def _registry(self):
        # The stand-in voice answers for SpVoice in this prefix, the stand-in JAWS API for its ProgID;
        # the voices it may be given are installed.
        for dll, clsid, progid in COM_STANDINS:
            path = os.path.join(self.doubles, dll)
            if not os.path.exists(path):
                continue
            if progid:
                self.reg_add(r"HKCR\%s\CLSID" % progid, None, "REG_SZ", clsid)
            self.reg_add(r"HKCR\CLSID\%s\InprocServer32" % clsid, None, "REG_SZ", win_path(path))
        for key, name in VOICE_TOKENS:
            self.reg_add(r"HKLM\SOFTWARE\Microsoft\Speech\Voices\Tokens\%s" % key, None, "REG_SZ", name)

    def scene(self, name):
        return Scene(self, name)

    def wine(self, args, env=None, **kw):
        return subprocess.run(["wine"] + list(args), env=env or self.env, **kw)


class Process:
    """A Windows program started through wine; kill() ends it at once."""

    def __init__(self, popen, name):
        self.popen = popen
        self.name = name

    def wait(self, timeout=None):
        return self.popen.wait(timeout)

    def running(self):
        return self.popen.poll() is None

    def kill(self):
        if self.popen.poll() is None:
            self.popen.kill()
            try:
                self.popen.wait(5)
            except subprocess.TimeoutExpired:
                pass


class Game(Process):
    """The stand-in game: a window of class UnrealWindow driven through a control file."""

    def __init__(self, popen, name, control, events):
        Process.__init__(self, popen, name)
        self.control_path = control
        self.events_path = events
        self.pid = None
        self.hwnd = None
        self._last = None

    def events(self):
        try:
            with open(self.events_path, encoding="utf-8", errors="replace") as f:
                return f.read().splitlines()
        except FileNotFoundError:
            return []

    def wait_ready(self, timeout=20):
        try:
            line = wait_for(lambda: next((l for l in self.events() if l.startswith("ready ")), None), timeout,
                            "stand-in game %s ready" % self.name)
        except AssertionError as e:
            state = "running" if self.running() else "exited with %s" % self.popen.returncode
            raise AssertionError("%s (the game is %s; its events: %r)" % (e, state, self.events())) from None
        parts = line.split()
        self.hwnd, self.pid = int(parts[1]), int(parts[2])
        return self

    def command(self, text):
        """Runs a command in the game and waits until it has begun."""
        before = self.events().count("cmd " + text)
        self.command_nowait(text)
        wait_for(lambda: self.events().count("cmd " + text) > before, 10, "game ran %r" % text)

    def command_nowait(self, text):
        # The game runs a command when the file's content changes: to repeat one, the file is
        # emptied first, long enough for the game's 50 ms look at it.
        if text == self._last:
            self._write_control("")
            time.sleep(0.15)
        self._last = text
        self._write_control(text)

    def _write_control(self, text):
        with open(self.control_path + ".new", "w") as f:
            f.write(text)
        os.replace(self.control_path + ".new", self.control_path)

    def exit(self):
        if self.running():
            self.command_nowait("exit")

    def in_front(self):
        fronts = [l for l in self.events() if l.startswith("front ")]
        return bool(fronts) and fronts[-1] == "front 1"


def wait_for(probe, timeout, what="condition", interval=0.02):
    """Polls probe until it returns something true; raises AssertionError after timeout."""
    deadline = time.time() + timeout
    while True:
        value = probe()
        if value:
            return value
        if time.time() > deadline:
            raise AssertionError("timed out after %.1f s waiting for %s" % (timeout, what))
        time.sleep(interval)


def parse_record(path):
    """Lines of a double's record file as lists of fields (time in seconds first)."""
    try:
        with open(path, encoding="utf-8", errors="replace") as f:
            lines = f.read().splitlines()
    except FileNotFoundError:
        return []
    out = []
    for line in lines:
        fields = line.split("\t")
        fields[0] = int(fields[0]) / 1e6
        out.append([fields[0]] + [unescape(x) for x in fields[1:]])
    return out


def unescape(text):
    return re.sub(r"\\(.)", lambda m: {"n": "\n", "r": "\r", "t": "\t"}.get(m.group(1), m.group(1)), text)


class Scene:
    """One test's install: <root>/Game/Binaries/Win64 is the game's folder, and the bridge sits
    three levels below it in .../Win64/mods/tolvane/bridge."""

    def __init__(self, bed, name):
        self.bed = bed
        safe = re.sub(r"[^A-Za-z0-9_.-]", "_", name)
        self.root = os.path.join(bed.scratch, safe)
        shutil.rmtree(self.root, ignore_errors=True)
        self.game_dir = os.path.join(self.root, "Game", "Binaries", "Win64")
        self.dump_dir = os.path.join(self.game_dir, "mods")
        self.exe_dir = os.path.join(self.dump_dir, "tolvane", "bridge")
        self.voice_dir = os.path.join(self.root, "voice")
        self.jaws_dir = os.path.join(self.root, "jaws")
        os.makedirs(self.exe_dir)
        os.makedirs(self.voice_dir)
        os.makedirs(self.jaws_dir)
        self.exe = os.path.join(self.exe_dir, "TolvaneSpeech.exe")
        shutil.copy(os.path.join(bed.bin, "TolvaneSpeech.exe"), self.exe)
        self.env = dict(bed.env, VOICE_STUB_DIR=win_path(self.voice_dir), JAWS_STUB_DIR=win_path(self.jaws_dir))
        self.processes = []
        self.nvda = None
        self._games = 0

    # ------------------------------------------------------------------------- paths
    @staticmethod
    def win(path):
        return win_path(path)

    @property
    def exe_dir_win(self):
        return win_path(self.exe_dir)

    def path(self, name):
        return os.path.join(self.exe_dir, name)

    @property
    def log_path(self):
        return self.path("TolvaneSpeech.log")

    def read(self, name, mode="r"):
        try:
            with open(self.path(name) if not os.path.isabs(name) else name, mode) as f:
                return f.read()
        except FileNotFoundError:
            return b"" if "b" in mode else ""

    def log(self):
        return self.read(self.log_path, "rb").decode("utf-8", "replace")

    def log_messages(self):
        """Log lines without their time prefix."""
        return [l[15:] for l in self.log().split("\r\n") if l]

    def wait_log(self, pattern, timeout=10, count=1):
        rx = re.compile(pattern)
        try:
            return wait_for(lambda: len([m for m in self.log_messages() if rx.search(m)]) >= count, timeout,
                            "log line /%s/ x%d" % (pattern, count))
        except AssertionError as e:
            states = ["%s %s" % (p.name, "running" if p.running() else "exited with %s" % p.popen.returncode)
                      for p in self.processes]
            raise AssertionError("%s; processes: %s; log so far:\n%s" % (e, ", ".join(states) or "none",
                                                                        self.log())) from None

    def write(self, name, data, mode="w"):
        path = self.path(name) if not os.path.isabs(name) else name
        with open(path, mode) as f:
            f.write(data)
        return path

    def append_speech(self, text):
        """Appends one line (text and LF) to speech.txt, as the mod does."""
        with open(self.path("speech.txt"), "ab") as f:
            f.write(text.encode("utf-8") + b"\n")
        return time.time()

    def write_ini(self, text):
        self.write("TolvaneSpeech.ini", text)

    # ------------------------------------------------------------------------ doubles
    def install_nvda(self, kind="2025.1.1", name=None):
        """Puts an NVDA controller client beside the bridge: NV Access's client of that NVDA version
        (under its own name), served by the stand-in NVDA, which this starts unless it runs; or
        the stand-in client DLL ("stub", "missing_export"), as nvdaControllerClient.dll."""
        if kind in NVDA_CLIENTS:
            src = os.path.join(NVDA_CLIENT_DIR, NVDA_CLIENTS[kind])
            shutil.copy(src, self.path(name or os.path.basename(src)))
            if not (self.nvda and self.nvda.running()):
                self.start_nvda()
        else:
            shutil.copy(os.path.join(self.bed.doubles, NVDA_STUBS[kind]), self.path(name or "nvdaControllerClient.dll"))

    def start_nvda(self, **control):
        """Starts the stand-in NVDA with these control values, once it serves the client's endpoint.
        Its record and control files are the stand-in client's, so either is read the same way."""
        self.nvda_control(**control)
        listening = lambda: len([rec for rec in self.nvda_calls() if rec[1] == "listen"])
        before = listening()
        popen = subprocess.Popen(["wine", os.path.join(self.bed.doubles, "nvda_server.exe"),
                                  "--record", win_path(self.path("nvda_calls.txt")),
                                  "--control", win_path(self.path("nvda_control.txt"))],
                                 env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.nvda = Process(popen, "stand-in NVDA")
        self.processes.append(self.nvda)
        wait_for(lambda: listening() > before or not self.nvda.running(), 20, "the stand-in NVDA listening")
        assert self.nvda.running(), "the stand-in NVDA ended: %r" % self.nvda_calls()[-1:]
        return self.nvda

    def end_nvda(self):
        """The stand-in NVDA ends, as NVDA does when it quits."""
        self.nvda_control(end=1)
        assert self.nvda.wait(10) == 0

    def nvda_control(self, **values):
        self.write("nvda_control.txt", "".join("%s=%s\n" % kv for kv in values.items()))

    def nvda_calls(self):
        """The record of the stand-in NVDA or client, every call: [[t, name, field, ...]]."""
        return parse_record(self.path("nvda_calls.txt"))

    def spoken_nvda(self, times=False):
        """What NVDA was told, in call order: [('cancel',), ('speak', text), ('ssml', priority,
        ssml)]; with times=True each led by the time the call came: [(t, 'cancel'), (t, 'speak',
        text), ...]. The one reader of the record's speech, which the tests, the demo and the
        benchmarks share."""
        out = []
        for rec in self.nvda_calls():
            event = {"cancelSpeech": ("cancel",), "speakText": ("speak", rec[-1]),
                     "speakSsml": ("ssml", rec[3] if len(rec) > 3 else "", rec[-1])}.get(rec[1])
            if event:
                out.append((rec[0],) + event if times else event)
        return out

    def spoken_texts(self, prefix="", times=False):
        """The texts NVDA was told to speak, in call order, those that start with prefix; with
        times=True as (t, text)."""
        speaks = [e for e in self.spoken_nvda(times=True) if e[1] == "speak" and e[2].startswith(prefix)]
        return [(t, text) if times else text for t, _, text in speaks]

    def voice_control(self, **values):
        with open(os.path.join(self.voice_dir, "voice_control.txt"), "w") as f:
            f.write("".join("%s=%s\n" % kv for kv in values.items()))

    def voice_calls(self):
        return parse_record(os.path.join(self.voice_dir, "voice_calls.txt"))

    def jaws_control(self, **values):
        with open(os.path.join(self.jaws_dir, "jaws_control.txt"), "w") as f:
            f.write("".join("%s=%s\n" % kv for kv in values.items()))

    def jaws_calls(self):
        return parse_record(os.path.join(self.jaws_dir, "jaws_calls.txt"))

    def start_jaws_window(self, *options):
        """JAWS's window: the stand-in game, hidden, with a window of class JFWUI2 (ready when it
        returns). exit() then wait() closes it; options such as --exit-after MS go to the game."""
        return self.start_game("--hidden", "--class", JAWS_WINDOW_CLASS, "--title", "JAWS", *options,
                               name="standin_game.exe", folder=self.bed.doubles)

    # ---------------------------------------------------------------------- processes
    def run(self, *args, timeout=60):
        """Runs the bridge to its end; returns the exit code."""
        done = subprocess.run(["wine", self.exe] + list(args), env=self.env, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL, timeout=timeout)
        return done.returncode

    def start(self, *args, exe=None):
        popen = subprocess.Popen(["wine", exe or self.exe] + list(args), env=self.env,
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        proc = Process(popen, "bridge")
        self.processes.append(proc)
        return proc

    def start_game(self, *options, name=GAME_EXE, folder=None, wait=True, exe_path=None):
        """Starts the stand-in game as folder/name (copied there), or by exe_path as typed."""
        folder = folder or self.game_dir
        os.makedirs(folder, exist_ok=True)
        exe = os.path.join(folder, name)
        if not os.path.exists(exe):
            shutil.copy(os.path.join(self.bed.doubles, "standin_game.exe"), exe)
        if exe_path:
            exe = exe_path
        self._games += 1
        control = os.path.join(self.root, "game%d.control" % self._games)
        events = os.path.join(self.root, "game%d.events" % self._games)
        for p in (control, events):
            if os.path.exists(p):
                os.remove(p)
        popen = subprocess.Popen(["wine", exe, "--control", win_path(control), "--events", win_path(events)]
                                 + list(options), env=self.env, stdout=subprocess.DEVNULL,
                                 stderr=subprocess.DEVNULL)
        game = Game(popen, name, control, events)
        self.processes.append(game)
        if wait and "--no-window" not in options:
            game.wait_ready()
        return game

    def start_tool(self, *args):
        """Starts file_tool in the background, ended with the scene; returns the Popen (stdout piped)."""
        popen = subprocess.Popen(["wine", os.path.join(self.bed.doubles, "file_tool.exe")] + list(args), env=self.env,
                                 stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.processes.append(Process(popen, "file_tool " + args[0]))
        return popen

    def tool(self, *args, **kw):
        return subprocess.run(["wine", os.path.join(self.bed.doubles, "file_tool.exe")] + list(args),
                              env=self.env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, **kw)

    def cleanup(self):
        for proc in self.processes:
            proc.kill()
        self.processes = []
