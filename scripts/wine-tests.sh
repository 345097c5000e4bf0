#!/usr/bin/env bash
# Runs the Windows build of one preset under Wine and Xvfb: the unit and platform-contract
# tests, then the tests that drive the real window. Usage: wine-tests.sh windows-x86|windows-x64
set -euo pipefail
cd "$(dirname "$0")/.."

preset=$1
root=${VORSE_BUILD_ROOT:-build}
build="$root/$preset"
arch=win32
[ "$preset" = windows-x64 ] && arch=win64
export VORSE_WINE_ROOT="$PWD/$root/wine-$arch"
rm -rf "$VORSE_WINE_ROOT"
source scripts/wine-env.sh
start_xvfb

prefix=$(wine_scenario_prefix unit "$arch")
wine_in "$prefix" wine "$build/tests/vorse_tests.exe"
stop_wine "$prefix"
