"""The release zip that make package leaves in dist/: what it holds, an install made from its
files alone, and a second build in another folder that must give the same bytes."""
import hashlib
import os
import re
import shutil
import subprocess
import zipfile

import helpers as h
from testbed import ROOT, wait_for

ZIPPED = ["TolvaneSpeech.exe", "TolvaneLaunch.dll", "nvdaControllerClient.dll", "nvdaControllerClient-LICENSE.txt",
          "TolvaneSpeech-defaults.ini", "tolvane_speech.lua", "README.txt", "BUILDINFO.txt", "SHA256SUMS"]


def cache_value(build, name):
    with open(os.path.join(build, "CMakeCache.txt")) as f:
        return re.search(r"^%s:\w+=(.*)$" % name, f.read(), re.M).group(1)


def release_zip(build):
    """The version and the zip's path, as the build tree was configured."""
    version = cache_value(build, "CMAKE_PROJECT_VERSION")
    return version, os.path.join(cache_value(build, "TOLVANE_DIST_DIR"), "TolvaneSpeech-%s.zip" % version)


def resource_script(path):
    """The PE file's resources as a resource script, with the manifest's quotes undoubled."""
    return subprocess.run(["x86_64-w64-mingw32-windres", "-i", path, "-O", "rc"], stdout=subprocess.PIPE,
                          text=True, check=True).stdout.replace('""', '"')


def first_line(*command):
    return subprocess.run(command, stdout=subprocess.PIPE, text=True, check=True).stdout.splitlines()[0]


def test_zip_holds_the_release(scene):
    build = scene.bed.build
    version, path = release_zip(build)
    with zipfile.ZipFile(path) as zf:
        assert zf.namelist() == ZIPPED
        # Stored: the bytes owe nothing to the compression library that Python links.
        assert {info.compress_type for info in zf.infolist()} == {zipfile.ZIP_STORED}
        files = {name: zf.read(name) for name in ZIPPED}
    assert files["SHA256SUMS"].decode("ascii").split("\r\n") == [
        "%s  %s" % (hashlib.sha256(files[name]).hexdigest(), name) for name in ZIPPED[:-1]] + [""]
    # Shipped as they are kept: the module, and NV Access's client and licence as published.
    for name, source in (("tolvane_speech.lua", "mod/tolvane_speech.lua"),
                         ("nvdaControllerClient.dll", "third_party/nvda-controller-client/2025.1.1-x64/nvdaControllerClient.dll"),
                         ("nvdaControllerClient-LICENSE.txt", "third_party/nvda-controller-client/license.txt")):
        assert files[name] == open(os.path.join(ROOT, source), "rb").read(), name

    readme, ini = files["README.txt"].decode("ascii"), files["TolvaneSpeech-defaults.ini"].decode("ascii")
    buildinfo = files["BUILDINFO.txt"].decode("ascii")
    assert readme.startswith("Tolvane Speech, version %s\r\n" % version)
    for text in (readme, ini, buildinfo):
        assert "\n" not in text.replace("\r\n", "") and not re.search(r"[|\t]|---", text)
    tools = [first_line("x86_64-w64-mingw32-" + tool, "--version") for tool in ("g++-posix", "ld", "windres")]
    cmake = "CMake %s, build type %s" % (first_line("cmake", "--version").split()[-1], cache_value(build, "CMAKE_BUILD_TYPE"))
    assert set(tools + [cmake]) <= set(buildinfo.split("\r\n")), buildinfo
    assert re.search(r"^Debian package g\+\+-mingw-w64-x86-64-posix \S+\r$", buildinfo, re.M), buildinfo

    # The checksum lines, pasted into cmd.exe (Windows' PowerShell does not run here): one quoted
    # script each, with nothing in it that cmd would expand or take for its own. The zip's own
    # comes before the step that extracts it and takes the checksum pasted after it.
    scripts = re.findall(r'^powershell -NoProfile -Command "([^"%!^&|<>]*)"\r$', readme, re.M)
    assert len(scripts) == 2 and "Get-Content SHA256SUMS" in scripts[1], scripts
    assert "$args -contains (Get-FileHash -LiteralPath TolvaneSpeech-%s.zip " % version in scripts[0], scripts
    for script in scripts:
        assert all(script.count(a) == script.count(b) for a, b in ("()", "{}", "[]")) and script.count("'") % 2 == 0
    assert readme.index(scripts[0]) < readme.index("Step 4. Extract all files") < readme.index(scripts[1])

    # What players are told, heard line by line: no paragraph a listener must hold at once, the
    # symptoms in the order they are searched for, every file to delete one to a line, what each
    # log line proves, how the minus signs are heard, and what the settings make of a stray value.
    assert max(len(line.split()) for line in readme.split("\r\n") if not line.startswith("powershell")) <= 60
    titles = ["Where the logs are", "I hear nothing", "I hear the Windows voice instead of my screen reader",
              "The arrow keys or Enter stopped working in the game", "No braille"]
    at = [readme.index("\r\n\r\n%s\r\n\r\n" % title) for title in titles]
    assert at == sorted(at), titles
    uninstall = re.search(r"^To uninstall, .*\r\n((?:.+\r\n)+)", readme, re.M).group(1).split("\r\n")[:-1]
    made = ["TolvaneSpeech.ini, if you made it", "TolvaneSpeech.log", "TolvaneSpeech.previous.log", "TolvaneLaunch.log",
            "cmd.txt", "speech.txt", "menu_state.txt"]
    assert uninstall == ZIPPED + made, uninstall
    assert "send TolvaneSpeech.log, TolvaneSpeech.previous.log and TolvaneLaunch.log" in readme
    for told in ("the settings menu cannot be used until you start the game again", "No TolvaneSpeech.log in the folder at all",
                 '"started TolvaneSpeech.exe, pid N (game pid M)": the game started Tolvane Speech. That alone does not',
                 '"TolvaneSpeech %s started, pid N," with the same number N' % version,
                 '"say!:", "say+:" or "say^:"', "Only the first 2000 texts since Tolvane Speech started",
                 "Only the say test writes this line", "JAWS is still tried before the Windows voice",
                 '"speech output now: NVDA", "speech output now: JAWS" or "speech output now: SAPI"',
                 "Press Escape or F2 to close it", "F2 opens the mod's settings menu, and F2 again closes it",
                 "the screen reader key (Insert or Caps Lock) is held is never taken for the menu",
                 "two minus signs, then check.", "press NVDA+P", '"nothing done: unknown option NAME"',
                 "With Backend=log in your settings, 0 means only that the text went into the log",
                 "Any number but 0 counts as 1, and a word, even yes, counts as 0", "A smaller number, and a word, count as 8",
                 "names begin with hang_ and end with .dmp: delete them too"):
        assert told in readme, told
    assert readme.count("a word, even yes, counts as 0") == 2 and ini.count("a word, even yes, means off") == 2

    # The build tree's file, whose keys and values test_settings checks against the bridge's table of keys.
    shipped_ini = os.path.join(build, "package", "TolvaneSpeech-defaults.ini")
    assert files["TolvaneSpeech-defaults.ini"] == open(shipped_ini, "rb").read()
    lines = ini.split("\r\n")
    keys = [(i, line) for i, line in enumerate(lines) if "=" in line and not line.startswith(";")]
    assert keys
    assert "name the copy TolvaneSpeech.ini" in ini and "copy TolvaneSpeech-defaults.ini TolvaneSpeech.ini" in readme
    assert all(lines[i - 1].startswith("; ") for i, line in keys)

    for name, description in (("TolvaneSpeech.exe", "Tolvane Speech"), ("TolvaneLaunch.dll", "Tolvane Speech launcher")):
        scene.write(name, files[name], "wb")
        script = resource_script(scene.path(name))
        assert "FILEVERSION %s, 0" % version.replace(".", ", ") in script
        values = dict(re.findall(r'VALUE "(\w+)", "([^"]*)"', script))
        assert values == {"FileDescription": description, "FileVersion": version, "InternalName": name[:-4],
                          "OriginalFilename": name, "ProductName": "Tolvane Speech", "ProductVersion": version}
    manifest = resource_script(scene.path("TolvaneSpeech.exe"))
    assert 'level="asInvoker"' in manifest and ">false</longPathAware>" in manifest
    assert len(re.findall("<supportedOS ", manifest)) == 4  # Windows 7, 8, 8.1, and 10 and 11


def test_installed_from_the_zip_alone(scene):
    """The zip's files in a fresh install, the game three folders up: the one-shot modes, and
    the game starting the bridge through the launcher with the player's ini file made from
    the shipped defaults."""
    os.remove(scene.exe)
    with zipfile.ZipFile(release_zip(scene.bed.build)[1]) as zf:
        zf.extractall(scene.exe_dir)
    scene.start_nvda()  # the zip's own client speaks to it
    assert scene.run("--check") == 0
    assert scene.run("--say", "spoken from the zip") == 0
    assert scene.spoken_nvda()[-1] == ("speak", "spoken from the zip")

    defaults = scene.read("TolvaneSpeech-defaults.ini", "rb")
    scene.write("TolvaneSpeech.ini", defaults.replace(b"HangSeconds=20\r\n", b"HangSeconds=45\r\n"), "wb")
    scene.write("TolvaneSpeech-defaults.ini", defaults.replace(b"HangSeconds=20\r\n", b"HangSeconds=30\r\n"), "wb")
    scene.append_speech("written before the bridge")
    game = h.start_launching_game(scene, scene.win(scene.path("TolvaneLaunch.dll")))
    h.started_pid(scene, game)
    scene.wait_log(r"^hang watchdog on \(45 s\)$")  # the copy is read as it is, the defaults never
    wait_for(lambda: ("speak", "written before the bridge") in scene.spoken_nvda(), 10, "the mod's line")
    game.command_nowait("exit")
    scene.wait_log(r"^bye \(1 lines spoken")


def test_a_second_build_elsewhere_is_byte_identical(scene):
    """The product alone, configured and built from a copy of the sources in another folder,
    then packaged: the same exe, DLL and zip as the build tree and make package made."""
    build = scene.bed.build
    version, made = release_zip(build)
    src = os.path.join(scene.root, "elsewhere", "sources")
    # Not the checkout's build trees, release folder or history: the sources only.
    shutil.copytree(ROOT, src, ignore=lambda folder, names: [
        n for n in names if n in (".git", "dist", "__pycache__") or os.path.exists(os.path.join(folder, n, "CMakeCache.txt"))])
    other, dist = os.path.join(src, "b"), os.path.join(src, "dist")
    for args in (["-S", src, "-B", other, "-DCMAKE_TOOLCHAIN_FILE=%s/cmake/mingw-w64-x86_64.cmake" % src,
                  "-DCMAKE_BUILD_TYPE=" + cache_value(build, "CMAKE_BUILD_TYPE"), "-DTOLVANE_TESTS=OFF",
                  "-DTOLVANE_DIST_DIR=" + dist],
                 ["--build", other, "-j", "2", "--target", "release_zip"]):
        done = subprocess.run(["cmake"] + args, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        assert done.returncode == 0, done.stdout[-3000:]
    pairs = [(os.path.join(build, "bin", n), os.path.join(other, "bin", n)) for n in ZIPPED[:2]]
    pairs.append((made, os.path.join(dist, os.path.basename(made))))
    differing = [a for a, b in pairs if open(a, "rb").read() != open(b, "rb").read()]
    assert not differing, "not the same bytes from the other folder: %s" % differing


test_a_second_build_elsewhere_is_byte_identical.timeout = 600
