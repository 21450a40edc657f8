#!/usr/bin/env python3
"""Finds the emulated main RAM in a running process from /proc/PID/maps and
/proc/PID/mem, as a check independent of the tool under test: by the marker
program's two markers, or, with no marker program, by the stand-in game
(tessil/game.s) running in it.

Every readable mapping is scanned at every byte offset, so a stray copy of a
marker or of the game anywhere in the process is seen too. The game is found
by its own image, which the loader puts at RAM offset 0x10000, where the
frame counter at RAM offset 0x100000 goes up: the emulator's copy of the EXE
file holds the image too, but no counter that moves."""
import struct
import sys
import time

START_MARKER = b"!StartOfMainRAM!"
END_MARKER = b"!!EndOfMainRAM!!"
END_OFFSET = 0x1FFFF0  # the end marker sits in the last 16 bytes of 2 MiB
CHUNK = 1 << 20
RAM_SIZE = 0x200000
EXE_HEADER = 2048  # the PS-X EXE header before the image
GAME_IMAGE_OFFSET = 0x10000  # where the image of code loaded at 0x80010000 lies in RAM
GAME_COUNTER_OFFSET = 0x100000  # game.s: STATE
GAME_PATTERN = 256  # bytes of the game's image looked for, at most
GAME_PATTERN_LEAST = 64
COUNTER_WAIT = 0.5  # seconds: many frames of the game


def readable_mappings(pid):
    with open("/proc/%d/maps" % pid) as maps:
        for line in maps:
            fields = line.split()
            if fields[1].startswith("r"):
                start, end = (int(x, 16) for x in fields[0].split("-"))
                yield start, end


def scan_mapping(mem, start, end, hits):
    """Adds the address of every marker occurrence in [start, end) to hits."""
    overlap = max(len(pattern) for pattern in hits) - 1
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


def read_words(pid, address, count):
    """count little-endian words at address of the process, or None where they can't be read."""
    try:
        with open("/proc/%d/mem" % pid, "rb", buffering=0) as mem:
            mem.seek(address)
            data = mem.read(4 * count)
    except (OSError, OverflowError):
        return None
    return struct.unpack("<%dI" % count, data) if len(data) == 4 * count else None


def game_pattern(exe_path):
    """Up to GAME_PATTERN bytes of a PS-X EXE's image, as its loader puts them
    in RAM, without the zeros that pad it to whole sectors."""
    with open(exe_path, "rb") as exe:
        image = exe.read()[EXE_HEADER:EXE_HEADER + GAME_PATTERN].rstrip(b"\0")
    if len(image) < GAME_PATTERN_LEAST:
        raise ValueError("%s: too little of an image to look for" % exe_path)
    return image


def game_ram_bases(pid, exe_path):
    """The RAM bases where the game runs: each copy of its image, less 0x10000,
    whose 2 MiB can be read and whose frame counter moves meanwhile. Views of
    one RAM are all listed, in address order."""
    pattern = game_pattern(exe_path)
    hits = {pattern: set()}
    with open("/proc/%d/mem" % pid, "rb", buffering=0) as mem:
        for start, end in readable_mappings(pid):
            scan_mapping(mem, start, end, hits)
    candidates = [hit - GAME_IMAGE_OFFSET for hit in sorted(hits[pattern])
                  if hit % 4 == 0 and hit >= GAME_IMAGE_OFFSET
                  and read_words(pid, hit - GAME_IMAGE_OFFSET + RAM_SIZE - 4, 1)]
    counters = {base: read_words(pid, base + GAME_COUNTER_OFFSET, 1) for base in candidates}
    time.sleep(COUNTER_WAIT)
    return [base for base in candidates
            if counters[base] and read_words(pid, base + GAME_COUNTER_OFFSET, 1) not in (None, counters[base])]


def kernel_area_dump(pid, base):
    """The words a console kernel keeps at RAM offsets 0x80..0x8F and
    0x100..0x157 (the exception vector and the table of tables), as text."""
    lines = []
    for offset, count in ((0x80, 4), (0x100, 0x58 // 4)):
        words = read_words(pid, base + offset, count)
        for row in range(0, count, 4):
            lines.append("+0x%03X: %s" % (offset + 4 * row, " ".join(
                "%08X" % word for word in words[row:row + 4]) if words else "unreadable"))
    # The current thread: the word at the PCB's address, and the first word
    # of the thread block it points to, where both lie in the kernel area.
    table = read_words(pid, base + 0x108, 1)
    pcb = table[0] & 0x1FFFFFFC if table else 0
    thread = read_words(pid, base + pcb, 1) if 0 < pcb < 0x10000 else None
    if thread:
        first = read_words(pid, base + (thread[0] & 0x1FFFFFFC), 1) if thread[0] & 0x1FFFFFFF < 0x10000 else None
        lines.append("+0x%04X (PCB): %08X -> %s" % (pcb, thread[0], "%08X" % first[0] if first else "outside"))
    return "\n".join(lines)


def ram_base(starts, ends):
    """The start marker's address when both markers lie once, 4-byte aligned,
    one RAM size less 16 bytes apart; otherwise 0."""
    if len(starts) == 1 and len(ends) == 1 and starts[0] % 4 == 0 and ends[0] - starts[0] == END_OFFSET:
        return starts[0]
    return 0


def main():
    if len(sys.argv) not in (2, 3):
        sys.exit("usage: find_ram.py PID [GAME.EXE]")
    pid = int(sys.argv[1])
    if len(sys.argv) == 3:
        bases = game_ram_bases(pid, sys.argv[2])
        print("the game runs in RAM at", [hex(base) for base in bases])
        for base in bases:
            print("kernel area at 0x%X:\n%s" % (base, kernel_area_dump(pid, base)))
        return
    starts, ends = marker_hits(pid)
    print("start marker at", [hex(a) for a in starts], "end marker at", [hex(a) for a in ends])
    print("0x%08X" % ram_base(starts, ends))


if __name__ == "__main__":
    main()
