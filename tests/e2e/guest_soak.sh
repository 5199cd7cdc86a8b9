# Guest script: hot-plug soak of the agent.
syslogd -O /tmp/agent.log -s 4096
velt-e2e-hotplug-soak 500
