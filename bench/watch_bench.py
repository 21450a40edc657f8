#!/usr/bin/env python3
"""What --watch costs beside a running emulator, and how soon it tells a move.

    watch_bench.py --tool PATH --standin PATH [--seconds 10] [--moves 9] [--interval 250]

The stand-in (tests/standin, scenario ram-moves-on-input) holds the RAM and
moves it when told on its input. The native tool watches it by PID:
  idle cost   the CPU time (user and system) the watching tool takes over
              --seconds while nothing changes, as a share of one core: each
              check re-reads the two markers and the process's start time
  reaction    for each of --moves moves, the time from the stand-in's word
              that the RAM has moved (its old region unmapped) to the tool's
              new line, beside the interval plus one walk (the median time of
              a single run of the tool against the same stand-in, start-up
              included); and after "remove" and "back", the time to the 0 line
              and to the line that finds the RAM again (while nothing is found
              the tool walks at most once a second)
Prints a Markdown section for the report, with the targets met or MISSED; the
figures go to --json too.
"""
import argparse
import json
import os
import random
import re
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
import e2e_support as e2e  # noqa: E402

IDLE_TARGET_PERCENT = 0.5


def cpu_seconds(pid):
    """The CPU time a process has used: nanoseconds from schedstat where the
    kernel keeps it, else clock ticks from stat."""
    try:
        with open("/proc/%d/schedstat" % pid) as schedstat:
            return int(schedstat.read().split()[0]) / 1e9
    except (OSError, ValueError, IndexError):
        with open("/proc/%d/stat" % pid) as stat:
            fields = stat.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def timed_line(tool, reader, since):
    """Waits for the tool's next line; returns it and the seconds from `since`."""
    line = next_line(tool, reader)
    return line, time.monotonic() - since


def next_line(tool, reader, seconds=15):
    while b"\n" not in reader["data"]:
        chunk = os.read(tool.stdout.fileno(), 65536) if e2e.select.select([tool.stdout], [], [], seconds)[0] else b""
        if not chunk:
            raise RuntimeError("no line from the watching tool; so far %r" % reader["data"])
        reader["data"] += chunk
    line, reader["data"] = reader["data"].split(b"\n", 1)
    return line


def command(standin, word):
    process = standin["process"]
    process.stdin.write(word.encode("ascii") + b"\n")
    process.stdin.flush()
    found, _ = e2e.read_until(process.stdout, re.compile(rb"at 0x([0-9A-F]{8,16})\n"), 30, "the stand-in")
    return int(found.group(1), 16), time.monotonic()


def single_run_seconds(tool, pid, rounds=9):
    times = []
    for _ in range(rounds):
        started = time.monotonic()
        subprocess.run([tool, str(pid)], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
        times.append(time.monotonic() - started)
    return statistics.median(times)


def measure(tool, standin_path, seconds, moves, interval):
    setting = e2e.make_setting(tool, standin_path, None, 64)
    standin = e2e.start_standin(setting, "ram-moves-on-input")
    watcher = None
    try:
        walk = single_run_seconds(setting["tool"], standin["pid"])
        watcher = subprocess.Popen([setting["tool"], "--watch", "--interval", str(interval), str(standin["pid"])],
                                   stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        reader = {"data": b""}
        next_line(watcher, reader)
        time.sleep(1)
        before, started = cpu_seconds(watcher.pid), time.monotonic()
        time.sleep(seconds)
        used, elapsed = cpu_seconds(watcher.pid) - before, time.monotonic() - started
        reactions = []
        for _ in range(moves):
            # At any moment between two checks, as a user's emulator would move it.
            time.sleep(random.uniform(0, interval / 1000))
            address, since = command(standin, "move")
            line, took = timed_line(watcher, reader, since)
            if line != b"0x%08X" % address:
                raise RuntimeError("after a move to %#x the tool wrote %r" % (address, line))
            reactions.append(took)
        _, since = command(standin, "remove")
        _, lost = timed_line(watcher, reader, since)
        _, since = command(standin, "back")
        _, back = timed_line(watcher, reader, since)
        return {"seconds": elapsed, "cpu_seconds": used, "idle_percent": 100 * used / elapsed,
                "interval_ms": interval, "walk_seconds": walk, "moves": reactions,
                "move_median": statistics.median(reactions), "move_most": max(reactions),
                "lost_seconds": lost, "back_seconds": back}
    finally:
        if watcher:
            watcher.terminate()
            watcher.wait(10)
        e2e.stop_standin(setting, standin)
        e2e.stop_everything(setting)


def report(figures):
    f = figures
    limit = f["interval_ms"] / 1000 + f["walk_seconds"]
    idle_met = f["idle_percent"] < IDLE_TARGET_PERCENT
    move_met = f["move_most"] <= limit
    return "\n".join([
        "--watch beside the stand-in emulator, by PID, at an interval of %d ms (`bench/watch_bench.py`):" % f["interval_ms"],
        "",
        "| figure | value |",
        "|---|---|",
        "| CPU time of the watching tool over %.1f s of nothing changing | %.3f s: %.3f%% of one core |"
        % (f["seconds"], f["cpu_seconds"], f["idle_percent"]),
        "| a move to the new line, %d moves | median %.3f s, at most %.3f s |"
        % (len(f["moves"]), f["move_median"], f["move_most"]),
        "| the interval plus one walk (a single run, start-up included, median of 9) | %.3f s + %.3f s = %.3f s |"
        % (f["interval_ms"] / 1000, f["walk_seconds"], limit),
        "| the RAM removed, to the 0 line | %.3f s |" % f["lost_seconds"],
        "| the RAM back, to its line (while nothing is found, a walk at most once a second) | %.3f s |"
        % f["back_seconds"],
        "",
        "- %s: idle cost under %.1f%% of one core: %.3f%%" % ("met" if idle_met else "**MISSED**",
                                                              IDLE_TARGET_PERCENT, f["idle_percent"]),
        "- %s: every move on a new line within the interval plus one walk: at most %.3f s of %.3f s"
        % ("met" if move_met else "**MISSED**", f["move_most"], limit),
    ])


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--tool", required=True)
    parser.add_argument("--standin", required=True)
    parser.add_argument("--seconds", type=float, default=10)
    parser.add_argument("--moves", type=int, default=9)
    parser.add_argument("--interval", type=int, default=250)
    parser.add_argument("--json", help="write the figures here")
    args = parser.parse_args()
    figures = measure(args.tool, args.standin, args.seconds, args.moves, args.interval)
    if args.json:
        with open(args.json, "w") as out:
            json.dump(figures, out, indent=1)
    print(report(figures))


if __name__ == "__main__":
    main()
