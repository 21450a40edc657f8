#!/usr/bin/env python3
"""End-to-end tests with targets that fail the tool: a target that ends while
it is read, memory that goes between the tool's region query and its read, a
target the tool may not open, a region of 1.5 GiB (found, and with the tool's
data limited to less than it), and a result line that can't be written.

    failing_targets.py --tool PATH --standin PATH --address-bits 64           (native build)
    failing_targets.py --tool PATH --standin PATH --address-bits 32|64 --wine LOADER   (Windows build under Wine)

Every run of the tool must end within a time limit and, unless a case says
otherwise, write zero or more "Err!" lines followed by exactly one result line
whose value agrees with the exit status, and on standard error nothing when
the RAM was found, and when it was not, the 64-bit tools' reasons (the 32-bit
one's: nothing).
Prints one line per case and exits with 1 when any case fails. Wine's prefix
is chosen as in run_e2e.py."""

import os
import re
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import e2e_support as e2e  # noqa: E402

# Moments after it is ready at which the target ends on its own, and after the
# tool's start at which it is killed: natively the tool's walk over the
# many-regions target takes about 0.3 s, under Wine about 3 s.
NATIVE_EXIT_MILLISECONDS = [10, 40, 80, 150, 250]
WINE_EXIT_MILLISECONDS = [100, 400, 800, 1500, 2500]
KILL_DELAYS = [0.0, 0.02, 0.05, 0.1, 0.2]
# The first region of the many-regions target is 128 MiB: a tool that copies
# regions whole (32-bit) is at least this big while its copy buffer for it is
# held, and this small again once released (under Wine, where nothing keeps it).
BUFFER_HELD_MIB = 80
BUFFER_RELEASED_MIB = 40
STOP_ATTEMPTS = 3
# Limits the tool's data: a 4 MiB copy buffer fits, one of 1.5 GiB does not.
# A tool that reads in 1 MiB pieces needs no buffer bigger than a piece.
DATA_LIMIT = ["prlimit", "--data=%d" % (1 << 30), "--"]
UNPRIVILEGED = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"]
KILL_SKIP = ("Wine's server can leave the tool waiting for ever in VirtualQueryEx when the target is "
             "killed while it answers the query (seen here); the target ending on its own is tested instead")
WATCH_SKIP = ("Wine can't tell a Windows program that its memory is being read, and it copies every "
              "committed page of another process; one \"Err!\" per short copy with the walk going on is "
              "covered over the fake in memory_scan_test.cc")


# ---------------------------------------------------------------- running the tool

def run_tool(setting, arguments, wrapper=(), stdout=subprocess.PIPE):
    return e2e.finish_tool(e2e.start_tool(setting, arguments, wrapper, stdout))


def run_at_prompt(setting, arguments, full_device=False):
    """Under Wine: runs the tool at the prompt, so that the exit status is the
    full error level; standard error goes to a file and is read back."""
    error_file = os.path.join(setting["scratch"], "stderr.txt")
    if os.path.exists(error_file):
        os.remove(error_file)
    line = '"%s" %s' % (e2e.windows_path(setting["tool"]), " ".join(arguments))
    if full_device:
        line += r" > Z:\dev\full"
    output, status = e2e.run_at_prompt(setting, line + ' 2> "%s"' % e2e.windows_path(error_file))
    with open(error_file, "rb") as error:
        return output, error.read(), status


def expected_status(setting, value, at_prompt=False):
    if not setting["wine"]:
        return 2 if value else 0
    if at_prompt:
        return value
    # A Unix exit status keeps 8 bits, and Wine makes a value whose low byte is 0 a 1.
    return 0 if value == 0 else (value & 0xFF) or 1


def check_outcome(setting, outcome, allowed, errors=None, at_prompt=False, reasons=None):
    """Checks one run of the tool with the default output type; returns the
    number of "Err!" lines and the result. `reasons`: a fragment for each
    reason line where the answer is 0 (None: any reasons)."""
    output, error, status = outcome
    if status < 0:
        raise AssertionError("the tool was ended by signal %d" % -status)
    line_end = setting["line_end"]
    if not output.endswith(line_end):
        raise AssertionError("the output does not end in a whole line: %r" % output[-200:])
    lines = output[:-len(line_end)].split(line_end)
    if any(line != b"Err!" for line in lines[:-1]):
        raise AssertionError("lines other than Err! before the result: %r" % output[-300:])
    result = re.fullmatch(rb"0x([0-9A-F]{8})", lines[-1])
    if result is None:
        raise AssertionError("no result line at the end: %r" % output[-300:])
    value = int(result.group(1), 16)
    problems = e2e.reason_problems(error, setting["tool"], setting["address_bits"] == 64 and value == 0, line_end,
                                   reasons)
    if problems:
        raise AssertionError("; ".join(problems))
    if value not in allowed:
        raise AssertionError("result %#010x after %d Err! line(s); wanted %s"
                             % (value, len(lines) - 1, " or ".join("%#010x" % a for a in sorted(allowed))))
    if errors is not None and len(lines) - 1 != errors:
        raise AssertionError("%d Err! line(s); wanted %d" % (len(lines) - 1, errors))
    if status != expected_status(setting, value, at_prompt):
        raise AssertionError("exit status %#x for the result %#010x" % (status, value))
    return len(lines) - 1, value


def check_failure_report(setting, outcome, where, status=1):
    """A write failure outside the search: nothing but the report on standard
    error, a line of its own followed by an empty line, and the status."""
    _, error, got_status = outcome
    line_end = setting["line_end"]
    report = re.fullmatch(rb"([^\r\n]+)" + re.escape(line_end * 2), error)
    if report is None or where.encode("ascii") not in report.group(1):
        raise AssertionError("standard error %r is not one report about the %s and an empty line"
                             % (error, where))
    if got_status != status:
        raise AssertionError("exit status %d after a write failure; wanted %d" % (got_status, status))


def first_line(text):
    lines = text.decode("ascii", "replace").strip().splitlines()
    return lines[0][:160] if lines else "nothing on standard error"


def resident_mib(pid):
    """The resident memory of a running process, or None when it has none (any more)."""
    try:
        with open("/proc/%d/status" % pid) as status:
            found = re.search(r"VmRSS:\s+(\d+) kB", status.read())
    except OSError:
        return None
    return int(found.group(1)) // 1024 if found else None


# ---------------------------------------------------------------- the target ends while it is read

def count_outcome(setting, outcome, standin, when, counts):
    """Checks a run against a target that ended under it (the RAM or 0) and
    adds up how often the RAM was found and how many "Err!" lines came."""
    try:
        errors, value = check_outcome(setting, outcome, {standin["expect"], 0})
    except AssertionError as failure:
        raise AssertionError("%s: %s" % (when, failure))
    counts["found"] += value != 0
    counts["err"] += errors


def case_exits_at_moments(setting):
    """The target ends on its own at several moments of the walk: every run
    ends well formed, with the RAM or 0."""
    moments = WINE_EXIT_MILLISECONDS if setting["wine"] else NATIVE_EXIT_MILLISECONDS
    counts = {"found": 0, "err": 0}
    for milliseconds in moments:
        standin = e2e.start_standin(setting, "many-regions", milliseconds)
        try:
            outcome = run_tool(setting, [str(standin["pid"])])
            try:
                standin["process"].wait(e2e.STOP_SECONDS)
            except subprocess.TimeoutExpired:
                raise AssertionError("the stand-in did not end %d ms after it was ready" % milliseconds)
        finally:
            e2e.stop_standin(setting, standin)
        count_outcome(setting, outcome, standin, "ended after %d ms" % milliseconds, counts)
    return "(%d ends; RAM found %d times, %d Err! line(s))" % (len(moments), counts["found"], counts["err"])


def case_killed_at_moments(setting):
    """The target is killed at several moments of the walk: every run ends well
    formed, with the RAM or 0. Half the time the dead target is reaped at once
    (its /proc entry goes), half the time it stays a zombie while the tool runs."""
    if setting["wine"]:
        raise e2e.Skip(KILL_SKIP)
    counts = {"found": 0, "err": 0}
    during = 0
    for index, delay in enumerate(KILL_DELAYS):
        standin = e2e.start_standin(setting, "many-regions")
        try:
            tool = e2e.start_tool(setting, [str(standin["pid"])])
            time.sleep(delay)
            during += tool.poll() is None
            standin["process"].kill()
            if index % 2 == 0:
                standin["process"].wait(e2e.STOP_SECONDS)
            outcome = e2e.finish_tool(tool)
        finally:
            e2e.stop_standin(setting, standin)
        count_outcome(setting, outcome, standin, "killed after %.2f s" % delay, counts)
    return "(%d kills, %d while the tool ran; RAM found %d times, %d Err! line(s))" % (
        len(KILL_DELAYS), during, counts["found"], counts["err"])


def wait_for_first_copy(setting, tool):
    """Waits until a tool that copies regions whole has copied its first one;
    False when it ended first. Natively process_vm_readv copies straight into
    the buffer and holds on to the target's memory until it is through: a
    buffer being filled is as good as a whole copy. Wine touches every page of
    the buffer before it asks its server for the copy: there the copy is whole
    once the buffer has been released again."""
    deadline = time.monotonic() + e2e.TOOL_SECONDS
    held = False
    while tool.poll() is None and time.monotonic() < deadline:
        size = resident_mib(tool.pid)
        if size is not None:
            held = held or size >= BUFFER_HELD_MIB
            if held and (not setting["wine"] or size < BUFFER_RELEASED_MIB):
                return True
        time.sleep(0.002)
    return False


def stop_when_copy_is_held(setting, standin, tool):
    """Whole copies (32-bit tools): the target's input is closed once the copy
    buffer for its first region shows in the tool's memory. Returns whether
    the target was stopped before the tool ended, and the tool's outcome."""
    stopped = wait_for_first_copy(setting, tool) and tool.poll() is None
    if stopped:
        standin["process"].stdin.close()
    return stopped, e2e.finish_tool(tool)


def stop_at_second_region(setting, standin, tool):
    """Reads in pieces (64-bit tools) need no buffer that shows: the target
    itself watches for the first read of its second region and then stops as
    its input's end would stop it, letting that read go on. Returns whether it
    had ended by the time the tool did, and the tool's outcome."""
    outcome = e2e.finish_tool(tool)
    status = standin["process"].poll()
    if status is None:
        try:
            standin["process"].wait(e2e.STOP_SECONDS)
        except subprocess.TimeoutExpired:
            raise AssertionError("the stand-in still runs: the tool never read its second region")
        return False, outcome
    if status != 0:
        raise AssertionError("the stand-in ended with status %d" % status)
    return True, outcome


def case_stopped_after_first_region(setting):
    """The target stops (as when its input ends) once the tool has copied its
    first region, which holds the RAM: it ends during the walk, and the hits of
    that region count."""
    if setting["address_bits"] == 32:
        scenario, stop = "many-regions", stop_when_copy_is_held
    else:
        scenario, stop = "stop-after-first-region", stop_at_second_region
    for attempt in range(1, STOP_ATTEMPTS + 1):
        standin = e2e.start_standin(setting, scenario)
        try:
            tool = e2e.start_tool(setting, [str(standin["pid"])])
            stopped, outcome = stop(setting, standin, tool)
        finally:
            e2e.stop_standin(setting, standin)
        errors, _ = check_outcome(setting, outcome, {standin["expect"]})
        if stopped:
            return "(%d Err! line(s)%s)" % (errors, "" if attempt == 1 else ", attempt %d" % attempt)
    raise AssertionError("in %d attempts the tool always ended before the stand-in was stopped"
                         % STOP_ATTEMPTS)


def case_exits_while_read(setting):
    """The target ends by itself while the tool reads the region after the RAM."""
    def check(standin):
        errors, _ = check_outcome(setting, run_tool(setting, [str(standin["pid"])]), {standin["expect"]})
        try:
            status = standin["process"].wait(e2e.STOP_SECONDS)
        except subprocess.TimeoutExpired:
            raise AssertionError("the stand-in still runs: the tool never read its watched region")
        if status != 0:
            raise AssertionError("the stand-in ended with status %d" % status)
        return "(%d Err! line(s))" % errors
    if setting["wine"]:
        raise e2e.Skip(WATCH_SKIP)
    return e2e.with_standin(setting, "exit-while-read", check)


# ---------------------------------------------------------------- memory goes between query and read

def changed_while_read_case(scenario):
    def case(setting):
        """The region changes after the tool has queried it, before its read
        is through: one Err! for it, and the RAM in the next region is found."""
        if setting["wine"]:
            raise e2e.Skip(WATCH_SKIP)

        def check(standin):
            check_outcome(setting, run_tool(setting, [str(standin["pid"])]), {standin["expect"]}, errors=1)
            if standin["process"].poll() is not None:
                raise AssertionError("the stand-in ended during the run")
        e2e.with_standin(setting, scenario, check)
    return case


# ---------------------------------------------------------------- the target can't be opened

def case_unprivileged_user(setting):
    """Run as an unprivileged user against a root-owned target: result 0,
    status 0, and the reason (access denied, and what to do); run as root it
    finds the RAM."""
    if setting["wine"]:
        raise e2e.Skip("Wine's processes of one user may all read each other: no privilege boundary")
    if os.geteuid() != 0:
        raise e2e.Skip("needs root, to run the stand-in as root and the tool as another user")
    help_run = run_tool(setting, ["/?"], UNPRIVILEGED)
    if help_run[2] != 0 or help_run[1]:
        raise e2e.Skip("user 65534 can't run %s (status %d: %s)"
                       % (setting["tool"], help_run[2], first_line(help_run[1])))

    def check(standin):
        probe = subprocess.run(UNPRIVILEGED + ["sh", "-c", ": < /proc/%d/mem" % standin["pid"]],
                               timeout=e2e.TOOL_SECONDS, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if probe.returncode == 0:
            raise e2e.Skip("here user 65534 may read a root process's memory")
        # That user can't read the stand-in's exe link: it is named by the kernel's short name.
        denied = "PID %d (%s) could not be opened for reading: access denied; run it as root" % (
            standin["pid"], setting["standin_name"][:15])
        check_outcome(setting, run_tool(setting, [str(standin["pid"])], UNPRIVILEGED), {0}, errors=0,
                      reasons=[denied])
        check_outcome(setting, run_tool(setting, [str(standin["pid"])]), {standin["expect"]}, errors=0)
    e2e.with_standin(setting, "ram-at-region-start", check)


# ---------------------------------------------------------------- a region of 1.5 GiB

def case_huge_region(setting):
    """One committed region of 1.5 GiB holding the RAM near its end: found."""
    def check(standin):
        arguments = [str(standin["pid"])]
        if setting["wine"]:
            check_outcome(setting, run_at_prompt(setting, arguments), {standin["expect"]}, 0, at_prompt=True)
        else:
            check_outcome(setting, run_tool(setting, arguments), {standin["expect"]}, errors=0)
        return "(RAM at %#010x)" % standin["expect"]
    return e2e.with_standin(setting, "huge-region", check)


def case_huge_region_with_data_limit(setting):
    """The tool's data is limited to 1 GiB. A tool that copies regions whole
    can't have the copy buffer for a 1.5 GiB region: its search ends there,
    quietly, with the RAM found in the region before it. One that reads in
    1 MiB pieces walks through the big region and on, and meets the second
    start marker past it: 0, no Err!."""
    help_run = run_tool(setting, ["/?"], DATA_LIMIT)
    if help_run[2] != 0 or help_run[1]:
        raise e2e.Skip("the tool can't start with its data limited to 1 GiB (a sanitizer build reserves "
                       "terabytes for its shadow memory): %s" % first_line(help_run[1]))

    whole_copies = setting["address_bits"] == 32

    def check(standin):
        wanted = standin["cut_short"] if whole_copies else standin["expect"]
        check_outcome(setting, run_tool(setting, [str(standin["pid"])], DATA_LIMIT), {wanted}, errors=0)
        # Where a second start marker lies past the big region, the result tells how far the walk went.
        if standin["expect"] != 0:
            return "(no room past the big region here: only the hits before it are checked)"
        return "(the walk ended at the big region)" if whole_copies else "(the walk went on past the big region)"
    return e2e.with_standin(setting, "huge-after-ram", check)


# ---------------------------------------------------------------- the result line can't be written

def case_result_to_full_device(setting):
    """Standard output on a full device: the report on standard error and
    status 1, whether the RAM was found or only help was asked for."""
    def check(standin):
        pid = str(standin["pid"])
        with open("/dev/full", "wb") as full:
            check_failure_report(setting, run_tool(setting, [pid], stdout=full), "result line")
            check_failure_report(setting, run_tool(setting, ["/?"], stdout=full), "help text")
            check_failure_report(setting, run_tool(setting, ["/5"], stdout=full), "usage message")
        if setting["wine"]:
            # At the prompt the error level is read as a batch file would read it.
            check_failure_report(setting, run_at_prompt(setting, [pid], full_device=True), "result line")
    e2e.with_standin(setting, "high-address", check)


CASES = [
    ("target ends at several moments of the walk", case_exits_at_moments),
    ("target killed at several moments of the walk", case_killed_at_moments),
    ("target ends once its first region is copied", case_stopped_after_first_region),
    ("target ends by itself while it is read", case_exits_while_read),
    ("region partly unmapped between query and read", changed_while_read_case("unmap-while-read")),
    ("region partly made inaccessible between query and read", changed_while_read_case("protect-while-read")),
    ("target can't be opened (unprivileged user)", case_unprivileged_user),
    ("one region of 1.5 GiB holding the RAM", case_huge_region),
    ("one region of 1.5 GiB, the tool's data limited to 1 GiB", case_huge_region_with_data_limit),
    ("result line to a full device", case_result_to_full_device),
]


def main():
    return e2e.run_cases(CASES, __doc__)


if __name__ == "__main__":
    sys.exit(main())
