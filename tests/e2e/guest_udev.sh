# Guest script: the package's udev rule, with udev's input_id rule beside it,
# through udevadm test on the guest's devices.
mkdir -p /usr/lib/udev/rules.d
cp /opt/velt/packaging/70-velt-mouse-assistant.rules /opt/velt/rules/60-input-id.rules \
  /usr/lib/udev/rules.d/
velt-udev-rule-e2e
