#!/usr/bin/env python3
"""Runs the marker program, and a game with no marker program, in real
emulators and checks that the tools find the emulated RAM at the address an
independent scan of the emulator's memory finds (/proc/PID/mem, not the
tools' code: find_ram.py, by the markers or by the game's image and its
moving frame counter). Fails when an emulator or a tool it needs is missing:
the test command installs and builds them, and a missing one must not pass
for a skip.

With the game (GAME.EXE, tessil/game.s) the 64-bit tools must find the RAM by
the console's kernel area that the BIOS left there, and say so on standard
error; with the marker program, by the markers, and say nothing (the markers
beat the kernel area). Mirvane.exe never looks at the kernel area: for it a
game with no marker program is "not found", silently. Where an emulator's
built-in BIOS stand-in leaves no kernel area (Debian's pcsxr: the scan's dump
of it is printed), the game is not found, with the reason that asks for the
marker program.

Debian's pcsxr (the default), for the native tool: headless under Xvfb with
its built-in BIOS, once as TESSIL.EXE and once booted from TESSIL.ISO; by PID
and by executable name, and the screen must flicker green and blue. First, while
nothing else has read the emulator's memory, no run of the tool by PID may grow
it by 8 MiB or more (VmRSS): the tool reads only the pages it has touched. Then,
under "mirvane --watch" with its name, the emulator is started, ended and started
again: the tool must write the RAM found, 0, and the new emulator's RAM found. The
installed pcsxr is the 64-bit one; the 32-bit one is unpacked into a folder of
its own (--root), as the two packages can't be installed together.

With --wine, Debian's Beetle PSX core (Mednafen-based) built for Windows, for
the Windows tool: our headless libretro host runs it under Wine with our BIOS
image and TESSIL.EXE (then GAME.EXE), the first program of a fresh Wine server
in a copy of the Wine tests' prefix. The Windows tool must find the RAM by
Wine PID and by the host's executable name, and the native tool
(--native-tool) by the Wine process's Linux PID. The core is built into the
--beetle folder once.

With --core, Debian's Beetle PSX core for Linux (libretro-beetle-psx), in the
same host built natively, with our BIOS image; with --mednafen, Debian's
standalone Mednafen, headless under Xvfb with sound off, with our BIOS image
in its firmware folder. Each runs TESSIL.EXE, then GAME.EXE; the native tool
must find the RAM by PID and by name.

usage: emulator_test.py MIRVANE TESSIL.EXE TESSIL.ISO --game GAME.EXE [--root DIR] [--bits 64|32] [--screens DIR]
       emulator_test.py MIRVANE.EXE TESSIL.EXE --game GAME.EXE --wine LOADER --bits 64|32 --beetle DIR
                        --host RETRO_HOST.EXE --bios TESSBIOS.BIN --native-tool MIRVANE
       emulator_test.py MIRVANE TESSIL.EXE --game GAME.EXE --core CORE.so --host RETRO_HOST --bios TESSBIOS.BIN
       emulator_test.py MIRVANE TESSIL.EXE --game GAME.EXE --mednafen --bios TESSBIOS.BIN"""
import argparse
import os
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
import beetle_session as beetle
import e2e_support as e2e
from find_ram import game_ram_bases, kernel_area_dump, marker_hits, ram_base
import mednafen_session as mednafen
from pcsxr_session import (find_pcsxr, find_plugin_dir, program_bits, start_pcsxr, start_xvfb, stop, wait_until,
                           write_config)
from screen_colours import colour_name, dominant_colour, grab, save_png

MARKER_TIMEOUT = 30  # seconds; the markers usually appear within 2
GAME_TIMEOUT = 30  # seconds for the game to be seen running
KERNEL_LINE = "the RAM was found by the console's kernel area, as no marker program is running in the emulator"
NO_MARKER_REASON = "holds no marker: is the marker program"
STARTUP_SECONDS = 2
# The native tool reads only the pages the emulator has touched: a run leaves
# it as big as it was, but for what it allocates itself meanwhile.
RESIDENT_GROWTH_KIB = 8 * 1024
SCREEN_GRABS = 40

Results = {"passed": 0, "failed": 0}


def check(name, ok, detail=""):
    Results["passed" if ok else "failed"] += 1
    print("%s: %s%s" % ("PASS" if ok else "FAIL", name, "" if ok else " -- " + detail), flush=True)


def run_tool(tool, arguments):
    done = subprocess.run([tool] + arguments, capture_output=True, text=True, timeout=120)
    return done.stdout.strip(), done.returncode


def run_tool_fully(tool, arguments):
    """(printed line, standard error, exit status) of a native tool's run."""
    done = subprocess.run([tool] + arguments, capture_output=True, timeout=120)
    return done.stdout.decode("ascii", "replace").strip(), done.stderr, done.returncode


def check_answer(label, how, answer, expected, error_wanted):
    """answer: (printed line, standard error, status); expected: (line,
    status); error_wanted: the exact standard error, or a fragment it must
    hold as its one line (NO_MARKER_REASON)."""
    printed, error, status = answer
    error = error.decode("ascii", "replace")
    if error_wanted == NO_MARKER_REASON:
        error_ok = error.count("\n") == 1 and NO_MARKER_REASON in error
    else:
        error_ok = error == error_wanted
    check("%s: %s" % (label, how), (printed, status) == expected and error_ok,
          "printed %r with status %d and on standard error %r; expected %r with status %d and %r"
          % (printed, status, error, expected[0], expected[1], error_wanted))


def kernel_line(tool, line_end="\n"):
    return "%s: %s%s" % (e2e.tool_name(tool), KERNEL_LINE, line_end)


def independent_game_base(label, pid, game):
    """The RAM's address where the game runs, by our own scan, with the words
    of its kernel area printed; 0 (and a failed check) where it isn't seen
    running in one RAM."""
    bases = wait_until(lambda: game_ram_bases(pid, game), GAME_TIMEOUT)
    check(label + ": the game runs in one RAM", len(bases) == 1,
          "the scan finds it running at %s" % [hex(base) for base in bases])
    if len(bases) != 1:
        return 0
    print("%s: the independent scan finds the RAM at 0x%08X; its kernel area:\n%s"
          % (label, bases[0], kernel_area_dump(pid, bases[0])), flush=True)
    return bases[0]


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


def independent_ram_base(label, emulator):
    """The RAM's address in the running emulator by our own scan of its
    memory, once the markers are there; 0 (and a failed check) otherwise."""
    seen = wait_until(lambda: both_markers_seen(emulator), MARKER_TIMEOUT)
    if not seen or seen == "exited":
        check(label + ": markers appear in the emulator", False,
              "emulator %s" % ("exited" if seen else "showed no markers in %d s" % MARKER_TIMEOUT))
        return 0
    starts, ends = seen
    base = ram_base(starts, ends)
    check(label + ": each marker once, 2 MiB - 16 apart", base != 0,
          "start at %s, end at %s" % ([hex(a) for a in starts], [hex(a) for a in ends]))
    if base:
        print("%s: the independent scan finds the RAM at 0x%08X" % (label, base))
    return base


def check_left_as_found(label, emulator, tool):
    """Runs the tool by PID until it finds the RAM, before anything else reads
    the emulator's memory (the independent scan makes every page resident):
    no run may grow the emulator by RESIDENT_GROWTH_KIB or more. Of the
    emulator's large regions, freshly started, most were never touched."""
    time.sleep(STARTUP_SECONDS)  # its libraries loaded and its memory set up
    growths = []
    deadline = time.monotonic() + MARKER_TIMEOUT
    printed = ""
    while emulator.poll() is None and time.monotonic() < deadline:
        before = e2e.resident_kib(emulator.pid)
        printed, status = run_tool(tool, [str(emulator.pid)])
        growths.append(e2e.resident_kib(emulator.pid) - before)
        if status == 2:
            break
        time.sleep(0.3)
    check("%s: no run by PID grows the emulator by %d KiB or more" % (label, RESIDENT_GROWTH_KIB),
          growths and max(growths) < RESIDENT_GROWTH_KIB and printed != "0x00000000",
          "growth per run in KiB: %s, last printed %r" % (growths, printed))
    print("%s: %d run(s) by PID before the RAM was found, the emulator grew by at most %d KiB"
          % (label, len(growths), max(growths or [0])), flush=True)


def check_running_emulator(label, emulator, tool, display, screens_dir):
    check_left_as_found(label, emulator, tool)
    base = independent_ram_base(label, emulator)
    if not base:
        return  # then the tool has nothing to be compared with
    check_native_tool(label, tool, emulator.pid, "pcsxr", (hex_address(base), 2), "")
    check_flicker(label, display, screens_dir)


def watch_lines_until(watcher, lines, wanted, timeout=MARKER_TIMEOUT):
    """Reads the watching tool's lines into `lines` until the last one is
    `wanted` (a function of the line); False when none comes in time."""
    deadline = time.monotonic() + timeout
    while not (lines and wanted(lines[-1])):
        left = deadline - time.monotonic()
        if left <= 0 or not select.select([watcher.stdout], [], [], left)[0]:
            return False
        line = watcher.stdout.readline()
        if not line:
            return False
        lines.append(line.strip())
    return True


def check_restart_under_watch(pcsxr, exe, tool, home, display):
    """The emulator started, ended and started again under --watch by name:
    each start gives the line of its RAM, each end a line of 0. (As pcsxr
    ends, its memory may still show the markers elsewhere for a moment: such
    lines may come between the two.) The emulator runs under a name of its
    own, so that no other pcsxr on the machine, such as another test's, can
    answer to it."""
    label = "restart under --watch"
    name = "pcsxr-watch-%d" % os.getpid()
    pcsxr_copy = os.path.join(home, name)
    shutil.copy2(pcsxr, pcsxr_copy)
    watcher = subprocess.Popen([tool, "--watch", name], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                               stderr=subprocess.DEVNULL, text=True)
    lines = []
    try:
        seen, wanted = [], []
        for run in ("first", "second"):
            with open(os.path.join(home, "watch-%s.log" % run), "w") as log:
                emulator = start_pcsxr(pcsxr_copy, home, display, [os.path.abspath(exe)], log)
                try:
                    found = watch_lines_until(watcher, lines, lambda line: line != "0x00000000")
                    base = independent_ram_base("%s (%s run)" % (label, run), emulator)
                    seen.append(lines[-1] if found else None)
                    wanted.append("0x%08X" % base)
                finally:
                    stop(emulator)
            seen.append("0x00000000" if watch_lines_until(watcher, lines, lambda line: line == "0x00000000")
                        else None)
            wanted.append("0x00000000")
        check("%s: found, lost, found again, lost" % label, seen == wanted and lines[0] == "0x00000000",
              "wrote %r; the RAM found by the scan: %r" % (lines, wanted[0::2]))
    finally:
        watcher.send_signal(signal.SIGTERM)
        try:
            watcher.wait(10)
        except subprocess.TimeoutExpired:
            watcher.kill()
            watcher.wait()
    check("%s: SIGTERM ends it with status 0" % label, watcher.returncode == 0, "status %d" % watcher.returncode)


def hex_address(base):
    return "0x%08X" % base


def check_native_tool(label, tool, pid, name, expected, error_wanted):
    for how, argument in (("by PID", str(pid)), ("by name", name)):
        check_answer(label, "the tool answers %s" % how, run_tool_fully(tool, [argument]), expected, error_wanted)


def check_pcsxr_game(label, emulator, tool, game):
    """pcsxr's built-in BIOS stand-in writes no kernel area (the dump shows
    it): the game runs, but the tool can't find it without the marker
    program, and says so."""
    if independent_game_base(label, emulator.pid, game):
        check_native_tool(label, tool, emulator.pid, "pcsxr", ("0x00000000", 0), NO_MARKER_REASON)


def check_boot(label, pcsxr, pcsxr_arguments, tool, home, display, screens_dir, game=None):
    failed_before = Results["failed"]
    log_path = os.path.join(home, label + ".log")
    with open(log_path, "w") as log:
        emulator = start_pcsxr(pcsxr, home, display, pcsxr_arguments, log)
        try:
            if game:
                check_pcsxr_game(label, emulator, tool, game)
            else:
                check_running_emulator(label, emulator, tool, display, screens_dir)
        finally:
            stop(emulator)
    if Results["failed"] > failed_before:
        with open(log_path) as log:
            print("--- emulator output (%s) ---\n%s" % (label, log.read()[-3000:]))


def check_beetle_under_wine(args):
    triple = {64: "x86_64-w64-mingw32", 32: "i686-w64-mingw32"}[args.bits]
    label = "beetle-psx (%s) under Wine" % triple.split("-")[0]
    # The prefix the Wine tests ready (their "wine" fixture): the run is in a copy of it.
    env = e2e.wine_environment(args.tool)
    needed = [args.tool, args.exe, args.game, args.host, args.bios, args.native_tool]
    missing = [path for path in needed if not os.path.isfile(path)]
    missing += [name for name in (args.wine, "wineserver", triple + "-g++", "make") if not shutil.which(name)]
    if not os.path.isfile(os.path.join(env["WINEPREFIX"], "system.reg")):
        missing.append("the Wine prefix " + env["WINEPREFIX"])
    if missing:
        check("%s: everything it needs is there" % label, False,
              "not installed or not built (scripts/install-deps.sh installs them; the native tool comes from "
              "the native preset, the prefix from the wine_start test): " + ", ".join(missing))
        return
    started = time.monotonic()
    core = beetle.build_core(os.path.join(os.path.dirname(os.path.abspath(__file__)), "build-beetle-core.sh"),
                             args.beetle, triple)
    print("%s: the core is %s (%.0f s)" % (label, core, time.monotonic() - started), flush=True)
    check_beetle_program_under_wine(label + ", TESSIL.EXE", args, env, core, args.exe, game=False)
    check_beetle_program_under_wine(label + ", the game", args, env, core, args.game, game=True)


def check_beetle_program_under_wine(label, args, env, core, program, game):
    failed_before = Results["failed"]
    # The emulator is the first program of a fresh server, in a prefix of its own.
    wine = e2e.fresh_server_setting({"wine": args.wine, "env": env})
    log_path = os.path.join(wine["scratch"], "host.log")
    emulator = None
    try:
        with open(log_path, "w") as log:
            emulator, wine_pid = beetle.start_host(args.wine, os.path.abspath(args.host), core,
                                                   beetle.system_folder(wine["scratch"], args.bios),
                                                   os.path.abspath(program), wine["env"], log)
        print("%s: the host runs as Wine PID %d, Linux PID %d, the first program of a fresh Wine server"
              % (label, wine_pid, emulator.pid), flush=True)
        base = independent_game_base(label, emulator.pid, program) if game else independent_ram_base(label, emulator)
        if base:
            e2e.start_prompt(wine)
            tool = os.path.abspath(args.tool)
            # The address as exit status where it fits 32 bits, else 2: found, see the output.
            expected = (hex_address(base), base if base <= 0xFFFFFFFF else 2)
            error_wanted = kernel_line(tool, "\r\n") if game else ""
            if game and args.bits == 32:
                expected, error_wanted = ("0x00000000", 0), ""  # it never looks at the kernel area
            for how, argument in (("by Wine PID", str(wine_pid)), ("by name", beetle.HOST_NAME)):
                output, error, status = e2e.run_tool(dict(wine, tool=tool), [argument])
                check_answer(label, "%s answers %s" % (os.path.basename(tool), how),
                             (output.decode("ascii", "replace").strip(), error, status), expected, error_wanted)
            check_answer(label, "the native tool answers by the Linux PID",
                         run_tool_fully(os.path.abspath(args.native_tool), [str(emulator.pid)]),
                         (hex_address(base), 2), kernel_line(args.native_tool) if game else "")
    except (RuntimeError, subprocess.SubprocessError) as problem:
        check("%s: the emulator runs and the tools answer" % label, False, str(problem))
    finally:
        if emulator:
            stop(emulator)
        if Results["failed"] > failed_before:
            with open(log_path) as log:
                print("--- host output ---\n%s" % log.read()[-3000:])
        e2e.stop_everything(wine)


def start_native_emulator(args, home, display, program, log):
    """Starts the emulator under test (Beetle in our host with --core, else
    Mednafen) with our BIOS and the program; returns it and its PID."""
    if args.core:
        return beetle.start_native_host(os.path.abspath(args.host), args.core, beetle.system_folder(home, args.bios),
                                        program, log)
    emulator = mednafen.start(mednafen.find_mednafen(), home, display, program, log)
    return emulator, emulator.pid


def check_native_mednafen_family(label, args, home, display, name):
    """Runs TESSIL.EXE, then the game, in the emulator under test; the native
    tool must find the RAM by the markers, then by the kernel area our BIOS
    leaves."""
    tool = os.path.abspath(args.tool)
    for program, is_game in ((args.exe, False), (args.game, True)):
        case = "%s, %s" % (label, "the game" if is_game else "TESSIL.EXE")
        failed_before = Results["failed"]
        log = tempfile.TemporaryFile(mode="w+")
        emulator = None
        try:
            emulator, pid = start_native_emulator(args, home, display, os.path.abspath(program), log)
            base = independent_game_base(case, pid, program) if is_game else independent_ram_base(case, emulator)
            if base:
                check_native_tool(case, tool, pid, name, (hex_address(base), 2), kernel_line(tool) if is_game else "")
        except (RuntimeError, subprocess.SubprocessError) as problem:
            check("%s: the emulator runs and the tool answers" % case, False, str(problem))
        finally:
            if emulator:
                stop(emulator)
            if Results["failed"] > failed_before:
                log.seek(0)
                print("--- emulator output ---\n%s" % log.read()[-3000:])
            log.close()


def check_beetle_native(args):
    missing = [path for path in (args.tool, args.exe, args.game, args.host, args.bios, args.core)
               if not os.path.isfile(path)]
    if missing:
        check("beetle-psx (native): everything it needs is there", False,
              "not installed or not built (scripts/install-deps.sh installs them): " + ", ".join(missing))
        return
    home = tempfile.mkdtemp(prefix="beetle-home-")
    try:
        check_native_mednafen_family("beetle-psx (native)", args, home, None, os.path.basename(args.host))
    finally:
        shutil.rmtree(home, ignore_errors=True)


def check_mednafen(args):
    program = mednafen.find_mednafen()
    missing = [path for path in (args.tool, args.exe, args.game, args.bios) if not os.path.isfile(path)]
    missing += [name for name, found in (("mednafen", program), ("Xvfb", shutil.which("Xvfb"))) if not found]
    if missing:
        check("mednafen: everything it needs is there", False,
              "not installed or not built (scripts/install-deps.sh installs them): " + ", ".join(missing))
        return
    home = tempfile.mkdtemp(prefix="mednafen-home-")
    with open(os.path.join(home, "xvfb.log"), "w") as xvfb_log:
        server, display = start_xvfb(xvfb_log)
    try:
        mednafen.write_settings(home, args.bios)
        check_native_mednafen_family("mednafen", args, home, display, os.path.basename(program))
    finally:
        stop(server)
        shutil.rmtree(home, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("tool")
    parser.add_argument("exe")
    parser.add_argument("iso", nargs="?")
    parser.add_argument("--root", default="/", help="where the pcsxr package's files are (default: the system)")
    parser.add_argument("--bits", type=int, choices=(64, 32), default=64,
                        help="the width the emulator must be built for")
    parser.add_argument("--screens", help="folder to keep one green and one blue screenshot per run in")
    parser.add_argument("--wine", metavar="LOADER", help="test the Beetle core under Wine with this loader")
    parser.add_argument("--beetle", help="with --wine: where the core is built")
    parser.add_argument("--host", help="with --wine: our libretro host, retro_host.exe")
    parser.add_argument("--bios", help="with --wine: our BIOS image, TESSBIOS.BIN")
    parser.add_argument("--native-tool", help="with --wine: the native Mirvane")
    parser.add_argument("--game", required=True, help="the game that runs with no marker program, GAME.EXE")
    parser.add_argument("--core", help="test Debian's Beetle core for Linux, this one, in the native host (--host)")
    parser.add_argument("--mednafen", action="store_true", help="test Debian's standalone Mednafen")
    args = parser.parse_args()
    if args.wine or args.core or args.mednafen:
        if args.wine and not (args.beetle and args.host and args.bios and args.native_tool):
            parser.error("--wine needs --beetle, --host, --bios and --native-tool")
        if args.core and not (args.host and args.bios):
            parser.error("--core needs --host and --bios")
        if args.mednafen and not args.bios:
            parser.error("--mednafen needs --bios")
        if args.wine:
            check_beetle_under_wine(args)
        elif args.core:
            check_beetle_native(args)
        else:
            check_mednafen(args)
        print("%d passed, %d failed" % (Results["passed"], Results["failed"]))
        return 1 if Results["failed"] or not Results["passed"] else 0
    if not args.iso:
        parser.error("the pcsxr test needs TESSIL.ISO")

    pcsxr, plugin_dir = find_pcsxr(args.root), find_plugin_dir(args.root)
    missing = [name for name, found in (("pcsxr in " + args.root, pcsxr),
                                        ("pcsxr plugins in " + args.root, plugin_dir),
                                        ("Xvfb", shutil.which("Xvfb")), ("ImageMagick", shutil.which("import")))
               if not found]
    missing += [path for path in (args.exe, args.iso, args.game) if not os.path.isfile(path)]
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
        check_boot("game", pcsxr, [os.path.abspath(args.game)], tool, home, display, None, game=args.game)
        check_restart_under_watch(pcsxr, args.exe, tool, home, display)
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
