# Debian roots for the desktop tests, sourced by debian13.sh and current.sh.
# A root is made once with debootstrap into the cache, beside the guest
# tests' kernel package, and topped up whenever its package list changes.
# The caller sets label (what its lines start with) and release (the name
# of the Debian release in its messages).

say() { echo "$label: $*" >&2; }
# A machine that cannot make the root skips (77); under CI=true it fails.
cannot_host() {
  if [ "${CI:-}" = true ]; then say "cannot run $release's desktops here: $*"; exit 1; fi
  say "skipped: $*"
  exit 77
}
[ "$(id -u)" -eq 0 ] || cannot_host "making the root of $release needs root"
command -v debootstrap >/dev/null || cannot_host "debootstrap is not installed"

# The mirror the machine's own apt sources take this release from (its code
# name in /etc/os-release), in either form of sources; VELT_DEBIAN_MIRROR
# overrides it.
debian_mirror() {
  if [ -n "${VELT_DEBIAN_MIRROR:-}" ]; then echo "$VELT_DEBIAN_MIRROR"; return; fi
  local codename
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  [ -n "$codename" ] || return 1
  {
    cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null |
      awk -v suite="$codename" '$1 == "deb" {
        i = 2
        if ($i ~ /^\[/) { while ($i !~ /\]$/ && i < NF) i++; i++ }
        if ($(i + 1) == suite) { print $i; exit }
      }'
    cat /etc/apt/sources.list.d/*.sources 2>/dev/null |
      awk -v suite="$codename" 'BEGIN { RS = ""; FS = "\n" } {
        types = uris = suites = ""; enabled = "yes"
        for (i = 1; i <= NF; i++) {
          if ($i ~ /^#/) continue
          split($i, kv, ":[ \t]*")
          key = tolower(kv[1]); value = substr($i, length(kv[1]) + 2); sub(/^[ \t]*/, "", value)
          if (key == "types") types = " " value " "
          else if (key == "uris") uris = value
          else if (key == "suites") suites = " " value " "
          else if (key == "enabled") enabled = tolower(value)
        }
        if (enabled != "no" && types ~ / deb / && index(suites, " " suite " ")) {
          split(uris, u, " "); print u[1]; exit
        }
      }'
  } | head -n 1 | sed 's:/*$::'
}

# Runs COMMAND in ROOT as root with /proc, /dev, /sys and a fresh /run and
# /tmp, in mount and process namespaces of its own: every mount and every
# process it leaves goes when it ends. binds (an array of "HOST INSIDE"
# pairs) are mounted into it too; "ro:HOST INSIDE" read-only.
binds=()
in_root() {
  local r=$1
  shift
  unshare --mount --pid --fork --kill-child=KILL --propagation private sh -c '
    r=$1; shift; n=$1; shift
    # The root is a mount of its own: a mount namespace made inside it
    # (unshare) changes the propagation of its /.
    mount --bind "$r" "$r" && mount -t proc proc "$r/proc" && mount --rbind /dev "$r/dev" && mount --rbind /sys "$r/sys" &&
      mount -t tmpfs tmpfs "$r/run" && mount -t tmpfs -o mode=1777 tmpfs "$r/tmp" || exit 1
    while [ "$n" -gt 0 ]; do
      from=${1% *} to=$r/${1#* }; shift; n=$((n - 1))
      mode=rw; case $from in ro:*) mode=ro; from=${from#ro:} ;; esac
      mkdir -p "$to" && mount --bind "$from" "$to" && mount -o "remount,bind,$mode" "$to" || exit 1
    done
    exec chroot "$r" "$@"' sh "$r" ${#binds[@]} "${binds[@]}" "$@"
}

# make_root NAME SUITE USER UID [SCRIPT]: sets root to CACHE/NAME, a Debian
# SUITE root with the user USER (UID) and every package in packages. SCRIPT:
# debootstrap's script for a suite it has none for. A suite past its
# Release file's Valid-Until (testing, between the archive's updates) is
# taken as it is: the root is for tests, not for running.
make_root() {
  local name=$1 suite=$2 user=$3 uid=$4 script=${5:-}
  root=$cache/$name
  mkdir -p "$cache"
  # One maker at a time for each root.
  exec 8>"$root.lock"
  flock 8
  if [ ! -f "$root/.velt-root" ]; then
    local mirror
    mirror=$(debian_mirror) && [ -n "$mirror" ] ||
      cannot_host "no Debian mirror in this machine's apt sources (set VELT_DEBIAN_MIRROR)"
    say "making a root of $release from $mirror in $root (once; a few minutes)"
    rm -rf "$root" "$root.part"
    debootstrap --variant=minbase "$suite" "$root.part" "$mirror" ${script:+"$script"} \
      >"$cache/$name-debootstrap.log" 2>&1 ||
      { tail -n 20 "$cache/$name-debootstrap.log" >&2; cannot_host "debootstrap failed (no network?)"; }
    cp /etc/resolv.conf "$root.part/etc/resolv.conf"
    echo 'Acquire::Check-Valid-Until "false";' >"$root.part/etc/apt/apt.conf.d/80velt-valid-until"
    in_root "$root.part" /usr/sbin/useradd --uid "$uid" --create-home "$user" || exit 1
    touch "$root.part/.velt-root"
    mv "$root.part" "$root"
  fi
  if [ "$(cat "$root/.velt-packages" 2>/dev/null)" != "$packages" ]; then
    say "installing what is missing into the root of $release"
    # shellcheck disable=SC2086
    in_root "$root" env DEBIAN_FRONTEND=noninteractive PATH=/usr/sbin:/usr/bin:/sbin:/bin sh -c \
      "apt-get update -qq && apt-get install -y -qq --no-install-recommends $(echo $packages) && apt-get clean" \
      >"$cache/$name-apt.log" 2>&1 ||
      { tail -n 20 "$cache/$name-apt.log" >&2; cannot_host "installing into the root of $release failed"; }
    echo "$packages" >"$root/.velt-packages"
  fi
  flock -u 8
}
