#!/usr/bin/env bash
# The agent's systemd user unit under a real user manager: the installed
# agent, started by hand, enables its unit; the session's next start starts
# it; killed with SIGKILL, it comes back within the unit's restart delay,
# --restore-mice having run in between; stopped, it ends without that.
#
# usage: user_unit.sh BUILD_DIR
# In a mount namespace of its own: a tmpfs over /usr/local with the build
# installed there (so the agent runs as the installed copy and auto-run
# runs), /run/systemd/system (which systemd --user asks for) and a cgroup
# delegated to the test user. Inside the X11 rig (desktop_rig.sh) the user
# runs systemd --user and the checks of user_unit_checks.sh.
# Exit status 77 when this machine cannot host a user manager (not root, no
# systemd, no delegable cgroup), a failure instead under CI=true when it could.
set -uo pipefail
build=$1
here=$(cd "$(dirname "$0")" && pwd)
say() { echo "user_unit: $*" >&2; }
cannot_host() {
  if [ "${CI:-}" = true ] && [ "${2:-}" != unable ]; then say "cannot host a user manager: $1"; exit 1; fi
  say "skipped: $1"
  exit 77
}
[ "$(id -u)" -eq 0 ] || cannot_host "needs root" unable
[ -x /lib/systemd/systemd ] && command -v systemctl >/dev/null || cannot_host "systemd is not installed" unable
# A machine booted with systemd manages its own cgroups; this rig makes the
# tree for the manager by hand, where nothing else manages it.
[ -d /run/systemd/system ] && cannot_host "systemd runs this machine; its own user manager is the test" unable

user=${VELT_RIG_USER:-velt-test}
id "$user" >/dev/null 2>&1 || useradd --create-home --user-group --shell /bin/bash "$user" ||
  cannot_host "cannot create $user"
# A cgroup the user's manager may make its tree in, in whichever hierarchy
# holds the processes' own (cgroup2, or the hybrid layout's unified one and
# systemd's named one).
cgroups=()
if [ -f /sys/fs/cgroup/cgroup.procs ]; then
  cgroups=(/sys/fs/cgroup/velt-unit)
else
  [ -d /sys/fs/cgroup/unified ] && cgroups+=(/sys/fs/cgroup/unified/velt-unit)
  [ -d /sys/fs/cgroup/systemd ] && cgroups+=(/sys/fs/cgroup/systemd/velt-unit)
fi
[ ${#cgroups[@]} -gt 0 ] || cannot_host "no cgroup hierarchy to delegate"
for group in "${cgroups[@]}"; do
  mkdir -p "$group" && chown -R "$user:" "$group" || cannot_host "cannot delegate $group"
done

exec unshare -m --propagation private bash -c '
  set -e
  build=$1 here=$2; shift 2
  for group in "$@"; do echo $$ >"$group/cgroup.procs"; done
  mount -t tmpfs tmpfs /run/systemd && mkdir /run/systemd/system
  mount -t tmpfs tmpfs /usr/local
  cmake --install "$build" --prefix /usr/local >/dev/null
  exec bash "$here/desktop_rig.sh" x11 -- bash "$here/user_unit_checks.sh"
' user_unit "$build" "$here" "${cgroups[@]}"
