# GAME.EXE: a stand-in for a game that is running, for tests of finding the RAM
# with no marker program. It writes no marker: it counts frames in its own
# state in RAM and keeps a small table there changing, forever. It leaves the
# kernel area (the first 64 KiB) and the BIOS's exception handling alone, and
# its stack lies at the top of RAM (make_psx_exe.py), far above it.
#
# A test finds its RAM from outside by this program's image, which the loader
# puts at 0x80010000 (RAM offset 0x10000), and by the counter at STATE
# (RAM offset 0x100000), which goes up while the game runs.

        .include "hardware.inc"

        .set    STATE, 0x80100000       # the frame counter, then the table
        .set    TABLE_WORDS, 64
        .set    FRAME_SPIN, 0x20000     # a frame's worth of work, about

        .text
        .globl  _start
        .ent    _start
_start:
        li      $t0, IO_BASE
        sw      $zero, I_MASK($t0)      # no interrupt wanted: the game polls nothing
        li      $s0, STATE
        sw      $zero, 0($s0)
frame:
        lw      $s1, 0($s0)
        addiu   $s1, $s1, 1
        sw      $s1, 0($s0)             # the frame counter
        # The table: each word the counter mixed with its index and the
        # title's first word, so that every frame rewrites all of it.
        la      $t3, title
        li      $t2, TABLE_WORDS
        addiu   $t4, $s0, 4
1:
        lw      $t1, 0($t3)
        xor     $t1, $t1, $s1
        addu    $t1, $t1, $t2
        sw      $t1, 0($t4)
        addiu   $t4, $t4, 4
        addiu   $t2, $t2, -1
        bnez    $t2, 1b
        li      $t2, FRAME_SPIN
2:
        addiu   $t2, $t2, -1
        bnez    $t2, 2b
        b       frame
        .end    _start

        .section .rodata
        .align  2
title:
        .ascii  "Mirvane test game: it counts frames and shows nothing.."
