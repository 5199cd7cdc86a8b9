# Clean Debian systems for the tests that need a whole one: a root made once
# with debootstrap (minbase, with the suite's updates and security updates,
# and the unprivileged user velt-test) and kept in a cache. A run works in an
# overlay over the kept root, so that every run starts from the same clean
# system and leaves it so. Sourced by the tests; needs root.

# debian_root_binds: "HOST_DIR:DIR_INSIDE" pairs that debian_root_run mounts
# inside the root (the apt cache of downloaded packages, the packages to
# install, a source tree).
debian_root_binds=()
debian_root_uid=59123

# debian_root_run ROOT CHANGES COMMAND...: runs COMMAND as root inside ROOT,
# with /proc, /dev, a read-only /sys and an empty /run, in a mount namespace
# that takes every mount with it when it ends. With CHANGES (a folder), ROOT
# itself stays as it is: COMMAND sees it through an overlay whose changes go
# to CHANGES/upper, where the next command given the same folder finds them.
debian_root_run() {
  local root=$1 changes=$2
  shift 2
  unshare -m --propagation private bash -c '
    set -e
    root=$1 changes=$2 binds=$3
    shift 3
    dir=$root
    if [ -n "$changes" ]; then
      mkdir -p "$changes/upper" "$changes/work" "$changes/merged"
      mount -t overlay overlay \
        -o "lowerdir=$root,upperdir=$changes/upper,workdir=$changes/work" "$changes/merged"
      dir=$changes/merged
    fi
    mount -t proc proc "$dir/proc"
    mount --rbind /dev "$dir/dev"
    mount -t sysfs -o ro sysfs "$dir/sys"
    mount -t tmpfs tmpfs "$dir/run"
    for bind in $binds; do
      mkdir -p "$dir/${bind#*:}"
      mount --bind "${bind%%:*}" "$dir/${bind#*:}"
    done
    exec chroot "$dir" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root \
      LANG=C.UTF-8 DEBIAN_FRONTEND=noninteractive "$@"' \
    bash "$root" "$changes" "${debian_root_binds[*]}" "$@"
}

# debian_root_make SUITE ROOT: makes ROOT once (a few minutes), with the log
# in ROOT.log; runs that share the cache wait for each other. Status 0 when
# ROOT is there; otherwise 1, with the end of the log on standard error.
debian_root_make() {
  local suite=$1 root=$2
  [ -f "$root/.velt-root" ] && return 0
  mkdir -p "$(dirname "$root")"
  (
    flock 9
    [ -f "$root/.velt-root" ] && exit 0
    mirror=${VELT_DEBIAN_MIRROR:-http://deb.debian.org/debian}
    security=${VELT_DEBIAN_SECURITY_MIRROR:-http://security.debian.org/debian-security}
    rm -rf "$root" "$root.part"
    if ! debootstrap --variant=minbase "$suite" "$root.part" "$mirror" >"$root.log" 2>&1; then
      tail -n 20 "$root.log" >&2
      exit 1
    fi
    printf 'deb %s %s main\ndeb %s %s-updates main\ndeb %s %s-security main\n' \
      "$mirror" "$suite" "$mirror" "$suite" "$security" "$suite" >"$root.part/etc/apt/sources.list"
    cp /etc/resolv.conf "$root.part/etc/resolv.conf"
    debian_root_run "$root.part" "" useradd --uid $debian_root_uid --create-home velt-test || exit 1
    touch "$root.part/.velt-root"
    mv "$root.part" "$root"
  ) 9>"$root.lock"
}

# debian_root_as_user ROOT CHANGES COMMAND...: COMMAND as velt-test, in its
# home, with a runtime folder of its own and nothing else of root's
# environment.
debian_root_as_user() {
  local root=$1 changes=$2
  shift 2
  debian_root_run "$root" "$changes" sh -c '
    uid=$1
    shift
    mkdir -m 700 /run/user-velt && chown "$uid:$uid" /run/user-velt && cd /home/velt-test &&
      exec setpriv --reuid="$uid" --regid="$uid" --clear-groups env -i PATH=/usr/bin:/bin \
        HOME=/home/velt-test USER=velt-test LANG=C.UTF-8 XDG_RUNTIME_DIR=/run/user-velt "$@"' \
    sh $debian_root_uid "$@"
}
