#!/usr/bin/env python3
"""Checks built PS-X EXEs: a header a loader accepts, and no trace of the RAM
markers in the image. A marker copy in the file would also sit in the
emulator's memory and make the host tool see that marker twice. Given the test
BIOS image too (a .BIN), checks that it fills the 512 KiB ROM and holds no
marker either.

usage: check_image.py TESSIL.EXE [GAME.EXE] [TESSBIOS.BIN]"""
import os
import struct
import sys

MARKERS = (b"!StartOfMainRAM!", b"!!EndOfMainRAM!!")
SECTOR = 2048
BIOS_SIZE = 512 * 1024


def header_faults(exe):
    faults = []
    if exe[:8] != b"PS-X EXE":
        faults.append("magic is not PS-X EXE")
    pc, _, load, size = struct.unpack_from("<4I", exe, 0x10)
    stack_base, stack_offset = struct.unpack_from("<2I", exe, 0x30)
    sp = stack_base + stack_offset
    if load != 0x80010000:
        faults.append("load address 0x%08X, not 0x80010000" % load)
    if size == 0 or size % SECTOR or len(exe) != SECTOR + size:
        faults.append("code size %d does not fill whole sectors of the file" % size)
    if not load <= pc < load + size:
        faults.append("initial PC 0x%08X lies outside the code" % pc)
    if not load + size <= sp <= 0x801FFFF0:
        faults.append("stack pointer 0x%08X overlaps the code or the last 16 bytes of RAM" % sp)
    return faults


def marker_faults(exe):
    faults = []
    for marker in MARKERS:
        for piece in [marker] + [marker[i:i + 4] for i in range(0, 16, 4)]:
            if piece in exe:
                faults.append("image holds %r at offset 0x%X" % (piece, exe.find(piece)))
    return faults


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__.splitlines()[-1])
    faults = []
    for path in sys.argv[1:]:
        with open(path, "rb") as f:
            image = f.read()
        name = os.path.basename(path)
        if name.upper().endswith(".BIN"):
            if len(image) != BIOS_SIZE:
                faults.append("%s is %d bytes, not %d" % (name, len(image), BIOS_SIZE))
        else:
            faults += ["%s: %s" % (name, fault) for fault in header_faults(image)]
        faults += ["%s: %s" % (name, fault) for fault in marker_faults(image)]
    for fault in faults:
        print("FAIL:", fault)
    if not faults:
        print("%s: header sound, no marker bytes in the images" % " and ".join(sys.argv[1:]))
    sys.exit(1 if faults else 0)


if __name__ == "__main__":
    main()
