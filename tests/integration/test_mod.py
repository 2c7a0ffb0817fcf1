"""The mod's Lua module against the real bridge, through a Lua stand-in mod (lua5.4 on Linux,
writing the very folder that the bridge reads as Z:)."""
import time

import helpers as h
from helpers import LuaMod
from testbed import wait_for


def test_the_lua_module_drives_the_bridge(scene):
    scene.install_nvda()
    scene.write("cmd.txt", "key F5 1\nkey F6 2\n")  # the last session's keys: never handed over
    mod = LuaMod(scene)
    assert mod.call("bridge:reset()") == mod.call("bridge:menu(true)") == "true"  # before the bridge
    assert mod.call("names()") == ""
    assert mod.call("bridge:menu_status()") == "asked"
    game, bridge, _ = h.start_keys_scene(scene, mod=False, backend="auto")

    texts = ["-dash", "#hash", "?3 question", "+plus", "!bang"]
    for i, text in enumerate(texts):
        assert mod.call('bridge:%s("%s")' % (("say", "queue")[i % 2], text)) == "true"
    assert mod.call('bridge:alert("^up")') == "true"
    assert mod.call("bridge:stop()") == "true"
    scene.wait_log("^stop$")
    assert scene.spoken_texts() == texts
    assert ("ssml", "2", "<speak>^up</speak>") in scene.spoken_nvda()
    assert scene.log_messages().count("stop") == 1

    h.press(scene, game, "F1")
    h.wait_cmd(scene, "F1")
    assert mod.call("names()") == "F1"

    # Kept alive, the menu opened before the bridge came is announced and stays open past 5 s.
    mod.send("alive(10)")
    scene.wait_log(r"^settings menu open \(opened by the Lua mod\)")
    opened = time.time()
    h.wait_cmd(scene, "Armed")
    h.press(scene, game, "Down")
    h.wait_cmd(scene, "Down")
    time.sleep(max(0, opened + 5.5 - time.time()))
    h.press(scene, game, "Down")
    h.wait_cmd(scene, "Down", 2)
    assert mod.answer() == "true"
    assert not [m for m in scene.log_messages() if m.startswith("FAILSAFE")], scene.log()
    assert h.VK["Down"] not in h.game_keys(game)
    assert mod.call("names()") == "Armed Down Down"
    assert mod.call("bridge:menu_status()") == "armed"
    assert mod.call("bridge:menu(false)") == "true"
    scene.wait_log(r"^settings menu closed \(Lua closed the menu\)")

    # A new bridge empties cmd.txt; its keys are read from the start.
    bridge.kill()
    bridge = scene.start("--pid", str(game.pid))
    wait_for(lambda: scene.read("cmd.txt") == "", 10, "cmd.txt emptied by the new bridge")
    scene.wait_log("hook thread ready")
    h.press(scene, game, "F1")
    h.wait_cmd(scene, "F1")
    assert mod.call("names()") == "F1"
    h.finish(scene, game, bridge, None)


test_the_lua_module_drives_the_bridge.timeout = 90
