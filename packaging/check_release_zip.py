#!/usr/bin/env python3
"""Checks the Windows release zip: exactly the files it should hold, in one
folder named like the zip, Mirvane.exe a 32-bit and Mirvane64.exe a 64-bit
Windows program, the text files with Windows line ends and the batch file the
repository's own. With
--deb, the Linux package instead: as dpkg-deb --contents lists it, exactly the
tool in usr/bin as Mirvane and mirvane, its manual page, the copyright file and
changelog, and the marker program in usr/share/mirvane; and lintian must
report no error and no warning on it.

  check_release_zip.py --source . --build build/win32
      checks build/win32/Mirvane-1.0-win32.zip as `--target package` made it
  check_release_zip.py --source . --build build/win32 --cpack cpack
      packs a zip of its own into build/win32/release-check first (the CTest form)
  check_release_zip.py --deb --source . --build build/native [--cpack cpack]
      the same for build/native/mirvane_1.0_<arch>.deb
"""

import argparse
import glob
import gzip
import io
import os
import shutil
import subprocess
import sys
import tarfile
import zipfile

PACKAGE = "Mirvane-1.0-win32"
DEB_PATTERN = "mirvane_1.0_*.deb"
MARKER_FILES = ("TESSIL.EXE", "TESSIL.ISO")


def expected_files(source, build):
    files = ["Mirvane.exe", "Mirvane64.exe", "README.txt"]
    if os.path.exists(os.path.join(source, "Mirvane.bat")):
        files.append("Mirvane.bat")
    # The marker program is packed where the build made it.
    return sorted(files + built_markers(build))


def built_markers(build):
    return [name for name in MARKER_FILES if os.path.exists(os.path.join(build, "tessil", name))]


def pack(cpack, build, folder):
    out = os.path.join(build, folder)
    shutil.rmtree(out, ignore_errors=True)
    subprocess.run([cpack, "--config", os.path.join(build, "CPackConfig.cmake"), "-B", out],
                   check=True, stdout=subprocess.DEVNULL)
    return out


def check_markers(contents, build):
    problems = []
    for name in MARKER_FILES:
        built = os.path.join(build, "tessil", name)
        if name in contents and os.path.exists(built):
            with open(built, "rb") as f:
                if contents[name] != f.read():
                    problems.append("%s differs from the built one" % name)
    return problems


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

    # The PE signature and the machine: 0x014C i386, 0x8664 x86-64.
    for name, machine, kind in (("Mirvane.exe", b"\x4c\x01", "32-bit"), ("Mirvane64.exe", b"\x64\x86", "64-bit")):
        exe = contents.get(name, b"")
        if not exe.startswith(b"MZ") or b"PE\0\0" + machine not in exe[:1024]:
            problems.append("%s is not a %s Windows executable" % (name, kind))
    for name in ("README.txt", "Mirvane.bat"):
        text = contents.get(name)
        if text is not None and text.count(b"\n") != text.count(b"\r\n"):
            problems.append("%s has lines without Windows line ends" % name)
    readme = contents.get("README.txt", b"")
    for needed in (b"%errorlevel%", b"/-4", b"Mirvane.exe [name | pid] [/type]", b"Mirvane64.exe"):
        if needed not in readme:
            problems.append("README.txt does not mention %r" % needed)
    if "Mirvane.bat" in contents:
        with open(os.path.join(source, "Mirvane.bat"), "rb") as f:
            original = f.read().replace(b"\r\n", b"\n")
        if contents["Mirvane.bat"].replace(b"\r\n", b"\n") != original:
            problems.append("Mirvane.bat differs from the repository's")
    return held, problems + check_markers(contents, build)


DEB_FILES = ["usr/bin/Mirvane", "usr/bin/mirvane", "usr/share/doc/mirvane/changelog.gz",
             "usr/share/doc/mirvane/copyright", "usr/share/man/man1/Mirvane.1.gz", "usr/share/man/man1/mirvane.1.gz"]
# The lower-case command and the manual page's second name point at the real ones.
DEB_LINKS = {"usr/bin/mirvane": "Mirvane", "usr/share/man/man1/Mirvane.1.gz": "mirvane.1.gz"}


def check_deb(path, build):
    problems = []
    wanted = sorted(DEB_FILES + ["usr/share/mirvane/" + n for n in built_markers(build)])
    listing = subprocess.run(["dpkg-deb", "--contents", path], check=True, capture_output=True,
                             text=True).stdout
    # Lines as tar lists them: mode, owner, size, date, time, ./path [-> target]
    modes = {}
    links = {}
    for line in listing.splitlines():
        fields = line.split(None, 5)
        if len(fields) == 6 and not fields[0].startswith("d"):
            name, _, target = fields[5].partition(" -> ")
            modes[name.removeprefix("./")] = fields[0]
            if fields[0].startswith("l"):
                links[name.removeprefix("./")] = target
    held = sorted(modes)
    if held != wanted:
        problems.append("holds %s, should hold %s" % (held, wanted))
    if modes.get("usr/bin/Mirvane", "-rwxr-xr-x") != "-rwxr-xr-x":
        problems.append("usr/bin/Mirvane is not an executable for everyone: %s" % modes["usr/bin/Mirvane"])
    if links != DEB_LINKS:
        problems.append("its symbolic links are %s, should be %s" % (links, DEB_LINKS))

    tree = subprocess.run(["dpkg-deb", "--fsys-tarfile", path], check=True, capture_output=True).stdout
    contents = {}
    with tarfile.open(fileobj=io.BytesIO(tree)) as archive:
        for member in archive.getmembers():
            if member.isfile():
                contents[os.path.basename(member.name)] = archive.extractfile(member).read()
    if not contents.get("Mirvane", b"").startswith(b"\x7fELF"):
        problems.append("usr/bin/Mirvane is not an ELF program")
    manual = gzip.decompress(contents.get("mirvane.1.gz", gzip.compress(b"")))
    for needed in (b".TH MIRVANE 1", b"/usr/share/mirvane", b"ptrace_scope", b"EXIT STATUS", b"MIRRORED RAM"):
        if needed not in manual:
            problems.append("the manual page does not hold %r" % needed)
    return held, problems + check_markers(contents, build) + lintian_problems(path)


def lintian_problems(path):
    """Debian's own check of the package: any error or warning fails it."""
    found = subprocess.run(["lintian", "--fail-on", "error,warning", path], capture_output=True, text=True)
    if found.returncode == 0:
        return []
    report = (found.stdout + found.stderr).strip().replace("\n", "; ")
    return ["lintian: %s" % (report or "failed with status %d" % found.returncode)]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--source", required=True, help="the repository")
    parser.add_argument("--build", required=True, help="the win32 build folder (native with --deb)")
    parser.add_argument("--cpack", help="pack a package of its own with this cpack first")
    parser.add_argument("--deb", action="store_true", help="check the Linux .deb instead of the zip")
    args = parser.parse_args()

    folder = args.build
    if args.cpack:
        folder = pack(args.cpack, args.build, "package-check" if args.deb else "release-check")
    if args.deb:
        found = sorted(glob.glob(os.path.join(folder, DEB_PATTERN)))
        path = found[0] if len(found) == 1 else os.path.join(folder, DEB_PATTERN)
    else:
        path = os.path.join(folder, PACKAGE + ".zip")
    if not os.path.exists(path):
        print("no package at %s" % path, file=sys.stderr)
        return 1
    if args.deb:
        held, problems = check_deb(path, args.build)
    else:
        held, problems = check(path, args.source, args.build)
    for problem in problems:
        print("FAILED %s: %s" % (os.path.basename(path), problem), file=sys.stderr)
    if problems:
        return 1
    print("%s holds %s" % (path, ", ".join(held)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
