#!/bin/bash
# Runs in the 32-bit test guest, from the shared checkout (started by its start-up program,
# guest-init.sh): the wine-x86 step, with the repair scenario of the 32-bit build in a 64-bit
# prefix (the host's 64-bit step cannot run it there), and the screenshots its window tests
# took. Usage: guest-run.sh LOG_FOLDER. The host's choice of parts and scenarios (VORSE_PARTS,
# VORSE_SCENARIOS) comes in LOG_FOLDER/guest-env.
out=$1
export VORSE_BUILD_ROOT=build HOME=/root LANG=C.UTF-8 VORSE_X86_RUNS_WOW64=1
[ -f "$out/guest-env" ] && source "$out/guest-env"
# Emulation runs programs several times slower: the waits for the window get longer limits.
export VORSE_WAIT_FACTOR=${VORSE_WAIT_FACTOR:-4}
parts=${VORSE_PARTS:-unit-tests vorsescan window repair repair-wow64}

# The parts run in two streams at once, each with its prefixes and display of its own, so that
# both of the machine's processors work: the repair parts in one (about 12 minutes under
# emulation), the others in the other (about as long). The prefixes live in a tmpfs, each
# scenario's an overlay over its base instead of a copy.
mkdir -p /mnt/wine
mount -t tmpfs -o size=90% wine /mnt/wine || exit 1
stream() {
  local name=$1 part chosen=()
  shift
  for part in "$@"; do
    [[ " $parts " == *" $part "* ]] && chosen+=("$part")
  done
  [ ${#chosen[@]} -gt 0 ] || return 0
  VORSE_PARTS="${chosen[*]}" VORSE_WINE_ROOT="/mnt/wine/$name" \
    VORSE_WINE_LAYERS="/mnt/wine/layers-$name" bash scripts/wine-tests.sh windows-x86
}
stream repair repair repair-wow64 >"$out/stream-repair.log" 2>&1 &
repair=$!
stream other unit-tests vorsescan window >"$out/stream-other.log" 2>&1
status=$?
wait "$repair" || status=1
cat "$out/stream-other.log" "$out/stream-repair.log"
cp build/windows-x86/e2e-*.png build/windows-x64/e2e-*.png "$out/" 2>/dev/null
exit "$status"
