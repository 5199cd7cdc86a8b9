#!/usr/bin/env bash
# The overlay on GNOME Shell (Wayland), drawn by the agent's shell extension:
# prints figures, judges nothing. As root, on a machine that can host the
# desktop rig (tests/desktop/desktop_rig.sh), for each monitor size:
#   - pointer-to-overlay lag: from a pointer move to the frame clock's
#     presentation of the first frame with the spotlight's hole centred on
#     the new place (p50, p95, p99 and worst of 200 moves, at uneven
#     intervals), in ms, beside the view's frame interval and the frames
#     painted meanwhile; to the end of that frame's paint on a shell whose
#     stage cannot hand its presentations to JavaScript (GNOME Shell 43);
#   - CPU while the pointer circles for 10 s, one step per 16 ms, with the
#     spotlight and then the magnifier: the agent's, and the shell's (which
#     draws the overlay, in software here: llvmpipe);
#   - the shell's paint time per frame meanwhile (mean and worst): with the
#     magnifier, what one redraw of the lens costs the shell.
#
# usage: gnome_overlay_bench.sh AGENT [SIZE...]   (sizes default to
#        1920x1080 3840x2160; AGENT is the built velt-mouse-assistant)
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)

if [ "${1:-}" != --inside ]; then
  agent=$(realpath "$1")
  shift
  sizes=("${@:-1920x1080 3840x2160}")
  for size in ${sizes[*]}; do
    VELT_RIG_USER=${VELT_RIG_USER:-velt-gnome} VELT_RIG_MONITORS=$size \
      bash "$root/tests/desktop/desktop_rig.sh" gnome \
      --extension "$root/packaging/gnome-shell/velt-mouse-assistant@quorin.driver.velt" -- \
      bash "$here/gnome_overlay_bench.sh" --inside "$agent" "$size"
  done
  exit
fi

agent=$2
size=$3
rig() {
  local method=$1
  shift
  gdbus call --session -d quorin.driver.velt.Rig -o /quorin/driver/velt/Rig \
    -m "quorin.driver.velt.Rig.$method" "$@"
}
ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
VELT_DEBUG=1 VELT_LOG_STDERR=1 "$agent" >agent.log 2>&1 &
pid=$!
trap 'kill $pid 2>/dev/null; wait' EXIT
for _ in $(seq 300); do
  gdbus call --session -d org.freedesktop.DBus -o /org/freedesktop/DBus \
    -m org.freedesktop.DBus.NameHasOwner quorin.driver.velt.Shell 2>/dev/null | grep -q true && break
  sleep 0.1
done
for _ in $(seq 300); do
  gdbus call --session -d quorin.driver.velt -o /quorin/driver/velt -m org.freedesktop.DBus.Peer.Ping \
    >/dev/null 2>&1 && break
  sleep 0.1
done
# Its first look for mice hides the overlay when it finds none.
for _ in $(seq 300); do grep -q 'device change:' agent.log && break; sleep 0.1; done
rig Settle >/dev/null
shell=$(pgrep -u "$(id -u)" -x gnome-shell | head -n 1)
width=${size%x*}
height=${size#*x}

"$agent" --run 18 >/dev/null
rig MovePointer $((width / 2)) $((height / 2)) >/dev/null
sleep 1
echo "$size load: $(uptime)"
for i in $(seq 200); do
  x=$((width / 4 + (i % 2) * width / 2))
  rig FollowLag "$x" $((height / 2))
  sleep "0.0$((40 + RANDOM % 41))"
done | tr -d '(),' | sort -n >all
# Moves whose overlay did not show within 1 s (-1 ms) are counted apart.
grep -v '^-1 ' all >lag
missed=$(($(wc -l <all) - $(wc -l <lag)))
n=$(wc -l <lag)
nth() { sed -n "$(((n * $1 + 99) / 100))p" lag | cut -d' ' -f1; }
if grep -q ' true$' lag; then
  to="to presentation"
else
  to="to the end of the paint (this shell's stage hands JavaScript no presentation)"
fi
if [ "$n" -gt 0 ]; then
  printf '%s lag %s: p50 %.1f ms, p95 %.1f ms, p99 %.1f ms, worst %.1f ms over %s moves (%s frames painted at the median, %s not shown within 1 s); frame interval %s ms\n' \
    "$size" "$to" "$(nth 50)" "$(nth 95)" "$(nth 99)" "$(tail -n 1 lag | cut -d' ' -f1)" "$n" \
    "$(sed -n "$(((n + 1) / 2))p" lag | cut -d' ' -f2)" "$missed" "$(printf %.2f "$(tail -n 1 lag | cut -d' ' -f3)")"
else
  echo "$size lag: the overlay did not follow the pointer within 1 s in any of $missed moves"
fi

circle() {  # NAME: 10 s of motion, figures on one line
  local a0 s0 a1 s1 hz
  hz=$(getconf CLK_TCK)
  a0=$(ticks "$pid")
  s0=$(ticks "$shell")
  read -r frames mean worst < <(rig Wiggle 10 --timeout 120 | tr -d "(),")
  a1=$(ticks "$pid")
  s1=$(ticks "$shell")
  printf '%s %s, 10 s of motion: agent %s%% of a core, shell %s%%; %s frames painted, paint %s ms mean, %s ms worst\n' \
    "$size" "$1" "$(((a1 - a0) * 100 / (hz * 10)))" "$(((s1 - s0) * 100 / (hz * 10)))" \
    "$frames" "$(printf %.2f "$mean")" "$(printf %.2f "$worst")"
}
circle spotlight
"$agent" --run 18 >/dev/null
sleep 0.5
circle "no overlay"
"$agent" --run 19 >/dev/null
sleep 0.5
circle magnifier
"$agent" --run 19 >/dev/null
