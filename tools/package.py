#!/usr/bin/env python3
"""Makes the release zip: the given files at its root, in the order given, then SHA256SUMS for
them. Prints each file's size and the zip's SHA-256.

usage: package.py ZIP FILE...

Two runs over the same files give the same bytes, on any machine: every entry is stored, not
compressed, so no compression library's version shows in them; every entry has the same fixed
time and attributes; and nothing of the machine (owner, permissions, folder) goes into the zip.
"""
import hashlib
import os
import sys
import zipfile

# The earliest time a zip can hold; extracted files show it.
FIXED_TIME = (1980, 1, 1, 0, 0, 0)
FILE_ATTRIBUTE_ARCHIVE = 0x20


def entry(name):
    info = zipfile.ZipInfo(name, FIXED_TIME)
    info.create_system = 0  # MS-DOS attributes, as Windows' own zip folders write them
    info.external_attr = FILE_ATTRIBUTE_ARCHIVE
    info.compress_type = zipfile.ZIP_STORED
    return info


def main(out, paths):
    contents = []
    for path in paths:
        with open(path, "rb") as f:
            contents.append((os.path.basename(path), f.read()))
    # CR LF like the other text files: players open it in Notepad; sha256sum -c reads it too.
    sums = "".join("%s  %s\r\n" % (hashlib.sha256(data).hexdigest(), name) for name, data in contents)
    contents.append(("SHA256SUMS", sums.encode("ascii")))

    os.makedirs(os.path.dirname(os.path.abspath(out)), exist_ok=True)
    partial = out + ".part"
    with zipfile.ZipFile(partial, "w") as zf:
        for name, data in contents:
            zf.writestr(entry(name), data)
    os.replace(partial, out)  # never a half-written zip under the release's name

    with open(out, "rb") as f:
        packed = f.read()
    for name, data in contents:
        print("%-28s %7d bytes" % (name, len(data)))
    print("%s: %d bytes, SHA-256 %s" % (out, len(packed), hashlib.sha256(packed).hexdigest()))


if __name__ == "__main__":
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    main(sys.argv[1], sys.argv[2:])
