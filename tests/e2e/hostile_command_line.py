#!/usr/bin/env python3
"""Hostile command lines against the real tool: a command line as long as
Windows allows, control and high bytes inside names, unbalanced quotes, a lone
quote at the end, hundreds of arguments. Each must end in its documented
outcome (help text, the usage line, or a result line) with its documented exit
status, within a time limit, and with nothing on standard error but, after a
result of 0 from a 64-bit tool, its reasons: lines of their own, each starting
with the tool's name, whatever bytes the name given holds.

  hostile_command_line.py --tool build/native/Mirvane --address-bits 64
  hostile_command_line.py --tool build/win32/Mirvane.exe --address-bits 32 --wine wine --launcher build/win32/tests/launch_raw.exe
  hostile_command_line.py --tool build/win64/Mirvane64.exe --address-bits 64 --wine /usr/lib/wine/wine64 --launcher build/win64/tests/launch_raw.exe

Natively the arguments reach the tool already split, as bytes. Under Wine the
exact command line is handed over by launch_raw.exe (CreateProcessA, byte for
byte), so that the tool's own splitting is what is tested; a few plain-ASCII
lines also go through a batch file and the command prompt, where %errorlevel%
is read as a user's script would read it. Wine runs in WINEPREFIX, by default
a prefix beside the tool.

A run names no existing process (or none), so the tool falls back to the newest one
and normally finds nothing; the result line is checked for its format and
against the exit status, not for a particular value.
"""

import argparse
import os
import re
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import e2e_support as e2e  # noqa: E402

RUN_SECONDS = 60
USAGE_LINE = b"Wrong usage. Try /? for help"
HELP_LINE_COUNT = 23
# Windows refuses longer command lines (32767 characters with the final zero).
LONGEST_WINDOWS_LINE = 32766

HEX = b"[0-9A-F]"
RESULT_FORMS = {
    0: rb"(0|[1-9][0-9]{0,9})",
    1: HEX + rb"{8}",
    2: rb"0x(" + HEX + rb"{8})",
    3: rb"\$(" + HEX + rb"{8})",
    4: rb"(" + HEX + rb"{8})h",
    -1: rb"(0|[1-9A-F]" + HEX + rb"{0,7})",
    -2: rb"0x(0|[1-9A-F]" + HEX + rb"{0,7})",
    -3: rb"\$(0|[1-9A-F]" + HEX + rb"{0,7})",
    -4: rb"(0|[1-9A-F]" + HEX + rb"{0,7})h",
}


HIGH_BYTES = bytes(range(0x80, 0x100))
CONTROL_BYTES = bytes(range(0x01, 0x20))


def native_cases():
    """(name, argument list, expected outcome); arguments arrive as they are."""
    long_name = b"e" * 32768
    switches = [b"/1", b"/-2", b"/x3", b"/--4", b"/0"] * 100
    return [
        ("32 KiB name", [long_name, b"/-3"], ("run", -3)),
        ("32 KiB of type switches, the last one wins", switches * 17 + [b"/-1"], ("run", -1)),
        ("hundreds of names", [b"emu%d.exe" % i for i in range(400)], ("usage",)),
        ("hundreds of names, then help", [b"emu%d.exe" % i for i in range(400)] + [b"/?"], ("usage",)),
        ("hundreds of switches, then help", switches + [b"/?", b"a", b"b"], ("help",)),
        ("hundreds of empty arguments", [b""] * 500 + [b"/4"], ("run", 4)),
        ("control bytes inside a name", [b"emu" + CONTROL_BYTES + b".exe", b"/0"], ("run", 0)),
        ("control bytes before a switch make it a name", [b"\x01/3"], ("run", 2)),
        ("high bytes inside a name", [b"emu" + HIGH_BYTES + b".exe", b"/1"], ("run", 1)),
        ("a high byte ends a type switch", [b"/\xb4"], ("usage",)),
        ("high bytes inside a type switch", [b"/\xe9\xff4"], ("run", 4)),
        ("a name of quotes", [b'"emu', b"/-4"], ("run", -4)),
        ("a lone quote after a name is a second name", [b"emu.exe", b'"'], ("usage",)),
        ("a lone quote alone", [b'"'], ("run", 2)),
    ]


def longest_line(program):
    """Blank-separated type switches up to the last character Windows accepts."""
    line = program + b" " + b"/1 " * ((LONGEST_WINDOWS_LINE - len(program) - 5) // 3) + b"/-3"
    return line + b" " * (LONGEST_WINDOWS_LINE - len(line))


def wine_cases(program):
    """(name, whole command line, expected outcome); `program` is the quoted program path."""
    cases = [
        ("hundreds of names", b" ".join(b"emu%d.exe" % i for i in range(400)), ("usage",)),
        ("hundreds of names, then help", b" ".join(b"e%d" % i for i in range(400)) + b" /?", ("usage",)),
        ("hundreds of switches, then help", b"/1 /-2 " * 300 + b"/? a b", ("help",)),
        ("hundreds of empty quoted pairs", b'"" ' * 500 + b"/4", ("run", 4)),
        ("control bytes separate arguments, DEL does not", b"\x01\x02/3\x1f\x7f\r\nemu", ("usage",)),
        ("control bytes between switches", b"\x01/3\x1f/-2\r\n\t", ("run", -2)),
        ("control bytes inside a name split it in two", b"emu\x01exe", ("usage",)),
        ("control bytes inside a quoted name", b'"emu' + CONTROL_BYTES + b'.exe" /0', ("run", 0)),
        ("high bytes inside a name", b"emu" + HIGH_BYTES + b".exe /1", ("run", 1)),
        ("a high byte ends a type switch", b"/\xb4", ("usage",)),
        ("high bytes inside a type switch", b"/\xe9\xff4", ("run", 4)),
        ("an unbalanced quote takes the rest of the line", b'"emu name /0 /5', ("run", 2)),
        ("an unbalanced quote after a switch", b'/-3 "emu name', ("run", -3)),
        ("a lone quote at the end", b'emu.exe /3 "', ("run", 3)),
        ("a lone quote alone", b'"', ("run", 2)),
        ("quotes inside a name", b'e"m u"x"" /-1', ("run", -1)),
    ]
    cases = [(name, program + b" " + tail, expected) for name, tail, expected in cases]
    cases.append(("the longest command line Windows allows", longest_line(program), ("run", -3)))
    return cases


def prompt_cases():
    """Plain-ASCII lines for the command prompt: (name, line after the program, outcome)."""
    return [
        ("help", b"/?", ("help",)),
        ("a lone quote at the end", b'/0 "', ("run", 0)),
        ("an unbalanced quote", b'"emu name /0', ("run", 2)),
        ("hundreds of names", b" ".join(b"e%d" % i for i in range(300)), ("usage",)),
        ("empty quoted pairs", b'"" "" /-1 ""', ("run", -1)),
    ]


def check_outcome(name, out, err, status, expected, windows, tool, explains):
    """Returns a list of problems. On Windows the exit status is the result itself; a POSIX
    status says found (2) or not (0), the address being on standard output. A
    tool that `explains` gives its reasons after a result of 0."""
    problems = []
    line_end = b"\r\n" if windows else b"\n"
    value = None
    if not out.endswith(line_end):
        problems.append("output does not end in a whole line: %r" % out[-80:])
    lines = out[: -len(line_end)].split(line_end) if out.endswith(line_end) else [out]
    kind = expected[0]
    if kind == "help":
        # Mirvane.exe's 23 lines end with the error level; the 64-bit tools'
        # own text (with the same 64-bit rules as `explains`) with --watch.
        last = b"--watch ends." if explains else b"%errorlevel%"
        if (len(lines) != HELP_LINE_COUNT and not explains) or lines[0] != b"" or \
                not lines[1].startswith(b"Mirvane v1.0"):
            problems.append("not the help text: %r" % out[:200])
        elif last not in lines[-1]:
            problems.append("the help text ends wrong: %r" % lines[-1])
        if status != 0:
            problems.append("exit status %d after help" % status)
    elif kind == "usage":
        if lines != [USAGE_LINE]:
            problems.append("not the usage line alone: %r" % out[:200])
        if status != 0:
            problems.append("exit status %d after wrong usage" % status)
    else:
        output_type = expected[1]
        errs = [line for line in lines[:-1] if line == b"Err!"]
        if len(errs) != len(lines) - 1:
            problems.append("lines other than Err! before the result: %r" % out[:200])
        match = re.fullmatch(RESULT_FORMS[output_type], lines[-1])
        if match is None:
            problems.append("result line %r is not of type %d" % (lines[-1][:80], output_type))
        else:
            digits = match.group(1) if match.groups() else match.group(0)
            value = int(digits, 10 if output_type == 0 else 16)
            problems += e2e.reason_problems(err, tool, explains and value == 0, line_end)
            if status != (value if windows else 2 if value else 0):
                problems.append("exit status %d for the result %r" % (status, lines[-1]))
    if value is None and err:
        problems.append("standard error is not empty: %r" % err[:200])
    return ["%s: %s" % (name, p) for p in problems]


def run_native(tool, explains):
    problems = []
    for name, arguments, expected in native_cases():
        try:
            done = subprocess.run([tool] + arguments, stdin=subprocess.DEVNULL, capture_output=True,
                                  timeout=RUN_SECONDS)
        except subprocess.TimeoutExpired:
            problems.append("%s: no end within %d s" % (name, RUN_SECONDS))
            continue
        if done.returncode < 0:
            problems.append("%s: ended by signal %d" % (name, -done.returncode))
            continue
        found = check_outcome(name, done.stdout, done.stderr, done.returncode, expected, False, tool, explains)
        problems += found
        print("%-56s %s" % (name, "ok" if not found else "FAILED"))
    return problems


def run_wine_command(command, env):
    """Runs a Wine command; returns (stdout, stderr, unix status) or None on a hang."""
    try:
        done = subprocess.run(command, stdin=subprocess.DEVNULL, capture_output=True, timeout=RUN_SECONDS,
                              env=env)
    except subprocess.TimeoutExpired:
        return None
    return done.stdout, e2e.without_loader_noise(done.stderr), done.returncode


def run_wine(wine, tool, launcher, scratch, explains):
    env = e2e.wine_environment(tool)
    problems = []
    program = b'"' + e2e.windows_path(tool).encode() + b'"'
    line_file = os.path.join(scratch, "line.txt")
    status_file = os.path.join(scratch, "status.txt")
    for name, line, expected in wine_cases(program):
        with open(line_file, "wb") as f:
            f.write(line)
        if os.path.exists(status_file):
            os.remove(status_file)
        ran = run_wine_command([wine, launcher, e2e.windows_path(line_file), e2e.windows_path(status_file)], env)
        if ran is None:
            problems.append("%s: no end within %d s" % (name, RUN_SECONDS))
            continue
        out, err, unix_status = ran
        if unix_status != 0 or not os.path.exists(status_file):
            problems.append("%s: the launcher failed (%d): %r" % (name, unix_status, err[-300:]))
            continue
        with open(status_file) as f:
            status = int(f.read())
        found = check_outcome(name, out, err, status, expected, True, tool, explains)
        problems += found
        print("%-56s %s" % ("wine: " + name, "ok" if not found else "FAILED"))
    return problems


def run_prompt(wine, tool, scratch, explains):
    """Plain-ASCII lines through a batch file, status from %errorlevel%."""
    env = e2e.wine_environment(tool)
    problems = []
    program = b'"' + e2e.windows_path(tool).encode() + b'"'
    batch = os.path.join(scratch, "case.bat")
    status_line = re.compile(rb"@@status=(-?\d+)@@\r\n$")
    for name, tail, expected in prompt_cases():
        with open(batch, "wb") as f:
            f.write(b"@echo off\r\n" + program + b" " + tail + b"\r\necho @@status=%errorlevel%@@\r\n")
        ran = run_wine_command([wine, "cmd", "/c", e2e.windows_path(batch)], env)
        if ran is None:
            problems.append("prompt: %s: no end within %d s" % (name, RUN_SECONDS))
            continue
        out, err, _ = ran
        status = status_line.search(out)
        if status is None:
            problems.append("prompt: %s: no status line in %r" % (name, out[-200:]))
            continue
        # cmd shows the error level signed.
        value = int(status.group(1)) & 0xFFFFFFFF
        found = check_outcome("prompt: " + name, out[: status.start()], err, value, expected, True, tool,
                              explains)
        problems += found
        print("%-56s %s" % ("prompt: " + name, "ok" if not found else "FAILED"))
    return problems


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--tool", required=True, help="the native Mirvane or Mirvane.exe")
    parser.add_argument("--wine", metavar="LOADER", help="the tool is a Windows build, run under Wine with this loader")
    parser.add_argument("--launcher", help="launch_raw.exe of the same build (with --wine)")
    parser.add_argument("--address-bits", type=int, choices=(32, 64), required=True,
                        help="the width of the tool's host addresses: the 64-bit tools give reasons for a 0")
    args = parser.parse_args()
    explains = args.address_bits == 64
    if args.wine and not args.launcher:
        parser.error("--wine needs --launcher")

    if args.wine:
        with tempfile.TemporaryDirectory(prefix="hostile-") as scratch:
            problems = (run_wine(args.wine, args.tool, args.launcher, scratch, explains)
                        + run_prompt(args.wine, args.tool, scratch, explains))
    else:
        problems = run_native(args.tool, explains)
    for problem in problems:
        print("FAILED " + problem, file=sys.stderr)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
