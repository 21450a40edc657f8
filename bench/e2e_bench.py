#!/usr/bin/env python3
"""End-to-end benchmark of the native Mirvane against bulk targets and a real emulator.

For each size the target (bench/bulk_target) commits that many MiB in regions
of --region-mib and holds the markers once: once below 4 GiB, once with its
regions above 4 GiB ("high"), and, at the largest size, once more beside a
never-touched --sparse-gib GiB region ("sparse"). In the same run, taking
turns so that a busy machine slows all of them alike, it times:
  whole    copy_limit: every region copied whole into one reused buffer
  pieces   copy_limit --pieces: every region copied in 1 MiB pieces into one
           reused buffer, as the 64-bit tool reads: the limit its walk can reach
  Mirvane  the tool itself: walk, copy, scan, result (checked against the target's address)
  scanmem  Debian's scanmem searching the start marker as a string over all regions
and prints the medians of the times and of the ratios within each round. The
sparse target is read by the pieces and by Mirvane only (a whole copy of it
would need its size in memory, and scanmem takes minutes over it).

At the largest size, one more target ("kernel") holds the markers, or, told
so between runs, a running game's kernel area in their place: in each round
Mirvane finds the RAM by the markers and by the kernel area in the same
memory, and the ratio of the two times is what the search without the marker
program costs beside the search with it.

Two more kinds of target are timed by the pieces and Mirvane only:
  mappings  for each count in --mappings, a target whose --mappings-ram-mib MiB
            (one region) lie beside that many small mappings, each split by a
            read-only page into three maps lines; all counts are started at
            once and take turns, so the growth of Mirvane's time from the
            smallest count to the largest is a ratio within rounds too
  scattered for each count in --scattered, a target whose --mappings-ram-mib
            MiB lie beside one mapping shown as that many maps lines, only
            every other page of it written (its touched pages lie apart):
            Mirvane and the touched-pages limit in turns, then the pieces
            (a read of every page makes the pagemap show them all present)
  pcsxr     with --pcsxr TESSIL.EXE, Debian's 64-bit pcsxr running the marker
            program, started as the emulator test starts it (headless under
            Xvfb, its built-in BIOS, its interpreter)

Where the target has memory it never touched, the Linux tool reads only the
pages /proc/PID/pagemap shows present or swapped, and leaves the target as big
as it was. Timed with the target's resident memory (VmRSS) before and after
every run:
  untouched for each size in --untouched-gib, a target whose 4 MiB region with
            the RAM lies beside one never-touched region of that many GiB: by
            Mirvane, by copy_limit --touched (present and swapped pages only:
            the limit of the Linux tool's walk) in turns, then by the pieces
            (everything: what the tool read before; a read of a never-touched
            page maps the kernel's zero page there, which the pagemap then
            shows present, so it comes last)
  pcsxr     freshly started, before anything else has read it: Mirvane (run
            until it finds the RAM, then timed) and the touched-pages limit in
            turns, then once the copy of everything, which makes the emulator's
            pages resident; then the rounds above

A Mirvane run that takes longer than --timeout seconds is ended and its target
is not timed again. The peak memory (max RSS) of the Mirvane runs is recorded
too. Results go to --json for report.py.
"""
import argparse
import collections
import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
for folder in ("emulator", "e2e"):
    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", folder))
from e2e_support import resident_kib  # noqa: E402
from find_ram import marker_hits, ram_base  # noqa: E402
from pcsxr_session import find_pcsxr, find_plugin_dir, start_headless, stop, wait_until  # noqa: E402

SCANMEM_COMMANDS = 'option region_scan_level 3;option scan_data_type string;" {marker};list;exit'
START_MARKER = "!StartOfMainRAM!"
PCSXR_MARKER_TIMEOUT = 30  # seconds, as the emulator test waits

Run = collections.namedtuple("Run", "seconds status stdout stderr max_rss_kib timed_out")


def run_measured(command, timeout=None):
    """Runs a command to its end, or ends it after timeout seconds; its wall
    time, exit status, output, peak memory and whether it was ended."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        ended = threading.Event()
        start = time.perf_counter()
        process = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=out, stderr=err)

        def end_it():
            ended.set()
            process.kill()  # this child only, by its PID; it is not reaped until wait4 below

        timer = threading.Timer(timeout, end_it) if timeout else None
        if timer:
            timer.start()
        _, status, usage = os.wait4(process.pid, 0)
        seconds = time.perf_counter() - start
        if timer:
            timer.cancel()
        process.returncode = os.waitstatus_to_exitcode(status)  # reaped here, not by Popen
        out.seek(0)
        err.seek(0)
        return Run(seconds, process.returncode, out.read().decode(errors="replace"),
                   err.read().decode(errors="replace"), usage.ru_maxrss, ended.is_set())


def start_target(build, options, size_mib, region_mib):
    target = subprocess.Popen([os.path.join(build, "bench", "bulk_target")] + options + [str(size_mib), str(region_mib)],
                              stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    line = target.stdout.readline().split()
    if len(line) != 2 or line[0] != "READY":
        target.kill()
        sys.exit("bulk_target did not start (%s MiB, %s)" % (size_mib, " ".join(options)))
    return target, int(line[1], 16)


def stop_target(target):
    target.stdin.close()  # it ends when its standard input closes
    target.wait(timeout=60)


def check(ok, what, run):
    if not ok:
        sys.exit("%s went wrong: exit %d\n%s\n%s" % (what, run.status, run.stdout[-2000:], run.stderr[-2000:]))


def ratio(times, over, under):
    """The median of the ratios within a round: the machine's speed drifts between rounds far more than within one."""
    pairs = [(a, b) for a, b in zip(times.get(over, []), times.get(under, [])) if a is not None and b is not None]
    return statistics.median(a / b for a, b in pairs) if pairs else None


def median(values):
    values = [v for v in values if v is not None]
    return statistics.median(values) if values else None


class Subject:
    """One target process and the commands timed against it, with what they found."""

    def __init__(self, build, pid, address, names):
        copy_limit = os.path.join(build, "bench", "copy_limit")
        all_commands = {"pieces": [copy_limit, "--pieces", str(pid)], "mirvane": [os.path.join(build, "Mirvane"), str(pid)],
                        "touched": [copy_limit, "--touched", str(pid)],
                        "whole": [copy_limit, str(pid)],
                        "scanmem": ["scanmem", "-p", str(pid), "-c", SCANMEM_COMMANDS.format(marker=START_MARKER)]}
        self.commands = {name: all_commands[name] for name in names}
        self.pid = pid
        self.address = address
        self.times = {name: [] for name in names}
        self.growth_kib = {name: [] for name in names}  # the target's VmRSS growth over each run
        self.warmup = "pieces" if "pieces" in names and "touched" not in names else names[0]
        self.peak_rss_kib = 0
        self.timed_out = None  # the timeout, once a Mirvane run was ended for it
        self.limit_output = ""

    def run(self, name, timeout):
        """Times one command (None where Mirvane was ended, or its target given up); exits where one went wrong."""
        if name == "mirvane" and self.timed_out:
            self.times[name].append(None)
            return
        command = self.commands[name]
        before = resident_kib(self.pid)
        run = run_measured(command, timeout if name == "mirvane" else None)
        self.growth_kib[name].append(resident_kib(self.pid) - before)
        if name == "mirvane":
            if run.timed_out:
                self.timed_out = timeout
                self.times[name].append(None)
                return
            # Found: exit status 2 and the start marker's address on standard output.
            expected = "0x%08X" % self.address
            check(run.status == 2 and run.stdout.split()[:1] == [expected], "Mirvane (expected %s)" % expected, run)
            self.peak_rss_kib = max(self.peak_rss_kib, run.max_rss_kib)
        elif name == "scanmem":
            listed = "%x, " % self.address  # as its "list" shows a match
            check(listed in run.stdout or listed in run.stderr, "scanmem (expected a match at %x)" % self.address, run)
        else:
            check(run.status == 0, " ".join(command[:-1]), run)
            if name == "pieces":
                self.limit_output = run.stdout.strip()
        self.times[name].append(run.seconds)

    def figures(self):
        regions, lines, copied = parse_limit_output(self.limit_output)
        return {"address": "0x%08X" % self.address, "seconds": self.times,
                "median": {name: median(values) for name, values in self.times.items()},
                "ratio": {"mirvane_to_pieces": ratio(self.times, "mirvane", "pieces"),
                          "mirvane_to_touched": ratio(self.times, "mirvane", "touched"),
                          "scanmem_to_mirvane": ratio(self.times, "scanmem", "mirvane")},
                "mirvane_peak_rss_kib": self.peak_rss_kib, "timed_out": self.timed_out,
                "most_growth_kib": {name: max(values) if values else None for name, values in self.growth_kib.items()},
                "limit_regions": regions, "maps_lines": lines, "limit_bytes": copied}


def parse_limit_output(text):
    """copy_limit's "<regions> regions of <lines> maps lines, <bytes> bytes copied"."""
    words = text.split()
    try:
        return int(words[0]), int(words[3]), int(words[6])
    except (IndexError, ValueError):
        return None, None, None


def take_turns(subjects, rounds, timeout, scanmem_rounds=0, only=None):
    """Each round runs every command of every subject once (or those `only`
    names), in order; scanmem only in the first rounds."""
    for subject in subjects:
        run_measured(subject.commands[subject.warmup])  # a first pass over the target, untimed, so every run finds it settled
    for round_number in range(rounds):
        for subject in subjects:
            for name in subject.commands:
                if (only and name not in only) or (name == "scanmem" and round_number >= scanmem_rounds):
                    continue
                subject.run(name, timeout)


def measure_target(build, kind, options, size_mib, region_mib, rounds, scanmem_rounds, timeout):
    target, address = start_target(build, options, size_mib, region_mib)
    names = ["pieces", "mirvane"] + ([] if kind == "sparse" else ["whole", "scanmem"])
    subject = Subject(build, target.pid, address, names)
    try:
        take_turns([subject], rounds, timeout, scanmem_rounds)
    finally:
        stop_target(target)
    result = {"kind": kind, "size_mib": size_mib, "region_mib": region_mib, "options": options, "rounds": rounds,
              "scanmem_rounds": scanmem_rounds}
    result.update(subject.figures())
    return result


def measure_kernel(build, size_mib, region_mib, rounds, timeout):
    """One target whose RAM holds the markers or, told so, a kernel area only:
    in each round Mirvane finds it both ways in the same memory, with the piecewise copy beside them."""
    target, address = start_target(build, [], size_mib, region_mib)
    subject = Subject(build, target.pid, address, ["pieces", "mirvane"])
    kernel_times = []

    def switch(to):
        target.stdin.write(to + "\n")
        target.stdin.flush()
        if target.stdout.readline().strip() != "OK":
            sys.exit("bulk_target did not put the %s in place" % to)

    try:
        run_measured(subject.commands["pieces"])  # a first pass, untimed
        for _ in range(rounds):
            subject.run("pieces", timeout)
            subject.run("mirvane", timeout)
            switch("kernel")
            subject.run("mirvane", timeout)
            kernel_times.append(subject.times["mirvane"].pop())
            switch("markers")
    finally:
        stop_target(target)
    result = {"kind": "kernel", "size_mib": size_mib, "region_mib": region_mib, "rounds": rounds}
    result.update(subject.figures())
    pairs = [(k, m) for k, m in zip(kernel_times, subject.times["mirvane"]) if k and m]
    result["ratio"]["kernel_to_markers"] = statistics.median(k / m for k, m in pairs) if pairs else None
    result["kernel_median"] = median(kernel_times)
    return result


def measure_untouched(build, gib, rounds, timeout):
    """The RAM's 4 MiB region beside `gib` GiB never touched: Mirvane and the
    touched-pages limit in turns, then the copy of everything. A read of a
    never-touched page maps the kernel's zero page there, which the pagemap
    then shows present: after one copy of everything, Mirvane reads it all."""
    result = {"kind": "untouched", "untouched_gib": gib, "size_mib": 4, "region_mib": 4, "rounds": rounds}
    result.update(touched_then_everything(build, ["--sparse-gib", str(gib)], 4, rounds, timeout))
    return result


def touched_then_everything(build, options, size_mib, rounds, timeout):
    """Mirvane and the touched-pages limit in turns, then the copy of everything
    as many rounds, against a target whose pages are touched only in part."""
    target, address = start_target(build, options, size_mib, size_mib)
    subject = Subject(build, target.pid, address, ["touched", "mirvane", "pieces"])
    try:
        take_turns([subject], rounds, timeout, only=("touched", "mirvane"))
        for _ in range(rounds):
            subject.run("pieces", timeout)
    finally:
        stop_target(target)
    return subject.figures()


def measure_mappings(build, counts, ram_mib, rounds, timeout):
    """All counts' targets at once, taking turns; the largest count's result
    carries the growth of Mirvane's time from the smallest."""
    targets, subjects = [], []
    try:
        for count in counts:
            target, address = start_target(build, ["--mappings", str(count)], ram_mib, ram_mib)
            targets.append(target)
            subjects.append(Subject(build, target.pid, address, ["pieces", "mirvane"]))
        take_turns(subjects, rounds, timeout)
    finally:
        for target in targets:
            stop_target(target)
    results = []
    for count, subject in zip(counts, subjects):
        result = {"kind": "mappings", "mappings": count, "size_mib": ram_mib, "region_mib": ram_mib, "rounds": rounds}
        result.update(subject.figures())
        results.append(result)
    if len(counts) > 1:
        smallest, largest = subjects[0], subjects[-1]
        growth = ratio({"large": largest.times["mirvane"], "small": smallest.times["mirvane"]}, "large", "small")
        results[-1]["growth"] = {"from_mappings": counts[0], "ratio": growth,
                                 "timed_out": bool(largest.timed_out or smallest.timed_out)}
    return results


def measure_scattered(build, count, ram_mib, rounds, timeout):
    result = {"kind": "scattered", "scattered": count, "size_mib": ram_mib, "region_mib": ram_mib, "rounds": rounds}
    result.update(touched_then_everything(build, ["--scattered", str(count)], ram_mib, rounds, timeout))
    return result


def measure_pcsxr(build, tessil_exe, rounds, timeout):
    """Debian's 64-bit pcsxr running TESSIL.EXE, as the emulator test starts it."""
    result = {"kind": "pcsxr", "rounds": rounds}
    pcsxr, plugin_dir = find_pcsxr("/"), find_plugin_dir("/")
    missing = [name for name, found in (("pcsxr", pcsxr), ("pcsxr's plugins", plugin_dir),
                                        ("Xvfb", shutil.which("Xvfb")), (tessil_exe, os.path.isfile(tessil_exe)))
               if not found]
    if missing:
        result["not_run"] = "not installed or not built: " + ", ".join(missing)
        return result
    home = tempfile.mkdtemp(prefix="pcsxr-bench-")
    server = emulator = None
    try:
        server, emulator = start_headless(pcsxr, plugin_dir, home, tessil_exe)

        fresh = measure_fresh_pcsxr(build, emulator, rounds, timeout)

        def ram_seen():
            if emulator.poll() is not None:
                return "exited"
            return ram_base(*marker_hits(emulator.pid)) or None

        address = wait_until(ram_seen, PCSXR_MARKER_TIMEOUT)
        if not address or address == "exited":
            result["not_run"] = "pcsxr %s" % ("exited" if address else "showed no RAM within %d s" % PCSXR_MARKER_TIMEOUT)
            return result
        if fresh:
            if fresh["address"] != "0x%08X" % address:
                sys.exit("Mirvane found the RAM of the fresh pcsxr at %s, the scan at 0x%08X" % (fresh["address"], address))
            result["fresh"] = fresh
        subject = Subject(build, emulator.pid, address, ["pieces", "mirvane"])
        cpu_before = process_cpu_seconds(emulator.pid)
        start = time.monotonic()
        take_turns([subject], rounds, timeout)
        result["emulator_cpu_share"] = (process_cpu_seconds(emulator.pid) - cpu_before) / (time.monotonic() - start)
        result.update(subject.figures())
    finally:
        for process in (emulator, server):
            if process:
                stop(process)
        shutil.rmtree(home, ignore_errors=True)
    return result


def measure_fresh_pcsxr(build, emulator, rounds, timeout):
    """pcsxr before anything has read its memory: Mirvane, run until it finds
    the RAM, then timed in turns with the touched-pages limit; last, one copy
    of everything, which makes its pages resident. None where Mirvane never
    found the RAM."""
    time.sleep(2)  # its libraries loaded and its memory set up, as the emulator test waits
    deadline = time.monotonic() + PCSXR_MARKER_TIMEOUT
    mirvane = os.path.join(build, "Mirvane")
    while emulator.poll() is None and time.monotonic() < deadline:
        run = run_measured([mirvane, str(emulator.pid)], timeout)
        if run.status == 2:
            break
        time.sleep(0.3)
    else:
        return None
    subject = Subject(build, emulator.pid, int(run.stdout.split()[0], 16), ["touched", "mirvane", "pieces"])
    for _ in range(rounds):
        for name in ("touched", "mirvane"):
            subject.run(name, timeout)
    subject.run("pieces", timeout)
    return subject.figures()


def process_cpu_seconds(pid):
    """User and system time a process has used, from /proc/PID/stat."""
    with open("/proc/%d/stat" % pid) as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def where_label(r):
    """Where the target's regions lie."""
    where = "above 4 GiB" if r["kind"] == "high" else "below 4 GiB"
    if r["kind"] == "sparse":
        where += ", beside a %s GiB sparse region" % r["options"][-1]
    return where


def target_label(r):
    if r["kind"] == "mappings":
        return "%d MiB in one region beside %s small mappings, each split by a read-only page" % (
            r["size_mib"], "{:,}".format(r["mappings"]))
    if r["kind"] == "scattered":
        return "%d MiB in one region beside one mapping of %s maps lines, every other page touched" % (
            r["size_mib"], "{:,}".format(r["scattered"]))
    if r["kind"] == "pcsxr":
        return "Debian's pcsxr (amd64) running TESSIL.EXE"
    if r["kind"] == "untouched":
        return "the RAM's 4 MiB region beside %d GiB never touched" % r["untouched_gib"]
    return "%d MiB in %d MiB regions, %s" % (r["size_mib"], r["region_mib"], where_label(r))


def seconds_text(r, name, digits=3):
    value = r["median"].get(name)
    if value is None and name == "mirvane" and r.get("timed_out"):
        return "over %g s" % r["timed_out"]
    return "%.*f s" % (digits, value) if value is not None else "not run"


def times_text(value, digits, r=None):
    """A ratio to the piecewise limit; where Mirvane was ended, at least its timeout over the limit's time."""
    if value is None and r is not None and r.get("timed_out") and r["median"].get("pieces"):
        return "over %.0f×" % (r["timed_out"] / r["median"]["pieces"])
    return "%.*f×" % (digits, value) if value is not None else "not run"


def table_lines(results):
    """The Markdown table of the bulk targets' figures, one row per target; empty without them."""
    if not any(r["kind"] in ("low", "high", "sparse") for r in results):
        return []
    lines = ["| target | whole-copy limit | piecewise copy limit | Mirvane | scanmem "
             "| Mirvane / piecewise limit | scanmem / Mirvane | Mirvane peak RSS |",
             "|---|---|---|---|---|---|---|---|"]
    for r in results:
        if r["kind"] not in ("low", "high", "sparse"):
            continue
        mirvane = seconds_text(r, "mirvane")
        if r["median"]["mirvane"] is not None:
            mirvane += " (%.1f GB/s)" % (r["size_mib"] * 1048576 / r["median"]["mirvane"] / 1e9)
        lines.append("| %s | %s | %s | %s | %s | %s | %s | %.1f MiB |" % (
            target_label(r), seconds_text(r, "whole"), seconds_text(r, "pieces"), mirvane,
            seconds_text(r, "scanmem", 2), times_text(r["ratio"]["mirvane_to_pieces"], 2, r),
            times_text(r["ratio"]["scanmem_to_mirvane"], 1),
            r["mirvane_peak_rss_kib"] / 1024))
    return lines


def walk_table_lines(results):
    """The Markdown table of the targets with many mappings and of the real
    emulator, where the walk costs more than the copy; empty without them."""
    rows = [r for r in results if r["kind"] in ("mappings", "scattered", "pcsxr")]
    if not rows:
        return []
    lines = ["| target | maps lines | what the limit copies | piecewise copy limit | Mirvane "
             "| Mirvane / piecewise limit | Mirvane peak RSS |",
             "|---|---|---|---|---|---|---|"]
    for r in rows:
        if r.get("not_run"):
            lines.append("| %s | not run: %s | | | | | |" % (target_label(r), r["not_run"]))
            continue
        copied = "%d regions, %.1f MiB" % (r["limit_regions"], r["limit_bytes"] / 1048576) \
            if r["limit_regions"] is not None else "?"
        lines.append("| %s | %s | %s | %s | %s | %s | %s |" % (
            target_label(r), "{:,}".format(r["maps_lines"]) if r["maps_lines"] else "?", copied,
            seconds_text(r, "pieces"), seconds_text(r, "mirvane"),
            times_text(r["ratio"]["mirvane_to_pieces"], 2, r),
            "%.1f MiB" % (r["mirvane_peak_rss_kib"] / 1024) if r["mirvane_peak_rss_kib"] else "not measured"))
    return lines


def untouched_rows(results):
    """The targets with memory never touched, and pcsxr freshly started."""
    rows = [r for r in results if r["kind"] == "untouched"]
    rows += [dict(r["fresh"], kind="pcsxr", rounds=r["rounds"]) for r in results
             if r["kind"] == "pcsxr" and r.get("fresh")]
    return rows


def growth_text(r, name):
    value = r.get("most_growth_kib", {}).get(name)
    return "%.1f MiB" % (value / 1024) if value is not None else "not run"


def untouched_table_lines(results):
    """The Markdown table of the targets with memory never touched; empty without them."""
    rows = untouched_rows(results)
    if not rows:
        return []
    lines = ["| target | Mirvane | target's growth (VmRSS) over a Mirvane run, at most "
             "| touched-pages copy limit (the Linux tool's) | copy of everything (what it read before) "
             "| target's growth over the copy of everything | Mirvane peak RSS |",
             "|---|---|---|---|---|---|---|"]
    for r in rows:
        label = target_label(r) + (", freshly started" if r["kind"] == "pcsxr" else "")
        lines.append("| %s | %s | %s | %s | %s | %s | %.1f MiB |" % (
            label, seconds_text(r, "mirvane"), growth_text(r, "mirvane"), seconds_text(r, "touched"),
            seconds_text(r, "pieces"), growth_text(r, "pieces"), r["mirvane_peak_rss_kib"] / 1024))
    return lines


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", required=True, help="native build folder built with -DMIRVANE_BENCH=ON")
    parser.add_argument("--sizes", default="256,1024,2048", help="target sizes in MiB, comma-separated")
    parser.add_argument("--region-mib", type=int, default=64)
    parser.add_argument("--sparse-gib", type=int, default=16, help="the sparse region beside the largest target")
    parser.add_argument("--mappings", default="4000,16000",
                        help="counts of small mappings, comma-separated, smallest first (empty: none)")
    parser.add_argument("--mappings-ram-mib", type=int, default=64, help="the region beside the small mappings")
    parser.add_argument("--scattered", default="8000,32000",
                        help="maps lines of the mapping whose touched pages lie apart, comma-separated (empty: none)")
    parser.add_argument("--untouched-gib", default="4,16",
                        help="sizes of the never-touched region beside the RAM, comma-separated (empty: none)")
    parser.add_argument("--pcsxr", metavar="TESSIL.EXE", help="also time Debian's pcsxr running this marker program")
    parser.add_argument("--rounds", type=int, default=5, help="timed runs of the limit and of Mirvane per target")
    parser.add_argument("--scanmem-rounds", type=int, default=3)
    parser.add_argument("--timeout", type=float, default=60, help="seconds after which a Mirvane run is ended")
    parser.add_argument("--json", help="write the figures here")
    args = parser.parse_args()
    if args.rounds < 1 or args.scanmem_rounds < 1 or args.region_mib < 2 or args.mappings_ram_mib < 2:
        parser.error("--rounds and --scanmem-rounds must be at least 1, --region-mib and --mappings-ram-mib at least 2")
    if shutil.which("scanmem") is None:
        sys.exit("scanmem is not installed (apt-get install scanmem)")
    sizes = [int(s) for s in args.sizes.split(",") if s]
    counts = [int(s) for s in args.mappings.split(",") if s]
    targets = [(kind, options, size) for size in sizes for kind, options in (("low", []), ("high", ["--high"]))]
    if sizes:
        targets.append(("sparse", ["--sparse-gib", str(args.sparse_gib)], max(sizes)))
    results = []

    def add(new_results):
        # The machine is shared: its load goes with the figures.
        for result in new_results:
            result["load_1min"] = os.getloadavg()[0]
        results.extend(new_results)

    for kind, options, size in targets:
        print("e2e: %d MiB, %s ..." % (size, kind), file=sys.stderr, flush=True)
        add([measure_target(args.build, kind, options, size, args.region_mib, args.rounds,
                            min(args.scanmem_rounds, args.rounds), args.timeout)])
    if sizes:
        print("e2e: %d MiB, a kernel area beside markers, in turns ..." % max(sizes), file=sys.stderr, flush=True)
        add([measure_kernel(args.build, max(sizes), args.region_mib, args.rounds, args.timeout)])
    if counts:
        print("e2e: %s small mappings, in turns ..." % " and ".join(map(str, counts)), file=sys.stderr, flush=True)
        add(measure_mappings(args.build, counts, args.mappings_ram_mib, args.rounds, args.timeout))
    for count in [int(s) for s in args.scattered.split(",") if s]:
        print("e2e: beside %d maps lines touched on every other page ..." % count, file=sys.stderr, flush=True)
        add([measure_scattered(args.build, count, args.mappings_ram_mib, args.rounds, args.timeout)])
    for gib in [int(s) for s in args.untouched_gib.split(",") if s]:
        print("e2e: beside %d GiB never touched ..." % gib, file=sys.stderr, flush=True)
        add([measure_untouched(args.build, gib, args.rounds, args.timeout)])
    if args.pcsxr:
        print("e2e: pcsxr running %s ..." % args.pcsxr, file=sys.stderr, flush=True)
        add([measure_pcsxr(args.build, args.pcsxr, args.rounds, args.timeout)])
    print("\n".join(table_lines(results) + [""] + walk_table_lines(results) + [""] +
                    untouched_table_lines(results)).strip())
    if args.json:
        with open(args.json, "w") as out:
            json.dump(results, out, indent=1)


if __name__ == "__main__":
    main()
