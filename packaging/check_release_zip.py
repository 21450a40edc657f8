#!/usr/bin/env python3
"""Checks the Windows release zip: exactly the files it should hold, in one
folder named like the zip, the executable a 32-bit Windows program, the text
files with Windows line ends and the batch file the repository's own.

  check_release_zip.py --source . --build build/win32
      checks build/win32/Mirvane-1.0-win32.zip as `--target package` made it
  check_release_zip.py --source . --build build/win32 --cpack cpack
      packs a zip of its own into build/win32/release-check first (the CTest form)
"""

import argparse
import os
import shutil
import subprocess
import sys
import zipfile

PACKAGE = "Mirvane-1.0-win32"


def expected_files(source, build):
    files = ["Mirvane.exe", "README.txt"]
    if os.path.exists(os.path.join(source, "Mirvane.bat")):
        files.append("Mirvane.bat")
    # The marker program is packed where the build made it.
    for name in ("TESSIL.EXE", "TESSIL.ISO"):
        if os.path.exists(os.path.join(build, "tessil", name)):
            files.append(name)
    return sorted(files)


def pack(cpack, build):
    out = os.path.join(build, "release-check")
    shutil.rmtree(out, ignore_errors=True)
    subprocess.run([cpack, "--config", os.path.join(build, "CPackConfig.cmake"), "-B", out],
                   check=True, stdout=subprocess.DEVNULL)
    return os.path.join(out, PACKAGE + ".zip")


def check(path, source, build):
    problems = []
    with zipfile.ZipFile(path) as archive:
        names = [n for n in archive.namelist() if not n.endswith("/")]
        outside = [n for n in names if not n.startswith(PACKAGE + "/")]
        if outside:
            problems.append("files outside the folder %s/: %s" % (PACKAGE, outside))
        held = sorted(n[len(PACKAGE) + 1:] for n in names if n.startswith(PACKAGE + "/"))
        wanted = expected_files(source, build)
        if held != wanted:
            problems.append("holds %s, should hold %s" % (held, wanted))
        contents = {n: archive.read(PACKAGE + "/" + n) for n in held}

    exe = contents.get("Mirvane.exe", b"")
    if not exe.startswith(b"MZ") or b"PE\0\0\x4c\x01" not in exe[:1024]:
        problems.append("Mirvane.exe is not a 32-bit Windows executable")
    for name in ("README.txt", "Mirvane.bat"):
        text = contents.get(name)
        if text is not None and text.count(b"\n") != text.count(b"\r\n"):
            problems.append("%s has lines without Windows line ends" % name)
    readme = contents.get("README.txt", b"")
    for needed in (b"%errorlevel%", b"/-4", b"Mirvane.exe [name | pid] [/type]"):
        if needed not in readme:
            problems.append("README.txt does not mention %r" % needed)
    if "Mirvane.bat" in contents:
        with open(os.path.join(source, "Mirvane.bat"), "rb") as f:
            original = f.read().replace(b"\r\n", b"\n")
        if contents["Mirvane.bat"].replace(b"\r\n", b"\n") != original:
            problems.append("Mirvane.bat differs from the repository's")
    for name in ("TESSIL.EXE", "TESSIL.ISO"):
        built = os.path.join(build, "tessil", name)
        if name in contents and os.path.exists(built):
            with open(built, "rb") as f:
                if contents[name] != f.read():
                    problems.append("%s differs from the built one" % name)
    return held, problems


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--source", required=True, help="the repository")
    parser.add_argument("--build", required=True, help="the win32 build folder")
    parser.add_argument("--cpack", help="pack a zip of its own with this cpack first")
    args = parser.parse_args()

    path = pack(args.cpack, args.build) if args.cpack else os.path.join(args.build, PACKAGE + ".zip")
    if not os.path.exists(path):
        print("no release zip at %s" % path, file=sys.stderr)
        return 1
    held, problems = check(path, args.source, args.build)
    for problem in problems:
        print("FAILED %s: %s" % (os.path.basename(path), problem), file=sys.stderr)
    if problems:
        return 1
    print("%s holds %s" % (path, ", ".join(held)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
