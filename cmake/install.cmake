# What `cmake --install` puts where, and the packages that CPack makes of it:
# a Debian package on Linux (cpack -G DEB) and a tarball of the same tree for
# any board image (cpack -G TGZ), a zip on Windows (cpack -G ZIP).
include(GNUInstallDirs)

# The programs that are shipped; the test builds are not.
set(WDT_SHIPPED_PROGRAMS wdt-exerciser wdt-check)

# The simulated library has a folder of its own, off the system's library
# path: no other program loads it by chance, and a driver package's own
# libwdtDLL.so does not collide with it. On Windows the DLL goes beside the
# programs.
set(WDT_LIBRARY_DIR ${CMAKE_INSTALL_LIBDIR}/wdt-exerciser)

if(WIN32)
  install(TARGETS ${WDT_SHIPPED_PROGRAMS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
else()
  # Installed, a program finds the library through a run-path relative to
  # itself, so the installed tree can move; a RUNPATH, which LD_LIBRARY_PATH
  # still comes before. The installed program is linked apart from the build
  # tree's: CMake's rewrite of the run-path at install needs room kept in the
  # build tree's, and keeps it as empty entries, each meaning the current
  # folder. So each program is built twice, from the same sources and
  # libraries, with the same definitions and link options; the installed one
  # in for-install/.
  file(RELATIVE_PATH library_from_programs ${CMAKE_INSTALL_FULL_BINDIR}
       ${CMAKE_INSTALL_FULL_LIBDIR}/wdt-exerciser)
  foreach(program IN LISTS WDT_SHIPPED_PROGRAMS)
    get_target_property(sources ${program} SOURCES)
    add_executable(${program}-installed ${sources})
    foreach(property IN ITEMS LINK_LIBRARIES COMPILE_DEFINITIONS LINK_OPTIONS)
      get_target_property(value ${program} ${property})
      if(value)
        set_property(TARGET ${program}-installed PROPERTY ${property} ${value})
      endif()
    endforeach()
    set_target_properties(${program}-installed PROPERTIES
      OUTPUT_NAME ${program}
      RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/for-install
      BUILD_WITH_INSTALL_RPATH ON
      INSTALL_RPATH "$ORIGIN/${library_from_programs}")
    install(TARGETS ${program}-installed RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    list(APPEND WDT_INSTALLED_BINARIES "$<TARGET_FILE:${program}-installed>")
  endforeach()
endif()

# The simulated library; with WDT_IMPORT_LIB the driver ships its own. On
# Windows without its import library.
if(NOT WDT_IMPORT_LIB)
  install(TARGETS wdtDLL
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
    LIBRARY DESTINATION ${WDT_LIBRARY_DIR}
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} EXCLUDE_FROM_ALL)
  list(APPEND WDT_INSTALLED_BINARIES "$<TARGET_FILE:wdtDLL>")
endif()

# wdt_install_gzipped(<file> <destination> <name>): installs <file> as
# <name>.gz, compressed as Debian ships documentation, where gzip is at hand;
# else as <name>.
find_program(WDT_GZIP gzip)
function(wdt_install_gzipped file destination name)
  if(NOT WDT_GZIP)
    install(FILES ${file} DESTINATION ${destination} RENAME ${name})
    return()
  endif()
  set(copy ${CMAKE_BINARY_DIR}/gzipped/${name})
  # -n: no name or time stamp inside, so the same file gives the same bytes.
  add_custom_command(OUTPUT ${copy}.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_CURRENT_SOURCE_DIR}/${file} ${copy}
    COMMAND ${WDT_GZIP} -9nf ${copy}
    DEPENDS ${file}
    VERBATIM)
  add_custom_target(gzip-${name} ALL DEPENDS ${copy}.gz)
  install(FILES ${copy}.gz DESTINATION ${destination})
endfunction()

if(WIN32)
  # A zip is unpacked and read as it is: the README and the licence at its top.
  install(FILES README.md LICENSE DESTINATION .)
else()
  install(FILES README.md packaging/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
  wdt_install_gzipped(man/wdt-exerciser.1 ${CMAKE_INSTALL_MANDIR}/man1 wdt-exerciser.1)
  wdt_install_gzipped(man/wdt-check.1 ${CMAKE_INSTALL_MANDIR}/man1 wdt-check.1)
  # The package's history, named as Debian names a package's changelog, and
  # the one lintian tag that does not apply to it.
  wdt_install_gzipped(packaging/changelog ${CMAKE_INSTALL_DOCDIR} changelog.Debian)
  install(FILES packaging/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides
          RENAME wdt-exerciser)
endif()

set(CPACK_PACKAGE_NAME wdt-exerciser)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "exercise and check a hardware watchdog timer")
set(CPACK_PACKAGE_DESCRIPTION
  "wdt-exerciser drives a hardware watchdog through the six operations of its
driver's library, wdtDLL: it arms it, reloads it on every key and shows the
time left once a second, until q disarms it. wdt-check checks a watchdog
unattended and reports each check in TAP or JSON with an exit status.

The package ships a simulated watchdog as libwdtDLL.so, in a folder of its
own; with WDT_DEVICE it drives a kernel watchdog device (/dev/watchdogN)
instead.")
set(WDT_PACKAGE_MAINTAINER "wdt-exerciser developers <wdt-exerciser@example.org>" CACHE STRING
  "The packages' maintainer: a name and an e-mail address")
set(CPACK_PACKAGE_CONTACT "${WDT_PACKAGE_MAINTAINER}")
set(CPACK_STRIP_FILES ON)
set(CPACK_SOURCE_GENERATOR "")

# Debian: wdt-exerciser_<version>-<revision>_<arch>.deb. Its library
# dependencies are computed by dpkg-shlibdeps (package dpkg-dev) in
# cmake/debian-depends.cmake rather than by CPack's own run, which would add
# maintainer scripts that run ldconfig for any library below /usr/lib.
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
if(NOT WIN32)
  file(STRINGS packaging/changelog newest LIMIT_COUNT 1)
  if(NOT newest MATCHES "^wdt-exerciser \\(${PROJECT_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE}\\) ")
    message(FATAL_ERROR "packaging/changelog: the newest entry is not for "
                        "${PROJECT_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE}: ${newest}")
  endif()
  file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/packaging/binaries.cmake
       CONTENT "set(WDT_PACKAGED_BINARIES \"${WDT_INSTALLED_BINARIES}\")\n")
  set(CPACK_WDT_BINARIES_FILE ${CMAKE_BINARY_DIR}/packaging/binaries.cmake)
  set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_SOURCE_DIR}/cmake/debian-depends.cmake)
  # The target's architecture, also for a cross build (where dpkg would
  # name the build machine's); a cross build's dependencies are computed
  # from the target's own libraries (cmake/debian-depends.cmake).
  include(cmake/package-architecture.cmake)
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${WDT_PACKAGE_ARCHITECTURE})
  set(CPACK_WDT_CROSS_TRIPLET "${WDT_PACKAGE_CROSS_TRIPLET}")
  set(CPACK_WDT_SOURCE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
endif()

# Windows: wdt-exerciser-<version>-win64.zip. Linux's tarball,
# wdt-exerciser-<version>-Linux-<arch>.tar.gz (arch by Debian's names:
# amd64, arm64, armhf), holds bin/, lib/wdt-exerciser/ and share/ at its
# top, to be unpacked into any prefix of a board's root file system or
# initramfs (an overlay): the programs' run-path is relative.
if(WIN32)
  set(CPACK_GENERATOR ZIP)
else()
  set(CPACK_GENERATOR DEB TGZ)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
  set(CPACK_SYSTEM_NAME Linux-${WDT_PACKAGE_ARCHITECTURE})
endif()

include(CPack)
