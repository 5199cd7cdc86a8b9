#!/usr/bin/env bash
# Starts a real desktop headless, runs a command inside it as an unprivileged
# user, and stops everything it started by process id.
#
# usage: desktop_rig.sh DESKTOP [--extension DIR] -- COMMAND [ARGS...]
#   DESKTOP    gnome (gnome-shell --headless, private system bus with
#              python-dbusmock's logind and UPower), kwin (KDE Plasma:
#              kwin_wayland --virtual with Plasma's shell, its panel and
#              tray), sway (headless backend, pixman renderer, swaybar with
#              its tray) or x11 (Xvfb with openbox and trayer's tray)
#   --extension  a GNOME Shell extension folder, installed for the test user
#              and enabled before the shell starts; the rig waits for the
#              bus name the extension owns once the shell has started up
#
# On GNOME the rig also installs its own extension (gnome-rig/, tests only):
# pictures of the screen, pointer moves and clicks inside the shell, on the
# bus name quorin.driver.velt.Rig. VELT_RIG_MONITORS lists the shell's
# virtual monitors, left to right (default "1280x720"). The command finds the
# UUID of the extension given in VELT_RIG_EXTENSION.
#
# The command runs as the user velt-test (or VELT_RIG_USER; created when missing: compositors
# refuse to run as root) with a fresh HOME and XDG_RUNTIME_DIR, and finds the
# desktop through the usual variables: WAYLAND_DISPLAY or DISPLAY,
# DBUS_SESSION_BUS_ADDRESS, XDG_CURRENT_DESKTOP, QT_QPA_PLATFORM, SWAYSOCK.
# VELT_RIG_DESKTOP names the desktop. VELT_RIG_SIZE sets the screen's size
# on sway, KWin and X11 (1280x720 by default); VELT_RIG_OUTPUTS how many of
# them KWin has, side by side (1 by default; the command gets it too).
# VELT_RIG_KWIN_ONLY=1 starts KWin without Plasma's shell, for checks that
# need no panel, tray or launcher. VELT_RIG_PATIENCE (a whole number, 1 by
# default) multiplies the rig's waits for the desktop, on a slow machine.
# VELT_RIG_KEEP names a folder (made, and given to the user) where the checks
# keep the pictures of the screen they judged wrong.
#
# Exit status: the command's; 77 when this machine cannot host the desktop
# (not root, a program missing), which is a failure instead under CI=true.
set -uo pipefail

desktop=${1:-}
shift || true
extension=""
while [ $# -gt 0 ] && [ "$1" != "--" ]; do
  case $1 in
    --extension) extension=$2; shift 2 ;;
    *) echo "desktop_rig: unknown option $1" >&2; exit 2 ;;
  esac
done
[ "${1:-}" = "--" ] && shift
[ $# -gt 0 ] || { echo "usage: desktop_rig.sh gnome|kwin|sway|x11 [--extension DIR] -- COMMAND..." >&2; exit 2; }

# Another user (VELT_RIG_USER) keeps runs of other worktrees on this machine
# apart: each ends whatever its user left running.
user=${VELT_RIG_USER:-velt-test}
size=${VELT_RIG_SIZE:-1280x720}
say() { echo "desktop_rig[$desktop]: $*" >&2; }

cannot_host() {
  if [ "${CI:-}" = true ]; then
    say "cannot start the desktop here: $*"
    exit 1
  fi
  say "skipped: $*"
  exit 77
}

case $desktop in
  gnome) needs=(gnome-shell dbus-daemon unshare gsettings gdbus) ;;
  # Plasma 6 has kded6 where Plasma 5 had kded5.
  kwin) needs=(kwin_wayland dbus-daemon)
    [ "${VELT_RIG_KWIN_ONLY:-}" = 1 ] || needs+=(plasmashell "$(command -v kded6 || echo kded5)") ;;
  sway) needs=(sway swaymsg swaybar dbus-daemon) ;;
  x11) needs=(Xvfb openbox trayer xprop dbus-daemon) ;;
  *) echo "desktop_rig: unknown desktop '$desktop'" >&2; exit 2 ;;
esac
[ "$(id -u)" -eq 0 ] || cannot_host "the rig needs root to create its user and run as it"
for program in "${needs[@]}" setpriv setsid; do
  command -v "$program" >/dev/null || cannot_host "$program is not installed"
done
if [ "$desktop" = gnome ]; then
  /usr/bin/python3 -c 'import dbusmock' 2>/dev/null || cannot_host "python3-dbusmock is not installed"
fi
if ! id "$user" >/dev/null 2>&1; then
  useradd --create-home --user-group --shell /bin/bash "$user" || cannot_host "cannot create $user"
fi

# A rig that was killed before it could clean up (a test's time limit) left
# its desktop running as the user: end it, by process id.
leftover=$(ps -u "$user" -o pid=,stat= | awk '$2 !~ /^Z/ { print $1 }' | tr '\n' ' ')
if [ -n "$leftover" ]; then
  say "ending processes an earlier run left: $leftover"
  for pid in $leftover; do kill -KILL "$pid" 2>/dev/null; done
fi

scratch=$(mktemp -d /tmp/velt-rig.XXXXXX)
chmod 755 "$scratch"
home=$scratch/home
run=$scratch/run
mkdir -m 700 "$home" "$run"
chown "$user:" "$home" "$run"
bus=unix:path=$run/bus
groups=()  # process groups we started, each led by the pid we got

user_env=(setpriv --reuid="$user" --regid="$user" --init-groups env -i HOME="$home" XDG_RUNTIME_DIR="$run"
          PATH=/usr/bin:/bin:/usr/sbin:/sbin LANG=C.UTF-8 DBUS_SESSION_BUS_ADDRESS="$bus")
as_user() { "${user_env[@]}" "$@"; }

# Runs the command in a process group of its own and remembers the group.
start_group() {
  local log=$1
  shift
  setsid "$@" >"$scratch/$log" 2>&1 </dev/null &
  groups+=($!)
}

stop_all() {
  local status=$?
  local i pid
  for ((i = ${#groups[@]} - 1; i >= 0; i--)); do kill -TERM -- "-${groups[i]}" 2>/dev/null; done
  # Zombies count as gone: they wait for the wait below.
  live() { ps -e -o pgid=,stat= | awk -v g=" ${groups[*]} " 'index(g, " " $1 " ") && $2 !~ /^Z/' | grep -q .; }
  for _ in $(seq 100); do live || break; sleep 0.1; done
  for pid in "${groups[@]}"; do kill -KILL -- "-$pid" 2>/dev/null; done
  # Daemons that left our groups (the system bus forks) were noted by pid.
  for pid in $(cat "$scratch"/*.pid 2>/dev/null); do kill -KILL "$pid" 2>/dev/null; done
  wait 2>/dev/null
  # Anything else the user still runs came from this rig: name it and end
  # it. Plasma's shell starts its file helpers in sessions of their own; they
  # are the desktop's, not strays.
  pkill -KILL -u "$user" -x kioslave5 2>/dev/null
  pkill -KILL -u "$user" -x kioworker 2>/dev/null
  local stray
  stray=$(ps -u "$user" -o pid=,stat= | awk '$2 !~ /^Z/ { print $1 }' | tr '\n' ' ')
  if [ -n "$stray" ]; then
    say "stray processes after stopping: $(ps -o pid=,comm= -p "$(echo $stray | tr ' ' ,)" | tr '\n' ' ')"
    for pid in $stray; do kill -KILL "$pid" 2>/dev/null; done
    [ $status -eq 0 ] && status=1
  fi
  if [ $status -ne 0 ] && [ $status -ne 77 ]; then
    for log in "$scratch"/*.log; do
      [ -s "$log" ] || continue
      echo "---- $(basename "$log") (last lines)" >&2
      tail -n 40 "$log" >&2
    done
  fi
  rm -rf "$scratch"
  exit $status
}
trap stop_all EXIT
trap 'exit 1' INT TERM

# Polls condition (a command) every 0.1 s for at most seconds.
wait_for() {
  local seconds=$1 what=$2
  shift 2
  local start=$SECONDS
  seconds=$((seconds * ${VELT_RIG_PATIENCE:-1}))
  until "$@" >/dev/null 2>&1; do
    if ((SECONDS - start >= seconds)); then
      say "$what did not happen within ${seconds}s"
      return 1
    fi
    sleep 0.1
  done
}

started=$(date +%s%N)
start_bus() {
  start_group session-bus.log "${user_env[@]}" dbus-daemon --session --nofork --nopidfile \
    --address="$bus"
  wait_for 10 "the session bus" test -S "$run/bus" || exit 1
}

has_name() { as_user gdbus call --session -d org.freedesktop.DBus -o /org/freedesktop/DBus \
  -m org.freedesktop.DBus.NameHasOwner "$1" | grep -q true; }

environment=()
case $desktop in
  sway)
    start_bus
    # swaybar, as sway's own configuration starts it, with its tray.
    printf 'output HEADLESS-1 resolution %s\nbar {\n  position top\n}\n' "$size" >"$scratch/sway.conf"
    chmod 644 "$scratch/sway.conf"
    start_group compositor.log "${user_env[@]}" WLR_BACKENDS=headless WLR_RENDERER=pixman \
      WLR_LIBINPUT_NO_DEVICES=1 sway -c "$scratch/sway.conf"
    wait_for 20 "sway's IPC socket" compgen -G "$run/sway-ipc.*.sock" || exit 1
    sock=$(compgen -G "$run/sway-ipc.*.sock" | head -n 1)
    wait_for 20 "sway's output" as_user swaymsg -s "$sock" -t get_outputs
    wait_for 20 "swaybar's tray" has_name org.kde.StatusNotifierWatcher || exit 1
    environment=(WAYLAND_DISPLAY=wayland-1 SWAYSOCK="$sock" XDG_CURRENT_DESKTOP=sway
                 XDG_SESSION_TYPE=wayland QT_QPA_PLATFORM=wayland)
    ;;
  x11)
    start_bus
    # The X server, run as the user, wants root's socket folder.
    [ -d /tmp/.X11-unix ] || install -d -m 1777 /tmp/.X11-unix
    # The server picks a free display itself: other test runs on this
    # machine start X servers too. -noreset: a server resets as its last
    # client goes, and refuses whoever connects meanwhile (the window
    # manager, just after the first look at the root window).
    setsid "${user_env[@]}" Xvfb -displayfd 3 -screen 0 "${size}x24" -nolisten tcp -noreset \
      3>"$scratch/display" >"$scratch/xserver.log" 2>&1 </dev/null &
    groups+=($!)
    wait_for 20 "the X server" grep -q '[0-9]' "$scratch/display" || exit 1
    n=$(tr -dc 0-9 <"$scratch/display")
    wait_for 20 "the X server" as_user DISPLAY=":$n" xprop -root || exit 1
    start_group compositor.log "${user_env[@]}" DISPLAY=":$n" openbox
    wait_for 20 "openbox" sh -c "setpriv --reuid=$user --regid=$user --init-groups env DISPLAY=:$n xprop -root _NET_SUPPORTING_WM_CHECK | grep -q 'window id'" || exit 1
    # A tray, as a panel brings one: the older X11 kind, without a watcher
    # on the bus.
    start_group tray.log "${user_env[@]}" DISPLAY=":$n" trayer --edge top --align right \
      --widthtype request --height 32 --SetDockType true --SetPartialStrut true
    tray_owner() { as_user DISPLAY=":$n" xdotool search --class trayer; }
    wait_for 20 "trayer" tray_owner || exit 1
    environment=(DISPLAY=":$n" XDG_CURRENT_DESKTOP=openbox XDG_SESSION_TYPE=x11 QT_QPA_PLATFORM=xcb)
    ;;
  kwin)
    start_bus
    # The installed binary carries a file capability, and an unprivileged
    # exec of it is refused; a plain copy runs.
    cp /usr/bin/kwin_wayland "$scratch/kwin_wayland"
    # The tests move KWin's pointer through its fake input, which KWin
    # otherwise keeps for the programs it trusts.
    start_group compositor.log "${user_env[@]}" XDG_CURRENT_DESKTOP=KDE KWIN_WAYLAND_NO_PERMISSION_CHECKS=1 \
      "$scratch/kwin_wayland" --virtual --width "${size%x*}" --height "${size#*x}" --output-count "${VELT_RIG_OUTPUTS:-1}" --socket wayland-kwin --no-lockscreen
    wait_for 60 "KWin on the session bus" has_name org.kde.KWin || exit 1
    wait_for 20 "KWin's socket" test -S "$run/wayland-kwin" || exit 1
    kded=$(command -v kded6 || echo kded5)
    environment=(WAYLAND_DISPLAY=wayland-kwin XDG_CURRENT_DESKTOP=KDE XDG_SESSION_TYPE=wayland
                 QT_QPA_PLATFORM=wayland KDE_FULL_SESSION=true KDE_SESSION_VERSION=${kded#*kded}
                 VELT_RIG_OUTPUTS="${VELT_RIG_OUTPUTS:-1}")
    if [ "${VELT_RIG_KWIN_ONLY:-}" != 1 ]; then
      # Plasma's shell, as a Plasma session starts it: the activity manager
      # first (the shell will not load without it), kded (which keeps the
      # tray's watcher), then the shell with its default panel.
      activities=$(compgen -G "/usr/lib/*/libexec/kactivitymanagerd" || compgen -G /usr/libexec/kactivitymanagerd)
      activities=$(echo "$activities" | head -n 1)
      [ -n "$activities" ] || cannot_host "kactivitymanagerd is not installed"
      start_group activities.log "${user_env[@]}" "${environment[@]}" "$activities"
      start_group kded.log "${user_env[@]}" "${environment[@]}" "$kded"
      wait_for 30 "the activity manager" has_name org.kde.ActivityManager || exit 1
      start_group plasmashell.log "${user_env[@]}" "${environment[@]}" plasmashell --no-respawn
      panels() { as_user gdbus call --session -d org.kde.plasmashell -o /PlasmaShell \
        -m org.kde.PlasmaShell.evaluateScript 'print(panels().length)' | grep -q "'[1-9]"; }
      wait_for 60 "Plasma's panel" panels || exit 1
    fi
    ;;
  gnome)
    rig=$(dirname "$0")/gnome-rig
    rig_dir=$home/.local/share/gnome-shell/extensions/velt-rig@quorin.driver.velt
    uuids="'velt-rig@quorin.driver.velt'"
    mkdir -p "$rig_dir"
    shell_major=$(gnome-shell --version | grep -o '[0-9][0-9]*' | head -n 1)
    if [ "${shell_major:-0}" -ge 45 ]; then
      # GNOME Shell 45 and later load ES modules only: the rig's module is
      # its file with the imports and the entry point of es-module/. A tool
      # of the tests, it declares the shell that runs it.
      { cat "$rig/es-module/imports.js"
        sed -e '1,/^\/\/ end imports$/d' -e '/^\/\/ begin entry$/,$d' "$rig/velt-rig@quorin.driver.velt/extension.js"
        cat "$rig/es-module/entry.js"
      } >"$rig_dir/extension.js"
      sed "s/\"shell-version\": \[[^]]*\]/\"shell-version\": [\"$shell_major\"]/" \
        "$rig/velt-rig@quorin.driver.velt/metadata.json" >"$rig_dir/metadata.json"
    else
      cp "$rig"/velt-rig@quorin.driver.velt/* "$rig_dir/"
    fi
    if [ -n "$extension" ]; then
      uuid=$(basename "$extension")
      cp -r "$extension" "$home/.local/share/gnome-shell/extensions/$uuid"
      uuids="'$uuid', $uuids"
    fi
    chown -R "$user:" "$home/.local"
    start_bus
    as_user gsettings set org.gnome.shell enabled-extensions "[$uuids]" || exit 1
    # The pointer the tests move would open the overview in the top-left
    # corner on its way.
    as_user gsettings set org.gnome.desktop.interface enable-hot-corners false || exit 1
    monitors=""
    for monitor in ${VELT_RIG_MONITORS:-1280x720}; do monitors="$monitors --virtual-monitor $monitor"; done
    # GNOME Shell insists on a system bus with logind. It gets a private one
    # in a mount namespace, so nothing of the machine's own /run changes.
    cat >"$scratch/gnome.sh" <<EOF
mount -t tmpfs tmpfs /run/systemd 2>/dev/null || { mkdir -p /run/systemd && mount -t tmpfs tmpfs /run/systemd; }
mkdir -p /run/dbus && mount -t tmpfs tmpfs /run/dbus
dbus-daemon --system --nofork --nopidfile & echo \$! >"$scratch/system-bus.pid"
for _ in \$(seq 100); do [ -S /run/dbus/system_bus_socket ] && break; sleep 0.1; done
/usr/bin/python3 -m dbusmock --system --template logind >"$scratch/logind.log" 2>&1 &
/usr/bin/python3 -m dbusmock --system --template upower >"$scratch/upower.log" 2>&1 &
for name in org.freedesktop.login1 org.freedesktop.UPower; do
  for _ in \$(seq 100); do
    gdbus call --system -d org.freedesktop.DBus -o /org/freedesktop/DBus \
      -m org.freedesktop.DBus.NameHasOwner \$name 2>/dev/null | grep -q true && break
    sleep 0.1
  done
done
exec setpriv --reuid=$user --regid=$user --init-groups env -i HOME=$home XDG_RUNTIME_DIR=$run PATH=/usr/bin:/bin LANG=C.UTF-8 \
  DBUS_SESSION_BUS_ADDRESS=$bus XDG_CURRENT_DESKTOP=GNOME XDG_SESSION_TYPE=wayland \
  gnome-shell --headless --wayland --no-x11$monitors --wayland-display=wayland-gnome
EOF
    start_group compositor.log unshare -m --propagation private sh "$scratch/gnome.sh"
    wait_for 90 "GNOME Shell on the session bus" has_name org.gnome.Shell || exit 1
    if [ -n "$extension" ]; then
      # The extension takes its bus name once the shell has finished starting.
      wait_for 90 "the extension's bus name" has_name "${VELT_RIG_EXTENSION_NAME:-quorin.driver.velt.Shell}" || exit 1
    fi
    wait_for 90 "the rig's extension" has_name quorin.driver.velt.Rig || exit 1
    environment=(WAYLAND_DISPLAY=wayland-gnome XDG_CURRENT_DESKTOP=GNOME XDG_SESSION_TYPE=wayland
                 QT_QPA_PLATFORM=wayland VELT_RIG_EXTENSION="${uuid:-}")
    ;;
esac
say "started in $((($(date +%s%N) - started) / 1000000)) ms"

# The command gets a working folder of its own in the scratch folder, and a
# time limit below the test's, so that the rig always stops the desktop.
mkdir -m 755 "$scratch/work"
chown "$user:" "$scratch/work"
cd "$scratch/work"
[ -z "${VELT_RIG_KEEP:-}" ] || install -d -o "$user" "$VELT_RIG_KEEP"
timeout --kill-after=10 "${VELT_RIG_TIME_LIMIT:-240}" "${user_env[@]}" VELT_RIG_DESKTOP="$desktop" "${environment[@]}" \
  ${CI:+CI=$CI} ${ASAN_OPTIONS:+ASAN_OPTIONS=$ASAN_OPTIONS} ${UBSAN_OPTIONS:+UBSAN_OPTIONS=$UBSAN_OPTIONS} \
  ${LSAN_OPTIONS:+LSAN_OPTIONS=$LSAN_OPTIONS} ${VELT_RIG_KEEP:+VELT_RIG_KEEP=$VELT_RIG_KEEP} \
  ${VELT_RIG_PATIENCE:+VELT_RIG_PATIENCE=$VELT_RIG_PATIENCE} "$@"
