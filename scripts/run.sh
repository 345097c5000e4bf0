#!/usr/bin/env bash
# `make run`: builds VorseFix.exe (32-bit; VORSE_RUN_PRESET=windows-x64 for the 64-bit one) and
# opens it under Wine, in a prefix made afresh from a kept base at every run. Unless
# VORSE_RUN_CLEAN is set (`make run CLEAN=1`), the prefix's system directory first gets harmless
# stand-ins for infected files: the project's own sample programs (tests/samples), which carry
# nothing but a version resource naming Kern32 or wowex32. On a display it opens the window for
# you; without one it presses Find and Fix on a virtual display, answers the restart question
# with Cancel, saves screenshots of the question and of the window after the run, and prints the
# status line and what the quarantine folder holds.
set -euo pipefail
cd "$(dirname "$0")/.."

root=${VORSE_BUILD_ROOT:-build}
preset=${VORSE_RUN_PRESET:-windows-x86}
export VORSE_WINE_ROOT="$PWD/$root/wine-run"
source scripts/wine-env.sh
if [ "$preset" = windows-x86 ] && ! wine_runs_32bit; then
  echo "run: this machine's kernel cannot run 32-bit programs, so Wine cannot run the 32-bit" \
    "VorseFix.exe here: running the 64-bit build instead"
  preset=windows-x64
fi
arch=win32
[ "$preset" = windows-x64 ] && arch=win64
build="$root/$preset"
echo "run: building $preset (VorseFix.exe, the window driver, the sample programs)"
cmake --preset "$preset" -B "$build" >/dev/null
cmake --build "$build" -j "$(nproc)" --target VorseFix vorse_window_driver vorse_samples

source tests/e2e/driver-env.sh "$build" "$arch"
echo "run: the program is $app_exe"
prefix="$PWD/$root/run-prefix"
echo "run: making the Wine prefix $root/run-prefix (the first time takes a minute)"
stop_wine "$prefix"
rm -rf "$prefix"
cp -a "$(wine_base_prefix "$arch")" "$prefix"

system32="$prefix/drive_c/windows/system32"
if [ -n "${VORSE_RUN_CLEAN:-}" ]; then
  echo "run: untouched prefix (CLEAN=1): nothing infected to find"
else
  # Where the run will find them, with the sample each one is.
  stand_ins=("kern32.exe|kern32" "Vorse Cache/wowex32.exe|wowex32" "Vorse Cache/clean.exe|near_kern321")
  echo "run: planting harmless stand-ins for infected files, built from tests/samples:"
  for entry in "${stand_ins[@]}"; do
    target="$system32/${entry%%|*}"
    mkdir -p "$(dirname "$target")"
    cp "$build/tests/samples/${entry##*|}.exe" "$target"
    relative=${entry%%|*}
    echo "run:   C:\\windows\\system32\\${relative//\//\\} (sample ${entry##*|})"
  done
fi

if [ -n "${DISPLAY:-}" ]; then
  # Your own window manager draws the frame: no Wine desktop in between.
  wine_in "$prefix" wine reg delete 'HKCU\Software\Wine\Explorer' /v Desktop /f >/dev/null 2>&1 ||
    true
  echo "run: opening VorseFix.exe"
  wine_in "$prefix" wine "$app_exe"
  exit 0
fi

start_xvfb
use_wine_desktop "$prefix"
start_app "$prefix"

drv "$prefix" wait-window >/dev/null
echo "run: pressing Find and Fix (no display: on the virtual display $DISPLAY)"
state=$(drv "$prefix" press-find-and-fix --timeout 900)
if [ "$state" = prompt ]; then
  import -window root "$root/vorsefix-question.png"
  echo "run: the restart question says: $(drv "$prefix" read-msgbox)"
  echo "run: screenshot of the question: $root/vorsefix-question.png"
  # Never OK: that would restart the prefix's Windows.
  drv "$prefix" answer-msgbox cancel >/dev/null
  echo "run: answered Cancel"
fi
import -window root "$root/vorsefix-run.png"
echo "run: status line: $(drv "$prefix" read-status)"
echo "run: screenshot of the window after the run: $root/vorsefix-run.png"
quarantine="$prefix/drive_c/!VorseFix"
if [ -d "$quarantine" ]; then
  echo "run: the quarantine folder C:\\!VorseFix ($root/run-prefix/drive_c/!VorseFix) holds:"
  (cd "$quarantine" && ls -l)
else
  echo "run: no quarantine folder C:\\!VorseFix was made"
fi
drv "$prefix" exit-button >/dev/null
wait "$app_pid" || true
stop_wine "$prefix"
