#!/usr/bin/env bash
# shellcheck disable=SC2034  # the checks eval their conditions, which use these variables
# One signing round trip through scripts/sign.sh, with a throwaway certificate made here:
#   signing.sh <source dir> <talvex-updater.exe> <objdump> <scratch dir> <wine prefix>
# The signature verifies against that certificate (and not against another), two signings with
# the same --time are identical, the signed file keeps the shipped shape and still runs, and
# removing the signature gives back the unsigned bytes. Bad input fails with one line, a
# non-zero status and no output file.
set -u
src=$(realpath "$1")
exe=$(realpath "$2")
objdump=$3
scratch=$(realpath -m "$4")
prefix=$(realpath -m "$5")
sign=$src/scripts/sign.sh
fail=0
check() { if ! eval "$2"; then echo "FAIL: $1"; fail=1; else echo "ok: $1"; fi; }
rm -rf "$scratch" && mkdir -p "$scratch" && cd "$scratch" || exit 1

make_cert() {  # make_cert <name>: <name>.pem and <name>.key, a self-signed code-signing pair
  openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=talvex test signer $1" \
    -addext "extendedKeyUsage=codeSigning" -addext "keyUsage=digitalSignature" \
    -keyout "$1.key" -out "$1.pem" 2>/dev/null
}
make_cert signer && make_cert stranger || exit 1
printf 'correct horse\n' >pass.txt
printf 'wrong\n' >wrong-pass.txt
openssl pkcs12 -export -inkey signer.key -in signer.pem -passout file:pass.txt -out signer.p12 || exit 1
cp "$exe" unsigned.exe
# Inside the certificate's validity, which began when it was made.
time=$(($(date +%s) + 60))

check "signs with --cert/--key" '"$sign" --cert signer.pem --key signer.key --time $time unsigned.exe a.exe >/dev/null'
check "signs with --pkcs12/--pass-file" '"$sign" --pkcs12 signer.p12 --pass-file pass.txt --time $time unsigned.exe b.exe >/dev/null'
check "the same --time gives the same bytes, by either route" 'cmp -s a.exe b.exe'
check "the signature verifies against the certificate" 'osslsigncode verify -CAfile signer.pem -in a.exe >verify.log 2>&1'
check "and not against another one" '! osslsigncode verify -CAfile stranger.pem -in a.exe >/dev/null 2>&1'
# The signature adds a few KiB; the size limit is the unsigned file's business.
signed_limit=$(($(wc -c <unsigned.exe) + 65536))
check "the signed file keeps the shipped shape" '"$src/tests/build/check-binary.sh" a.exe "$objdump" $signed_limit >shape.log || { cat shape.log; false; }'
check "removing the signature gives back the unsigned bytes" \
  'osslsigncode remove-signature -in a.exe -out removed.exe >/dev/null 2>&1 && cmp -s removed.exe unsigned.exe'
(
  . "$src/tests/wine/wine-env.sh" "$prefix"
  timeout --kill-after=5 60 wine "$scratch/a.exe" >run.out 2>run.err </dev/null
  echo $? >run.status
)
check "the signed executable runs: no arguments give the usage text and status 2" \
  '[ "$(cat run.status)" = 2 ] && grep -qx "usage: talvex-updater --installer <path> --app-exe <path> \[--wait-pid <pid>\] \[--log <path>\]" run.err'

# Bad input: one line on standard error, a non-zero status, nothing left in the output's folder.
# sign.sh checks its inputs itself, so the words asserted are its own, never osslsigncode's
# (whose wording changes between its versions); a failure it leaves to osslsigncode is asserted
# by structure and status only. With $shim set, the programs there come first in PATH.
shim=''
bad() {  # bad <what> <expected words> <sign.sh arguments...>; the output is out/signed.exe
  local what=$1 words=$2 status
  shift 2
  rm -rf out && mkdir out
  PATH=${shim:+$shim:}$PATH "$sign" "$@" >/dev/null 2>bad.err
  status=$?
  check "$what: $(head -n 1 bad.err)" \
    '[ $status -ne 0 ] && [ "$(wc -l <bad.err)" -eq 1 ] && grep -q "$words" bad.err && [ -z "$(ls -A out)" ]'
}
bad "missing key" "missing.key does not exist" --cert signer.pem --key missing.key unsigned.exe out/signed.exe
bad "another certificate's key" "does not belong" --cert signer.pem --key stranger.key unsigned.exe out/signed.exe
bad "a certificate given as the key" "cannot read a private key" --cert signer.pem --key signer.pem unsigned.exe out/signed.exe
bad "a key given as the certificate" "holds no certificate" --cert signer.key --key signer.key unsigned.exe out/signed.exe
bad "wrong password" "wrong password" --pkcs12 signer.p12 --pass-file wrong-pass.txt unsigned.exe out/signed.exe
bad "not a PKCS#12 file" "cannot open signer.pem" --pkcs12 signer.pem --pass-file pass.txt unsigned.exe out/signed.exe
bad "not a PE file" "not a Windows executable" --cert signer.pem --key signer.key signer.pem out/signed.exe
printf 'MZ' >truncated.exe
bad "a truncated PE file" "not a Windows executable" --cert signer.pem --key signer.key truncated.exe out/signed.exe
bad "no key" "give --cert and --key" --cert signer.pem unsigned.exe out/signed.exe
# Stand-ins for what cannot be arranged here: an osslsigncode that fails after some output, and
# a file system that refuses hard links (as FAT does).
mkdir -p failing-osslsigncode no-hard-links
printf '#!/bin/sh\necho "some words of its own"\necho "on two lines" >&2\nexit 3\n' >failing-osslsigncode/osslsigncode
printf '#!/bin/sh\necho "ln: failed to create hard link: Operation not permitted" >&2\nexit 1\n' >no-hard-links/ln
chmod +x failing-osslsigncode/osslsigncode no-hard-links/ln
shim=$scratch/failing-osslsigncode
bad "osslsigncode fails: its status is reported" "(status 3)" --cert signer.pem --key signer.key unsigned.exe out/signed.exe
shim=$scratch/no-hard-links
bad "no hard links: nothing written, and not called existing" "cannot put the signed file at out/signed.exe" \
  --cert signer.pem --key signer.key unsigned.exe out/signed.exe
shim=''
check "an existing output is refused and kept" \
  '! "$sign" --cert signer.pem --key signer.key unsigned.exe b.exe 2>/dev/null && cmp -s a.exe b.exe'

[ $fail -eq 0 ] && cd / && rm -rf "$scratch"
exit $fail
