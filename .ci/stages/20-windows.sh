#!/usr/bin/env bash
# The Windows road: cross-build the programs and the simulated wdtDLL.dll with
# MinGW-w64, check what they import, export and embed, build once more
# against an import library as a user with the real driver does, and run the
# programs under Wine end to end.
set -euo pipefail
cd "$(dirname "$0")/../.."

started=$SECONDS
tools/deps windows
echo "== packages ready after $((SECONDS - started)) s"
export CMAKE_BUILD_PARALLEL_LEVEL="${CMAKE_BUILD_PARALLEL_LEVEL:-2}"

mingw=x86_64-w64-mingw32
cross=build/windows-cross
six="CloseSession DisableTimer EnableTimer InitializeSession ReadTimerValue WriteTimerValue"

fail() { echo "FAILED: $*" >&2; exit 1; }

# The DLLs that a file imports, one a line.
imported_dlls() { "$mingw-objdump" -p "$1" | sed -n 's/^\tDLL Name: //p'; }

# The names that a file imports from one DLL, sorted, on one line.
imported_from() {
  "$mingw-objdump" -p "$1" | awk -v dll="$2" '
    /^\tDLL Name: / { inside = ($3 == dll); next }
    inside && /^\t[0-9a-f]+\t +[0-9]+  / { print $3 }
    inside && /^$/ { inside = 0 }' | sort | xargs
}

# Only the system's DLLs and wdtDLL.dll: no runtime DLL of MinGW's.
check_only_system_dlls() {
  local file=$1 dll
  while read -r dll; do
    case "${dll,,}" in
      kernel32.dll | msvcrt.dll | ucrtbase.dll | api-ms-win-*.dll | user32.dll | advapi32.dll) ;;
      wdtdll.dll) [ "$(basename "$file")" != wdtDLL.dll ] || fail "$file imports itself" ;;
      *) fail "$file needs $dll, which is not a system DLL" ;;
    esac
  done < <(imported_dlls "$file")
}

check_program() {
  local exe=$1
  # Whole outputs into variables first: grep -q ends early, and under
  # pipefail the writer's broken pipe would count as a failure.
  local header headers dlls
  header=$("$mingw-objdump" -f "$exe")
  headers=$("$mingw-objdump" -p "$exe")
  dlls=$(imported_dlls "$exe")
  grep -q 'file format pei-x86-64' <<<"$header" || fail "$exe is not x86-64"
  grep -q '^Subsystem.*(Windows CUI)' <<<"$headers" || fail "$exe is not a console program"
  check_only_system_dlls "$exe"
  grep -qx wdtDLL.dll <<<"$dlls" || fail "$exe does not import wdtDLL.dll"
  [ "$(imported_from "$exe" wdtDLL.dll)" = "$six" ] ||
    fail "$exe imports from wdtDLL.dll: $(imported_from "$exe" wdtDLL.dll)"
  local manifest
  manifest=$("$mingw-windres" -i "$exe" -O rc)
  [ "$(grep -c '^1 24 ' <<<"$manifest")" = 1 ] || fail "$exe has no single application manifest resource"
  grep -q '<requestedExecutionLevel level=""asInvoker"" uiAccess=""false""/>' <<<"$manifest" ||
    fail "$exe's manifest does not request asInvoker without UI access: $manifest"
  echo "ok: $exe: x86-64 console program, imports the six from wdtDLL.dll, no MinGW DLL, asInvoker manifest"
}

echo "== cross build with MinGW-w64"
cmake --preset windows-cross
cmake --build --preset windows-cross

echo "== checking the artefacts"
check_program "$cross/wdt-exerciser.exe"
check_program "$cross/wdt-check.exe"
dll=$cross/wdtDLL.dll
check_only_system_dlls "$dll"
exports=$("$mingw-objdump" -p "$dll" | awk '
  /^\[Ordinal\/Name Pointer\] Table/ { inside = 1; next }
  inside && /^\t\[ *[0-9]+\] / { print $3; next }
  inside { inside = 0 }' | sort | xargs)
# The six, and DescribeWatchdog: wdt-check looks it up to tell the stand-in's
# simulation from the hardware (a vendor's DLL lacks it).
[ "$exports" = "$(printf "%s %s" "$six" DescribeWatchdog | tr " " "\n" | sort | xargs)" ] || fail "$dll exports: $exports"
dll_headers=$("$mingw-objdump" -p "$dll")
grep -q '^Name[[:space:]].*[[:space:]]wdtDLL.dll$' <<<"$dll_headers" || fail "$dll does not call itself wdtDLL.dll"
echo "ok: $dll exports exactly the six and DescribeWatchdog, undecorated, and needs no MinGW DLL"

echo "== build against an import library, as with the real driver's"
import=build/windows-import
rm -rf "$import"  # a wdtDLL.dll copied in by an earlier run must not count
mkdir -p "$import"
"$mingw-dlltool" -d standin-wdtdll/wdtDLL.def -D wdtDLL.dll -l "$import/wdtDLL.lib"
cmake -S . -B "$import" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWDT_WARNINGS_AS_ERRORS=ON -DWDT_IMPORT_LIB="$PWD/$import/wdtDLL.lib"
cmake --build "$import" --target wdt-exerciser wdt-check
[ ! -e "$import/wdtDLL.dll" ] || fail "the import-library build built the simulated wdtDLL.dll as well"
check_program "$import/wdt-exerciser.exe"
check_program "$import/wdt-check.exe"

echo "== under Wine, end to end"
prefix=$PWD/build/windows-wine/tests/windows/wine-prefix
stop_wine() { env -u DISPLAY WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true; }
trap stop_wine EXIT
rm -rf "$prefix"  # a throwaway prefix for every run
cmake --preset windows-wine
cmake --build --preset windows-wine
ctest --preset windows-wine

# The program built against the import library runs with a wdtDLL.dll put
# beside it; with no console it reloads once and closes. Its output goes to a
# file: Wine's services, started by this run, would hold a pipe open.
cp "$dll" "$import/"
(cd "$import" && env -u DISPLAY WINEPREFIX="$prefix" WINEDEBUG=-all \
  timeout 60 wine wdt-exerciser.exe </dev/null >run.txt 2>&1) || fail "the import-library build's run failed"
grep -q 'WDT closed. Exiting' "$import/run.txt" || fail "the import-library build did not run: $(cat "$import/run.txt")"
(cd "$import" && env -u DISPLAY WINEPREFIX="$prefix" WINEDEBUG=-all \
  timeout 60 wine wdt-check.exe </dev/null >check.txt 2>&1) || fail "the import-library build's wdt-check failed: $(cat "$import/check.txt")"
grep -q '^# verdict: pass' "$import/check.txt" || fail "the import-library build's wdt-check did not pass: $(cat "$import/check.txt")"
echo "ok: the import-library build runs with wdtDLL.dll beside it"
echo "== Windows stage passed in $((SECONDS - started)) s"

# The zip that CPack makes of the cross build, and an install of the
# import-library build, which ships no wdtDLL.dll: the driver brings its own.
echo "== the Windows zip"
version=$(sed -n 's/^project(wdt-exerciser VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)
top=wdt-exerciser-$version-win64
rm -f "$cross"/wdt-exerciser-*.zip
(cd "$cross" && cpack -G ZIP >/dev/null)
expected="$top/LICENSE $top/README.md $top/bin/wdt-check.exe $top/bin/wdt-exerciser.exe $top/bin/wdtDLL.dll"
zip_files=$(unzip -Z1 "$cross/$top.zip" | grep -v '/$' | sort | xargs)
[ "$zip_files" = "$(xargs -n1 <<<"$expected" | sort | xargs)" ] || fail "$top.zip holds: $zip_files"
echo "ok: $top.zip holds $zip_files"
cmake --build "$import"
rm -rf "$import/installed"
cmake --install "$import" --prefix "$import/installed" >/dev/null
[ -e "$import/installed/bin/wdt-exerciser.exe" ] || fail "the import-library build installs no wdt-exerciser.exe"
[ -z "$(find "$import/installed" -iname '*wdtDLL*')" ] || fail "the import-library build installs a wdtDLL of its own"
echo "ok: the import-library build installs the programs and no wdtDLL"
