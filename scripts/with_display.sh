#!/usr/bin/env bash
# scripts/with_display.sh COMMAND [ARGS...]  runs COMMAND with DISPLAY set to a virtual X
# display of its own (Xvfb, 1280 x 1024, 24-bit), and stops that display by its process id when
# COMMAND ends, fails or is interrupted. Exits with COMMAND's status.
set -euo pipefail
if [ $# -eq 0 ]; then
  echo "usage: $0 COMMAND [ARGS...]" >&2
  exit 2
fi
displayfd_file=$(mktemp)
xvfb_pid=
stop_display() {
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
  fi
  rm -f "$displayfd_file"
}
trap stop_display EXIT
trap 'exit 130' INT TERM
# Xvfb picks a free display number and writes it to descriptor 3 once it accepts clients.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$displayfd_file" \
  >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 1 100); do
  [ -s "$displayfd_file" ] && break
  if ! kill -0 "$xvfb_pid" 2>/dev/null; then
    echo "error: the virtual display (Xvfb) did not start" >&2
    exit 1
  fi
  sleep 0.1
done
if [ ! -s "$displayfd_file" ]; then
  echo "error: the virtual display (Xvfb) gave no display number" >&2
  exit 1
fi
export DISPLAY=":$(head -n 1 "$displayfd_file")"
status=0
"$@" || status=$?
exit "$status"
