# A cross build for s390x (Debian's architecture s390x):
#   cmake -S . -B build-s390x -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-s390x.cmake
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(reelprint_triple s390x-linux-gnu)
set(reelprint_qemu qemu-s390x)
include(${CMAKE_CURRENT_LIST_DIR}/cross-debian.cmake)
