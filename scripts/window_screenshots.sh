#!/usr/bin/env bash
# scripts/window_screenshots.sh [OUT_DIR]  builds nulvane.exe and takes screenshots of its
# window under Wine on a virtual display of its own: at rest in English and in German, during
# a run, at 144 DPI, and with its menus and the after-run countdown open. Writes
# OUT_DIR/window-{english,german,run,144dpi}.png and OUT_DIR/menu-{bar,fill,language,delete-plus}.png
# and countdown-standby.png (default build/screenshots). The program runs from a scratch folder with its own settings file; the
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
  [ -n "$window" ] || { echo "error: the window did not appear" >&2; xdotool search --name . getwindowname %@ >&2 || true; exit 1; }
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

# The menus, each opened with the mouse where the user opens it, in a window of its own
# (window coordinates of the 96 DPI layout).
settings 1 5 1
menu_shot() {  # name x y [hover-x hover-y]
  start_window
  xdotool mousemove --window "$window" "$2" "$3" click 1
  sleep 0.8
  if [ $# -ge 5 ]; then
    xdotool mousemove --window "$window" "$4" "$5"
    sleep 1.2
  fi
  shot "$1"
  stop_window
}
menu_shot menu-bar 35 33                   # the menu bar's "Nulvane"
menu_shot menu-fill 35 33 108 102          # ... and its fill submenu, opened by hovering
menu_shot menu-language 523 32             # the corner toolbar's language button
menu_shot menu-delete-plus 165 147         # the list toolbar's "Delete +"

# "Delete +" and "PC Standby": the run destroys the scratch items, then the countdown shows. The
# program is ended long before the countdown could run out.
settings 1 0 1
start_window
xdotool mousemove --window "$window" 165 147 click 1
sleep 0.8
xdotool mousemove --window "$window" 200 206 click 1
for _ in $(seq 1 40); do
  xdotool search --name '^PC Standby$' >/dev/null 2>&1 && break
  sleep 0.2
done
sleep 1.2
shot countdown-standby
stop_window

wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 144 /f >/dev/null 2>&1
wineserver -w
settings 1 5 1
start_window
shot window-144dpi
stop_window
wine reg delete 'HKCU\Control Panel\Desktop' /v LogPixels /f >/dev/null 2>&1 || true
wineserver -w
