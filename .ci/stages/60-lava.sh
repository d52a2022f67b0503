#!/usr/bin/env bash
# Stage: the LAVA test definitions in lava/, run by LAVA's own dispatcher.
# lava-run, standalone (no server), runs the example jobs of lava/jobs/ on a
# hand-written qemu device: Debian's kernel and a busybox initramfs as the
# board, the tools added to it from the Linux tarball (cpack -G TGZ) as an
# overlay, the definitions taken from a git repository made from this tree.
# wdt-check on i6300esb, iTCO_wdt and softdog, and on i6300esb on arm64
# (QEMU's virt machine, Debian's arm64 kernel, the arm64 tarball); the
# reset proof on i6300esb (the cause attributed) and iTCO_wdt (its second
# expiry resets), each also on a dead kernel (HANG panic), and on softdog
# across a suspend to RAM (SUSPEND mem). Each job's
# test cases, read from lava-run's log, are gated by the rows of
# .ci/stages/lava/expected: lava-run's exit status passes a job whose test
# cases failed. A negative job, the i6300esb reset proof with QEMU's
# watchdog action set to none, must not pass the gate.
set -euo pipefail
cd "$(dirname "$0")/../.."

tools/deps lava
export CMAKE_BUILD_PARALLEL_LEVEL="${CMAKE_BUILD_PARALLEL_LEVEL:-2}"
started=$SECONDS
fail() { echo "FAILED: $*" >&2; exit 1; }

# The scripts that run on the board (busybox sh), where shellcheck is
# installed; the kernel VM stage checks the stage scripts.
if command -v shellcheck >/dev/null; then
  shellcheck lava/wdt-lava.sh .ci/stages/lava/board-init || fail "shellcheck finds fault with the board's scripts"
fi

work=build/lava
files=$work/files
mkdir -p "$files"

# From the package stage's build, the .deb's, where it is there (brought up
# to date); else from a run preset build of its own.
build=build/package
if [ ! -f "$build/CMakeCache.txt" ]; then
  build=$work/build
  cmake --preset run -B "$build" >/dev/null
fi
echo "== the Linux tarball, from $build"
cmake --build "$build" >/dev/null
rm -f "$build"/wdt-exerciser-*-Linux-amd64.tar.gz "$files"/wdt-exerciser-*-Linux-amd64.tar.gz
(cd "$build" && cpack -G TGZ) >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; fail "cpack -G TGZ"; }
cp "$build"/wdt-exerciser-*-Linux-amd64.tar.gz "$files/"
tarball=$(ls "$files"/wdt-exerciser-*-Linux-amd64.tar.gz)
unpacked=$work/unpacked
rm -rf "$unpacked" && mkdir -p "$unpacked" && tar -xzf "$tarball" -C "$unpacked"
for file in bin/wdt-check bin/wdt-exerciser lib/wdt-exerciser/libwdtDLL.so; do
  [ -f "$unpacked/$file" ] || fail "$tarball holds no $file"
done
for program in wdt-check wdt-exerciser; do
  runpath=$(readelf -d "$unpacked/bin/$program" | sed -n 's/.*(RUNPATH).*\[\(.*\)\]$/\1/p')
  # shellcheck disable=SC2016 # $ORIGIN is the loader's, written as it is
  [ "$runpath" = '$ORIGIN/../lib/wdt-exerciser' ] || fail "bin/$program: run-path '$runpath'"
done
echo "ok: $(tar -tzf "$tarball" | grep -v '/$' | xargs)"

# shellcheck source=.ci/stages/kernel-vm/kernel.sh
. .ci/stages/kernel-vm/kernel.sh
cp "$kernel_image" "$files/vmlinuz"

echo "== the board: a busybox initramfs with the drivers and what the tools need"
root=$work/board
rm -rf "$root"
mkdir -p "$root"/{bin,dev,proc,sys,tmp,mnt,etc/modules,lib/modules}
cp /bin/busybox "$root/bin/busybox"
ln -s busybox "$root/bin/sh"
for list in softdog i6300esb iTCO_wdt pretimeout disk; do add_module_list "$root/etc/modules/$list"; done
for binary in "$unpacked/bin/wdt-check" "$unpacked/bin/wdt-exerciser" "$unpacked/lib/wdt-exerciser/libwdtDLL.so"; do
  LD_LIBRARY_PATH="$unpacked/lib/wdt-exerciser" ldd "$binary" | grep -v libwdtDLL | grep -o '/[^ ]*' |
    while read -r lib; do cp -L --parents "$lib" "$root"; done
done
cp .ci/stages/lava/board-init "$root/init"
chmod +x "$root/init"
(cd "$root" && find . | cpio -o -H newc --quiet | gzip -1) >"$files/initramfs.cpio.gz"
rm -f "$files/storage.img"
mkfs.ext4 -q -F "$files/storage.img" 16M

echo "== the arm64 board: Debian's arm64 kernel, busybox and libraries, the arm64 tarball"
# From the ARM VM stage's build, where it is there (brought up to date).
# shellcheck source=.ci/stages/package/build.sh
. .ci/stages/package/build.sh
package_build arm64 >/dev/null
rm -f "$build"/wdt-exerciser-*-Linux-arm64.tar.gz "$files"/wdt-exerciser-*-Linux-arm64.tar.gz
(cd "$build" && cpack -G TGZ) >"$work/cpack-arm64.log" 2>&1 || { cat "$work/cpack-arm64.log"; fail "cpack -G TGZ (arm64)"; }
cp "$build"/wdt-exerciser-*-Linux-arm64.tar.gz "$files/"
# shellcheck source=.ci/stages/arm-vm/kernel.sh
. .ci/stages/arm-vm/kernel.sh
arm_kernel arm64
cp "$kernel_image" "$files/vmlinuz-arm64"
root=$work/board-arm64
rm -rf "$root"
mkdir -p "$root"/{bin,dev,proc,sys,tmp,mnt,etc/modules,lib/modules,lib/aarch64-linux-gnu}
cp "$busybox" "$root/bin/busybox"
ln -s busybox "$root/bin/sh"
for list in i6300esb pretimeout disk; do
  : >"$root/etc/modules/$list"
  case $list in
    pretimeout) modules=pretimeout_panic ;;
    disk) modules="virtio_pci virtio_blk crc32c_generic ext4" ;;
    *) modules=$list ;;
  esac
  for module in $modules; do add_module "$module" "$root/etc/modules/$list"; done
done
cp -L /usr/aarch64-linux-gnu/lib/ld-linux-aarch64.so.1 "$root/lib/"
for lib in libc.so.6 libm.so.6 libstdc++.so.6 libgcc_s.so.1; do
  cp -L "/usr/aarch64-linux-gnu/lib/$lib" "$root/lib/aarch64-linux-gnu/"
done
cp .ci/stages/lava/board-init "$root/init"
chmod +x "$root/init"
(cd "$root" && find . | cpio -o -H newc --quiet | gzip -1) >"$files/initramfs-arm64.cpio.gz"

echo "== the definitions as a git repository"
repository=$work/wdt-exerciser.git
rm -rf "$repository" && mkdir -p "$repository"
git ls-files -z --cached --others --exclude-standard |
  tar --null -T - --ignore-failed-read -cf - | tar -xf - -C "$repository"
git -C "$repository" init -q
git -C "$repository" add -A
git -C "$repository" -c user.name=ci -c user.email=ci@localhost commit -q -m "the tree under test"

# name, example job, the rows of .ci/stages/lava/expected that judge it,
# whether it must pass them, more QEMU options. The longest first.
jobs=(
  "esb-reset-none qemu-i6300esb-reset.yaml esb-reset fail -action watchdog=none"
  "esb-reset qemu-i6300esb-reset.yaml esb-reset pass"
  "tco-reset qemu-itco-reset.yaml tco-reset pass"
  "esb-hang qemu-i6300esb-hang.yaml esb-hang pass"
  "tco-hang qemu-itco-hang.yaml tco-hang pass"
  "softdog-suspend qemu-softdog-suspend.yaml softdog-suspend pass"
  "esb-check qemu-i6300esb.yaml esb-check pass"
  "arm64-esb-check qemu-arm64-i6300esb.yaml arm64-esb-check pass"
  "tco-check qemu-itco.yaml tco-check pass"
  "softdog-check qemu-softdog.yaml softdog-check pass"
)

run_job() {
  local name=$1 example=$2 folder=$work/jobs/$1 status=0 begun=$SECONDS
  shift 4
  rm -rf "$folder"
  python3 .ci/stages/lava/lava-jobs.py prepare "lava/jobs/$example" "$folder" "$files" "$repository" "$@"
  timeout 300 lava-run --job-id "$name" --output-dir "$folder/out" --device "$folder/device.yaml" \
    "$folder/job.yaml" >"$folder/stdout.log" 2>"$folder/log.yaml" || status=$?
  echo "$status $((SECONDS - begun))" >"$folder/ran"
}

echo "== the jobs, two at a time ($(( SECONDS - started )) s so far)"
for job in "${jobs[@]}"; do
  # shellcheck disable=SC2086 # the fields of one row
  set -- $job
  while [ "$(jobs -rp | wc -l)" -ge 2 ]; do wait -n || true; done
  run_job "$@" &
done
wait

status=0
for job in "${jobs[@]}"; do
  # shellcheck disable=SC2086 # the fields of one row
  set -- $job
  if ! read -r lava_status took <"$work/jobs/$1/ran"; then
    echo "FAILED: job $1 did not run (log: $work/jobs/$1/)" >&2
    status=1
    continue
  fi
  echo "== job $1 ($2${5:+ with ${*:5}}): lava-run exit status $lava_status in $took s"
  gate=0
  python3 .ci/stages/lava/lava-jobs.py gate "$work/jobs/$1/log.yaml" "$3" .ci/stages/lava/expected || gate=$?
  if [ "$4" = pass ] && [ $gate != 0 ]; then
    echo "FAILED: job $1 did not pass the gate (log: $work/jobs/$1/log.yaml)" >&2
    status=1
  elif [ "$4" = fail ] && [ $gate = 0 ]; then
    echo "FAILED: job $1 passed the gate, and must not (log: $work/jobs/$1/log.yaml)" >&2
    status=1
  else
    echo "ok: job $1 $([ "$4" = pass ] && echo passed || echo failed) the gate, as it must"
  fi
done
echo "== LAVA stage took $(( SECONDS - started )) s"
exit $status
