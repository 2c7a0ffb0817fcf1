"""The mod's Lua module against the real bridge, through a Lua stand-in mod (lua5.4 on Linux,
writing the very folder that the bridge reads as Z:)."""
import os
import subprocess
import time

from testbed import ROOT, Process, wait_for
import test_keys as keys

DRIVER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "lua_mod.lua")


class LuaMod:
    """call() hands the mod a Lua expression and returns its answer line; send() and answer()
    split that for one that runs while the test goes on. Ended with the scene."""

    def __init__(self, scene):
        self.popen = subprocess.Popen(["lua5.4", DRIVER, os.path.join(ROOT, "mod", "tolvane_speech.lua"),
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


def test_the_lua_module_drives_the_bridge(scene):
    scene.install_nvda()
    mod = LuaMod(scene)
    assert mod.call("bridge:reset()") == mod.call("bridge:menu(true)") == "true"  # before the bridge
    game, bridge, _ = keys.start_keys_scene(scene, mod=False, backend="auto")

    texts = ["-dash", "#hash", "?3 question", "+plus", "!bang"]
    for i, text in enumerate(texts):
        assert mod.call('bridge:%s("%s")' % (("say", "queue")[i % 2], text)) == "true"
    assert mod.call("bridge:stop()") == "true"
    scene.wait_log("^stop$")
    assert [s[1] for s in scene.spoken_nvda() if s[0] == "speak"] == texts
    assert scene.log_messages().count("stop") == 1

    keys.press(scene, game, "F1")
    keys.wait_cmd(scene, "F1")
    assert mod.call("names()") == "F1"

    # Kept alive, the menu opened before the bridge came is announced and stays open past 5 s.
    mod.send("alive(10)")
    scene.wait_log(r"^settings menu open \(opened by the Lua mod\)")
    opened = time.time()
    keys.wait_cmd(scene, "Armed")
    keys.press(scene, game, "Down")
    keys.wait_cmd(scene, "Down")
    time.sleep(max(0, opened + 5.5 - time.time()))
    keys.press(scene, game, "Down")
    keys.wait_cmd(scene, "Down", 2)
    assert mod.answer() == "true"
    assert not [m for m in scene.log_messages() if m.startswith("FAILSAFE")], scene.log()
    assert keys.VK["Down"] not in keys.game_keys(game)
    assert mod.call("names()") == "Armed Down Down"
    assert mod.call("bridge:menu(false)") == "true"
    scene.wait_log(r"^settings menu closed \(Lua closed the menu\)")

    # A new bridge empties cmd.txt; its keys are read from the start.
    bridge.kill()
    bridge = scene.start("--pid", str(game.pid))
    wait_for(lambda: scene.read("cmd.txt") == "", 10, "cmd.txt emptied by the new bridge")
    scene.wait_log("hook thread ready")
    keys.press(scene, game, "F1")
    keys.wait_cmd(scene, "F1")
    assert mod.call("names()") == "F1"
    keys.finish(scene, game, bridge, None)


test_the_lua_module_drives_the_bridge.timeout = 90
