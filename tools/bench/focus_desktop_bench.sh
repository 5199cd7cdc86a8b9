#!/usr/bin/env bash
# How soon the profile in use follows the focus on the real desktops,
# headless in the desktop rig: two windows of two applications, each with a
# profile, take the focus in turn, and the real agent follows. Prints the
# median, 95th and 99th percentiles and the worst, judges nothing.
#
# Each change is timed from the desktop's report of it, as a program beside
# the agent sees it:
#   sway   the IPC "window" event of the focus (a subscriber of sway's socket)
#   kwin   the agent's KWin script calling ActiveWindow on the agent
#   gnome  the agent's extension sending FocusedWindowChanged
#          (both seen by dbus-monitor on the session bus)
# to the agent's line "application in focus: ID" (VELT_DEBUG, stamped with
# VELT_LOG_TIME on standard error), which it writes just before the profile
# of ID takes over.
# Both sides use the wall clock, in microseconds.
#
# usage (as root, holding the heavy lock like the desktop tests):
#   flock /tmp/velt-heavy.lock tools/bench/focus_desktop_bench.sh BUILD [DESKTOP...]
#   BUILD     a build folder with the agent and velt-desktop-probe
#   DESKTOP   sway, kwin or gnome (all three by default)
# VELT_BENCH_CHANGES: how many changes of the focus (300 by default).
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)

if [ -z "${VELT_RIG_DESKTOP:-}" ]; then
  build=$(cd "${1:?usage: focus_desktop_bench.sh BUILD [DESKTOP...]}" && pwd)
  shift
  desktops=("$@")
  [ ${#desktops[@]} -gt 0 ] || desktops=(sway kwin gnome)
  # The program that watches the desktop runs ahead of all others (FIFO), so
  # that its time of a report is when the report came, not when a busy
  # machine let it run. The rig's user may not raise it; root does.
  user=${VELT_RIG_USER:-velt-test}
  while sleep 0.2; do
    for file in /tmp/velt-rig.*/work/focus-watcher.pid; do
      pid=$(cat "$file" 2>/dev/null) || continue
      [ "$(stat -c %U "/proc/$pid" 2>/dev/null)" = "$user" ] || continue
      chrt -p "$pid" | grep -q SCHED_FIFO || chrt -f -p 10 "$pid"
    done
  done &
  raiser=$!
  trap 'kill $raiser' EXIT
  for desktop in "${desktops[@]}"; do
    echo "== $desktop"
    VELT_RIG_TIME_LIMIT=${VELT_RIG_TIME_LIMIT:-600} bash "$root/tests/desktop/desktop_rig.sh" "$desktop" \
      --extension "$root/packaging/gnome-shell/velt-mouse-assistant@quorin.driver.velt" -- \
      env VELT_BENCH_CHANGES="${VELT_BENCH_CHANGES:-300}" bash "$here/focus_desktop_bench.sh" "$build"
  done
  exit 0
fi

# Inside the rig, as its user.
build=$1
probe=$build/tests/velt-desktop-probe
agent=$build/bin/velt-mouse-assistant
changes=${VELT_BENCH_CHANGES:-300}
desktop=$VELT_RIG_DESKTOP
apps=(libreoffice-impress files-window)
out=$(mktemp -d)
children=()
trap 'for pid in "${children[@]}"; do kill "$pid" 2>/dev/null; done; wait 2>/dev/null; rm -rf "$out"' EXIT
say() { echo "focus bench[$desktop]: $*" >&2; }
poll() {  # SECONDS INTERVAL COMMAND...
  local end=$((SECONDS + $1)) interval=$2
  shift 2
  until "$@" >/dev/null 2>&1; do
    [ $SECONDS -ge $end ] && return 1
    sleep "$interval"
  done
}
background() {  # LOG COMMAND...
  local log=$1
  shift
  "$@" >"$log" 2>&1 &
  children+=($!)
}

# A profile for each of the two applications, every button as for all.
folder="$HOME/Documents/quorin.driver.velt"
mkdir -p "$folder"
python3 - "$root/resources/button.plist" "$folder/button.plist" "${apps[@]}" <<'EOF'
import plistlib, sys
with open(sys.argv[1], 'rb') as f:
    settings = plistlib.load(f)
settings['profiles'] = [{'application': app} for app in sys.argv[3:]]
with open(sys.argv[2], 'wb') as f:
    plistlib.dump(settings, f)
EOF

for app in "${apps[@]}"; do
  background "$out/window-$app" "$probe" window "$app"
  poll 20 0.1 grep -q shown "$out/window-$app" || { say "the window $app does not show"; exit 1; }
done

# What tells of each change, and how the bench makes one.
case $desktop in
  sway)
    version="sway $(dpkg-query -W -f="\${Version}" sway)"
    cat >"$out/sway_events.py" <<'EOF'
import json, os, socket, struct, time
ipc = socket.socket(socket.AF_UNIX)
ipc.connect(os.environ['SWAYSOCK'])
events = b'["window"]'
ipc.sendall(b'i3-ipc' + struct.pack('=II', len(events), 2) + events)
def read(n):
    data = b''
    while len(data) < n:
        more = ipc.recv(n - len(data))
        if not more:
            raise SystemExit
        data += more
    return data
while True:
    header = read(14)
    at = time.time()
    length, kind = struct.unpack('=II', header[6:])
    body = json.loads(read(length))
    if not kind & 0x80000000:
        print('subscribed', flush=True)
    elif body.get('change') == 'focus':
        print('%.6f %s' % (at, body['container'].get('app_id')), flush=True)
EOF
    background "$out/desktop" python3 "$out/sway_events.py"
    poll 10 0.1 grep -q subscribed "$out/desktop" || { say "no events from sway"; exit 1; }
    focus_on() { swaymsg -q "[app_id=\"$1\"] focus"; }
    ;;
  kwin)
    version="KWin $(dpkg-query -W -f="\${Version}" kwin-wayland)"
    background "$out/bus" dbus-monitor --session \
      "type='method_call',interface='quorin.driver.velt.KWin',member='ActiveWindow'"
    # KWin lets no client take the focus: a script of the bench's gives it,
    # on a shortcut without keys for each application.
    {
      echo 'function activate(cls) {'
      echo '  var list = workspace.windowList ? workspace.windowList() : workspace.clientList();'
      echo '  for (var i = 0; i < list.length; i++) {'
      echo '    if (String(list[i].resourceClass) != cls) continue;'
      echo '    if (workspace.activeWindow !== undefined) workspace.activeWindow = list[i];'
      echo '    else workspace.activeClient = list[i];'
      echo '  }'
      echo '}'
      for app in "${apps[@]}"; do
        echo "registerShortcut('velt-bench-$app', 'focus bench: $app', '', function () { activate('$app'); });"
      done
    } >"$out/focus.js"
    id=$(gdbus call --session -d org.kde.KWin -o /Scripting -m org.kde.kwin.Scripting.loadScript \
      "$out/focus.js" velt-bench-focus | grep -o '[0-9]\+' | head -n 1)
    { gdbus call --session -d org.kde.KWin -o "/Scripting/Script$id" -m org.kde.kwin.Script.run ||
      gdbus call --session -d org.kde.KWin -o "/$id" -m org.kde.kwin.Script.run; } >/dev/null 2>&1 ||
      { say "KWin does not run the bench's script"; exit 1; }
    focus_on() {
      gdbus call --session -d org.kde.kglobalaccel -o /component/kwin \
        -m org.kde.kglobalaccel.Component.invokeShortcut "velt-bench-$1" >/dev/null
    }
    ;;
  gnome)
    version="GNOME Shell $(dpkg-query -W -f="\${Version}" gnome-shell)"
    background "$out/bus" dbus-monitor --session "type='signal',member='FocusedWindowChanged'"
    focus_on() {
      gdbus call --session -d quorin.driver.velt.Rig -o /quorin/driver/velt/Rig \
        -m quorin.driver.velt.Rig.Focus "$1" >/dev/null
    }
    ;;
  *) say "no focus figures on $desktop"; exit 2 ;;
esac
if [ "$desktop" != sway ]; then
  poll 10 0.1 grep -q NameAcquired "$out/bus" || { say "dbus-monitor does not start"; exit 1; }
fi
echo "${children[-1]}" >focus-watcher.pid
fifo() { chrt -p "${children[-1]}" | grep -q SCHED_FIFO; }
if poll 5 0.1 fifo; then watcher="the watcher at FIFO priority"; else watcher="the watcher at normal priority"; fi

VELT_DEBUG=1 VELT_LOG_STDERR=1 VELT_LOG_TIME=1 background "$out/agent" "$agent"
in_focus() { grep 'application in focus:' "$out/agent" | tail -n 1 | grep -q ": $1\$"; }
focus_on "${apps[1]}"
poll 30 0.1 in_focus "${apps[1]}" || {
  say "the agent does not follow the focus"
  tail -n 20 "$out/agent" >&2
  exit 1
}

# One change at a time: the next once the agent has followed, and a pause
# between them so that each starts from a quiet desktop.
load_before=$(uptime)
for ((i = 0; i < changes; i++)); do
  app=${apps[i % 2]}
  echo "$EPOCHREALTIME $app" >>"$out/rounds"
  focus_on "$app" || { say "cannot give $app the focus"; break; }
  sleep 0.03
  poll 5 0.02 in_focus "$app" || say "the agent did not follow the focus to $app"
  sleep 0.03
done
load_after=$(uptime)

if [ "$desktop" = sway ]; then
  grep -v subscribed "$out/desktop" >"$out/reports"
else
  # dbus-monitor's header line of each message has its time; the strings
  # that follow name the window.
  awk '/^[a-z]/ { if (at) print at, names; at = ""; names = "" }
       /^(method call|signal) / { match($0, /time=[0-9.]+/); at = substr($0, RSTART + 5, RLENGTH - 5) }
       /^ +string / { names = names " " $2 }
       END { if (at) print at, names }' "$out/bus" | tr -d '"' >"$out/reports"
fi
python3 - "$out/rounds" "$out/reports" "$out/agent" "$version, $watcher" <<'EOF'
import bisect, re, sys
rounds = [line.split() for line in open(sys.argv[1])]
rounds = [(float(at), app) for at, app in rounds]
reports = []
for line in open(sys.argv[2]):
    at, *names = line.split()
    reports.append((float(at), names))
followed = []
for line in open(sys.argv[3], errors='replace'):
    m = re.match(r'(\d+\.\d+) application in focus: (\S+)$', line.strip())
    if m:
        followed.append((float(m.group(1)), m.group(2)))

def first(events, start, end, fits):
    i = bisect.bisect_left(events, (start,))
    while i < len(events) and events[i][0] < end:
        if fits(events[i][1]):
            return events[i][0]
        i += 1
    return None

lags, missed = [], 0
for k, (start, app) in enumerate(rounds):
    end = rounds[k + 1][0] if k + 1 < len(rounds) else float('inf')
    told = first(reports, start, end, lambda names: any(app in name for name in names))
    done = first(followed, start, end, lambda got: got == app)
    if told is None or done is None:
        missed += 1
    else:
        lags.append((done - told) * 1000)
lags.sort()
if not lags:
    sys.exit('focus bench: no change was timed')
at = lambda q: lags[int(q * (len(lags) - 1))]
within = sum(1 for lag in lags if lag <= 1000 / 60)
# The least is below zero where the agent was quicker than the program that
# watched the desktop.
print('focus change to profile (%s, %d changes%s): p50 %.3f ms, p95 %.3f ms, p99 %.3f ms, '
      'least %.3f ms, worst %.3f ms; %d%% within 16.7 ms' %
      (sys.argv[4], len(lags), ', %d not timed' % missed if missed else '', at(0.5), at(0.95),
       at(0.99), lags[0], lags[-1], 100 * within // len(lags)))
EOF
echo "load before: $load_before"
echo "load after: $load_after"
