# Guest script: hot-plug soak of the agent.
mkdir -p /var/run && syslogd -O /tmp/agent.log
velt-e2e-hotplug-soak 800
