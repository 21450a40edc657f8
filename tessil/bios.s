# A stand-in BIOS for tests. Like a console's BIOS it leaves a kernel's fixed
# structures in the first 64 KiB of RAM before it starts a program: the
# exception vector at 0x80, the table of tables at 0x100 with the control
# blocks it points to, and one thread in use. Then it jumps to 0xBFC06990, the
# word where a console's BIOS would start its shell: Mednafen-family emulators
# overwrite that word with a call into their own EXE loader when they load a
# PS-X EXE, so with this image they run the loaded program straight away.
#
# The kernel is the least a program can live with: the exception handler
# acknowledges every interrupt and returns, and each call through 0xA0, 0xB0
# or 0xC0 returns at once. There is no CD, pad or memory card code, so a
# console could not boot from it, nor can an emulator run anything but an EXE
# it loads itself. The layout below is this image's own.

        .set    SHELL_ENTRY, 0xBFC06990 # the word the emulators patch
        .set    KERNEL, 0xA0000000      # RAM, uncached: nothing is in the caches yet
        .set    KERNEL_SIZE, 0x10000
        .set    HANDLER, 0x0400         # where the exception handler is copied to

        # The control blocks, one after another from 0x8000 (uncached addresses,
        # as the table of tables holds them).
        .set    BLOCKS, 0xA0008000
        .set    THREADS, 2
        .set    EVENTS, 8
        .set    EXCB, BLOCKS
        .set    EXCB_SIZE, 0x20
        .set    PCB, EXCB + EXCB_SIZE
        .set    PCB_SIZE, 4
        .set    TCB, PCB + 0x20         # a gap, as a kernel may leave
        .set    TCB_SIZE, THREADS * 0xC0
        .set    EVCB, TCB + TCB_SIZE
        .set    EVCB_SIZE, EVENTS * 0x1C
        .set    FCB, EVCB + EVCB_SIZE
        .set    FCB_SIZE, 0x2C0
        .set    DCB, FCB + FCB_SIZE
        .set    THREAD_IN_USE, 0x4000   # a thread block's first word while it runs

        .set    SR_CLEAR, 0             # exceptions to RAM (BEV off), interrupts off

        # put offset, value: one kernel word, at KERNEL + offset (offset < 0x8000).
        .macro  put offset, value
        li      $t1, \value
        sw      $t1, \offset($t0)
        .endm

        .text
        .set    noreorder
        .globl  reset
reset:                                  # 0xBFC00000, where the CPU starts
        mtc0    $zero, $12              # status: see SR_CLEAR
        li      $t0, KERNEL
        li      $t1, KERNEL + KERNEL_SIZE
clear:                                  # the kernel area starts out zero
        sw      $zero, 0($t0)
        addiu   $t0, $t0, 4
        bne     $t0, $t1, clear
        nop

        li      $t0, KERNEL
        # The exception vector: lui k0,0; addiu k0,k0,HANDLER; jr k0; nop.
        put     0x80, 0x3C1A0000
        put     0x84, 0x275A0000 | HANDLER
        put     0x88, 0x03400008
        # The calls through 0xA0, 0xB0 and 0xC0: jr ra; nop.
        put     0xA0, 0x03E00008
        put     0xB0, 0x03E00008
        put     0xC0, 0x03E00008
        # The table of tables: each block's address and size.
        put     0x100, EXCB
        put     0x104, EXCB_SIZE
        put     0x108, PCB
        put     0x10C, PCB_SIZE
        put     0x110, TCB
        put     0x114, TCB_SIZE
        put     0x120, EVCB
        put     0x124, EVCB_SIZE
        put     0x140, FCB
        put     0x144, FCB_SIZE
        put     0x150, DCB
        # One thread, the first, in use and current.
        li      $t0, BLOCKS
        put     PCB - BLOCKS, TCB
        put     TCB - BLOCKS, THREAD_IN_USE

        # The exception handler, copied word by word from this ROM.
        la      $t0, handler
        la      $t2, handler_end
        li      $t3, KERNEL + HANDLER
copy:
        lw      $t1, 0($t0)
        addiu   $t0, $t0, 4
        sw      $t1, 0($t3)
        bne     $t0, $t2, copy
        addiu   $t3, $t3, 4

        j       SHELL_ENTRY
        nop                             # the jump's delay slot

# Runs in RAM at HANDLER: acknowledges every pending interrupt and returns to
# where the exception was taken (a program of ours takes no other exception).
        .set    noat
handler:
        lui     $k0, 0x1F80             # the hardware registers
        sw      $zero, 0x1070($k0)      # interrupt status: all acknowledged
        mfc0    $k0, $14                # EPC
        nop                             # the load delay of mfc0
        jr      $k0
        rfe                             # in the delay slot: the interrupt state before it
handler_end:
