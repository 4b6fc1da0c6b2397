#!/usr/bin/env bash
# Proves the submission server of SubmissionServer.sh with other clients:
#   SubmissionCheck.sh DIR
# msmtp delivers with TLS and AUTH over STARTTLS and over TLS from the first
# byte, and the message reaches the sink intact; a wrong password, an
# untrusted CA and a wrong name are refused; each special port behaves as its
# name says (openssl s_client for the TLS versions).
set -uo pipefail
dir=$1
# shellcheck disable=SC1091
. "$dir/env"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
: >"$work/msmtprc"
chmod 600 "$work/msmtprc"
failed=0

fail() { echo "FAIL: $*"; failed=1; }

# msmtp PORT MODE(starttls|tls|off) AUTH(plain|login|off) PASSWORD TOKEN
send() {
  local tls=(--tls=on --tls-starttls=on)
  [ "$2" = tls ] && tls=(--tls=on --tls-starttls=off)
  [ "$2" = off ] && tls=(--tls=off)
  local auth=(--auth="$3" --user="$SUBMIT_USER" --passwordeval="echo $4")
  [ "$3" = off ] && auth=(--auth=off)
  printf 'From: <quorpa@example.jp>\r\nTo: <recorder@example.jp>\r\nSubject: %s\r\n\r\nCH=12\r\n.dot line\r\n' "$5" |
    msmtp -C "$work/msmtprc" --host=localhost --port="$1" "${tls[@]}" --tls-trust-file="$SUBMIT_CA_PEM" \
      "${auth[@]}" --from=quorpa@example.jp recorder@example.jp >"$work/out" 2>&1
}

# Waits for the sink's dump of the mail with TOKEN; prints it.
delivered() {
  local file
  for _ in $(seq 50); do
    file=$(grep -l "Subject: $1" "$SUBMIT_SINK_DIR"/* 2>/dev/null | head -n 1)
    if [ -n "$file" ] && [ "$(tail -c 2 "$file" | od -An -c | tr -d ' ')" = '\n\n' ]; then
      cat "$file"
      return 0
    fi
    sleep 0.1
  done
  return 1
}

expect_delivered() { # PORT MODE AUTH TOKEN
  send "$1" "$2" "$3" "$SUBMIT_PASS" "$4" || { fail "$4: msmtp: $(cat "$work/out")"; return; }
  local dump
  dump=$(delivered "$4") || { fail "$4: not in the sink"; return; }
  grep -q "^X-Rcpt-Args: <recorder@example.jp>" <<<"$dump" || fail "$4: recipient lost"
  if ! grep -q "^CH=12$" <<<"$dump" || ! grep -q "^\.dot line$" <<<"$dump"; then fail "$4: body changed: $dump"; fi
}

expect_refused() { # PORT MODE AUTH PASSWORD TOKEN REASON
  if send "$1" "$2" "$3" "$4" "$5"; then
    fail "$5: accepted"
  elif ! grep -qi "$6" "$work/out"; then
    fail "$5: refused for another reason: $(cat "$work/out")"
  fi
}

# The TLS version that the server on PORT agrees to, asked with openssl's
# option VERSION; "none" when the handshake fails.
tls_version() {
  local out
  out=$(timeout 5 openssl s_client "$2" -cipher DEFAULT:@SECLEVEL=0 -connect "127.0.0.1:$1" </dev/null 2>/dev/null)
  if grep -q "Cipher is (NONE)" <<<"$out"; then echo none; return; fi
  sed -n 's/^ *Protocol *: *//p' <<<"$out"
}

expect_delivered "$SUBMIT_PORT_STARTTLS" starttls plain starttls-plain
expect_delivered "$SUBMIT_PORT_TLS" tls plain tls-plain
expect_delivered "$SUBMIT_PORT_STARTTLS_LOGIN" starttls login starttls-login
expect_delivered "$SUBMIT_PORT_STARTTLS_NOAUTH" starttls off starttls-noauth
expect_refused "$SUBMIT_PORT_TLS" tls plain wrong-password wrong-password "authentication failed"
expect_refused "$SUBMIT_PORT_STARTTLS_LOGIN" starttls plain "$SUBMIT_PASS" plain-not-offered "does not support"
expect_refused "$SUBMIT_PORT_STARTTLS_NOAUTH" starttls plain "$SUBMIT_PASS" auth-not-offered "does not support"
expect_refused "$SUBMIT_PORT_PLAIN_AUTH" starttls plain "$SUBMIT_PASS" starttls-not-offered "does not support"
expect_refused "$SUBMIT_PORT_UNTRUSTED" tls plain "$SUBMIT_PASS" untrusted "certificate"
expect_refused "$SUBMIT_PORT_WRONG_NAME" tls plain "$SUBMIT_PASS" wrong-name "certificate"
# AUTH in clear where there is no TLS at all: the server lets it through.
expect_delivered "$SUBMIT_PORT_PLAIN_AUTH" off plain plain-auth

[ "$(tls_version "$SUBMIT_PORT_OLD_TLS" -tls1_1)" = TLSv1.1 ] || fail "old-tls: TLS 1.1 not agreed"
[ "$(tls_version "$SUBMIT_PORT_OLD_TLS" -tls1)" = TLSv1 ] || fail "old-tls: TLS 1.0 not agreed"
[ "$(tls_version "$SUBMIT_PORT_OLD_TLS" -tls1_2)" = none ] || fail "old-tls: TLS 1.2 agreed"
[ "$(tls_version "$SUBMIT_PORT_TLS" -tls1_2)" = TLSv1.2 ] || fail "tls: TLS 1.2 not agreed"

fingerprint=$(openssl s_client -connect "127.0.0.1:$SUBMIT_PORT_TLS" </dev/null 2>/dev/null |
  openssl x509 -noout -fingerprint -sha256 | sed 's/.*=//; s/://g')
[ "$fingerprint" = "$SUBMIT_CERT_SHA256" ] || fail "SUBMIT_CERT_SHA256 is not the served certificate's"

[ $failed -eq 0 ] && echo "submission server: every port behaves as documented"
exit $failed
