#!/usr/bin/env bash
# The Debian package as a person meets it on a clean Debian system (a
# debootstrap root kept in CACHE, used through an overlay, so that every run
# starts from the same clean system): `apt install ./…deb` pulls in every
# dependency and enables nothing; the agent starts for an unprivileged user
# and answers its command line; `apt remove` takes every file of the
# package, and `apt purge` leaves nothing of it but what the user made in
# their home.
#
# --install takes the packages in DEB_DIR; --build first builds them in the
# root, from what SOURCE_DIR's debian/control asks for (a package built for
# one Debian release does not install against another's libraries). WORK
# holds the overlays while the test runs, and the packages it built.
#
# usage: debian_root_test.sh SUITE CACHE WORK --install DEB_DIR
#        debian_root_test.sh SUITE CACHE WORK --build SOURCE_DIR
# Exit status 77 when this machine cannot make the root (not root, no
# debootstrap, no network); a failure instead under CI=true.
set -uo pipefail
suite=$1 cache=$2 work=$3 mode=$4 piece=$5
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source-path=SCRIPTDIR source=../support/debian_root.sh
source "$here/../support/debian_root.sh"
root=$cache/debian-$suite-clean
say() { echo "$suite: $*" >&2; }
cannot_host() {
  if [ "${CI:-}" = true ]; then say "cannot make a clean $suite root here: $*"; exit 1; fi
  say "skipped: $*"
  exit 77
}
failures=0
fail() {
  say "FAIL: $*"
  failures=$((failures + 1))
}
[ "$(id -u)" -eq 0 ] || cannot_host "a Debian root needs root"
command -v debootstrap >/dev/null || cannot_host "debootstrap is not installed"
if [ ! -f "$root/.velt-root" ]; then
  say "making a clean $suite root in $root (once; a few minutes)"
  SECONDS=0
  debian_root_make "$suite" "$root" || cannot_host "debootstrap failed (no network?)"
  say "made the root in ${SECONDS}s"
fi
# What apt downloads stays in the cache for the next run.
archives=$cache/debian-$suite-archives
mkdir -p "$archives/partial"
rm -rf "$work"
mkdir -p "$work/debs" "$work/share"
debian_root_binds=("$archives:/var/cache/apt/archives")
# in_system COMMAND...: as root in the system under test.
in_system() { debian_root_run "$root" "$work/system" "$@"; }
# step NAME LOG COMMAND...: runs COMMAND, its output in WORK/LOG, and says
# how long it took.
step() {
  local name=$1 log=$work/$2
  shift 2
  SECONDS=0
  "$@" >"$log" 2>&1
  local status=$?
  say "$name: ${SECONDS}s"
  [ $status -eq 0 ] || tail -n 30 "$log" >&2
  return $status
}

debs=$piece
if [ "$mode" = --build ]; then
  debian_root_binds+=("$piece:/tmp/velt-source")
  step "apt-get update" update.log debian_root_run "$root" "$work/build" apt-get update ||
    cannot_host "apt-get update failed (no network?)"
  step "installing what debian/control asks for" build-deps.log debian_root_run "$root" \
    "$work/build" apt-get build-dep -y --no-install-recommends /tmp/velt-source || exit 1
  step "dpkg-buildpackage" build.log debian_root_run "$root" "$work/build" \
    bash /tmp/velt-source/packaging/build_package.sh /tmp/velt-out || exit 1
  cp "$work/build/upper/tmp/velt-out/"*.deb "$work/debs/" || exit 1
  rm -rf "$work/build"
  debs=$work/debs
  debian_root_binds=("$archives:/var/cache/apt/archives")
fi
debian_root_binds+=("$debs:/tmp/velt-debs" "$work/share:/tmp/velt-share")

step "apt-get update" update.log in_system apt-get update || cannot_host "apt-get update failed (no network?)"
step "apt install ./velt-mouse-assistant_*.deb" install.log in_system sh -c \
  'apt-get install -y /tmp/velt-debs/velt-mouse-assistant_*.deb' || exit 1
say "$(grep -E '^[0-9]+ upgraded, [0-9]+ newly installed' "$work/install.log")"
in_system dpkg -L velt-mouse-assistant >"$work/share/files"
[ -z "$(in_system ldd /usr/bin/velt-mouse-assistant | grep 'not found')" ] ||
  fail "libraries are missing: $(in_system ldd /usr/bin/velt-mouse-assistant | grep 'not found')"
# The agent enables its unit for its user itself; the package, for nobody.
enabled=$(in_system sh -c 'ls /etc/systemd/user/*/ /etc/xdg/autostart/ 2>/dev/null' | grep -E 'velt|quorin')
[ -z "$enabled" ] || fail "the package starts the agent for every user: $enabled"

# The agent for velt-test: the command line, the agent started (no display:
# Qt's offscreen platform), answering, writing its settings and its start
# at log-in, and quitting.
SECONDS=0
debian_root_as_user "$root" "$work/system" sh -c '
  failed=0
  fail() { echo "FAIL: $*"; failed=1; }
  velt-mouse-assistant --version | grep -qx "velt-mouse-assistant [0-9.]* build [0-9]*" ||
    fail "--version says: $(velt-mouse-assistant --version 2>&1)"
  QT_QPA_PLATFORM=offscreen VELT_LOG_STDERR=1 velt-mouse-assistant >agent.log 2>&1 &
  agent=$!
  for _ in $(seq 100); do
    velt-mouse-assistant --reconfigure 2>/dev/null && break
    sleep 0.2
  done
  velt-mouse-assistant --reconfigure || fail "the agent does not answer --reconfigure"
  velt-mouse-assistant --status | grep -qx "mouse: none found" ||
    fail "--status says: $(velt-mouse-assistant --status 2>&1)"
  [ -f Documents/quorin.driver.velt/button.plist ] || fail "no settings file"
  [ -f .config/autostart/quorin.driver.velt.desktop ] || [ -n "$(ls .config/systemd/user/*/velt-mouse-assistant.service 2>/dev/null)" ] ||
    fail "the agent set up no start at log-in"
  velt-mouse-assistant --quit || fail "--quit failed"
  wait $agent || fail "the agent ended with status $?"
  [ $failed -eq 0 ] || sed "s/^/agent: /" agent.log
  exit $failed' >"$work/agent.log" 2>&1 || fail "the agent as velt-test: $(cat "$work/agent.log")"
say "the agent for velt-test: ${SECONDS}s"

# gone PHASE: the package's files that are still there (directories only
# where no other package has them and they are empty).
gone() {
  in_system sh -c 'while read -r path; do
      if [ -d "$path" ] && ! [ -L "$path" ]; then
        [ -z "$(ls -A "$path")" ] && ! dpkg -S "$path" >/dev/null 2>&1 && echo "$path"
      elif [ -e "$path" ] || [ -L "$path" ]; then
        echo "$path"
      fi
    done </tmp/velt-share/files'
}
step "apt remove" remove.log in_system apt-get remove -y velt-mouse-assistant || fail "apt remove failed"
left=$(gone)
[ -z "$left" ] || fail "apt remove left: $left"
step "apt purge" purge.log in_system apt-get purge -y velt-mouse-assistant || fail "apt purge failed"
[ -z "$(in_system dpkg-query -W -f='${Status}' velt-mouse-assistant 2>/dev/null)" ] ||
  fail "dpkg still knows the package: $(in_system dpkg-query -W -f='${Status}' velt-mouse-assistant)"
left=$(gone)
# Whatever else changed in the system that carries the package's names,
# outside the user's home: the maintainer scripts' state, say.
left+=$'\n'$(cd "$work/system/upper" && find . \( -type f -o -type l -o -type d \) \
  -regex '.*\(velt\|quorin\).*' ! -path './home/velt-test*' ! -path './tmp/*' ! -path ./tmp)
left=$(grep . <<<"$left")
[ -z "$left" ] || fail "apt purge left: $left"

if [ $failures -eq 0 ]; then
  rm -rf "$work/system"
  say "the package installs, runs, and goes without a trace"
fi
exit $((failures > 0))
