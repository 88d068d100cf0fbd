#!/usr/bin/env bash
# Signatures made by scripts/sign.sh with a throwaway certificate made here,
# checked by osslsigncode against that certificate's root.
#
#   signing_test.sh signatures FILE...      signs copies; tampered ones fail;
#                                           failures leave the files as they were
#   signing_test.sh install DRIVER TESSAVO NWQ
#                                           the signed setup installs a medium
#                                           under Wine and keeps a copy that verifies
#   signing_test.sh build SOURCE TOOLCHAIN  a build signs exactly the shipped
#                                           programs when given a certificate
#   signing_test.sh unsigned FILE...        the files carry no signature
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
scripts=$(cd "$here/../../scripts" && pwd)
mode=$1
shift

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }
finish() { [ "$failures" -eq 0 ] && echo "all passed" || echo "$failures failed"; exit $((failures > 0)); }

certificate() {
  bash "$scripts/make-test-certificate.sh" "$work/cert" ||
    { echo "cannot make a test certificate"; exit 1; }
  export VARNHOLT_SIGN_PFX=$work/cert/signer.pfx VARNHOLT_SIGN_PASSWORD_FILE=$work/cert/password.txt
  unset VARNHOLT_SIGN_TIMESTAMP_URL VARNHOLT_SIGN_URL
}

# verify FILE [ROOT]: osslsigncode's verdict against the root, its report kept.
verify() { osslsigncode verify -CAfile "${2:-$work/cert/root.pem}" -in "$1" >"$work/verify.txt" 2>&1; }
signature_count() { sed -n 's/^Number of verified signatures: //p' "$work/verify.txt"; }
no_leftovers() { ! find "$1" -name '.sign.*' | grep -q .; }

signatures() {
  certificate
  bash "$scripts/make-test-certificate.sh" "$work/other" "/CN=Someone Else" || exit 1
  local folder="$work/ausgabe ä ß" f base
  mkdir -p "$folder"
  local copies=()
  for f in "$@"; do
    cp "$f" "$folder/"
    copies+=("$folder/$(basename "$f")")
  done

  # One call signs them all, with the product's name and address.
  VARNHOLT_SIGN_URL=https://karten.varnholt.example/ bash "$scripts/sign.sh" "${copies[@]}" >"$work/sign.txt" 2>&1 ||
    fail "sign.sh failed: $(cat "$work/sign.txt")"
  no_leftovers "$folder" || fail "temporary files left beside the signed ones"
  for f in "${copies[@]}"; do
    base=$(basename "$f")
    if ! verify "$f"; then fail "$base does not verify: $(tail -n 5 "$work/verify.txt")"; continue; fi
    [ "$(signature_count)" = 1 ] || fail "$base: $(signature_count) signatures"
    grep -q 'Message digest algorithm  : SHA256' "$work/verify.txt" || fail "$base is not signed with SHA-256"
    grep -q 'Text description: Varnholt Digital Maps' "$work/verify.txt" || fail "$base lacks the product's name"
    grep -q 'URL description: https://karten.varnholt.example/' "$work/verify.txt" || fail "$base lacks the URL"
    grep -q 'Subject: /O=Varnholt/CN=Varnholt Test Signer' "$work/verify.txt" || fail "$base names another signer"
    grep -q 'Timestamp is not available' "$work/verify.txt" || fail "$base has a timestamp no one asked for"
    [ -x "$f" ] || fail "$base lost its execute permission"
    verify "$f" "$work/other/root.pem" && fail "$base verifies against a root that did not issue its certificate"

    # Any change to the signed bytes breaks the signature: a byte of the code,
    # a byte of the signature itself, or bytes appended.
    local size
    size=$(stat -c %s "$f")
    for offset in $((size / 3)) $((size - 64)); do
      cp "$f" "$work/tampered"
      printf '%b' "\\x$(printf '%02x' $(($(od -An -tu1 -j "$offset" -N 1 "$f") ^ 0x20)))" |
        dd of="$work/tampered" bs=1 seek="$offset" conv=notrunc status=none
      cmp -s "$f" "$work/tampered" && fail "$base: the byte at $offset was not changed"
      verify "$work/tampered" && fail "$base with the byte at $offset flipped still verifies"
    done
    for tail in 'x' '\x00\x00\x00\x00\x00\x00\x00\x00'; do
      cp "$f" "$work/tampered"
      printf '%b' "$tail" >>"$work/tampered"
      verify "$work/tampered" && fail "$base with bytes appended still verifies"
    done

    # Signing again replaces the signature rather than adding to it.
    cp "$f" "$work/again-$base"
    # As a release job may call it: by sh, from another folder.
    (cd / && sh "$scripts/sign.sh" "$work/again-$base") >/dev/null 2>&1 || fail "$base cannot be signed again"
    verify "$work/again-$base" && [ "$(signature_count)" = 1 ] || fail "$base signed again: not one valid signature"
  done

  # Every failure exits non-zero and leaves each file as it was.
  local first=${copies[0]} second=${copies[1]:-${copies[0]}}
  unchanged() {  # unchanged WHAT FILE...: each file as it was before the call
    local g
    for g in "${@:2}"; do
      cmp -s "$g" "$work/before-$(basename "$g")" || fail "$1: $(basename "$g") was changed"
    done
    no_leftovers "$(dirname "$2")" || fail "$1: temporary files left"
  }
  expect_refusal() {  # expect_refusal WHAT TEXT COMMAND...: non-zero, and the message says TEXT
    if "${@:3}" >"$work/out.txt" 2>&1; then fail "$1: sign.sh succeeded"; fi
    grep -q -- "$2" "$work/out.txt" || fail "$1: the message does not say '$2': $(cat "$work/out.txt")"
  }
  for f in "$first" "$second"; do cp "$f" "$work/before-$(basename "$f")"; done
  printf 'wrong\n' >"$work/wrong-password.txt"
  expect_refusal "a wrong password" "signing .* failed" \
    env VARNHOLT_SIGN_PASSWORD_FILE="$work/wrong-password.txt" bash "$scripts/sign.sh" "$first" "$second"
  unchanged "a wrong password" "$first" "$second"
  expect_refusal "an unreachable timestamp server" "signing .* failed" \
    env VARNHOLT_SIGN_TIMESTAMP_URL=http://127.0.0.1:9/ bash "$scripts/sign.sh" "$first"
  unchanged "an unreachable timestamp server" "$first"
  # The second file is no program: the first, which could be signed, is not
  # changed either.
  printf 'not a program\n' >"$folder/notes.exe"
  cp "$folder/notes.exe" "$work/before-notes.exe"
  expect_refusal "a file that is no program" "notes.exe" bash "$scripts/sign.sh" "$first" "$folder/notes.exe"
  unchanged "a file that is no program" "$first" "$folder/notes.exe"
  expect_refusal "a missing file" "no such file\|not a file" bash "$scripts/sign.sh" "$first" "$folder/missing.exe"
  unchanged "a missing file" "$first"
  expect_refusal "no certificate" "VARNHOLT_SIGN_PFX is not set" env -u VARNHOLT_SIGN_PFX bash "$scripts/sign.sh" "$first"
  expect_refusal "no password file" "VARNHOLT_SIGN_PASSWORD_FILE" \
    env VARNHOLT_SIGN_PASSWORD_FILE="$work/none.txt" bash "$scripts/sign.sh" "$first"
  expect_refusal "no file" "usage" bash "$scripts/sign.sh"
  unchanged "the refusals" "$first"

  # The signer as it fails in the field: it may report success for a copy a
  # full disk cut short, and it waits for as long as a timestamp server keeps
  # the connection open without answering.
  local real
  real=$(command -v osslsigncode)
  mkdir -p "$work/short" "$work/hanging"
  printf '#!/bin/bash\n[ "$1" = sign ] || exec %q "$@"\n%q "$@" || exit\ntruncate -s 4096 "${@: -1}"\n' \
    "$real" "$real" >"$work/short/osslsigncode"
  printf '#!/bin/bash\n[ "$1" = sign ] || exec %q "$@"\nexec sleep 600\n' "$real" >"$work/hanging/osslsigncode"
  chmod +x "$work/short/osslsigncode" "$work/hanging/osslsigncode"
  expect_refusal "a signed copy cut short" "signing .* failed" \
    env PATH="$work/short:$PATH" bash "$scripts/sign.sh" "$first" "$second"
  unchanged "a signed copy cut short" "$first" "$second"
  expect_refusal "a signer that does not finish" "signing .* did not finish" \
    env PATH="$work/hanging:$PATH" VARNHOLT_SIGN_TIMEOUT=2 timeout 120 bash "$scripts/sign.sh" "$first"
  unchanged "a signer that does not finish" "$first"

  # A link is followed: the file it names is signed, the link stays.
  cp "$1" "$work/target.exe"
  ln -s "$work/target.exe" "$work/link.exe"
  bash "$scripts/sign.sh" "$work/link.exe" >/dev/null 2>&1 || fail "a link cannot be signed"
  [ -L "$work/link.exe" ] || fail "the link was replaced by a file"
  verify "$work/target.exe" || fail "the file the link names does not verify"
  finish
}

install() {
  local driver=$1 tessavo=$2 nwq=$3
  certificate
  mkdir -p "$work/signed"
  cp "$tessavo" "$nwq" "$work/signed/"
  local signed_tessavo=$work/signed/$(basename "$tessavo") signed_nwq=$work/signed/$(basename "$nwq")
  bash "$scripts/sign.sh" "$signed_tessavo" "$signed_nwq" || exit 1
  verify "$signed_tessavo" || fail "the signed setup does not verify"

  # The medium is packed by the signed tool and installed by the signed setup.
  local artifacts=${SIGNING_ARTIFACTS:-$work/artifacts}
  TESSAVO_KEEP_SETUP_COPY=$work/setup-copy.exe \
    bash "$here/../windows/run_end_to_end.sh" "$driver" "$signed_tessavo" "$signed_nwq" "$artifacts" \
    --gtest_filter=SignedSetup.* || fail "the signed setup did not install the medium"
  if [ -f "$work/setup-copy.exe" ]; then
    cmp -s "$work/setup-copy.exe" "$signed_tessavo" || fail "the setup copy is not the signed program, byte for byte"
    if verify "$work/setup-copy.exe"; then
      grep -m1 'Subject:' "$work/verify.txt" | sed 's/^\s*/the setup copy verifies, signed by: /'
    else
      fail "the setup copy does not verify: $(tail -n 5 "$work/verify.txt")"
    fi
  else
    fail "no setup copy was kept"
  fi
  finish
}

build() {
  local source=$1 toolchain=$2
  certificate
  # Where a release machine may keep it: a folder whose name CMake would
  # otherwise split as a list.
  local kept="$work/zert ä;b"
  mkdir -p "$kept"
  cp "$VARNHOLT_SIGN_PFX" "$VARNHOLT_SIGN_PASSWORD_FILE" "$kept/"
  VARNHOLT_SIGN_PFX=$kept/signer.pfx VARNHOLT_SIGN_PASSWORD_FILE=$kept/password.txt
  configure() {  # configure FOLDER [VAR=VALUE...]: the project's Windows build, configured only
    env -u VARNHOLT_SIGN_PFX -u VARNHOLT_SIGN_PASSWORD_FILE "${@:2}" \
      cmake -S "$source" -B "$1" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
      >"$1.txt" 2>&1
  }
  configure "$work/with" VARNHOLT_SIGN_PFX="$VARNHOLT_SIGN_PFX" VARNHOLT_SIGN_PASSWORD_FILE="$VARNHOLT_SIGN_PASSWORD_FILE" ||
    fail "configuring with a certificate failed: $(tail -n 5 "$work/with.txt")"
  # Whatever the build links and then signs: the shipped programs, no test program.
  local signed
  signed=$(awk '/^build /{out=$2; sub(":$", "", out)} /^  POST_BUILD = .*scripts\/sign\.sh/{print out}' \
    "$work/with/build.ninja" | sort | tr '\n' ' ')
  [ "$signed" = "app/Tessavo.exe customactions/Quorvis.dll tools/nwq.exe " ] ||
    fail "the build signs '$signed' instead of the shipped programs"
  grep -rqF "$(head -n 1 "$VARNHOLT_SIGN_PASSWORD_FILE")" "$work/with" && fail "the password is in the build files"
  # The one small shipped binary, built for real.
  if ninja -C "$work/with" customactions/Quorvis.dll >"$work/with-build.txt" 2>&1; then
    verify "$work/with/customactions/Quorvis.dll" || fail "the built Quorvis.dll does not verify"
  else
    fail "building Quorvis.dll with a certificate failed: $(tail -n 5 "$work/with-build.txt")"
  fi
  # The same folder configured again without the certificate, as a re-run that
  # ninja starts in a shell without the variables would: it says so, and what
  # it links is unsigned, not a signed leftover.
  configure "$work/with" || fail "configuring again without a certificate failed"
  grep -q 'no longer signed' "$work/with.txt" || fail "signing switched off without a word"
  ninja -C "$work/with" customactions/Quorvis.dll >"$work/with-build.txt" 2>&1 || fail "building again failed"
  osslsigncode extract-signature -in "$work/with/customactions/Quorvis.dll" -out "$work/signature" >/dev/null 2>&1 &&
    fail "Quorvis.dll is still signed after the certificate was taken away"

  configure "$work/without" || fail "configuring without a certificate failed"
  grep -q 'sign\.sh\|osslsigncode' "$work/without/build.ninja" && fail "a build without a certificate has a signing step"
  grep -i -q 'signing\|osslsigncode' "$work/without.txt" && fail "a build without a certificate talks of signing"

  configure "$work/half" VARNHOLT_SIGN_PFX="$VARNHOLT_SIGN_PFX" VARNHOLT_SIGN_PASSWORD_FILE="$work/none.txt" &&
    fail "a certificate without its password file configures"
  grep -q 'VARNHOLT_SIGN_PASSWORD_FILE' "$work/half.txt" || fail "the missing password file is not named"
  # A password file with the certificate's name empty, as when a job's secret
  # did not reach it: not an unsigned release without a word.
  configure "$work/half2" VARNHOLT_SIGN_PFX= VARNHOLT_SIGN_PASSWORD_FILE="$VARNHOLT_SIGN_PASSWORD_FILE" &&
    fail "a password file without its certificate configures"
  grep -q 'VARNHOLT_SIGN_PFX' "$work/half2.txt" || fail "the missing certificate is not named"
  finish
}

unsigned() {
  local f
  for f in "$@"; do
    osslsigncode extract-signature -in "$f" -out "$work/signature" >"$work/out.txt" 2>&1 &&
      fail "$(basename "$f") is signed"
    # Its message, as osslsigncode 2.9 and 2.5 (Debian's stable) word it.
    grep -q 'No signature found\|does not have any signature' "$work/out.txt" || fail "$(basename "$f"): $(cat "$work/out.txt")"
  done
  finish
}

"$mode" "$@"
