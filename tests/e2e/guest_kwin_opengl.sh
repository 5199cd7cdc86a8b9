#!/bin/sh
# Guest side of current_kwin_opengl: the Debian testing root arrives over 9p
# (tag "testing") with a tmpfs over it; vgem gives the render node Mesa's
# software rasteriser draws through. KWin must composite with OpenGL there.
for m in virtio_ring virtio virtio_pci_modern_dev virtio_pci_legacy_dev virtio_pci \
  9pnet 9pnet_virtio netfs fscache 9p overlay drm drm_shmem_helper vgem; do
  insmod "/lib/modules/velt/$m.ko" || { echo "velt-e2e: fail insmod $m"; exit 1; }
done
[ -c /dev/dri/renderD128 ] || { echo "velt-e2e: fail vgem gave no render node"; exit 1; }
mkdir -p /mnt/lower /mnt/root /tmp/upper /tmp/work
mount -t 9p -o trans=virtio,version=9p2000.L,ro,cache=loose,msize=512000 testing /mnt/lower &&
  mount -t overlay overlay -o lowerdir=/mnt/lower,upperdir=/tmp/upper,workdir=/tmp/work /mnt/root ||
  { echo "velt-e2e: fail the testing root did not mount"; exit 1; }
for d in proc sys dev; do mount --bind "/$d" "/mnt/root/$d"; done
mount -t tmpfs tmp /mnt/root/tmp
mount -t tmpfs run /mnt/root/run
echo "velt-e2e: pass the testing root mounted over 9p, vgem loaded"
chroot /mnt/root /usr/bin/env -i PATH=/usr/bin:/bin HOME=/root XDG_RUNTIME_DIR=/run/user LANG=C.UTF-8 \
  QT_LOGGING_RULES='kwin_*.debug=true' sh -c '
mkdir -m 700 /run/user
exec dbus-run-session -- sh -c "
kwin_wayland --virtual --width 1280 --height 720 --no-lockscreen >/tmp/kwin.log 2>&1 &
started=\$(date +%s)
while [ \$((\$(date +%s) - started)) -lt 400 ]; do
  qdbus6 org.kde.KWin /KWin supportInformation >/tmp/info 2>/dev/null && break
  sleep 5
done
echo \"velt-e2e: kwin answered after \$((\$(date +%s) - started)) s\"
grep -E \"^KWin version|^Compositing Type|^OpenGL renderer\" /tmp/info
if grep -q \"^Compositing Type: OpenGL\" /tmp/info; then
  echo \"velt-e2e: pass KWin composites with OpenGL\"
else
  echo \"velt-e2e: fail KWin does not composite with OpenGL\"
  tail -n 40 /tmp/kwin.log
fi"'
