# Guest script: the agent's virtual keyboard and pointer on a real uinput,
# and the hidraw transport reopening the nodes of a uhid mouse.
out=$(VELT_TEST_RESOURCES=/opt/velt/test-resources platform_action_tests --gtest_filter='UinputOutput.*:HidrawTransportTest.*' 2>&1)
status=$?
echo "$out" | sed 's/^/  /'
[ "$status" = 0 ] || echo "velt-e2e: fail uinput backend: the tests ended with status $status"
if echo "$out" | grep -q '^\[  SKIPPED \]'; then
  echo "velt-e2e: fail uinput backend: skipped although the guest has /dev/uinput"
fi
echo "$out" | sed -n 's/^\[       OK \] \([^ ]*\).*/velt-e2e: pass \1/p'
