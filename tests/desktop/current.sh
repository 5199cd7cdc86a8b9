#!/usr/bin/env bash
# The desktops people install now, from Debian testing: GNOME Shell, KWin
# with Plasma's shell, and sway, with the Qt, libplist and compiler of that
# release. The agent and the desktop probe are built there, the agent as
# `./dev run` builds it but with warnings as errors; then the rig
# (desktop_rig.sh, desktop_checks.sh) runs the real agent in each desktop
# there, with the same checks as on Debian 12.
#
# A root of Debian testing made with debootstrap (kept in CACHE beside the
# Debian 13 one, made once, topped up when the package list changes) holds
# the desktops and what building needs. The source is mounted into it
# read-only, BUILD (a folder of the host's build tree) as the build folder.
#
# usage: current.sh build SOURCE BUILD CACHE
#        current.sh gnome|kwin|sway SOURCE BUILD CACHE
#        current.sh gnome_versions SOURCE BUILD CACHE
# Exit status 77 when this machine cannot make the root (not root, no
# debootstrap, no network); a failure instead under CI=true.
set -uo pipefail
what=${1:-}
case $what in
  build | gnome | kwin | sway | gnome_versions) [ $# -eq 4 ] ;;
  *) false ;;
esac || { echo "usage: current.sh build|gnome|kwin|sway|gnome_versions SOURCE BUILD CACHE" >&2; exit 2; }
source_dir=$(realpath "$2")
build=$3
cache=$4
here=$(dirname "$(realpath "$0")")
label="current[$what]" release="Debian testing"
# shellcheck source=tests/desktop/debian_root.sh
. "$here/debian_root.sh"

# What ./dev run installs to build the agent, as ./dev lists it; what the
# probe's build adds; the desktops as the rig starts them.
eval "$(sed -n '/^build_packages=(/,/^)/p' "$here/../../dev")"
packages="${build_packages[*]} libgtest-dev libgmock-dev plasma-wayland-protocols
  gnome-shell python3-dbusmock upower dbus libglib2.0-bin
  kwin-wayland plasma-workspace plasma-desktop kded6 kactivitymanagerd
  sway grim xdg-utils file procps fonts-dejavu-core"
# Debian 12's debootstrap has no script named for testing's code name; sid's
# makes it.
make_root debian-testing-desktops forky velt-current 59124 /usr/share/debootstrap/scripts/sid
versions() {
  in_root "$root" dpkg-query -W -f='${Package} ${Version}\n' "$@" | tr '\n' ' '
}

mkdir -p "$build"
binds=("ro:$source_dir /velt/src" "$(realpath "$build") /velt/build")
case $what in
  build)
    say "$(versions g++ qt6-base-dev libplist-dev libwayland-dev)"
    # First the agent alone, configured as `./dev run` configures it, with
    # warnings as errors; then the same tree with the tests configured, for
    # the probe, whose libraries are the agent's and are not built again.
    in_root "$root" env PATH=/usr/sbin:/usr/bin:/sbin:/bin sh -c '
      cd /velt/build &&
        cmake -S /velt/src -B . -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF \
          -DVELT_WERROR=ON --no-warn-unused-cli >configure.log 2>&1 &&
        cmake --build . --target velt-mouse-assistant >build.log 2>&1 &&
        bin/velt-mouse-assistant --version &&
        cmake -S /velt/src -B . -DBUILD_TESTING=ON >>configure.log 2>&1 &&
        cmake --build . --target velt-mouse-assistant velt-desktop-probe >>build.log 2>&1' ||
      { tail -n 40 "$build/configure.log" "$build/build.log" 2>/dev/null; say "the agent does not build"; exit 1; }
    say "the agent and the probe build, and the agent runs"
    exit 0
    ;;
  gnome_versions)
    # Each version the extension declares is one the rig proved it on: 43
    # and 44 (Debian 12 runs 43), and for the module variant each one from
    # 45 to the shell of Debian testing. A newer shell there fails this until
    # the rig passes on it and the list grows.
    shell=$(in_root "$root" gnome-shell --version | grep -o '[0-9][0-9.]*' | head -n 1)
    declared() {
      grep -o '"shell-version": *\[[^]]*\]' "$source_dir/packaging/gnome-shell/$1/metadata.json" |
        sed 's/.*\[//' | grep -o '"[^"]*"' | tr -d '"' | tr '\n' ' '
    }
    legacy=$(declared velt-mouse-assistant@quorin.driver.velt)
    module=$(declared es-module)
    want="$(seq -s ' ' 45 "${shell%%.*}") "
    [ "$legacy" = "43 44 " ] || { say "the extension for 43 and 44 declares $legacy"; exit 1; }
    [ "$module" = "$want" ] || {
      say "Debian testing runs GNOME Shell $shell; the extension for 45 and later declares $module," \
        "where it should declare $want: prove it on that shell (current_gnome), then declare it"
      exit 1
    }
    say "GNOME Shell $shell: the extension declares $legacy$module"
    exit 0
    ;;
esac
[ -x "$build/bin/velt-mouse-assistant" ] && [ -x "$build/tests/velt-desktop-probe" ] ||
  { say "the agent is not built in $build (the test current_build builds it)"; exit 1; }
case $what in
  gnome) say "$(versions gnome-shell)" ;;
  kwin) say "$(versions kwin-wayland plasma-workspace)" ;;
  sway) say "$(versions sway grim)" ;;
esac
# The rig as root in the root; it runs the checks as its own user there.
rig() {  # EXTENSION [ARGUMENT OF THE CHECKS]
  local passed=()
  for name in CI VELT_RIG_MONITORS VELT_RIG_OUTPUTS VELT_RIG_EXTENSION_NAME VELT_RIG_TIME_LIMIT; do
    [ -n "${!name:-}" ] && passed+=("$name=${!name}")
  done
  in_root "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 VELT_RIG_USER=velt-current \
    "${passed[@]}" bash /velt/src/tests/desktop/desktop_rig.sh "$what" --extension "$1" -- \
    bash /velt/src/tests/desktop/desktop_checks.sh /velt/build/tests/velt-desktop-probe \
    /velt/build/bin/velt-mouse-assistant "${@:2}"
}
module=velt-mouse-assistant-45@quorin.driver.velt
rig "/velt/build/gnome-shell/$module"
status=$?
[ "$what" = gnome ] || exit $status
# A shell newer than the extension: a copy that declares every version but
# this shell's. The shell does not load it; the agent says why. The rig
# waits for its own extension alone.
say "GNOME Shell newer than the extension"
major=$(in_root "$root" gnome-shell --version | grep -o '[0-9][0-9]*' | head -n 1)
rm -rf "$build/outdated"
mkdir -p "$build/outdated"
cp -r "$build/gnome-shell/$module" "$build/outdated/"
sed -i "s/, *\"$major\"//; s/\"$major\", *//" "$build/outdated/$module/metadata.json"
VELT_RIG_EXTENSION_NAME=quorin.driver.velt.Rig rig "/velt/build/outdated/$module" outdated || status=1
exit $status
