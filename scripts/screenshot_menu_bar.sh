#!/usr/bin/env bash
# scripts/screenshot_menu_bar.sh [OUT.png]  builds the GUI test program, opens the menu bar's
# File popup (shell icons, a check mark, a disabled item, shortcuts, a submenu) in a host dialog
# on a private virtual display and takes a screenshot of the whole screen (default:
# build/windows/menu_bar.png). The display is stopped by its process id afterwards.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$root/scripts/packages.sh"
ensure_packages "${NATIVE_PACKAGES[@]}" "${TEST_PACKAGES[@]}" "${SCREENSHOT_PACKAGES[@]}"
cd "$root"
out=$(realpath -m "${1:-build/windows/menu_bar.png}")
cmake --preset windows >/dev/null
cmake --build build/windows -j2 --target nulvane_app_tests
export WINEPREFIX="$root/build/windows/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
scripts/wine_prefix.sh "$WINEPREFIX"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
scripts/with_display.sh bash -c '
  set -euo pipefail
  work=$1 out=$2
  NULVANE_SCREENSHOT_DIR=$(winepath -w "$work") wine build/windows/tests/nulvane_app_tests.exe \
    --gtest_also_run_disabled_tests \
    --gtest_filter=MenuBarTest.DISABLED_HoldAPopupOpenForAScreenshot >"$work/log" 2>&1 &
  test_pid=$!
  for _ in $(seq 1 300); do
    [ -e "$work/open" ] && break
    kill -0 "$test_pid" 2>/dev/null || break
    sleep 0.1
  done
  status=0
  if [ -e "$work/open" ]; then
    sleep 0.3  # the popup has been shown; let it finish painting
    import -window root "$out" || status=$?
  else
    echo "error: the popup did not open" >&2
    status=1
  fi
  touch "$work/done"
  wait "$test_pid" || status=$?
  wineserver -k 2>/dev/null || true
  [ "$status" -eq 0 ] || cat "$work/log" >&2
  exit "$status"' bash "$work" "$out"
echo "screenshot: $out"
