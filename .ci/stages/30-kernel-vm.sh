#!/usr/bin/env bash
# The program on real kernel watchdogs: Debian's kernel boots in qemu (TCG,
# no KVM) from a busybox initramfs, once on the pc machine with an i6300esb
# and softdog, once on q35 with its iTCO watchdog and softdog with nowayout.
# Then the reset proof: four VMs that may reboot, each with a small disk for
# the record, let softdog, i6300esb and iTCO_wdt reset the machine and judge
# it on the next boot; iTCO_wdt with the no-reboot strap must not reset; and
# i6300esb twice more, with the wall clock set an hour forward and an hour
# back while it waits. Then across a sleep: each driver armed 10 s, the
# machine suspended 15 s (freeze or mem) by wdt-check --expire --suspend.
# Then the dead kernel: i6300esb and iTCO_wdt must reset
# a crashed kernel, softdog is refused, and a reset by QEMU's monitor 2 s
# after the crash must not pass for the watchdog's.
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

# shellcheck source=.ci/stages/kernel-vm/kernel.sh
. .ci/stages/kernel-vm/kernel.sh

echo "== initramfs"
root=$work/root
rm -rf "$root"
mkdir -p "$root"/{bin,dev,proc,sys,tmp,etc/modules,lib/modules,opt/wdt}
cp /bin/busybox "$root/bin/busybox"
ln -s busybox "$root/bin/sh"

for list in softdog i6300esb iTCO_wdt pretimeout disk; do add_module_list "$root/etc/modules/$list"; done

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
gcc -static -O2 -Wall -Wextra -Werror -o "$root/opt/wdt/set_pretimeout" .ci/stages/kernel-vm/set_pretimeout.c
cp .ci/stages/kernel-vm/expected "$root/etc/expected"
cp .ci/stages/kernel-vm/countdown.awk "$root/etc/countdown.awk"
cp .ci/stages/kernel-vm/init "$root/init"
cp .ci/stages/kernel-vm/suspend.sh "$root/etc/suspend.sh"
cp .ci/stages/kernel-vm/hang.sh "$root/etc/hang.sh"
chmod +x "$root/init"
(cd "$root" && find . | cpio -o -H newc --quiet | gzip -1) >"$work/initramfs.gz"

echo "== booting the VMs ($(( SECONDS - started )) s so far)"
boot() {
  local vm=$1; shift
  timeout 150 qemu-system-x86_64 -accel tcg "$@" -m 256 -nic none -nographic -no-reboot \
    -kernel "$kernel_image" -initrd "$work/initramfs.gz" \
    -append "console=ttyS0 panic=-1 quiet wdt_vm=$vm" </dev/null >"$work/$vm.log" 2>&1
}
# The reset proof: no -no-reboot, so that a watchdog's reset boots the VM
# again; each VM's record on a disk of its own. The disk has cache=unsafe:
# what the guest wrote survives the guest's reset in the host's page cache,
# and the host's own flush, which stalls for seconds under CI's builds,
# would only hold back the beats.
boot_resetting() {
  local vm=$1; shift
  mkfs.ext4 -q -F "$work/$vm.img" 16M
  timeout 150 qemu-system-x86_64 -accel tcg "$@" -m 256 -nic none -nographic \
    -drive "file=$work/$vm.img,format=raw,if=virtio,cache=unsafe" \
    -kernel "$kernel_image" -initrd "$work/initramfs.gz" \
    -append "console=ttyS0 panic=-1 quiet wdt_vm=$vm" </dev/null >"$work/$vm.log" 2>&1
}

# A resetting VM that QEMU's monitor resets 2 s after its console says that
# the kernel is crashed: no watchdog may take the credit.
boot_reset_by_monitor() {
  local vm=$1 end=$(( SECONDS + 150 )) reader watcher; shift
  # The log of a run before would show the crash at once.
  rm -f "$work/$vm.log" "$work/$vm.mon".{in,out}
  mkfifo "$work/$vm.mon.in" "$work/$vm.mon.out"
  cat "$work/$vm.mon.out" >/dev/null &
  reader=$!
  (
    until grep -q 'the kernel is crashed now' "$work/$vm.log" 2>/dev/null; do
      [ "$SECONDS" -ge "$end" ] && exit 0
      sleep 0.2
    done
    sleep 2
    echo system_reset >"$work/$vm.mon.in"
  ) &
  watcher=$!
  boot_resetting "$vm" "$@" -monitor "pipe:$work/$vm.mon" || true
  kill "$watcher" "$reader" 2>/dev/null || true
}

# Each row: how it boots, the VM's name (its init's wdt_vm), QEMU's options.
# Two at a time: more would starve the emulated processors, and the checker
# would see stalls.
vms=(
  # pc: a second serial port (ttyS1) for the modem-line check.
  "boot pc -machine pc -device i6300esb -serial mon:stdio -serial null"
  "boot q35 -machine q35"
  # The reset proof, iTCO_wdt with the no-reboot strap too, and i6300esb
  # with the wall clock set an hour forward and back.
  "boot_resetting resetsoftdog -machine pc"
  "boot_resetting resettco -machine q35 -global ICH9-LPC.noreboot=false"
  "boot_resetting resetesb -machine pc -device i6300esb"
  "boot_resetting strappedtco -machine q35"
  "boot_resetting resetesbforward -machine pc -device i6300esb"
  "boot_resetting resetesbback -machine pc -device i6300esb"
  # Across a sleep of 15 s, armed 10 s: i6300esb resets the machine during a
  # freeze; after mem, i6300esb and iTCO_wdt are dead; softdog holds.
  "boot_resetting sleepesbfreeze -machine pc -device i6300esb"
  "boot_resetting sleepesbmem -machine pc -device i6300esb"
  "boot_resetting sleeptcomem -machine q35 -global ICH9-LPC.noreboot=false"
  "boot_resetting sleepsoftdogmem -machine pc"
  # The dead kernel: i6300esb and iTCO_wdt reset it, a reset by the monitor
  # is not the watchdog's, and softdog is refused.
  "boot_resetting hangesb -machine pc -device i6300esb"
  "boot_resetting hangtco -machine q35 -global ICH9-LPC.noreboot=false"
  "boot_reset_by_monitor hangesbreset -machine pc -device i6300esb"
  "boot hangsoftdog -machine pc"
)
# Boots a row's VM the row's way.
boot_row() {
  local how=$1; shift
  case $how in
    boot) boot "$@" ;;
    boot_resetting) boot_resetting "$@" ;;
    boot_reset_by_monitor) boot_reset_by_monitor "$@" ;;
    *) echo "no way to boot '$how'" >&2; return 1 ;;
  esac
}
for row in "${vms[@]}"; do
  while [ "$(jobs -rp | wc -l)" -ge 2 ]; do wait -n || true; done
  # shellcheck disable=SC2086 # the fields of one row
  boot_row $row &
done
wait

status=0
for row in "${vms[@]}"; do
  # shellcheck disable=SC2086 # the fields of one row
  set -- $row
  vm=$2
  echo "== console of the $vm VM"
  tr -d '\r' <"$work/$vm.log" | sed -n '/== VM/,$p'
  # A VM that boots again says its result on each boot: none may fail.
  if ! grep -q "WDT-VM-RESULT: PASS $vm" "$work/$vm.log" || grep -q "WDT-VM-RESULT: FAIL $vm" "$work/$vm.log"; then
    echo "kernel VM $vm: FAILED" >&2; status=1
  fi
done
echo "== kernel VM stage took $(( SECONDS - started )) s"
exit $status
