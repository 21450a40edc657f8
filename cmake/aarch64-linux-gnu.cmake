# Cross build of the Linux tool for ARM64 with Debian's aarch64 toolchain
# (g++-aarch64-linux-gnu). Its tests run under qemu's user-mode emulation
# (Debian: qemu-user), which finds the target's shared libraries in the
# toolchain's folder; where qemu is missing they are reported skipped.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(MIRVANE_CROSS_ROOT /usr/aarch64-linux-gnu)
find_program(AARCH64_CXX aarch64-linux-gnu-g++ REQUIRED)
find_program(AARCH64_CC aarch64-linux-gnu-gcc REQUIRED)
set(CMAKE_CXX_COMPILER ${AARCH64_CXX})
set(CMAKE_C_COMPILER ${AARCH64_CC})
set(CMAKE_FIND_ROOT_PATH ${MIRVANE_CROSS_ROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
find_program(MIRVANE_QEMU_AARCH64 NAMES qemu-aarch64 qemu-aarch64-static)
if(MIRVANE_QEMU_AARCH64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${MIRVANE_QEMU_AARCH64} -L ${MIRVANE_CROSS_ROOT})
else()
  set(CMAKE_CROSSCOMPILING_EMULATOR sh ${CMAKE_CURRENT_LIST_DIR}/no-emulator.sh qemu-aarch64 qemu-user)
endif()
