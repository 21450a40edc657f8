#!/usr/bin/env python3
"""End-to-end benchmark of the native Mirvane against a bulk target process.

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
would need its size in memory, and scanmem takes minutes over it). The peak
memory (max RSS) of the Mirvane runs is recorded too. Results go to --json
for report.py.
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
import time

SCANMEM_COMMANDS = 'option region_scan_level 3;option scan_data_type string;" {marker};list;exit'
START_MARKER = "!StartOfMainRAM!"

Run = collections.namedtuple("Run", "seconds status stdout stderr max_rss_kib")


def run_measured(command):
    """Runs a command to its end; its wall time, exit status, output and peak memory."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        start = time.perf_counter()
        process = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=out, stderr=err)
        _, status, usage = os.wait4(process.pid, 0)
        seconds = time.perf_counter() - start
        process.returncode = os.waitstatus_to_exitcode(status)  # reaped here, not by Popen
        out.seek(0)
        err.seek(0)
        return Run(seconds, process.returncode, out.read().decode(errors="replace"),
                   err.read().decode(errors="replace"), usage.ru_maxrss)


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
    pairs = list(zip(times.get(over, []), times.get(under, [])))
    return statistics.median(a / b for a, b in pairs) if pairs else None


def measure_target(build, kind, options, size_mib, region_mib, rounds, scanmem_rounds):
    target, address = start_target(build, options, size_mib, region_mib)
    pid = str(target.pid)
    copy_limit = os.path.join(build, "bench", "copy_limit")
    commands = {"pieces": [copy_limit, "--pieces", pid], "mirvane": [os.path.join(build, "Mirvane"), pid]}
    if kind != "sparse":
        commands["whole"] = [copy_limit, pid]
        commands["scanmem"] = ["scanmem", "-p", pid, "-c", SCANMEM_COMMANDS.format(marker=START_MARKER)]
    expected = "0x%08X" % address
    times = {name: [] for name in commands}
    peak_rss_kib = 0
    try:
        run_measured(commands["pieces"])  # a first pass over the target, untimed, so every run finds it settled
        for round_number in range(rounds):
            for name, command in commands.items():
                if name == "scanmem" and round_number >= scanmem_rounds:
                    continue
                run = run_measured(command)
                if name == "mirvane":
                    # Found: exit status 2 and the start marker's address on standard output.
                    check(run.status == 2 and run.stdout.split()[:1] == [expected],
                          "Mirvane (expected %s)" % expected, run)
                    peak_rss_kib = max(peak_rss_kib, run.max_rss_kib)
                elif name == "scanmem":
                    listed = "%x, " % address  # as its "list" shows a match
                    check(listed in run.stdout or listed in run.stderr,
                          "scanmem (expected a match at %x)" % address, run)
                else:
                    check(run.status == 0, " ".join(command[:-1]), run)
                times[name].append(run.seconds)
    finally:
        stop_target(target)
    return {"kind": kind, "size_mib": size_mib, "region_mib": region_mib, "options": options, "rounds": rounds,
            "scanmem_rounds": scanmem_rounds, "address": expected, "seconds": times,
            "median": {name: statistics.median(values) for name, values in times.items()},
            "ratio": {"mirvane_to_pieces": ratio(times, "mirvane", "pieces"),
                      "scanmem_to_mirvane": ratio(times, "scanmem", "mirvane")},
            "mirvane_peak_rss_kib": peak_rss_kib}


def where_label(r):
    """Where the target's regions lie."""
    where = "above 4 GiB" if r["kind"] == "high" else "below 4 GiB"
    if r["kind"] == "sparse":
        where += ", beside a %s GiB sparse region" % r["options"][-1]
    return where


def target_label(r):
    return "%d MiB in %d MiB regions, %s" % (r["size_mib"], r["region_mib"], where_label(r))


def table_lines(results):
    """The Markdown table of the end-to-end figures, one row per target."""
    def seconds(m, name, digits=3):
        return "%.*f s" % (digits, m[name]) if name in m else "not run"

    def times(value, digits):
        return "%.*f×" % (digits, value) if value is not None else "not run"

    lines = ["| target | whole-copy limit | piecewise copy limit | Mirvane | scanmem "
             "| Mirvane / piecewise limit | scanmem / Mirvane | Mirvane peak RSS |",
             "|---|---|---|---|---|---|---|---|"]
    for r in results:
        m = r["median"]
        lines.append("| %s | %s | %s | %.3f s (%.1f GB/s) | %s | %s | %s | %.1f MiB |" % (
            target_label(r), seconds(m, "whole"), seconds(m, "pieces"), m["mirvane"],
            r["size_mib"] * 1048576 / m["mirvane"] / 1e9, seconds(m, "scanmem", 2),
            times(r["ratio"]["mirvane_to_pieces"], 2), times(r["ratio"]["scanmem_to_mirvane"], 1),
            r["mirvane_peak_rss_kib"] / 1024))
    return lines


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", required=True, help="native build folder built with -DMIRVANE_BENCH=ON")
    parser.add_argument("--sizes", default="256,1024,2048", help="target sizes in MiB, comma-separated")
    parser.add_argument("--region-mib", type=int, default=64)
    parser.add_argument("--sparse-gib", type=int, default=16, help="the sparse region beside the largest target")
    parser.add_argument("--rounds", type=int, default=5, help="timed runs of the limit and of Mirvane per size")
    parser.add_argument("--scanmem-rounds", type=int, default=3)
    parser.add_argument("--json", help="write the figures here")
    args = parser.parse_args()
    if args.rounds < 1 or args.scanmem_rounds < 1 or args.region_mib < 2:
        parser.error("--rounds and --scanmem-rounds must be at least 1, --region-mib at least 2")
    if shutil.which("scanmem") is None:
        sys.exit("scanmem is not installed (apt-get install scanmem)")
    sizes = [int(s) for s in args.sizes.split(",")]
    targets = [(kind, options, size) for size in sizes for kind, options in (("low", []), ("high", ["--high"]))]
    targets.append(("sparse", ["--sparse-gib", str(args.sparse_gib)], max(sizes)))
    results = []
    for kind, options, size in targets:
        print("e2e: %d MiB, %s ..." % (size, kind), file=sys.stderr, flush=True)
        results.append(measure_target(args.build, kind, options, size, args.region_mib, args.rounds,
                                      min(args.scanmem_rounds, args.rounds)))
    print("\n".join(table_lines(results)))
    if args.json:
        with open(args.json, "w") as out:
            json.dump(results, out, indent=1)


if __name__ == "__main__":
    main()
