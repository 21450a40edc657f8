# Entry point: set the screen up, then forever rewrite the RAM markers and flip
# the screen between green and blue once per frame.

        .include "hardware.inc"

        .text
        .globl  _start
        .ent    _start
_start:
        li      $t0, IO_BASE
        sw      $zero, I_MASK($t0)      # no interrupt handler of ours: poll VBLANK instead
        jal     gpu_init
        li      $s1, FILL_GREEN
        li      $s2, FILL_GREEN ^ FILL_BLUE
frame:
        jal     write_markers           # again every frame, in case anything overwrote them
        jal     wait_vblank
        move    $a0, $s1
        jal     fill_screen
        xor     $s1, $s1, $s2           # the other colour next frame
        b       frame
        .end    _start

# Waits for the next vertical blank, or gives up after a bounded spin so that a
# machine that never signals it still shows the flicker and keeps the markers.
        .globl  wait_vblank
        .ent    wait_vblank
wait_vblank:
        li      $t0, IO_BASE
        li      $t1, ~1
        sw      $t1, I_STAT($t0)        # writing 0 to bit 0 acknowledges an earlier VBLANK
        li      $t2, 0x80000            # about a quarter of a second of spinning
1:
        lw      $t1, I_STAT($t0)
        andi    $t1, $t1, 1
        bnez    $t1, 2f
        addiu   $t2, $t2, -1
        bnez    $t2, 1b
2:
        jr      $ra
        .end    wait_vblank
