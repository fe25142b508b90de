#!/usr/bin/env bash
# with-xvfb.sh COMMAND [ARG...]: runs a command with DISPLAY pointing at an Xvfb server of its own,
# which ends with it. Tests that run side by side never share a server, whose pointer and windows
# they would share too: each server takes a display number no other holds (a server refuses one in
# use, and the next number is tried), from 100 up, away from the :0 that programs without DISPLAY
# may reach. Exits with the command's status.
set -uo pipefail
folder="$(mktemp -d)"
server=""
child=""
finish() {
  [ -z "$child" ] || kill "$child" 2>/dev/null
  if [ -n "$server" ]; then
    kill "$server" 2>/dev/null
    wait "$server" 2>/dev/null
  fi
  rm -rf "$folder"
}
trap finish EXIT
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 143' TERM

# Starts a server on display $1; true once it is ready (it writes its number to the fd it is given).
start_server() {
  : > "$folder/display"
  Xvfb ":$1" -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$folder/display" 2>"$folder/xvfb.log" &
  server=$!
  for _ in $(seq 300); do
    grep -q '^[0-9][0-9]*$' "$folder/display" 2>/dev/null && return 0
    kill -0 "$server" 2>/dev/null || break
    sleep 0.05
  done
  kill "$server" 2>/dev/null
  wait "$server" 2>/dev/null
  server=""
  return 1
}

first=$((100 + $$ % 800))
for number in $(seq "$first" $((first + 60))); do
  start_server "$number" && break
done
if [ -z "$server" ]; then
  echo "with-xvfb: no Xvfb server would start" >&2
  cat "$folder/xvfb.log" >&2
  exit 1
fi
export DISPLAY=":$(cat "$folder/display")"
"$@" &
child=$!
wait "$child"
status=$?
child=""
exit "$status"
