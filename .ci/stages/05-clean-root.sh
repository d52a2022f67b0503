#!/usr/bin/env bash
# Stage: the README's first two commands, each exactly as written there, in a
# clean Debian 12 root (debootstrap's minbase, nothing of this project's needs
# installed) under chroot: each must install what it needs through tools/deps,
# build and pass on its own.
#
# This run of the README's test command is CI's only run of it: the host runs
# the sanitizer workflows. Running it on the host as well would cost another
# one and a half minutes for the same tests on the same Debian 12 and keep CI
# no more honest. The root is made anew each run (debootstrap takes about half
# a minute): a cached root would hide a package that Debian no longer ships,
# and CI starts from a clean clone anyway. No mirror, no root: the stage fails.
set -euo pipefail
cd "$(dirname "$0")/../.."

tools/deps clean-root
export CMAKE_BUILD_PARALLEL_LEVEL="${CMAKE_BUILD_PARALLEL_LEVEL:-2}"

fail() { echo "FAILED: $*" >&2; exit 1; }

work=build/clean-root
root=$PWD/$work/root
tree=/root/wdt-exerciser   # where the tree lies in the root, as a user's clone would
mounts=(proc sys dev dev/pts)

# The mirror that this machine's apt takes bookworm from (sources.list lines
# or deb822 .sources paragraphs).
bookworm_mirror() {
  local file
  for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -e "$file" ] || continue
    awk '$1 == "deb" { sub(/^deb[ \t]+(\[[^]]*\][ \t]+)?/, ""); if ($2 == "bookworm") { print $1; exit } }' "$file"
  done
  for file in /etc/apt/sources.list.d/*.sources; do
    [ -e "$file" ] || continue
    awk 'BEGIN { RS = "" }
      {
        types = uris = suites = ""; enabled = "yes"
        n = split($0, lines, "\n")
        for (i = 1; i <= n; i++) {
          if (lines[i] ~ /^#/ || !match(lines[i], /^[A-Za-z-]+:/)) continue
          key = tolower(substr(lines[i], 1, RLENGTH - 1)); value = " " substr(lines[i], RLENGTH + 1) " "
          gsub(/[ \t]+/, " ", value)
          if (key == "types") types = value; else if (key == "uris") uris = value
          else if (key == "suites") suites = value; else if (key == "enabled") enabled = value
        }
        if (types ~ / deb / && suites ~ / bookworm / && enabled !~ / no /) { split(uris, u, " "); print u[1]; exit }
      }' "$file"
  done
}

# Every way out of this script passes here: nothing stays mounted in the root.
unmount_root() {
  local i
  for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do
    if mountpoint -q "$root/${mounts[i]}"; then
      umount "$root/${mounts[i]}" 2>/dev/null || umount -l "$root/${mounts[i]}"
    fi
  done
}
trap unmount_root EXIT
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 143' TERM

mirror=$(bookworm_mirror)
mirror=${mirror%%$'\n'*}
[ -n "$mirror" ] || fail "apt's sources name no mirror for bookworm: no clean Debian 12 root, the README's commands go untried"

# A root left by an earlier run, unmounted first; --one-file-system: even so,
# never into a mount.
unmount_root
rm -rf --one-file-system "$work"
mkdir -p "$work"

echo "== debootstrap --variant=minbase bookworm from $mirror"
started=$SECONDS
if ! debootstrap --variant=minbase bookworm "$root" "$mirror" >"$work/debootstrap.log" 2>&1; then
  tail -n 20 "$work/debootstrap.log" >&2
  fail "debootstrap could not make a clean Debian 12 root (no network?): the README's commands go untried"
fi
echo "== clean root made in $((SECONDS - started)) s"
rm -f "$root/etc/resolv.conf"
cp -L /etc/resolv.conf "$root/etc/resolv.conf"

# The tree as a clone of it holds it (files not yet committed too), no build/.
mkdir -p "$root$tree"
git ls-files -z --cached --others --exclude-standard |
  tar --null -T - --ignore-failed-read -cf - | tar -xf - -C "$root$tree"

for m in "${mounts[@]}"; do
  mount --bind "/$m" "$root/$m"
  mount --make-slave "$root/$m"
done

# The first two command lines of README.md, run from the tree's top in a
# bare login-like environment: of this CI's, only the build's parallelism.
mapfile -t commands < <(awk '/^    [^ ]/ { print substr($0, 5); if (++n == 2) exit }' README.md)
[ ${#commands[@]} -eq 2 ] || fail "README.md has not two command lines at its top"
names=(run test)
for i in 0 1; do
  echo "== the README's ${names[i]} command in the clean root: ${commands[i]}"
  started=$SECONDS
  env -i HOME=/root PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    CMAKE_BUILD_PARALLEL_LEVEL="$CMAKE_BUILD_PARALLEL_LEVEL" \
    chroot "$root" /bin/bash -c "cd $tree && ${commands[i]}" </dev/null 2>&1 | tee "$work/${names[i]}.log" ||
    fail "the README's ${names[i]} command failed in a clean Debian 12 root (log: $work/${names[i]}.log)"
  echo "== the README's ${names[i]} command passed in the clean root in $((SECONDS - started)) s"
done
grep -qx 'WDT closed. Exiting' "$work/run.log" || fail "the README's run command did not end with the watchdog closed"

unmount_root
rm -rf --one-file-system "$root"
echo "== clean-root stage passed"
