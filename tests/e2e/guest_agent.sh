# Guest script: the agent against virtual mice of every type.
syslogd -O /tmp/agent.log -s 4096
velt-e2e-agent-scenario
