#!/usr/bin/env bash
# The agent's KWin script in the KWin of Debian 13 (Plasma 6), whose
# scripting API speaks of windows where KWin 5 spoke of clients. The agent
# itself is built for Debian 12 and does not run there; its script does.
#
# A Debian 13 root made with debootstrap (kept in CACHE, made once) holds
# KWin and a small terminal. Inside it, in a mount namespace of its own and as
# an unprivileged user, KWin runs headless with the script loaded, and a
# stand-in for the agent on the session bus records what the script tells
# it: the focused window's class when a window opens, and the pointer once
# the overlay asks to follow it.
#
# usage: newer_kwin.sh SCRIPT CACHE
# Exit status 77 when this machine cannot make the root (not root, no
# debootstrap, no network); a failure instead under CI=true.
set -uo pipefail
script=$1
cache=$2
root=$cache/debian13-kwin
uid=59123
packages="kwin-wayland dbus libglib2.0-bin python3-dbus python3-gi foot fonts-dejavu-core procps"
mirror=${VELT_DEBIAN_MIRROR:-http://deb.debian.org/debian}
say() { echo "newer_kwin: $*" >&2; }
cannot_host() {
  if [ "${CI:-}" = true ]; then say "cannot run KWin 6 here: $*"; exit 1; fi
  say "skipped: $*"
  exit 77
}
[ "$(id -u)" -eq 0 ] || cannot_host "making the Debian 13 root needs root"
command -v debootstrap >/dev/null || cannot_host "debootstrap is not installed"

# Runs COMMAND in the root with /proc, /dev and /sys, in a mount namespace
# that takes the mounts with it when it ends.
in_root() {
  unshare -m --propagation private sh -c '
    r=$1; shift
    mount -t proc proc "$r/proc" && mount --rbind /dev "$r/dev" && mount --rbind /sys "$r/sys" &&
      exec chroot "$r" "$@"' sh "$1" "${@:2}"
}

if [ "$(cat "$root/.velt-packages" 2>/dev/null)" != "$packages" ]; then
  say "making a Debian 13 root with KWin in $root (once; a few minutes)"
  rm -rf "$root" "$root.part"
  mkdir -p "$cache"
  debootstrap --variant=minbase trixie "$root.part" "$mirror" >"$cache/debian13-debootstrap.log" 2>&1 ||
    { tail -n 20 "$cache/debian13-debootstrap.log" >&2; cannot_host "debootstrap failed (no network?)"; }
  cp /etc/resolv.conf "$root.part/etc/resolv.conf"
  # shellcheck disable=SC2086
  in_root "$root.part" env DEBIAN_FRONTEND=noninteractive PATH=/usr/sbin:/usr/bin:/sbin:/bin \
    apt-get install -y -qq --no-install-recommends $packages >"$cache/debian13-apt.log" 2>&1 ||
    { tail -n 20 "$cache/debian13-apt.log" >&2; cannot_host "installing KWin in the Debian 13 root failed"; }
  in_root "$root.part" /usr/sbin/useradd --uid $uid --create-home velt-test || exit 1
  echo "$packages" >"$root.part/.velt-packages"
  mv "$root.part" "$root"
fi
say "KWin $(in_root "$root" dpkg-query -W -f='${Version}' kwin-wayland)"

cp "$script" "$root/tmp/velt-overlay.js"
chmod 644 "$root/tmp/velt-overlay.js"
cat >"$root/tmp/agent-stand-in.py" <<'PY'
# Owns the agent's name and prints each call the script makes.
import dbus, dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib
DBusGMainLoop(set_as_default=True)
bus = dbus.SessionBus()
name = dbus.service.BusName("quorin.driver.velt", bus)
class KWinBridge(dbus.service.Object):
    @dbus.service.method("quorin.driver.velt.KWin", in_signature="ii")
    def Pointer(self, x, y): print("Pointer %d %d" % (x, y), flush=True)
    @dbus.service.method("quorin.driver.velt.KWin", in_signature="ss")
    def ActiveWindow(self, cls, desktop_file): print("ActiveWindow %s %s" % (cls, desktop_file), flush=True)
KWinBridge(bus, "/quorin/driver/velt/KWin")
print("ready", flush=True)
GLib.MainLoop().run()
PY
cat >"$root/tmp/newer-kwin-checks.sh" <<'SH'
set -u
run=$(mktemp -d)
export XDG_RUNTIME_DIR=$run DBUS_SESSION_BUS_ADDRESS=unix:path=$run/bus LANG=C.UTF-8
trap 'kill $(jobs -p) 2>/dev/null; wait 2>/dev/null' EXIT
poll() {  # SECONDS COMMAND...
  local end=$((SECONDS + $1)); shift
  until "$@" >/dev/null 2>&1; do [ $SECONDS -ge $end ] && return 1; sleep 0.2; done
}
dbus-daemon --session --nofork --nopidfile --address="$DBUS_SESSION_BUS_ADDRESS" &
poll 10 test -S "$run/bus" || { echo "no session bus"; exit 1; }
# KWin loads its platform plugin only into a program named kwin_wayland; the
# installed one carries a file capability an unprivileged exec is refused.
mkdir "$run/bin" && cp /usr/bin/kwin_wayland "$run/bin/kwin_wayland"
XDG_CURRENT_DESKTOP=KDE "$run/bin/kwin_wayland" --virtual --width 1280 --height 720 \
  --socket wayland-kwin --no-lockscreen >"$run/kwin.log" 2>&1 &
has_name() { gdbus call --session -d org.freedesktop.DBus -o /org/freedesktop/DBus \
  -m org.freedesktop.DBus.NameHasOwner "$1" | grep -q true; }
poll 60 has_name org.kde.KWin || { echo "KWin did not start"; tail -n 20 "$run/kwin.log"; exit 1; }
python3 /tmp/agent-stand-in.py >"$run/calls" 2>&1 &
poll 10 grep -q ready "$run/calls" || { echo "no stand-in for the agent"; cat "$run/calls"; exit 1; }
id=$(gdbus call --session -d org.kde.KWin -o /Scripting -m org.kde.kwin.Scripting.loadScript \
  /tmp/velt-overlay.js velt-mouse-assistant | grep -o '[0-9]\+' | head -n 1)
gdbus call --session -d org.kde.KWin -o "/Scripting/Script$id" -m org.kde.kwin.Script.run >/dev/null ||
  { echo "KWin did not run the script"; exit 1; }
failed=0
check() {  # WHAT PATTERN
  if poll 20 grep -q "$2" "$run/calls"; then echo "ok   kwin 6: $1"; else
    echo "FAIL kwin 6: $1"; failed=1; fi
}
WAYLAND_DISPLAY=wayland-kwin foot >"$run/foot.log" 2>&1 &
check "the focused window's class when a window opens" '^ActiveWindow foot foot$'
gdbus call --session -d org.kde.kglobalaccel -o /component/kwin \
  -m org.kde.kglobalaccel.Component.invokeShortcut velt-follow-pointer >/dev/null
check "the pointer once the overlay follows it" '^Pointer [0-9]* [0-9]*$'
if [ $failed -ne 0 ]; then
  sed 's/^/    calls: /' "$run/calls"
  grep -i 'velt-overlay\|error' "$run/kwin.log" | sed 's/^/    kwin: /'
fi
exit $failed
SH
chmod 644 "$root/tmp/agent-stand-in.py" "$root/tmp/newer-kwin-checks.sh"
timeout --kill-after=10 120 unshare -m --propagation private sh -c '
  r=$1
  mount -t proc proc "$r/proc" && mount --rbind /dev "$r/dev" && mount --rbind /sys "$r/sys" &&
    exec chroot "$r" setpriv --reuid='$uid' --regid='$uid' --clear-groups \
      env -i PATH=/usr/bin:/bin HOME=/home/velt-test bash /tmp/newer-kwin-checks.sh' sh "$root"
status=$?
pkill -KILL -U $uid 2>/dev/null
exit $status
