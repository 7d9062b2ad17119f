# A cross build for i686 (Debian's architecture i386):
#   cmake -S . -B build-i686 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686.cmake
set(CMAKE_SYSTEM_PROCESSOR i686)
set(reelprint_triple i686-linux-gnu)
set(reelprint_qemu qemu-i386)
include(${CMAKE_CURRENT_LIST_DIR}/cross-debian.cmake)
# An x86-64 processor runs i686 code as it is, so the target's own dynamic loader starts the
# programs, with the target's libraries, where the kernel runs 32-bit programs, as Debian's
# does. Where it does not (some virtual machines' kernels), qemu-i386 runs them, linked static:
# a dynamic program that forks hangs under qemu-i386 7.2.
execute_process(COMMAND /usr/${reelprint_triple}/lib/ld-linux.so.2 --help
                RESULT_VARIABLE reelprint_loader_runs OUTPUT_QUIET ERROR_QUIET)
if(reelprint_loader_runs EQUAL 0)
  set(CMAKE_CROSSCOMPILING_EMULATOR /usr/${reelprint_triple}/lib/ld-linux.so.2
      --library-path /usr/${reelprint_triple}/lib)
  set(REELPRINT_EMULATOR_ARGV0 --argv0)
else()
  set(CMAKE_CROSSCOMPILING_EMULATOR ${reelprint_qemu})
  set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
  set(REELPRINT_STATIC ON)  # a package of static programs is no Debian package: not checked
endif()
