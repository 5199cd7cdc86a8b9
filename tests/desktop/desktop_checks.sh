#!/usr/bin/env bash
# Runs inside desktop_rig.sh, as its user: every desktop function on this
# desktop through velt-desktop-probe (the agent's DesktopCommands with the
# real session behind it), each observed in the desktop itself where it lets
# a test see it; then the agent itself starts, shows its menu where the
# desktop has a place for one, and quits.
#
# usage: desktop_checks.sh PROBE AGENT [outdated|overlay]
#   outdated: on GNOME, given an extension that does not declare the running
#   shell, only that the agent says so
#   overlay: on KWin, only what needs it to composite with OpenGL: that it
#   does, the screenshot, the window views, and the spotlight, pointer dot and
#   magnifier as pictures show them (a slow machine's KWin, without Plasma's
#   shell; the rest is checked where KWin composites without OpenGL)
# VELT_RIG_PATIENCE (a whole number, 1 by default) multiplies every wait for
# the desktop, and the time the live lens has to show a change, on a machine
# that many times slower than the desktop's own.
set -uo pipefail
probe=$1
agent=$2
only=${3:-}
desktop=$VELT_RIG_DESKTOP
patience=${VELT_RIG_PATIENCE:-1}
passed=0
failed=0
skipped=0
out=$(mktemp -d)
children=()
cleanup() {
  for pid in "${children[@]}"; do kill "$pid" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$out"
}
trap cleanup EXIT

pass() { echo "ok   $desktop: $1${took:-}"; passed=$((passed + 1)); }
fail() {
  echo "FAIL $desktop: $1${took:-}"
  [ -s "$out/probe" ] && sed 's/^/    /' "$out/probe"
  failed=$((failed + 1))
}
# What this machine cannot show, and why; no failure.
skip() {
  echo "skip $desktop: $1 ($2)"
  skipped=$((skipped + 1))
}
# check NAME COMMAND...: one (function, desktop) pair.
check() {
  local name=$1 start=$SECONDS took
  shift
  if "$@"; then
    took=" ($((SECONDS - start)) s)" pass "$name"
  else
    took=" ($((SECONDS - start)) s)" fail "$name"
  fi
}
# Polls COMMAND every 0.1 s for at most SECONDS.
poll() {
  local seconds=$1
  shift
  local end=$((SECONDS + seconds * patience))
  until "$@" >/dev/null 2>&1; do
    [ $SECONDS -ge $end ] && return 1
    sleep 0.1
  done
}
# Runs desktop function CODE; true when the route that worked starts with
# ROUTE ("none": no route, and the log names this desktop and "not offered").
run() {
  local code=$1 route=$2
  timeout $((30 * patience)) "$probe" run "$code" >"$out/probe" 2>&1 || return 1
  if [ "$route" = none ]; then
    grep -q '^route: none$' "$out/probe" && grep -q "not offered on $XDG_CURRENT_DESKTOP" "$out/probe"
  else
    grep -q "^route: $route" "$out/probe"
  fi
}
# Shows a probe window of class NAME and waits until it is on screen.
window() {
  "$probe" window "$1" >"$out/window-$1" 2>&1 &
  children+=($!)
  poll 20 grep -q shown "$out/window-$1"
}

# The file manager: a stand-in registered for folders records what it opens.
file_manager_opens_the_working_folder() {
  mkdir -p ~/.local/share/applications ~/.config ~/bin "$out/a folder"
  printf '#!/bin/sh\nprintf "%%s\\n" "$@" >>"$HOME/file-manager.args"\n' >~/bin/files
  chmod +x ~/bin/files
  printf '[Desktop Entry]\nType=Application\nName=Files\nExec=%s %%U\nMimeType=inode/directory;\nNoDisplay=true\n' \
    "$HOME/bin/files" >~/.local/share/applications/velt-test-files.desktop
  xdg-mime default velt-test-files.desktop inode/directory || return 1
  (cd "$out/a folder" && run 16 "open folder $out/a folder") || return 1
  poll 20 grep -q -e "a%20folder" -e "a folder" ~/file-manager.args
}

# A new PNG picture in the Pictures folder.
picture_appears() {
  local route=$1
  run 17 "$route" || return 1
  poll 20 sh -c 'for f in "$HOME"/Pictures/*.png; do [ "$(head -c 4 "$f" | tail -c 3)" = PNG ] && exit 0; done; exit 1'
}

# toggles CODE ROUTE STATE [ARG]: function CODE takes ROUTE and turns on what
# "STATE [ARG] on" sees; the next press turns it off.
toggles() {
  local code=$1 route=$2
  shift 2
  run "$code" "$route" && poll 10 "$@" on && run "$code" "$route" && poll 10 "$@" off
}
# opens CODE ROUTE STATE [ARG]: as toggles, once.
opens() {
  local code=$1 route=$2
  shift 2
  run "$code" "$route" && poll 10 "$@" on
}
# refused CODE PATTERN: no route worked, and the log says PATTERN.
refused() {
  run "$1" none
  grep -q '^route: none$' "$out/probe" && grep -q "$2" "$out/probe"
}
# is VALUE on|off COMMAND...: COMMAND prints VALUE, or does not.
is() {
  local value=$1 state=$2
  shift 2
  if [ "$state" = on ]; then "$@" | grep -q "$value"; else ! "$@" | grep -q "$value"; fi
}

# --- GNOME Shell: its views through the agent's extension -----------------
extension() {
  gdbus call --session -d quorin.driver.velt.Shell -o /quorin/driver/velt/Shell "$@"
}
shell_view() {  # VIEW on|off, as the extension reports the shell's state
  is "'$1'" "$2" extension -m org.freedesktop.DBus.Properties.Get quorin.driver.velt.Shell Showing
}
overview_active() {  # on|off, as the shell itself reports it
  local want=false
  [ "$1" = on ] && want=true
  is "$want" on gdbus call --session -d org.gnome.Shell -o /org/gnome/Shell \
    -m org.freedesktop.DBus.Properties.Get org.gnome.Shell OverviewActive
}
overview() { shell_view overview "$1" && overview_active "$1"; }
extension_present() { # on|off
  is true "$1" gdbus call --session -d org.freedesktop.DBus -o /org/freedesktop/DBus \
    -m org.freedesktop.DBus.NameHasOwner quorin.driver.velt.Shell
}
gnome_extension() {  # Enable|Disable
  gdbus call --session -d org.gnome.Shell -o /org/gnome/Shell \
    -m "org.gnome.Shell.Extensions.${1}Extension" "$VELT_RIG_EXTENSION" >/dev/null
}
# The extension answers the agent alone; gdbus is not the agent.
extension_refuses_others() {
  local call
  for call in GetPointer GetFocusedWindow GetOpenWindows ToggleOverview "ShowOverlay 0 310"; do
    # shellcheck disable=SC2086
    extension -m quorin.driver.velt.Shell.$call >"$out/refused" 2>&1
    grep -q AccessDenied "$out/refused" || { echo "    $call: $(cat "$out/refused")"; return 1; }
  done
}
# A menu no agent sends (unknown items, repeats, a hundred items, long texts
# over lines): the top bar shows the known items once each, a line each.
hostile_menu_is_bounded() {
  python3 "$(dirname "$0")/agent_stand_in.py" hostile >"$out/stand-in" 2>&1 &
  local pid=$!
  children+=($pid)
  poll 10 grep -q ready "$out/stand-in" && poll 10 shell_view indicator on || return 1
  rig AgentMenu >"$out/menu"
  kill "$pid"
  poll 10 shell_view indicator off || return 1
  [ "$(cat "$out/menu")" = "(['Open Settings', 'Exit 0'],)" ] || { echo "    menu: $(cat "$out/menu")"; return 1; }
}
gnome_checks() {
  local ext="dbus quorin.driver.velt.Shell"
  # The shell starts in its overview; it is put away first.
  rig Settle >/dev/null
  poll 10 overview off || { fail "the overview goes away after start-up"; return; }
  check "the extension answers the agent only" extension_refuses_others
  check "the top bar's menu: the agent's known items only, once each, a line each" \
    hostile_menu_is_bounded
  # No agent runs here: the probe asks as the agent.
  pointer_to 123 456
  check "pointer anchor (18, 19, 25, 26): where the pointer is" pointer_is 123 456
  # The presentation keys act only while LibreOffice Impress has the focus.
  window libreoffice-impress && rig Focus libreoffice-impress >/dev/null
  check "presentation keys (20-22): Impress is seen as the focused window" \
    poll 10 active_class_is libreoffice-impress
  window files-window && rig Focus files-window >/dev/null || { fail "a window shows"; return; }
  check "presentation keys (20-22): another window is not Impress" poll 10 active_class_is files-window
  check "window overview (1)" toggles 1 "$ext" overview
  check "application windows (5): the overview" toggles 5 "$ext" overview
  check "application grid (30)" toggles 30 "$ext" shell_view app-grid
  check "show desktop (4): the windows are minimized and come back" toggles 4 "$ext" shell_view desktop
  check "file manager (16)" file_manager_opens_the_working_folder
  # Without the extension: the overview through the shell's own property,
  # and the grid, which the shell refuses to other programs.
  gnome_extension Disable
  poll 10 extension_present off
  check "window overview (1) without the extension: OverviewActive" \
    toggles 1 "toggle org.gnome.Shell" overview_active
  check "application grid (30) without the extension: refused, logged" \
    refused 30 'ShowApplications.*failed: .*AccessDenied'
  gnome_extension Enable
  poll 20 extension_present on
  check "screenshot (17): the shell's screenshot tool" opens 17 "$ext" shell_view screenshot-tool
  # As on a fresh account: the agent enables its extension itself. (The
  # rig's own extension stays.)
  gsettings set org.gnome.shell enabled-extensions "['velt-rig@quorin.driver.velt']"
  gsettings set org.gnome.shell disabled-extensions "[]"
  poll 10 extension_present off || fail "the extension goes when it is no longer enabled"
}

# --- GNOME Shell: the overlay, the pointer and the focused window ----------
# The shell refuses pictures and pointer control to outside programs; the
# rig's own extension (tests/desktop/gnome-rig, tests only) takes them inside
# the shell. The agent's extension draws the overlay; pictures are checked
# against one of the same screen without it. Debian 12 runs GNOME Shell 43
# and the extension's variant for it; Debian testing (current.sh) the newest
# shell and the variant for 45 and later.
rig() {
  local method=$1
  shift
  gdbus call --session -d quorin.driver.velt.Rig -o /quorin/driver/velt/Rig \
    -m "quorin.driver.velt.Rig.$method" "$@"
}
pointer_to() { rig MovePointer "$1" "$2" >/dev/null; }
picture() { rig TakePicture "$out/$1.png" >/dev/null; }
# The monitor with the point X Y: "x y width height".
monitor_at() {
  rig Monitors | grep -o '([0-9]*, [0-9]*, [0-9]*, [0-9]*)' | tr -d '(),' |
    while read -r mx my mw mh; do
      if [ "$1" -ge "$mx" ] && [ "$1" -lt $((mx + mw)) ] && [ "$2" -ge "$my" ] && [ "$2" -lt $((my + mh)) ]; then
        echo "$mx $my $mw $mh"
      fi
    done
}
# overlay_shows MODE X Y: the pointer goes to X Y; the overlay shows there in
# MODE (spotlight, dot, magnifier, or clear for none). The picture is taken
# once the shell has painted the overlay settled: its fade over, or hidden
# (then the agent, too, has ended its fade: a toggle during a fade-out would
# hide again). A busy machine only makes that frame come later.
overlay_shows() {
  local mode=$1 x=$2 y=$3 shown=true tries=0
  [ "$mode" = clear ] && shown=false
  pointer_to "$x" "$y"
  while :; do
    if rig OverlaySettled "$shown" "$x" "$y" >"$out/probe" 2>&1 && picture shot; then
      # shellcheck disable=SC2046
      "$probe" check "$mode" "$out/plain.png" "$out/shot.png" $(monitor_at "$x" "$y") "$x" "$y" 310 \
        >"$out/probe" 2>&1 && return 0
    fi
    # The frame that settled may still show the pointer's last place.
    if [ $((tries += 1)) -ge 3 ]; then
      { echo "$mode at $x $y: $(cat "$out/probe")"; tail -n 8 "$out/agent.log" | sed 's/^/agent: /'; } >"$out/probe.new"
      mv "$out/probe.new" "$out/probe"
      return 1
    fi
  done
}
# Each overlay check starts with no overlay up and no button held, whatever
# the check before left behind, so that one fault fails one check.
overlay_check() {
  agent_command --release 18
  shell_view overlay off || agent_command --run 19
  pointer_to 400 300
  rig OverlaySettled false 400 300 >/dev/null
  check "$@"
}
# A picture of the screen without the overlay, once the first monitor shows
# the test pattern whole.
plain_picture() {
  local end=$((SECONDS + 20 * patience))
  while :; do
    picture plain
    # shellcheck disable=SC2046
    "$probe" check pattern "$out/plain.png" "$out/plain.png" $(monitor_at 0 0) 0 0 310 \
      >"$out/probe" 2>&1 && return 0
    [ $SECONDS -ge $end ] && return 1
    sleep 0.2
  done
}
agent_command() { "$agent" "$@" >>"$out/commands" 2>&1; }
active_class_is() { [ "$("$probe" active-class)" = "$1" ]; }
# The same while the agent runs, whom alone its extension tells.
rig_focus_is() { [ "$(rig FocusedClass)" = "('$1',)" ]; }
pointer_is() { [ "$("$probe" pointer)" = "$1 $2" ]; }
clicked_at() { poll 10 grep -q "clicked $2 $3" "$out/window-$1"; }
spotlight_follows() {
  agent_command --run 18 && overlay_shows spotlight 500 350 && overlay_shows spotlight 900 500 &&
    rig Click >/dev/null && clicked_at velt-pattern 900 500 &&
    agent_command --run 18 && overlay_shows clear 900 500
}
pointer_dot_follows() {
  agent_command --press 18 && overlay_shows dot 300 200 && overlay_shows dot 1000 600 &&
    agent_command --release 18 && overlay_shows clear 1000 600
}
magnifier_follows() {
  agent_command --run 19 && overlay_shows magnifier 640 360 && overlay_shows magnifier 30 700 &&
    agent_command --run 19 && overlay_shows clear 30 700
}
# With the lens open and the pointer still, the window beneath changes.
lens_is_live() {
  local monitor
  monitor=$(monitor_at 640 360)
  recoloured_plain "$pattern" "$monitor" && agent_command --run 19 &&
    overlay_shows magnifier 640 360 && magnifier_is_live "$pattern" 640 360 "$monitor" &&
    agent_command --run 19 && overlay_shows clear 640 360
}
second_monitor() {
  local second
  second=$(rig Monitors | grep -o '([0-9]*, [0-9]*, [0-9]*, [0-9]*)' | sed -n 2p | tr -d '(),')
  [ -n "$second" ] || { echo "    no second monitor"; return 1; }
  set -- $second
  agent_command --run 18 && overlay_shows spotlight 600 300 &&
    overlay_shows spotlight $(($1 + 300)) $(($2 + 400)) && overlay_shows spotlight 600 300 &&
    agent_command --run 18 && overlay_shows clear 600 300
}
gnome_overlay_checks() {
  profiles_for_two || { fail "profiles for two applications"; return; }
  VELT_DEBUG=1 VELT_LOG_STDERR=1 "$agent" >"$out/agent.log" 2>&1 &
  local pid=$!
  children+=($pid)
  # Its first look for mice, which hides the overlay when it finds none.
  poll 30 agent_call -m org.freedesktop.DBus.Peer.Ping && poll 20 extension_present on &&
    poll 10 grep -q 'device change:' "$out/agent.log" ||
    { fail "the agent starts and enables its extension"; return; }
  rig Settle >/dev/null
  pointer_to 400 300
  "$probe" window velt-pattern fullscreen >"$out/window-velt-pattern" 2>&1 &
  pattern=$!
  children+=($pattern)
  # GNOME Shell 50 gives no focus to a window opened without an activation
  # token, as these are: the rig activates each, as a click on it would.
  poll 20 grep -q shown "$out/window-velt-pattern" && rig Focus velt-pattern >/dev/null &&
    poll 10 rig_focus_is velt-pattern && plain_picture ||
    { fail "a fullscreen window shows the test pattern"; return; }
  overlay_check "spotlight (18): above the fullscreen window, follows the pointer, lets clicks through" \
    spotlight_follows
  overlay_check "pointer dot (18 held): follows the pointer" pointer_dot_follows
  overlay_check "magnifier (19): the screen enlarged about the pointer, to the edge" magnifier_follows
  overlay_check "magnifier (19): the lens shows the screen live, never itself" lens_is_live
  overlay_check "two monitors: the spotlight follows the pointer onto the second and back" second_monitor
  check "profiles: the focus reaches the agent as the shell tells it, the profile in use follows, the windows open are listed" \
    eval "profile_is 'All applications' && window files-window && rig Focus files-window >/dev/null &&
      pushed '$out/agent.log' files-window && profile_is files-window &&
      lists_open files-window velt-pattern"
  agent_call -m quorin.driver.velt.Agent.Activate exit >/dev/null
  poll 20 eval "! kill -0 $pid" || fail "the agent ends"
}

# --- KWin: its effects and its show-desktop mode ---------------------------
windowview() {  # on|off
  is "'windowview'" "$1" gdbus call --session -d org.kde.KWin -o /Effects \
    -m org.freedesktop.DBus.Properties.Get org.kde.kwin.Effects activeEffects
}
kwin_showing_desktop() {  # on|off
  local want=false
  [ "$1" = on ] && want=true
  is "$want" on gdbus call --session -d org.kde.KWin -o /KWin \
    -m org.freedesktop.DBus.Properties.Get org.kde.KWin showingDesktop
}
# Plasma's launcher: its popup, an applet's popup (type 18), has the focus.
plasma_launcher() {  # on|off
  is "^org.kde.plasmashell 18 active$" "$1" "$probe" kwin-windows
}
# KWin 6 composites with OpenGL only on a DRM device (a GPU, or the kernel's
# vgem); on a machine without one it composites with QPainter, and then
# loads no window view and cancels every picture it is asked for. KWin 5
# used Mesa's software OpenGL without a device.
kwin_opengl() {
  gdbus call --session -d org.kde.KWin -o /KWin -m org.kde.KWin.supportInformation |
    grep -q 'Compositing Type: OpenGL'
}
no_opengl="KWin composites without OpenGL on a machine without a DRM device, as here; the test current_kwin_opengl gives it one"
# With its desktop entry the agent is let through to ScreenShot2, and KWin
# cancels the picture; the agent logs it and does nothing else.
cancelled() {
  timeout $((30 * patience)) "$probe" run 17 >"$out/probe" 2>&1
  grep -q '^route: none$' "$out/probe" &&
    grep -q 'KWin screen picture failed: Screenshot got cancelled' "$out/probe"
}
kwin_picture_cancelled() {
  bash "$(dirname "$0")/kwin_screenshot_entries.sh" "$agent" "$probe" && poll 20 cancelled
}
shortcut="dbus org.kde.kglobalaccel /component/kwin org.kde.kglobalaccel.Component.invokeShortcut"
# What KWin's OpenGL compositing shows: the window views, with a window open.
kwin_window_views() {
  check "window overview (1): present windows" toggles 1 "$shortcut(Expose)" windowview
  check "application windows (5): present windows of the application" \
    toggles 5 "$shortcut(ExposeClass)" windowview
}
# Neither the portal nor Spectacle is installed here: the agent takes the
# picture itself through ScreenShot2, as its desktop entry allows.
kwin_pictures() {
  check "KWin takes pictures for the programs its desktop entries allow" kwin_grants_screenshots
  check "screenshot (17): KWin's picture into Pictures" picture_appears "KWin screen picture"
}
kwin_checks() {
  window files-window || { fail "a window shows"; return; }
  if kwin_opengl; then
    kwin_window_views
  else
    check "window overview (1): KWin's shortcut Expose" run 1 "$shortcut(Expose)"
    check "application windows (5): KWin's shortcut ExposeClass" run 5 "$shortcut(ExposeClass)"
    skip "window overview (1), application windows (5): the window view shows" "$no_opengl"
  fi
  check "show desktop (4)" toggles 4 "$shortcut(Show Desktop)" kwin_showing_desktop
  check "application grid (30): Plasma's launcher opens and closes" \
    toggles 30 "dbus org.kde.plasmashell" plasma_launcher
  check "file manager (16)" file_manager_opens_the_working_folder
  if kwin_opengl; then
    kwin_pictures
  else
    check "screenshot (17): ScreenShot2 lets the agent in, KWin cancels, the agent logs it" \
      kwin_picture_cancelled
    skip "screenshot (17): KWin's picture into Pictures" "$no_opengl"
  fi
}

# --- sway: no overview, no grid, no show-desktop mode ------------------------
sway_checks() {
  for code in 1 4 5 30; do check "function $code: not offered, logged" run "$code" none; done
  check "screenshot (17): grim into Pictures" picture_appears "screenshot by grim"
  check "file manager (16)" file_manager_opens_the_working_folder
}

# --- X11 with openbox: EWMH ----------------------------------------------------
x11_showing_desktop() { is "= 1" "$1" xprop -root _NET_SHOWING_DESKTOP; }
active_is() {
  xdotool search --sync --limit 1 --class "$1" windowactivate --sync >/dev/null 2>&1
  [ "$("$probe" active-class)" = "$1" ]
}
x11_impress_is_seen() {
  window libreoffice-impress && active_is libreoffice-impress && active_is files-window
}
x11_checks() {
  window files-window || { fail "a window shows"; return; }
  check "show desktop (4): _NET_SHOWING_DESKTOP" toggles 4 _NET_SHOWING_DESKTOP x11_showing_desktop
  check "pointer anchor (18, 19, 25, 26): where the pointer is" eval "move_pointer 123 45 && pointer_is 123 45"
  for code in 1 5 30; do check "function $code: not offered, logged" run "$code" none; done
  check "screenshot (17): the screen into Pictures" picture_appears "X11 screen grab"
  check "file manager (16)" file_manager_opens_the_working_folder
  # The presentation keys act only while LibreOffice Impress is active.
  check "presentation keys (20-22): Impress is seen as the active window" x11_impress_is_seen
}

# --- The overlay: spotlight, pointer dot, magnifier ---------------------------
# Each desktop moves the pointer, clicks and takes a picture of what a person
# sees by its own means. On X11 the pointer moves as a device moves it (XTest
# relative motion): a program's warp is no device's motion.
move_pointer() {  # X Y
  case $desktop in
    sway) swaymsg -q seat seat0 cursor set "$1" "$2" ;;
    x11)
      eval "$(xdotool getmouselocation --shell)"
      xdotool mousemove_relative -- $(($1 - X)) $(($2 - Y))
      ;;
    kwin) kwin_input move "$1" "$2" ;;
  esac
}
click_pointer() {
  case $desktop in
    sway) swaymsg -q seat seat0 cursor press button1 && swaymsg -q seat seat0 cursor release button1 ;;
    x11) xdotool click 1 ;;
    kwin) kwin_input click ;;
  esac
}
take_picture() {  # FILE
  case $desktop in
    gnome) rig TakePicture "$1" >/dev/null ;;
    sway) grim -o "${output:-HEADLESS-1}" "$1" ;;
    x11) "$probe" grab "$1" ;;
    # shellcheck disable=SC2086
    kwin) "$probe" kwin-shot "$1" ${area:-} ;;
  esac
}
# --- A live lens --------------------------------------------------------------
# For any desktop whose overlay the pictures show: the full-screen pattern
# window (velt-desktop-probe window NAME fullscreen) changes its colour on
# SIGUSR1; PLAIN is a picture of the screen without the overlay, MONITOR
# "X Y WIDTH HEIGHT" the monitor the pattern fills.
# ms_now: the time in milliseconds.
ms_now() { echo $(($(date +%s%N) / 1000000)); }
# judge MODE PLAIN SHOT MONITOR X Y: the probe's verdict on a new picture.
judge() {
  take_picture "$out/$3.png" 2>"$out/probe" || return 1
  # shellcheck disable=SC2086
  "$probe" check "$1" "$out/$2.png" "$out/$3.png" $4 "$5" "$6" 310 >"$out/probe" 2>&1
}
# recoloured_plain PID MONITOR: with no overlay up, the screen in the
# pattern's second colour ($out/recoloured.png); then the first colour again,
# whatever happened, for the checks after.
recoloured_plain() {
  local pid=$1 monitor=$2 end=$((SECONDS + 20 * patience))
  kill -USR1 "$pid" || return 1
  until judge recoloured plain recoloured "$monitor" 0 0; do
    [ $SECONDS -ge $end ] && { kill -USR1 "$pid"; return 1; }
    sleep 0.1
  done
  kill -USR1 "$pid" && poll 20 judge clear plain screen "$monitor" 0 0
}
# magnifier_is_live PID X Y MONITOR: the lens is open at X Y and the pointer
# stays there. The pattern changes colour: the first picture whose screen
# around the lens has the new colour shows it in the lens as well, enlarged
# twice about the pointer: the lens shows what is beneath it in the same
# frame (a picture taken as the lens opened keeps the old colour), and never
# itself. Then the same back to the first colour, which the window keeps
# whatever the outcome. Needs recoloured_plain's picture.
magnifier_is_live() {
  local pid=$1 x=$2 y=$3 monitor=$4 plain start end
  for plain in recoloured plain; do
    kill -USR1 "$pid" || return 1
    end=$((SECONDS + 10 * patience))
    start=$(ms_now)
    until judge magnifier "$plain" screen "$monitor" "$x" "$y"; do
      if ! grep -q 'around the lens' "$out/probe" || [ $SECONDS -ge $end ]; then
        echo "    the lens does not show the $plain pattern: $(cat "$out/probe")"
        [ "$plain" = plain ] || kill -USR1 "$pid"
        return 1
      fi
    done
    echo "    the lens showed the $plain pattern $(($(ms_now) - start)) ms after the change"
  done
}

# KWin's pointer is moved by a fake device that lives as long as its
# connection: one probe keeps it for all the checks.
kwin_input() {
  if [ -z "${KWIN_INPUT_PID:-}" ]; then
    coproc KWIN_INPUT { "$probe" kwin-input 2>&1; }
    children+=($KWIN_INPUT_PID)
  fi
  local reply
  echo "$*" >&"${KWIN_INPUT[1]}" && read -r -t $((10 * patience)) reply <&"${KWIN_INPUT[0]}" && [ "$reply" = ok ]
}
# KWin grants its screenshots to the programs whose desktop entry asks for
# them, as the package's entry does for the agent.
kwin_grants_screenshots() {
  bash "$(dirname "$0")/kwin_screenshot_entries.sh" "$agent" "$probe" &&
    poll 20 "$probe" kwin-shot "$out/first.png"
}
# sees MODE X Y [recoloured]: a picture shows the overlay in MODE around X, Y
# (polled: the overlay fades in and out over 0.2 s), over the pattern or the
# recoloured pattern.
sees() {
  local mode=$1 x=$2 y=$3 end=$((SECONDS + 10 * patience))
  while :; do
    take_picture "$out/screen.png" 2>"$out/look" &&
      "$probe" look "$out/screen.png" "$x" "$y" "$mode" ${4:-} >"$out/look" 2>&1 && return 0
    if [ $SECONDS -ge $end ]; then
      sed 's/^/    /' "$out/look"
      tail -n 5 "$out/overlay-agent.log" | sed 's/^/    agent: /'
      [ -n "${VELT_RIG_KEEP:-}" ] && cp "$out/screen.png" "$VELT_RIG_KEEP/$desktop-$mode.png"
      return 1
    fi
    sleep 0.2
  done
}
# The agent for the overlay checks logs when its overlay is hidden
# (VELT_DEBUG): a fading overlay still counts as shown.
# Profiles for two applications, every button as for all applications: the
# profile in use is then seen to follow the focus (--status).
profiles_for_two() {
  local folder="$HOME/Documents/quorin.driver.velt"
  mkdir -p "$folder"
  python3 - "$(dirname "$0")/../../resources/button.plist" "$folder/button.plist" <<'EOF_PY'
import os, plistlib, sys
source = sys.argv[2] if os.path.exists(sys.argv[2]) else sys.argv[1]
with open(source, 'rb') as f:
    settings = plistlib.load(f)
settings['profiles'] = [{'application': 'libreoffice-impress'}, {'application': 'files-window'}]
with open(sys.argv[2], 'wb') as f:
    plistlib.dump(settings, f)
EOF_PY
}
overlay_agent_up() {
  profiles_for_two || return 1
  VELT_DEBUG=1 VELT_LOG_STDERR=1 "$agent" >"$out/overlay-agent.log" 2>&1 &
  children+=($!)
  overlay_agent=$!
  poll 30 agent_call -m org.freedesktop.DBus.Peer.Ping &&
    # Its first look for mice, which hides the overlay when it finds none.
    poll 10 grep -q 'device change:' "$out/overlay-agent.log"
}
hidden_count() { grep -c 'overlay: hidden' "$out/overlay-agent.log"; }
hidden=1  # hidings before the pointer dot's: the spotlight's, and one on sway's second output
# hides COUNT: the overlay was hidden for the COUNTth time.
hides() { poll 10 eval "[ \$(hidden_count) -ge $1 ]"; }
agent_do() { "$agent" "$@" >/dev/null; }
spotlight_follows_the_pointer() {
  move_pointer 400 300 && agent_do --run 18 && sees spotlight 400 300 &&
    move_pointer 700 420 && sees spotlight 700 420
}
a_click_reaches_the_window() {
  click_pointer && poll 10 grep -q '^clicked 700 420$' "$out/window-pattern"
}
spotlight_goes() { agent_do --run 18 && sees clear 700 420 && hides 1; }
dot_follows_the_pointer() {
  agent_do --press 18 && sees dot 700 420 && move_pointer 300 200 && sees dot 300 200 &&
    agent_do --release 18 && sees clear 300 200 && hides $((hidden + 1))
}
lens_enlarges_around_the_pointer() {
  agent_do --run 19 && sees magnifier 300 200 && move_pointer 640 360 && sees magnifier 640 360 &&
    agent_do --run 19 && sees clear 640 360 && hides $((hidden + 2))
}
# The lens keeps up with the screen: with the pointer still, the pattern
# under it changes colour, and 0.6 s later a picture shows the new colour
# enlarged about the pointer (a lens that showed itself, or its first
# picture, fails the judge).
lens_follows_the_screen() {
  local judged=1 recoloured=recoloured
  # The X11 overlay, without a compositing manager, paints the picture taken
  # as it opened around its lens.
  [ "$desktop" = x11 ] && recoloured=lens-recoloured
  agent_do --run 19 && sees magnifier 640 360 && kill -USR1 "$pattern" &&
    sleep "$(awk "BEGIN { print 0.6 * $patience }")" &&
    take_picture "$out/screen.png" &&
    { "$probe" look "$out/screen.png" 640 360 magnifier $recoloured >"$out/look" 2>&1 ||
      { sed 's/^/    /' "$out/look"; false; }; } && judged=0
  # The first colour again, for the checks after.
  kill -USR1 "$pattern"
  agent_do --run 19 && sees clear 640 360 && hides $((hidden + 3)) && return $judged
}
frozen_lens_said() { grep -c 'the magnifier shows the screen as it was when the lens opened' "$out/overlay-agent.log"; }
# Where the desktop cannot picture the screen without the overlay, the
# agent says so once, however often the lens opens.
frozen_lens_said_once() {
  agent_do --run 19 && sees magnifier 640 360 && agent_do --run 19 && sees clear 640 360 &&
    hides $((hidden + 3)) && [ "$(frozen_lens_said)" -eq 1 ]
}
live_lens_checks() {
  if [ "$(frozen_lens_said)" -gt 0 ]; then
    check "magnifier (19): $desktop cannot picture the screen without the overlay: said once" frozen_lens_said_once
    skip "magnifier (19): the lens keeps up with the screen" "$(grep -m1 -o 'overlay: .*lens opened' "$out/overlay-agent.log")"
  else
    check "magnifier (19): the lens keeps up with the screen, within $(awk "BEGIN { print 0.6 * $patience }") s, never showing itself" \
      lens_follows_the_screen
  fi
}
# KWin without pictures (above): the overlay's layer-shell surfaces in
# KWin's window list, the pointer as the script reports it to the agent
# (watched on the bus), clicks through the overlay, and the agent's log.
overlay_surfaces() { "$probe" kwin-windows | grep -c '^velt-mouse-assistant '; }
surfaces_are() { [ "$(overlay_surfaces)" -eq "$1" ]; }
reported() {  # X Y: the script's last report of the pointer to the agent
  grep -A2 'member=Pointer$' "$out/bus" | grep -o 'int32 [0-9-]*' | tail -n 2 | tr '\n' ' ' |
    grep -qx "int32 $1 int32 $2 "
}
pointer_reported() { move_pointer "$1" "$2" && poll 10 reported "$1" "$2"; }
outputs=${VELT_RIG_OUTPUTS:-1}
kwin_overlay_without_pictures() {
  move_pointer 400 300
  "$probe" window pattern fullscreen >"$out/window-pattern" 2>&1 &
  children+=($!)
  poll 20 grep -q shown "$out/window-pattern" || { fail "the full-screen pattern shows"; return; }
  overlay_agent_up || { fail "the agent starts for the overlay"; return; }
  dbus-monitor --session "interface='quorin.driver.velt.KWin',member='Pointer'" >"$out/bus" 2>&1 &
  children+=($!)
  poll 10 grep -q NameAcquired "$out/bus"
  check "spotlight (18): a layer-shell surface on each output" \
    eval "agent_do --run 18 && poll 10 surfaces_are $outputs"
  check "the KWin script tells the agent where the pointer goes while the overlay shows" \
    eval "pointer_reported 700 420 && pointer_reported 1500 300 && pointer_reported 700 420"
  check "spotlight (18): a click at the pointer reaches the window below" a_click_reaches_the_window
  check "spotlight (18): its surfaces go once it is toggled off" \
    eval "agent_do --run 18 && hides 1 && poll 10 surfaces_are 0"
  check "pointer dot (18 held): shown while held, gone on release" \
    eval "agent_do --press 18 && poll 10 surfaces_are $outputs && agent_do --release 18 && hides 2 &&
      poll 10 surfaces_are 0"
  check "magnifier (19): KWin's cancelled picture is logged, the lens shows and goes" \
    eval "agent_do --run 19 && poll 10 grep -q 'KWin gives no picture of the screen (Screenshot got cancelled)' \
      '$out/overlay-agent.log' && poll 10 surfaces_are $outputs && agent_do --run 19 && hides 3 &&
      poll 10 surfaces_are 0"
  skip "spotlight, pointer dot and magnifier as drawn, on either output" "$no_opengl"
  check "profiles: the focus reaches the agent as the desktop tells it, the profile in use follows, the windows open are listed" focus_is_pushed
  check "presentation keys (20): only for LibreOffice Impress" presentation_keys_gate
  kill -TERM "$overlay_agent"
  poll 20 eval "! kill -0 $overlay_agent" || fail "the agent ends"
}
overlay_checks() {
  # Plasma's panel stays above a full-screen window that lost the focus;
  # the pictures want the pattern alone, so windows cover the panel here.
  if [ "$desktop" = kwin ] && [ "$only" != overlay ]; then
    gdbus call --session -d org.kde.plasmashell -o /PlasmaShell -m org.kde.PlasmaShell.evaluateScript \
      'panels().forEach(function (p) { p.hiding = "windowscover"; })' >/dev/null
  fi
  # The first output: new windows open where the pointer is.
  move_pointer 400 300
  "$probe" window pattern fullscreen >"$out/window-pattern" 2>&1 &
  pattern=$!
  children+=($pattern)
  poll 20 grep -q shown "$out/window-pattern" || { fail "the full-screen pattern shows"; return; }
  overlay_agent_up || { fail "the agent starts for the overlay"; return; }
  check "spotlight (18): dims all but a hole on the pointer, above a full-screen window, follows the pointer" \
    spotlight_follows_the_pointer
  [ "$only" = overlay ] ||
    check "spotlight (18): a click at the pointer reaches the window below" a_click_reaches_the_window
  check "spotlight (18): nothing remains once it is toggled off" spotlight_goes
  if { [ "$desktop" = sway ] || [ "$desktop" = kwin ]; } && [ "$only" != overlay ]; then
    check "two outputs: the spotlight follows the pointer onto the second" follows_onto_a_second_output
    move_pointer 700 420
    hidden=2
  fi
  check "pointer dot (18 held): follows the pointer, goes on release" dot_follows_the_pointer
  check "magnifier (19): the lens shows the window enlarged twice about the pointer" \
    lens_enlarges_around_the_pointer
  live_lens_checks
  kill -TERM "$pattern"
  if [ "$only" != overlay ]; then
    check "profiles: the focus reaches the agent as the desktop tells it, the profile in use follows, the windows open are listed" focus_is_pushed
    check "presentation keys (20): only for LibreOffice Impress" presentation_keys_gate
  fi
  if [ "$desktop" = kwin ] && [ "$only" != overlay ]; then
    check "KWin's script: no pointer for anyone once the agent has gone" \
      kwin_script_stops_without_the_agent
  else
    kill -TERM "$overlay_agent"
    poll 20 eval "! kill -0 $overlay_agent" || fail "the agent ends"
  fi
}
# An agent that ends without unloading its KWin script (killed, crashed):
# the script stops sending the pointer once nothing has answered it for a
# while, and a program that takes the agent's name later hears nothing. The
# overlay's agent turns the spotlight on, so that the script follows the
# pointer (the checks above saw it do so), and is killed.
kwin_script_stops_without_the_agent() {
  local i
  agent_do --run 18 || return 1
  for i in $(seq 10); do move_pointer $((300 + i)) 300; done
  sleep 1
  kill -KILL "$overlay_agent"
  wait "$overlay_agent" 2>/dev/null
  for i in $(seq 120); do move_pointer $((300 + i)) 300; done
  sleep 2.5
  for i in $(seq 5); do move_pointer $((500 + i)) 300; done
  python3 "$(dirname "$0")/agent_stand_in.py" >"$out/stand-in" 2>&1 &
  local stand_in=$!
  children+=($stand_in)
  poll 10 grep -q ready "$out/stand-in" || return 1
  for i in $(seq 20); do move_pointer $((600 + i)) 400; done
  sleep 0.5
  kill "$stand_in"
  wait "$stand_in" 2>/dev/null
  ! grep -q '^Pointer' "$out/stand-in" || { echo "    the script still sends the pointer"; return 1; }
}
# A second output right of the first, showing a pattern of its own; the
# pointer goes over, and the spotlight with it.
follows_onto_a_second_output() {
  [ "$desktop" = kwin ] && { kwin_second_output; return; }
  swaymsg -q create_output && swaymsg -q output HEADLESS-1 position 0 0 &&
    swaymsg -q output HEADLESS-2 resolution 1280x720 position 1280 0 &&
    swaymsg -q focus output HEADLESS-2 || return 1
  "$probe" window pattern2 fullscreen >"$out/window-pattern2" 2>&1 &
  children+=($!)
  poll 20 grep -q shown "$out/window-pattern2" || return 1
  swaymsg -q '[app_id="pattern2"] move container to output HEADLESS-2' &&
    swaymsg -q '[app_id="pattern2"] fullscreen enable' &&
    swaymsg -q '[app_id="pattern"] fullscreen enable' || return 1
  move_pointer 400 300 && agent_do --run 18 && output=HEADLESS-1 sees spotlight 400 300 &&
    move_pointer 1780 360 && output=HEADLESS-2 sees spotlight 500 360 &&
    output=HEADLESS-1 sees clear 400 300 &&
    agent_do --run 18 && output=HEADLESS-2 sees clear 500 360 && hides 2
}
# KWin starts with two outputs side by side (VELT_RIG_OUTPUTS). A script
# sends the second pattern's window there: a Wayland client cannot choose.
kwin_second_output() {
  "$probe" window pattern2 fullscreen >"$out/window-pattern2" 2>&1 &
  children+=($!)
  poll 20 grep -q shown "$out/window-pattern2" || return 1
  # KWin 6 lists windows where KWin 5 listed clients, and sends them to an
  # output where KWin 5 took its number.
  cat >"$out/to-second.js" <<'EOF'
var windows = workspace.windowList ? workspace.windowList() : workspace.clientList();
for (var i = 0; i < windows.length; i++) {
    if (String(windows[i].resourceClass) == "pattern2")
        workspace.sendClientToScreen(windows[i], workspace.screens ? workspace.screens[1] : 1);
}
EOF
  local id
  id=$(gdbus call --session -d org.kde.KWin -o /Scripting -m org.kde.kwin.Scripting.loadScript \
    "$out/to-second.js" velt-rig-to-second | grep -o '[0-9]\+' | head -n 1) &&
    { gdbus call --session -d org.kde.KWin -o "/Scripting/Script$id" -m org.kde.kwin.Script.run ||
      gdbus call --session -d org.kde.KWin -o "/$id" -m org.kde.kwin.Script.run; } >/dev/null 2>&1 ||
    return 1
  move_pointer 400 300 && agent_do --run 18 && sees spotlight 400 300 &&
    move_pointer 1780 360 && area="1280 0 1280 720" sees spotlight 500 360 &&
    sees clear 400 300 &&
    agent_do --run 18 && area="1280 0 1280 720" sees clear 500 360 && hides 2
}
# The agent's decision (keys cannot be read here: no uinput): code 20 finds
# the focused application as the desktop tells it.
decides() {  # APP
  local before
  before=$(grep -c 'focused application:' "$out/overlay-agent.log")
  agent_do --run 20 &&
    poll 10 eval "[ \$(grep -c 'focused application:' '$out/overlay-agent.log') -gt $before ]" &&
    grep 'focused application:' "$out/overlay-agent.log" | tail -n 1 | grep -q ": $1\$"
}
focus() {  # APP: shows a window of that app id or class; it takes the focus
  window "$1" || return 1
  case $desktop in
    sway) swaymsg -q "[app_id=\"$1\"] focus" ;;
    x11) xdotool search --sync --limit 1 --class "$1" windowactivate --sync >/dev/null 2>&1 ;;
  esac
}
# Each change of the focus reaches the agent as the desktop tells it, no
# button pressed: what its profiles follow, by desktop entry id.
pushed() {  # LOG APP
  poll 10 eval "grep 'application in focus:' '$1' | tail -n 1 | grep -q ': $2\$'"
}
profile_is() { "$agent" --status 2>/dev/null | grep -qx "profile: $1"; }
# lists_open APP...: --status names each among the applications with windows
# open, as "Add application…" offers them.
lists_open() {
  local open app
  open=$("$agent" --status 2>/dev/null | sed -n 's/^open: //p')
  for app in "$@"; do
    case ", $open, " in
      *", $app, "*) ;;
      *) echo "    open: $open"; return 1 ;;
    esac
  done
}
focus_is_pushed() {
  focus libreoffice-impress && pushed "$out/overlay-agent.log" libreoffice-impress &&
    profile_is libreoffice-impress &&
    focus files-window && pushed "$out/overlay-agent.log" files-window &&
    profile_is files-window && poll 10 lists_open libreoffice-impress files-window
}
presentation_keys_gate() {
  focus libreoffice-impress && poll 10 decides libreoffice-impress &&
    focus files-window && poll 10 decides files-window
}

# --- The agent itself ------------------------------------------------------------
agent_call() {
  gdbus call --session -d quorin.driver.velt -o /quorin/driver/velt "$@"
}

# --- The tray ----------------------------------------------------------------
# Plasma's panel and swaybar show status notifier items; the agent's is found
# on the watcher by its process. Its menu offers the agent's items, and
# activating it (what a click in the tray does) opens the window.
watcher() {
  gdbus call --session -d org.kde.StatusNotifierWatcher -o /StatusNotifierWatcher "$@"
}
item=""
agent_item() {  # PID: sets item to "SERVICE PATH"
  local entry service pid
  for entry in $(watcher -m org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierWatcher \
      RegisteredStatusNotifierItems | grep -o "'[^']*'" | tr -d "'"); do
    service=${entry%%/*}
    pid=$(gdbus call --session -d org.freedesktop.DBus -o /org/freedesktop/DBus \
      -m org.freedesktop.DBus.GetConnectionUnixProcessID "$service" | sed 's/.*uint32 \([0-9]*\).*/\1/')
    if [ "$pid" = "$1" ]; then
      item="$service /${entry#*/}"
      [ "$entry" = "$service" ] && item="$service /StatusNotifierItem"
      return 0
    fi
  done
  return 1
}
sni() {
  local service=${item% *} path=${item#* }
  gdbus call --session -d "$service" -o "$path" "$@"
}
# The item's menu holds each of the agent's menu texts.
tray_menu_offers_the_items() {
  local menu text
  menu=$(sni -m org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierItem Menu |
    grep -o "'/[^']*'" | tr -d "'")
  [ -n "$menu" ] || { echo "    no menu"; return 1; }
  local service=${item% *}
  gdbus call --session -d "$service" -o "$menu" -m com.canonical.dbusmenu.GetLayout -- 0 -1 '["label"]' \
    >"$out/tray-menu" || return 1
  agent_call -m org.freedesktop.DBus.Properties.Get quorin.driver.velt.Agent MenuItems |
    grep -o "('[a-z]*', '[^']*')" | sed "s/.*, '\(.*\)')/\1/" >"$out/menu-texts"
  [ -s "$out/menu-texts" ] || return 1
  while read -r text; do
    grep -qF "'$text'" "$out/tray-menu" || { echo "    not in the tray's menu: $text"; return 1; }
  done <"$out/menu-texts"
}
settings_window_shows() {
  case $desktop in
    sway) swaymsg -t get_tree | grep -q '"app_id": "quorin.driver.velt"' ;;
    kwin) "$probe" kwin-windows | grep -q '^quorin.driver.velt ' ;;
  esac
}
tray_item_works() {  # PID
  poll 20 agent_item "$1" || { echo "    the agent's item is not on the watcher"; return 1; }
  tray_menu_offers_the_items || return 1
  sni -m org.kde.StatusNotifierItem.Activate 0 0 >/dev/null && poll 10 settings_window_shows
}
# X11: trayer's tray embeds the agent's icon, and a click on it opens the
# window.
tray_icon_embedded() {
  local tray icon
  for tray in $(xdotool search --class trayer); do
    for icon in $(xdotool search --onlyvisible --class velt-mouse-assistant); do
      xwininfo -tree -id "$tray" | grep -q "$(printf '0x%x' "$icon") " && { echo "$icon"; return 0; }
    done
  done
  return 1
}
visible_windows() { xdotool search --onlyvisible --class velt-mouse-assistant | wc -l; }
x11_tray_icon_works() {
  local icon
  poll 20 tray_icon_embedded || { echo "    no icon in the tray"; return 1; }
  icon=$(tray_icon_embedded)
  [ "$(visible_windows)" -eq 1 ] || { echo "    a window shows before the click"; return 1; }
  xdotool mousemove --window "$icon" 4 4 click 1 && poll 10 eval '[ "$(visible_windows)" -ge 2 ]'
}
# Plasma: an agent started before the panel (at log-in, the usual order)
# still gets its item into the tray once the panel comes.
kded=$(basename "$(command -v kded6 || echo kded5)")
plasma_down() {
  pkill -x plasmashell
  pkill -x "$kded"
  poll 20 eval '! pgrep -x plasmashell && ! pgrep -x $kded'
}
plasma_up() {
  "$kded" >>"$out/kded.log" 2>&1 &
  children+=($!)
  plasmashell --no-respawn >>"$out/plasmashell.log" 2>&1 &
  children+=($!)
}
# The agent starts and offers its menu: on GNOME through the extension's
# top-bar menu, which it enables itself; elsewhere in the desktop's tray,
# from which its window opens. It ends with status 0: on GNOME through the
# menu's exit item, elsewhere on SIGTERM.
agent_runs() {
  if [ "$desktop" = kwin ]; then plasma_down || return 1; fi
  "$agent" >"$out/agent.log" 2>&1 &
  local pid=$!
  children+=($pid)
  poll 30 agent_call -m org.freedesktop.DBus.Peer.Ping || return 1
  agent_call -m org.freedesktop.DBus.Properties.Get quorin.driver.velt.Agent MenuItems >"$out/menu" &&
    grep -q "('settings', '[^']" "$out/menu" && grep -q "('uninstall', '[^']" "$out/menu" &&
    grep -q "('exit', '[^']" "$out/menu" || { echo "    menu: $(cat "$out/menu")"; return 1; }
  if [ "$desktop" = gnome ]; then
    poll 10 shell_view indicator on || return 1
  fi
  case $desktop in
    kwin)
      plasma_up
      tray_item_works $pid || return 1
      ;;
    sway) tray_item_works $pid || return 1 ;;
    x11)
      x11_tray_icon_works || return 1
      agent_call -m quorin.driver.velt.Agent.Activate settings >/dev/null || return 1
      ;;
  esac
  if [ "$desktop" = gnome ]; then
    agent_call -m quorin.driver.velt.Agent.Activate exit >/dev/null || return 1
  else
    kill -TERM $pid
  fi
  poll 20 eval "! kill -0 $pid" || return 1
  wait $pid
  local status=$?
  [ $status -eq 0 ] || { sed 's/^/    /' "$out/agent.log"; return 1; }
  [ "$desktop" != gnome ] || poll 10 shell_view indicator off
}

# --- GNOME Shell newer than the extension ----------------------------------------
# The shell keeps an extension that does not declare its version out; the
# agent names the version in its log, and the rest of it runs.
outdated_extension_named() {
  local version
  version=$(gnome-shell --version | grep -o '[0-9][0-9.]*' | head -n 1)
  VELT_LOG_STDERR=1 "$agent" >"$out/agent.log" 2>&1 &
  local pid=$!
  children+=($pid)
  poll 30 grep -q "GNOME Shell $version: the agent's extension declares only" "$out/agent.log" &&
    extension_present off && agent_call -m quorin.driver.velt.Agent.Activate exit >/dev/null &&
    poll 20 eval "! kill -0 $pid" || { sed 's/^/    /' "$out/agent.log"; return 1; }
}
if [ "$only" = outdated ]; then
  check "a shell newer than the extension: the agent names it in its log" outdated_extension_named
  echo "$passed passed, $failed failed"
  [ $failed -eq 0 ]
  exit
fi

# KWin alone on a slow machine: what needs its OpenGL compositing.
if [ "$only" = overlay ]; then
  if kwin_opengl; then
    pass "KWin composites with OpenGL"
    kwin_pictures
    window files-window && kwin_window_views
    overlay_checks
  else
    fail "KWin composites with OpenGL"
  fi
  echo "$passed passed, $failed failed, $skipped skipped"
  [ $failed -eq 0 ]
  exit
fi

case $desktop in
  gnome) gnome_checks ;;
  kwin) kwin_checks; if kwin_opengl; then overlay_checks; else kwin_overlay_without_pictures; fi ;;
  sway) sway_checks; overlay_checks ;;
  x11) x11_checks; overlay_checks ;;
esac
check "the agent starts, offers its menu, and ends" agent_runs
[ "$desktop" = gnome ] && gnome_overlay_checks

echo "$passed passed, $failed failed, $skipped skipped"
[ $failed -eq 0 ]
