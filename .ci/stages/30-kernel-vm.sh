#!/usr/bin/env bash
# The program on real kernel watchdogs: Debian's kernel boots in qemu (TCG,
# no KVM) from a busybox initramfs, once on the pc machine with an i6300esb
# and softdog, once on q35 with its iTCO watchdog and softdog with nowayout.
# Then the reset proof: four VMs that may reboot, each with a small disk for
# the record, let softdog, i6300esb and iTCO_wdt reset the machine and judge
# it on the next boot; iTCO_wdt with the no-reboot strap must not reset; and
# i6300esb twice more, with the wall clock set an hour forward and an hour
# back while it waits.
# /init in the VM runs the programs on each driver and prints one result
# marker on the serial console.
set -euo pipefail
cd "$(dirname "$0")/../.."

tools/deps kernel-vm

work=build/kernel-vm
mkdir -p "$work"
started=$SECONDS

# The VM's init script (busybox sh) and the stage scripts, where shellcheck
# is installed.
if command -v shellcheck >/dev/null; then
  echo "== shellcheck"
  shellcheck -x .ci/stages/kernel-vm/init .ci/run .ci/stages/*.sh tools/deps
else
  echo "== shellcheck is not installed: the scripts go unchecked"
fi

echo "== building the program and the library"
cmake --preset test >/dev/null
cmake --build --preset test --target wdt-exerciser wdt-check wdtDLL

# The kernel that linux-image-amd64 stands for, downloaded once into build/.
kernel_package() {
  apt-cache depends linux-image-amd64 2>/dev/null |
    sed -n 's/^ *Depends: \(linux-image-[0-9][^ ]*-amd64\)$/\1/p' | head -n 1
}
kernel_pkg=$(kernel_package || true)
if [ -z "$kernel_pkg" ] && [ -z "${CI_APT_UPDATED:-}" ]; then
  apt-get update -qq && kernel_pkg=$(kernel_package || true)
fi
[ -n "$kernel_pkg" ] || { echo "no kernel package behind linux-image-amd64" >&2; exit 1; }
kernel_version=${kernel_pkg#linux-image-}
if ! ls "$work/${kernel_pkg}_"*.deb >/dev/null 2>&1; then
  echo "== downloading $kernel_pkg"
  rm -f "$work"/linux-image-*.deb
  (cd "$work" && { apt-get download -q "$kernel_pkg" 2>&1 | grep -v '^W: Download is performed unsandboxed' || true; })
fi
deb=$(ls "$work/${kernel_pkg}_"*.deb)
kernel_dir=$work/kernel
modules=./lib/modules/$kernel_version/kernel
if [ ! -e "$kernel_dir/$modules/fs/ext4" ]; then
  rm -rf "$kernel_dir" && mkdir -p "$kernel_dir"
  dpkg-deb --fsys-tarfile "$deb" | tar -x -C "$kernel_dir" --wildcards "./boot/vmlinuz-$kernel_version" \
    "$modules/drivers/watchdog/*" "$modules/drivers/mfd/*" "$modules/drivers/virtio/*" \
    "$modules/drivers/block/*" "$modules/fs/*" "$modules/lib/*" "$modules/crypto/*"
fi
modules_dir=$kernel_dir/lib/modules/$kernel_version/kernel

echo "== initramfs"
root=$work/root
rm -rf "$root"
mkdir -p "$root"/{bin,dev,proc,sys,tmp,etc/modules,lib/modules,opt/wdt}
cp /bin/busybox "$root/bin/busybox"
ln -s busybox "$root/bin/sh"

# A module's file, uncompressed into the initramfs (busybox insmod reads
# plain .ko only); prints its name there.
module_file() {
  local name=$1 file
  file=$(find "$modules_dir" \( -name "$name.ko*" -o -name "${name//_/-}.ko*" \) | head -n 1)
  [ -n "$file" ] || { echo "module $name not found in $kernel_pkg" >&2; return 1; }
  case $file in
    *.ko.xz) xz -dc "$file" >"$root/lib/modules/$name.ko" ;;
    *.ko.zst) zstd -qdc "$file" >"$root/lib/modules/$name.ko" ;;
    *.ko.gz) gzip -dc "$file" >"$root/lib/modules/$name.ko" ;;
    *) cp "$file" "$root/lib/modules/$name.ko" ;;
  esac
}

# Appends the modules that `name` needs, then `name` itself, to a load list.
add_module() {
  local name=$1 list=$2 deps dep
  grep -qx "$name" "$list" 2>/dev/null && return 0
  module_file "$name"
  deps=$(objcopy -O binary --only-section=.modinfo "$root/lib/modules/$name.ko" /dev/stdout |
    tr '\0' '\n' | sed -n 's/^depends=//p' | tr ',' ' ')
  for dep in $deps; do add_module "$dep" "$list"; done
  echo "$name" >>"$list"
}
: >"$root/etc/modules/softdog"
add_module softdog "$root/etc/modules/softdog"
: >"$root/etc/modules/i6300esb"
add_module i6300esb "$root/etc/modules/i6300esb"
: >"$root/etc/modules/iTCO_wdt"
# lpc_ich makes the platform device that iTCO_wdt drives; nothing names it.
for m in iTCO_vendor_support intel_pmc_bxt lpc_ich iTCO_wdt; do
  add_module "$m" "$root/etc/modules/iTCO_wdt"
done

# The record's disk: virtio and ext4 (whose checksums need crc32c).
: >"$root/etc/modules/disk"
for m in virtio_pci virtio_blk crc32c_generic ext4; do add_module "$m" "$root/etc/modules/disk"; done

# The programs, the library beside them and what they need from the system.
program_dir=build/test
cp "$program_dir/wdt-exerciser" "$program_dir/wdt-check" "$program_dir/libwdtDLL.so" "$root/opt/wdt/"
for binary in "$program_dir/wdt-exerciser" "$program_dir/wdt-check" "$program_dir/libwdtDLL.so"; do
  ldd "$binary" | grep -o '/[^ ]*' | grep -v "^$PWD/" | while read -r lib; do
    cp -L --parents "$lib" "$root"
  done
done

# The serial port's modem lines, read by a process that holds the port.
gcc -static -O2 -Wall -Wextra -Werror -o "$root/opt/wdt/modem_lines" .ci/stages/kernel-vm/modem_lines.c
cp .ci/stages/kernel-vm/expected "$root/etc/expected"
cp .ci/stages/kernel-vm/countdown.awk "$root/etc/countdown.awk"
cp .ci/stages/kernel-vm/init "$root/init"
chmod +x "$root/init"
(cd "$root" && find . | cpio -o -H newc --quiet | gzip -1) >"$work/initramfs.gz"

echo "== booting the VMs ($(( SECONDS - started )) s so far)"
boot() {
  local vm=$1; shift
  timeout 150 qemu-system-x86_64 -accel tcg "$@" -m 256 -nic none -nographic -no-reboot \
    -kernel "$kernel_dir/boot/vmlinuz-$kernel_version" -initrd "$work/initramfs.gz" \
    -append "console=ttyS0 panic=-1 quiet wdt_vm=$vm" </dev/null >"$work/$vm.log" 2>&1
}
# pc: a second serial port (ttyS1) for the modem-line check.
boot pc -machine pc -device i6300esb -serial mon:stdio -serial null &
pc_pid=$!
boot q35 -machine q35 &
q35_pid=$!
wait $pc_pid || true
wait $q35_pid || true

# The reset proof: no -no-reboot, so that a watchdog's reset boots the VM
# again; each VM's record on a disk of its own. Two at a time: more would
# starve the emulated processors, and the checker would see stalls.
boot_resetting() {
  local vm=$1; shift
  mkfs.ext4 -q -F "$work/$vm.img" 16M
  timeout 150 qemu-system-x86_64 -accel tcg "$@" -m 256 -nic none -nographic \
    -drive "file=$work/$vm.img,format=raw,if=virtio" \
    -kernel "$kernel_dir/boot/vmlinuz-$kernel_version" -initrd "$work/initramfs.gz" \
    -append "console=ttyS0 panic=-1 quiet wdt_vm=$vm" </dev/null >"$work/$vm.log" 2>&1
}
echo "== the reset proof ($(( SECONDS - started )) s so far)"
boot_resetting resetsoftdog -machine pc &
first=$!
boot_resetting resettco -machine q35 -global ICH9-LPC.noreboot=false &
second=$!
wait $first || true
boot_resetting resetesb -machine pc -device i6300esb &
first=$!
wait $second || true
boot_resetting strappedtco -machine q35 &
second=$!
wait $first || true
boot_resetting resetesbforward -machine pc -device i6300esb &
first=$!
wait $second || true
boot_resetting resetesbback -machine pc -device i6300esb &
second=$!
wait $first || true
wait $second || true

status=0
for vm in pc q35 resetsoftdog resetesb resettco strappedtco resetesbforward resetesbback; do
  echo "== console of the $vm VM"
  tr -d '\r' <"$work/$vm.log" | sed -n '/== VM/,$p'
  grep -q "WDT-VM-RESULT: PASS $vm" "$work/$vm.log" || { echo "kernel VM $vm: FAILED" >&2; status=1; }
done
echo "== kernel VM stage took $(( SECONDS - started )) s"
exit $status
