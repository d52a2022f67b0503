#!/bin/sh
# What the LAVA test definitions beside this script run on the board, with
# the board's own tools only (sh, sed and awk as busybox has them):
#
#   wdt-lava.sh check        wdt-check on $WDT_DEVICE with $ARGS
#   wdt-lava.sh expire       the reset proof's first half: wdt-check --expire,
#                            started detached, its output kept on the record's
#                            storage; returns once the watchdog runs out, or
#                            with SUSPEND once the board goes to sleep
#   wdt-lava.sh after-reset  the first half's test points, then
#                            wdt-check --after-reset
#   wdt-lava.sh cases <TAP   wdt-check's TAP as LAVA test cases
#
# Each test point becomes a test case named as the check, with its result
# (pass, fail, skip); each number in the test point's YAML block a test case
# CHECK.FIGURE with the check's result and the number as its measurement.
# The program's exit status is the test case exit-status. The definitions
# pass their parameters in the environment: WDT_DEVICE, ARGS, WDT_BIN (the
# folder of the programs, empty for PATH), RECORD, TIMEOUT, SUSPEND (the
# sleep of --suspend, empty for none) and HANG (the way of dying: empty, or
# panic for a crashed kernel). The script
# ends with status 0 whatever it found: a test definition's steps run under
# set -e, and a failing step would end it without a word.
# shellcheck shell=sh disable=SC2086 # $ARGS is a list of options

program() { echo "${WDT_BIN:+${WDT_BIN%/}/}$1"; }

# The unit of a figure, by its name: seconds for *_s, seconds per unit of
# the counter, per cent; none for counts and the counter's values.
cases() {
  awk '
    function units(name) {
      if (name == "seconds_per_unit") return "s/unit"
      if (name ~ /_s$/) return "s"
      if (name ~ /_pct$/) return "%"
      return "-"
    }
    /^(not )?ok [0-9]+ - [a-z-]+/ {
      result = /^not / ? "fail" : / # SKIP/ ? "skip" : "pass"
      name = $0
      sub(/^(not )?ok [0-9]+ - /, "", name)
      sub(/(:| # ).*$/, "", name)
      print name, result
      block = 0
      next
    }
    /^  ---$/ && name != "" { block = 1; next }
    /^  \.\.\.$/ { block = 0; name = ""; next }
    block && /^  [a-z_]+: -?[0-9]+(\.[0-9]+)?$/ {
      figure = $1
      sub(/:$/, "", figure)
      print name "." figure, result, $2, units(figure)
      next
    }
    !block { name = "" }
  ' | while read -r case result measurement units; do
    if [ -z "$measurement" ]; then
      lava-test-case "$case" --result "$result"
    elif [ "$units" = - ]; then
      lava-test-case "$case" --result "$result" --measurement "$measurement"
    else
      lava-test-case "$case" --result "$result" --measurement "$measurement" --units "$units"
    fi
  done
}

exit_status() {
  if [ "$1" = 0 ]; then result=pass; else result=fail; fi
  lava-test-case exit-status --result $result --measurement "$1"
}

# Runs wdt-check with the arguments given, its output shown as it comes,
# then its test cases and its exit status.
run_check() {
  out=${TMPDIR:-/tmp}/wdt-check.$$
  { WDT_DEVICE=$WDT_DEVICE "$(program wdt-check)" "$@" 2>&1; echo $? >"$out.status"; } </dev/null | tee "$out"
  cases <"$out"
  exit_status "$(cat "$out.status")"
  rm -f "$out" "$out.status"
}

check() { run_check $ARGS; }

# The first half runs in a session of its own, its output written line by
# line to the record's storage and synced there: the machine resets in the
# middle of it, and whatever was not on the disk by then is lost.
expire_detached() {
  # A crash comes at once after the last reload: later than the test
  # action's end.
  [ -n "$HANG" ] && sleep 15
  { WDT_DEVICE=$WDT_DEVICE "$(program wdt-check)" --expire "$RECORD" --timeout "$TIMEOUT" \
      ${SUSPEND:+--suspend $SUSPEND} ${HANG:+--hang "$HANG"} 2>&1
    echo $? >"$RECORD.status"
    sync
  } </dev/null | while IFS= read -r line; do
    printf '%s\n' "$line" >>"$RECORD.tap"
    sync
  done
}

expire() {
  if [ -z "$RECORD" ] || ! mkdir -p "$(dirname "$RECORD")"; then
    echo "wdt-lava: RECORD ('$RECORD') names no file in a folder that can be made"
    lava-test-case expire-started --result fail
    return
  fi
  rm -f "$RECORD.tap" "$RECORD.status"
  setsid sh "$0" expire-detached </dev/null >/dev/null 2>&1 &
  if [ -n "$HANG" ]; then
    echo "wdt-lava: the kernel is crashed ($HANG) in some 15 s, after the watchdog's last reload"
    lava-test-case expire-started --result pass
    return
  fi
  # Until wdt-check waits for the reset: the test action must end before it.
  end=$(( $(cut -d. -f1 /proc/uptime) + TIMEOUT + 60 ))
  # With SUSPEND, until the board sleeps: the reset may come during the sleep.
  until grep -q -e '^# waiting until ' -e '^# sleeping (' "$RECORD.tap" 2>/dev/null; do
    if [ -s "$RECORD.status" ] || [ "$(cut -d. -f1 /proc/uptime)" -ge $end ]; then
      # It ended, or hangs, before the watchdog could run out: no reset comes.
      cat "$RECORD.tap" 2>/dev/null
      lava-test-case expire-started --result fail
      cases <"$RECORD.tap"
      [ -s "$RECORD.status" ] && exit_status "$(cat "$RECORD.status")"
      return
    fi
    sleep 0.2
  done
  cat "$RECORD.tap"
  lava-test-case expire-started --result pass
}

after_reset() {
  if [ -s "$RECORD.tap" ]; then
    cases <"$RECORD.tap"
  else
    echo "wdt-lava: no output of the first half at $RECORD.tap"
    lava-test-case expire-output --result fail
  fi
  # Only a first half that was not cut short by the reset has an exit status.
  if [ -s "$RECORD.status" ]; then
    lava-test-case expire-exit-status --result fail --measurement "$(cat "$RECORD.status")"
  fi
  run_check --after-reset "$RECORD"
}

case ${1:-} in
  check) check ;;
  expire) expire ;;
  expire-detached) expire_detached ;;
  after-reset) after_reset ;;
  cases) cases ;;
  *) echo "usage: wdt-lava.sh check|expire|after-reset|cases" >&2; exit 2 ;;
esac
exit 0
