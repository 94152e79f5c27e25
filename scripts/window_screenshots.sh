#!/usr/bin/env bash
# scripts/window_screenshots.sh [OUT_DIR]  builds nulvane.exe and takes screenshots of its
# window under Wine on a virtual display of its own: at rest in English and in German, during
# a run, and at 144 DPI. Writes OUT_DIR/window-{english,german,run,144dpi}.png (default
# build/screenshots). The program runs from a scratch folder with its own settings file; the
# prefix's LogPixels is set back after the 144 DPI shot.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$root/scripts/packages.sh"
ensure_packages imagemagick xdotool xvfb wine wine64 g++-mingw-w64-x86-64-posix
out=${1:-$root/build/screenshots}
mkdir -p "$out"
cd "$root"
[ -f build/windows/build.ninja ] || cmake --preset windows >/dev/null
cmake --build build/windows -j2 --target nulvane >/dev/null
export WINEPREFIX="$root/build/windows/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
"$root/scripts/wine_prefix.sh" "$WINEPREFIX"

if [ -z "${NULVANE_SCREENSHOT_DISPLAY:-}" ]; then
  exec env NULVANE_SCREENSHOT_DISPLAY=1 "$root/scripts/with_display.sh" "$0" "$out"
fi

scratch=$(mktemp -d /tmp/nulvane-shots.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
cp build/windows/src/nulvane.exe "$scratch/"
mkdir -p "$scratch/Letters/2024" "$scratch/Photos"
for i in 1 2 3; do echo "letter $i" > "$scratch/Letters/letter-$i.txt"; done
echo "tax" > "$scratch/Letters/2024/tax return.pdf"
head -c 300000 /dev/zero > "$scratch/Photos/holiday.jpg"
head -c 160000000 /dev/zero > "$scratch/Photos/video.mp4"
win_scratch="Z:${scratch//\//\\}"

settings() {  # lng delay passes
  printf '[Program]\r\nlng=%s\r\n[NewFileTime]\r\ndel_delay=%s\r\nre_write=%s\r\n' "$1" "$2" "$3" \
    > "$scratch/nulvane.ini"
}

start_window() {
  wine "$scratch/nulvane.exe" "$win_scratch\\Letters" "$win_scratch\\Photos" &
  program_pid=$!
  for _ in $(seq 1 100); do
    window=$(xdotool search --name '^Nulvane 4.21' 2>/dev/null | head -n 1 || true)
    [ -n "$window" ] && break
    sleep 0.2
  done
  [ -n "$window" ] || { echo "error: the window did not appear" >&2; exit 1; }
  sleep 1.5
}

stop_window() {
  kill "$program_pid" 2>/dev/null || true
  wineserver -k 2>/dev/null || true
  wait "$program_pid" 2>/dev/null || true
}

shot() { import -window root "$out/$1.png"; echo "$out/$1.png"; }

settings 1 5 1
start_window
shot window-english
stop_window

settings 0 5 1
start_window
shot window-german
stop_window

# During a run: Delete is clicked, the countdown runs out and the 160 MB file is overwritten
# ten times.
settings 1 1 10
start_window
# The Delete button: the list toolbar's second button, left of the window's centre.
xdotool mousemove --window "$window" 96 146 click 1
sleep 1.6
shot window-run
stop_window

wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 144 /f >/dev/null 2>&1
wineserver -w
settings 1 5 1
start_window
shot window-144dpi
stop_window
wine reg delete 'HKCU\Control Panel\Desktop' /v LogPixels /f >/dev/null 2>&1 || true
wineserver -w
