#!/usr/bin/env bash
# A forensic scan of what nulvane-cli leaves on a volume (root only): marker lines are written
# into files on a fresh loop image, the program runs, the volume is unmounted and the raw image
# is searched with grep -c. Prints one line per case: markers before, markers after.
#   scripts/forensic_scan.sh [path/to/nulvane-cli]    (default: build/native/src/nulvane-cli)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cli=${1:-$root/build/native/src/nulvane-cli}
[ "$(id -u)" -eq 0 ] || { echo "needs root (loop images)" >&2; exit 1; }
work=$(mktemp -d /tmp/nulvane-scan.XXXXXX)
mnt="$work/mnt"; mkdir "$mnt"
cleanup() { umount "$mnt" 2>/dev/null || umount -l "$mnt" 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT
marker="NULVANE-FORENSIC-MARKER-7f3a9c"

# make_volume TYPE MEGABYTES: a fresh image mounted on $mnt
make_volume() {
  rm -f "$work/img"; truncate -s "$2M" "$work/img"
  case $1 in
    ext4) mkfs.ext4 -q -F -E lazy_itable_init=0,lazy_journal_init=0 "$work/img" ;;
    btrfs) mkfs.btrfs -q -f "$work/img" >/dev/null ;;
  esac
  mount -t "$1" -o loop "$work/img" "$mnt"
}
# marker_file PATH LINES (at most 135,000); fails when the volume is full
(set +o pipefail; yes "$marker" | head -n 135000 >"$work/chunk")
marker_file() { head -n "$2" "$work/chunk" >"$1"; }
count() { grep -c -a "$marker" "$work/img" || true; }
finish() { sync; umount "$mnt"; }

echo "== ext4, 64 MiB: fill the volume with markers as root, rm, then nulvane-cli --fill"
make_volume ext4 64
mkdir "$mnt/old"; i=0
while marker_file "$mnt/old/m$i" 135000 2>/dev/null; do i=$((i + 1)); done
sync; rm -rf "$mnt/old"; sync
before=$(count)
"$cli" -q --fill "$mnt" && status=0 || status=$?
finish
echo "markers before: $before  after: $(count)  (exit $status)"

echo "== ext4, 64 MiB: five files of 20,000 marker lines, nulvane-cli -d 0 -p 1"
make_volume ext4 64
for n in 1 2 3 4 5; do marker_file "$mnt/f$n.txt" 20000; done; sync
before=$(count)
"$cli" -q -d 0 -p 1 "$mnt"/f*.txt && status=0 || status=$?
finish
echo "markers before: $before  after: $(count)  (exit $status)"

if command -v mkfs.btrfs >/dev/null; then
  echo "== btrfs, 256 MiB: one file of 20,000 marker lines, nulvane-cli -d 0 -p 3"
  make_volume btrfs 256
  marker_file "$mnt/f.txt" 20000; sync
  before=$(count)
  "$cli" -d 0 -p 3 "$mnt/f.txt" 2>&1 | grep -i "old copies" || echo "(no warning)"
  finish
  echo "markers before: $before  after: $(count)  (copy-on-write: the warning says so)"
fi
