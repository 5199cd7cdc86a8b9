#!/usr/bin/env bash
# Runs inside desktop_rig.sh, as its user: the desktop answers.
set -uo pipefail
passed=0
failed=0
check() {
  local name=$1
  shift
  if "$@"; then
    echo "ok   $VELT_RIG_DESKTOP: $name"
    passed=$((passed + 1))
  else
    echo "FAIL $VELT_RIG_DESKTOP: $name"
    failed=$((failed + 1))
  fi
}

answers() {
  case $VELT_RIG_DESKTOP in
    gnome) gdbus call --session -d org.gnome.Shell -o /org/gnome/Shell \
             -m org.freedesktop.DBus.Properties.Get org.gnome.Shell OverviewActive >/dev/null ;;
    kwin) gdbus call --session -d org.kde.KWin -o /KWin -m org.kde.KWin.currentDesktop >/dev/null ;;
    sway) swaymsg -t get_outputs >/dev/null ;;
    x11) xprop -root _NET_SUPPORTED >/dev/null ;;
  esac
}
check "the desktop answers" answers
echo "$passed passed, $failed failed"
[ $failed -eq 0 ]
