# shellcheck shell=sh disable=SC2086,SC2154 # sourced by init: its fail, proof_ground, after_reset
# The reset proof across a sleep, in a VM that boots again when reset: the
# first boot arms driver $1 (identity $2) for 10 s with wdt-check --expire
# --suspend $3, sleeps 15 s woken by the RTC, and lets it run out after the
# resume; the next boot, if there is one, judges it with --after-reset. $4
# is the verdict expected of this driver in this state:
#   asleep  it resets the machine during the sleep: --after-reset fails, saying so
#   dead    the resume killed it: --expire fails, saying so, and nothing resets
#   holds   no reset during the sleep, a reset on time after the resume
suspend_proof() {
  wd=$1 identity=$2 state=$3 expect=$4
  proof_ground "$wd" "$identity" || return
  if [ -e /mnt/record.judged ]; then
    # q35's power-off fails after a resume from mem, and the kernel's panic reboots it.
    echo "== the verdict on $wd was given on the boot before"
  elif [ ! -e /mnt/record ]; then
    echo "== wdt-check --expire --suspend $state on $wd ($dev): $(cat /sys/power/state), mem_sleep $(cat /sys/power/mem_sleep)"
    { WDT_DEVICE=$dev timeout -s KILL 90 /opt/wdt/wdt-check --expire /mnt/record --suspend $state \
        --suspend-for 15 --timeout 10 2>&1
      echo $? >/tmp/expire.status; } | tee /tmp/expire.out
    rc=$(cat /tmp/expire.status)
    # Only a machine that did not reset comes here.
    [ $expect = dead ] || { fail "$wd did not reset the machine (status $rc)"; return; }
    [ $rc = 1 ] || fail "--suspend on $wd: exit status $rc, not 1"
    grep -q "^ok 4 - suspend: slept 1[3-9]\.[0-9] s in $state" /tmp/expire.out || fail "--suspend on $wd: no sleep said"
    grep -qx "not ok 6 - expire: armed 10 s, still alive after 30 s: the watchdog did not reset the machine after a suspend ($state): the driver lost it on the resume" \
      /tmp/expire.out || fail "--suspend on $wd: the expire does not say that the driver lost the watchdog"
    state_now=$(cat /sys/class/watchdog/${dev##*/}/state)
    [ "$state_now" = inactive ] || fail "--suspend on $wd: state $state_now after it"
    mv /mnt/record /mnt/record.judged
  else
    echo "== wdt-check --after-reset on $wd after --suspend $state"
    after_reset
    case $expect in
      asleep)
        [ $rc = 1 ] || fail "--after-reset on $wd: exit status $rc, not 1"
        grep -q "^not ok 3 - on-time: the watchdog reset the machine during a suspend ($state) of 15 s: it came after the sleep began, [0-9.]* s after the last reload" \
          /tmp/after.out || fail "--after-reset on $wd: the reset during the sleep is not said" ;;
      holds)
        [ $rc = 0 ] || fail "--after-reset on $wd: exit status $rc"
        grep -q "^ok 3 - on-time: reset between .*; after a suspend ($state) of 1[3-9]\.[0-9] s$" /tmp/after.out ||
          fail "--after-reset on $wd: the reset after the resume is not on time" ;;
      *) fail "$wd reset the machine after --suspend $state" ;;
    esac
  fi
  umount /mnt
}
