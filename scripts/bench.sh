#!/usr/bin/env bash
# Benchmarks vorsescan on a tree shaped like a Windows system directory (about 20,000 files,
# 3,000 of them programs: Wine's own DLLs under *.exe names, plus planted samples), side by
# side with YARA running an equivalent rule and with a plain floor that only enumerates the
# tree and reads the first 4 KiB of each *.exe. Checks that vorsescan and YARA report the same
# files, then prints wall and CPU times and vorsescan's CPU ratio to the floor, taken from runs
# of them in interleaved rounds. A second floor also reads 1 KiB further into each program,
# as reading a version resource past the headers takes: the rounds say what that read costs.
set -euo pipefail
cd "$(dirname "$0")/.."

root=${VORSE_BUILD_ROOT:-build}
release="$root/native-release"
native="$root/native"
work="$root/bench"
runs=${VORSE_BENCH_RUNS:-10}

cmake --preset native-release -B "$release" >/dev/null
cmake --build "$release" -j 2 --target vorsescan read_floor >/dev/null
# The planted samples are built from their .rc sources by the test build.
cmake --preset native -B "$native" >/dev/null
cmake --build "$native" -j 2 --target vorse_samples >/dev/null
samples="$native/tests/samples"

dlls=$(find /usr/lib -path '*/wine/i386-windows' -type d 2>/dev/null | head -n 1)
if [ -z "$dlls" ]; then
  echo "bench: Wine's i386-windows libraries are missing (scripts/install-deps.sh installs them)" >&2
  exit 1
fi

# Each program is a link to one of Wine's libraries, so the tree costs no disk space; a hard
# link where the file system allows it, else a symbolic one.
link() { ln -f "$1" "$2" 2>/dev/null || ln -sf "$1" "$2"; }

make_tree() {
  local tree=$1
  rm -rf "$tree"
  mkdir -p "$tree"
  mapfile -t libraries < <(find "$dlls" -maxdepth 1 -type f -name '*.dll' | sort)
  local count=${#libraries[@]} n=0 d i dir
  for d in $(seq -w 0 149); do mkdir -p "$tree/d$d/x"; done
  # 1,500 programs and 5,000 other files at the top, as in a system directory; ten programs
  # and ninety other files in each of 150 subdirectories and their children.
  for i in $(seq 1 1500); do
    link "${libraries[n % count]}" "$tree/prog$i.exe"
    n=$((n + 1))
  done
  (cd "$tree" && touch $(seq -f 'lib%g.dll' 1 2500) $(seq -f 'res%g.mui' 1 2500))
  for d in $(seq -w 0 149); do
    for dir in "$tree/d$d" "$tree/d$d/x"; do
      for i in 1 2 3 4 5; do
        link "${libraries[n % count]}" "$dir/tool$i.exe"
        n=$((n + 1))
      done
      (cd "$dir" && touch $(seq -f 'data%g.dll' 1 30) $(seq -f 'inf%g.inf' 1 15) notes.txt)
    done
  done
  # The infected samples and their near misses, spread over a few directories.
  cp "$samples/kern32.exe" "$tree/"
  cp "$samples/kern32_upper.exe" "$tree/d007/"
  cp "$samples/wowex32.exe" "$tree/d042/x/"
  cp "$samples/wowex32_mixed.exe" "$tree/d149/x/"
  for sample in near_kern321 near_space key_lowercase empty_value no_version; do
    cp "$samples/$sample.exe" "$tree/d100/"
  done
}

tree="$work/tree"
make_tree "$tree"
files=$(find "$tree" -type f -o -type l | wc -l)
programs=$(find "$tree" -iname '*.exe' | wc -l)
dirs=$(find "$tree" -type d | wc -l)

cat >"$work/vorse.yar" <<'RULE'
import "pe"
rule vorse_signature {
  condition:
    pe.version_info["InternalName"] iequals "Kern32" or
    pe.version_info["InternalName"] iequals "wowex32"
}
RULE

# Runs a command once to warm the caches, then \$1 times in a row under one clock, and keeps
# the times of one run on average in \$2.time: "<wall> <user> <sys>" in seconds. Its output
# goes to \$2. A status of 1 from vorsescan means findings: only the output tells the outcome.
measure() {
  local times=$1 out=$2
  shift 2
  "$@" >"$out" || true
  local TIMEFORMAT='%R %U %S' _
  # Bash's own clock counts the CPU time of every process the loop waits for.
  { time for _ in $(seq "$times"); do "$@" >"$out" || true; done; } 2>"$work/time"
  tail -n 1 "$work/time" | awk -v n="$times" '{ printf "%.4f %.4f %.4f\n", $1 / n, $2 / n, $3 / n }' \
    >"$out.time"
}

yara_scan() {
  # The same files vorsescan examines: every *.exe below the tree, case ignored.
  find "$tree" -iname '*.exe' \( -type f -o -type l \) >"$work/exe-list"
  yara --threads=1 --scan-list "$work/vorse.yar" "$work/exe-list"
}
export -f yara_scan
export tree work

measure "$runs" "$work/vorsescan.out" "$release/src/cli/vorsescan" --quiet "$tree"
measure "$runs" "$work/floor.out" "$release/tools/bench/read_floor" "$tree"
# YARA maps and parses every program whole: slow enough to be timed on one run.
measure 1 "$work/yara.out" bash -c yara_scan

# CPU time of one run of a command, "user+sys" in seconds; its output is dropped.
cpu_once() {
  local TIMEFORMAT='%3U %3S'
  { time "$@" >/dev/null 2>&1; } 2>&1 | awk '{ printf "%.3f\n", $1 + $2 }'
}

# vorsescan and the two floors in interleaved rounds, so that all meet the same state of the
# machine (other load, cache, frequency): a ratio is the median of the rounds' ratios.
rounds=${VORSE_BENCH_ROUNDS:-21}
: >"$work/rounds"
for _ in $(seq "$rounds"); do
  echo "$(cpu_once "$release/src/cli/vorsescan" --quiet "$tree") $(cpu_once "$release/tools/bench/read_floor" "$tree") $(cpu_once "$release/tools/bench/read_floor" --second-read "$tree")" \
    >>"$work/rounds"
done
# The median ratio of column \$1 to column \$2 of the rounds.
median_ratio() {
  awk -v a="$1" -v b="$2" '$b > 0 { print $a / $b }' "$work/rounds" | sort -g |
    awk '{ r[NR] = $1 } END { if (NR == 0) print "0.00"; else printf "%.2f", (NR % 2 ? r[(NR + 1) / 2] : (r[NR / 2] + r[NR / 2 + 1]) / 2) }'
}
paired=$(median_ratio 1 2)
paired_second=$(median_ratio 1 3)
second_cost=$(median_ratio 3 2)
round_cpu=$(awk '{ v += $1; f += $2; s += $3 } END { printf "%.4f %.4f %.4f", v / NR, f / NR, s / NR }' "$work/rounds")

# Memory: one flat directory of 200,000 files (every tenth an *.exe, 500 of them programs)
# against the tree above. The listing of a directory holds its names, so the flat one may
# take a few MiB more; nothing may grow with the count of files walked.
flat="$work/flat"
if [ ! -e "$flat/f199999.dll" ]; then
  rm -rf "$flat"
  mkdir -p "$flat"
  (cd "$flat" && seq -f 'f%g.exe' 0 10 199999 | xargs touch &&
    seq 0 199999 | awk '$1 % 10 { printf "f%d.dll\n", $1 }' | xargs touch)
  for i in $(seq 0 400 199999); do link "$tree/prog1.exe" "$flat/f$i.exe"; done
fi
# Peak resident memory of one run, in KiB. vorsescan's status 1 (findings) is no failure here.
peak_kib() {
  { /usr/bin/time -f '%M' "$@" 2>&1 >/dev/null || true; } | tail -n 1
}
peak_tree=$(peak_kib "$release/src/cli/vorsescan" --quiet "$tree")
peak_flat=$(peak_kib "$release/src/cli/vorsescan" --quiet "$flat")

sort "$work/vorsescan.out" >"$work/vorsescan.sorted"
awk '{ sub(/^[^ ]+ /, ""); print }' "$work/yara.out" | sort >"$work/yara.sorted"
same=yes
if ! cmp -s "$work/vorsescan.sorted" "$work/yara.sorted"; then
  same=no
  diff "$work/vorsescan.sorted" "$work/yara.sorted" >&2 || true
fi

cpu() { awk '{ printf "%.4f", $2 + $3 }' "$1.time"; }
wall() { awk '{ printf "%.4f", $1 }' "$1.time"; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }

echo "tree: $files files, $programs *.exe, $dirs directories; warm caches, mean of $runs runs (yara: 1)"
printf '%-10s %8s %8s %14s\n' tool wall_s cpu_s cpu_vs_floor
for tool in vorsescan yara floor; do
  printf '%-10s %8s %8s %14s\n' "$tool" "$(wall "$work/$tool.out")" "$(cpu "$work/$tool.out")" \
    "$(ratio "$(cpu "$work/$tool.out")" "$(cpu "$work/floor.out")")x"
done
echo "interleaved rounds: $rounds; mean cpu_s vorsescan $(echo "$round_cpu" | cut -d' ' -f1), floor $(echo "$round_cpu" | cut -d' ' -f2), floor with a second read $(echo "$round_cpu" | cut -d' ' -f3)"
echo "median ratios: vorsescan ${paired}x the floor, ${paired_second}x the floor with a second read; that read alone ${second_cost}x the floor"
echo "peak memory: vorsescan $peak_tree KiB on the tree, $peak_flat KiB on one directory of 200,000 files"
echo "findings: vorsescan $(wc -l <"$work/vorsescan.sorted"), yara $(wc -l <"$work/yara.sorted"), same: $same"
echo "result: bench: vorsescan cpu ${paired}x the floor, ${paired_second}x the floor with a second read (medians of $rounds interleaved rounds), yara $(ratio "$(cpu "$work/yara.out")" "$(cpu "$work/floor.out")")x, same findings: $same"
[ "$same" = yes ]
