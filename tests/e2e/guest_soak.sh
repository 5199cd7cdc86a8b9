# Guest script: hot-plug soak of the agent.
mkdir -p /var/run && syslogd -O /tmp/agent.log
# The seed of a failed run (in its "seed" note) replays it: run the test with
# VELT_SOAK_SEED set on the host, which the kernel hands to the guest's init
# and the soak step reads.
velt-e2e-scenario-runner /opt/velt/scenarios/soak.scenario
