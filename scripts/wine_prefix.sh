#!/usr/bin/env bash
# scripts/wine_prefix.sh PREFIX  creates the private Wine prefix of the Windows tests when it
# is missing, and makes sure its X11 driver leaves windows unmanaged (Managed=N): with managed
# windows every window that is hidden or destroyed costs about two seconds.
set -euo pipefail
prefix=${1:?usage: $0 PREFIX}
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$prefix"
if [ ! -f "$prefix/system.reg" ]; then
  wineboot -i >/dev/null 2>&1 || true
  wineserver -w || true
fi
if ! grep -q '^"Managed"="N"' "$prefix/user.reg" 2>/dev/null; then
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
  wineserver -w || true
  if ! grep -q '^"Managed"="N"' "$prefix/user.reg"; then
    echo "error: could not set Managed=N in the Wine prefix $prefix" >&2
    exit 1
  fi
fi
# The GUI tests switch the prefix to 144 DPI for a child process and back; a run that was killed
# in between would leave every later run at 144 DPI.
if grep -q '^"LogPixels"=dword:00000090' "$prefix/user.reg" 2>/dev/null; then
  wine reg delete 'HKCU\Control Panel\Desktop' /v LogPixels /f >/dev/null 2>&1 || true
  wineserver -w || true
fi
