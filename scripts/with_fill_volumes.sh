#!/usr/bin/env bash
# scripts/with_fill_volumes.sh WINEPREFIX COMMAND [ARGS...]  runs COMMAND with two small ext4
# volumes of its own for the window's free-space fill tests, never the machine's own disk: each
# an image file in a fresh temporary folder, mounted through a loop device on a folder inside
# the Wine prefix's drive C:, where the system's folder picker reaches it. NULVANE_FILL_VOLUME
# names (as a Windows path) a 48 MiB volume that a test fills whole, NULVANE_STOP_VOLUME a 1 GiB
# sparse one that a test stops early, so it is never written through. Both are unmounted and
# removed when COMMAND ends, fails or is interrupted; volumes a killed earlier run left mounted
# are removed first. Without root (or loop devices, or room in /tmp) nothing is mounted, the
# variables are unset and COMMAND runs as it is: the tests that need the volumes skip with a
# message. COMMAND runs with WINEPREFIX set to that prefix. Exits with COMMAND's status.
set -euo pipefail
if [ $# -lt 2 ]; then
  echo "usage: $0 WINEPREFIX COMMAND [ARGS...]" >&2
  exit 2
fi
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export WINEPREFIX="$1"
drive_c="$1/drive_c"
shift
# Only this script names the volumes: a value from outside could point anywhere.
unset NULVANE_FILL_VOLUME NULVANE_STOP_VOLUME
fill_megabytes=48
stop_megabytes=1024
work=
points=
mounts=()
cleanup() {
  local point
  for point in "${mounts[@]}"; do
    umount "$point" 2>/dev/null || umount -l "$point" 2>/dev/null || true
  done
  # --one-file-system: a volume that could not be unmounted is left alone, never emptied.
  if [ -n "$points" ]; then rm -rf --one-file-system "$points" 2>/dev/null || true; fi
  if [ -n "$work" ]; then rm -rf "$work" 2>/dev/null || true; fi
  return 0
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Volumes that an earlier run in this prefix left mounted when it was killed before its
# clean-up, and their images. Other prefixes' volumes are not touched.
remove_stale_volumes() {
  local device point image
  [ -d "$drive_c" ] || return 0
  while read -r device point _; do
    case "$point" in
      "$drive_c"/nulvane-volumes.*/*)
        image=$(losetup -nO BACK-FILE "$device" 2>/dev/null || true)
        umount -l "$point" 2>/dev/null || true
        case "$image" in
          /tmp/nulvane-fill-volumes.*/*.img) rm -rf "$(dirname "$image")" 2>/dev/null || true ;;
        esac
        ;;
    esac
  done </proc/mounts
  for point in "$drive_c"/nulvane-volumes.*; do
    if [ -d "$point" ]; then rm -rf --one-file-system "$point" 2>/dev/null || true; fi
  done
}

# make_volume NAME MEGABYTES: an ext4 image of that size mounted on $points/NAME.
make_volume() {
  local image="$work/$1.img" point="$points/$1"
  mkdir -p "$point"
  truncate -s "$2M" "$image"
  mkfs.ext4 -q -F -m 0 "$image" >/dev/null 2>&1 || return 1
  # Listed before mounting: an interruption between the two still unmounts it.
  mounts+=("$point")
  mount -o loop "$image" "$point" 2>/dev/null || return 1
}

skip() { echo "note: $1; the window's fill tests skip" >&2; }

if [ "$(id -u)" -ne 0 ]; then
  skip "not root (loop volumes)"
elif ! command -v mkfs.ext4 >/dev/null; then
  skip "no mkfs.ext4"
else
  [ -d "$drive_c" ] || "$root/scripts/wine_prefix.sh" "$WINEPREFIX" >/dev/null 2>&1 || true
  remove_stale_volumes
  # The sparse images take real space as the fills write: room for both, written through.
  room=$(df -Pm /tmp | awk 'NR == 2 { print $4 }')
  if [ ! -d "$drive_c" ]; then
    skip "no Wine prefix at $WINEPREFIX"
  elif [ "${room:-0}" -lt $((2 * (fill_megabytes + stop_megabytes))) ]; then
    skip "too little room in /tmp"
  else
    work=$(mktemp -d /tmp/nulvane-fill-volumes.XXXXXX)
    points=$(mktemp -d "$drive_c/nulvane-volumes.XXXXXX")
    if make_volume nulvane-fill-volume "$fill_megabytes" &&
      make_volume nulvane-stop-volume "$stop_megabytes"; then
      windows="C:\\$(basename "$points")"
      export NULVANE_FILL_VOLUME="$windows\\nulvane-fill-volume"
      export NULVANE_STOP_VOLUME="$windows\\nulvane-stop-volume"
    else
      skip "no loop volume could be mounted"
    fi
  fi
fi
status=0
"$@" || status=$?
exit "$status"
