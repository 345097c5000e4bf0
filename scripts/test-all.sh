#!/usr/bin/env bash
# Builds every preset and runs every test: the native unit tests, the fuzz runs, then the
# Windows tests under Wine and Xvfb. Prints one summary; exits non-zero when anything failed.
# Usage: test-all.sh [STEP...]: with names, runs those steps only. A step that exits with 77
# was skipped: the summary's last line names it.
set -uo pipefail
cd "$(dirname "$0")/.."

# VORSE_BUILD_ROOT lets several checkouts' worth of builds live side by side.
root=${VORSE_BUILD_ROOT:-build}
export VORSE_BUILD_ROOT=$root
jobs=$(nproc)
passed=0
failed=0
failures=()
skips=()
selected=("$@")
logdir=$root/test-logs
mkdir -p "$logdir"

step() {
  local name=$1
  shift
  local log="$logdir/$name.log" start=$SECONDS status
  [[ ${#selected[@]} -eq 0 || " ${selected[*]} " == *" $name "* ]] || return 0
  printf '== %-28s ' "$name"
  "$@" >"$log" 2>&1
  status=$?
  if [ "$status" -eq 0 ]; then
    passed=$((passed + 1))
    printf 'ok    (%ss)\n' $((SECONDS - start))
  elif [ "$status" -eq 77 ]; then
    skips+=("$name")
    printf 'skip  (%ss)\n' $((SECONDS - start))
  else
    failed=$((failed + 1))
    failures+=("$name")
    printf 'FAIL  (%ss)\n' $((SECONDS - start))
    tail -n 40 "$log" | sed 's/^/   | /'
  fi
  # Lines a step marks as its result go to the summary ("result: ...").
  grep -h '^result: ' "$log" | sed 's/^/   /' || true
}

build() { cmake --preset "$1" -B "$root/$1" >/dev/null && cmake --build "$root/$1" -j "$jobs"; }

step native-build build native
step native-tests ctest --test-dir "$root/native" --output-on-failure -j "$jobs"
step fuzz bash scripts/fuzz.sh
step windows-x86-build build windows-x86
step windows-x64-build build windows-x64
step imports bash scripts/check-imports.sh "$root/native/tools/imports/check_imports" \
  "$root/windows-x86" "$root/windows-x64"
step dist-sign bash tests/dist/sign-test.sh "$root/windows-x86"
step dist-reproducible bash tests/dist/reproducible-test.sh
step wine-x86 bash scripts/wine-tests.sh windows-x86
step wine-x64 bash scripts/wine-tests.sh windows-x64

echo
echo "steps: $passed passed, $failed failed, ${#skips[@]} skipped"
[ "$failed" -eq 0 ] || echo "failed: ${failures[*]} (logs in $logdir)"
[ ${#skips[@]} -eq 0 ] || echo "skipped: ${skips[*]} (why: the result lines above)"
[ "$failed" -eq 0 ]
