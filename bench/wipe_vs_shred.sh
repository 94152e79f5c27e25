#!/bin/sh
# One-pass wipe of a 256 MiB file by Nulvane next to `shred -n0 -z -u`, same folder, same run.
# Builds nothing: give it a built wipe_bench (release preset, NULVANE_BENCH=ON).
#   bench/wipe_vs_shred.sh <build>/bench/wipe_bench [folder on the disk to measure]
# Each tool gets a fresh file whose data is already on the device; both force their pass to the
# device (Nulvane: fdatasync per pass; shred: its own sync per pass) and remove the file.
set -eu
bench=${1:?usage: wipe_vs_shred.sh <wipe_bench binary> [folder]}
folder=${2:-${TMPDIR:-/tmp}}
rounds=${ROUNDS:-3}
size_mib=256
file="$folder/nulvane-shred-bench.bin"

echo "folder: $folder ($(df -h "$folder" | awk 'NR==2 {print $1 ", " $4 " free"}'))"
echo "== Nulvane, one pass, $size_mib MiB, $rounds rounds"
NULVANE_BENCH_DIR=$folder NULVANE_BENCH_LARGE=1 "$bench" \
  --benchmark_filter="BM_WipeOnePass/$size_mib" \
  --benchmark_repetitions="$rounds" --benchmark_min_time=0.01 \
  --benchmark_report_aggregates_only=false 2>/dev/null |
  grep -E "BM_WipeOnePass/$size_mib"

echo "== shred -n0 -z -u, $size_mib MiB, $rounds rounds"
i=0
while [ "$i" -lt "$rounds" ]; do
  rm -f "$file"
  dd if=/dev/zero bs=1M count="$size_mib" 2>/dev/null | tr '\000' 'Z' >"$file"
  sync "$file"
  start=$(date +%s%N)
  shred -n0 -z -u "$file"
  end=$(date +%s%N)
  ms=$(( (end - start) / 1000000 ))
  echo "shred round $((i + 1)): ${ms} ms, $(( size_mib * 1000 / (ms > 0 ? ms : 1) )) MiB/s"
  i=$((i + 1))
done
