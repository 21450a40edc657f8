#!/usr/bin/env python3
"""End-to-end tests: the real Mirvane against the stand-in emulator.

    run_e2e.py --tool PATH --standin PATH --address-bits 64 [--wine-standin PATH --wine64 LOADER]
                                                                       (native build)
    run_e2e.py --tool PATH --standin PATH --address-bits 32|64 --wine LOADER [--bat PATH]
                                                                       (Windows build under Wine)

Natively, with --wine-standin (the win64 build's stand-in) and --wine64 (Wine's
64-bit loader), the tool must also find a Windows program under Wine by its
Windows name. Where the answer is 0, the 64-bit tools' reasons on standard
error are checked, and where they found the RAM by the console's kernel area,
their one line that says so; the 32-bit one must write none.

Prints one line per case and exits with 1 when any case fails. Under Wine the
prefix is --wineprefix, else $WINEPREFIX, else "wineprefix" beside the tool; a
Wine server that already runs for it is used and left running, one started
here is stopped at the end."""

import json
import os
import re
import select
import shutil
import signal
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import e2e_support as e2e  # noqa: E402

HELP_LINES = [
    "",
    "Mirvane v1.0, Brenlow_Works!",
    "A tool for getting real address of game RAM from",
    "                      any PlayStation1 emulator. Usage:",
    '1) Load "TESSIL.EXE" or "TESSIL.ISO" in your emulator and run it',
    "2) You should see green-blue screen flickering in the game window",
    "3) Pause emulation it you can; or not do it",
    "4) Run this Mirvane.exe or Mirvane.bat!",
    "",
    "      Command-line options:",
    "Mirvane.exe [name | pid] [/type]",
    '"name/pid" = executable name or processID of emulator.',
    "                   (default is the last created process)",
    '"type" = /0 for decimal, others for hexadecimal:',
    " = /1 will add zeroes at beginning to make 8 digits;",
    " = /2 will add 0x and zeroes; [default]",
    " = /3 will add $ and zeroes;",
    ' = /4 will add "h" at the end and zeroes;',
    " Use /-1, /-2, /-3, /-4 accordingly to NOT add leading zeroes.",
    "",
    "Program will print result to the standard output,",
    "Result will be zero if game RAM is not found.",
    "Also, result is returned as the program exit code (%errorlevel%)",
]
USAGE_LINE = "Wrong usage. Try /? for help"
OUTPUT_TYPES = ["/0", "/1", "/2", "/3", "/4", "/-1", "/-2", "/-3", "/-4"]

# Scenario, how many "Err!" lines come before its result on Linux and under Wine
# (None: can't be staged there), and where the 64-bit tools find nothing, what
# their reason says about the stand-in (BY_KERNEL: they find the RAM by its
# kernel area, and say so). The result is the address the stand-in
# announces, at any width; a stand-in that can't stage a scenario (a 32-bit one
# has nothing above 4 GiB) says so, and the case is reported skipped. The
# native stand-in is a 64-bit process: there the scenarios below 4 GiB show
# that such an address comes out as from the 32-bit tool, eight digits.
NO_MARKER = "holds no marker: is the marker program"
NOT_ONE_RAM = "in memory not shown to be one RAM"
# Found by the console's kernel area, with no marker: the 64-bit tools say so
# in one line; the 32-bit one finds nothing and says nothing.
BY_KERNEL = "(found by the kernel area)"
SCENARIOS = [
    ("ram-at-region-start", 0, 0, None),
    ("ram-at-offset", 0, 0, None),
    ("exact-region", 0, 0, None),
    ("high-address", 0, 0, None),
    # The RAM holds a kernel area too: where markers were seen, it is not used.
    ("second-start", 0, 0, "holds the start marker 2 times and the end marker once, " + NOT_ONE_RAM),
    ("end-one-ram-away", 0, 0, "holds the start marker once and the end marker once, not one RAM (2 MiB) apart"),
    ("unaligned", 0, 0, NO_MARKER),
    # Linux: a PROT_NONE mapping is address space without access, not read.
    # Windows: the 64-bit tools pass PAGE_NOACCESS memory over unread; the
    # 32-bit one reads it, and Wine's server copies it whole, so there the
    # markers would be found.
    ("inaccessible", 0, 0, NO_MARKER),
    # Linux: a file mapping longer than its file. Wine copies even protected
    # pages: nothing there makes a copy come back short.
    ("unreadable-beside", 1, None, None),
    ("no-ram", 0, 0, NO_MARKER),
    ("across-4gib", 0, 0, None),
    ("above-4gib", 0, 0, None),
    ("region-over-4gib", 0, 0, None),
    # Read in pieces, the marker is cut in two; read whole, it is not.
    ("marker-across-pieces", 0, 0, None),
    # As unreadable-beside, the read coming back short in a later piece.
    ("short-later-piece", 1, None, None),
    # The RAM's memory mapped more than once: the 64-bit tools report the
    # lowest view, the 32-bit one nothing (e2e_support expects per width).
    ("mapped-twice", 0, 0, None),
    ("mapped-six-times", 0, 0, None),
    # Private copies beside shared views: the 64-bit tools answer the views.
    ("views-and-copy", 0, 0, None),
    ("views-and-two-copies", 0, 0, None),
    # Copies of a private RAM, or two memories, stay ambiguous at every width.
    ("two-copies", 0, 0, "holds the start marker 2 times and the end marker 2 times, " + NOT_ONE_RAM +
     ": 4 of the sightings lie in the emulator's private memory, as copies of the RAM do: turn off rewind"),
    ("two-memories", 0, 0, "holds the start marker 4 times and the end marker 4 times, " + NOT_ONE_RAM +
     " (a copy of it"),
    # Pages of the RAM write-protected, as recompilers and state tracking
    # leave them: the 64-bit tools read each mapping whole (e2e_support
    # expects per width).
    ("views-write-protected", 0, 0, None),
    ("block-mapped-twice-tracked", 0, 0, None),
    ("ram-with-read-only-page", 0, 0, None),
    # As root may map them on Linux (CI runs as root): the 64-bit tools find a RAM at 0.
    ("views-at-zero", 0, None, None),
    ("private-at-zero", 0, None, None),
    # No marker: the 64-bit tools look for the console's kernel area, with the
    # same choices among several as for markers; a copy of its first 64 KiB
    # alone is no RAM. The broken ones: case_kernel_broken.
    ("kernel-private", 0, 0, BY_KERNEL),
    ("kernel-views", 0, 0, BY_KERNEL),
    ("kernel-views-at-zero", 0, None, BY_KERNEL),
    ("kernel-views-and-copies", 0, 0, BY_KERNEL),
    ("kernel-and-partial-copy", 0, 0, BY_KERNEL),
    ("kernel-in-heap", 0, 0, BY_KERNEL),
    ("kernel-two-rams", 0, 0, "holds no marker, and the console's kernel area 2 times, " + NOT_ONE_RAM +
     ": 2 of the sightings lie in the emulator's private memory, as copies of the RAM do: turn off rewind"),
    ("kernel-vector-only", 0, 0, NO_MARKER),
    # Markers seen: their answer, and no word of the kernel area.
    ("kernel-with-markers", 0, 0, None),
]
WINE_SKIPS = {
    "inaccessible": "Wine reads PAGE_NOACCESS pages of another process, and the 32-bit tool reads them",
    "unreadable-beside": "Wine reads every committed page of another process",
    "short-later-piece": "Wine reads every committed page of another process",
    "views-at-zero": "Windows never maps memory at address 0",
    "private-at-zero": "Windows never maps memory at address 0",
    "kernel-views-at-zero": "Windows never maps memory at address 0",
}


def result_text(value, output_type):
    """The result line that the given output type should give for `value`."""
    kind = int(output_type[1:])
    if kind == 0:
        return str(value)
    digits = "%08X" % value
    if kind < 0:
        digits = digits.lstrip("0") or "0"
    return {1: "%s", 2: "0x%s", 3: "$%s", 4: "%sh"}[abs(kind)] % digits


def lines(setting, texts):
    return b"".join(text.encode("ascii") + setting["line_end"] for text in texts)


def found_status(setting, value, found):
    # Windows: the RAM base itself, or 2 where it doesn't fit the 32-bit status
    # or is 0. Linux keeps 8 bits: 2 says found, 0 not.
    if not found:
        return 0
    if setting["wine"]:
        return value if 0 < value <= 0xFFFFFFFF else 2
    return 2


def check_run(setting, arguments, expected_output, expected_status, reasons=(), by_kernel=False):
    """`reasons`: a fragment for each reason line the 64-bit tools write (None:
    any reason); none when the answer is not 0, but the note that the RAM was
    found by its kernel area where `by_kernel`."""
    output, error, status = e2e.run_tool(setting, arguments)
    given = " ".join(arguments) or "(no arguments)"
    if output != expected_output or status != expected_status:
        raise AssertionError("%s gave %r, status %#x; wanted %r, status %#x"
                             % (given, output, status, expected_output, expected_status))
    try:
        e2e.check_reasons(setting, error, reasons, by_kernel)
    except AssertionError as failure:
        raise AssertionError("%s: %s" % (given, failure))


def check_found(setting, standin, arguments, errors=0, output_type="/2", reasons=(), by_kernel=False):
    expect = standin["expect"]
    texts = ["Err!"] * errors + [result_text(expect, output_type)]
    check_run(setting, arguments, lines(setting, texts), found_status(setting, expect, standin["found"]), reasons,
              by_kernel)


def about_standin(setting, standin, reason):
    """A reason about the stand-in, as the tool names it: its PID and its name."""
    return "PID %d (%s) %s" % (standin["pid"], setting["standin_name"], reason)


# ---------------------------------------------------------------- the cases

def case_help(setting):
    if setting["address_bits"] == 64:
        # The 64-bit tools' own text, which names the tool and lists its options.
        output, _, _ = e2e.run_tool(setting, ["/?"])
        shown = output.decode("ascii").split(setting["line_end"].decode("ascii"))
        own_name = "Mirvane64.exe" if setting["wine"] else "mirvane"
        usage = "%s [name | pid] [/type] [--watch [--interval MS]] [--json]" % own_name
        status_line = "the address where it is below 4 GiB" if setting["wine"] else "Exit status: 2 found"
        if shown[:2] != HELP_LINES[:2] or usage not in shown or not any(status_line in line for line in shown):
            raise AssertionError("the help text does not name %s or its status: %r" % (own_name, output))
        if any("Mirvane.exe [" in line or line == HELP_LINES[-1] for line in shown):
            raise AssertionError("the help text is the 32-bit tool's: %r" % output)
        wanted = output
    else:
        wanted = lines(setting, HELP_LINES)
    for switch in ["/?", "-h", "/h", "--help", "x?y"]:
        check_run(setting, [switch], wanted, 0)


def case_usage_error(setting):
    wrong = [["/5"], ["/H"], ["/"], ["one", "two"], ["one", "/x"]]
    if setting["address_bits"] == 64:
        wrong += [["--interval", "100"], ["--watch", "--interval", "5"], ["--watch", "--interval"]]
    else:
        # Mirvane.exe takes no options: "--watch" is a name, and a second name is wrong.
        wrong += [["--watch", "one"], ["--json", "/2", "one"]]
    for arguments in wrong:
        check_run(setting, arguments, lines(setting, [USAGE_LINE]), 0)


def case_by_pid(setting):
    e2e.with_standin(setting, "ram-at-region-start",
                 lambda standin: check_found(setting, standin, [str(standin["pid"])]))


def case_by_exact_name(setting):
    e2e.with_standin(setting, "ram-at-region-start",
                 lambda standin: check_found(setting, standin, [setting["standin_name"]]))


def case_by_name_in_other_case(setting):
    name = setting["standin_name"].swapcase()
    e2e.with_standin(setting, "ram-at-region-start", lambda standin: check_found(setting, standin, [name]))


def case_default_is_newest(setting):
    if setting["wine"]:
        # The prompt that runs the tool started before the stand-in, so only
        # the tool itself is newer, which it never chooses; but Wine starts its
        # own processes again at any moment (winedevice.exe), and one of them
        # may rightly be chosen instead: then try again. The 64-bit tools name
        # the process they searched, which must be newer than the stand-in.
        for attempt in range(1, 11):
            standin = e2e.start_standin(setting, "ram-at-region-start")
            try:
                output, error, status = e2e.run_tool(setting, [])
            finally:
                e2e.stop_standin(setting, standin)
            if output == lines(setting, [result_text(standin["expect"], "/2")]) and status == standin["expect"]:
                return "" if attempt == 1 else "(attempt %d)" % attempt
            searched = re.search(rb"PID (\d+) \(", error)
            if setting["address_bits"] == 64 and not (searched and int(searched.group(1)) > standin["pid"]):
                raise AssertionError("(no arguments) gave %r, status %#x, %r" % (output, status, error))
        raise AssertionError("Wine kept starting processes after the stand-in, or the tool never chose it")
    # Natively the whole machine's processes are listed. A process that another
    # user starts between the stand-in and the tool, or while the tool runs
    # (its PID lies between theirs, or just after the tool's), may rightly be
    # chosen instead: then try again.
    for attempt in range(1, 11):
        standin = e2e.start_standin(setting, "ram-at-region-start")
        try:
            tool = e2e.start_tool(setting, [])
            output, _, status = e2e.finish_tool(tool)
            after = subprocess.run(["sh", "-c", "echo $$"], stdout=subprocess.PIPE, check=True).stdout
        finally:
            e2e.stop_standin(setting, standin)
        wanted = lines(setting, [result_text(standin["expect"], "/2")])
        if output == wanted and status == 2:
            return "" if attempt == 1 else "(attempt %d)" % attempt
        if tool.pid == standin["pid"] + 1 and int(after) == tool.pid + 1:
            raise AssertionError("no process started from the stand-in's start to the tool's end, yet it gave "
                                 "%r, status %d" % (output, status))
    raise AssertionError("other processes kept starting from the stand-in's start to the tool's end")


def case_first_in_a_fresh_server(setting):
    if not setting["wine"]:
        raise e2e.Skip("Wine only: on Linux the list starts with an entry for PID 0, as on Windows")
    # Under Wine the list starts with the first program started in the prefix,
    # not with an idle process: here the stand-in.
    fresh = e2e.fresh_server_setting(setting)
    try:
        standin = e2e.start_standin(fresh, "ram-at-region-start")
        e2e.start_prompt(fresh)
        check_found(fresh, standin, [str(standin["pid"])])
        check_found(fresh, standin, [fresh["standin_name"]])
        return "(Wine PID %d)" % standin["pid"]
    finally:
        e2e.stop_everything(fresh)


def case_default_on_a_terminal(setting):
    if not setting["wine"]:
        raise e2e.Skip("the Windows build only")
    # Started from a terminal, Wine gives the tool a console host of its own,
    # listed after the tool: it must not become the default choice.
    def check(standin):
        completed = subprocess.run(["script", "-qec", "'%s' '%s'" % (setting["wine"], setting["tool"]), "/dev/null"],
                                   env=setting["env"], timeout=e2e.TOOL_SECONDS, stdin=subprocess.DEVNULL,
                                   stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        wanted = result_text(standin["expect"], "/2").encode("ascii")
        if wanted not in completed.stdout:
            raise AssertionError("on a terminal it gave %r; wanted %r" % (completed.stdout, wanted))
    e2e.with_standin(setting, "ram-at-region-start", check)


def scenario_case(scenario, linux_errors, wine_errors, reason):
    def case(setting):
        errors = wine_errors if setting["wine"] else linux_errors
        if errors is None or (scenario == "inaccessible" and setting["wine"] and setting["address_bits"] == 32):
            raise e2e.Skip(WINE_SKIPS[scenario])

        def check(standin):
            by_kernel = reason == BY_KERNEL and standin["found"]
            if standin["found"]:
                reasons = []
            else:
                # Where a tool finds nothing by the kernel area, it has seen no marker.
                reasons = [about_standin(setting, standin, NO_MARKER if reason == BY_KERNEL else reason)]
            check_found(setting, standin, [str(standin["pid"])], errors, reasons=reasons, by_kernel=by_kernel)
        e2e.with_standin(setting, scenario, check)
    case.__name__ = "case_scenario_" + scenario.replace("-", "_")
    return case


def case_kernel_broken(setting):
    """A kernel area broken one way, each way the rule checks (the stand-in
    lists them): nothing found, as for no marker at all."""
    scenarios = e2e.standin_scenarios(setting, "kernel-broken-")
    if not scenarios:
        raise AssertionError("the stand-in lists no kernel-broken- scenario")
    failures = []
    for scenario in scenarios:
        def check(standin):
            check_found(setting, standin, [str(standin["pid"])], reasons=[about_standin(setting, standin, NO_MARKER)])
        try:
            e2e.with_standin(setting, scenario, check)
        except AssertionError as failure:
            failures.append("%s: %s" % (scenario, failure))
    if failures:
        raise AssertionError("%d of %d: %s" % (len(failures), len(scenarios), "; ".join(failures)))
    return "(%d ways)" % len(scenarios)


# A run beside memory the target never touched: no page of it is read, so the
# target stays as big as it was, and the run is quick. Before, the 4 GiB were
# read, which took seconds and made the stand-in 4 GiB bigger.
UNTOUCHED_GROWTH_LIMIT_KIB = 4 * 1024
UNTOUCHED_SECONDS_LIMIT = 1.0


def case_untouched_memory_left_alone(setting):
    if setting["wine"]:
        raise e2e.Skip("Windows tells no never-touched page from a paged-out one: the Windows tools read all "
                       "4 GiB, as they always did")

    def check(standin):
        before = e2e.resident_kib(standin["pid"])
        started = time.monotonic()
        check_found(setting, standin, [str(standin["pid"])])
        seconds = time.monotonic() - started
        growth = e2e.resident_kib(standin["pid"]) - before
        if growth >= UNTOUCHED_GROWTH_LIMIT_KIB or seconds >= UNTOUCHED_SECONDS_LIMIT:
            raise AssertionError("the stand-in grew by %d KiB (limit %d), the run took %.2f s (limit %.1f)"
                                 % (growth, UNTOUCHED_GROWTH_LIMIT_KIB, seconds, UNTOUCHED_SECONDS_LIMIT))
        return "(grew by %d KiB, %.2f s)" % (growth, seconds)
    return e2e.with_standin(setting, "untouched-beside", check)


def case_output_types_not_found(setting):
    def check(standin):
        for output_type in OUTPUT_TYPES:
            check_found(setting, standin, [str(standin["pid"]), output_type], output_type=output_type,
                        reasons=[about_standin(setting, standin, NO_MARKER)])
    e2e.with_standin(setting, "no-ram", check)


def case_no_process_of_that_name(setting):
    """A name nothing has: the newest process, the stand-in started last, is
    searched instead, and both are said."""
    name = "NoSuchEmu-%d.exe" % os.getpid()

    def check(standin):
        check_found(setting, standin, [name],
                    reasons=['no process has the name or PID "%s"; the newest process, PID ' % name, None])
    e2e.with_standin(setting, "no-ram", check)


def case_wine_program_by_windows_name(setting):
    """The win64 build's stand-in under 64-bit Wine: the native tool finds it
    by its Windows file name, exactly and in another letter case, and by its
    Unix PID (its addresses are the Windows program's own)."""
    if setting["wine"]:
        raise e2e.Skip("the native tool's case")
    if not (setting["wine_standin"] and setting["wine64"]):
        raise e2e.Skip("this build has no 64-bit Windows stand-in or no 64-bit Wine (--wine-standin, --wine64)")
    # A name of our own in a prefix of our own, so that no other run's Wine can answer to it.
    name = "StandInEmu-%d.exe" % os.getpid()
    copy = os.path.join(setting["scratch"], name)
    shutil.copy2(setting["wine_standin"], copy)
    under_wine = dict(setting, wine=setting["wine64"], standin=copy, own_wineserver=False, prompt=None,
                      env=dict(e2e.wine_environment(copy, os.path.join(setting["scratch"], "wine64-prefix")),
                               WINEARCH="win64"))
    try:
        e2e.start_wine_server(under_wine)
        standin = e2e.start_standin(under_wine, "ram-at-region-start")
        try:
            # It prints its Windows PID; the native tool sees the Unix process Wine runs it in.
            standin["pid"] = standin["process"].pid
            for argument in [name, name.swapcase(), str(standin["pid"])]:
                check_found(setting, standin, [argument])
        finally:
            e2e.stop_standin(under_wine, standin)
    finally:
        e2e.stop_wine_server(under_wine)


def case_output_types_high_address(setting):
    def check(standin):
        for output_type in OUTPUT_TYPES:
            # The type switch may come before the name as well.
            check_found(setting, standin, [output_type, str(standin["pid"])], output_type=output_type)
    e2e.with_standin(setting, "high-address", check)


def case_batch_shows_error_level(setting):
    """Mirvane.bat run at a prompt: the answer, the error level, no wait for a
    key, and the full status handed on to the prompt."""
    require_batch(setting)
    folder = batch_folder(setting)

    def check(standin):
        expect = standin["expect"]
        signed = expect - (1 << 32) if expect >= 1 << 31 else expect
        wanted = lines(setting, [batch_runs(setting), result_text(expect, "/2"), "Error level: %d" % signed])
        # Typed at the prompt as a user would. (Wine's "call" leaves error level 1 after any batch.)
        line = '"%s" %d' % (e2e.windows_path(os.path.join(folder, "Mirvane.bat")), standin["pid"])
        output, status = e2e.run_at_prompt(setting, line)
        if output != wanted or status != expect:
            raise AssertionError("gave %r, status %#x; wanted %r, status %#x" % (output, status, wanted, expect))
    e2e.with_standin(setting, "high-address", check)


def case_batch_waits_after_double_click(setting):
    """Started the way a double click starts it (cmd /c with its full path), the
    batch waits for a key. Wine's prompt leaves %cmdcmdline% empty, so the
    command line of a double click is put in its place."""
    require_batch(setting)
    folder = batch_folder(setting)
    batch = e2e.windows_path(os.path.join(folder, "Mirvane.bat"))
    starter = os.path.join(folder, "double_click.bat")
    with open(starter, "wb") as out:
        out.write(('@echo off\r\nset "cmdcmdline=C:\\windows\\system32\\cmd.exe /c ""%s" ""\r\n'
                   '"%s" %%1\r\n' % (batch, batch)).encode("ascii"))

    def check(standin):
        output, _ = e2e.run_batch(setting, starter, [str(standin["pid"])], b"\r\n")
        wanted = lines(setting, [batch_runs(setting), result_text(standin["expect"], "/2"),
                                 "Error level: %d" % standin["expect"]])
        if not output.startswith(wanted) or b"Press any key" not in output[len(wanted):]:
            raise AssertionError("gave %r; wanted %r and then the wait for a key" % (output, wanted))
    e2e.with_standin(setting, "ram-at-region-start", check)


def require_batch(setting):
    if not setting["wine"]:
        raise e2e.Skip("the Windows build only")
    if not setting["bat"]:
        raise e2e.Skip("no --bat given")


def batch_folder(setting):
    """Mirvane.bat runs Mirvane64.exe or Mirvane.exe beside it: put the tool
    there under both names, so that only Windows' width decides."""
    folder = os.path.join(setting["scratch"], "batch")
    if not os.path.isdir(folder):
        os.makedirs(folder)
        shutil.copy2(setting["bat"], os.path.join(folder, "Mirvane.bat"))
        for name in ("Mirvane.exe", "Mirvane64.exe"):
            shutil.copy2(setting["tool"], os.path.join(folder, name))
    return folder


def batch_runs(setting):
    # The prefix is as wide as the tool's build: a 64-bit one is 64-bit Windows.
    return "Running %s" % ("Mirvane64.exe" if setting["address_bits"] == 64 else "Mirvane.exe")


# ---------------------------------------------------------------- --watch and --json

WATCH_LINE_SECONDS = 15  # a check, and a walk under Wine with time to spare
JSON_FIELDS = {"pid", "name", "found", "address", "address_text", "found_by", "views", "unreadable_regions",
               "reason"}


def require_watch(setting):
    if setting["address_bits"] != 64:
        raise e2e.Skip("the 64-bit tools' options")


def next_line(tool, reader, seconds=WATCH_LINE_SECONDS):
    """The next line the watching tool writes, without its line end; fails
    when none comes in time. `reader` keeps what was read past it."""
    deadline = time.monotonic() + seconds
    while b"\n" not in reader["data"]:
        left = deadline - time.monotonic()
        ready = select.select([tool.stdout], [], [], max(left, 0))[0] if left > 0 else []
        if not ready:
            raise AssertionError("no line from the watching tool within %d s; so far %r" % (seconds, reader["all"]))
        chunk = os.read(tool.stdout.fileno(), 65536)
        if not chunk:
            raise AssertionError("the watching tool ended; it wrote %r" % reader["all"])
        reader["data"] += chunk
        reader["all"] += chunk
    line, reader["data"] = reader["data"].split(b"\n", 1)
    return line.rstrip(b"\r")


def command_standin(standin, command):
    """Sends the stand-in a command; returns the RAM's base it answers."""
    process = standin["process"]
    process.stdin.write(command.encode("ascii") + b"\n")
    process.stdin.flush()
    found, _ = e2e.read_until(process.stdout, re.compile(rb"at 0x([0-9A-F]{8,16})\r?\n"), e2e.STANDIN_READY_SECONDS,
                              "the stand-in (%s)" % command)
    return int(found.group(1), 16)


def stop_watching(setting, tool, how):
    """Asks the watching tool to stop as a user would; returns what it wrote
    after the lines read, its standard error and its status."""
    tool.send_signal(how)
    try:
        rest, error = tool.communicate(timeout=e2e.STOP_SECONDS)
    except subprocess.TimeoutExpired:
        tool.kill()
        tool.communicate()
        raise AssertionError("the watching tool did not end on signal %d" % how)
    return rest, error, tool.returncode


def ended_cleanly(rest, status, how):
    if status != 0 or rest:
        raise AssertionError("on signal %d it ended with status %d, writing %r" % (how, status, rest))


def case_watch_follows_the_ram(setting):
    """By name: found, moved, lost, found again, and after the stand-in's end
    the second one of that name, each on a line of its own, and nothing more;
    SIGTERM (under Wine: Ctrl+C, as Wine passes SIGINT on) ends it at once."""
    require_watch(setting)
    first = e2e.start_standin(setting, "ram-moves-on-input")
    second = None
    tool = e2e.start_tool(setting, ["--watch", setting["standin_name"]])
    try:
        reader = {"data": b"", "all": b""}
        wanted = [first["expect"]]
        got = [next_line(tool, reader)]
        for command in ["move", "remove", "back"]:
            wanted.append(command_standin(first, command))
            got.append(next_line(tool, reader))
        # A second stand-in of the same name: the first stays chosen while it holds its RAM.
        second = e2e.start_standin(setting, "ram-moves-on-input")
        first["process"].stdin.write(b"exit\n")
        first["process"].stdin.flush()
        wanted.append(second["expect"])
        got.append(next_line(tool, reader))
        if got != [result_text(value, "/2").encode("ascii") for value in wanted]:
            raise AssertionError("it wrote %r; wanted %r" % (got, [result_text(v, "/2") for v in wanted]))
        how = signal.SIGINT if setting["wine"] else signal.SIGTERM
        time.sleep(0.5)
        rest, error, status = stop_watching(setting, tool, how)
        ended_cleanly(rest + reader["data"], status, how)
        problems = e2e.reason_problems(error, setting["tool"], True, setting["line_end"], [NO_MARKER])
        if problems:
            raise AssertionError("; ".join(problems))
    finally:
        if tool.poll() is None:
            tool.kill()
            tool.communicate()
        e2e.stop_standin(setting, first)
        if second:
            e2e.stop_standin(setting, second)


def case_watch_json_by_pid(setting):
    """By PID with --json: each line is one JSON object with every field; the
    run ends by itself, with status 0, when the stand-in ends."""
    require_watch(setting)
    standin = e2e.start_standin(setting, "ram-moves-on-input")
    tool = e2e.start_tool(setting, ["--watch", "--json", "--interval", "100", str(standin["pid"]), "/-2"])
    try:
        reader = {"data": b"", "all": b""}
        answers = [json.loads(next_line(tool, reader))]
        command_standin(standin, "remove")
        answers.append(json.loads(next_line(tool, reader)))
        back = command_standin(standin, "back")
        answers.append(json.loads(next_line(tool, reader)))
        standin["process"].stdin.write(b"exit\n")
        standin["process"].stdin.flush()
        answers.append(json.loads(next_line(tool, reader)))
        rest, error = tool.communicate(timeout=WATCH_LINE_SECONDS)
        if tool.returncode != 0 or rest or reader["data"]:
            raise AssertionError("after the stand-in's end: status %d, %r" % (tool.returncode, rest))
        for answer in answers:
            if set(answer) != JSON_FIELDS or answer["pid"] != standin["pid"] or \
                    answer["name"].lower() != setting["standin_name"].lower():
                raise AssertionError("not every field, or another process: %r" % answer)
        found = [(a["found"], a["address"], a["address_text"], a["found_by"], a["views"], a["reason"])
                 for a in answers]
        wanted = [(True, standin["expect"], result_text(standin["expect"], "/-2"), "markers", [standin["expect"]], None),
                  (False, 0, "0x0", None, [], answers[1]["reason"]),
                  (True, back, result_text(back, "/-2"), "markers", [back], None),
                  (False, 0, "0x0", None, [], answers[3]["reason"])]
        if found != wanted or NO_MARKER not in answers[1]["reason"] or "has ended" not in answers[3]["reason"]:
            raise AssertionError("it answered %r; wanted %r" % (found, wanted))
        e2e.check_reasons(setting, error, [NO_MARKER, "has ended"])
    finally:
        if tool.poll() is None:
            tool.kill()
            tool.communicate()
        e2e.stop_standin(setting, standin)


def case_json_once(setting):
    """--json without --watch: one object, the status as without it."""
    require_watch(setting)

    def check(standin):
        output, error, status = e2e.run_tool(setting, ["--json", str(standin["pid"])])
        answer = json.loads(output.decode("ascii"))
        if not output.endswith(setting["line_end"]) or output.count(b"\n") != 1 or set(answer) != JSON_FIELDS:
            raise AssertionError("not one JSON line with every field: %r" % output)
        expect = standin["expect"]
        if (answer["found"], answer["address"], answer["address_text"], answer["views"]) != \
                (True, expect, result_text(expect, "/2"), [expect]) or status != found_status(setting, expect, True):
            raise AssertionError("%r, status %#x" % (answer, status))
        e2e.check_reasons(setting, error, [])
    e2e.with_standin(setting, "high-address", check)


def case_watch_interrupted(setting):
    """Ctrl+C (SIGINT) while nothing is found, and natively SIGTERM while found
    and SIGHUP: each ends it at once with status 0."""
    require_watch(setting)
    signals = [signal.SIGINT] if setting["wine"] else [signal.SIGINT, signal.SIGTERM, signal.SIGHUP]
    name = "NoSuchEmu-%d.exe" % os.getpid()
    for how in signals:
        tool = e2e.start_tool(setting, ["--watch", name])
        reader = {"data": b"", "all": b""}
        if next_line(tool, reader) != result_text(0, "/2").encode("ascii"):
            raise AssertionError("it wrote %r" % reader["all"])
        started = time.monotonic()
        rest, error, status = stop_watching(setting, tool, how)
        ended_cleanly(rest, status, how)
        if time.monotonic() - started > 3:
            raise AssertionError("it took %.1f s to end on signal %d" % (time.monotonic() - started, how))
        e2e.check_reasons(setting, error, ['no process has the name or PID "%s"' % name])


CASES = [
    ("help text", case_help),
    ("usage error", case_usage_error),
    ("found by PID", case_by_pid),
    ("found by exact executable name", case_by_exact_name),
    ("found by name in another letter case", case_by_name_in_other_case),
    ("found with no name, stand-in newest", case_default_is_newest),
    ("found with no name, on a terminal", case_default_on_a_terminal),
    ("found under 64-bit Wine by its Windows name (native tool)", case_wine_program_by_windows_name),
] + [("scenario " + name, scenario_case(name, linux, wine, reason)) for name, linux, wine, reason in SCENARIOS] + [
    ("scenarios kernel-broken-*, not found", case_kernel_broken),
    ("found beside 4 GiB never touched, the target left as it was", case_untouched_memory_left_alone),
    ("nine output types, not found", case_output_types_not_found),
    ("not found: no process of that name", case_no_process_of_that_name),
    ("nine output types, address above 2 GiB", case_output_types_high_address),
    ("Mirvane.bat shows the error level", case_batch_shows_error_level),
    ("Mirvane.bat waits after a double click", case_batch_waits_after_double_click),
    ("--json, one answer", case_json_once),
    ("--watch by name: moved, lost, back, the next one of that name", case_watch_follows_the_ram),
    ("--watch --json by PID: every field, and the end with the process", case_watch_json_by_pid),
    ("--watch ends at once on a stop request", case_watch_interrupted),
    # Last: a second Wine server starting and stopping is kept away from the
    # cases that choose the newest process.
    ("found by PID and by name, first in a fresh Wine server", case_first_in_a_fresh_server),
]


def main():
    return e2e.run_cases(CASES, __doc__, with_bat=True, with_wine_standin=True)


if __name__ == "__main__":
    sys.exit(main())
