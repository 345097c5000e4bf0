#!/usr/bin/env bash
# `make dist`: builds the release configurations of both bitnesses and writes, under dist/, one
# zip per bitness (VorseFix.exe, vorsescan.exe, README.md, LICENSE.txt) and SHA256SUMS. The
# programs are stripped; their debug information stays beside the zips, in
# dist/vorsefix-VERSION-winNN-debug/, found by the name each program carries (.gnu_debuglink).
# The same commit gives the same bytes wherever it is built: no build time or directory goes
# into the programs, and every date is the commit's. With VORSE_SIGN_CERT and VORSE_SIGN_KEY
# (PEM files) the programs are Authenticode-signed before zipping.
set -euo pipefail
cd "$(dirname "$0")/.."

root=${VORSE_BUILD_ROOT:-build}
out=$PWD/dist
export TZ=UTC LC_ALL=C
SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}
export SOURCE_DATE_EPOCH
version=$(sed -n 's/^project(VorseFix VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
if [ -n "${VORSE_SIGN_CERT:-}${VORSE_SIGN_KEY:-}" ] &&
  ! { [ -f "${VORSE_SIGN_CERT:-}" ] && [ -f "${VORSE_SIGN_KEY:-}" ]; }; then
  echo "dist: VORSE_SIGN_CERT and VORSE_SIGN_KEY must both name files" >&2
  exit 2
fi

echo "dist: building the import check (native-release)"
cmake --preset native-release -B "$root/native-release" >/dev/null
cmake --build "$root/native-release" -j "$(nproc)" --target check_imports
checker=$root/native-release/tools/imports/check_imports

rm -rf "$out" "$root/dist-stage"
mkdir -p "$out"
for arch in x86 x64; do
  preset=windows-$arch-release
  build=$root/$preset
  if [ $arch = x86 ]; then bits=win32 tool=i686-w64-mingw32; else bits=win64 tool=x86_64-w64-mingw32; fi
  name=vorsefix-$version-$bits
  echo "dist: building $preset"
  cmake --preset "$preset" -B "$build" >/dev/null
  cmake --build "$build" -j "$(nproc)" --target VorseFix vorsescan
  echo "dist: checking that the $bits programs load on every Windows they are meant for"
  bash scripts/check-imports.sh "$checker" "$build" | sed 's/^result: /  /'

  stage=$root/dist-stage/$name
  debug=$out/$name-debug
  mkdir -p "$stage" "$debug"
  for program in src/app/VorseFix.exe src/cli/vorsescan.exe; do
    file=$(basename "$program")
    "$tool-objcopy" --only-keep-debug "$build/$program" "$debug/$file.debug"
    # The link names the debug file alone, without its directory.
    (cd "$debug" && "$tool-objcopy" --strip-all --add-gnu-debuglink="$file.debug" \
      "$OLDPWD/$build/$program" "$OLDPWD/$stage/$file")
  done
  if [ -n "${VORSE_SIGN_CERT:-}" ]; then
    echo "dist: signing the $bits programs"
    bash scripts/sign.sh "$VORSE_SIGN_CERT" "$VORSE_SIGN_KEY" "$stage/VorseFix.exe" "$stage/vorsescan.exe"
  fi
  cp README.md "$stage/README.md"
  cp LICENSE "$stage/LICENSE.txt"
  # Fixed modes and dates, a fixed order and no extra fields: the zip depends on the contents only.
  chmod 0644 "$stage"/*
  touch -d "@$SOURCE_DATE_EPOCH" "$stage"/*
  (cd "$root/dist-stage" && zip -X -D -q "$out/$name.zip" \
    "$name/VorseFix.exe" "$name/vorsescan.exe" "$name/README.md" "$name/LICENSE.txt")
done

(cd "$out" && sha256sum -- *.zip >SHA256SUMS)
echo "dist: wrote dist/ (sizes in bytes):"
(cd "$out" && stat -c '  %n %s' -- *.zip && sed 's/^/  /' SHA256SUMS)
