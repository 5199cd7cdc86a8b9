# Guest script: the agent against virtual mice of every type.
mkdir -p /var/run && syslogd -O /tmp/agent.log
velt-e2e-scenario-runner /opt/velt/scenarios/agent.scenario
