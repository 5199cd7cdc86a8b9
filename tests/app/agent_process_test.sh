#!/usr/bin/env bash
# The agent as a process. Its command line answers without a display and
# without an agent; with one running, its requests reach it, bad ones are
# refused, and --quit ends it through its normal way out. A second plain
# copy exits 0 at once and leaves the first running; SIGTERM ends it too.
# usage: agent_process_test.sh AGENT_EXECUTABLE
set -u
agent=$1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -m 700 "$scratch/run"
mkdir "$scratch/bin"
export HOME=$scratch XDG_RUNTIME_DIR=$scratch/run XDG_CONFIG_HOME=$scratch/config
# No session bus: the desktop functions take the routes that start programs.
export DBUS_SESSION_BUS_ADDRESS=unix:path=$scratch/no-bus
socket=$scratch/run/quorin.driver.velt.socket
failures=0

fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# expect STATUS TEXT ARGS...: the command line exits with STATUS and says
# TEXT (a part of its output, or nothing when TEXT is empty).
expect() {
  local status=$1 text=$2
  shift 2
  local out
  out=$(timeout 40 "$agent" "$@" 2>&1)
  local got=$?
  [ $got -eq "$status" ] || fail "$* exited with $got, not $status: $out"
  if [ -z "$text" ]; then
    [ -z "$out" ] || fail "$* said: $out"
  else
    [[ $out == *"$text"* ]] || fail "$* said \"$out\", not \"$text\""
  fi
}

wait_for_socket() {
  for _ in $(seq 100); do
    [ -S "$socket" ] && return 0
    sleep 0.1
  done
  return 1
}

# Waits for process $1 to end; its exit status, or 255 when it did not.
wait_for_end() {
  for _ in $(seq 200); do
    kill -0 "$1" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$1" 2>/dev/null; then
    kill -KILL "$1"
    wait "$1"
    return 255
  fi
  wait "$1"
}

# Without an agent and without a display: nothing starts, no lock is taken.
(
  unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM
  expect 0 "velt-mouse-assistant 1" --version
  expect 0 "27:N  the shortcut recorded on button N" --help
  expect 1 "no agent is running" --run 13
  expect 1 "no agent is running" --quit
  expect 1 "no agent is running" --status
  expect 2 "Unknown option 'frobnicate'" --frobnicate
  expect 2 "\"31\" is not a function code" --run 31
  expect 2 "\"6\" is not a function code" --press 6
  expect 2 "give the button as 27:N" --run 27
  expect 2 "Missing value after '--release'" --release
  expect 2 "give one option at a time" --run 13 --show
  [ -z "$(ls -A "$scratch/run")" ] || fail "the command line left $(ls "$scratch/run")"
  exit $failures
) || failures=$((failures + $?))

export QT_QPA_PLATFORM=offscreen
# The screenshot function starts this stand-in, which notes that it ran.
printf '#!/bin/sh\necho "$0 $*" > "%s/screenshot-taken"\n' "$scratch" >"$scratch/bin/spectacle"
chmod +x "$scratch/bin/spectacle"

PATH=$scratch/bin:$PATH "$agent" 2>"$scratch/first.log" &
first=$!
wait_for_socket || { echo "the agent never listened"; exit 1; }

timeout 20 "$agent" 2>"$scratch/second.log"
status=$?
[ $status -eq 0 ] || fail "a second plain copy exited with $status"

expect 0 "" --run 17
for _ in $(seq 100); do
  [ -f "$scratch/screenshot-taken" ] && break
  sleep 0.1
done
[ -f "$scratch/screenshot-taken" ] || fail "--run 17 did not start the screenshot tool"
expect 2 "function 23 is not held" --release 23
expect 0 "" --press 23
expect 2 "function 23 is held; release it first" --press 23
expect 0 "" --release 23
expect 2 "button 1 has no recorded shortcut" --run 27:1
expect 0 "" --show
# No mouse here, and offscreen Qt has no focused window.
expect 0 $'mouse: none found\nfocus: unknown\napplication: unknown\nprofile: All applications' --status
expect 0 "" --press 25
kill -0 $first 2>/dev/null || fail "the agent went away"

# --quit returns once the agent has let go of the mice and of its lock.
expect 0 "" --quit
wait_for_end $first
status=$?
[ $status -eq 0 ] || { fail "the agent ended with $status after --quit"; cat "$scratch/first.log"; }
[ -f "$scratch/Documents/quorin.driver.velt/button.plist" ] || fail "no settings file"

# Qt's own options still start the agent.
"$agent" -platform offscreen 2>"$scratch/again.log" &
again=$!
if wait_for_socket; then
  kill -TERM $again
  wait_for_end $again
  status=$?
  [ $status -eq 0 ] || { fail "the agent ended with $status after SIGTERM"; cat "$scratch/again.log"; }
else
  fail "a new agent did not start after --quit"
  kill -KILL $again
fi

[ $failures -eq 0 ] || exit 1
echo "1 passed, 0 failed"
