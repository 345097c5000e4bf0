#!/usr/bin/env bash
# Fails when a built Windows program imports a function that Windows XP / Server 2003 does not
# export by name (tests/winapi-nt5 lists what each system DLL exports there), naming it.
# Usage: check-imports.sh CHECKER BUILD_DIR...   (CHECKER: the native build's check_imports)
set -euo pipefail
cd "$(dirname "$0")/.."

checker=$1
shift
programs=()
for build in "$@"; do
  programs+=("$build/src/app/VorseFix.exe" "$build/src/cli/vorsescan.exe")
done
"$checker" tests/winapi-nt5 "${programs[@]}" | sed 's/^/result: /'
