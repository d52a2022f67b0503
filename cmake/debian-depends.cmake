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

# A cross build: the target's C and C++ libraries are the cross compiler's
# copies (libc6-arm64-cross and the like), whose packages name no
# dependency that the target could have. So the target's own library
# packages are downloaded (tools/foreign-apt, never installed) and unpacked
# with their control files, and dpkg-shlibdeps reads their symbols files as
# those of packages being built beside this one (-S), for the target's
# architecture (DEB_HOST_ARCH).
set(host_architecture)
if(CPACK_WDT_CROSS_TRIPLET)
  set(architecture ${CPACK_DEBIAN_PACKAGE_ARCHITECTURE})
  set(libraries ${work}/target-libraries/${architecture})
  set(packages libc6 libstdc++6 libgcc-s1)
  foreach(package IN LISTS packages)
    if(NOT EXISTS ${libraries}/${package}/DEBIAN/control)
      string(REPLACE ";" ", " names "${packages}")
      message(STATUS "The ${architecture} package's dependencies: downloading ${names} for ${architecture}")
      file(REMOVE_RECURSE ${libraries})
      file(MAKE_DIRECTORY ${libraries})
      execute_process(
        COMMAND ${CPACK_WDT_SOURCE_DIR}/tools/foreign-apt ${architecture} ${libraries}/apt apt-get download -q ${packages}
        WORKING_DIRECTORY ${libraries}
        RESULT_VARIABLE status OUTPUT_QUIET)
      if(NOT status EQUAL 0)
        message(FATAL_ERROR "tools/foreign-apt could not download ${packages} for ${architecture}")
      endif()
      foreach(each IN LISTS packages)
        file(GLOB deb ${libraries}/${each}_*.deb)
        execute_process(COMMAND dpkg-deb -R ${deb} ${libraries}/${each} RESULT_VARIABLE status)
        if(NOT status EQUAL 0)
          message(FATAL_ERROR "dpkg-deb -R ${deb} failed")
        endif()
      endforeach()
      break()
    endif()
  endforeach()
  foreach(package IN LISTS packages)
    list(APPEND search -S${libraries}/${package})
  endforeach()
  set(host_architecture ${CMAKE_COMMAND} -E env DEB_HOST_ARCH=${architecture})
endif()

execute_process(
  COMMAND ${host_architecture} ${WDT_DPKG_SHLIBDEPS} ${search} --ignore-missing-info -O ${WDT_PACKAGED_BINARIES}
  WORKING_DIRECTORY ${work}
  OUTPUT_VARIABLE substitution
  ERROR_VARIABLE warnings
  RESULT_VARIABLE status
  OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT status EQUAL 0 OR NOT substitution MATCHES "^shlibs:Depends=(.+)$")
  message(FATAL_ERROR "dpkg-shlibdeps failed (${status}): ${substitution}${warnings}")
endif()
set(CPACK_DEBIAN_PACKAGE_DEPENDS "${CMAKE_MATCH_1}")
