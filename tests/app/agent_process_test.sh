#!/usr/bin/env bash
# The agent as a process: a second copy exits 0 at once and leaves the first
# running; SIGTERM then ends the first through its normal way out, status 0.
# usage: agent_process_test.sh AGENT_EXECUTABLE
set -u
agent=$1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -m 700 "$scratch/run"
export HOME=$scratch XDG_RUNTIME_DIR=$scratch/run XDG_CONFIG_HOME=$scratch/config
export QT_QPA_PLATFORM=offscreen

"$agent" 2>"$scratch/first.log" &
first=$!
for _ in $(seq 100); do
  [ -S "$scratch/run/quorin.driver.velt.socket" ] && break
  sleep 0.1
done
[ -S "$scratch/run/quorin.driver.velt.socket" ] || { echo "first copy never listened"; exit 1; }

timeout 20 "$agent" 2>"$scratch/second.log"
status=$?
[ $status -eq 0 ] || { echo "second copy exited with $status"; exit 1; }
kill -0 $first 2>/dev/null || { echo "the first copy went away"; exit 1; }

kill -TERM $first
for _ in $(seq 100); do
  kill -0 $first 2>/dev/null || break
  sleep 0.1
done
if kill -0 $first 2>/dev/null; then
  kill -KILL $first
  echo "SIGTERM did not end the agent"
  exit 1
fi
wait $first
status=$?
[ $status -eq 0 ] || { echo "the agent ended with $status after SIGTERM"; cat "$scratch/first.log"; exit 1; }
[ -f "$scratch/Documents/quorin.driver.velt/button.plist" ] || { echo "no settings file"; exit 1; }
echo "1 passed, 0 failed"
