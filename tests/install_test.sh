#!/bin/sh
# The installed tree: installs the build into a fresh prefix and runs the
# installed programs from there against the simulated watchdog, without
# LD_LIBRARY_PATH. They must find the installed library through a run-path
# relative to themselves, and LD_LIBRARY_PATH must still come first.
# Usage: install_test.sh CMAKE BUILD_DIR PREFIX
set -eu
cmake=$1 build=$2 prefix=$3

fail() { echo "FAILED: $*" >&2; exit 1; }

rm -rf "$prefix"
"$cmake" --install "$build" --prefix "$prefix" >/dev/null
unset LD_LIBRARY_PATH WDT_DEVICE WDT_SIM_FAULTS WDT_SIM_BEHAVIOUR WDT_SIM_TRACE

programs="wdt-exerciser wdt-check"
for program in $programs; do
  file=$prefix/bin/$program
  # A RUNPATH, not an RPATH: only then does LD_LIBRARY_PATH come first.
  runpath=$(readelf -d "$file" | sed -n 's/.*(RUNPATH).*\[\(.*\)\]$/\1/p')
  case $runpath in
    \$ORIGIN/../*) ;;
    *) fail "$program: run-path '$runpath', not \$ORIGIN/../<libdir>" ;;
  esac
  ldd "$file" | grep -q "libwdtDLL.so => $prefix/bin/../" ||
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
echo "ok: installed $programs run from $prefix with the installed library"
