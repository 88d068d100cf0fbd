#!/usr/bin/env bash
# Signs Windows programs and DLLs in place with an Authenticode signature
# (SHA-256), by Debian's osslsigncode. The build calls it on the programs that
# ship when a certificate is given; a release job may call it on binaries
# built elsewhere.
#
#   scripts/sign.sh FILE...
#
#   VARNHOLT_SIGN_PFX            the certificate and its key, a PKCS#12 file
#   VARNHOLT_SIGN_PASSWORD_FILE  a file whose first line is the PKCS#12 password
#   VARNHOLT_SIGN_TIMESTAMP_URL  optional: an RFC 3161 timestamp server
#   VARNHOLT_SIGN_URL            optional: the product's web address
#   VARNHOLT_SIGN_TIMEOUT        optional: seconds one file may take (120)
#
# Every file is signed into a temporary file beside it first, and only when
# all are signed are they moved over the originals: on any failure the script
# exits non-zero and every file is as it was. A signature already there is
# replaced.

# Called as `sh sign.sh` by a release job: go on in bash.
[ -n "${BASH_VERSION:-}" ] || exec bash "$0" "$@"
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

die() { echo "sign.sh: $*" >&2; exit 1; }

[ $# -gt 0 ] || die "usage: sign.sh FILE..."
pfx=${VARNHOLT_SIGN_PFX:-}
password=${VARNHOLT_SIGN_PASSWORD_FILE:-}
timestamp=${VARNHOLT_SIGN_TIMESTAMP_URL:-}
url=${VARNHOLT_SIGN_URL:-}
bound=${VARNHOLT_SIGN_TIMEOUT:-120}
[ -n "$pfx" ] || die "VARNHOLT_SIGN_PFX is not set"
[ -n "$password" ] || die "VARNHOLT_SIGN_PASSWORD_FILE is not set"
[ -f "$pfx" ] && [ -r "$pfx" ] || die "VARNHOLT_SIGN_PFX names no file that can be read: $pfx"
[ -f "$password" ] && [ -r "$password" ] || die "VARNHOLT_SIGN_PASSWORD_FILE names no file that can be read: $password"
[[ $bound =~ ^[1-9][0-9]*$ ]] || die "VARNHOLT_SIGN_TIMEOUT is no number of seconds: $bound"
command -v osslsigncode >/dev/null || die "osslsigncode is not installed (scripts/install-deps.sh installs it)"

# The name the signature shows is the one the setup's version resource gives.
name=$(sed -n 's/^ *VALUE "ProductName", "\(.*\)".*/\1/p' "$here/../resources/tessavo.rc")
[ -n "$name" ] || die "no ProductName in resources/tessavo.rc"

options=(-pkcs12 "$pfx" -readpass "$password" -h sha256 -n "$name")
[ -n "$url" ] && options+=(-i "$url")
[ -n "$timestamp" ] && options+=(-ts "$timestamp")

# The files, each once, links resolved: a link stays a link to the signed file.
files=()
declare -A seen=()
for arg in "$@"; do
  file=$(readlink -f -- "$arg") || die "no such file: $arg"
  [ -f "$file" ] || die "not a file: $arg"
  [ -w "$file" ] || die "cannot write $arg"
  [ -n "${seen[$file]:-}" ] && continue
  seen[$file]=1
  files+=("$file")
done

# osslsigncode will not write over an existing file: each signed copy goes
# into a folder of its own beside the original, so that the move is a rename.
folders=()
cleanup() { [ ${#folders[@]} -eq 0 ] || rm -rf -- "${folders[@]}"; }
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

signed=()
for file in "${files[@]}"; do
  folder=$(mktemp -d -- "$(dirname -- "$file")/.sign.XXXXXX") || die "cannot write beside $file"
  folders+=("$folder")
  out=$folder/$(basename -- "$file")
  # osslsigncode waits without end for a timestamp server that accepts but
  # never answers; a release job would rather fail.
  status=0
  log=$(timeout --foreground "$bound" osslsigncode sign "${options[@]}" -in "$file" -out "$out" 2>&1) || status=$?
  if [ "$status" -eq 124 ]; then
    die "signing $file did not finish within $bound seconds; no file was changed"
  elif [ "$status" -ne 0 ]; then
    echo "$log" >&2
    die "signing $file failed; no file was changed"
  fi
  # osslsigncode may report success for a copy that a full disk cut short: the
  # signature must be found whole where the copy's header says it is.
  if ! log=$(osslsigncode extract-signature -in "$out" -out "$folder/signature" 2>&1); then
    echo "$log" >&2
    die "signing $file failed: the signed copy is incomplete (is the disk full?); no file was changed"
  fi
  chmod --reference="$file" -- "$out"
  signed+=("$out")
done

for i in "${!files[@]}"; do
  mv -f -- "${signed[$i]}" "${files[$i]}" || die "cannot replace ${files[$i]}"
  echo "signed ${files[$i]}"
done
