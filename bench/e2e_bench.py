#!/usr/bin/env python3
"""End-to-end benchmark of the native Mirvane against a bulk target process.

For each size the target (bench/bulk_target) commits that many MiB below 4 GiB
in regions of --region-mib and holds the markers once. In the same run, taking
turns so that a busy machine slows all of them alike, it times:
  limit    copy_limit: every region copied into one reused buffer (nothing faster reads it)
  fresh    copy_limit --fresh-buffer: a new buffer per region, as the walk must allocate
  Mirvane  the tool itself: walk, copy, scan, result (checked against the target's address)
  scanmem  Debian's scanmem searching the start marker as a string over all regions
and prints the medians of the times and of the ratios within each round. The peak memory (max RSS) of the Mirvane runs is
recorded too. Results go to --json for report.py.
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


def start_target(build, size_mib, region_mib):
    target = subprocess.Popen([os.path.join(build, "bench", "bulk_target"), str(size_mib), str(region_mib)],
                              stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    line = target.stdout.readline().split()
    if len(line) != 2 or line[0] != "READY":
        target.kill()
        sys.exit("bulk_target did not start (%s MiB)" % size_mib)
    return target, int(line[1], 16)


def stop_target(target):
    target.stdin.close()  # it ends when its standard input closes
    target.wait(timeout=60)


def check(ok, what, run):
    if not ok:
        sys.exit("%s went wrong: exit %d\n%s\n%s" % (what, run.status, run.stdout[-2000:], run.stderr[-2000:]))


def measure_size(build, size_mib, region_mib, rounds, scanmem_rounds):
    target, address = start_target(build, size_mib, region_mib)
    pid = str(target.pid)
    mirvane = [os.path.join(build, "Mirvane"), pid]
    limit = [os.path.join(build, "bench", "copy_limit"), pid]
    fresh = [os.path.join(build, "bench", "copy_limit"), "--fresh-buffer", pid]
    scanmem = ["scanmem", "-p", pid, "-c", SCANMEM_COMMANDS.format(marker=START_MARKER)]
    expected = "0x%08X" % address
    times = {"limit": [], "fresh": [], "mirvane": [], "scanmem": []}
    peak_rss_kib = 0
    try:
        run_measured(limit)  # a first pass over the target, untimed, so every run finds it settled
        for round_number in range(rounds):
            run = run_measured(limit)
            check(run.status == 0, "copy_limit", run)
            times["limit"].append(run.seconds)
            run = run_measured(fresh)
            check(run.status == 0, "copy_limit --fresh-buffer", run)
            times["fresh"].append(run.seconds)
            run = run_measured(mirvane)
            # Found: exit status 2 and the start marker's address on standard output.
            check(run.status == 2 and run.stdout.split()[:1] == [expected], "Mirvane (expected %s)" % expected, run)
            times["mirvane"].append(run.seconds)
            peak_rss_kib = max(peak_rss_kib, run.max_rss_kib)
            if round_number < scanmem_rounds:
                run = run_measured(scanmem)
                listed = "%x, " % address  # as its "list" shows a match
                check(listed in run.stdout or listed in run.stderr, "scanmem (expected a match at %x)" % address, run)
                times["scanmem"].append(run.seconds)
    finally:
        stop_target(target)
    medians = {name: statistics.median(values) for name, values in times.items()}
    # Ratios are taken within a round, where the runs followed one another, and then
    # their median: the machine's speed drifts between rounds far more than within one.
    ratios = {
        "mirvane_to_limit": statistics.median(m / l for m, l in zip(times["mirvane"], times["limit"])),
        "fresh_to_limit": statistics.median(f / l for f, l in zip(times["fresh"], times["limit"])),
        "scanmem_to_mirvane": statistics.median(s / m for s, m in zip(times["scanmem"], times["mirvane"])),
    }
    return {"size_mib": size_mib, "region_mib": region_mib, "rounds": rounds, "scanmem_rounds": scanmem_rounds,
            "seconds": times, "median": medians, "ratio": ratios, "mirvane_peak_rss_kib": peak_rss_kib}


def table_lines(results):
    """The Markdown table of the end-to-end figures, one row per target size."""
    lines = ["| target | copy-only limit | copy, fresh buffer per region | Mirvane | scanmem "
             "| Mirvane / limit | scanmem / Mirvane | Mirvane peak RSS |",
             "|---|---|---|---|---|---|---|---|"]
    for r in results:
        m = r["median"]
        lines.append("| %d MiB in %d MiB regions | %.3f s | %.3f s | %.3f s (%.1f GB/s) | %.2f s | %.2f× | %.1f× "
                     "| %.1f MiB |" % (r["size_mib"], r["region_mib"], m["limit"], m["fresh"], m["mirvane"],
                                       r["size_mib"] * 1048576 / m["mirvane"] / 1e9, m["scanmem"],
                                       r["ratio"]["mirvane_to_limit"], r["ratio"]["scanmem_to_mirvane"],
                                       r["mirvane_peak_rss_kib"] / 1024))
    return lines


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", required=True, help="native build folder built with -DMIRVANE_BENCH=ON")
    parser.add_argument("--sizes", default="256,1024,2048", help="target sizes in MiB, comma-separated")
    parser.add_argument("--region-mib", type=int, default=64)
    parser.add_argument("--rounds", type=int, default=5, help="timed runs of the limit and of Mirvane per size")
    parser.add_argument("--scanmem-rounds", type=int, default=3)
    parser.add_argument("--json", help="write the figures here")
    args = parser.parse_args()
    if args.rounds < 1 or args.scanmem_rounds < 1 or args.region_mib < 2:
        parser.error("--rounds and --scanmem-rounds must be at least 1, --region-mib at least 2")
    if shutil.which("scanmem") is None:
        sys.exit("scanmem is not installed (apt-get install scanmem)")
    results = []
    for size in [int(s) for s in args.sizes.split(",")]:
        print("e2e: %d MiB ..." % size, file=sys.stderr, flush=True)
        results.append(measure_size(args.build, size, args.region_mib, args.rounds,
                                    min(args.scanmem_rounds, args.rounds)))
    print("\n".join(table_lines(results)))
    if args.json:
        with open(args.json, "w") as out:
            json.dump(results, out, indent=1)


if __name__ == "__main__":
    main()
