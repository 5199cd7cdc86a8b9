#!/usr/bin/env bash
# KWin grants its ScreenShot2 interface to a program whose desktop entry,
# found by the program's full path, lists it, as the package's entry does for
# the agent. Writes such an entry for each PROGRAM into the user's
# applications folder.
#
# usage: kwin_screenshot_entries.sh PROGRAM...
set -u
mkdir -p ~/.local/share/applications
for program in "$@"; do
  printf '[Desktop Entry]\nType=Application\nName=%s\nExec=%s\nNoDisplay=true\nX-KDE-DBUS-Restricted-Interfaces=org.kde.KWin.ScreenShot2\n' \
    "$(basename "$program")" "$program" >~/.local/share/applications/"$(basename "$program")".desktop
done
kbuildsycoca6 >/dev/null 2>&1 || kbuildsycoca5 >/dev/null 2>&1 || true
