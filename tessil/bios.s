# A stand-in BIOS for tests: at reset it only jumps to 0xBFC06990, the word
# where a real BIOS would start its shell. Mednafen-family emulators overwrite
# that word with a call into their own EXE loader when they load a PS-X EXE,
# so with this image they run TESSIL.EXE straight away. Everything else is
# zero: there is no kernel, no exception handler and no CD code, so a console
# could not boot from it, nor can an emulator run anything but a loaded EXE.

        .set    SHELL_ENTRY, 0xBFC06990 # the word the emulators patch

        .text
        .set    noreorder
        .globl  reset
reset:                                  # 0xBFC00000, where the CPU starts
        j       SHELL_ENTRY
        nop                             # the jump's delay slot
