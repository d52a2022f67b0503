# shellcheck shell=bash disable=SC2034 # sets $build for the stage that sources it
# Sourced by the stages that package: package_build ARCH configures and
# builds the programs for Debian architecture ARCH with the distribution's
# hardening flags (dpkg-buildflags, for ARCH) in build/package (the build
# machine's own architecture, with the run preset) or build/package-ARCH
# (a cross build with the preset of that name), and sets build to it. A
# later stage's call finds the build there and brings it up to date.
package_build() {
  local arch=$1 preset=run
  build=build/package
  if [ "$arch" != "$(dpkg --print-architecture)" ]; then
    preset=$arch build=build/package-$arch
  fi
  export DEB_BUILD_MAINT_OPTIONS=hardening=+all
  flags() { DEB_HOST_ARCH=$arch dpkg-buildflags --get "$1"; }
  # CMake takes no CPPFLAGS: they go with the compiler's flags.
  cmake --preset "$preset" -B "$build" -DCMAKE_C_FLAGS="$(flags CPPFLAGS) $(flags CFLAGS)" \
    -DCMAKE_CXX_FLAGS="$(flags CPPFLAGS) $(flags CXXFLAGS)" -DCMAKE_EXE_LINKER_FLAGS="$(flags LDFLAGS)" \
    -DCMAKE_SHARED_LINKER_FLAGS="$(flags LDFLAGS)" >/dev/null
  cmake --build "$build"
}
