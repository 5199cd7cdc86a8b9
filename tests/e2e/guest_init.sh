#!/bin/busybox sh
# /init of the test guest: mounts the kernel file systems, loads the HID and
# input modules, runs /e2e/guest.sh and powers off. The host reads only the
# "velt-e2e:" lines of the console.
/bin/busybox mount -t proc proc /proc
/bin/busybox mount -t sysfs sys /sys
/bin/busybox mount -t devtmpfs dev /dev
exec </dev/console >/dev/console 2>&1
/bin/busybox --install -s /bin
export PATH=/opt/velt/bin:/bin
export HOME=/root
export TMPDIR=/tmp
echo 1 >/proc/sys/kernel/printk
mount -t tmpfs tmp /tmp
mount -t tmpfs run /run
export XDG_RUNTIME_DIR=/run/user/0
mkdir -p /dev/shm /dev/pts "$HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
mount -t tmpfs shm /dev/shm
mount -t devpts pts /dev/pts
echo
echo "velt-e2e: booted $(uname -r)"

status=0
# No modules.dep in the package: load in dependency order.
for module in hid uhid hid-generic evdev uinput; do
  if ! insmod "/lib/modules/velt/$module.ko"; then
    echo "velt-e2e: fail insmod $module"
    status=1
  fi
done

if [ "$status" = 0 ]; then
  cd /e2e && sh /e2e/guest.sh
  status=$?
fi
echo "velt-e2e: end $status"
sync
poweroff -f
