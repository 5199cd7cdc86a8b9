# Guest script: the event taps take over a mouse through evdev and uinput.
velt-e2e-scenario-runner /opt/velt/scenarios/takeover.scenario
