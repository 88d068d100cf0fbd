#!/usr/bin/env bash
# Makes a throwaway signing certificate for tests and the demo, never for a
# release: a root of its own and a code-signing certificate it issued, valid
# for two days. Writes into FOLDER:
#   root.pem      the root, for `osslsigncode verify -CAfile`
#   signer.pfx    the signer's certificate and key (PKCS#12)
#   password.txt  the PKCS#12 password, made up here
# Usage: scripts/make-test-certificate.sh FOLDER [SUBJECT]
set -euo pipefail
folder=$1
subject=${2:-/O=Varnholt/CN=Varnholt Test Signer}
mkdir -p "$folder"
cd "$folder"
work=$(mktemp -d .make.XXXXXX)
trap 'rm -rf "$work"' EXIT
umask 077

cat >"$work/signer.cnf" <<'CNF'
basicConstraints=critical,CA:FALSE
keyUsage=critical,digitalSignature
extendedKeyUsage=codeSigning
subjectKeyIdentifier=hash
authorityKeyIdentifier=keyid
CNF
openssl rand -hex 16 >password.txt
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/root.key" -out root.pem -days 2 \
  -subj "/O=Varnholt/CN=Varnholt Throwaway Root" \
  -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
openssl req -newkey rsa:2048 -nodes -keyout "$work/signer.key" -out "$work/signer.csr" -subj "$subject" 2>/dev/null
openssl x509 -req -in "$work/signer.csr" -CA root.pem -CAkey "$work/root.key" -set_serial "0x$(openssl rand -hex 8)" \
  -days 2 -extfile "$work/signer.cnf" -out "$work/signer.pem" 2>/dev/null
openssl pkcs12 -export -inkey "$work/signer.key" -in "$work/signer.pem" -certfile root.pem \
  -out signer.pfx -passout file:password.txt
