#!/usr/bin/env bash
# Stage: the Debian package. Builds the run preset with the distribution's
# hardening flags (dpkg-buildflags) in build/package, makes the package with
# CPack, checks its file list, its computed dependencies, its run-paths, that
# it has no maintainer scripts, lintian and the man pages, installs it as a
# user would, runs both programs from /usr/bin against the simulated watchdog,
# and purges it again. Then the arm64 and armhf packages, cross-built: the
# same checks, and dpkg refuses them here.
set -euo pipefail
cd "$(dirname "$0")/../.."

tools/deps package
export CMAKE_BUILD_PARALLEL_LEVEL="${CMAKE_BUILD_PARALLEL_LEVEL:-2}"

fail() { echo "FAILED: $*" >&2; exit 1; }

echo "-- man pages: mandoc -T lint and groff warnings"
for page in man/*.1; do
  mandoc -T lint -W warning "$page" || fail "mandoc finds fault with $page"
  warnings=$(groff -man -ww -z -rLL=80n "$page" 2>&1)
  [ -z "$warnings" ] || fail "groff warns about $page: $warnings"
done
echo "ok: $(echo man/*.1)"

# shellcheck source=.ci/stages/package/build.sh
. .ci/stages/package/build.sh
# The package of Debian architecture $1 from the build in $build: cpack -G
# DEB, its file list, its versioned dependencies, its architecture, no
# maintainer scripts, lintian. Sets deb.
package_checks() {
  local arch=$1 expected actual depends control tags
  rm -f "$build"/wdt-exerciser_*.deb
  (cd "$build" && cpack -G DEB) >"$build/cpack.log" 2>&1 || { cat "$build/cpack.log"; fail "cpack -G DEB"; }
  # The Debian version is the newest changelog entry's (CMake checks it against the project's).
  version=$(sed -n '1s/^wdt-exerciser (\([^)]*\)) .*/\1/p' packaging/changelog)
  deb=$build/wdt-exerciser_${version}_$arch.deb
  [ -f "$deb" ] || fail "cpack made no $deb: $(ls "$build"/*.deb 2>/dev/null)"

expected="/usr/bin/wdt-check
/usr/bin/wdt-exerciser
/usr/lib/wdt-exerciser/libwdtDLL.so
/usr/share/doc/wdt-exerciser/README.md
/usr/share/doc/wdt-exerciser/changelog.Debian.gz
/usr/share/doc/wdt-exerciser/copyright
/usr/share/lintian/overrides/wdt-exerciser
/usr/share/man/man1/wdt-check.1.gz
/usr/share/man/man1/wdt-exerciser.1.gz"
  # Everything but the folders, as paths from /.
  actual=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { sub(/^\./, "", $6); print $6 }' | sort)
  diff <(sort <<<"$expected") <(echo "$actual") || fail "$deb holds other files than expected (diff above)"
  echo "ok: $deb holds exactly: $(xargs <<<"$actual")"

  depends=$(dpkg-deb -f "$deb" Depends)
  for library_package in libc6 libstdc++6; do
    grep -Eq "(^|, )${library_package//+/\\+} \(>= [^)]+\)" <<<"$depends" ||
      fail "Depends names no versioned $library_package: '$depends'"
  done
  [ "$(dpkg-deb -f "$deb" Package)" = wdt-exerciser ] || fail "the package is not called wdt-exerciser"
  [ "$(dpkg-deb -f "$deb" Architecture)" = "$arch" ] || fail "$deb's Architecture is $(dpkg-deb -f "$deb" Architecture)"
  echo "ok: Depends: $depends"

  # No maintainer scripts: nothing runs ldconfig or anything else at install.
  control=$(dpkg-deb --ctrl-tarfile "$deb" | tar -t | sed 's|^\./||' | grep -v '^$' | sort | xargs)
  [ "$control" = "control md5sums" ] || fail "$deb's control archive holds more than control and md5sums: $control"
  echo "ok: no maintainer scripts"

  echo "-- lintian on $arch: no error, no warning, no hardening tag"
  # Other information tags are shown, not failed on. An override stands only
  # for a tag that does not apply, with its reason (packaging/lintian-overrides).
  tags=$(lintian --display-info --fail-on none "$deb" 2>"$build/lintian.log") ||
    fail "lintian did not run: $(cat "$build/lintian.log")"
  [ -z "$tags" ] || echo "$tags"
  if grep -E '^(E|W): |^I: [^ ]+ hardening-' <<<"$tags" >/dev/null; then
    fail "lintian finds errors, warnings or missing hardening (above)"
  fi
  echo "ok: lintian"
}

programs="wdt-exerciser wdt-check"
echo "-- the package, built with dpkg-buildflags' hardening flags"
package_build "$(dpkg --print-architecture)"
package_checks "$(dpkg --print-architecture)"

echo "-- installed with apt, run from /usr/bin, purged"
purge() { apt-get purge -y -qq wdt-exerciser >/dev/null 2>&1 || true; }
# The simulated watchdog, found through the installed run-path alone.
plain=(env -u LD_LIBRARY_PATH -u WDT_DEVICE -u WDT_SIM_FAULTS -u WDT_SIM_BEHAVIOUR -u WDT_SIM_TRACE -u WDT_TRACE)
trap purge EXIT
purge
apt-get install -y -qq --no-install-recommends "$PWD/$deb" >/dev/null
for program in $programs; do
  [ "$(command -v "$program")" = "/usr/bin/$program" ] || fail "$program is not found in /usr/bin"
  [ "$(man -w "$program")" = "/usr/share/man/man1/$program.1.gz" ] || fail "man does not find $program(1)"
  runpath=$(readelf -d "/usr/bin/$program" | sed -n 's/.*(RUNPATH).*\[\(.*\)\]$/\1/p')
  # shellcheck disable=SC2016 # $ORIGIN is the loader's, written as it is
  [ "$runpath" = '$ORIGIN/../lib/wdt-exerciser' ] || fail "/usr/bin/$program: run-path '$runpath'"
done
output=$("${plain[@]}" timeout 60 wdt-exerciser </dev/null) ||
  fail "the installed wdt-exerciser failed: $output"
grep -qx 'WDT closed. Exiting' <<<"$output" || fail "the installed wdt-exerciser did not close: $output"
echo "ok: /usr/bin/wdt-exerciser ran against the simulated watchdog"
output=$("${plain[@]}" timeout 60 wdt-check </dev/null) || fail "the installed wdt-check failed: $output"
echo "ok: /usr/bin/wdt-check passed the simulated watchdog"
purge
for file in /usr/bin/wdt-exerciser /usr/lib/wdt-exerciser; do
  [ ! -e "$file" ] || fail "the purge left $file behind"
done
echo "ok: purged"

# The cross-built packages, from the ARM VM stage's builds where they are
# there (brought up to date): the same checks, the programs built for the
# package's architecture, a tarball named with it, and a package that dpkg
# refuses to install on this machine. The boards prove them
# (.ci/stages/35-arm-vm.sh).
for arch in arm64 armhf; do
  echo "-- the $arch package, cross-built with dpkg-buildflags' hardening flags"
  package_build "$arch"
  package_checks "$arch"
  case $arch in arm64) machine=AArch64 ;; armhf) machine=ARM ;; esac
  for binary in "$build"/for-install/wdt-check "$build"/for-install/wdt-exerciser "$build"/libwdtDLL.so; do
    readelf -h "$binary" | grep -Eq "Machine: +$machine\$" || fail "$binary is not built for $machine"
  done
  echo "ok: the programs and the library are $machine code"
  if refusal=$(dpkg --dry-run -i "$deb" 2>&1); then
    fail "dpkg on $(dpkg --print-architecture) would install the $arch package"
  fi
  grep -q "package architecture ($arch) does not match system" <<<"$refusal" ||
    fail "dpkg refuses the $arch package for another reason: $refusal"
  echo "ok: dpkg refuses it here: $(grep 'does not match' <<<"$refusal" | sed 's/^ *//')"
  rm -f "$build"/wdt-exerciser-*.tar.gz
  (cd "$build" && cpack -G TGZ) >"$build/cpack.log" 2>&1 || { cat "$build/cpack.log"; fail "cpack -G TGZ"; }
  tarball=$(ls "$build"/wdt-exerciser-*.tar.gz)
  [ "$tarball" = "$build/wdt-exerciser-${version%-*}-Linux-$arch.tar.gz" ] || fail "the tarball is $tarball"
  echo "ok: $tarball"
done
