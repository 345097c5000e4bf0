#!/usr/bin/env bash
# The window tests: VorseFix.exe under Wine, checked and pressed through its real window by
# vorse_window_driver. Usage: window-tests.sh BUILD_DIR win32|win64
# Needs VORSE_WINE_ROOT (and, from wine-tests.sh, a display). Each scenario gets its own prefix.
set -uo pipefail
cd "$(dirname "$0")/../.."

source tests/e2e/driver-env.sh "$@"
start_xvfb
scenario_group=window

fresh_window_and_exit_button() {
  local exe_w
  exe_w=$(wine_in "$1" winepath -w "$app_exe" 2>/dev/null)
  drv "$1" check-file "$exe_w" && drv "$1" check-window C: && drv "$1" exit-button
}

alt_x_ends_the_program() { drv "$1" exit-alt-x; }

close_box_ends_the_program() { drv "$1" exit-close-box; }

# At 144 DPI (150 %) the twips layout scales: check-window checks it at the system's DPI.
scaled_layout() {
  local prefix=$1
  drv "$prefix" exit-button >/dev/null || return 1
  wine_in "$prefix" wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD \
    /d 144 /f >/dev/null 2>&1
  wine_in "$prefix" wineserver -w
  start_app "$prefix"
  drv "$prefix" wait-window >/dev/null || return 1
  drv "$prefix" check-window | tee "$VORSE_WINE_ROOT/scaled.log" || return 1
  grep -q '^system DPI: 144' "$VORSE_WINE_ROOT/scaled.log" || { echo "FAIL: DPI not 144"; return 1; }
  drv "$prefix" exit-button
}

# A clean prefix holds no infected file: the run lists the system directory's programs, walks
# them all and says so in blue; the selection ends on the last row; the window stays usable.
clean_run() {
  local prefix=$1 state status rows selection
  state=$(drv "$prefix" press-find-and-fix)
  expect_eq "state after the run" "$state" done || return 1
  status=$(drv "$prefix" read-status)
  expect_eq "status line" "$status" "No Vorse Files were Detected" || return 1
  drv "$prefix" check-status-colour || return 1
  rows=$(drv "$prefix" read-list | grep -ci '\.exe$')
  [ "$rows" -gt 10 ] || { echo "FAIL: only $rows rows listed"; return 1; }
  selection=$(drv "$prefix" read-selection)
  expect_eq "selected row" "$selection" $((rows - 1)) || return 1
  state=$(drv "$prefix" press-find-and-fix)
  expect_eq "state after a second run" "$state" done || return 1
  expect_eq "rows after a second run" "$(drv "$prefix" read-list | grep -ci '\.exe$')" \
    "$rows" || return 1
  drv "$prefix" exit-button
}

# The 9x family schedules deletions in wininit.ini. Where that file cannot be written (here a
# folder stands in its place), the error ends the run: a box names the file, then the program
# ends with a non-zero exit code.
unhandled_error_setup() {
  local prefix=$1
  cp "$build/tests/samples/kern32.exe" "$prefix/drive_c/windows/system32/kern32.exe"
  mkdir -p "$prefix/drive_c/windows/wininit.ini"
}
unhandled_error() {
  local prefix=$1 state text
  state=$(drv "$prefix" press-find-and-fix)
  expect_eq "state after the run" "$state" error || return 1
  text=$(drv "$prefix" read-msgbox --title "Quintarel Vorse Fix")
  echo "$text"
  case "$text" in
  *'Find and Fix'*'wininit.ini'*) ;;
  *) echo "FAIL: the error box does not name the step and the file" && return 1 ;;
  esac
  state=$(drv "$prefix" answer-msgbox ok --title "Quintarel Vorse Fix")
  expect_eq "after the error box" "$state" "gone (exit code 1)"
}

# Many programs keep the run busy long enough to type into it and to send it Exit; one of them
# is infected, so each run ends at "Reboot Notice".
busy_run_setup() {
  local system="$1/drive_c/windows/system32" i
  cp "$build/tests/samples/kern32.exe" "$system/kern32.exe"
  mkdir -p "$system/vorse busy"
  for i in $(seq 400); do
    cp "$build/tests/samples/near_space.exe" "$system/vorse busy/p$i.exe"
  done
}
# Enter and Space typed during the run are thrown away before "Reboot Notice" opens, so the box
# waits for an answer (OK would restart the prefix by force). Exit sent during a run ends the
# program only when the run is over.
busy_run() {
  local prefix=$1
  expect_eq "after typing ahead" "$(drv "$prefix" type-ahead)" prompt || return 1
  expect_eq "after Cancel" "$(drv "$prefix" answer-msgbox cancel)" done || return 1
  expect_eq "after Exit during the run" "$(drv "$prefix" exit-during-run)" prompt || return 1
  expect_eq "after Cancel" "$(drv "$prefix" answer-msgbox cancel)" "gone (exit code 0)"
}

scenario fresh fresh_window_and_exit_button
scenario alt-x alt_x_ends_the_program
scenario close-box close_box_ends_the_program
scenario scaled scaled_layout
scenario clean-run clean_run
scenario unhandled-error unhandled_error win98
scenario busy-run busy_run

echo "result: window tests ($arch): $passed passed, $failed failed"
[ "$failed" -eq 0 ]
