# Guest script: the event taps take over a mouse through evdev and uinput.
velt-takeover-e2e
