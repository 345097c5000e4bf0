#!/bin/bash
# Runs in the 32-bit test guest, from the shared checkout (started by its start-up program,
# guest-init.sh): the wine-x86 step, with the repair scenario of the 32-bit build in a 64-bit
# prefix (the host's 64-bit step cannot run it there), and the screenshots its window tests
# took. Usage: guest-run.sh LOG_FOLDER. The host's choice of parts and scenarios (VORSE_PARTS,
# VORSE_SCENARIOS) comes in LOG_FOLDER/guest-env.
out=$1
export VORSE_BUILD_ROOT=build HOME=/root LANG=C.UTF-8
[ -f "$out/guest-env" ] && source "$out/guest-env"
# Emulation runs programs several times slower: the waits for the window get longer limits.
export VORSE_WAIT_FACTOR=${VORSE_WAIT_FACTOR:-4}
VORSE_X86_RUNS_WOW64=1 bash scripts/wine-tests.sh windows-x86
status=$?
cp build/windows-x86/e2e-*.png build/windows-x64/e2e-*.png "$out/" 2>/dev/null
exit "$status"
