#!/usr/bin/env bash
# Signs the distributables for real, with a throwaway self-signed certificate,
# for the tests of signed releases, and checks what can be checked from here:
# the signatures verify, and the payload tool lists and extracts the menu
# texts as chunk 0 of a signed file, and refuses one signed without align8.
#   sign_fixture.sh OUTDIR RELEASE_EXE TEST_EXE MENU_TEXT
# Writes OUTDIR/release.exe and OUTDIR/patch.exe, signed through scripts/sign,
# and OUTDIR/unaligned.exe, the release signed without being made ready first.
set -euo pipefail
out=$1 release=$2 test=$3 menu=$4
root=$(cd "$(dirname "$0")/.." && pwd)
tool=$root/tools/payload.py

rm -rf "$out"
mkdir -p "$out"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Throwaway test signer" \
    -keyout "$out/key.pem" -out "$out/cert.pem" 2>/dev/null
"$root/scripts/sign" "$out/cert.pem" "$out/key.pem" "$release" "$out/release.exe" >"$out/release.list"
"$root/scripts/sign" "$out/cert.pem" "$out/key.pem" "$test" "$out/patch.exe" >"$out/patch.list"
osslsigncode sign -certs "$out/cert.pem" -key "$out/key.pem" -h sha256 \
    -in "$release" -out "$out/unaligned.exe" >/dev/null

for name in release patch; do
    osslsigncode verify -CAfile "$out/cert.pem" -in "$out/$name.exe" >/dev/null ||
        { echo "$name.exe: the signature does not verify" >&2; exit 1; }
    grep -q '^certificate table at ' "$out/$name.list" ||
        { echo "$name.exe: no certificate table listed" >&2; exit 1; }
    python3 "$tool" extract "$out/$name.exe" 0 "$out/$name.chunk0"
    cmp "$out/$name.chunk0" "$menu" || { echo "$name.exe: chunk 0 is not the menu texts" >&2; exit 1; }
    # Only the padding and the certificate table were added.
    size=$(stat -c %s "$out/$name.exe")
    [ $((size % 8)) = 0 ] || { echo "$name.exe: length $size is no multiple of 8" >&2; exit 1; }
done
# Signed without being made ready, the payload tool sees the signature's
# padding where the last length word belongs and says so.
if python3 "$tool" list "$out/unaligned.exe" >/dev/null 2>&1; then
    echo "unaligned.exe: the payload tool lists it without complaint" >&2
    exit 1
fi
echo "signed: $(cat "$out/release.list" | tr '\n' ' ')"
