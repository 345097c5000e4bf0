#!/usr/bin/env bash
# Two `make dist` runs of the committed HEAD, from clones in two different directories, must
# give byte-identical zips. Builds the release programs of both bitnesses twice.
set -euo pipefail
cd "$(dirname "$0")/../.."

# One commit for both, whatever is committed while they build.
commit=$(git rev-parse HEAD)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
first=$work/a
second=$work/second-clone-somewhere-deeper/b
for clone in "$first" "$second"; do
  git clone -q --shared --no-checkout . "$clone"
  git -C "$clone" checkout -q --detach "$commit"
  # Each clone builds in its own tree, whatever the caller's build root.
  if ! (cd "$clone" && VORSE_BUILD_ROOT=build bash scripts/dist.sh >"$clone.log" 2>&1); then
    tail -n 40 "$clone.log"
    echo "FAIL: make dist failed in a clone"
    exit 1
  fi
done
if ! diff "$first/dist/SHA256SUMS" "$second/dist/SHA256SUMS"; then
  trap - EXIT
  echo "FAIL: two builds of $commit gave different zips (kept in $work)"
  exit 1
fi
sed "s/^/result: same in both builds: /" "$first/dist/SHA256SUMS"
