# Included by cpack (CPACK_PROJECT_CONFIG_FILE): the Debian package's Depends,
# computed by dpkg-shlibdeps over the programs and the library that it ships.
# CPack's own run of it (CPACK_DEBIAN_PACKAGE_SHLIBDEPS) would also give the
# package maintainer scripts that run ldconfig, as it does for any library
# below /usr/lib, though a library in a private folder needs none.
if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()
find_program(WDT_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(NOT WDT_DPKG_SHLIBDEPS)
  message(FATAL_ERROR "The Debian package's dependencies need dpkg-shlibdeps (package dpkg-dev)")
endif()
include(${CPACK_WDT_BINARIES_FILE})  # WDT_PACKAGED_BINARIES

# dpkg-shlibdeps reads debian/control below its working folder; the library
# that the programs need is found beside the one that is packaged
# (--ignore-missing-info: no installed package holds it).
get_filename_component(work ${CPACK_WDT_BINARIES_FILE} DIRECTORY)
file(WRITE ${work}/debian/control "")
set(search)
foreach(binary IN LISTS WDT_PACKAGED_BINARIES)
  get_filename_component(folder ${binary} DIRECTORY)
  list(APPEND search -l${folder})
endforeach()
execute_process(
  COMMAND ${WDT_DPKG_SHLIBDEPS} ${search} --ignore-missing-info -O ${WDT_PACKAGED_BINARIES}
  WORKING_DIRECTORY ${work}
  OUTPUT_VARIABLE substitution
  ERROR_VARIABLE warnings
  RESULT_VARIABLE status
  OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT status EQUAL 0 OR NOT substitution MATCHES "^shlibs:Depends=(.+)$")
  message(FATAL_ERROR "dpkg-shlibdeps failed (${status}): ${substitution}${warnings}")
endif()
set(CPACK_DEBIAN_PACKAGE_DEPENDS "${CMAKE_MATCH_1}")
