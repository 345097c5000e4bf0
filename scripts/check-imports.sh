#!/usr/bin/env bash
# Fails when a built Windows program could not load on a Windows it is meant for, naming the
# function (or the header version) and the system: the 32-bit programs against Windows XP,
# Windows 2000 SP4 and Windows 98 SE, the 64-bit ones against XP x64 / Server 2003 x64. The
# export lists of each system's DLLs are in tests/winapi-*/, with their sources.
# Usage: check-imports.sh CHECKER BUILD_DIR...   (CHECKER: the native build's check_imports)
set -euo pipefail
cd "$(dirname "$0")/.."

checker=$1
shift
programs=()
for build in "$@"; do
  programs+=("$build/src/app/VorseFix.exe" "$build/src/cli/vorsescan.exe")
done
# lists, machine, newest header version the loader takes, name
systems=(
  "winapi-nt5 i386 5.1 Windows XP"
  "winapi-nt5 x86_64 5.2 Windows XP x64 / Server 2003 x64"
  "winapi-nt50 i386 5.0 Windows 2000 SP4"
  "winapi-win98se i386 4.0 Windows 98 SE"
)
status=0
for system in "${systems[@]}"; do
  read -r lists machine newest name <<<"$system"
  "$checker" --system "$name" --newest "$newest" --machine "$machine" "tests/$lists" \
    "${programs[@]}" | sed 's/^/result: /' || status=1
done
exit $status
