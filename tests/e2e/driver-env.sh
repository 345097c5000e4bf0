# Sourced by the end-to-end scripts as `source tests/e2e/driver-env.sh "$@"`, with the script's
# own arguments: BUILD_DIR (the build folder of a windows preset) and win32|win64. Sets build,
# arch, app_exe and driver_exe, sources scripts/wine-env.sh, and gives:
#
#   use_wine_desktop PREFIX         draws PREFIX's windows on a Wine desktop of their own, so
#                                   that they get their caption and frame without a window manager
#   desktop_prefix NAME [VERSION]   wine_scenario_prefix NAME with the Wine desktop; prints the
#                                   prefix's path
#   start_app PREFIX                starts VorseFix.exe in PREFIX; its process id is in app_pid
#   drv PREFIX COMMAND...           runs the window driver in PREFIX: its output without CRs,
#                                   its exit status under pipefail
#   expect_eq WHAT ACTUAL EXPECTED  says FAIL and returns 1 when the two differ
#   scenario NAME FUNCTION [VERSION]
#                                   runs FUNCTION PREFIX in a fresh prefix
#                                   ($scenario_group-NAME) with the program started, after
#                                   FUNCTION_setup PREFIX where there is one; counts it in passed
#                                   or failed. A passed scenario's prefix (hundreds of megabytes)
#                                   is removed; a failed one's stays for a look, with a
#                                   screenshot of the screen in BUILD_DIR/e2e-failed-NAME.png. When
#                                   VORSE_SCENARIOS names scenarios (with spaces between), only
#                                   those run

build=$1
arch=$2
: "${VORSE_WINE_ROOT:?set VORSE_WINE_ROOT to a folder of the build tree}"
source scripts/wine-env.sh

app_exe="$build/src/app/VorseFix.exe"
driver_exe="$build/tests/e2e/vorse_window_driver.exe"

use_wine_desktop() { wine_settings "$1" "${wine_desktop_settings[@]}"; }

desktop_prefix() { wine_scenario_prefix "$1" "$arch" "${2:-}" desktop; }

start_app() {
  wine_in "$1" wine "$app_exe" &
  app_pid=$!
}

drv() {
  local prefix=$1
  shift
  wine_in "$prefix" wine "$driver_exe" "$@" | tr -d '\r'
}

expect_eq() {
  if [ "$2" != "$3" ]; then
    echo "FAIL: $1: got '$2', expected '$3'"
    return 1
  fi
}

scenario_group=e2e
passed=0
failed=0

scenario() {
  local name=$1 version=${3:-} prefix setup=true ok=false start=$SECONDS
  [[ -z "${VORSE_SCENARIOS:-}" || " $VORSE_SCENARIOS " == *" $name "* ]] || return 0
  app_pid=""
  prefix=$(desktop_prefix "$scenario_group-$name" "$version")
  echo "-- $name"
  declare -F "${2}_setup" >/dev/null && setup="${2}_setup"
  if "$setup" "$prefix" && start_app "$prefix" && drv "$prefix" wait-window >/dev/null &&
    "$2" "$prefix"; then
    passed=$((passed + 1))
    ok=true
    echo "-- $name: ok ($((SECONDS - start))s)"
  else
    failed=$((failed + 1))
    echo "-- $name: FAILED ($((SECONDS - start))s)"
    import -window root "$build/e2e-failed-$scenario_group-$name.png" 2>/dev/null
  fi
  stop_wine "$prefix"
  [ -z "$app_pid" ] || wait "$app_pid" 2>/dev/null
  if $ok; then wine_remove "$prefix"; fi
}
