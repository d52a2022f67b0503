#!/usr/bin/env bash
# Stage: the Debian package. Builds the run preset, makes the package with
# CPack, checks its file list, its computed dependencies and the man pages,
# installs it as a user would, runs both programs from /usr/bin against the
# simulated watchdog, and purges it again.
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

echo "-- the package"
run=build/run
cmake --preset run >/dev/null
cmake --build --preset run
rm -f "$run"/wdt-exerciser_*.deb
(cd "$run" && cpack -G DEB) >"$run/cpack.log" 2>&1 || { cat "$run/cpack.log"; fail "cpack -G DEB"; }
version=$(sed -n 's/^project(wdt-exerciser VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)
deb=$run/wdt-exerciser_${version}_$(dpkg --print-architecture).deb
[ -f "$deb" ] || fail "cpack made no $deb: $(ls "$run"/*.deb 2>/dev/null)"

expected="/usr/bin/wdt-check
/usr/bin/wdt-exerciser
/usr/lib/libwdtDLL.so
/usr/share/doc/wdt-exerciser/README.md
/usr/share/doc/wdt-exerciser/copyright
/usr/share/man/man1/wdt-check.1.gz
/usr/share/man/man1/wdt-exerciser.1.gz"
programs="wdt-exerciser wdt-check"
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
echo "ok: Depends: $depends"

echo "-- installed with apt, run from /usr/bin, purged"
purge() { apt-get purge -y -qq wdt-exerciser >/dev/null 2>&1 || true; }
# The simulated watchdog, found through the installed run-path alone.
plain=(env -u LD_LIBRARY_PATH -u WDT_DEVICE -u WDT_SIM_FAULTS -u WDT_SIM_BEHAVIOUR -u WDT_SIM_TRACE)
trap purge EXIT
purge
apt-get install -y -qq --no-install-recommends "$PWD/$deb" >/dev/null
for program in $programs; do
  [ "$(command -v "$program")" = "/usr/bin/$program" ] || fail "$program is not found in /usr/bin"
  [ "$(man -w "$program")" = "/usr/share/man/man1/$program.1.gz" ] || fail "man does not find $program(1)"
done
output=$("${plain[@]}" timeout 60 wdt-exerciser </dev/null) ||
  fail "the installed wdt-exerciser failed: $output"
grep -qx 'WDT closed. Exiting' <<<"$output" || fail "the installed wdt-exerciser did not close: $output"
echo "ok: /usr/bin/wdt-exerciser ran against the simulated watchdog"
output=$("${plain[@]}" timeout 60 wdt-check </dev/null) || fail "the installed wdt-check failed: $output"
echo "ok: /usr/bin/wdt-check passed the simulated watchdog"
purge
for file in /usr/bin/wdt-exerciser /usr/lib/libwdtDLL.so; do
  [ ! -e "$file" ] || fail "the purge left $file behind"
done
echo "ok: purged"
