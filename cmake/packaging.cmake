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
arrangement.")
set(CPACK_GENERATOR DEB)
set(CPACK_STRIP_FILES ON)

# The field must hold an address. None is published yet: the reserved domain .invalid says so
# (docs/changelog signs with the same).
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "The reelprint authors <authors@reelprint.invalid>")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Depends is worked out from the binary when dpkg-shlibdeps (package dpkg-dev) is at hand.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

# A lintian tag that cannot be fixed is overridden in cmake/lintian-overrides, each with a
# comment giving the reason; the file goes where lintian looks for it.
if(EXISTS ${CMAKE_CURRENT_LIST_DIR}/lintian-overrides)
  install(FILES ${CMAKE_CURRENT_LIST_DIR}/lintian-overrides
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides RENAME ${CPACK_PACKAGE_NAME})
endif()

set(CPACK_SOURCE_GENERATOR TGZ)
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git(/|$)" "/build[^/]*/" "/\\\\.cache/")

include(CPack)
