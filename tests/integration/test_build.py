"""The shipped files: 64-bit, the bridge a GUI program, and nothing imported but system DLLs; NV
Access's controller clients exactly as vendored."""
import hashlib
import os
import re
import subprocess

from testbed import NVDA_CLIENT_DIR, NVDA_CLIENTS

# What NV Access published; a changed file must not slip in.
NVDA_CLIENT_SHA256 = {
    "2025.1.1": "4fb7d9913aaae90db9a6bac47b3afdec69987f069c4dd33db7e17c279a80401e",
    "2023.3": "7e431251c3e5dc69b2fd5d2aeef20ac0459639e8c1d2ef8790eac44a040bf6e0",
}

SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "ole32.dll", "oleaut32.dll", "shell32.dll", "advapi32.dll",
               "msvcrt.dll", "gdi32.dll"}


def pe_facts(path):
    out = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", path], stdout=subprocess.PIPE, text=True,
                         check=True).stdout
    imports = {line.split(":", 1)[1].strip().lower() for line in out.splitlines() if "DLL Name:" in line}
    return out, imports


def test_shipped_files_import_only_system_dlls(scene):
    exe, imports = pe_facts(os.path.join(scene.bed.bin, "TolvaneSpeech.exe"))
    assert "file format pei-x86-64" in exe
    assert "Subsystem\t\t00000002\t(Windows GUI)" in exe
    assert imports <= SYSTEM_DLLS, imports
    dll, imports = pe_facts(os.path.join(scene.bed.bin, "TolvaneLaunch.dll"))
    assert imports <= SYSTEM_DLLS, imports
    exports = dll[dll.index("[Ordinal/Name Pointer] Table"):].splitlines()[1:]
    assert [e.split()[-1] for e in exports if e.strip().startswith("[")] == ["tolvane_launch"]


def test_vendored_nvda_clients_are_the_published_ones(scene):
    with open(os.path.join(NVDA_CLIENT_DIR, "README.md")) as f:
        noted = dict(re.findall(r"^\| `([^`]+)` \| [^|]+ \| [^|]+ \| ([0-9a-f]{64}) \|$", f.read(), re.M))
    assert sorted(NVDA_CLIENTS) == sorted(NVDA_CLIENT_SHA256)
    for version, name in NVDA_CLIENTS.items():
        path = os.path.join(NVDA_CLIENT_DIR, name)
        with open(path, "rb") as f:
            digest = hashlib.sha256(f.read()).hexdigest()
        assert digest == NVDA_CLIENT_SHA256[version] == noted[name], (name, digest)
        out, imports = pe_facts(path)
        assert "file format pei-x86-64" in out and imports == {"kernel32.dll", "user32.dll", "rpcrt4.dll"}, imports
    with open(os.path.join(NVDA_CLIENT_DIR, "license.txt")) as f:
        assert f.read().split()[:7] == ["GNU", "LESSER", "GENERAL", "PUBLIC", "LICENSE", "Version", "2.1,"]
