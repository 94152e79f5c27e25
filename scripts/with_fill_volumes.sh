#!/usr/bin/env bash
# scripts/with_fill_volumes.sh WINEPREFIX COMMAND [ARGS...]  runs COMMAND with two small ext4
# volumes of its own for the window's free-space fill tests, never the machine's own disk: each
# an image file in a fresh temporary folder, mounted through a loop device on a folder inside
# the Wine prefix's drive C:, where the system's folder picker reaches it. NULVANE_FILL_VOLUME
# names (as a Windows path) a 48 MiB volume that a test fills whole, NULVANE_STOP_VOLUME a 2 GiB
# sparse one that a test stops early, so it is never written through. Both are unmounted and
# removed when COMMAND ends, fails or is interrupted. Without root (or loop devices) nothing is
# mounted, the variables stay unset and COMMAND runs as it is: the tests that need the volumes
# skip with a message. Exits with COMMAND's status.
set -euo pipefail
if [ $# -lt 2 ]; then
  echo "usage: $0 WINEPREFIX COMMAND [ARGS...]" >&2
  exit 2
fi
drive_c="$1/drive_c"
shift
work=
points=
mounts=()
cleanup() {
  local point
  for point in "${mounts[@]}"; do
    umount "$point" 2>/dev/null || umount -l "$point" 2>/dev/null || true
  done
  [ -n "$points" ] && rm -rf --one-file-system "$points"
  [ -n "$work" ] && rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# make_volume NAME MEGABYTES: an ext4 image of that size mounted on $points/NAME.
make_volume() {
  local image="$work/$1.img" point="$points/$1"
  mkdir -p "$point"
  truncate -s "$2M" "$image"
  mkfs.ext4 -q -F -m 0 "$image" >/dev/null 2>&1 || return 1
  mount -o loop "$image" "$point" 2>/dev/null || return 1
  mounts+=("$point")
}

if [ "$(id -u)" -eq 0 ] && command -v mkfs.ext4 >/dev/null && [ -d "$drive_c" ]; then
  work=$(mktemp -d /tmp/nulvane-fill-volumes.XXXXXX)
  points=$(mktemp -d "$drive_c/nulvane-volumes.XXXXXX")
  if make_volume nulvane-fill-volume 48 && make_volume nulvane-stop-volume 2048; then
    windows="C:\\$(basename "$points")"
    export NULVANE_FILL_VOLUME="$windows\\nulvane-fill-volume"
    export NULVANE_STOP_VOLUME="$windows\\nulvane-stop-volume"
  else
    echo "note: no loop volumes could be mounted; the fill tests skip" >&2
  fi
fi
status=0
"$@" || status=$?
exit "$status"
