#!/usr/bin/env bash
# Signs copies of one build's programs the way `make dist` does, with a throwaway certificate
# made here, and checks that each signature verifies against that certificate alone, and that a
# signed program changed afterwards no longer does. Usage: sign-test.sh BUILD_DIR
set -euo pipefail
cd "$(dirname "$0")/../.."

build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=VorseFix test signing" \
  -addext extendedKeyUsage=codeSigning -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
cp "$build/src/app/VorseFix.exe" "$build/src/cli/vorsescan.exe" "$work/"
bash scripts/sign.sh "$work/cert.pem" "$work/key.pem" "$work/VorseFix.exe" "$work/vorsescan.exe"

verify() { osslsigncode verify -CAfile "$work/cert.pem" -in "$1" >"$work/verify.log" 2>&1; }
for program in VorseFix.exe vorsescan.exe; do
  if ! verify "$work/$program"; then
    cat "$work/verify.log"
    echo "FAIL: the signature of $program does not verify"
    exit 1
  fi
done
# One byte of the code changed after signing: the digest no longer matches.
printf '\xcc' | dd of="$work/VorseFix.exe" bs=1 seek=4096 conv=notrunc status=none
if verify "$work/VorseFix.exe"; then
  echo "FAIL: a program changed after signing still verifies"
  exit 1
fi
echo "result: signed VorseFix.exe and vorsescan.exe verify; a changed one does not"
