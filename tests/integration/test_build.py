"""The shipped files: 64-bit, the bridge a GUI program, and nothing imported but system DLLs."""
import os
import subprocess

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
