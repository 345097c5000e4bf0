#!/usr/bin/env bash
# Builds the fuzz preset and runs each libFuzzer target for a bounded time, seeded from the
# built samples (the .exe files for the PE reader, their version blocks for the key search).
# Any crash fails the run; the crashing input is kept in <build>/fuzz/artifacts.
set -euo pipefail
cd "$(dirname "$0")/.."

root=${VORSE_BUILD_ROOT:-build}
build="$root/fuzz"
seconds=${VORSE_FUZZ_SECONDS:-45}
# Inputs up to 256 KiB, far past the largest seed. len_control=0 offers the whole length from
# the start; libFuzzer's default would creep up from the seeds' size by a few bytes at a time
# and never get far in a bounded run.
max_len=$((256 * 1024))

cmake --preset fuzz -B "$build" >/dev/null
cmake --build "$build" -j "$(nproc)" --target pe_locate_fuzz version_entries_fuzz \
  vorse_seed_block vorse_samples

# The corpus is made afresh from this build's samples; nothing of it is kept in the repository.
corpus="$build/corpus"
artifacts="$build/artifacts"
rm -rf "$corpus"
mkdir -p "$corpus/pe" "$corpus/entries" "$artifacts"
for exe in "$build"/tests/samples/*.exe; do
  cp "$exe" "$corpus/pe/"
  # Samples without a version block give no seed for the key search.
  "$build/tools/fuzz/vorse_seed_block" "$exe" "$corpus/entries/$(basename "$exe" .exe).seed" \
    2>/dev/null || true
done
if ! ls "$corpus"/entries/*.seed >/dev/null 2>&1; then
  echo "fuzz: no version block in any sample of $build/tests/samples" >&2
  exit 1
fi

status=0
run() {
  local target=$1 dir=$2 log="$build/$1.log"
  if "$build/tools/fuzz/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -max_len="$max_len" -len_control=0 -print_final_stats=1 \
    -artifact_prefix="$artifacts/$target-" "$dir" >"$log" 2>&1; then
    local runs
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    echo "result: fuzz $target: ${runs:-?} inputs in ${seconds}s, no crash"
  else
    tail -n 60 "$log"
    echo "result: fuzz $target: FAILED (inputs in $artifacts)"
    status=1
  fi
}
run pe_locate_fuzz "$corpus/pe"
run version_entries_fuzz "$corpus/entries"
exit $status
