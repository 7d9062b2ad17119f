# The Debian package: `cpack -G DEB` in the build directory makes reelprint_<version>_<arch>.deb
# holding what `cmake --install` installs, under /usr. `lintian` finds nothing to report in it.
set(CPACK_PACKAGE_NAME reelprint)
set(CPACK_PACKAGE_VENDOR "The reelprint authors")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_DESCRIPTION
    "reelprint prints a readable listing of a magnetic-tape image that holds
IBM 1401 BCD character data: for each tape file a column ruler, then
every record cut into numbered lines, with its word marks on a line of
their own if asked. It reads the simh and E11 tape-image framings and
shows the characters through the A, H (Fortran) or 'old simh' print
arrangement.

reelinfo tells what an image holds at a glance: its tape files, their
records and sizes, and exactly how and where the image ends or its
framing breaks.

reeltext writes an image as plain text, a line for each record and the
line 'tape mark' for each tape mark, for diff, grep, an editor or version
control, and builds the image from such text again, byte for byte.

reelcopy copies images between the containers tapes come in (simh, E11,
big-endian simh, TPC, and P7B seven-track dumps with their parity bits),
joins images into one reel, extracts tape files and splits a reel.")
set(CPACK_GENERATOR DEB)
set(CPACK_STRIP_FILES ON)

# The field must hold an address. None is published yet: the reserved domain .invalid says so
# (docs/changelog signs with the same).
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "The reelprint authors <authors@reelprint.invalid>")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Depends is worked out from the binary when dpkg-shlibdeps (package dpkg-dev) is at hand. A
# cross build's C library is the cross compiler's (Debian: libc6-<arch>-cross, whose shlibs
# name the target's libc6), which dpkg-shlibdeps finds only when told where it is.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(CMAKE_CROSSCOMPILING AND NOT CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libc.so.6
                  OUTPUT_VARIABLE target_libc OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(IS_ABSOLUTE "${target_libc}")
    get_filename_component(target_libc ${target_libc} REALPATH)
    get_filename_component(target_libc_dir ${target_libc} DIRECTORY)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${target_libc_dir})
  endif()
endif()

# The architecture is that of the compiler's target, so that a cross-built package is labelled
# for the machine it runs on; tests/packaging/check_deb.sh expects the same. A target not
# named here is left to cpack, which takes dpkg's own architecture (right for a native build).
# -DCPACK_DEBIAN_PACKAGE_ARCHITECTURE=... chooses another.
if(NOT CPACK_DEBIAN_PACKAGE_ARCHITECTURE)
  set(target ${CMAKE_CXX_COMPILER_TARGET})
  if(NOT target)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -dumpmachine OUTPUT_VARIABLE target
                    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  endif()
  if(NOT target AND CMAKE_CROSSCOMPILING)
    set(target ${CMAKE_SYSTEM_PROCESSOR}-${CMAKE_SYSTEM_NAME})
  endif()
  if(target MATCHES "^x86_64-")
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE amd64)
  elseif(target MATCHES "^aarch64-")
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE arm64)
  elseif(target MATCHES "^arm.*-gnueabihf$")
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE armhf)
  elseif(target MATCHES "^arm.*-gnueabi$")
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE armel)
  elseif(target MATCHES "^i[3-6]86-")
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE i386)
  elseif(target MATCHES "^s390x-")
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE s390x)
  endif()
  if(NOT CPACK_DEBIAN_PACKAGE_ARCHITECTURE AND CMAKE_CROSSCOMPILING)
    message(WARNING "No Debian architecture known for the target \"${target}\": the package "
                    "would be labelled as for this machine; set CPACK_DEBIAN_PACKAGE_ARCHITECTURE")
  endif()
endif()

set(CPACK_SOURCE_GENERATOR TGZ)
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git(/|$)" "/build[^/]*/" "/\\\\.cache/")

include(CPack)
