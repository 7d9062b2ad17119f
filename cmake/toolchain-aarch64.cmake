# A cross build for aarch64 (Debian's architecture arm64):
#   cmake -S . -B build-aarch64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-aarch64.cmake
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(reelprint_triple aarch64-linux-gnu)
set(reelprint_qemu qemu-aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/cross-debian.cmake)
