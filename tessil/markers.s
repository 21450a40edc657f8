# Writes "!StartOfMainRAM!" into the first 16 bytes of main RAM and
# "!!EndOfMainRAM!!" into the last 16. A tool on the host finds the RAM by these
# markers and gives up if either appears twice, so their bytes must not appear
# in this program's image: each 4-byte piece is stored scrambled in instruction
# immediates and unscrambled in a register right before it is written.

        .include "hardware.inc"

        .set    SCRAMBLE, 0x9C3A5E17

# word: the 4 marker bytes as a little-endian word (first character lowest).
        .macro  put_piece word, offset, base
        li      $t0, (\word) ^ SCRAMBLE
        xor     $t0, $t0, $t9
        sw      $t0, \offset(\base)
        .endm

        .text
        .globl  write_markers
        .ent    write_markers
write_markers:
        li      $t9, SCRAMBLE           # a register, so the assembler cannot fold it away
        li      $t8, RAM_FIRST_16
        put_piece 0x61745321, 0, $t8    # "!Sta"
        put_piece 0x664F7472, 4, $t8    # "rtOf"
        put_piece 0x6E69614D, 8, $t8    # "Main"
        put_piece 0x214D4152, 12, $t8   # "RAM!"
        li      $t8, RAM_LAST_16
        put_piece 0x6E452121, 0, $t8    # "!!En"
        put_piece 0x4D664F64, 4, $t8    # "dOfM"
        put_piece 0x526E6961, 8, $t8    # "ainR"
        put_piece 0x21214D41, 12, $t8   # "AM!!"
        jr      $ra
        .end    write_markers
