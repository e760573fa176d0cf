# The Debian package of the Linux programs: `cpack --config build/CPackConfig.cmake`
# writes build/packages/bundra_<version>_<arch>.deb. The Windows programs are
# zipped by scripts/package-windows.sh instead.
if(NOT CMAKE_SYSTEM_NAME STREQUAL "Linux")
  return()
endif()

set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "bundra")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DIRECTORY "${CMAKE_BINARY_DIR}/packages")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "pack and unpack GOB version 2 game resource archives")

set(CPACK_DEBIAN_FILE_NAME "DEB-DEFAULT")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Bundra and Spillet developers <maintainers@bundra.invalid>")
set(CPACK_DEBIAN_PACKAGE_SECTION "utils")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
# The summary above is the first line; this is the long description.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "bundra packs the current folder tree into GOB/<NAME>.GOB; spillet unpacks an
archive into the current folder, every file back byte for byte. Both print one
line per file and end with exit codes that scripts can test.")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# The dependencies are read off the programs when dpkg-shlibdeps (dpkg-dev) is
# there; otherwise they are those it gives on Debian 12.
find_program(DPKG_SHLIBDEPS_EXECUTABLE dpkg-shlibdeps)
if(DPKG_SHLIBDEPS_EXECUTABLE)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  # The C++ run time is linked in: only the C library is needed.
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6 (>= 2.34)")
endif()

# Debian keeps manual pages compressed; `cmake --install` leaves them plain.
set(CPACK_PRE_BUILD_SCRIPTS "${CMAKE_CURRENT_LIST_DIR}/CompressManPages.cmake")

include(CPack)
