#!/usr/bin/env bash
# Run by user_unit.sh inside the X11 rig, as the test user: a user manager
# of our own, then the agent as the installed copy under it.
set -uo pipefail
unit=velt-mouse-assistant.service
units=$HOME/.config/systemd/user
out=$HOME/unit-output.log
failures=0
check() { # check WHAT COMMAND...
  local what=$1
  shift
  if "$@"; then echo "pass: $what"; else echo "FAIL: $what"; failures=$((failures + 1)); fi
}
wait_for() { # wait_for SECONDS COMMAND...
  local limit=$(($1 * 10))
  shift
  for _ in $(seq "$limit"); do "$@" && return 0; sleep 0.1; done
  return 1
}
main_pid() { systemctl --user show -p MainPID --value "$unit"; }

check "the unit file is sound" systemd-analyze --user --man=no verify /usr/local/lib/systemd/user/$unit

# A manager that starts nothing of its own, and a target that brings
# graphical-session.target up as a desktop's session does.
mkdir -p "$units/$unit.d"
printf '[Unit]\nDescription=nothing\n' >"$units/velt-rig-idle.target"
printf '[Unit]\nDescription=the session\nBindsTo=graphical-session.target\nBefore=graphical-session.target\n' \
  >"$units/velt-rig-session.target"
# What the unit's programs print, --restore-mice's line included.
printf '[Service]\nStandardOutput=append:%s\nStandardError=append:%s\n' "$out" "$out" >"$units/$unit.d/rig.conf"
/lib/systemd/systemd --user --unit=velt-rig-idle.target >"$HOME/manager.log" 2>&1 &
manager=$!
wait_for 30 test -S "$XDG_RUNTIME_DIR/systemd/private" || { echo "FAIL: no user manager"; exit 1; }
systemctl --user set-environment DISPLAY="$DISPLAY" QT_QPA_PLATFORM=xcb \
  DBUS_SESSION_BUS_ADDRESS="$DBUS_SESSION_BUS_ADDRESS"
systemctl --user start velt-rig-session.target
check "the session's target is up" wait_for 10 systemctl --user --quiet is-active graphical-session.target

# Started by hand, as from the applications menu: the unit, not an entry.
/usr/local/bin/velt-mouse-assistant >"$HOME/by-hand.log" 2>&1 &
check "the installed agent enables its unit" wait_for 30 systemctl --user --quiet is-enabled $unit
check "and writes no autostart entry" test ! -e "$HOME/.config/autostart/quorin.driver.velt.desktop"
check "the agent started by hand quits" wait_for 20 /usr/local/bin/velt-mouse-assistant --quit

# The next log-in starts it with the session.
systemctl --user stop velt-rig-session.target
systemctl --user start velt-rig-session.target
check "the session starts the agent" wait_for 30 test "$(main_pid)" != 0
first=$(main_pid)
check "the agent runs" wait_for 30 test -S "$XDG_RUNTIME_DIR/quorin.driver.velt.socket"

: >"$out"
killed=$(date +%s%N)
kill -KILL "$first"
check "killed, it comes back" wait_for 15 sh -c "p=\$(systemctl --user show -p MainPID --value $unit); [ \$p != 0 ] && [ \$p != $first ]"
back=$(($(date +%s%N) - killed))
echo "note: back $((back / 1000000)) ms after SIGKILL (RestartSec=2)"
check "--restore-mice ran in between" grep -q "no supported mouse needed its buttons back" "$out"
check "the agent runs again" wait_for 30 sh -c "/usr/local/bin/velt-mouse-assistant --show 2>/dev/null"

: >"$out"
systemctl --user stop $unit
check "stopped, it ends as it quits" test "$(systemctl --user show -p Result --value $unit)" = success
check "and --restore-mice does not run" test ! -s "$out"

systemctl --user exit
wait "$manager"
if [ $failures -ne 0 ]; then
  echo "---- the manager" && tail -n 30 "$HOME/manager.log"
  echo "---- the unit's output" && cat "$out"
fi
exit $((failures != 0))
