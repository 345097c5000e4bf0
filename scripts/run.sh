#!/usr/bin/env bash
# `make run`: builds the 32-bit VorseFix.exe and opens it under Wine, in a prefix kept in the
# build tree. On a display it opens the window for you; without one it runs Find and Fix once on
# a virtual display, saves a screenshot, prints the status line and closes the program.
set -euo pipefail
cd "$(dirname "$0")/.."

root=${VORSE_BUILD_ROOT:-build}
build="$root/windows-x86"
cmake --preset windows-x86 -B "$build" >/dev/null
cmake --build "$build" -j "$(nproc)" --target VorseFix vorse_window_driver >/dev/null

export VORSE_WINE_ROOT="$PWD/$root/wine-run"
source tests/e2e/driver-env.sh "$build" win32
prefix="$PWD/$root/run-prefix"
if [ ! -f "$prefix/.ready" ]; then
  echo "run: making the Wine prefix $root/run-prefix (once)"
  rm -rf "$prefix"
  cp -a "$(wine_base_prefix win32)" "$prefix"
  touch "$prefix/.ready"
fi

if [ -n "${DISPLAY:-}" ]; then
  # Your own window manager draws the frame: no Wine desktop in between.
  wine_in "$prefix" wine reg delete 'HKCU\Software\Wine\Explorer' /v Desktop /f >/dev/null 2>&1 ||
    true
  echo "run: opening $app_exe"
  wine_in "$prefix" wine "$app_exe"
  exit 0
fi

start_xvfb
use_wine_desktop "$prefix"
start_app "$prefix"

drv "$prefix" wait-window >/dev/null
echo "run: pressing Find and Fix (no display: on the virtual display $DISPLAY)"
state=$(drv "$prefix" press-find-and-fix --timeout 900)
screenshot="$root/vorsefix-run.png"
import -window root "$screenshot"
if [ "$state" = prompt ]; then
  # Never OK: that would restart the prefix's Windows.
  echo "run: the restart prompt says: $(drv "$prefix" read-msgbox)"
  drv "$prefix" answer-msgbox cancel >/dev/null
fi
echo "run: status line: $(drv "$prefix" read-status)"
echo "run: screenshot: $screenshot"
drv "$prefix" exit-button >/dev/null
wait "$app_pid" || true
stop_wine "$prefix"
