#!/usr/bin/env bash
# Signs the distributables for real, with a throwaway self-signed certificate,
# for the tests of signed releases, and checks what can be checked from here:
# the signatures verify, and the payload tool lists and extracts the menu
# texts as chunk 0 of every signed file.
#   sign_fixture.sh OUTDIR RELEASE_EXE TEST_EXE MENU_TEXT
# For NAME release (RELEASE_EXE) and patch (TEST_EXE) it writes to OUTDIR:
#   NAME.exe           signed as the build made it, by osslsigncode
#   NAME-aligned.exe   signed through scripts/sign (align8 first)
#   NAME-removed.exe   NAME.exe with its signature removed again (the
#                      signature's padding stays), which the updater refuses
set -euo pipefail
out=$1 release=$2 test=$3 menu=$4
root=$(cd "$(dirname "$0")/.." && pwd)
tool=$root/tools/payload.py

rm -rf "$out"
mkdir -p "$out"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Throwaway test signer" \
    -keyout "$out/key.pem" -out "$out/cert.pem" 2>/dev/null
for name in release patch; do
    [ $name = release ] && in=$release || in=$test
    osslsigncode sign -certs "$out/cert.pem" -key "$out/key.pem" -h sha256 \
        -in "$in" -out "$out/$name.exe" >/dev/null
    "$root/scripts/sign" "$out/cert.pem" "$out/key.pem" "$in" "$out/$name-aligned.exe" >/dev/null
    osslsigncode remove-signature -in "$out/$name.exe" -out "$out/$name-removed.exe" >/dev/null
    for signed in $name $name-aligned; do
        osslsigncode verify -CAfile "$out/cert.pem" -in "$out/$signed.exe" >/dev/null ||
            { echo "$signed.exe: the signature does not verify" >&2; exit 1; }
        python3 "$tool" list "$out/$signed.exe" >"$out/$signed.list"
        grep -q '^certificate table at ' "$out/$signed.list" ||
            { echo "$signed.exe: no certificate table listed" >&2; exit 1; }
        python3 "$tool" extract "$out/$signed.exe" 0 "$out/$signed.chunk0"
        cmp "$out/$signed.chunk0" "$menu" || { echo "$signed.exe: chunk 0 is not the menu texts" >&2; exit 1; }
    done
    if python3 "$tool" list "$out/$name-removed.exe" >/dev/null 2>&1; then
        echo "$name-removed.exe: the payload tool lists it without complaint" >&2
        exit 1
    fi
done
echo "signed: $(tr '\n' ' ' <"$out/release.list")"
