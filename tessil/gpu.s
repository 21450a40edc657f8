# Screen set-up through the GPU ports and the full-screen colour fill.

        .include "hardware.inc"

# Waits until the GPU takes a new command word; the spin is bounded so a GPU
# that never reports ready cannot freeze the marker loop.
        .macro  wait_gpu_ready
        li      $t2, 0x10000
1:
        lw      $t1, GPUSTAT($t0)
        li      $t3, GPU_READY_FOR_COMMAND
        and     $t1, $t1, $t3
        bnez    $t1, 2f
        addiu   $t2, $t2, -1
        bnez    $t2, 1b
2:
        .endm

        .macro  gp1 word
        li      $t1, \word
        sw      $t1, GP1($t0)
        .endm

        .text
        .globl  gpu_init
        .ent    gpu_init
gpu_init:
        li      $t0, IO_BASE
        gp1     0x00000000              # reset
        gp1     0x08000001              # 320x240, NTSC, 15-bit colour, not interlaced
        gp1     0x05000000              # display starts at VRAM (0,0)
        gp1     0x06C60260              # horizontal range: 320 pixels from the usual left edge
        gp1     0x07040010              # vertical range: 240 lines from line 16
        gp1     0x03000000              # display on
        jr      $ra
        .end    gpu_init

# a0: fill command word with the colour (FILL_GREEN or FILL_BLUE).
        .globl  fill_screen
        .ent    fill_screen
fill_screen:
        li      $t0, IO_BASE
        wait_gpu_ready
        sw      $a0, GP0($t0)
        sw      $zero, GP0($t0)         # top-left corner (0,0)
        li      $t1, (SCREEN_HEIGHT << 16) | SCREEN_WIDTH
        sw      $t1, GP0($t0)
        jr      $ra
        .end    fill_screen
