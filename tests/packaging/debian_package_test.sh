#!/usr/bin/env bash
# The Debian package as `./dev package` builds it, checked as Debian checks
# packages: what it holds and depends on, what its maintainer scripts do to
# the machine's devices, and lintian with no error and no warning. The
# packages stay in OUT_DIR for the install tests.
# usage: debian_package_test.sh OUT_DIR
set -u
out=$1
here=$(cd "$(dirname "$0")" && pwd)
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

SECONDS=0
"$here/../../packaging/build_package.sh" "$out" || exit 1
echo "built in ${SECONDS}s: $(cd "$out" && ls ./*.deb | tr '\n' ' ')"
deb=$(ls "$out"/velt-mouse-assistant_*.deb)
ls "$out"/velt-mouse-assistant-dbgsym_*.deb >/dev/null 2>&1 || fail "no -dbgsym package"

contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
for path in \
    usr/bin/velt-mouse-assistant \
    usr/share/velt-mouse-assistant/button.plist \
    usr/share/velt-mouse-assistant/model/qr350/model.json \
    usr/share/velt-mouse-assistant/kwin/velt-overlay.js \
    usr/share/applications/quorin.driver.velt.desktop \
    usr/share/icons/hicolor/scalable/apps/velt-mouse-assistant.svg \
    usr/share/metainfo/quorin.driver.velt.metainfo.xml \
    usr/share/man/man1/velt-mouse-assistant.1.gz \
    usr/share/bash-completion/completions/velt-mouse-assistant \
    usr/share/doc/velt-mouse-assistant/copyright \
    usr/share/doc/velt-mouse-assistant/changelog.Debian.gz \
    usr/lib/udev/rules.d/70-velt-mouse-assistant.rules \
    usr/lib/modules-load.d/velt-mouse-assistant.conf \
    usr/lib/systemd/user/velt-mouse-assistant.service \
    usr/share/gnome-shell/extensions/velt-mouse-assistant@quorin.driver.velt/extension.js \
    usr/share/gnome-shell/extensions/velt-mouse-assistant-45@quorin.driver.velt/extension.js; do
  grep -qx "./$path" <<<"$contents" || fail "$path is not in the package"
done
depends=$(dpkg-deb -f "$deb" Depends)
for dependency in udev xkb-data libqt6widgets6 libwayland-client0 libplist3; do
  [[ $depends == *"$dependency"* ]] || fail "Depends lacks $dependency: $depends"
done

# The maintainer scripts against a stand-in udevadm, with three HID devices
# plugged in: two supported mice (USB and Bluetooth) and another mouse.
# Only the supported ones and uinput may be triggered, and nothing at all
# where no udev daemon answers.
scripts=$(mktemp -d)
trap 'rm -rf "$scripts"' EXIT
dpkg-deb -e "$deb" "$scripts/DEBIAN"
mkdir "$scripts/bin"
for tool in udevadm modprobe deb-systemd-helper; do
  printf '#!/bin/sh\necho "%s $*" >>"%s/calls"\n[ "$1 $VELT_NO_DAEMON" != "control 1" ]\n' \
    "$tool" "$scripts" >"$scripts/bin/$tool"
  chmod +x "$scripts/bin/$tool"
done
# A mount namespace of the test's own: a user namespace too, unless root.
namespace=(unshare --mount)
[ "$(id -u)" -eq 0 ] || namespace+=(--map-root-user)
# run_script NO_DAEMON SCRIPT ARGUMENT: the udevadm calls it makes.
run_script() {
  rm -f "$scripts/calls"
  "${namespace[@]}" sh -c '
    mount -t tmpfs tmpfs /sys/bus/hid/devices &&
      mkdir /sys/bus/hid/devices/0003:0C45:7E20.0001 /sys/bus/hid/devices/0005:0C45:7E1C.0002 \
        /sys/bus/hid/devices/0003:046D:C52B.0003 &&
      PATH=$1/bin:$PATH VELT_NO_DAEMON=$2 exec sh "$1/DEBIAN/$3" "$4"' \
    sh "$scripts" "$@" || echo "exit status $?"
  grep '^udevadm' "$scripts/calls" 2>/dev/null
}
expected="udevadm control --reload-rules
udevadm trigger --action=change --parent-match=/sys/bus/hid/devices/0003:0C45:7E20.0001
udevadm trigger --action=change --parent-match=/sys/bus/hid/devices/0005:0C45:7E1C.0002
udevadm trigger --action=change --subsystem-match=misc --sysname-match=uinput"
[ "$(run_script 0 postinst configure)" = "$expected" ] ||
  fail "postinst configure: $(run_script 0 postinst configure)"
[ "$(run_script 0 postrm remove)" = "$expected" ] || fail "postrm remove: $(run_script 0 postrm remove)"
[ "$(run_script 1 postinst configure)" = "udevadm control --reload-rules" ] ||
  fail "postinst without a udev daemon: $(run_script 1 postinst configure)"

lintian --fail-on error,warning --display-info "$out"/velt-mouse-assistant_*.changes ||
  fail "lintian reports errors or warnings"

[ $failures -eq 0 ] && echo "the package holds what it should, and lintian has nothing to say"
exit $((failures > 0))
