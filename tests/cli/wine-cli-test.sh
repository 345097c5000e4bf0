#!/usr/bin/env bash
# Runs vorsescan.exe of one Windows build under Wine on trees planted with the sample
# programs: the plain listing, JSON, quarantine with removal, a restore from a folder others
# may change, a link at the copy's name, the system directory as default root, a missing root,
# a loop of links, names beyond the code page and paths past 260 characters, files in use below
# a shared and a private folder, and a restore on the 9x family. Usage: wine-cli-test.sh
# BUILD_DIR win32|win64 (VORSE_WINE_ROOT set, as scripts/wine-tests.sh sets it).
set -euo pipefail
cd "$(dirname "$0")/../.."

build=$1
arch=$2
source scripts/wine-env.sh
exe="$build/src/cli/vorsescan.exe"
samples="$build/tests/samples"
work="$VORSE_WINE_ROOT/cli-$arch"
rm -rf "$work"
mkdir -p "$work/tree/sub/deeper" "$work/tree/clean"
cp "$samples/kern32.exe" "$work/tree/"
cp "$samples/wowex32_mixed.exe" "$work/tree/sub/deeper/"
cp "$samples/near_kern321.exe" "$samples/no_version.exe" "$work/tree/sub/"
cp "$samples/key_lowercase.exe" "$work/tree/clean/"
prefix=$(wine_scenario_prefix cli "$arch")

failures=0
check() {
  local what=$1
  shift
  if "$@"; then
    echo "ok: $what"
  else
    echo "FAIL: $what"
    failures=$((failures + 1))
  fi
}

# Wine reaches the Linux file system through drive Z:.
win() { printf 'Z:%s' "$(realpath -m "$1" | tr / '\\')"; }

# Runs vorsescan.exe; its output in $work/out, $work/err, the status in $status.
scan() {
  status=0
  wine_in "$prefix" wine "$exe" "$@" >"$work/out" 2>"$work/err" || status=$?
  tr -d '\r' <"$work/out" >"$work/out.txt"
}

scan "$(win "$work/tree")"
expected=$(printf '%s\n' "$(win "$work/tree")\\kern32.exe" "$(win "$work/tree")\\sub\\deeper\\wowex32_mixed.exe")
check "lists the two infected files, own matches first" test "$(cat "$work/out.txt")" = "$expected"
check "status 1 when infected files are found" test "$status" -eq 1
check "a summary on standard error" grep -q '5 files examined in 4 directories, 2 infected' "$work/err"

scan --json "$(win "$work/tree/sub")"
check "JSON names the find with its SHA-256" grep -q "\"sha256\": \"$(sha256sum "$samples/wowex32_mixed.exe" | cut -c1-64)\"" "$work/out.txt"
check "JSON keeps the InternalName as read" grep -q '"internal_name": "WoWeX32"' "$work/out.txt"

scan --quiet "$(win "$work/tree/clean")"
check "status 0 and no output on a clean tree" test "$status" -eq 0 -a ! -s "$work/out.txt" -a ! -s "$work/err"

scan "$(win "$work/missing")"
check "status 2 for a root that cannot be read" test "$status" -eq 2

scan --quarantine "$(win "$work/q")" --remove "$(win "$work/tree")"
check "status 1 after quarantine and removal" test "$status" -eq 1
check "originals removed" test ! -e "$work/tree/kern32.exe" -a ! -e "$work/tree/sub/deeper/wowex32_mixed.exe"
check "copies kept byte for byte" cmp -s "$samples/kern32.exe" "$work/q/kern32.exe"
check "manifest: a header and one line per file" test "$(wc -l <"$work/q/manifest.tsv")" -eq 3

# A quarantine folder that every user may change says nothing about what to put back where.
cp -r "$work/q" "$work/qshared"
chmod 0777 "$work/qshared"
scan --restore "$(win "$work/qshared")"
check "a restore from a folder others may change is refused" \
  test "$status" -eq 2 -a ! -e "$work/tree/kern32.exe"
check "...and says why" grep -q 'other users may change it' "$work/err"

# A link planted by the tree at the copy's name, back at the original: Wine shows it as the
# file it leads to, so only the file identity tells that it is the original itself.
mkdir -p "$work/linked/q"
cp "$samples/kern32.exe" "$work/linked/"
ln -s ../kern32.exe "$work/linked/q/kern32.exe"
scan --quarantine "$(win "$work/linked/q")" --remove "$(win "$work/linked")"
check "a link back at the original is no copy: a true one is kept before removal" \
  test "$status" -eq 1 -a ! -e "$work/linked/kern32.exe"
check "the true copy is the original's bytes" \
  cmp -s "$samples/kern32.exe" "$work/linked/q/kern32 (2).exe"

scan --quiet
check "no DIR: the system directory is scanned, and is clean" test "$status" -eq 0

# A link back to an ancestor: Wine follows links into directories, so only the scanner's own
# guard ends this.
mkdir -p "$work/loop/a"
ln -s .. "$work/loop/a/back"
ln -s .. "$work/loop/a/again"
cp "$samples/kern32.exe" "$work/loop/a/"
status=0
timeout $((120 * ${VORSE_WAIT_FACTOR:-1})) bash -c 'source scripts/wine-env.sh; wine_in "$1" wine "$2" "$3" >"$4/out" 2>"$4/err"' _ \
  "$prefix" "$exe" "$(win "$work/loop")" "$work" || status=$?
check "a loop of links ends the scan with the find listed once" \
  test "$status" -eq 1 -a "$(tr -d '\r' <"$work/out" | wc -l)" -eq 1

# Every name Windows can hold: one outside the code page Wine takes from the locale (1252 for
# C.UTF-8) and one in a folder whose full path passes 260 characters, both through quarantine,
# removal and restore under their real names, in UTF-8 wherever they are written.
uni="$work/uni"
long="$uni/$(printf 'a%.0s' {1..90})/$(printf 'b%.0s' {1..90})/$(printf 'c%.0s' {1..90})"
mkdir -p "$long"
cp "$samples/kern32.exe" "$uni/ядро.exe"
cp "$samples/wowex32_mixed.exe" "$long/wowex32_mixed.exe"
wide_name="$(win "$uni")\\ядро.exe"
long_name="$(win "$long")\\wowex32_mixed.exe"
json_path() { printf '"path":"%s"' "$(printf '%s' "$1" | sed 's/\\/\\\\/g')"; }
# Valid UTF-8 that names both files exactly as JSON writes paths, indented or one event a line.
names_both() {
  iconv -f UTF-8 -t UTF-8 "$1" -o /dev/null && sed 's/"path": /"path":/' "$1" >"$1.flat" &&
    grep -qF "$(json_path "$wide_name")" "$1.flat" && grep -qF "$(json_path "$long_name")" "$1.flat"
}
# Both samples at $1 and $2, byte for byte.
both_kept() { cmp -s "$samples/kern32.exe" "$1" && cmp -s "$samples/wowex32_mixed.exe" "$2"; }
manifest_names_both() { grep -qF "$(printf '\t%s\tядро.exe\t' "$wide_name")" "$1" &&
  grep -qF "$(printf '\t%s\twowex32_mixed.exe\t' "$long_name")" "$1"; }
scan "$(win "$uni")"
check "a name outside the code page and a path past 260 characters are listed as they are" \
  test "$(cat "$work/out.txt")" = "$(printf '%s\n' "$wide_name" "$long_name")"
check "both examined, nothing skipped" \
  grep -q '2 files examined in 4 directories, 2 infected, 0 errors' "$work/err"
scan --json --quarantine "$(win "$work/qu")" --remove "$(win "$uni")"
check "status 1, both originals removed" \
  test "$status" -eq 1 -a ! -e "$uni/ядро.exe" -a ! -e "$long/wowex32_mixed.exe"
check "JSON: valid UTF-8, both names exact" names_both "$work/out.txt"
check "the copies keep the real names, byte for byte" both_kept "$work/qu/ядро.exe" "$work/qu/wowex32_mixed.exe"
check "the manifest names both exactly, in UTF-8" manifest_names_both "$work/qu/manifest.tsv"
scan --json-lines --restore "$(win "$work/qu")"
check "restore: both back byte for byte" both_kept "$uni/ядро.exe" "$long/wowex32_mixed.exe"
check "restore: status 0" test "$status" -eq 0
check "restore events: valid UTF-8, both names exact" names_both "$work/out.txt"

# Names the narrow calls would rewrite (a trailing dot or blank, which Windows itself makes
# through \\?\ paths) are opened exactly: found, not passed over or left unexamined.
mkdir -p "$work/rewritten"
cp "$samples/kern32.exe" "$work/rewritten/Kern32.exe."
cp "$samples/kern32.exe" "$work/rewritten/kern32 .exe "
scan "$(win "$work/rewritten")"
check "names with a trailing dot or blank: both found, nothing left unexamined" \
  test "$status" -eq 1 -a "$(wc -l <"$work/out.txt")" -eq 2
check "...and nothing counted as an error" grep -q ' 2 infected, 0 errors' "$work/err"

# A file in use is registered for deletion at the next start only where nobody else could
# redirect its path meanwhile: not below a folder every user may change (Wine keeps an access
# list as the Unix mode), but below a private one. Each file is held as a running program's
# image is, readable but not deletable.
pending() {
  wine_in "$prefix" wine reg query 'HKLM\System\CurrentControlSet\Control\Session Manager' \
    /v PendingFileRenameOperations 2>/dev/null | tr -d '\r' | grep -c "$1" || true
}
for folder in VorseShared VorsePrivate; do
  mkdir -p "$prefix/drive_c/$folder"
  cp "$samples/kern32.exe" "$prefix/drive_c/$folder/"
  wine_in "$prefix" wine "$build/tests/e2e/vorse_window_driver.exe" use-file \
    "C:\\$folder\\kern32.exe" 120 >"$work/$folder.held" &
  for _ in $(seq $((300 * ${VORSE_WAIT_FACTOR:-1}))); do
    grep -q held "$work/$folder.held" && break
    sleep 0.1
  done
done
chmod 0777 "$prefix/drive_c/VorseShared"
chmod 0755 "$prefix/drive_c/VorsePrivate"
scan --quarantine "$(win "$work/qheld")" --remove 'C:\VorseShared'
check "in use below a folder others may change: not registered, status 2" \
  test "$status" -eq 2 -a "$(pending VorseShared)" -eq 0 -a -e "$prefix/drive_c/VorseShared/kern32.exe"
check "...its copy kept" cmp -s "$samples/kern32.exe" "$work/qheld/kern32.exe"
check "...and it says why" grep -q 'other users may change a folder on its path' "$work/err"
scan --quarantine "$(win "$work/qheld")" --remove 'C:\VorsePrivate'
check "in use below a private folder: registered for deletion at the next start" \
  test "$status" -eq 1 -a "$(pending 'C:.VorsePrivate.kern32\.exe')" -eq 1
check "...and says so" grep -q 'deleted at the next restart' "$work/err"
check "...its copy recorded again with the path registered" \
  grep -q "$(printf '\tC:.VorsePrivate.kern32\\.exe\tquarantined$')" "$work/qheld/manifest.tsv"

stop_wine "$prefix"

# A restore on the 9x family takes its file's NUL= line out of wininit.ini; every other byte of
# the file stays as it was.
plain_prefix=$prefix
prefix=$(wine_scenario_prefix cli-9x "$arch" win98)
# Each new Wine session starts as Windows does, carrying out wininit.ini: one session, kept
# alive, holds the whole scenario.
wine_in "$prefix" wineserver -p
mkdir -p "$work/tree98"
cp "$samples/kern32.exe" "$work/tree98/"
scan --quarantine "$(win "$work/q98")" --remove "$(win "$work/tree98")"
ini="$prefix/drive_c/windows/wininit.ini"
printf '[rename]\r\nNUL=C:\\OTHER.EXE\r\nNUL=%s\r\n[x]\r\nNUL=%s\r\n' \
  "$(win "$work/tree98")\\kern32.exe" "$(win "$work/tree98")\\kern32.exe" >"$ini"
scan --restore "$(win "$work/q98")"
check "9x: restored, status 0" test "$status" -eq 0
check "9x: the file is back byte for byte" cmp -s "$samples/kern32.exe" "$work/tree98/kern32.exe"
check "9x: only its NUL= line of [rename] left wininit.ini" test "$(cat "$ini")" = \
  "$(printf '[rename]\r\nNUL=C:\\OTHER.EXE\r\n[x]\r\nNUL=%s\r' "$(win "$work/tree98")\\kern32.exe")"
stop_wine "$prefix"
echo "result: vorsescan under Wine ($arch): $failures failed"
[ "$failures" -eq 0 ] || exit 1
# Prefixes take hundreds of megabytes each; a failed run's stay for a look.
wine_remove "$plain_prefix" "$prefix"
