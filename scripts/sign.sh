#!/usr/bin/env bash
# Authenticode-signs Windows programs in place with osslsigncode (SHA-256 digests).
# Usage: sign.sh CERT KEY FILE...   (PEM certificate chain and PEM private key)
set -euo pipefail

cert=$1 key=$2
shift 2
for file in "$@"; do
  osslsigncode sign -certs "$cert" -key "$key" -h sha256 -n VorseFix -in "$file" \
    -out "$file.signed" >/dev/null
  mv "$file.signed" "$file"
done
