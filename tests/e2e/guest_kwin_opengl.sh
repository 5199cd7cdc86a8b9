#!/bin/sh
# Guest side of current_kwin_opengl: the Debian testing root arrives over 9p
# (tag "testing") with a tmpfs over it, the source (tag "source") and the
# agent and probe built in that root (tag "build") beside it; vgem gives the
# render node Mesa's software rasteriser draws through. There KWin must
# composite with OpenGL, and the rig runs the overlay's checks in it: KWin
# alone, since Plasma's shell takes minutes to start in a guest without
# hardware virtualisation, and every wait of the rig VELT_RIG_PATIENCE times
# as long.
for m in virtio_ring virtio virtio_pci_modern_dev virtio_pci_legacy_dev virtio_pci \
  9pnet 9pnet_virtio netfs fscache 9p overlay drm drm_shmem_helper vgem; do
  insmod "/lib/modules/velt/$m.ko" || { echo "velt-e2e: fail insmod $m"; exit 1; }
done
[ -c /dev/dri/renderD128 ] || { echo "velt-e2e: fail vgem gave no render node"; exit 1; }
# KWin runs as the rig's user.
chmod 666 /dev/dri/*
share() {  # TAG DIR
  mount -t 9p -o trans=virtio,version=9p2000.L,ro,cache=loose,msize=512000 "$1" "$2"
}
mkdir -p /mnt/lower /mnt/root /tmp/upper /tmp/work
share testing /mnt/lower &&
  mount -t overlay overlay -o lowerdir=/mnt/lower,upperdir=/tmp/upper,workdir=/tmp/work /mnt/root &&
  mkdir -p /mnt/root/velt/src /mnt/root/velt/build &&
  share source /mnt/root/velt/src && share build /mnt/root/velt/build ||
  { echo "velt-e2e: fail the testing root, the source or the build did not mount"; exit 1; }
for d in proc sys dev; do mount --rbind "/$d" "/mnt/root/$d"; done
mount -t tmpfs tmp /mnt/root/tmp
mount -t tmpfs run /mnt/root/run
echo "velt-e2e: pass the testing root, the source and the build mounted over 9p, vgem loaded"
started=$(date +%s)
{
  chroot /mnt/root /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 CI=true \
    VELT_RIG_USER=velt-current VELT_RIG_KWIN_ONLY=1 VELT_RIG_OUTPUTS=1 VELT_RIG_PATIENCE=4 \
    VELT_RIG_TIME_LIMIT=600 \
    bash /velt/src/tests/desktop/desktop_rig.sh kwin -- bash /velt/src/tests/desktop/desktop_checks.sh \
    /velt/build/tests/velt-desktop-probe /velt/build/bin/velt-mouse-assistant overlay
  echo $? >/tmp/rig.status
} 2>&1 | tee /tmp/rig.log | while IFS= read -r line; do echo "rig: $line"; done
status=$(cat /tmp/rig.status)
echo "velt-e2e: the rig ran $(($(date +%s) - started)) s"
sed -n 's/^ok   kwin: /velt-e2e: pass /p; s/^FAIL kwin: /velt-e2e: fail /p' /tmp/rig.log
[ "$status" -eq 0 ] || echo "velt-e2e: fail the rig ended with status $status"
