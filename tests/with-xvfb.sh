#!/usr/bin/env bash
# with-xvfb.sh COMMAND [ARG...]: runs a command with DISPLAY pointing at an Xvfb server of its own,
# which ends with it. The server picks a free display number itself (-displayfd), so tests that run
# side by side never race for a number or share a server, whose pointer and windows they would
# share too. Exits with the command's status.
set -uo pipefail
folder="$(mktemp -d)"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$folder/display" 2>"$folder/xvfb.log" &
server=$!
child=""
finish() {
  [ -z "$child" ] || kill "$child" 2>/dev/null
  kill "$server" 2>/dev/null
  wait "$server" 2>/dev/null
  rm -rf "$folder"
}
trap finish EXIT
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 143' TERM

for _ in $(seq 300); do
  grep -q '^[0-9][0-9]*$' "$folder/display" 2>/dev/null && break
  kill -0 "$server" 2>/dev/null || break
  sleep 0.05
done
if ! grep -q '^[0-9][0-9]*$' "$folder/display" 2>/dev/null; then
  echo "with-xvfb: Xvfb did not start" >&2
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
