#!/usr/bin/env bash
# The window's timings under Wine, measured in one run on a virtual display of its own:
#   1. start to window shown: nulvane.exe against a bare dialog program started the same way
#      (wine PROGRAM until xdotool finds its window);
#   2. a drop of a 100,000-entry tree until its rows are shown (window_bench drop, in-process)
#      against nulvane-cli.exe --list of the same tree, whose Wine start (nulvane-cli --version)
#      is subtracted, and against find DIR -printf '%s\n' run natively on the same tree;
#   3. a one-pass 256 MiB run in the window (window_bench run) against nulvane-cli.exe -d 0 -p 1
#      on the same file, its Wine start subtracted likewise.
# Usage: bench/window_benchmarks.sh [work folder]   (ROUNDS=3 by default)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$root/scripts/packages.sh"
ensure_packages xdotool xvfb wine wine64 g++-mingw-w64-x86-64-posix
cd "$root"
[ -f build/windows/build.ninja ] || cmake --preset windows >/dev/null
cmake --build build/windows -j2 --target nulvane nulvane-cli window_bench bare_dialog >/dev/null
export WINEPREFIX="$root/build/windows/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
"$root/scripts/wine_prefix.sh" "$WINEPREFIX"
if [ -z "${NULVANE_BENCH_DISPLAY:-}" ]; then
  exec env NULVANE_BENCH_DISPLAY=1 "$root/scripts/with_display.sh" "$0" "$@"
fi
work=${1:-$root/build/bench-window}
rounds=${ROUNDS:-3}
mkdir -p "$work"
work=$(cd "$work" && pwd)
win() { winepath -w "$1"; }
bin=build/windows
wineserver -p 2>/dev/null || true  # keep one server for the whole run: every start costs the same

ms_now() { date +%s%N; }
median() { printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }
time_ms() { local start; start=$(ms_now); "$@" >/dev/null 2>&1 || true; echo $(( ($(ms_now) - start) / 1000000 )); }

# shown_ms PROGRAM TITLE: from `wine PROGRAM` to its window, then the program is ended.
shown_ms() {
  local start pid window=
  start=$(ms_now)
  wine "$1" >/dev/null 2>&1 &
  pid=$!
  # A window that never shows (the program ended, or the display lost it) ends the wait after
  # a minute; the round then reads 0 rather than hanging the whole benchmark.
  local deadline=$(( start + 60000000000 ))
  while [ -z "$window" ] && [ "$(ms_now)" -lt "$deadline" ]; do
    window=$(xdotool search --onlyvisible --name "$2" 2>/dev/null | head -n 1 || true)
    sleep 0.005
  done
  if [ -n "$window" ]; then
    echo $(( ($(ms_now) - start) / 1000000 ))
  else
    echo 0
    echo "no window titled $2 within 60 s" >&2
  fi
  # Ended by a signal, not by an Escape key: after a window closed on Escape (it never sees the
  # key's release), the next window of the program under Wine 8 here often ended its run
  # half-way (section 3: 4 of 6 runs; none of 6 without the key).
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}

echo "== 1. start to window shown ($rounds rounds each)"
cp "$bin/src/nulvane.exe" "$work/nulvane.exe"
ours=(); theirs=()
for _ in $(seq "$rounds"); do
  ours+=("$(shown_ms "$work/nulvane.exe" '^Nulvane 4.21')")
  theirs+=("$(shown_ms "$bin/bench/window/bare_dialog.exe" '^Bare dialog')")
done
start_ratio=$(ratio "$(median "${ours[@]}")" "$(median "${theirs[@]}")")
echo "nulvane.exe ${ours[*]} ms; bare dialog ${theirs[*]} ms; ratio $start_ratio"

echo "== 2. drop of a 100,000-entry tree"
tree="$work/tree"
if [ ! -f "$tree/.complete" ]; then
  rm -rf "$tree"
  for d in $(seq 1 100); do
    mkdir -p "$tree/d$d"
    (cd "$tree/d$d" && seq -f 'f%g.txt' 1 999 | xargs touch)
  done
  touch "$tree/.complete"
fi
# Natively, the system calls Wine's listing makes for each entry and nothing else
# (bench/listing_floor.cpp, built here with the system's compiler).
c++ -O2 -o "$work/listing_floor" bench/listing_floor.cpp
baseline=(); drops=(); lists=(); finds=(); walks=(); calls=()
for _ in $(seq "$rounds"); do
  baseline+=("$(time_ms wine "$bin/src/nulvane-cli.exe" --version)")
  drops+=("$(wine "$bin/bench/window/window_bench.exe" drop "$(win "$tree")" 2>/dev/null | tr -d '\r')")
  walks+=("$(wine "$bin/bench/window/window_bench.exe" walk "$(win "$tree")" 2>/dev/null | tr -d '\r')")
  lists+=("$(time_ms wine "$bin/src/nulvane-cli.exe" --list "$(win "$tree")")")
  finds+=("$(time_ms find "$tree" -printf '%s\n')")
  calls+=("$(time_ms "$work/listing_floor" wine "$tree")")
done
b=$(median "${baseline[@]}")
l=$(( $(median "${lists[@]}") - b ))
drop_ratio=$(ratio "$(median "${drops[@]}")" "$l")
find_ratio=$(ratio "$(median "${drops[@]}")" "$(median "${finds[@]}")")
echo "window drop ${drops[*]} ms; cli --list ${lists[*]} ms (Wine start ${baseline[*]} ms); ratio $drop_ratio"
echo "native find -printf on the same tree ${finds[*]} ms; window drop / find $find_ratio"
# What the system's listing alone costs here (FindFirstFileExW over the tree, nothing kept):
# under Wine every entry costs a stat and an extended-attribute read, so this floor decides how
# close any drop can come to find.
walk_ratio=$(ratio "$(median "${walks[@]}")" "$(median "${finds[@]}")")
drop_walk_ratio=$(ratio "$(median "${drops[@]}")" "$(median "${walks[@]}")")
calls_ratio=$(ratio "$(median "${calls[@]}")" "$(median "${finds[@]}")")
echo "Wine's system calls alone, natively ${calls[*]} ms; / find $calls_ratio"
echo "bare listing of the tree (FindFirstFileExW only) ${walks[*]} ms; bare listing / find $walk_ratio; window drop / bare listing $drop_walk_ratio"

echo "== 3. one-pass 256 MiB run"
runs=(); clis=()
# In a folder of its own: a run that does not finish leaves its file under a random name there.
mkdir -p "$work/run"
for _ in $(seq "$rounds"); do
  head -c $((256 << 20)) /dev/urandom >"$work/run/one.bin"; sync
  # A window run that does not report its end counts 0 with a line on stderr instead of ending
  # the script.
  one=$(wine "$bin/bench/window/window_bench.exe" run "$(win "$work/run/one.bin")" 2>/dev/null | tr -d '\r') ||
    { one=0; echo "a window run did not report its end" >&2; }
  runs+=("$one")
  rm -rf "$work/run"; mkdir -p "$work/run"
  head -c $((256 << 20)) /dev/urandom >"$work/run/one.bin"; sync
  clis+=("$(time_ms wine "$bin/src/nulvane-cli.exe" -q -d 0 -p 1 "$(win "$work/run/one.bin")")")
  rm -rf "$work/run"; mkdir -p "$work/run"
done
rm -rf "$work/run"
c=$(( $(median "${clis[@]}") - b ))
run_ratio=$(ratio "$(median "${runs[@]}")" "$c")
echo "window run ${runs[*]} ms; cli ${clis[*]} ms (minus Wine start $b ms); ratio $run_ratio"
rm -f "$work/nulvane.exe" "$work/listing_floor"

echo
echo "start to window shown, nulvane / bare dialog:   $start_ratio"
echo "drop of 100,000 entries, window / cli --list:   $drop_ratio"
echo "drop of 100,000 entries, window / native find:  $find_ratio  (goal <= 1.5)"
echo "  the system's bare listing / native find:      $walk_ratio  (the floor of the line above)"
echo "  window drop / the system's bare listing:      $drop_walk_ratio"
echo "  Wine's system calls per entry alone / find:   $calls_ratio  (a stat and an attribute read each)"
echo "256 MiB one pass, window / cli:                 $run_ratio  (goal <= 1.1)"
