# Guest script: hot-plug soak of the agent.
mkdir -p /var/run && syslogd -O /tmp/agent.log
# The seed of a failed run (in its "seed" note) replays it: run the test with
# VELT_SOAK_SEED set on the host, which the kernel hands to the guest's init.
velt-e2e-hotplug-soak 800 ${VELT_SOAK_SEED:-}
