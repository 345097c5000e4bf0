#!/usr/bin/env bash
# Runs the Windows build of one preset under Wine and Xvfb: the unit and platform-contract
# tests, vorsescan, the tests through the real window, and the repair end to end. Every part
# runs even when an earlier one failed; VORSE_PARTS (names with spaces between: unit-tests
# vorsescan window repair repair-wow64) runs only those.
# Usage: wine-tests.sh windows-x86|windows-x64
set -uo pipefail
cd "$(dirname "$0")/.."

preset=$1
root=${VORSE_BUILD_ROOT:-build}
build="$root/$preset"
arch=win32
[ "$preset" = windows-x64 ] && arch=win64
# The emulated machine runs two of these at once, each with prefixes of its own.
export VORSE_WINE_ROOT=${VORSE_WINE_ROOT:-$PWD/$root/wine-$arch}
rm -rf "$VORSE_WINE_ROOT"
# wine-env.sh gives Wine a home of its own; the machine's image is cached in the user's.
user_cache=${XDG_CACHE_HOME:-$HOME/.cache}
source scripts/wine-env.sh
# A kernel that refuses 32-bit programs has this step run in an emulated machine that can;
# VORSE_X86_VM=1 has it run there on any kernel (to try the machine itself).
if [ "$arch" = win32 ] && { [ "${VORSE_X86_VM:-}" = 1 ] || ! wine_runs_32bit; }; then
  XDG_CACHE_HOME=$user_cache exec bash scripts/vm-x86.sh
fi
start_xvfb

failed=()
part() {
  local name=$1 start=$SECONDS
  shift
  [[ -z "${VORSE_PARTS:-}" || " $VORSE_PARTS " == *" $name "* ]] || return 0
  echo "=== $name ($arch)"
  if "$@"; then
    echo "=== $name ($arch): ok ($((SECONDS - start))s)"
  else
    failed+=("$name")
    echo "=== $name ($arch): FAILED ($((SECONDS - start))s)"
  fi
  # The prefixes with settings of their own are made again by the part that needs them: kept,
  # they would fill the emulated machine's memory, where the prefixes live.
  wine_remove "$VORSE_WINE_ROOT"/base-win*-*
}

unit_tests() {
  local prefix status
  prefix=$(wine_scenario_prefix unit "$arch")
  wine_in "$prefix" wine "$build/tests/vorse_tests.exe"
  status=$?
  stop_wine "$prefix"
  [ "$status" -ne 0 ] || wine_remove "$prefix"
  return "$status"
}

part unit-tests unit_tests
part vorsescan bash tests/cli/wine-cli-test.sh "$build" "$arch"
# VorseFix.exe's real window, checked and pressed from another process.
part window bash tests/e2e/window-tests.sh "$build" "$arch"
# Infected samples found, copied, scheduled and deleted at the next start.
part repair bash tests/e2e/repair-tests.sh "$build" "$arch"
# The 32-bit build in a 64-bit prefix belongs to the 64-bit step's repair part, unless that runs
# where 32-bit programs cannot (scripts/vm-x86.sh then has the 32-bit step run it).
if [ -n "${VORSE_X86_RUNS_WOW64:-}" ]; then
  part repair-wow64 env VORSE_SCENARIOS=wow64 \
    bash tests/e2e/repair-tests.sh "$root/windows-x64" win64
fi

if [ ${#failed[@]} -gt 0 ]; then
  echo "failed under Wine ($arch): ${failed[*]}"
  exit 1
fi
# Prefixes take hundreds of megabytes each; a failed run's stay for a look.
wine_remove "$VORSE_WINE_ROOT"
