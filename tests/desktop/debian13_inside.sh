# Runs inside the Debian 13 root (debian13.sh), as its user: starts one
# desktop headless with the agent's piece in it and a stand-in for the agent
# (agent_stand_in.py) on the session bus, and checks what the piece does.
#
# usage: debian13_inside.sh kwin|gnome
set -u
desktop=$1
work=/tmp/velt-work
run=$(mktemp -d)
export XDG_RUNTIME_DIR=$run DBUS_SESSION_BUS_ADDRESS=unix:path=$run/bus HOME=$run/home
mkdir "$HOME"
trap 'kill $(jobs -p) 2>/dev/null; wait 2>/dev/null' EXIT
failed=0
poll() {  # SECONDS COMMAND...
  local end=$((SECONDS + $1))
  shift
  until "$@" >/dev/null 2>&1; do
    [ $SECONDS -ge $end ] && return 1
    sleep 0.2
  done
}
check() {  # WHAT COMMAND...
  local what=$1
  shift
  if "$@"; then echo "ok   $desktop (Debian 13): $what"; else
    echo "FAIL $desktop (Debian 13): $what"
    failed=1
  fi
}
has_name() {
  gdbus call --session -d org.freedesktop.DBus -o /org/freedesktop/DBus \
    -m org.freedesktop.DBus.NameHasOwner "$1" | grep -q true
}
called() { poll 20 grep -q "$1" "$run/calls"; }
dbus-daemon --session --nofork --nopidfile --address="$DBUS_SESSION_BUS_ADDRESS" &
poll 10 test -S "$run/bus" || { echo "no session bus"; exit 1; }
python3 "$work/agent_stand_in.py" >"$run/calls" 2>&1 &
poll 10 grep -q ready "$run/calls" || { echo "no stand-in for the agent"; cat "$run/calls"; exit 1; }

# --- KWin 6: the agent's script -------------------------------------------------
kwin_checks() {
  # KWin loads its platform plugin only into a program named kwin_wayland;
  # the installed one carries a file capability an unprivileged exec is
  # refused.
  mkdir "$run/bin" && cp /usr/bin/kwin_wayland "$run/bin/kwin_wayland"
  XDG_CURRENT_DESKTOP=KDE "$run/bin/kwin_wayland" --virtual --width 1280 --height 720 \
    --socket wayland-kwin --no-lockscreen >"$run/desktop.log" 2>&1 &
  poll 60 has_name org.kde.KWin || { echo "KWin did not start"; return 1; }
  local id
  id=$(gdbus call --session -d org.kde.KWin -o /Scripting -m org.kde.kwin.Scripting.loadScript \
    "$work/velt-overlay.js" velt-mouse-assistant | grep -o '[0-9]\+' | head -n 1)
  gdbus call --session -d org.kde.KWin -o "/Scripting/Script$id" -m org.kde.kwin.Script.run \
    >/dev/null || { echo "KWin did not run the script"; return 1; }
  WAYLAND_DISPLAY=wayland-kwin foot >"$run/foot.log" 2>&1 &
  check "the focused window's class when a window opens" called '^ActiveWindow foot foot$'
  gdbus call --session -d org.kde.kglobalaccel -o /component/kwin \
    -m org.kde.kglobalaccel.Component.invokeShortcut velt-follow-pointer >/dev/null
  check "the pointer once the overlay follows it" called '^Pointer [0-9]* [0-9]*$'
}

# --- GNOME Shell 48: the agent's extension for 45 and later ----------------------
extension() {
  gdbus call --session -d quorin.driver.velt.Shell -o /quorin/driver/velt/Shell "$@"
}
# The extension answers the agent alone: its methods are called through the
# stand-in. as_agent METHOD [INTEGER...]
as_agent() {
  local method=$1
  shift
  gdbus call --session -d quorin.driver.velt -o /quorin/driver/velt \
    -m quorin.driver.velt.Agent.Shell "$method" "[$(IFS=,; echo "$*")]"
}
showing() {  # VIEW on|off, as the extension reports it
  if [ "$2" = on ]; then
    extension -m org.freedesktop.DBus.Properties.Get quorin.driver.velt.Shell Showing | grep -q "'$1'"
  else
    ! extension -m org.freedesktop.DBus.Properties.Get quorin.driver.velt.Shell Showing | grep -q "'$1'"
  fi
}
overview_active() {  # true|false, as the shell itself reports it
  gdbus call --session -d org.gnome.Shell -o /org/gnome/Shell \
    -m org.freedesktop.DBus.Properties.Get org.gnome.Shell OverviewActive | grep -q "$1"
}
toggles() {  # METHOD VIEW: on, then off again
  as_agent "$1" >/dev/null && poll 10 showing "$2" on &&
    as_agent "$1" >/dev/null && poll 10 showing "$2" off
}
overview_toggles() {
  toggles ToggleOverview overview && as_agent ToggleOverview >/dev/null &&
    poll 10 overview_active true && as_agent ToggleOverview >/dev/null &&
    poll 10 overview_active false
}
overlay_shows() {
  local mode
  for mode in 0 1 2; do
    as_agent ShowOverlay $mode 310 >/dev/null && poll 10 showing overlay on &&
      as_agent GetPointer | grep -q "^('[0-9.]* [0-9.]*',)$" &&
      as_agent HideOverlay >/dev/null && poll 10 showing overlay off || return 1
  done
}
refuses_others() {
  extension -m quorin.driver.velt.Shell.GetPointer 2>&1 | grep -q AccessDenied
}
gnome_checks() {
  local uuid
  uuid=$(basename "$(grep -o '"uuid": *"[^"]*"' "$work/extension/metadata.json" | cut -d'"' -f4)")
  mkdir -p "$HOME/.local/share/gnome-shell/extensions"
  cp -r "$work/extension" "$HOME/.local/share/gnome-shell/extensions/$uuid"
  gsettings set org.gnome.shell enabled-extensions "['$uuid']"
  XDG_CURRENT_DESKTOP=GNOME XDG_SESSION_TYPE=wayland gnome-shell --headless --no-x11 \
    --virtual-monitor 1280x720 --wayland-display=wayland-gnome >"$run/desktop.log" 2>&1 &
  poll 90 has_name quorin.driver.velt.Shell || { echo "the extension did not start"; return 1; }
  check "the agent's menu in the top bar" poll 10 showing indicator on
  # The shell starts in its overview; it is put away first.
  if showing overview on; then as_agent ToggleOverview >/dev/null; fi
  poll 10 overview_active false || { echo "the overview stays"; return 1; }
  WAYLAND_DISPLAY=wayland-gnome foot >"$run/foot.log" 2>&1 &
  check "window overview (1)" overview_toggles
  check "application grid (30)" toggles ToggleApplicationGrid app-grid
  check "show desktop (4)" toggles ToggleShowDesktop desktop
  check "spotlight, pointer dot and magnifier: shown at the pointer and hidden" overlay_shows
  check "screenshot (17): the shell's screenshot tool" \
    eval 'as_agent OpenScreenshotTool >/dev/null && poll 10 showing screenshot-tool on'
  check "the extension answers the agent only" refuses_others
}

case $desktop in
  kwin) kwin_checks || failed=1 ;;
  gnome) gnome_checks || failed=1 ;;
esac
if [ $failed -ne 0 ]; then
  sed 's/^/    agent stand-in: /' "$run/calls"
  grep -i 'velt\|error' "$run/desktop.log" | tail -n 20 | sed 's/^/    desktop: /'
fi
exit $failed
