#!/usr/bin/env python3
"""Turns the figures of one benchmark run into the Markdown report, with the
machine it ran on and each target figure marked met or MISSED.

  report.py RESULTS_DIR      (scan-native.json, scan-win32.json, e2e.json in it)

Prints the report; exits 0 whether or not the targets were met.
"""
import json
import os
import platform
import subprocess
import sys

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
from e2e_bench import table_lines, where_label  # noqa: E402

SCAN_TARGET = 2.0        # fast scan at least this many times the naive reference
LIMIT_TARGET = 1.5       # end to end at most this many times the piecewise copy-only limit
SCANMEM_TARGET = 25.0    # end to end at least this many times faster than scanmem
TARGET_SIZE_MIB = 2048   # where the end-to-end targets are set
RSS_LIMIT_MIB = 32       # peak memory below this, the sparse target included


def machine_line():
    cpu = "unknown CPU"
    with open("/proc/cpuinfo") as info:
        for line in info:
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    with open("/proc/meminfo") as info:
        kib = int(info.readline().split()[1])
    try:
        wine = subprocess.run(["wine", "--version"], capture_output=True, text=True).stdout.strip()
    except OSError:
        wine = "no Wine"
    return "%d cores (`nproc`), %s, %.1f GiB memory, Linux %s, %s" % (
        os.cpu_count(), cpu, kib / 1048576, platform.release(), wine)


def scan_medians(path):
    """Median bytes per second of each benchmark in a Google Benchmark JSON file."""
    with open(path) as source:
        report = json.load(source)
    medians = {}
    repetitions = 1
    for entry in report["benchmarks"]:
        name = entry["run_name"].split("/")[0]
        if entry.get("aggregate_name") == "median":
            medians[name] = entry["bytes_per_second"]
            repetitions = entry.get("repetitions", repetitions)
        elif entry.get("run_type") == "iteration" and name not in medians:
            medians[name] = entry["bytes_per_second"]
    return medians, repetitions


def verdict(met):
    return "met" if met else "**MISSED**"


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    results = sys.argv[1]
    lines = ["Machine: " + machine_line() + ".", ""]
    checks = []

    lines += ["Scan of one 256 MiB copy buffer of random bytes, markers near both ends (`bench/scan_bench`, "
              "Google Benchmark; GB/s = 10^9 bytes per second, medians):", "",
              "| build | memcpy of the buffer | `ScanRegionBuffer` | naive reference scan | fast / naive |",
              "|---|---|---|---|---|"]
    for build, label in (("native", "native (x86-64)"), ("win32", "Windows (i686), in-process under Wine")):
        path = os.path.join(results, "scan-%s.json" % build)
        if not os.path.exists(path):
            lines.append("| %s | not run | | | |" % label)
            checks.append("- %s: scan %s build not run" % (verdict(False), build))
            continue
        medians, repetitions = scan_medians(path)
        copy, fast, naive = (medians[n] for n in ("BM_Memcpy", "BM_ScanRegionBuffer", "BM_ScanRegionBufferPlain"))
        ratio = fast / naive
        lines.append("| %s, %d repetitions | %.1f GB/s | %.1f GB/s | %.1f GB/s | %.2f× |" % (
            label, repetitions, copy / 1e9, fast / 1e9, naive / 1e9, ratio))
        checks.append("- %s: scan at least %g× the naive reference, %s: %.2f×" % (
            verdict(ratio >= SCAN_TARGET), SCAN_TARGET, build, ratio))

    e2e_path = os.path.join(results, "e2e.json")
    if os.path.exists(e2e_path):
        with open(e2e_path) as source:
            e2e = json.load(source)
        lines += ["", "End to end, native build, every run taking turns in one session (`bench/e2e_bench.py`; "
                  "%d rounds, scanmem in %d; times are medians, ratios the medians of the ratios within a round):"
                  % (e2e[0]["rounds"], e2e[0]["scanmem_rounds"]), ""] + table_lines(e2e)
        largest = max(r["size_mib"] for r in e2e)
        where = "at %d MiB" % largest
        if largest != TARGET_SIZE_MIB:
            where += " (the targets are set at %d MiB)" % TARGET_SIZE_MIB
        for r in e2e:
            if r["size_mib"] != largest:
                continue
            label = "%s, %s" % (where, where_label(r))
            ratio = r["ratio"]
            if ratio["mirvane_to_pieces"] is not None and r["kind"] != "sparse":
                checks.append("- %s: end to end %s within %g× the piecewise copy-only limit: %.2f×" % (
                    verdict(ratio["mirvane_to_pieces"] <= LIMIT_TARGET), label, LIMIT_TARGET,
                    ratio["mirvane_to_pieces"]))
            if ratio["scanmem_to_mirvane"] is not None:
                checks.append("- %s: end to end %s at least %g× faster than scanmem: %.1f×" % (
                    verdict(ratio["scanmem_to_mirvane"] >= SCANMEM_TARGET), label, SCANMEM_TARGET,
                    ratio["scanmem_to_mirvane"]))
            rss = r["mirvane_peak_rss_kib"] / 1024
            checks.append("- %s: peak RSS %s under %d MiB: %.1f MiB" % (
                verdict(rss < RSS_LIMIT_MIB), label, RSS_LIMIT_MIB, rss))
    else:
        checks.append("- %s: end-to-end benchmark not run" % verdict(False))

    lines += ["", "Targets:", ""] + checks
    print("\n".join(lines))


if __name__ == "__main__":
    main()
