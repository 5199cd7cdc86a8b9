#!/usr/bin/env bash
# The overlay's figures on real desktops, headless: the lag from a pointer
# move to the presented frame with the spotlight at the new place (p50, p95,
# p99 beside the output's frame interval; velt-overlay-lag-bench says how
# each desktop tells), and the agent's CPU use while the pointer moves for
# 10 s with the spotlight, then the magnifier (and, with the magnifier, while the pointer
# stands still for 10 s: a live lens keeps taking pictures), at 1920x1080 and
# 3840x2160.
#
# usage (as root, like the desktop tests): tools/bench/overlay_bench.sh BUILD [DESKTOP...]
#   BUILD     a build folder (build/release gives figures worth quoting)
#   DESKTOP   sway, kwin or x11 (all three by default)
# VELT_BENCH_SIZES lists the screen sizes (default "1920x1080 3840x2160").
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)

if [ -z "${VELT_RIG_DESKTOP:-}" ]; then
  build=$(cd "${1:?usage: overlay_bench.sh BUILD [DESKTOP...]}" && pwd)
  shift
  desktops=("$@")
  [ ${#desktops[@]} -gt 0 ] || desktops=(sway kwin x11)
  for desktop in "${desktops[@]}"; do
    for size in ${VELT_BENCH_SIZES:-1920x1080 3840x2160}; do
      echo "== $desktop $size"
      VELT_RIG_SIZE=$size bash "$here/../../tests/desktop/desktop_rig.sh" "$desktop" -- \
        env VELT_BENCH_SIZE=$size bash "$here/overlay_bench.sh" "$build" 2>&1 |
        grep -v '^desktop_rig'
    done
  done
  exit 0
fi

# Inside the rig, as its user.
build=$1
probe=$build/tests/velt-desktop-probe
agent=$build/bin/velt-mouse-assistant
bench=$build/bin/velt-overlay-lag-bench
out=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null; wait 2>/dev/null; rm -rf "$out"' EXIT
export VELT_PROBE=$probe VELT_BENCH_AGENT_LOG=$out/agent
echo "load: $(uptime)"

if [ "$VELT_RIG_DESKTOP" = kwin ]; then
  bash "$here/../../tests/desktop/kwin_screenshot_entries.sh" "$agent" "$bench"
fi
"$probe" window pattern fullscreen >"$out/pattern" 2>&1 &
for _ in $(seq 200); do grep -q shown "$out/pattern" && break; sleep 0.1; done
start_agent() {  # [VARIABLE=VALUE...]
  env "$@" "$agent" >"$out/agent" 2>&1 &
  agent_pid=$!
  for _ in $(seq 300); do grep -q 'device change:' "$out/agent" && break; sleep 0.1; done
}
stop_agent() { kill -TERM $agent_pid; wait $agent_pid 2>/dev/null; }
# VELT_LOG_TIME=1: a line for each frame presented, which the lag is read from.
start_agent VELT_DEBUG=1 VELT_LOG_STDERR=1 VELT_LOG_TIME=1

ticks() { awk '{ print $14 + $15 }' "/proc/$agent_pid/stat"; }
cpu_while() {  # WHAT HOW COMMAND...: the agent's CPU while COMMAND runs (10 s)
  local what=$1 how=$2 before after start end
  shift 2
  before=$(ticks)
  start=$(date +%s.%N)
  "$@" >/dev/null
  end=$(date +%s.%N)
  after=$(ticks)
  # Over the time the command took: on a busy machine it runs past its 10 s.
  awk -v t=$((after - before)) -v hz="$(getconf CLK_TCK)" -v what="$what" -v how="$how" \
    -v size="$VELT_BENCH_SIZE" -v s="$start" -v e="$end" \
    'BEGIN { printf "agent CPU, %s, %s, pointer %s %.1f s: %.1f%% of one core\n", what, size, how, e - s, 100 * t / hz / (e - s) }'
}
cpu_while_moving() { cpu_while "$1" moving "$bench" motion 10; }

"$agent" --run 18 >/dev/null
sleep 1
"$bench" lag ${VELT_BENCH_MOVES:-200} | sed "s/^/spotlight, $VELT_BENCH_SIZE: /"
# The CPU without a line for every frame, which would double it on Wayland.
stop_agent
start_agent VELT_DEBUG=1 VELT_LOG_STDERR=1
"$agent" --run 18 >/dev/null
sleep 1
cpu_while_moving spotlight
"$agent" --run 18 >/dev/null
sleep 1
"$agent" --run 19 >/dev/null
sleep 1
cpu_while_moving magnifier
cpu_while magnifier still sleep 10
"$agent" --run 19 >/dev/null
stop_agent
