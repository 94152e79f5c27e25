#!/usr/bin/env bash
# Every benchmark of the project in one run, each measured side by side with its reference on
# the same disk, with the ratio printed:
#   1. one 256 MiB file, one pass:   nulvane-cli -d 0 -p 1 FILE  vs  dd oflag=direct
#      conv=fdatasync + rm and vs shred -n0 -z -u FILE, the same wipe with --verify (read back
#      past the cache) vs without it, and the page cache's growth during a wipe (here, and on
#      an xfs loop volume when run as root)
#   2. 10,000 files of 4 KiB:        nulvane-cli -d 0 -p 1 DIR   vs  find DIR -type f -exec shred -n0 -z -u {} +
#   3. free-space fill of a dedicated 512 MiB ext4 volume (loop image, root only):
#      nulvane-cli --fill DIR        vs  dd if=/dev/zero of=X bs=1M oflag=direct (until full)
#   4. expansion of a 100,000-entry tree vs find DIR | wc -l, and the Google Benchmark programs
#      (table load, formatters, item store memory, one-pass wipe).
#   5. nulvane-cli --list of a 100,000-entry tree vs find DIR -printf '%s\n', and the peak
#      memory of that listing and of destroying the same tree.
#   6. start-up: 200 starts of nulvane-cli --version vs shred --version.
# Usage: bench/run_benchmarks.sh [work folder on the disk to measure]   (ROUNDS=3 by default;
#        SECTIONS="1 3" runs only those sections and builds only nulvane-cli unless 4 is among them)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$root/scripts/packages.sh"
ensure_packages "${NATIVE_PACKAGES[@]}" libbenchmark-dev e2fsprogs coreutils time
cd "$root"
sections=${SECTIONS:-1 2 3 4 5 6}
want() { [[ " $sections " == *" $1 "* ]]; }
cmake --preset bench >/dev/null
targets=()
want 4 || targets=(--target nulvane-cli --target serial_floor --target listing_floor)
cmake --build build/bench -j"$(nproc)" "${targets[@]}" >build/bench/build.log || { cat build/bench/build.log; exit 1; }
cli="$root/build/bench/src/nulvane-cli"
work=${1:-$root/build/bench/work}
rounds=${ROUNDS:-3}
mkdir -p "$work"
summary=()

ms_now() { date +%s%N; }
# time_ms CMD...: wall-clock milliseconds of one command.
time_ms() { local start; start=$(ms_now); "$@" >/dev/null 2>&1 || true; echo $(( ($(ms_now) - start) / 1000000 )); }
median() { printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }

if want 1; then
echo "== 1. one 256 MiB file, one pass ($rounds rounds each)"
# The reference: the same bytes written past the cache by dd, forced to the device, then the
# file removed.
dd_and_rm() {
  dd if=/dev/zero of="$1" bs=1M count=256 oflag=direct conv=fdatasync,notrunc && rm -f "$1"
}
ours=(); theirs=(); verified=(); direct=()
for _ in $(seq "$rounds"); do
  head -c $((256 << 20)) /dev/urandom >"$work/one.bin"; sync
  ours+=("$(time_ms "$cli" -q -d 0 -p 1 "$work/one.bin")")
  head -c $((256 << 20)) /dev/urandom >"$work/one.bin"; sync
  direct+=("$(time_ms dd_and_rm "$work/one.bin")")
  head -c $((256 << 20)) /dev/urandom >"$work/one.bin"; sync
  theirs+=("$(time_ms shred -n0 -z -u "$work/one.bin")")
  head -c $((256 << 20)) /dev/urandom >"$work/one.bin"; sync
  verified+=("$(time_ms "$cli" -q -d 0 -p 1 --verify "$work/one.bin")")
done
a=$(median "${ours[@]}"); b=$(median "${theirs[@]}"); c=$(median "${verified[@]}")
d=$(median "${direct[@]}")
echo "nulvane-cli ${ours[*]} ms; dd oflag=direct + rm ${direct[*]} ms; shred ${theirs[*]} ms;" \
  "nulvane-cli --verify ${verified[*]} ms"
# The page cache during one wipe in `$1`: `Cached` sampled every 0.05 s, its peak growth over
# the level before, in MiB.
cached_kb() { awk '/^Cached:/ { print $2 }' /proc/meminfo; }
cache_growth() {
  head -c $((256 << 20)) /dev/urandom >"$1/one.bin"; sync
  [ "$(id -u)" -eq 0 ] && echo 1 >/proc/sys/vm/drop_caches
  local before peak sampler
  before=$(cached_kb)
  ( while sleep 0.05; do cached_kb; done ) >"$work/cached.txt" & sampler=$!
  "$cli" -q -d 0 -p 1 "$1/one.bin"
  kill "$sampler"; wait "$sampler" 2>/dev/null || true
  peak=$(sort -n "$work/cached.txt" | tail -n 1)
  echo $(( (${peak:-$before} - before) / 1024 ))
}
grown=(); for _ in $(seq "$rounds"); do grown+=("$(cache_growth "$work")"); done
echo "page cache growth during a wipe here: ${grown[*]} MiB"
summary+=("256 MiB file, time nulvane / dd oflag=direct:  $(ratio "$a" "$d")  (goal <= 1.0)")
summary+=("256 MiB file, page cache growth during wipe:   $(median "${grown[@]}") MiB  (goal: far below 256)")
# The same on an xfs volume of its own (root only), its loop device writing through to the
# image so that the image's pages do not count.
if [ "$(id -u)" -eq 0 ] && command -v mkfs.xfs >/dev/null; then
  image="$work/xfs.img" mnt="$work/xfs-volume"
  rm -f "$image"; truncate -s 600M "$image"; mkfs.xfs -q -f "$image"; mkdir -p "$mnt"
  dev=$(losetup --direct-io=on -f --show "$image" 2>/dev/null || losetup -f --show "$image")
  if mount "$dev" "$mnt"; then
    grown=(); for _ in $(seq "$rounds"); do grown+=("$(cache_growth "$mnt")"); done
    umount "$mnt"
    echo "page cache growth during a wipe on xfs: ${grown[*]} MiB"
    summary+=("256 MiB file on xfs, page cache growth:       $(median "${grown[@]}") MiB  (goal: far below 256)")
  fi
  losetup -d "$dev" 2>/dev/null || true
  rm -f "$image"
fi
summary+=("256 MiB file, time nulvane / shred:            $(ratio "$a" "$b")  (goal <= 1.0)")
summary+=("256 MiB file, time with --verify / without:    $(ratio "$c" "$a")  (goal <= 1.6)")
fi

if want 2; then
echo "== 2. 10,000 files of 4 KiB (one round each)"
make_tree() {
  rm -rf "$1"; mkdir -p "$1"
  for d in $(seq 0 99); do
    mkdir "$1/d$d"
    for f in $(seq 0 99); do head -c 4096 /dev/urandom >"$1/d$d/f$f"; done
  done
  sync
}
make_tree "$work/tree"; a=$(time_ms "$cli" -q -d 0 -p 1 "$work/tree")
make_tree "$work/tree"; b=$(time_ms find "$work/tree" -type f -exec shred -n0 -z -u {} +)
# The same job written plainly, one file after another, with no checks (bench/serial_floor.cpp).
make_tree "$work/tree"; f=$(time_ms build/bench/bench/serial_floor "$work/tree")
rm -rf "$work/tree"
echo "nulvane-cli $a ms; find -exec shred $b ms; serial floor $f ms"
summary+=("10,000 files, time nulvane / find+shred:       $(ratio "$a" "$b")  (goal <= 1.0)")
summary+=("10,000 files, time nulvane / serial floor:     $(ratio "$a" "$f")  (goal <= 0.9)")
fi

if want 3; then
echo "== 3. free-space fill of a dedicated 512 MiB volume"
if [ "$(id -u)" -eq 0 ]; then
  image="$work/fill.img" mnt="$work/fill-volume"
  rm -f "$image"; truncate -s 512M "$image"; mkfs.ext4 -q -F -E lazy_itable_init=0,lazy_journal_init=0 "$image"; mkdir -p "$mnt"
  # The loop device writes through to its image, as a real disk would take the writes.
  dev=$(losetup --direct-io=on -f --show "$image" 2>/dev/null || losetup -f --show "$image")
  if mount "$dev" "$mnt"; then
    ours=(); theirs=()
    # Alternate which one goes first, so that neither always finds the volume just emptied.
    for round in $(seq "$rounds"); do
      if [ $((round % 2)) -eq 1 ]; then
        ours+=("$(time_ms "$cli" -q --fill "$mnt")"); sync
        theirs+=("$(time_ms dd if=/dev/zero of="$mnt/X" bs=1M oflag=direct)"); rm -f "$mnt/X"; sync
      else
        theirs+=("$(time_ms dd if=/dev/zero of="$mnt/X" bs=1M oflag=direct)"); rm -f "$mnt/X"; sync
        ours+=("$(time_ms "$cli" -q --fill "$mnt")"); sync
      fi
    done
    # dd again, ending with the flush the fill makes too (its data on the device before the
    # file is deleted).
    flushed=()
    for _ in $(seq "$rounds"); do
      flushed+=("$(time_ms dd if=/dev/zero of="$mnt/X" bs=1M oflag=direct conv=fdatasync)")
      rm -f "$mnt/X"; sync
    done
    left=$(find "$mnt" -mindepth 1 -not -name lost+found | wc -l)
    umount "$mnt"
    a=$(median "${ours[@]}"); b=$(median "${theirs[@]}")
    echo "nulvane-cli --fill ${ours[*]} ms (includes its final flush); dd ${theirs[*]} ms; entries left: $left"
    c=$(median "${flushed[@]}")
    echo "dd conv=fdatasync ${flushed[*]} ms"
    summary+=("fill, throughput nulvane / dd oflag=direct:    $(ratio "$b" "$a")  (goal >= 0.8)")
    summary+=("fill, throughput nulvane / dd ... conv=fdatasync: $(ratio "$c" "$a")")
  else
    echo "skipped: cannot mount a loop volume here"
  fi
  losetup -d "$dev" 2>/dev/null || true
  rm -f "$image"
else
  echo "skipped: the fill benchmark mounts a loop volume and needs root"
fi
fi

if want 4; then
echo "== 4. item list expansion and the Google Benchmark programs"
NULVANE_ITEMS_BENCH_TREE="$work/items-tree" bench/expand_vs_find.sh build/bench/bench/items_bench 5 |
  tee "$work/expand.txt"
summary+=("$(grep 'expansion / find:' "$work/expand.txt")")
build/bench/bench/items_bench --benchmark_filter='Memory|Store' 2>/dev/null | grep -E '^BM_' || true
build/bench/bench/language_table_bench 2>/dev/null | grep -E '^BM_' | tee "$work/table.txt" || true
decode=$(awk '/^BM_DecodeBuiltInBlob / { print $4, $5 }' "$work/table.txt")
summary+=("language table, full decode (CPU):             ${decode:-?}  (goal < 2 ms)")
NULVANE_BENCH_DIR="$work" build/bench/bench/wipe_bench 2>/dev/null | grep -E '^BM_' || true
fi

if want 5; then
echo "== 5. listing and memory of a 100,000-entry tree ($rounds rounds each)"
make_wide_tree() {
  rm -rf "$1"; mkdir -p "$1"
  for d in $(seq 0 199); do
    mkdir "$1/d$d"
    (cd "$1/d$d" && for f in $(seq 0 499); do printf x >"f$f"; done)
  done
}
make_wide_tree "$work/list-tree"
ours=(); theirs=(); floor=()
for _ in $(seq "$rounds"); do
  ours+=("$(time_ms "$cli" --list "$work/list-tree")")
  theirs+=("$(time_ms find "$work/list-tree" -printf '%s\n')")
  # The same rows written plainly: each folder listed, its names sorted, each entry examined
  # and its size printed (bench/listing_floor.cpp).
  floor+=("$(time_ms build/bench/bench/listing_floor sorted "$work/list-tree")")
done
a=$(median "${ours[@]}"); b=$(median "${theirs[@]}"); f=$(median "${floor[@]}")
# Peak resident memory in KB, from the system's own accounting of the finished process.
peak_kb() { /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -n 1; }
listed=$(peak_kb "$cli" --list "$work/list-tree")
destroyed=$(peak_kb "$cli" -q -d 0 -p 1 "$work/list-tree")
rm -rf "$work/list-tree"
echo "nulvane-cli --list ${ours[*]} ms; find -printf ${theirs[*]} ms; plain sorted listing ${floor[*]} ms;" \
  "peak ${listed} KB listing, ${destroyed} KB destroying"
summary+=("--list 100,000 entries, time nulvane / find:   $(ratio "$a" "$b")  (goal <= 1.0)")
summary+=("  a plain sorted listing / find:               $(ratio "$f" "$b")  (the same rows, no store)")
summary+=("--list 100,000 entries, peak memory:           $((listed / 1024)) MB  (goal <= 10)")
summary+=("destroy 100,000 entries, peak memory:          $((destroyed / 1024)) MB  (goal <= 10)")
fi

if want 6; then
echo "== 6. start-up: --version, 200 starts each ($rounds rounds)"
# A start costs a few milliseconds: many starts in a row make a figure the clock can read.
starts() { local start; start=$(ms_now); for _ in $(seq 200); do "$@" >/dev/null 2>&1; done; echo $(( ($(ms_now) - start) / 1000000 )); }
ours=(); theirs=()
for _ in $(seq "$rounds"); do
  ours+=("$(LANG=C.UTF-8 starts "$cli" --version)")
  theirs+=("$(LANG=C.UTF-8 starts shred --version)")
done
a=$(median "${ours[@]}"); b=$(median "${theirs[@]}")
echo "nulvane-cli --version ${ours[*]} ms; shred --version ${theirs[*]} ms (200 starts each)"
summary+=("start-up, --version nulvane / shred:           $(ratio "$a" "$b")  (goal <= 2.0)")
fi

echo
echo "== summary"
printf '%s\n' "${summary[@]}"
