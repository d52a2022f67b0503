# The packages' architecture, by Debian's names (amd64, arm64, armhf, ...):
# the .deb's Architecture field and the last word of the tarball's name
# (wdt-exerciser-<version>-Linux-<arch>.tar.gz). It is the target's, not the
# build machine's: CPack's own guess asks dpkg, which names the machine it
# runs on, a wrong answer for a cross build. Taken from the compiler's
# multiarch triplet; where that is not one of these, from dpkg-architecture
# (package dpkg-dev), else the processor's name as CMake has it.
set(WDT_DEBIAN_ARCHITECTURES
  x86_64-linux-gnu amd64
  aarch64-linux-gnu arm64
  arm-linux-gnueabihf armhf
  arm-linux-gnueabi armel
  i386-linux-gnu i386
  riscv64-linux-gnu riscv64
  powerpc64le-linux-gnu ppc64el
  s390x-linux-gnu s390x)

set(WDT_PACKAGE_ARCHITECTURE "")
list(FIND WDT_DEBIAN_ARCHITECTURES "${CMAKE_LIBRARY_ARCHITECTURE}" triplet_at)
if(CMAKE_LIBRARY_ARCHITECTURE AND triplet_at GREATER_EQUAL 0)
  math(EXPR name_at "${triplet_at} + 1")
  list(GET WDT_DEBIAN_ARCHITECTURES ${name_at} WDT_PACKAGE_ARCHITECTURE)
elseif(CMAKE_LIBRARY_ARCHITECTURE)
  find_program(WDT_DPKG_ARCHITECTURE dpkg-architecture)
  if(WDT_DPKG_ARCHITECTURE)
    execute_process(COMMAND ${WDT_DPKG_ARCHITECTURE} -t${CMAKE_LIBRARY_ARCHITECTURE} -qDEB_HOST_ARCH
                    OUTPUT_VARIABLE WDT_PACKAGE_ARCHITECTURE OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  endif()
endif()
if(NOT WDT_PACKAGE_ARCHITECTURE)
  string(TOLOWER "${CMAKE_SYSTEM_PROCESSOR}" WDT_PACKAGE_ARCHITECTURE)
endif()

# The multiarch triplet of a cross build's target, for the Debian package's
# dependencies (cmake/debian-depends.cmake); empty for a native build.
set(WDT_PACKAGE_CROSS_TRIPLET "")
if(CMAKE_CROSSCOMPILING)
  set(WDT_PACKAGE_CROSS_TRIPLET "${CMAKE_LIBRARY_ARCHITECTURE}")
endif()
