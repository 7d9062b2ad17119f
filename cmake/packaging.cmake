# The Debian package: `cpack -G DEB` in the build directory makes reelprint_<version>_<arch>.deb
# holding what `cmake --install` installs, under /usr.
set(CPACK_PACKAGE_NAME reelprint)
set(CPACK_PACKAGE_VENDOR "reelprint developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_DESCRIPTION
    "reelprint prints a readable listing of a magnetic-tape image that holds
IBM 1401 BCD character data: for each tape file a column ruler, then
every record cut into numbered lines, with its word marks on a line of
their own if asked. It reads the simh and E11 tape-image framings and
shows the characters through the A, H (Fortran) or 'old simh' print
arrangement.")
set(CPACK_GENERATOR DEB)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_PACKAGE_MAINTAINER "reelprint developers")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Depends is worked out from the binary when dpkg-shlibdeps (package dpkg-dev) is at hand.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

set(CPACK_SOURCE_GENERATOR TGZ)
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git(/|$)" "/build[^/]*/" "/\\\\.cache/")

include(CPack)
