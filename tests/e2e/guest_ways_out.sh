# Guest script: every way out of the agent gives the mice their buttons back.
mkdir -p /var/run /etc /usr/bin && syslogd -O /tmp/agent.log
# Two users besides root, a machine id for D-Bus, and xkbcomp where the X
# server looks for it.
printf 'root:x:0:0::/root:/bin/sh\na:x:1001:1001::/home/1001:/bin/sh\nb:x:1002:1002::/home/1002:/bin/sh\n' >/etc/passwd
printf 'root:x:0:\na:x:1001:\nb:x:1002:\n' >/etc/group
echo 0123456789abcdef0123456789abcdef >/etc/machine-id
ln -s /opt/velt/bin/xkbcomp /usr/bin/xkbcomp
velt-e2e-scenario-runner /opt/velt/scenarios/ways_out.scenario
