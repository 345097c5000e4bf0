#!/usr/bin/env bash
# The repair tests: VorseFix.exe under Wine, pressed through its real window by
# vorse_window_driver, against infected samples planted in a fresh prefix's system directory.
# They check the copies in C:\!VorseFix, the deletions scheduled for the next start (the
# delayed-move entries of the NT family, wininit.ini of the 9x family), the restart request, and
# then restart the prefix (wineboot -r) to see that exactly the infected files go.
# Usage: repair-tests.sh BUILD_DIR win32|win64
# Needs VORSE_WINE_ROOT; each scenario gets its own prefix; screenshots go to BUILD_DIR/e2e-*.png.
set -uo pipefail
cd "$(dirname "$0")/../.." || exit 1

source tests/e2e/driver-env.sh "$@"
start_xvfb
scenario_group=repair

stub_exe="$build/tests/e2e/vorse_rundll_stub.exe"
short_exe="$build/tests/e2e/vorse_short_path.exe"
acl_exe="$build/tests/e2e/vorse_folder_acl.exe"
samples="$build/tests/samples"
session_key='HKLM\System\CurrentControlSet\Control\Session Manager'

# The 64-bit build searches the 32-bit system directory as well.
system_dirs=(system32)
[ "$arch" = win64 ] && system_dirs+=(syswow64)

# Planted in each system directory: path below it | sample | verdict. Two infected files share a
# name but not their bytes; the near-misses stay; an infected file that is no "*.exe" is not even
# listed. The long names have short forms that differ from them. A CJK name takes three bytes a
# character in the UTF-8 code page of the narrow calls: its row, copy and schedule stay whole.
plants() {
  cat <<'EOF'
kern32.exe|kern32|infected
wowex32.exe|wowex32|infected
near_space.exe|near_space|clean
Vorse Cache/kern32.exe|wowex32_mixed|infected
Vorse Cache/near_kern321.exe|near_kern321|clean
Vorse Cache/key_lowercase.exe|key_lowercase|clean
Vorse Cache/two_tables_wrong_first.exe|two_tables_wrong_first|clean
Vorse Cache/kern32.dll|kern32|unlisted
Vorse Cache/Deeper Level/LongInfectedName.exe|kern32_upper|infected
ウイルス検査.exe|kern32|infected
EOF
}

# C:\!VorseFix afterwards: copy name | the sample it holds. The second kern32.exe gets a number;
# on win64 the copies from syswow64 have the same bytes as those from system32 and reuse them.
expected_copies() {
  cat <<'EOF'
kern32.exe|kern32
kern32 (2).exe|wowex32_mixed
wowex32.exe|wowex32
LongInfectedName.exe|kern32_upper
ウイルス検査.exe|kern32
EOF
}

fail() {
  echo "FAIL: $*"
  return 1
}

# The Unix path of a C:\ path of the prefix.
unix_path() {
  local rest=${2#C:\\}
  printf '%s/drive_c/%s\n' "$1" "${rest//\\//}"
}

# The Windows paths of the planted files of one verdict, one a line.
planted() {
  local verdict=$1 dir rel sample kind
  for dir in "${system_dirs[@]}"; do
    while IFS='|' read -r rel sample kind; do
      if [ "$kind" = "$verdict" ]; then
        printf 'C:\\windows\\%s\\%s\n' "$dir" "${rel//\//\\}"
      fi
    done < <(plants)
  done
}

plant_samples() {
  local prefix=$1 dir rel sample kind target
  for dir in "${system_dirs[@]}"; do
    while IFS='|' read -r rel sample kind; do
      target="$prefix/drive_c/windows/$dir/$rel"
      mkdir -p "$(dirname "$target")"
      cp "$samples/$sample.exe" "$target"
    done < <(plants)
  done
}

# Usage: wait_until SECONDS COMMAND... Polls COMMAND until it succeeds; fails after SECONDS
# (times VORSE_WAIT_FACTOR, which a slow, emulated machine sets).
wait_until() {
  local tenths=$(($1 * 10 * ${VORSE_WAIT_FACTOR:-1})) waited=0
  shift
  until "$@"; do
    [ "$waited" -ge "$tenths" ] && return 1
    sleep 0.1
    waited=$((waited + 1))
  done
}

ended() { ! kill -0 "$1" 2>/dev/null; }

screenshot() {
  import -window root "$build/e2e-$1.png" 2>/dev/null || fail "no screenshot e2e-$1.png"
}

# The infected files (or the paths given, one a line) in the order of List1, each with its short
# form: "long|short" lines.
infected_in_list_order() {
  local prefix=$1 rows
  rows=$(drv "$prefix" read-list | grep -Fx -f <(printf '%s\n' "${2:-$(planted infected)}"))
  [ -n "$rows" ] || return 0
  local -a longs shorts
  mapfile -t longs <<<"$rows"
  mapfile -t shorts < <(wine_in "$prefix" wine "$short_exe" "${longs[@]}" | tr -d '\r')
  local i
  for i in "${!longs[@]}"; do
    printf '%s|%s\n' "${longs[$i]}" "${shorts[$i]:-}"
  done
}

# Every infected file is listed once, and its short form differs from the long one where the
# name is long (so the checks below can tell them apart).
check_listed() {
  local order=$1
  expect_eq "infected rows" "$(cut -d'|' -f1 <<<"$order" | sort)" "$(planted infected | sort)" ||
    return 1
  grep -q '~' <<<"$order" || fail "no long name has a distinct short form: $order"
}

check_copies() {
  local prefix=$1 name sample listed
  listed=$(find "$prefix/drive_c/!VorseFix" -mindepth 1 -printf '%f\n' 2>/dev/null | sort)
  # The copies, and the manifest that records them.
  expect_eq "copies in C:\\!VorseFix" "$listed" \
    "$( (expected_copies | cut -d'|' -f1; echo manifest.tsv) | sort)" || return 1
  while IFS='|' read -r name sample; do
    cmp -s "$prefix/drive_c/!VorseFix/$name" "$samples/$sample.exe" ||
      fail "C:\\!VorseFix\\$name does not hold $sample.exe" || return 1
  done < <(expected_copies)
}

# The delayed-move entries, one a line. reg prints the strings joined by "\0"; a deletion is a
# path and an empty target, so "\0\0" ends each entry (the last one's second "\0" is dropped).
# An entry with a target keeps its "\0target" and fails the comparison.
pending_entries() {
  wine_in "$1" wine reg query "$session_key" /v PendingFileRenameOperations 2>/dev/null |
    tr -d '\r' | sed -n 's/^ *PendingFileRenameOperations *REG_MULTI_SZ *//p' |
    sed 's/\\0\\0/\n/g; s/\\0$//' | sed '/^$/d'
}

# Each infected file's short form once, in the order of List1, each to be deleted (no target).
check_pending() {
  local prefix=$1 order=$2 expected
  expected=$(cut -d'|' -f2 <<<"$order" | sed 's/^/\\??\\/')
  expect_eq "PendingFileRenameOperations" "$(pending_entries "$prefix")" "$expected"
}

# The bytes of wininit.ini as one line per line, each ended by "\r" when its CR LF is there,
# and a note when the last line has no line end.
ini_lines() {
  local ini="$1/drive_c/windows/wininit.ini"
  sed -n 'l' "$ini" | sed 's/\$$//'
  [ "$(tail -c 1 "$ini" | od -An -c | tr -d ' ')" = '\n' ] || echo "(no line end at the end)"
}

expected_ini_lines() {
  local order=$1 header=$2
  printf '%s' "$header" | sed -n 'l' | sed 's/\$$//'
  cut -d'|' -f2 <<<"$order" | sed 's/^/NUL=/; s/\\/\\\\/g; s/$/\\r/'
}

# After a restart: the infected files have gone, everything else has stayed.
check_restarted() {
  local prefix=$1 path
  while IFS= read -r path; do
    [ ! -e "$(unix_path "$prefix" "$path")" ] || fail "still there after the restart: $path" ||
      return 1
  done < <(planted infected)
  while IFS= read -r path; do
    [ -e "$(unix_path "$prefix" "$path")" ] || fail "deleted by the restart: $path" || return 1
  done < <(planted clean; planted unlisted)
  check_copies "$prefix"
}

# Restarts the prefix with the program ended.
restart_prefix() {
  stop_wine "$1"
  wait "$app_pid" 2>/dev/null
  wine_in "$1" wineboot -r >/dev/null 2>&1
  wine_in "$1" wineserver -w
}

# Restarts the prefix, then checks what the restart deleted.
check_restart() {
  restart_prefix "$1"
  check_restarted "$1"
}

# Presses "Find and Fix" and checks that the run ends at the restart prompt.
run_to_prompt() {
  local prefix=$1 state
  state=$(drv "$prefix" press-find-and-fix)
  expect_eq "state after the run" "$state" prompt || return 1
  expect_eq "the prompt" "$(drv "$prefix" read-msgbox)" \
    "You need to Reboot to finish Repairing the Vorse Infection" || return 1
}

cancel_prompt() {
  expect_eq "state after Cancel" "$(drv "$1" answer-msgbox cancel)" "done" &&
    expect_eq "status line" "$(drv "$1" read-status)" "You Must reboot to fix these files"
}

nt_cancel_then_restart_setup() { plant_samples "$1"; }
nt_cancel_then_restart() {
  local prefix=$1 order
  run_to_prompt "$prefix" && cancel_prompt "$prefix" || return 1
  screenshot "repair-nt-$arch" || return 1
  order=$(infected_in_list_order "$prefix")
  check_listed "$order" && check_copies "$prefix" && check_pending "$prefix" "$order" || return 1
  [ ! -e "$prefix/drive_c/windows/wininit.ini" ] || fail "a wininit.ini on the NT family" ||
    return 1
  check_restart "$prefix" || return 1
  expect_eq "entries after the restart" "$(pending_entries "$prefix")" ""
}

# OK restarts through ExitWindowsEx, forced. The call only starts the restart, so the driver
# may still see the window idle ("done"); or Wine's restart, which ends every process of the
# prefix, ends the driver too, before or after it has seen the program go. The restart itself
# deletes the files.
nt_ok_restarts_setup() { plant_samples "$1"; }
nt_ok_restarts() {
  local prefix=$1 answer
  run_to_prompt "$prefix" || return 1
  answer=$(drv "$prefix" --timeout 30 answer-msgbox ok)
  case "$answer" in
  "" | "done" | "gone (exit code "*) ;;
  *) fail "the driver after OK: '$answer'" || return 1 ;;
  esac
  wait_until 30 ended "$app_pid" || fail "VorseFix.exe still runs after OK" || return 1
  wine_in "$prefix" wineserver -w
  check_restarted "$prefix"
}

nine_x_ini_then_restart_setup() { plant_samples "$1"; }
nine_x_ini_then_restart() {
  local prefix=$1 order once
  run_to_prompt "$prefix" && cancel_prompt "$prefix" || return 1
  order=$(infected_in_list_order "$prefix")
  check_listed "$order" && check_copies "$prefix" || return 1
  once=$(expected_ini_lines "$order" $'[rename]\r\n')
  expect_eq "wininit.ini after one run" "$(ini_lines "$prefix")" "$once" || return 1
  expect_eq "delayed-move entries on the 9x family" "$(pending_entries "$prefix")" "" || return 1

  # A second press schedules every file again, below the first lines; the copies are reused.
  run_to_prompt "$prefix" && cancel_prompt "$prefix" || return 1
  expect_eq "wininit.ini after two runs" "$(ini_lines "$prefix")" \
    "$once"$'\n'"$(expected_ini_lines "$order" '')" || return 1
  check_copies "$prefix" && check_restart "$prefix" || return 1
  [ -e "$prefix/drive_c/windows/wininit.bak" ] || fail "the restart left no wininit.bak" || return 1
  [ ! -e "$prefix/drive_c/windows/wininit.ini" ] || fail "the restart left wininit.ini"
}

# OK on the 9x family starts rundll32.exe from the Windows directory, maximised, and nothing
# more: the window (and the driver) live on. wininit.ini existed, with another section only; the
# files are deleted at the next start all the same.
ini_before=$'[other]\r\nkeep=this line\r\n'
nine_x_ok_starts_rundll32_setup() {
  plant_samples "$1"
  printf '%s' "$ini_before" >"$1/drive_c/windows/wininit.ini"
  cp "$stub_exe" "$1/drive_c/windows/rundll32.exe"
}
nine_x_ok_starts_rundll32() {
  local prefix=$1 order log
  run_to_prompt "$prefix" || return 1
  order=$(infected_in_list_order "$prefix")
  expect_eq "state after OK" "$(drv "$prefix" answer-msgbox ok)" "done" || return 1
  log="$prefix/drive_c/windows/rundll32-call.txt"
  wait_until 30 test -s "$log" || fail "rundll32.exe was not started" || return 1
  grep -q '^command line: .*rundll32\.exe"\? shell32\.dll,SHExitWindowsEx 2'$'\r''$' "$log" ||
    fail "rundll32.exe's command line: $(head -1 "$log")" || return 1
  grep -qix 'directory: C:\\windows'$'\r' "$log" ||
    fail "rundll32.exe's directory: $(sed -n 2p "$log")" || return 1
  grep -qx 'show: 3'$'\r' "$log" || fail "rundll32.exe's show command: $(sed -n 3p "$log")" ||
    return 1
  expect_eq "status line" "$(drv "$prefix" read-status)" "Rebooting Windows..." || return 1
  screenshot "repair-9x-ok-$arch" || return 1
  # Start-up reads only the [rename] section: the lines get one of their own.
  expect_eq "wininit.ini" "$(ini_lines "$prefix")" \
    "$(expected_ini_lines "$order" "$ini_before"$'[rename]\r\n')" || return 1
  drv "$prefix" exit-button >/dev/null && check_restart "$prefix"
}

# Nothing planted: the list holds every "*.exe" below the system directories, nothing else.
clean_system() {
  local prefix=$1 dir listed expected
  expect_eq "state after the run" "$(drv "$prefix" press-find-and-fix)" "done" || return 1
  expect_eq "status line" "$(drv "$prefix" read-status)" "No Vorse Files were Detected" ||
    return 1
  screenshot "repair-clean-$arch" || return 1
  listed=$(drv "$prefix" read-list | sort)
  expected=$(for dir in "${system_dirs[@]}"; do
    (cd "$prefix/drive_c/windows/$dir" && find -L . -type f -iname '*.exe') |
      sed "s|^\./|C:\\\\windows\\\\$dir\\\\|; s|/|\\\\|g"
  done | sort)
  [ "$(wc -l <<<"$expected")" -gt 50 ] || fail "only $(wc -l <<<"$expected") files found" ||
    return 1
  [ "$listed" = "$expected" ] || {
    diff <(echo "$expected") <(echo "$listed") | head -20
    fail "List1 does not hold exactly the system directory's programs"
    return 1
  }
  [ ! -e "$prefix/drive_c/!VorseFix" ] || fail "a clean run made C:\\!VorseFix"
}

# A system folder with two links back to itself, a read-only infected file, a quarantine name
# taken by another file and then by a dangling link, a folder deeper than a path may reach and a
# file held open without sharing. Each folder is searched once; the run says what it could not
# examine before the prompt; the restart deletes every file that was scheduled.
sys32='C:\windows\system32'
deep_dir="VorseDeep/$(printf '%048d/%048d/%048d/%048d/%048d' 1 2 3 4 5)"
hostile_system_setup() {
  local sys="$1/drive_c/windows/system32"
  mkdir -p "$sys/VorseLoop" "$sys/$deep_dir" "$1/drive_c/!VorseFix"
  cp "$samples/kern32.exe" "$sys/VorseLoop/LoopInfected.exe"
  ln -s . "$sys/VorseLoop/a"
  ln -s . "$sys/VorseLoop/b"
  cp "$samples/wowex32.exe" "$sys/VorseRO.exe"
  chmod a-w "$sys/VorseRO.exe"
  cp "$samples/kern32_upper.exe" "$sys/Dangle.exe"
  cp "$samples/near_space.exe" "$1/drive_c/!VorseFix/Dangle.exe"
  ln -s /nonexistent/vorse "$1/drive_c/!VorseFix/Dangle (2).exe"
  cp "$samples/kern32.exe" "$sys/$deep_dir/Deep.exe"
  cp "$samples/kern32.exe" "$sys/VorseHeld.exe"
}
hostile_system() {
  local prefix=$1 sys="$1/drive_c/windows/system32" notice rows gone
  wine_in "$prefix" wine "$driver_exe" hold-file "$sys32\\VorseHeld.exe" 600 >"$prefix/held.txt" &
  wait_until 30 grep -q held "$prefix/held.txt" || fail "VorseHeld.exe is not held" || return 1
  # A walk that branches at every link never ends: the timeout ends the wait instead.
  expect_eq "state after the run" "$(drv "$prefix" --timeout 90 press-find-and-fix)" error ||
    return 1
  notice=$(drv "$prefix" read-msgbox --title "Quintarel Vorse Fix")
  grep -q "1 folder could not be searched and 1 file could not be opened" <<<"$notice" &&
    grep -qF "$sys32\\VorseDeep\\" <<<"$notice" && grep -qF "$sys32\\VorseHeld.exe" <<<"$notice" ||
    fail "the notice: $notice" || return 1
  expect_eq "state after the notice" \
    "$(drv "$prefix" answer-msgbox ok --title "Quintarel Vorse Fix")" prompt || return 1
  cancel_prompt "$prefix" || return 1
  rows=$(drv "$prefix" read-list)
  expect_eq "rows below VorseLoop" "$(grep -F '\VorseLoop\' <<<"$rows")" \
    "$sys32\\VorseLoop\\LoopInfected.exe" || return 1
  cmp -s "$prefix/drive_c/!VorseFix/Dangle (3).exe" "$samples/kern32_upper.exe" &&
    cmp -s "$prefix/drive_c/!VorseFix/Dangle.exe" "$samples/near_space.exe" &&
    cmp -s "$prefix/drive_c/!VorseFix/VorseRO.exe" "$samples/wowex32.exe" ||
    fail "C:\\!VorseFix holds $(ls "$prefix/drive_c/!VorseFix" | tr '\n' ' ')" || return 1
  expect_eq "deletions scheduled" "$(pending_entries "$prefix" | wc -l)" 3 || return 1
  stop_wine "$prefix"
  wait "$app_pid" 2>/dev/null
  wine_in "$prefix" wineboot -r >/dev/null 2>&1
  wine_in "$prefix" wineserver -w
  for gone in VorseLoop/LoopInfected.exe VorseRO.exe Dangle.exe; do
    [ ! -e "$sys/$gone" ] || fail "still there after the restart: $gone" || return 1
  done
}

# Every copy fails (C:\!VorseFix is a file): nothing is scheduled, so no restart is asked for.
left_in_place_setup() {
  cp "$samples/kern32.exe" "$1/drive_c/windows/system32/VorseLeft.exe"
  printf 'not a folder' >"$1/drive_c/!VorseFix"
}
left_in_place() {
  local prefix=$1
  expect_eq "state after the run" "$(drv "$prefix" press-find-and-fix)" error || return 1
  drv "$prefix" read-msgbox --title "Quintarel Vorse Fix" | grep -q "will not be deleted" ||
    fail "no notice that VorseLeft.exe stays" || return 1
  expect_eq "state after the notice" \
    "$(drv "$prefix" answer-msgbox ok --title "Quintarel Vorse Fix")" done || return 1
  expect_eq "status line" "$(drv "$prefix" read-status)" "Vorse Files found were left in place" &&
    expect_eq "deletions scheduled" "$(pending_entries "$prefix")" ""
}

# A link planted at C:\!VorseFix (to a start-up folder, say) carries no copy: the file is left
# in place as when the folder is a file, and nothing lands where the link points.
link_folder_setup() {
  cp "$samples/kern32.exe" "$1/drive_c/windows/system32/VorseLeft.exe"
  mkdir -p "$1/drive_c/VorseStartup"
  ln -s VorseStartup "$1/drive_c/!VorseFix"
}
link_folder() {
  left_in_place "$1" || return 1
  [ -z "$(ls -A "$1/drive_c/VorseStartup")" ] || fail "a copy went through the link"
}

# Who may change a folder made by the run: its owner, Administrators and SYSTEM, no one else.
# Wine keeps an access list as the Unix mode of the folder, and reads it back as entries for the
# Unix user (the owner), SYSTEM and Everyone; the mode of a folder made without one gives
# Everyone an entry.
check_private() {
  local shown owner
  shown=$(wine_in "$1" wine "$acl_exe" "$2" | tr -d '\r') || return 1
  owner=$(sed -n 's/^owner //p' <<<"$shown")
  [ -n "$owner" ] && [ "$(sed 1d <<<"$shown" | grep -cvE " ($owner|S-1-5-32-544|S-1-5-18)\$")" = 0 ] ||
    fail "others may change $2: $shown"
}

# A folder below system32 that every user may change (Wine keeps access lists as Unix modes),
# an infected file in a folder inside it and a clean namesake in system32. After the run the folder's owner swaps the infected file's folder
# for a link to system32 (a junction, on Windows): the restart deletes the infected file, moved
# out of their reach before it was scheduled, and the namesake stays.
redirect_setup() {
  local sys="$1/drive_c/windows/system32"
  mkdir -p "$sys/VorseOpen/sub"
  cp "$samples/kern32.exe" "$sys/VorseOpen/sub/VorseTwin.exe"
  cp "$samples/near_space.exe" "$sys/VorseTwin.exe"
  chmod 0777 "$sys/VorseOpen"
}
redirect() {
  local prefix=$1 sys="$1/drive_c/windows/system32"
  local moved='C:\!VorseFix\Deleted at restart\VorseTwin.exe'
  run_to_prompt "$prefix" && cancel_prompt "$prefix" || return 1
  expect_eq "deletions scheduled" "$(pending_entries "$prefix")" "\\??\\$moved" || return 1
  cmp -s "$(unix_path "$prefix" "$moved")" "$samples/kern32.exe" &&
    cmp -s "$prefix/drive_c/!VorseFix/VorseTwin.exe" "$samples/kern32.exe" ||
    fail "the infected file and its copy are not where they belong" || return 1
  check_private "$prefix" 'C:\!VorseFix' && check_private "$prefix" 'C:\!VorseFix\Deleted at restart' ||
    return 1
  mv "$sys/VorseOpen/sub" "$sys/VorseOpen/sub.old"
  ln -s .. "$sys/VorseOpen/sub"
  restart_prefix "$prefix"
  [ -e "$sys/VorseTwin.exe" ] || fail "the clean VorseTwin.exe in system32 was deleted" || return 1
  [ ! -e "$(unix_path "$prefix" "$moved")" ] || fail "the moved file is still there"
}

# A C:\!VorseFix made beforehand that every user may change takes no copy: they could read or replace
# it, or make the folder a junction. The file is left in place as when the folder is a file.
shared_folder_setup() {
  cp "$samples/kern32.exe" "$1/drive_c/windows/system32/VorseLeft.exe"
  mkdir -m 0777 "$1/drive_c/!VorseFix"
}
shared_folder() {
  left_in_place "$1" || return 1
  [ -z "$(ls -A "$1/drive_c/!VorseFix")" ] || fail "a copy went into the shared folder"
}

# The 32-bit build on 64-bit Windows, where its system32 is syswow64: the infected Kern32.exe
# there is scheduled by its real location, not the clean namesake in the real system32; and the
# real system32, reached through Sysnative, is searched too.
wow64_32bit_build_setup() {
  local win="$1/drive_c/windows"
  mkdir -p "$win/syswow64/VorseT" "$win/system32/VorseT" "$win/system32/VorseN"
  cp "$samples/kern32.exe" "$win/syswow64/VorseT/Kern32.exe"
  cp "$samples/near_space.exe" "$win/system32/VorseT/Kern32.exe"
  cp "$samples/wowex32.exe" "$win/system32/VorseN/Native.exe"
}
wow64_32bit_build() {
  local prefix=$1 win="$1/drive_c/windows"
  run_to_prompt "$prefix" && cancel_prompt "$prefix" || return 1
  drv "$prefix" read-list | grep -qix 'C:\\windows\\Sysnative\\VorseN\\Native\.exe' ||
    fail "Sysnative\\VorseN\\Native.exe is not listed" || return 1
  stop_wine "$prefix"
  wait "$app_pid" 2>/dev/null
  wine_in "$prefix" wineboot -r >/dev/null 2>&1
  wine_in "$prefix" wineserver -w
  [ -e "$win/system32/VorseT/Kern32.exe" ] || fail "the clean system32 Kern32.exe was deleted" ||
    return 1
  [ ! -e "$win/syswow64/VorseT/Kern32.exe" ] && [ ! -e "$win/system32/VorseN/Native.exe" ] ||
    fail "an infected file is still there after the restart"
}

# Putting a file back: the window's run over two infected files of one name in two folders,
# then vorsescan.exe --restore for one of them while the window's session still runs (a new
# session would carry out the deletions at once), then the restart. The restored file stays with
# its own bytes, its namesake goes, and the rename registered before the run is carried out as
# it was registered. The other is put back after the restart, written anew from its copy.
scan_exe="$build/src/cli/vorsescan.exe"
twins=(VorseTwinA VorseTwinB)
twin_path() { printf '%s\\%s\\Twin.exe\n' "$sys32" "$1"; }
twins_setup() {
  local sys="$1/drive_c/windows/system32"
  mkdir -p "$sys/${twins[0]}" "$sys/${twins[1]}"
  cp "$samples/kern32.exe" "$sys/${twins[0]}/Twin.exe"
  cp "$samples/wowex32.exe" "$sys/${twins[1]}/Twin.exe"
  printf 'kept by its rename' >"$1/drive_c/vorsesrc.txt"
}
twin_sample() { [ "$1" = "$(twin_path "${twins[0]}")" ] && echo kern32 || echo wowex32; }

# Every line of C:\!VorseFix\manifest.tsv, read strictly: the header, then one whole record per
# line of EXPECTED ("path|copy name|registered path|action"), the time in UTC, the size and
# SHA-256 of the sample the copy holds. Nothing else, not even a CR or a last line without its
# line feed.
check_manifest() {
  local prefix=$1 expected=$2 manifest="$1/drive_c/!VorseFix/manifest.tsv" i=0
  local path name registered action sample time
  local -a lines fields
  [ -f "$manifest" ] || fail "no manifest" || return 1
  [ "$(tail -c 1 "$manifest" | od -An -c | tr -d ' ')" = '\n' ] ||
    fail "the manifest's last line has no line feed" || return 1
  ! grep -q $'\r' "$manifest" || fail "a CR in the manifest" || return 1
  mapfile -t lines <"$manifest"
  expect_eq "manifest header" "${lines[0]}" \
    $'time\toriginal_path\tquarantine_name\tsize\tsha256\tregistered_path\taction' || return 1
  expect_eq "manifest records" "$((${#lines[@]} - 1))" "$(wc -l <<<"$expected")" || return 1
  while IFS='|' read -r path name registered action; do
    i=$((i + 1))
    sample="$samples/$(twin_sample "$path").exe"
    IFS=$'\t' read -r -a fields <<<"${lines[$i]}"
    time=${fields[0]}
    [[ $time =~ ^[0-9]{4}-[01][0-9]-[0-3][0-9]T[0-2][0-9]:[0-5][0-9]:[0-6][0-9]Z$ ]] ||
      fail "manifest line $((i + 1)): time '$time'" || return 1
    expect_eq "manifest line $((i + 1))" "${lines[$i]}" "$(printf '%s\t' "$time" "$path" "$name" \
      "$(stat -c %s "$sample")" "$(sha256sum "$sample" | cut -c1-64)" "$registered")$action" ||
      return 1
  done <<<"$expected"
}

# The strings of PendingFileRenameOperations, one a line (a deletion's empty target too, but for
# the last one's).
pending_strings() {
  wine_in "$1" wine reg query "$session_key" /v PendingFileRenameOperations 2>/dev/null |
    tr -d '\r' | sed -n 's/^ *PendingFileRenameOperations *REG_MULTI_SZ *//p' | sed 's/\\0/\n/g'
}

restore_twin() {
  local prefix=$1 path=$2 out
  out=$(wine_in "$prefix" wine "$scan_exe" --restore 'C:\!VorseFix' "$path" 2>"$prefix/restore.err")
  local status=$?
  expect_eq "vorsescan --restore's status ($(tr -d '\r' <"$prefix/restore.err"))" "$status" 0 &&
    expect_eq "vorsescan --restore's output" "$(tr -d '\r' <<<"$out")" "$path"
}

# Runs the window over the twins and restores the first one listed. The family's checks of its
# registrations are FAMILY_before (sets them up), FAMILY_after_run ORDER and
# FAMILY_after_restore ORDER.
twins_restored() {
  local prefix=$1 family=$2 order kept gone manifest registered
  "${family}_before" "$prefix" || return 1
  run_to_prompt "$prefix" && cancel_prompt "$prefix" || return 1
  order=$(infected_in_list_order "$prefix" "$(twin_path "${twins[0]}"; twin_path "${twins[1]}")")
  expect_eq "infected rows" "$(cut -d'|' -f1 <<<"$order" | sort)" \
    "$(twin_path "${twins[0]}"; twin_path "${twins[1]}")" || return 1
  kept=$(sed -n 1p <<<"$order" | cut -d'|' -f1)
  gone=$(sed -n 2p <<<"$order" | cut -d'|' -f1)
  manifest=$(awk -F'|' '{ printf "%s|%s|%s|quarantined\n", $1, NR == 1 ? "Twin.exe" : "Twin (2).exe",
    $2 }' <<<"$order")
  check_manifest "$prefix" "$manifest" && "${family}_after_run" "$prefix" "$order" || return 1
  restore_twin "$prefix" "$kept" && "${family}_after_restore" "$prefix" "$order" || return 1
  # The restore is recorded too, and the copy stays.
  check_manifest "$prefix" "$manifest"$'\n'"$(sed -n '1s/quarantined$/restored/p' <<<"$manifest")" ||
    return 1
  stop_wine "$prefix"
  wait "$app_pid" 2>/dev/null
  wine_in "$prefix" wineboot -r >/dev/null 2>&1
  wine_in "$prefix" wineserver -w
  cmp -s "$(unix_path "$prefix" "$kept")" "$samples/$(twin_sample "$kept").exe" ||
    fail "the restored $kept is not there with its bytes" || return 1
  [ ! -e "$(unix_path "$prefix" "$gone")" ] || fail "still there after the restart: $gone" ||
    return 1
  # Start-up names the renamed file as it was registered, in whatever case.
  [ ! -e "$prefix/drive_c/vorsesrc.txt" ] && expect_eq "the rename registered before the run" \
    "$(find "$prefix/drive_c" -maxdepth 1 -iname vorsedst.txt -exec cat {} +)" \
    "kept by its rename" || return 1
  # After the restart the other one is written back from its copy; one session again, so that
  # nothing is carried out behind it.
  wine_in "$prefix" wineserver -p
  restore_twin "$prefix" "$gone" || return 1
  cmp -s "$(unix_path "$prefix" "$gone")" "$samples/$(twin_sample "$gone").exe" ||
    fail "$gone is not back with its bytes"
}

nt_before() {
  wine_in "$1" wine reg add "$session_key" /v PendingFileRenameOperations /t REG_MULTI_SZ \
    /d '\??\C:\VORSESRC.TXT\0\??\C:\VORSEDST.TXT' /f >/dev/null 2>&1
  expect_eq "registered before the run" "$(pending_strings "$1")" \
    $'\\??\\C:\\VORSESRC.TXT\n\\??\\C:\\VORSEDST.TXT'
}
nt_after_run() {
  expect_eq "PendingFileRenameOperations after the run" "$(pending_strings "$1")" \
    "$(printf '%s\n' '\??\C:\VORSESRC.TXT' '\??\C:\VORSEDST.TXT'
    cut -d'|' -f2 <<<"$2" | sed 's/^/\\??\\/; 1s/$/\n/')"
}
nt_after_restore() {
  expect_eq "PendingFileRenameOperations after the restore" "$(pending_strings "$1")" \
    "$(printf '%s\n' '\??\C:\VORSESRC.TXT' '\??\C:\VORSEDST.TXT'
    sed -n 2p <<<"$2" | cut -d'|' -f2 | sed 's/^/\\??\\/')"
}
nt_twins_restored_setup() { twins_setup "$1"; }
nt_twins_restored() { twins_restored "$1" nt; }

ini_rename=$'[rename]\r\nC:\\VORSEDST.TXT=C:\\VORSESRC.TXT\r\n'
nine_x_before() { printf '%s' "$ini_rename" >"$1/drive_c/windows/wininit.ini"; }
nine_x_after_run() {
  expect_eq "wininit.ini after the run" "$(ini_lines "$1")" "$(expected_ini_lines "$2" "$ini_rename")"
}
nine_x_after_restore() {
  expect_eq "wininit.ini after the restore" "$(ini_lines "$1")" \
    "$(expected_ini_lines "$(sed -n 2p <<<"$2")" "$ini_rename")"
}
nine_x_twins_restored_setup() { twins_setup "$1"; }
nine_x_twins_restored() { twins_restored "$1" nine_x; }

# A record that cannot be written (a folder stands at manifest.tsv) leaves the file in place,
# scheduled nowhere, and the user is told; on the 9x family too.
manifest_blocked_setup() {
  cp "$samples/kern32.exe" "$1/drive_c/windows/system32/VorseLeft.exe"
  mkdir -p "$1/drive_c/!VorseFix/manifest.tsv"
}
manifest_blocked() {
  local prefix=$1 notice
  expect_eq "state after the run" "$(drv "$prefix" press-find-and-fix)" error || return 1
  notice=$(drv "$prefix" read-msgbox --title "Quintarel Vorse Fix")
  grep -qF "$sys32\\VorseLeft.exe could not be recorded in C:\\!VorseFix\\manifest.tsv" \
    <<<"$notice" && grep -q "It was left in place and will not be deleted" <<<"$notice" ||
    fail "the notice: $notice" || return 1
  expect_eq "state after the notice" \
    "$(drv "$prefix" answer-msgbox ok --title "Quintarel Vorse Fix")" done || return 1
  expect_eq "status line" "$(drv "$prefix" read-status)" "Vorse Files found were left in place" &&
    expect_eq "deletions scheduled" "$(pending_entries "$prefix")" "" || return 1
  [ ! -e "$prefix/drive_c/windows/wininit.ini" ] || fail "a wininit.ini was written" || return 1
  check_restart_keeps "$prefix" "$prefix/drive_c/windows/system32/VorseLeft.exe"
}
check_restart_keeps() {
  stop_wine "$1"
  wait "$app_pid" 2>/dev/null
  wine_in "$1" wineboot -r >/dev/null 2>&1
  wine_in "$1" wineserver -w
  cmp -s "$2" "$samples/kern32.exe" || fail "the restart took $2"
}

scenario nt-cancel nt_cancel_then_restart
scenario nt-ok nt_ok_restarts
# Windows 2000 is of the NT family: delayed-move entries and ExitWindowsEx, as on XP.
scenario 2k-cancel nt_cancel_then_restart win2k
scenario 2k-ok nt_ok_restarts win2k
scenario 9x-ini nine_x_ini_then_restart win98
scenario 9x-ok nine_x_ok_starts_rundll32 win98
scenario clean clean_system
scenario nt-restore nt_twins_restored
scenario 9x-restore nine_x_twins_restored win98
scenario redirect redirect
# Once is enough for these, in the 64-bit run, which runs the 32-bit build in its prefix too.
if [ "$arch" = win64 ]; then
  scenario hostile hostile_system
  scenario left-in-place left_in_place
  scenario link-folder link_folder
  scenario manifest-blocked manifest_blocked
  scenario 9x-manifest-blocked manifest_blocked win98
  scenario shared-folder shared_folder
  if wine_runs_32bit; then
    app_exe="$build/../windows-x86/src/app/VorseFix.exe" scenario wow64 wow64_32bit_build
  else
    echo "result: repair e2e scenario wow64 not run here: this machine's kernel cannot run" \
      "32-bit programs (the wine-x86 step runs it in its emulated machine)"
  fi
fi

echo "result: repair e2e ($arch): $passed passed, $failed failed"
[ "$failed" -eq 0 ] || exit 1
