#!/usr/bin/env bash
# Boots Debian's own kernel under QEMU (TCG) with a small initramfs holding
# busybox, the HID and input modules, the given programs with their shared
# libraries, and a guest script; judges the run from the guest's
# "velt-e2e:" console lines.
#
#   qemu_run.sh --name NAME --work DIR --cache DIR --script GUEST_SCRIPT
#               [--program FILE]... [--plugin FILE]... [--tree SRC=GUEST_DIR]...
#               [--timeout SECONDS] [--memory MB]
#               [--module NAME]... [--share HOST_DIR=TAG]...
#   qemu_run.sh --judge CONSOLE_LOG [--qemu-status N]   (only the verdict)
#
# Programs land in /opt/velt/bin, plugins (and their libraries) at their own
# paths. Each --module is taken from the kernel package too and lands in
# /lib/modules/velt for the guest script to load; each --share reaches the
# guest read-only over 9p (mount -t 9p -o trans=virtio TAG DIR). The kernel
# package is fetched with apt-get download and unpacked with dpkg-deb into
# the cache folder, once; nothing is installed on the host.
# VELT_SOAK_SEED, when set, reaches the guest's environment (the hot-plug
# soak replays that seed).
# Exit status: 0 passed, 1 failed, 77 skipped (no QEMU or no kernel package;
# a failure instead when CI=true or VELT_E2E_REQUIRED=1, where both must be
# there).
set -uo pipefail

name=guest
work=
cache=
script=
timeout_s=120
memory=1536
judge_only=
qemu_status=0
programs=()
plugins=()
trees=()
shares=()
extra_modules=()

while [ $# -gt 0 ]; do
  case "$1" in
    --name) name=$2; shift 2 ;;
    --work) work=$2; shift 2 ;;
    --cache) cache=$2; shift 2 ;;
    --script) script=$2; shift 2 ;;
    --program) programs+=("$2"); shift 2 ;;
    --plugin) plugins+=("$2"); shift 2 ;;
    --tree) trees+=("$2"); shift 2 ;;
    --timeout) timeout_s=$2; shift 2 ;;
    --memory) memory=$2; shift 2 ;;
    --module) extra_modules+=("$2"); shift 2 ;;
    --share) shares+=("$2"); shift 2 ;;
    --judge) judge_only=$2; shift 2 ;;
    --qemu-status) qemu_status=$2; shift 2 ;;
    *) echo "qemu_run.sh: unknown argument $1" >&2; exit 2 ;;
  esac
done
[ -n "$judge_only" ] || { [ -n "$work" ] && [ -n "$cache" ] && [ -n "$script" ]; } || {
  echo "qemu_run.sh: --work, --cache and --script are required" >&2
  exit 2
}
here=$(cd "$(dirname "$0")" && pwd)

skip() {
  if [ "${CI:-}" = true ] || [ "${VELT_E2E_REQUIRED:-0}" = 1 ]; then
    echo "FAIL: $* (required on this machine)"
    exit 1
  fi
  echo "skipped: $*"
  exit 77
}
fail() {
  echo "FAIL: $*"
  exit 1
}

# --- judge from the console --------------------------------------------------

# Prints the markers and the verdict of a guest run; returns 0 when it passed.
judge() {
  local console=$1 qemu_status=$2 markers verdict=
  # The firmware's terminal codes may share a line with the first marker.
  markers=$(tr -d '\r' <"$console" | grep -ao 'velt-e2e: .*')
  printf '%s\n' "$markers"
  if [ "$qemu_status" = 124 ] || [ "$qemu_status" = 137 ]; then
    verdict="the guest did not finish within ${timeout_s} s"
  elif ! grep -q '^velt-e2e: booted' <<<"$markers"; then
    verdict="the guest did not boot (QEMU exit status $qemu_status)"
  elif grep -aq 'Kernel panic' "$console"; then
    verdict="the guest kernel panicked"
  elif ! grep -q '^velt-e2e: end ' <<<"$markers"; then
    verdict="the guest script did not finish"
  elif grep -q '^velt-e2e: fail ' <<<"$markers"; then
    verdict="$(grep -c '^velt-e2e: fail ' <<<"$markers") check(s) failed"
  elif ! grep -q '^velt-e2e: end 0$' <<<"$markers"; then
    verdict="the guest script ended with status $(sed -n 's/^velt-e2e: end //p' <<<"$markers")"
  elif ! grep -q '^velt-e2e: pass ' <<<"$markers"; then
    verdict="the guest script checked nothing"
  fi
  if [ -n "$verdict" ]; then
    echo "---- guest console ($console) ----"
    tr -d '\r' <"$console" | tail -n 150
    echo "----"
    echo "FAIL: $name: $verdict"
    return 1
  fi
  echo "$name: $(grep -c '^velt-e2e: pass ' <<<"$markers") checks passed"
}

if [ -n "$judge_only" ]; then
  judge "$judge_only" "$qemu_status"
  exit
fi

command -v qemu-system-x86_64 >/dev/null || skip "qemu-system-x86_64 is not installed"
for tool in cpio dpkg-deb apt-get ldd; do
  command -v "$tool" >/dev/null || skip "$tool is not installed"
done
busybox=$(command -v busybox || true)
if [ -z "$busybox" ] || ldd "$busybox" >/dev/null 2>&1; then
  skip "a static busybox (busybox-static) is not installed"
fi

# --- Debian's kernel package -------------------------------------------------

modules=(hid uhid hid-generic evdev uinput "${extra_modules[@]}")

# Extracts the kernel image and our modules from the .deb into $1.
unpack_kernel() {
  local deb=$1 dest=$2 tmp m patterns=()
  for m in "${modules[@]}"; do
    patterns+=("./lib/modules/*/$m.ko*")
  done
  tmp=$(mktemp -d "$cache/unpack.XXXXXX")
  dpkg-deb --fsys-tarfile "$deb" |
    tar -x -C "$tmp" --wildcards './boot/vmlinuz-*' "${patterns[@]}" || {
    rm -rf "$tmp"
    return 1
  }
  mkdir -p "$tmp/out/modules"
  cp "$tmp"/boot/vmlinuz-* "$tmp/out/vmlinuz" || { rm -rf "$tmp"; return 1; }
  local file
  for m in "${modules[@]}"; do
    file=$(find "$tmp/lib/modules" -name "$m.ko*" | head -n 1)
    [ -n "$file" ] || { echo "no $m module in $deb"; rm -rf "$tmp"; return 1; }
    case "$file" in
      *.ko.xz) xz -dc "$file" >"$tmp/out/modules/$m.ko" ;;
      *.ko.zst) zstd -qdc "$file" >"$tmp/out/modules/$m.ko" ;;
      *.ko.gz) gzip -dc "$file" >"$tmp/out/modules/$m.ko" ;;
      *) cp "$file" "$tmp/out/modules/$m.ko" ;;
    esac || { rm -rf "$tmp"; return 1; }
  done
  rm -rf "$dest"
  mv "$tmp/out" "$dest"
  rm -rf "$tmp"
}

# The package that linux-image-amd64 depends on, e.g. linux-image-6.1.0-57-amd64.
kernel_package() {
  apt-cache depends linux-image-amd64 2>/dev/null |
    awk '$1 == "Depends:" && $2 ~ /^linux-image-[0-9]/ { print $2; exit }'
}

# Whether an unpacked kernel in $1 holds every module this run needs.
has_modules() {
  local m
  for m in "${modules[@]}"; do
    [ -f "$1/modules/$m.ko" ] || return 1
  done
}

# Sets $kernel to a folder with vmlinuz and modules/.
find_kernel() {
  mkdir -p "$cache"
  exec 9>"$cache/.lock"
  flock 9
  local package deb
  package=$(kernel_package)
  if [ -z "$package" ] && ! compgen -G "$cache/linux-image-*/vmlinuz" >/dev/null && [ "$(id -u)" = 0 ]; then
    # A fresh machine may have no package lists yet.
    apt-get update -qq >/dev/null 2>&1
    package=$(kernel_package)
  fi
  if [ -n "$package" ] && [ -f "$cache/$package/vmlinuz" ] && has_modules "$cache/$package"; then
    kernel=$cache/$package
    return 0
  fi
  if [ -n "$package" ]; then
    deb=$(ls "$cache/${package}"_*.deb 2>/dev/null | head -n 1)
    if [ -z "$deb" ]; then
      echo "fetching $package"
      (cd "$cache" && apt-get download -qq "$package" 2>&1 | grep -v '^W: Download is performed unsandboxed')
      deb=$(ls "$cache/${package}"_*.deb 2>/dev/null | head -n 1)
      if [ -z "$deb" ] && [ "$(id -u)" = 0 ]; then
        # The package lists may name a version the mirror no longer has.
        apt-get update -qq >/dev/null 2>&1
        package=$(kernel_package)
        (cd "$cache" && apt-get download -qq "$package" 2>&1 | grep -v '^W: Download is performed unsandboxed')
        deb=$(ls "$cache/${package}"_*.deb 2>/dev/null | head -n 1)
      fi
    fi
    if [ -n "$deb" ] && unpack_kernel "$deb" "$cache/$package"; then
      # Keep only this version in the cache.
      find "$cache" -mindepth 1 -maxdepth 1 -name 'linux-image-*' \
        ! -name "$package" ! -name "${package}_*.deb" -exec rm -rf {} +
      kernel=$cache/$package
      return 0
    fi
  fi
  # Offline: use whatever kernel an earlier run left.
  local old
  old=$(ls -d "$cache"/linux-image-*/ 2>/dev/null | head -n 1)
  if [ -n "$old" ] && [ -f "$old/vmlinuz" ] && has_modules "$old"; then
    kernel=${old%/}
    return 0
  fi
  return 1
}

kernel=
find_kernel || skip "Debian's kernel package could not be fetched (apt-get download linux-image-amd64's dependency)"
exec 9>&-

# --- the initramfs -----------------------------------------------------------

root=$work/root
rm -rf "$work"
mkdir -p "$root"/{bin,dev,proc,sys,tmp,run,e2e,opt/velt/bin,lib/modules/velt}
cp "$busybox" "$root/bin/busybox"
cp "$here/guest_init.sh" "$root/init"
chmod 755 "$root/init"
cp "$script" "$root/e2e/guest.sh"
cp "$kernel"/modules/*.ko "$root/lib/modules/velt/"

# Copies a file to the same path inside the guest, following links.
copy_same_path() {
  [ -e "$root$1" ] && return 0
  mkdir -p "$root$(dirname "$1")"
  cp -L "$1" "$root$1"
}

# Copies the shared libraries (and the loader) a binary needs.
copy_libraries() {
  local lib
  while read -r lib; do
    [ -n "$lib" ] && copy_same_path "$lib"
  done < <(ldd "$1" 2>/dev/null | awk '/=> \// { print $3 } /^\t\// { print $1 }')
}

for program in "${programs[@]}"; do
  [ -x "$program" ] || fail "no program $program (build it first)"
  cp "$program" "$root/opt/velt/bin/"
  copy_libraries "$program"
done
for plugin in "${plugins[@]}"; do
  [ -f "$plugin" ] || fail "no plugin $plugin"
  copy_same_path "$plugin"
  copy_libraries "$plugin"
done
for tree in "${trees[@]}"; do
  src=${tree%%=*}
  dest=$root/${tree#*=}
  mkdir -p "$dest"
  cp -rL "$src/." "$dest/"
done

case ${VELT_SOAK_SEED:-0} in
'' | *[!0-9]*) fail "VELT_SOAK_SEED must be a number, not '$VELT_SOAK_SEED'" ;;
esac

initrd=$work/initramfs.cpio
(cd "$root" && find . | cpio -o -H newc --quiet) >"$initrd" || fail "could not build the initramfs"

virtfs=()
for share in "${shares[@]}"; do
  [ -d "${share%%=*}" ] || skip "no folder ${share%%=*} to share (its test makes it)"
  virtfs+=(-virtfs "local,path=${share%%=*},mount_tag=${share#*=},security_model=none,readonly=on")
done

# --- boot --------------------------------------------------------------------

console=$work/console.log
echo "booting $(basename "$kernel") with $(du -m "$initrd" | cut -f1) MB of initramfs, at most ${timeout_s} s"
started=$(date +%s)
timeout --kill-after=10 "$timeout_s" qemu-system-x86_64 \
  -accel tcg -cpu max -smp 2 -m "$memory" \
  -nographic -serial stdio -monitor none -nic none -no-reboot \
  -kernel "$kernel/vmlinuz" -initrd "$initrd" "${virtfs[@]}" \
  -append "console=ttyS0 rdinit=/init panic=-1 oops=panic quiet loglevel=3${VELT_SOAK_SEED:+ VELT_SOAK_SEED=$VELT_SOAK_SEED}" \
  </dev/null >"$console" 2>&1
qemu_status=$?
elapsed=$(($(date +%s) - started))

echo "guest ran ${elapsed} s"
judge "$console" "$qemu_status"
