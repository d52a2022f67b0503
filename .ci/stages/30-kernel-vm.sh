#!/usr/bin/env bash
# The program on real kernel watchdogs: Debian's kernel boots in qemu (TCG,
# no KVM) from a busybox initramfs, once on the pc machine with an i6300esb
# and softdog, once on q35 with its iTCO watchdog and softdog with nowayout.
# /init in the VM runs the program on each driver and prints one result
# marker on the serial console.
set -euo pipefail
cd "$(dirname "$0")/../.."

need qemu-system-x86 busybox-static cpio gzip binutils xz-utils

work=build/kernel-vm
mkdir -p "$work"
started=$SECONDS

echo "== building the program and the library"
cmake --preset test >/dev/null
cmake --build --preset test --target wdt-exerciser wdtDLL

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
  (cd "$work" && apt-get download -q "$kernel_pkg" 2>&1 | grep -v '^W: Download is performed unsandboxed' || true)
fi
deb=$(ls "$work/${kernel_pkg}_"*.deb)
kernel_dir=$work/kernel
if [ ! -e "$kernel_dir/boot/vmlinuz-$kernel_version" ]; then
  rm -rf "$kernel_dir" && mkdir -p "$kernel_dir"
  dpkg-deb --fsys-tarfile "$deb" | tar -x -C "$kernel_dir" --wildcards \
    "./boot/vmlinuz-$kernel_version" \
    "./lib/modules/$kernel_version/kernel/drivers/watchdog/*" \
    "./lib/modules/$kernel_version/kernel/drivers/mfd/*"
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

# The program, the library beside it and what both need from the system.
program_dir=build/test
cp "$program_dir/wdt-exerciser" "$program_dir/libwdtDLL.so" "$root/opt/wdt/"
for binary in "$program_dir/wdt-exerciser" "$program_dir/libwdtDLL.so"; do
  ldd "$binary" | grep -o '/[^ ]*' | grep -v "^$PWD/" | while read -r lib; do
    cp -L --parents "$lib" "$root"
  done
done

cat >"$root/etc/expected" <<'EOF'
Set timer to 5 seconds
Set timer to 30 seconds
Press key to reset timer to 30 seconds. Press q to close WDT and quit application.
Press key to reset timer to 30 seconds. Press q to close WDT and quit application.
WDT closed. Exiting
EOF

cat >"$root/etc/countdown.awk" <<'EOF'
# The "Current timeout" values of one run: they count down from the arm for
# 30 seconds, go back up once at the reload after the key, and count down
# again.
{ v[++n] = $1 + 0 }
END {
  if (n < 5) { print "only " n " values"; exit 1 }
  if (v[1] < 28 || v[1] > 30) { print "first value " v[1]; exit 1 }
  ups = 0; low = v[1]
  for (i = 2; i <= n; i++) {
    if (v[i] > 30) { print "value " v[i] " above the timeout"; exit 1 }
    if (v[i] > v[i - 1]) {
      ups++
      if (v[i - 1] > 27 || v[i] < 28) { print "reload from " v[i - 1] " to " v[i]; exit 1 }
    } else if (v[i - 1] - v[i] > 3) {
      print "jump from " v[i - 1] " to " v[i]; exit 1
    }
    if (ups == 0 && v[i] < low) low = v[i]
  }
  if (ups != 1) { print ups " rises instead of one"; exit 1 }
  if (low >= v[1]) { print "no count down before the reload"; exit 1 }
}
EOF

cat >"$root/init" <<'EOF'
#!/bin/sh
# PID 1 of the test VM: loads the drivers for the machine named by wdt_vm=
# on the kernel command line, runs the program on each watchdog and prints
# "WDT-VM-RESULT: PASS <vm>" or "WDT-VM-RESULT: FAIL <vm>" on the console.
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
vm=$(sed -n 's/.*wdt_vm=\([a-z0-9]*\).*/\1/p' /proc/cmdline)
failures=0
fail() { echo "FAIL($vm): $*"; failures=$((failures + 1)); }
seconds() { cut -d. -f1 /proc/uptime; }

# Loads a driver and what it needs; extra arguments go to the driver.
load() {
  driver=$1; shift
  for m in $(cat /etc/modules/$driver); do
    [ -d /sys/module/$m ] && continue
    if [ $m = $driver ]; then insmod /lib/modules/$m.ko "$@"; else insmod /lib/modules/$m.ko; fi ||
      fail "insmod $m"
  done
}

# The device node of the watchdog whose identity is $1 (run in a subshell,
# so the caller counts the failure).
device_of() {
  for d in /sys/class/watchdog/watchdog*; do
    [ "$(cat $d/identity 2>/dev/null)" = "$1" ] && { echo /dev/${d##*/}; return 0; }
  done
  return 1
}

# Waits until grep finds $1 in file $2, at most $3 seconds.
wait_for() {
  end=$(( $(seconds) + $3 ))
  until grep -q "$1" "$2" 2>/dev/null; do
    [ $(seconds) -ge $end ] && return 1
    sleep 0.2
  done
}

# One run as an operator would do it: a reload key after 7 seconds, q 3
# seconds later.
exercise() {
  name=$1 dev=$2
  echo "== $name on $dev: $(ls /sys/class/watchdog/${dev##*/} | tr '\n' ' ')"
  (sleep 7; printf a; sleep 3; printf q) |
    WDT_DEVICE=$dev timeout -s KILL 60 /opt/wdt/wdt-exerciser >/tmp/$name.out 2>/tmp/$name.err
  rc=$?
  cat /tmp/$name.out /tmp/$name.err
  [ $rc = 0 ] || fail "$name: exit status $rc"
  [ -s /tmp/$name.err ] && fail "$name: wrote to standard error"
  # A read between the close and the end of the process may fail; only there.
  grep -v '^Current timeout: ' /tmp/$name.out |
    awk '/^Press key/ { p++ } p == 2 && /^Failed to read$/ { next } { print }' >/tmp/$name.lines
  cmp -s /etc/expected /tmp/$name.lines || fail "$name: the lines differ from the expected ones"
  sed -n 's/^Current timeout: //p' /tmp/$name.out | awk -f /etc/countdown.awk ||
    fail "$name: the Current timeout values do not count down and go back up after the reload"
  state=$(cat /sys/class/watchdog/${dev##*/}/state)
  [ "$state" = inactive ] || fail "$name: state $state after WDT closed. Exiting"
}

# A session that cannot get the device: the open's failure, then the pause.
no_handle() {
  echo q | WDT_DEVICE=$2 timeout -s KILL 20 /opt/wdt/wdt-exerciser >/tmp/no-handle.out 2>/dev/null
  printf 'Failed to open device\nFailed to obtain handle to driver\nPress any key to continue . . . \n' |
    cmp -s - /tmp/no-handle.out || { fail "$1"; cat /tmp/no-handle.out; }
}

# A run killed while armed: the driver must be left running and fire.
start_killed_run() {
  name=$1 dev=$2
  echo "== $name on $dev, killed while armed"
  mkfifo /tmp/$name.keys
  WDT_DEVICE=$dev /opt/wdt/wdt-exerciser </tmp/$name.keys >/tmp/$name.out 2>&1 &
  pid=$!
  exec 3>/tmp/$name.keys
  if wait_for '^Press key' /tmp/$name.out 30; then
    prompted=$(seconds)
    no_handle "$name: a second session on the busy device" $dev
    kill -9 $pid
    wait $pid
    state=$(cat /sys/class/watchdog/${dev##*/}/state)
    [ "$state" = active ] || fail "$name: state $state after SIGKILL"
  else
    fail "$name: no prompt"; prompted=0; kill -9 $pid
  fi
  exec 3>&-
  cat /tmp/$name.out
}

# A driver loaded with nowayout=1: the session starts armed (said on standard
# error), the final disable fails, and the watchdog is left to fire.
nowayout_run() {
  name=$1 dev=$2
  echo "== $name on $dev"
  printf q | WDT_DEVICE=$dev timeout -s KILL 60 /opt/wdt/wdt-exerciser >/tmp/$name.out 2>/tmp/$name.err
  prompted=$(seconds)
  cat /tmp/$name.out /tmp/$name.err
  grep -v '^Current timeout: ' /tmp/$name.out >/tmp/$name.lines
  printf '%s\n' 'Set timer to 5 seconds' 'Set timer to 30 seconds' \
    'Press key to reset timer to 30 seconds. Press q to close WDT and quit application.' \
    'Failed to disable timer.' 'Failed to communicate with driver' \
    'Press any key to continue . . . ' | cmp -s - /tmp/$name.lines ||
    fail "$name: the lines differ from the expected ones"
  grep -q 'refuses to disarm (nowayout)' /tmp/$name.err || fail "$name: no nowayout warning"
  state=$(cat /sys/class/watchdog/${dev##*/}/state)
  [ "$state" = active ] || fail "$name: state $state after the run"
}

expect_softdog_fired() {
  end=$((prompted + 45))
  until dmesg | grep -q 'Reboot ignored'; do
    [ $(seconds) -ge $end ] && { fail "softdog did not fire within its timeout"; return; }
    sleep 0.5
  done
  fired=$(dmesg | sed -n 's/^\[ *\([0-9]*\)\..*Reboot ignored.*/\1/p' | head -n 1)
  dmesg | grep -E 'did not stop|Reboot ignored'
  [ $((fired - prompted)) -ge 28 ] || fail "softdog fired $((fired - prompted)) s after the last reload, not 30"
  echo "softdog fired $((fired - prompted)) s after the last reload"
}

echo "== VM $vm up at $(cat /proc/uptime)"
case $vm in
  pc)
    load softdog soft_noboot=1
    load i6300esb
    no_handle "a device that does not exist" /dev/watchdog9
    soft=$(device_of 'Software Watchdog') || fail "no softdog device"
    [ -n "$soft" ] && exercise softdog $soft
    dmesg | grep -q 'Reboot ignored' && fail "softdog fired before any run was killed"
    [ -n "$soft" ] && start_killed_run softdog-killed $soft
    esb=$(device_of 'i6300ESB timer') || fail "no i6300esb device"
    [ -n "$esb" ] && exercise i6300esb $esb
    [ -n "$soft" ] && expect_softdog_fired
    ;;
  q35)
    load softdog nowayout=1 soft_noboot=1
    soft=$(device_of 'Software Watchdog') || fail "no softdog device"
    [ -n "$soft" ] && nowayout_run softdog-nowayout $soft
    load iTCO_wdt
    tco=$(device_of 'iTCO_wdt') || fail "no iTCO_wdt device"
    [ -n "$tco" ] && exercise iTCO_wdt $tco
    [ -n "$soft" ] && expect_softdog_fired
    ;;
  *) fail "unknown wdt_vm '$vm'" ;;
esac

if [ $failures = 0 ]; then echo "WDT-VM-RESULT: PASS $vm"; else echo "WDT-VM-RESULT: FAIL $vm"; fi
poweroff -f
EOF
chmod +x "$root/init"
(cd "$root" && find . | cpio -o -H newc --quiet | gzip -1) >"$work/initramfs.gz"

echo "== booting the VMs ($(( SECONDS - started )) s so far)"
boot() {
  local vm=$1; shift
  timeout 150 qemu-system-x86_64 -accel tcg "$@" -m 256 -nic none -nographic -no-reboot \
    -kernel "$kernel_dir/boot/vmlinuz-$kernel_version" -initrd "$work/initramfs.gz" \
    -append "console=ttyS0 panic=-1 quiet wdt_vm=$vm" </dev/null >"$work/$vm.log" 2>&1
}
boot pc -machine pc -device i6300esb &
pc_pid=$!
boot q35 -machine q35 &
q35_pid=$!
wait $pc_pid || true
wait $q35_pid || true

status=0
for vm in pc q35; do
  echo "== console of the $vm VM"
  tr -d '\r' <"$work/$vm.log" | sed -n '/== VM/,$p'
  grep -q "WDT-VM-RESULT: PASS $vm" "$work/$vm.log" || { echo "kernel VM $vm: FAILED" >&2; status=1; }
done
echo "== kernel VM stage took $(( SECONDS - started )) s"
exit $status
