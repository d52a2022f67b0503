#!/bin/sh
# The run-paths and the installed tree: the build tree's programs find the
# library beside them, and only there; installed into a fresh prefix, the
# programs run against the simulated watchdog without LD_LIBRARY_PATH,
# finding the library in its own folder through a run-path relative to
# themselves, and LD_LIBRARY_PATH still comes first.
# Usage: install_test.sh CMAKE BUILD_DIR PREFIX
set -eu
cmake=$1 build=$2 prefix=$3

fail() { echo "FAILED: $*" >&2; exit 1; }

# A RUNPATH, not an RPATH (only then does LD_LIBRARY_PATH come first), that
# is exactly $2: no empty entry, which would mean the current folder.
runpath_is() {
  ! readelf -d "$1" | grep -q '(RPATH)' || fail "$1 has an RPATH, not a RUNPATH"
  runpath=$(readelf -d "$1" | sed -n 's/.*(RUNPATH).*\[\(.*\)\]$/\1/p')
  [ "$runpath" = "$2" ] || fail "$1: run-path '$runpath', not '$2'"
}

programs="wdt-exerciser wdt-check"
for program in $programs; do
  runpath_is "$build/$program" '$ORIGIN'
done

rm -rf "$prefix"
"$cmake" --install "$build" --prefix "$prefix" >/dev/null
unset LD_LIBRARY_PATH WDT_DEVICE WDT_SIM_FAULTS WDT_SIM_BEHAVIOUR WDT_SIM_TRACE WDT_TRACE
libdir=$(sed -n 's/^CMAKE_INSTALL_LIBDIR:[A-Z]*=//p' "$build/CMakeCache.txt")
[ -f "$prefix/$libdir/wdt-exerciser/libwdtDLL.so" ] || fail "no $prefix/$libdir/wdt-exerciser/libwdtDLL.so"
[ ! -e "$prefix/$libdir/libwdtDLL.so" ] || fail "libwdtDLL.so is installed on the library path"

for program in $programs; do
  file=$prefix/bin/$program
  runpath_is "$file" "\$ORIGIN/../$libdir/wdt-exerciser"
  ldd "$file" | grep -q "libwdtDLL.so => $prefix/bin/../$libdir/wdt-exerciser/libwdtDLL.so" ||
    fail "$program does not find the installed library: $(ldd "$file")"
  LD_LIBRARY_PATH=$build ldd "$file" | grep -q "libwdtDLL.so => $build/libwdtDLL.so" ||
    fail "$program does not take the library from LD_LIBRARY_PATH first"
done

# No key to read: the run ends as with q.
status=0
output=$(timeout 60 "$prefix/bin/wdt-exerciser" </dev/null) || status=$?
[ "$status" = 0 ] || fail "installed wdt-exerciser ended with status $status: $output"
printf '%s\n' "$output" | grep -qx 'WDT closed. Exiting' ||
  fail "installed wdt-exerciser did not close the watchdog: $output"

status=0
output=$(timeout 60 "$prefix/bin/wdt-check" </dev/null) || status=$?
[ "$status" = 0 ] || fail "installed wdt-check ended with status $status: $output"
echo "ok: run-paths without empty entries; installed $programs run from $prefix with the installed library"
