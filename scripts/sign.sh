#!/usr/bin/env bash
# Signs a Windows executable with an Authenticode signature (SHA-256), using osslsigncode:
#
#   scripts/sign.sh (--cert CERT.pem --key KEY.pem | --pkcs12 FILE --pass-file FILE)
#                   [--time SECONDS] [--timestamp-url URL] IN.exe OUT.exe
#
#   --cert, --key      the code-signing certificate (PEM, with its chain if any) and its key
#   --pkcs12           certificate, chain and key in one PKCS#12 (.pfx/.p12) file ...
#   --pass-file        ... and the file holding its password (never given on the command line,
#                      where other users could read it)
#   --time             the signing time, in seconds since 1970: the same inputs and time give
#                      the same signed bytes. Default: now.
#   --timestamp-url    an RFC 3161 timestamp server, so the signature stays valid after the
#                      certificate expires (the countersignature makes the output differ per run)
#
# OUT.exe must not exist. The signed file is written beside it under a temporary name and
# renamed into place only when complete, so a failure never leaves a half-written OUT.exe.
# Errors: one line on standard error, status 1 (2 for an unusable command line).
set -uo pipefail

usage="usage: sign.sh (--cert CERT.pem --key KEY.pem | --pkcs12 FILE --pass-file FILE) [--time SECONDS] [--timestamp-url URL] IN.exe OUT.exe"
die() {
  echo "sign.sh: $*" >&2
  exit 1
}
usage_error() {
  echo "sign.sh: $* (sign.sh --help shows the usage)" >&2
  exit 2
}

cert='' key='' pkcs12='' pass_file='' time='' timestamp_url=''
positional=()
while [ $# -gt 0 ]; do
  case $1 in
    --cert | --key | --pkcs12 | --pass-file | --time | --timestamp-url)
      [ $# -ge 2 ] || usage_error "$1 needs a value"
      case $1 in
        --cert) cert=$2 ;;
        --key) key=$2 ;;
        --pkcs12) pkcs12=$2 ;;
        --pass-file) pass_file=$2 ;;
        --time) time=$2 ;;
        --timestamp-url) timestamp_url=$2 ;;
      esac
      shift 2
      ;;
    -h | --help)
      echo "$usage"
      exit 0
      ;;
    --) shift; positional+=("$@"); break ;;
    -*) usage_error "unknown option $1" ;;
    *) positional+=("$1"); shift ;;
  esac
done
[ ${#positional[@]} -eq 2 ] || usage_error "give exactly one input and one output file"
in=${positional[0]}
out=${positional[1]}

if [ -n "$pkcs12" ]; then
  [ -z "$cert$key" ] || usage_error "give either --cert and --key or --pkcs12, not both"
  [ -n "$pass_file" ] || usage_error "--pkcs12 needs --pass-file"
else
  [ -n "$cert" ] && [ -n "$key" ] || usage_error "give --cert and --key, or --pkcs12 and --pass-file"
  [ -z "$pass_file" ] || usage_error "--pass-file goes with --pkcs12"
fi
if [ -n "$time" ]; then
  [[ $time =~ ^[0-9]{1,11}$ ]] || usage_error "--time takes whole seconds since 1970, not '$time'"
fi

command -v osslsigncode >/dev/null || die "osslsigncode is not installed (scripts/install-deps.sh installs it)"
command -v openssl >/dev/null || die "openssl is not installed (scripts/install-deps.sh installs it)"
readable() {  # readable <what> <path>
  [ -f "$2" ] || die "$1 $2 does not exist"
  [ -r "$2" ] || die "$1 $2 cannot be read"
}
readable "input" "$in"
for pair in "certificate:$cert" "key:$key" "PKCS#12 file:$pkcs12" "password file:$pass_file"; do
  [ -z "${pair#*:}" ] || readable "${pair%%:*}" "${pair#*:}"
done
[ ! -e "$out" ] && [ ! -L "$out" ] || die "$out exists; not overwriting it"
out_dir=$(dirname -- "$out")
[ -d "$out_dir" ] && [ -w "$out_dir" ] || die "cannot write into $out_dir"

# A PE image: "MZ", and at the offset stored at 0x3c the signature "PE\0\0".
is_pe() {
  local offset
  [ "$(head -c 2 -- "$1" | od -An -c | tr -d ' ')" = "MZ" ] || return 1
  offset=$(od -An -tu4 -j 60 -N 4 -- "$1" 2>/dev/null | tr -d ' ')
  [ -n "$offset" ] && [ "$(od -An -tx1 -j "$offset" -N 4 -- "$1" 2>/dev/null | tr -d ' ')" = "50450000" ]
}
is_pe "$in" || die "$in is not a Windows executable (no PE header)"

# Every input osslsigncode could refuse is checked here first, with openssl, so that each refusal
# has its own message and none depends on the wording of osslsigncode's output, which changes
# between its versions. What is left for osslsigncode (the timestamp server, its own limits) is
# reported by its exit status.
if [ -n "$pkcs12" ]; then
  # -legacy: files exported by older tools use ciphers OpenSSL 3 keeps in its legacy provider.
  openssl pkcs12 -in "$pkcs12" -passin "file:$pass_file" -noout 2>/dev/null ||
    openssl pkcs12 -legacy -in "$pkcs12" -passin "file:$pass_file" -noout 2>/dev/null ||
    die "cannot open $pkcs12 with the password in $pass_file (a wrong password, or not a PKCS#12 file)"
else
  cert_public=$(openssl x509 -in "$cert" -noout -pubkey 2>/dev/null) ||
    die "$cert holds no certificate (PEM)"
  # An empty password: a key protected by one cannot be used, as sign.sh never asks for it.
  key_public=$(openssl pkey -in "$key" -passin pass: -pubout 2>/dev/null) ||
    die "cannot read a private key from $key (not a key file, or one protected by a password)"
  # A key that does not belong to the certificate would give a signature nobody can verify.
  [ "$key_public" = "$cert_public" ] || die "the key $key does not belong to the certificate $cert"
fi

work=$(mktemp -d "$out_dir/.sign.XXXXXX") || die "cannot create a temporary directory in $out_dir"
trap 'rm -rf "$work"' EXIT
trap 'exit 130' INT TERM HUP

args=(sign -h sha256)
if [ -n "$pkcs12" ]; then
  args+=(-pkcs12 "$pkcs12" -readpass "$pass_file")
else
  args+=(-certs "$cert" -key "$key")
fi
[ -z "$time" ] || args+=(-time "$time")
[ -z "$timestamp_url" ] || args+=(-ts "$timestamp_url")
args+=(-in "$in" -out "$work/signed.exe")

osslsigncode "${args[@]}" >"$work/osslsigncode.log" 2>&1 </dev/null
status=$?
if [ $status -ne 0 ]; then
  # Its first line that is not OpenSSL's error queue, as a hint; the diagnosis is the status.
  hint=$(grep -vE '^[0-9A-F]+:error:|^\s*$' "$work/osslsigncode.log" | head -n 1)
  die "osslsigncode could not sign $in (status $status)${hint:+: $hint}"
fi
[ -s "$work/signed.exe" ] || die "osslsigncode reported success but wrote nothing"
# A hard link never replaces an existing file: if OUT.exe appeared meanwhile, it is kept. A file
# system without hard links (FAT, some network shares) refuses the link: say so, as nothing was
# written there.
if ! link_error=$(ln -- "$work/signed.exe" "$out" 2>&1); then
  [ ! -e "$out" ] && [ ! -L "$out" ] || die "$out exists; not overwriting it"
  die "cannot put the signed file at $out: ${link_error##*: } (sign.sh needs a file system with hard links there)"
fi
echo "signed $out"
