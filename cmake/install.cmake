# What `cmake --install` puts where, and the packages that CPack makes of it:
# a Debian package on Linux (cpack -G DEB), a zip on Windows (cpack -G ZIP).
include(GNUInstallDirs)

# The programs that are shipped; the test builds are not.
set(WDT_SHIPPED_PROGRAMS wdt-exerciser wdt-check)

if(NOT WIN32)
  # Installed, a program finds the installed library through a run-path
  # relative to itself, so the installed tree can move; in the build tree the
  # library stands beside it.
  set_target_properties(${WDT_SHIPPED_PROGRAMS} PROPERTIES
    BUILD_WITH_INSTALL_RPATH OFF
    BUILD_RPATH_USE_ORIGIN ON
    INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
endif()
install(TARGETS ${WDT_SHIPPED_PROGRAMS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# The simulated library; with WDT_IMPORT_LIB the driver ships its own. On
# Windows the DLL goes beside the programs, without its import library.
if(NOT WDT_IMPORT_LIB)
  install(TARGETS wdtDLL
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} EXCLUDE_FROM_ALL)
endif()

if(WIN32)
  # A zip is unpacked and read as it is: the README at its top.
  install(FILES README.md DESTINATION .)
else()
  install(FILES README.md packaging/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})

  # Man pages, gzip-compressed where gzip is at hand, as Debian ships them.
  set(WDT_MAN_PAGES man/wdt-exerciser.1 man/wdt-check.1)
  find_program(WDT_GZIP gzip)
  foreach(page IN LISTS WDT_MAN_PAGES)
    get_filename_component(page_name ${page} NAME)
    if(WDT_GZIP)
      set(compressed ${CMAKE_CURRENT_BINARY_DIR}/man/${page_name}.gz)
      # -n: no name or time stamp inside, so the same page gives the same bytes.
      add_custom_command(OUTPUT ${compressed}
        COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_CURRENT_SOURCE_DIR}/${page} ${CMAKE_CURRENT_BINARY_DIR}/man/${page_name}
        COMMAND ${WDT_GZIP} -9nf ${CMAKE_CURRENT_BINARY_DIR}/man/${page_name}
        DEPENDS ${page}
        VERBATIM)
      list(APPEND WDT_COMPRESSED_MAN_PAGES ${compressed})
      install(FILES ${compressed} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    else()
      install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    endif()
  endforeach()
  if(WDT_COMPRESSED_MAN_PAGES)
    add_custom_target(man_pages ALL DEPENDS ${WDT_COMPRESSED_MAN_PAGES})
  endif()
endif()

set(CPACK_PACKAGE_NAME wdt-exerciser)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "exercise and check a hardware watchdog timer")
set(CPACK_PACKAGE_DESCRIPTION
  "wdt-exerciser drives a hardware watchdog through the six operations of its
driver's library, wdtDLL: it arms it, reloads it on every key and shows the
time left once a second, until q disarms it. wdt-check checks a watchdog
unattended and reports each check in TAP or JSON with an exit status.

The package ships a simulated watchdog as libwdtDLL.so; with WDT_DEVICE it
drives a kernel watchdog device (/dev/watchdogN) instead.")
set(CPACK_PACKAGE_CONTACT "The wdt-exerciser developers" CACHE STRING "The packages' maintainer")
set(CPACK_STRIP_FILES ON)
set(CPACK_SOURCE_GENERATOR "")

# Debian: wdt-exerciser_<version>_<arch>.deb, its library dependencies
# computed by dpkg-shlibdeps (package dpkg-dev).
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

# Windows: wdt-exerciser-<version>-win64.zip.
if(WIN32)
  set(CPACK_GENERATOR ZIP)
else()
  set(CPACK_GENERATOR DEB)
endif()

include(CPack)
