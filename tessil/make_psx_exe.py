#!/usr/bin/env python3
"""Turns the linked ELF of the marker program into a PS-X EXE.

The EXE is a 2048-byte header followed by the code, padded to whole 2048-byte
sectors because a loader reads it from CD in sectors.
"""
import argparse
import struct
import sys

SECTOR = 2048
LOAD_ADDRESS = 0x80010000
INITIAL_SP = 0x801FFF00  # below the last 16 bytes of RAM, which hold a marker
PT_LOAD = 1


def read_load_segments(elf):
    if elf[:4] != b"\x7fELF" or elf[4] != 1 or elf[5] != 1:
        raise ValueError("not a 32-bit little-endian ELF")
    entry, phoff = struct.unpack_from("<II", elf, 0x18)
    phentsize, phnum = struct.unpack_from("<HH", elf, 0x2A)
    segments = []
    for i in range(phnum):
        p_type, offset, vaddr, _, filesz, _ = struct.unpack_from("<6I", elf, phoff + i * phentsize)
        if p_type == PT_LOAD and filesz:
            segments.append((vaddr, elf[offset:offset + filesz]))
    return entry, sorted(segments)


def build_image(entry, segments):
    if not segments or segments[0][0] != LOAD_ADDRESS:
        raise ValueError("code must start at 0x%08X" % LOAD_ADDRESS)
    text = bytearray()
    for vaddr, data in segments:
        gap = vaddr - (LOAD_ADDRESS + len(text))
        if gap < 0:
            raise ValueError("overlapping segments at 0x%08X" % vaddr)
        text += bytes(gap) + data
    end = LOAD_ADDRESS + len(text)
    if not LOAD_ADDRESS <= entry < end:
        raise ValueError("entry 0x%08X lies outside the code" % entry)
    if end > INITIAL_SP - 0x1000:
        raise ValueError("code reaches into the stack")
    text += bytes(-len(text) % SECTOR)
    return text


def build_header(entry, text_size):
    header = bytearray(SECTOR)
    header[0:8] = b"PS-X EXE"
    struct.pack_into("<4I", header, 0x10, entry, 0, LOAD_ADDRESS, text_size)
    # data and bss areas stay empty; the stack starts at INITIAL_SP with offset 0
    struct.pack_into("<2I", header, 0x30, INITIAL_SP, 0)
    return header


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("elf")
    parser.add_argument("exe")
    args = parser.parse_args()
    with open(args.elf, "rb") as f:
        entry, segments = read_load_segments(f.read())
    try:
        text = build_image(entry, segments)
    except ValueError as e:
        sys.exit("%s: %s" % (args.elf, e))
    with open(args.exe, "wb") as f:
        f.write(build_header(entry, len(text)) + text)


if __name__ == "__main__":
    main()
