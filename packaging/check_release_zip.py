#!/usr/bin/env python3
"""Checks the Windows release zip: exactly the files it should hold, in one
folder named like the zip, Mirvane.exe a 32-bit and Mirvane64.exe a 64-bit
Windows program, the text files with Windows line ends and the batch file the
repository's own. With
--deb, the Linux package instead: as dpkg-deb --contents lists it, exactly the
tool in usr/bin as Mirvane and mirvane, its manual page, the copyright file and
changelog, and the marker program in usr/share/mirvane; and lintian must
report no error and no warning on it. With --archive, the portable Linux
archive: exactly its files in one folder named like it, the tool statically
linked for the build's processor; with --standin, the tool must also find the
stand-in emulator's RAM from a chroot of the unpacked archive alone, with only
/proc mounted there (as root; elsewhere that case is skipped, exit status 77).

  check_release_zip.py --source . --build build/win32
      checks build/win32/Mirvane-1.0-win32.zip as `--target package` made it
  check_release_zip.py --source . --build build/win32 --cpack cpack
      packs a zip of its own into build/win32/release-check first (the CTest form)
  check_release_zip.py --deb --source . --build build/native [--cpack cpack]
      the same for build/native/mirvane_1.0_<arch>.deb
  check_release_zip.py --archive --processor x86_64 --source . --build build/native --cpack cpack
                       [--standin build/native/tests/StandInEmu]
      the same for build/native/mirvane-1.0-linux-x86_64.tar.gz, and the chroot case
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
import tempfile
import zipfile

PACKAGE = "Mirvane-1.0-win32"
DEB_PATTERN = "mirvane_1.0_*.deb"
MARKER_FILES = ("TESSIL.EXE", "TESSIL.ISO")
ARCHIVE_PREFIX = "mirvane-1.0-linux-"
SKIPPED = 77  # CTest's SKIP_RETURN_CODE for the chroot case


def expected_files(source, build):
    files = ["LICENSE.txt", "Mirvane.exe", "Mirvane64.exe", "README.txt"]
    if os.path.exists(os.path.join(source, "Mirvane.bat")):
        files.append("Mirvane.bat")
    # The marker program is packed where the build made it.
    return sorted(files + built_markers(build))


def built_markers(build):
    return [name for name in MARKER_FILES if os.path.exists(os.path.join(build, "tessil", name))]


def pack(cpack, build, folder, generator=None):
    out = os.path.join(build, folder)
    shutil.rmtree(out, ignore_errors=True)
    only = ["-G", generator] if generator else []
    subprocess.run([cpack, "--config", os.path.join(build, "CPackConfig.cmake"), "-B", out] + only,
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
    for name in ("README.txt", "LICENSE.txt", "Mirvane.bat"):
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
    problems += licence_problems(contents.get("LICENSE.txt", b"").replace(b"\r\n", b"\n"), source)
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


def licence_problems(text, source):
    with open(os.path.join(source, "LICENSE"), "rb") as f:
        return [] if text == f.read() else ["the licence differs from the repository's LICENSE"]


# The archive: one folder, named like it, holding these; the marker program on
# top where the build made it.
ARCHIVE_FILES = ["LICENSE", "README", "bin/Mirvane", "bin/mirvane", "share/man/man1/Mirvane.1.gz",
                 "share/man/man1/mirvane.1.gz"]
ARCHIVE_LINKS = {"bin/mirvane": "Mirvane", "share/man/man1/Mirvane.1.gz": "mirvane.1.gz"}
# ELF e_machine of each processor the archive is made for.
ELF_MACHINES = {"x86_64": 62, "aarch64": 183}


def check_archive(path, source, build, processor):
    problems = []
    folder = os.path.basename(path)[:-len(".tar.gz")]
    if folder != ARCHIVE_PREFIX + processor:
        problems.append("named %s, should be %s%s.tar.gz" % (os.path.basename(path), ARCHIVE_PREFIX, processor))
    modes, links, contents = {}, {}, {}
    with tarfile.open(path) as archive:
        for member in archive.getmembers():
            if member.isdir():
                continue
            if not member.name.startswith(folder + "/"):
                problems.append("%s lies outside the folder %s/" % (member.name, folder))
                continue
            name = member.name[len(folder) + 1:]
            modes[name] = member.mode
            if member.issym():
                links[name] = member.linkname
            elif member.isfile():
                contents[name] = archive.extractfile(member).read()
    held = sorted(modes)
    wanted = sorted(ARCHIVE_FILES + built_markers(build))
    if held != wanted:
        problems.append("holds %s, should hold %s" % (held, wanted))
    if links != ARCHIVE_LINKS:
        problems.append("its symbolic links are %s, should be %s" % (links, ARCHIVE_LINKS))
    if modes.get("bin/Mirvane", 0o755) & 0o755 != 0o755:
        problems.append("bin/Mirvane is not an executable for everyone: %o" % modes["bin/Mirvane"])
    problems += elf_problems(contents.get("bin/Mirvane", b""), processor, build)
    problems += licence_problems(contents.get("LICENSE", b""), source)
    readme = contents.get("README", b"")
    for needed in (b"sudo", b"Flatpak", b"ps ", b"chroot", b"TESSIL.EXE"):
        if needed not in readme:
            problems.append("README does not mention %r" % needed)
    manual = gzip.decompress(contents.get("share/man/man1/mirvane.1.gz", gzip.compress(b"")))
    if b".TH MIRVANE 1" not in manual:
        problems.append("the manual page is not mirvane(1)")
    return held, problems + check_markers(contents, build)


def elf_problems(program, processor, build):
    """The tool must run on any Linux of its processor: no program interpreter
    and no shared library, as readelf shows them."""
    if not program.startswith(b"\x7fELF"):
        return ["bin/Mirvane is not an ELF program"]
    problems = []
    machine = int.from_bytes(program[18:20], "little")
    if machine != ELF_MACHINES.get(processor):
        problems.append("bin/Mirvane is for ELF machine %d, not %s" % (machine, processor))
    with tempfile.NamedTemporaryFile(dir=build, prefix="archive-tool-") as copy:
        copy.write(program)
        copy.flush()
        shown = subprocess.run(["readelf", "--program-headers", "--dynamic", "--wide", copy.name],
                               check=True, capture_output=True, text=True).stdout
    if "INTERP" in shown:
        problems.append("bin/Mirvane asks for a program interpreter (it is not statically linked)")
    if "(NEEDED)" in shown:
        problems.append("bin/Mirvane needs shared libraries: %s"
                        % [line.split()[-1] for line in shown.splitlines() if "(NEEDED)" in line])
    return problems


def chroot_case(path, standin, source):
    """Unpacks the archive into an empty folder, mounts only /proc there, and
    runs bin/mirvane in a chroot of it against the stand-in started outside:
    by PID and by name, it must find the RAM the stand-in announces. Returns
    the reason when it can't be staged here, else None; raises when it fails."""
    if os.geteuid() != 0:
        return "only root may chroot and mount /proc (this runs as uid %d)" % os.geteuid()
    sys.path.insert(0, os.path.join(source, "tests", "e2e"))
    import e2e_support as e2e
    import run_e2e

    root = tempfile.mkdtemp(prefix="mirvane-chroot-")
    proc = os.path.join(root, "proc")
    mounted = False
    setting = None
    try:
        with tarfile.open(path) as archive:
            for member in archive.getmembers():
                # The folder's contents become the chroot's root.
                _, _, member.name = member.name.partition("/")
                if member.name:
                    archive.extract(member, root, filter="tar")
        os.mkdir(proc)
        mount = subprocess.run(["mount", "-t", "proc", "proc", proc], capture_output=True, text=True)
        if mount.returncode != 0:
            return "mount refused /proc in the chroot: %s" % (mount.stderr.strip().split("\n")[0] or mount.returncode)
        mounted = True
        # chroot(2) needs a right of its own, which a container may withhold from root.
        probe = subprocess.run(["chroot", root, "/bin/mirvane", "/?"], capture_output=True, text=True)
        if probe.returncode == 125 and "not permitted" in probe.stderr:
            return "chroot refused: %s" % probe.stderr.strip()
        setting = e2e.make_setting(os.path.join(root, "bin", "mirvane"), standin, None, 64)
        setting["command"] = ["chroot", root, "/bin/mirvane"]
        for scenario in ("ram-at-region-start", "high-address"):
            standin_run = e2e.start_standin(setting, scenario)
            try:
                for given in (str(standin_run["pid"]), setting["standin_name"]):
                    run_e2e.check_found(setting, standin_run, [given])
            finally:
                e2e.stop_standin(setting, standin_run)
        print("the tool in a chroot of the archive found the stand-in's RAM by PID and by name")
        return None
    finally:
        if setting:
            e2e.stop_everything(setting)
        if mounted:
            subprocess.run(["umount", proc], check=True)
        shutil.rmtree(root)


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
    parser.add_argument("--archive", action="store_true", help="check the portable Linux archive instead")
    parser.add_argument("--processor", default="x86_64", help="the archive's processor (x86_64, aarch64)")
    parser.add_argument("--standin", help="with --archive: the native stand-in, for the chroot case")
    args = parser.parse_args()

    folder = args.build
    if args.cpack:
        if args.deb:
            folder = pack(args.cpack, args.build, "package-check", "DEB")
        elif args.archive:
            folder = pack(args.cpack, args.build, "archive-check", "TGZ")
        else:
            folder = pack(args.cpack, args.build, "release-check")
    if args.deb or args.archive:
        pattern = DEB_PATTERN if args.deb else ARCHIVE_PREFIX + "*.tar.gz"
        found = sorted(glob.glob(os.path.join(folder, pattern)))
        path = found[0] if len(found) == 1 else os.path.join(folder, pattern)
    else:
        path = os.path.join(folder, PACKAGE + ".zip")
    if not os.path.exists(path):
        print("no package at %s" % path, file=sys.stderr)
        return 1
    if args.deb:
        held, problems = check_deb(path, args.build)
    elif args.archive:
        held, problems = check_archive(path, args.source, args.build, args.processor)
    else:
        held, problems = check(path, args.source, args.build)
    for problem in problems:
        print("FAILED %s: %s" % (os.path.basename(path), problem), file=sys.stderr)
    if problems:
        return 1
    print("%s holds %s" % (path, ", ".join(held)))
    if args.archive and args.standin:
        try:
            skipped = chroot_case(path, args.standin, args.source)
        except Exception as failure:
            print("FAILED the chroot case: %s" % failure, file=sys.stderr)
            return 1
        if skipped:
            print("skipped the chroot case: %s" % skipped)
            return SKIPPED
    return 0


if __name__ == "__main__":
    sys.exit(main())
