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

selected() { [[ ${#selected[@]} -eq 0 || " ${selected[*]} " == *" $1 "* ]]; }

# Prints a step's line (and the last lines of its log when it failed) and counts it.
report() {
  local name=$1 status=$2 seconds=$3 log="$logdir/$1.log"
  printf '== %-28s ' "$name"
  if [ "$status" -eq 0 ]; then
    passed=$((passed + 1))
    printf 'ok    (%ss)\n' "$seconds"
  elif [ "$status" -eq 77 ]; then
    skips+=("$name")
    printf 'skip  (%ss)\n' "$seconds"
  else
    failed=$((failed + 1))
    failures+=("$name")
    printf 'FAIL  (%ss)\n' "$seconds"
    tail -n 40 "$log" | sed 's/^/   | /'
  fi
  # Lines a step marks as its result go to the summary ("result: ...").
  grep -h '^result: ' "$log" | sed 's/^/   /' || true
}

step() {
  local name=$1 start=$SECONDS
  shift
  selected "$name" || return 0
  "$@" >"$logdir/$name.log" 2>&1
  report "$name" $? $((SECONDS - start))
}

build() { cmake --preset "$1" -B "$root/$1" >/dev/null && cmake --build "$root/$1" -j "$jobs"; }

# Where the kernel refuses 32-bit programs (or VORSE_X86_VM=1 asks for it), the wine-x86 step
# runs in an emulated machine (scripts/vm-x86.sh), which keeps a core busy for most of the run:
# it starts first, making or checking its image while the Windows presets build, boots once
# they are built (it is told through windows_built) and runs beside the other steps. Its line
# comes last.
windows_built=$logdir/windows-built
rm -f "$windows_built"
vm_pid=""
if selected wine-x86 &&
  { [ "${VORSE_X86_VM:-}" = 1 ] || ! /usr/lib/wine/wine --version >/dev/null 2>&1; }; then
  vm_start=$SECONDS
  VORSE_X86_VM=1 VORSE_VM_AFTER=$windows_built bash scripts/wine-tests.sh windows-x86 \
    >"$logdir/wine-x86.log" 2>&1 &
  vm_pid=$!
  trap '[ -z "$vm_pid" ] || kill -- "$vm_pid" 2>/dev/null' EXIT
fi

step windows-x86-build build windows-x86
step windows-x64-build build windows-x64
if [ "$failed" -eq 0 ]; then echo ok; else echo failed; fi >"$windows_built"
step native-build build native
step native-tests ctest --test-dir "$root/native" --output-on-failure -j "$jobs"
step fuzz bash scripts/fuzz.sh
step imports bash scripts/check-imports.sh "$root/native/tools/imports/check_imports" \
  "$root/windows-x86" "$root/windows-x64"
step dist-sign bash tests/dist/sign-test.sh "$root/windows-x86"
step dist-reproducible bash tests/dist/reproducible-test.sh
[ -n "$vm_pid" ] || step wine-x86 bash scripts/wine-tests.sh windows-x86
step wine-x64 bash scripts/wine-tests.sh windows-x64
if [ -n "$vm_pid" ]; then
  wait "$vm_pid"
  status=$?
  vm_pid=""
  report wine-x86 "$status" $((SECONDS - vm_start))
fi

echo
echo "steps: $passed passed, $failed failed, ${#skips[@]} skipped"
[ "$failed" -eq 0 ] || echo "failed: ${failures[*]} (logs in $logdir)"
[ ${#skips[@]} -eq 0 ] || echo "skipped: ${skips[*]} (why: the result lines above)"
[ "$failed" -eq 0 ]
