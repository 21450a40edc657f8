#!/usr/bin/env python3
"""Runs the marker program in Debian's pcsxr emulator, headless under Xvfb with
its built-in BIOS, once as TESSIL.EXE and once booted from TESSIL.ISO, and
checks that the tool finds the emulated RAM by PID and by executable name at
the address an independent scan finds, and that the screen flickers green and
blue. Fails when the emulator or the X tools are not installed: the test
command installs them, and a missing one must not pass for a skip.

The installed pcsxr is the 64-bit one; the 32-bit one is unpacked into a
folder of its own (--root), as the two packages can't be installed together.

usage: emulator_test.py MIRVANE TESSIL.EXE TESSIL.ISO [--root DIR] [--bits 64|32] [--screens DIR]"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
from find_ram import marker_hits, ram_base
from pcsxr_session import (find_pcsxr, find_plugin_dir, program_bits, start_pcsxr, start_xvfb, stop, wait_until,
                           write_config)
from screen_colours import colour_name, dominant_colour, grab, save_png

MARKER_TIMEOUT = 30  # seconds; the markers usually appear within 2
SCREEN_GRABS = 40

Results = {"passed": 0, "failed": 0}


def check(name, ok, detail=""):
    Results["passed" if ok else "failed"] += 1
    print("%s: %s%s" % ("PASS" if ok else "FAIL", name, "" if ok else " -- " + detail), flush=True)


def run_tool(tool, arguments):
    done = subprocess.run([tool] + arguments, capture_output=True, text=True, timeout=120)
    return done.stdout.strip(), done.returncode


def both_markers_seen(emulator):
    if emulator.poll() is not None:
        return "exited"
    starts, ends = marker_hits(emulator.pid)
    return (starts, ends) if starts and ends else None


def check_flicker(label, display, screens_dir):
    """Grabs the screen until both colours were seen; keeps one of each."""
    kept = {}
    for _ in range(SCREEN_GRABS):
        ppm = grab(display)
        kept.setdefault(colour_name(dominant_colour(ppm)), ppm)
        if "green" in kept and "blue" in kept:
            break
    check(label + ": the screen alternates green and blue", "green" in kept and "blue" in kept,
          "dominant colours seen: %s" % sorted(kept))
    if screens_dir:
        for colour, ppm in kept.items():
            save_png(ppm, os.path.join(screens_dir, "%s-%s.png" % (label, colour)))


def check_running_emulator(label, emulator, tool, display, screens_dir):
    seen = wait_until(lambda: both_markers_seen(emulator), MARKER_TIMEOUT)
    if not seen or seen == "exited":
        check(label + ": markers appear in the emulator", False,
              "emulator %s" % ("exited" if seen else "showed no markers in %d s" % MARKER_TIMEOUT))
        return
    starts, ends = seen
    base = ram_base(starts, ends)
    check(label + ": each marker once, 2 MiB - 16 apart", base != 0,
          "start at %s, end at %s" % ([hex(a) for a in starts], [hex(a) for a in ends]))
    if not base:
        return  # then the tool has nothing to be compared with
    expected = "0x%08X" % base
    print("%s: the independent scan finds the RAM at %s" % (label, expected))
    for how, argument in (("by PID", str(emulator.pid)), ("by name", "pcsxr")):
        printed, status = run_tool(tool, [argument])
        check("%s: the tool finds the RAM %s" % (label, how), (printed, status) == (expected, 2),
              "printed %r with status %d, expected %r with status 2" % (printed, status, expected))
    check_flicker(label, display, screens_dir)


def check_boot(label, pcsxr, pcsxr_arguments, tool, home, display, screens_dir):
    failed_before = Results["failed"]
    log_path = os.path.join(home, label + ".log")
    with open(log_path, "w") as log:
        emulator = start_pcsxr(pcsxr, home, display, pcsxr_arguments, log)
        try:
            check_running_emulator(label, emulator, tool, display, screens_dir)
        finally:
            stop(emulator)
    if Results["failed"] > failed_before:
        with open(log_path) as log:
            print("--- emulator output (%s) ---\n%s" % (label, log.read()[-3000:]))


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("tool")
    parser.add_argument("exe")
    parser.add_argument("iso")
    parser.add_argument("--root", default="/", help="where the pcsxr package's files are (default: the system)")
    parser.add_argument("--bits", type=int, choices=(64, 32), default=64, help="the width pcsxr must be built for")
    parser.add_argument("--screens", help="folder to keep one green and one blue screenshot per run in")
    args = parser.parse_args()

    pcsxr, plugin_dir = find_pcsxr(args.root), find_plugin_dir(args.root)
    missing = [name for name, found in (("pcsxr in " + args.root, pcsxr),
                                        ("pcsxr plugins in " + args.root, plugin_dir),
                                        ("Xvfb", shutil.which("Xvfb")), ("ImageMagick", shutil.which("import")))
               if not found]
    missing += [path for path in (args.exe, args.iso) if not os.path.isfile(path)]
    if missing:
        print("FAILED: not installed or not built (scripts/install-deps.sh installs them): " + ", ".join(missing))
        return 1
    # Else a pcsxr of the other width, installed in its place, would pass for this one.
    bits = program_bits(pcsxr)
    check("%s is a %d-bit program" % (pcsxr, args.bits), bits == args.bits, "it is %s-bit" % bits)
    if bits != args.bits:
        return 1
    tool = os.path.abspath(args.tool)
    if args.screens:
        os.makedirs(args.screens, exist_ok=True)

    home = tempfile.mkdtemp(prefix="pcsxr-home-")
    with open(os.path.join(home, "xvfb.log"), "w") as xvfb_log:
        server, display = start_xvfb(xvfb_log)
    try:
        # The 64-bit pcsxr's recompiler runs the marker program, but the screen
        # stays black; its interpreter draws the flicker.
        write_config(home, plugin_dir, interpreter=args.bits == 64)
        check_boot("exe", pcsxr, [os.path.abspath(args.exe)], tool, home, display, args.screens)
        check_boot("iso", pcsxr, ["-cdfile", os.path.abspath(args.iso)], tool, home, display, args.screens)
        # A live process with large regions but no markers: nothing to report.
        printed, status = run_tool(tool, [str(server.pid)])
        check("the tool reports nothing in a process without markers", (printed, status) == ("0x00000000", 0),
              "printed %r with status %d" % (printed, status))
    finally:
        stop(server)
        shutil.rmtree(home, ignore_errors=True)
    print("%d passed, %d failed" % (Results["passed"], Results["failed"]))
    return 1 if Results["failed"] else 0


if __name__ == "__main__":
    sys.exit(main())
