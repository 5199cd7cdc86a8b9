#!/usr/bin/env bash
# The verdicts of qemu_run.sh on recorded guest consoles. QEMU itself exits 0
# whatever happened inside, so a wrong verdict here would let a broken guest
# run pass.
set -uo pipefail
harness=$(dirname "$0")/qemu_run.sh
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
failures=0

# expect <case> <qemu status> <exit status> <text in the output> <console lines...>
expect() {
  local case=$1 status=$2 want=$3 text=$4 output got
  shift 4
  printf '%s\r\n' "$@" >"$dir/console"
  output=$(bash "$harness" --name "$case" --judge "$dir/console" --qemu-status "$status")
  got=$?
  if [ "$got" != "$want" ] || ! grep -qF -- "$text" <<<"$output"; then
    echo "not ok: $case: exit $got (want $want), output:"
    echo "$output"
    failures=$((failures + 1))
  else
    echo "ok: $case"
  fi
}

booted=$'\e[?7l\e[2Jvelt-e2e: booted 6.1.0-57-amd64'
expect passed 0 0 "2 checks passed" \
  "$booted" "velt-e2e: pass one" "velt-e2e: pass two" "velt-e2e: end 0" "reboot: Power down"
expect failed-check 0 1 "1 check(s) failed" \
  "$booted" "velt-e2e: pass one" "velt-e2e: fail two: wrong byte" "velt-e2e: end 0"
expect script-status 0 1 "ended with status 3" \
  "$booted" "velt-e2e: pass one" "velt-e2e: end 3"
expect panic 0 1 "panicked" \
  "$booted" "velt-e2e: pass one" "[ 4.1] Kernel panic - not syncing: sysrq triggered crash"
expect cut-short 0 1 "did not finish" "$booted" "velt-e2e: pass one"
expect timeout 124 1 "did not finish within" "$booted" "velt-e2e: pass one"
expect no-boot 1 1 "did not boot" "qemu-system-x86_64: -kernel: could not open"
expect no-checks 0 1 "checked nothing" "$booted" "velt-e2e: end 0"

[ "$failures" = 0 ] || { echo "$failures case(s) failed"; exit 1; }
