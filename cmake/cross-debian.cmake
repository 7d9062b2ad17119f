# The part the toolchain files share: a cross build with Debian's cross compiler for
# `reelprint_triple` (package g++-<triple>), its C library and headers under /usr/<triple>, and
# the programs built run under qemu-user (`reelprint_qemu`, package qemu-user) with that C
# library, so that the tests can be listed and run: `ctest` runs them the same way.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${reelprint_triple}-gcc)  # GoogleTest's build enables C too
set(CMAKE_CXX_COMPILER ${reelprint_triple}-g++)
set(CMAKE_FIND_ROOT_PATH /usr/${reelprint_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR ${reelprint_qemu} -L /usr/${reelprint_triple})
# The emulator's option that sets the argv[0] of the program it starts (tests/binary_run.h).
set(REELPRINT_EMULATOR_ARGV0 -0)
