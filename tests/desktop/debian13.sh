#!/usr/bin/env bash
# Debian 13 for the agent: its pieces that run inside the desktop, in the
# desktops of Debian 13 (its KWin script in KWin 6, which speaks of windows
# where KWin 5 spoke of clients, and its GNOME Shell extension for 45 and
# later in GNOME Shell 48), and the agent itself built there as `./dev run`
# builds it. The agent built for Debian 12 does not run in that root; inside
# the desktops a stand-in owns its bus name and records what they tell it.
#
# A Debian 13 root made with debootstrap (kept in CACHE, made once) holds
# both desktops, a small terminal and what building the agent needs. Each
# desktop runs headless inside it, in a mount namespace of its own, as an
# unprivileged user.
#
# usage: debian13.sh kwin SCRIPT CACHE
#        debian13.sh gnome EXTENSION_DIR CACHE
#        debian13.sh build SOURCE_DIR CACHE
# Exit status 77 when this machine cannot make the root (not root, no
# debootstrap, no network); a failure instead under CI=true.
set -uo pipefail
desktop=$1
piece=$2
cache=$3
uid=59123
here=$(dirname "$(realpath "$0")")
# What ./dev run installs to build the agent, as ./dev lists it.
eval "$(sed -n '/^build_packages=(/,/^)/p' "$here/../../dev")"
packages="kwin-wayland gnome-shell python3-dbusmock upower dbus libglib2.0-bin python3-dbus python3-gi
  foot fonts-dejavu-core procps ${build_packages[*]}"
label="debian13[$desktop]" release="Debian 13"
# shellcheck source=tests/desktop/debian_root.sh
. "$here/debian_root.sh"
make_root debian13-desktops trixie velt-test $uid

# The pieces go in through a folder of the host, mounted at /tmp/velt-work.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$here/debian13_inside.sh" "$here/agent_stand_in.py" "$work/"
binds=("$work /tmp/velt-work")
case $desktop in
  kwin) cp "$piece" "$work/velt-overlay.js" ;;
  gnome) cp -r "$piece" "$work/extension" ;;
  build)
    # The agent built as `./dev run` builds it, with warnings as errors, and
    # asked for its version: what the README's first command gives a user
    # of Debian 13.
    say "$(in_root "$root" dpkg-query -W -f='${Package} ${Version}\n' g++ qt6-base-dev libplist-dev libwayland-dev | tr '\n' ' ')"
    binds+=("ro:$(realpath "$piece") /tmp/velt-work/src")
    in_root "$root" env PATH=/usr/sbin:/usr/bin:/sbin:/bin sh -c '
      cd /tmp/velt-work &&
        cmake -S src -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF \
          -DVELT_WERROR=ON --no-warn-unused-cli >configure.log 2>&1 &&
        cmake --build build >build.log 2>&1 &&
        build/bin/velt-mouse-assistant --version' ||
      { tail -n 40 "$work/configure.log" "$work/build.log" 2>/dev/null; say "the agent does not build"; exit 1; }
    say "the agent builds and runs"
    exit 0
    ;;
  *) echo "usage: debian13.sh kwin|gnome|build PIECE CACHE" >&2; exit 2 ;;
esac
chmod -R a+rX "$work"
say "$(in_root "$root" dpkg-query -W -f='${Package} ${Version}\n' kwin-wayland gnome-shell | tr '\n' ' ')"

# GNOME Shell wants logind and UPower on a system bus: python-dbusmock's,
# on a bus of the namespace's own; then the checks run as the user. Whatever
# a time limit leaves ends with the namespace.
in_root "$root" timeout --kill-after=10 "${VELT_RIG_TIME_LIMIT:-240}" bash -c "
  mkdir -p /run/dbus /run/systemd
  dbus-daemon --system --nofork --nopidfile &
  for _ in \$(seq 100); do [ -S /run/dbus/system_bus_socket ] && break; sleep 0.1; done
  python3 -m dbusmock --system --template logind >/tmp/velt-work/logind.log 2>&1 &
  python3 -m dbusmock --system --template upower >/tmp/velt-work/upower.log 2>&1 &
  setpriv --reuid=$uid --regid=$uid --clear-groups env -i PATH=/usr/bin:/bin \
    HOME=/home/velt-test LANG=C.UTF-8 bash /tmp/velt-work/debian13_inside.sh $desktop"
