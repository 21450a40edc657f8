#!/usr/bin/env python3
"""Finds the emulated main RAM in a running process from /proc/PID/maps and
/proc/PID/mem, as a check independent of the tool under test.

Every readable mapping is scanned at every byte offset, so a stray copy of a
marker anywhere in the process is seen too."""
import sys

START_MARKER = b"!StartOfMainRAM!"
END_MARKER = b"!!EndOfMainRAM!!"
END_OFFSET = 0x1FFFF0  # the end marker sits in the last 16 bytes of 2 MiB
CHUNK = 1 << 20


def readable_mappings(pid):
    with open("/proc/%d/maps" % pid) as maps:
        for line in maps:
            fields = line.split()
            if fields[1].startswith("r"):
                start, end = (int(x, 16) for x in fields[0].split("-"))
                yield start, end


def scan_mapping(mem, start, end, hits):
    """Adds the address of every marker occurrence in [start, end) to hits."""
    overlap = len(START_MARKER) - 1
    tail = b""
    position = start
    while position < end:
        try:
            mem.seek(position)
            chunk = mem.read(min(CHUNK, end - position))
        except (OSError, OverflowError):
            return  # guard pages, device mappings and [vsyscall] cannot be read
        if not chunk:
            return
        data = tail + chunk
        base = position - len(tail)
        for marker, found in hits.items():
            index = data.find(marker)
            while index >= 0:
                found.add(base + index)
                index = data.find(marker, index + 1)
        tail = data[-overlap:]
        position += len(chunk)


def marker_hits(pid):
    hits = {START_MARKER: set(), END_MARKER: set()}
    with open("/proc/%d/mem" % pid, "rb", buffering=0) as mem:
        for start, end in readable_mappings(pid):
            scan_mapping(mem, start, end, hits)
    return sorted(hits[START_MARKER]), sorted(hits[END_MARKER])


def ram_base(starts, ends):
    """The start marker's address when both markers lie once, 4-byte aligned,
    one RAM size less 16 bytes apart; otherwise 0."""
    if len(starts) == 1 and len(ends) == 1 and starts[0] % 4 == 0 and ends[0] - starts[0] == END_OFFSET:
        return starts[0]
    return 0


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: find_ram.py PID")
    starts, ends = marker_hits(int(sys.argv[1]))
    print("start marker at", [hex(a) for a in starts], "end marker at", [hex(a) for a in ends])
    print("0x%08X" % ram_base(starts, ends))


if __name__ == "__main__":
    main()
