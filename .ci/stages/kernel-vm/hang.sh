# The reset proof on a dead kernel (wdt-check --expire --hang panic), sourced
# by init: the first boot crashes the kernel after the last reload, the next
# judges the reset on the record and the real-time clock. busybox sh.
# shellcheck shell=sh disable=SC2086,SC2154

# The dead kernel's road on driver $1 (its identity $2), in a VM that boots
# again when reset. $3: the reset's delay expected after the last reload
# (i6300esb's first expiry, iTCO_wdt's second; the next boot begins up to
# 19 s later under load: SeaBIOS, the kernel's load and start), or "early" where something
# other than the watchdog resets the VM 2 s after the crash (the stage, over
# QEMU's monitor): --after-reset must then fail. $4: the timeout (10 s
# unless given), longer where the next boot's firmware and kernel would
# otherwise bring an early reset's boot near the watchdog's.
hang_proof() {
  wd=$1 identity=$2 due=$3 timeout=${4:-10}
  proof_ground "$wd" "$identity" || return
  if [ ! -e /mnt/record ]; then
    echo "== wdt-check --expire --hang panic on $wd ($dev), boot $(cat /proc/sys/kernel/random/boot_id)"
    echo "kernel.panic $(cat /proc/sys/kernel/panic), kernel.sysrq $(cat /proc/sys/kernel/sysrq)"
    WDT_DEVICE=$dev timeout -s KILL 60 /opt/wdt/wdt-check --expire /mnt/record --hang panic --timeout $timeout 2>&1
    # Only a kernel that did not crash comes here.
    fail "--hang on $wd: the kernel lives on (status $?)"
    return
  fi
  echo "== wdt-check --after-reset on $wd after a dead kernel, boot $(cat /proc/sys/kernel/random/boot_id)"
  after_reset
  grep -q '^hang panic$' /mnt/record || fail "the record does not say how the kernel died"
  grep -q '^kernel_panic -1$' /mnt/record || fail "the record does not keep kernel.panic as found (-1)"
  if [ $due = early ]; then
    [ $rc = 1 ] || fail "--after-reset after the monitor's reset: exit status $rc, not 1"
    grep -q "^not ok 3 - on-time: reset early, not the watchdog's: the kernel died " /tmp/after.out ||
      fail "--after-reset after the monitor's reset: the on-time check does not say it was not the watchdog's"
  else
    [ $rc = 0 ] || fail "--after-reset on $wd: exit status $rc"
    # The next boot's beginning after the last reload, by the RTC: the
    # watchdog's expiry, the firmware and the kernel's start.
    booted=$(sed -n 's/^ok 3 - on-time: the reset came between [0-9.]* s (the kernel died) and \([0-9.]*\) s (the next boot began.*/\1/p' \
      /tmp/after.out)
    echo "the next boot began $booted s after the last reload"
    echo "$booted" | awk -v due=$due '{ exit !(NF == 1 && $1 >= due - 1 && $1 <= due + 20) }' ||
      fail "--after-reset on $wd: the next boot did not begin near $due s after the last reload ($booted)"
  fi
  umount /mnt
}

# softdog dies with the kernel: refused before anything is armed, and the
# kernel lives on.
hang_refused() {
  load softdog
  dev=$(device_of 'Software Watchdog') || { fail "no softdog device"; return; }
  WDT_DEVICE=$dev timeout -s KILL 30 /opt/wdt/wdt-check --expire /tmp/record --hang panic --timeout 10 \
    >/tmp/hang.out 2>&1
  rc=$?
  cat /tmp/hang.out
  [ $rc = 2 ] || fail "--hang on softdog: exit status $rc, not 2"
  grep -q 'softdog runs inside the kernel: a dead kernel cannot fire it' /tmp/hang.out ||
    fail "--hang on softdog: the refusal does not say why"
  grep -q 'crashed now' /tmp/hang.out && fail "--hang on softdog: it went on to the crash"
  [ "$(cat /sys/class/watchdog/${dev##*/}/state)" = inactive ] || fail "--hang on softdog: left active"
  [ "$(cat /proc/sys/kernel/panic)" = -1 ] || fail "--hang on softdog: kernel.panic changed"
}
