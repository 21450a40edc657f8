#!/usr/bin/env python3
"""Turns the figures of one benchmark run into the Markdown report, with the
machine it ran on and each target figure marked met or MISSED.

  report.py RESULTS_DIR      (scan-native.json, scan-win32.json, e2e.json in it;
                             scan-win32.not-run instead tells why that one did not run)

Where the end-to-end figures hold targets with many mappings or the real
emulator, their table follows the bulk targets' one, with their targets.

Prints the report; exits 0 whether or not the targets were met.
"""
import json
import os
import platform
import subprocess
import sys

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
from e2e_bench import (table_lines, target_label, untouched_rows, untouched_table_lines, walk_table_lines,  # noqa: E402
                       where_label)

SCAN_TARGET = 2.0        # fast scan at least this many times the naive reference
BULK_LIMIT_TARGET = 1.3  # end to end at the largest bulk targets at most this many times the piecewise copy-only limit
LIMIT_TARGET = 1.5       # the same beside many small mappings
PCSXR_TARGET = 1.2       # the same in the real emulator, which keeps one of the two cores busy
SCANMEM_TARGET = 25.0    # end to end at least this many times faster than scanmem
TARGET_SIZE_MIB = 2048   # where the end-to-end targets are set
RSS_LIMIT_MIB = 32       # peak memory below this, the sparse target and many mappings included
GROWTH_TARGET = 5.0      # Mirvane's time beside the most small mappings at most this many times beside the fewest
KERNEL_TARGET = 1.1      # the search by the kernel area at most this many times the search by the markers, same memory
# Beside memory never touched, and in pcsxr freshly started: how much a Mirvane
# run may grow the target (VmRSS), and Mirvane's time at most this share of
# the copy of everything's.
UNTOUCHED_GROWTH_MIB = 4
PCSXR_GROWTH_MIB = 8
UNTOUCHED_TIME_SHARE = 0.1


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
    """Median bytes per second of each benchmark in a Google Benchmark JSON file,
    keyed by (name, buffer bytes): ("BM_Memcpy", 1048576), ("BM_Scan/AVX2", 1048576), ..."""
    with open(path) as source:
        report = json.load(source)
    medians = {}
    repetitions = 1
    for entry in report["benchmarks"]:
        parts = [p for p in entry["run_name"].split("/") if p != "real_time"]
        key = ("/".join(parts[:-1]), int(parts[-1]))
        if entry.get("aggregate_name") == "median":
            medians[key] = entry["bytes_per_second"]
            repetitions = entry.get("repetitions", repetitions)
        elif entry.get("run_type") == "iteration" and key not in medians:
            medians[key] = entry["bytes_per_second"]
    return medians, repetitions


SCAN_PATHS = ("plain", "SSE2", "AVX2", "AVX-512", "NEON")
SCAN_BUFFERS = ((512 << 10, "512 KiB piece, in the cache"), (256 << 20, "256 MiB, from memory"))


def scan_lines(results):
    """The scan's table, one row per build and buffer, one column per path that ran
    somewhere, and its checks."""
    lines, checks, runs = [], [], []
    for build, label in (("native", "native (x86-64)"), ("win32", "Windows (i686), in-process under Wine")):
        path = os.path.join(results, "scan-%s.json" % build)
        if os.path.exists(path):
            runs.append((build, label) + scan_medians(path))
            continue
        reason = "not run"
        if os.path.exists(os.path.join(results, "scan-%s.not-run" % build)):
            with open(os.path.join(results, "scan-%s.not-run" % build)) as note:
                reason += ": " + note.read().strip()
        runs.append((build, label, None, reason))
    paths = [p for p in SCAN_PATHS if any(m and ("BM_Scan/" + p, SCAN_BUFFERS[0][0]) in m for _, _, m, _ in runs)]
    lines += ["| build | buffer | memcpy | %s | fastest / plain |" % " | ".join(
                  "plain (reference)" if p == "plain" else p for p in paths),
              "|---|---|---|%s---|" % ("---|" * len(paths))]
    for build, label, medians, extra in runs:
        if medians is None:
            lines.append("| %s | %s |%s |" % (label, extra, " |" * (len(paths) + 1)))
            checks.append("- %s: scan %s build %s" % (verdict(False), build, extra))
            continue
        for size, buffer in SCAN_BUFFERS:
            rates = [medians.get(("BM_Scan/" + p, size)) for p in paths]
            fastest = max(r for r in rates if r)
            ratio = fastest / medians[("BM_Scan/plain", size)]
            lines.append("| %s, %d repetitions | %s | %.1f GB/s | %s | %.2f× |" % (
                label, extra, buffer, medians[("BM_Memcpy", size)] / 1e9,
                " | ".join("%.1f GB/s" % (r / 1e9) if r else "not on this processor" for r in rates), ratio))
            if size == SCAN_BUFFERS[-1][0]:
                checks.append("- %s: scan at least %g× the naive reference over %s, %s: %.2f×" % (
                    verdict(ratio >= SCAN_TARGET), SCAN_TARGET, buffer.split(",")[0], build, ratio))
    return lines, checks


def fastest_piece_rate(results):
    """The native build's fastest scan of a piece, bytes per second (None where not run)."""
    path = os.path.join(results, "scan-native.json")
    if not os.path.exists(path):
        return None
    medians, _ = scan_medians(path)
    return max(rate for (name, size), rate in medians.items()
               if name.startswith("BM_Scan/") and not name.endswith("-markers-only") and size == SCAN_BUFFERS[0][0])


def kernel_word_lines(results):
    """The fastest path's scan with the kernel vector's word in the block compare, beside it without."""
    path = os.path.join(results, "scan-native.json")
    if not os.path.exists(path):
        return []
    medians, _ = scan_medians(path)
    lines = []
    for (name, size), rate in sorted(medians.items()):
        if not name.endswith("-markers-only"):
            continue
        full = medians.get((name[:-len("-markers-only")], size))
        if full:
            lines.append("- scan of %s by %s: %.1f GB/s with the kernel vector's word, %.1f GB/s for the markers "
                         "alone (%.2f× the time)" % (dict(SCAN_BUFFERS).get(size, "%d bytes" % size),
                                                    name.split("/")[1][:-len("-markers-only")], full / 1e9,
                                                    rate / 1e9, rate / full))
    return lines


def kernel_checks(e2e):
    """The search without the marker program beside the search with it, on the same memory."""
    checks = []
    for r in e2e:
        if r["kind"] != "kernel":
            continue
        value = r["ratio"].get("kernel_to_markers")
        checks.append("- %s: %d MiB: Mirvane finding the RAM by the kernel area at most %g× its time finding it by "
                      "the markers: %s" % (verdict(value is not None and value <= KERNEL_TARGET), r["size_mib"],
                                           KERNEL_TARGET, "%.2f×" % value if value is not None else "not measured"))
    return checks


def scan_share_lines(e2e, piece_rate):
    """What the scan alone costs at the largest bulk target, beside its piecewise copy: where it costs
    more than a third of the copy, scanning one piece while the next is copied would pay."""
    bulk = [r for r in e2e if r["kind"] == "low" and r["median"].get("pieces")]
    if not bulk or piece_rate is None:
        return []
    r = max(bulk, key=lambda r: r["size_mib"])
    scan = r["size_mib"] * 1048576 / piece_rate
    copy = r["median"]["pieces"]
    copy_rate = r["size_mib"] * 1048576 / copy
    return ["", "This machine copies another process's memory in 1 MiB pieces at %.1f GB/s (the piecewise copy "
            "limit at %d MiB) and scans a piece at %.1f GB/s (%.1f× the copy rate): the scan alone takes %.0f ms "
            "for %d MiB, %.2f of the piecewise copy limit's %.0f ms there." % (
                copy_rate / 1e9, r["size_mib"], piece_rate / 1e9, piece_rate / copy_rate, scan * 1e3, r["size_mib"],
                scan / copy, copy * 1e3)]


def verdict(met):
    return "met" if met else "**MISSED**"


def e2e_lines(e2e):
    """The end-to-end tables, with how they were taken and the machine's load."""
    bulk = [r for r in e2e if r["kind"] in ("low", "high", "sparse")]
    lines = []
    if bulk:
        lines += ["", "End to end, native build, every run taking turns in one session (`bench/e2e_bench.py`; "
                  "%d rounds, scanmem in %d; times are medians, ratios the medians of the ratios within a round):"
                  % (bulk[0]["rounds"], bulk[0]["scanmem_rounds"]), ""] + table_lines(bulk)
    walk = walk_table_lines(e2e)
    if walk:
        lines += ["", "End to end where the walk costs more than the copy: beside many small mappings (all counts "
                  "taking turns in one session) and in Debian's 64-bit pcsxr running TESSIL.EXE (%d rounds each; "
                  "times are medians, ratios the medians of the ratios within a round):" % e2e[-1]["rounds"], ""]
        lines += walk
    untouched = untouched_table_lines(e2e)
    if untouched:
        lines += ["", "End to end beside memory never touched, and in Debian's 64-bit pcsxr freshly started, "
                  "before anything else read it (%d rounds of Mirvane and the touched-pages limit in turns, then "
                  "the copy of everything: %d rounds beside the untouched memory, once in pcsxr, as it makes the "
                  "emulator's pages resident; times are medians, growth the most over one run):"
                  % (untouched_rows(e2e)[0]["rounds"], untouched_rows(e2e)[0]["rounds"]), ""] + untouched
    loads = [r["load_1min"] for r in e2e if r.get("load_1min") is not None]
    if loads:
        lines += ["", "Load average (1 minute) after each target: %s, on %d cores." % (
            ", ".join("%.1f" % load for load in loads), os.cpu_count())]
    pcsxr = [r for r in e2e if r["kind"] == "pcsxr" and r.get("emulator_cpu_share") is not None]
    if pcsxr:
        lines += ["The emulator itself used %.2f of a core meanwhile." % pcsxr[0]["emulator_cpu_share"]]
    return lines


def bulk_checks(e2e):
    """The bulk targets' figures at the largest size, against their targets."""
    checks = []
    if not e2e:
        return checks
    largest = max(r["size_mib"] for r in e2e)
    where = "at %d MiB" % largest
    if largest != TARGET_SIZE_MIB:
        where += " (the targets are set at %d MiB)" % TARGET_SIZE_MIB
    for r in e2e:
        if r["size_mib"] != largest:
            continue
        label = "%s, %s" % (where, where_label(r))
        ratio = r["ratio"]
        if r["kind"] != "sparse":
            checks.append(limit_check(label, ratio["mirvane_to_pieces"], r, BULK_LIMIT_TARGET))
            value = ratio["scanmem_to_mirvane"]
            checks.append("- %s: end to end %s at least %g× faster than scanmem: %s" % (
                verdict(value is not None and value >= SCANMEM_TARGET), label, SCANMEM_TARGET,
                "%.1f×" % value if value is not None else "not measured"))
        checks.append(rss_check(label, r))
    return checks


def limit_check(label, value, r, target=LIMIT_TARGET):
    if value is None:
        shown = "not measured (Mirvane ended after %g s)" % r["timed_out"] if r.get("timed_out") else "not measured"
    else:
        shown = "%.2f×" % value
    return "- %s: end to end %s within %g× the piecewise copy-only limit: %s" % (
        verdict(value is not None and value <= target), label, target, shown)


def rss_check(label, r):
    rss = r["mirvane_peak_rss_kib"] / 1024
    return "- %s: peak RSS %s under %d MiB: %s" % (
        verdict(0 < rss < RSS_LIMIT_MIB), label, RSS_LIMIT_MIB, "%.1f MiB" % rss if rss else "not measured")


def walk_checks(e2e):
    """The targets with many mappings and the real emulator, against their targets."""
    checks = []
    mappings = [r for r in e2e if r["kind"] == "mappings"]
    for r in mappings:
        label = "beside {:,} small mappings".format(r["mappings"])
        checks.append(limit_check(label, r["ratio"]["mirvane_to_pieces"], r))
        checks.append(rss_check(label, r))
    if len(mappings) > 1:
        growth = mappings[-1].get("growth", {})
        value = growth.get("ratio")
        shown = "%.2f×" % value if value is not None else "not measured (a Mirvane run was ended)"
        checks.append("- %s: Mirvane's time beside {:,} small mappings at most %g× its time beside {:,}: %s".format(
            mappings[-1]["mappings"], mappings[0]["mappings"]) % (
            verdict(value is not None and value <= GROWTH_TARGET), GROWTH_TARGET, shown))
    for r in e2e:
        if r["kind"] == "scattered":
            checks.append(limit_check("beside {:,} maps lines touched on every other page".format(r["scattered"]),
                                      r["ratio"]["mirvane_to_pieces"], r))
        if r["kind"] != "pcsxr":
            continue
        if r.get("not_run"):
            checks.append("- %s: %s: %s" % (verdict(False), target_label(r), r["not_run"]))
        else:
            checks.append(limit_check("in " + target_label(r), r["ratio"]["mirvane_to_pieces"], r, PCSXR_TARGET))
    return checks


def untouched_checks(e2e):
    """Beside memory never touched and in pcsxr freshly started: the target
    left as it was found, and the untouched memory costing little time."""
    checks = []
    for r in untouched_rows(e2e):
        label = target_label(r) + (", freshly started" if r["kind"] == "pcsxr" else "")
        limit = PCSXR_GROWTH_MIB if r["kind"] == "pcsxr" else UNTOUCHED_GROWTH_MIB
        growth = r["most_growth_kib"].get("mirvane")
        checks.append("- %s: %s: a Mirvane run grows the target by under %d MiB: %s" % (
            verdict(growth is not None and growth < limit * 1024), label, limit,
            "%.1f MiB" % (growth / 1024) if growth is not None else "not measured"))
        if r["kind"] == "untouched":
            mirvane, everything = r["median"].get("mirvane"), r["median"].get("pieces")
            share = mirvane / everything if mirvane is not None and everything else None
            checks.append("- %s: %s: Mirvane's time at most %g of the copy of everything's: %s" % (
                verdict(share is not None and share <= UNTOUCHED_TIME_SHARE), label, UNTOUCHED_TIME_SHARE,
                "%.3f" % share if share is not None else "not measured"))
    return checks


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    results = sys.argv[1]
    lines = ["Machine: " + machine_line() + ".", ""]
    checks = []

    lines += ["Scan of a buffer of random bytes, markers near both ends, by each path the processor runs, beside "
              "memcpy of the same buffer (`bench/scan_bench`, Google Benchmark; GB/s = 10^9 bytes per second, "
              "medians). The walk scans each 512 KiB piece just after copying it, so the piece is in the cache:", ""]
    scan_table, checks = scan_lines(results)
    lines += scan_table
    lines += [""] + kernel_word_lines(results)
    piece_rate = fastest_piece_rate(results)

    e2e_path = os.path.join(results, "e2e.json")
    if os.path.exists(e2e_path):
        with open(e2e_path) as source:
            e2e = json.load(source)
        lines += e2e_lines(e2e)
        lines += scan_share_lines(e2e, piece_rate)
        checks += bulk_checks([r for r in e2e if r["kind"] in ("low", "high", "sparse")])
        checks += walk_checks(e2e)
        checks += untouched_checks(e2e)
        checks += kernel_checks(e2e)
    else:
        checks.append("- %s: end-to-end benchmark not run" % verdict(False))

    lines += ["", "Targets:", ""] + checks
    print("\n".join(lines))


if __name__ == "__main__":
    main()
