# A cross build for armhf (Debian's architecture armhf):
#   cmake -S . -B build-armhf -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-armhf.cmake
set(CMAKE_SYSTEM_PROCESSOR armv7l)
set(reelprint_triple arm-linux-gnueabihf)
set(reelprint_qemu qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/cross-debian.cmake)
