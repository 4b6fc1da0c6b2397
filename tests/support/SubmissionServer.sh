#!/usr/bin/env bash
# Starts or stops a private mail submission server for the TLS and AUTH tests:
#   SubmissionServer.sh start DIR    a postfix instance of its own under DIR,
#                                    relaying into an smtp-sink that dumps
#                                    every mail (folder SUBMIT_SINK_DIR)
#   SubmissionServer.sh stop DIR     ends every process that start began
#
# The instance has its own configuration, queue, data and log folders under
# DIR (or, where postfix's users cannot reach DIR, under a folder in /tmp
# that stop removes) and listens on free 127.0.0.1 ports only; it uses
# nothing of the machine's mail set-up (not even /etc/postfix) but postfix's
# programs. postfix's master must run as root. SASL is Cyrus's sasldb: a
# file, no daemon to start or stop (Dovecot's auth would be one more process
# with a configuration of its own).
#
# DIR/env holds KEY=VALUE lines (absolute paths as Linux sees them, possibly
# outside DIR; a Windows program under Wine reaches them through drive Z:):
#   SUBMIT_HOST, SUBMIT_SERVER_NAME   127.0.0.1, and the name in the good certificate
#   SUBMIT_USER, SUBMIT_PASS          the account that AUTH accepts
#   SUBMIT_USER_JA, SUBMIT_PASS_JA    another one, name and password Japanese (UTF-8)
#   SUBMIT_PORT_STARTTLS              STARTTLS, then AUTH PLAIN LOGIN CRAM-MD5
#   SUBMIT_PORT_STARTTLS_LOGIN        the same with AUTH LOGIN only
#   SUBMIT_PORT_TLS                   TLS from the first byte, then AUTH
#   SUBMIT_PORT_PLAIN_AUTH            no STARTTLS offered; AUTH offered in clear
#   SUBMIT_PORT_STARTTLS_NOAUTH       STARTTLS, no AUTH offered; relays for loopback
#   SUBMIT_PORT_SENDER_LOGIN          STARTTLS and AUTH; takes only SUBMIT_SENDER as the
#                                     account's sender (a sender/login match: any other
#                                     sender is refused, "Sender address rejected")
#   SUBMIT_SENDER                     the account's own address
#   SUBMIT_PORT_WRONG_NAME            TLS, certificate for SUBMIT_WRONG_NAME (trusted CA)
#   SUBMIT_PORT_UNTRUSTED             TLS, certificate for localhost from another CA
#   SUBMIT_PORT_CLIENT_ONLY           TLS, certificate for localhost (trusted CA) that
#                                     serves only as a client's (extended key usage)
#   SUBMIT_PORT_OLD_TLS               TLS 1.0 and 1.1 only
#   SUBMIT_PORT_REVOKED               TLS, a certificate for localhost (trusted CA) whose
#                                     CRL distribution point is SUBMIT_CRL_URL, a CRL
#                                     (served over HTTP on loopback) that revokes it
#   SUBMIT_PORT_SILENT_CRL            TLS, the same but its CRL's host takes the
#                                     connection and never answers
#   SUBMIT_PORT_FORGED_CRL            TLS, the same but its CRL revokes it under the
#                                     untrusted CA's signature
#   SUBMIT_PORT_REVOCATION_UNKNOWN    TLS, the same but its CRL distribution point is a
#                                     loopback port where nothing listens
#   SUBMIT_PORT_AIA                   TLS, a certificate for localhost (trusted CA) from an
#                                     intermediate CA the server does not send; the
#                                     certificate names where to fetch it (caIssuers)
#   SUBMIT_PORT_AIA_SILENT            the same, but that address accepts and never answers
#   SUBMIT_PORT_STRICT_HELO           as STARTTLS, and HELO/EHLO must name a
#                                     fully qualified domain or an address
#                                     literal (refused at EHLO itself)
#   SUBMIT_PORT_NO_CHUNKING           as STARTTLS, without CHUNKING: the message
#                                     goes after DATA
#   SUBMIT_PORT_SNI                   TLS; the good certificate only to a client that
#                                     names localhost (SNI), else the SUBMIT_WRONG_NAME one
#   SUBMIT_PORT_EHLO_REFUSED_AFTER_TLS  not postfix: a scripted server that offers STARTTLS,
#                                     takes the handshake and refuses the EHLO that follows
#   SUBMIT_PORT_CLOSED_AFTER_TLS      the same, but it hangs up at that EHLO
#   SUBMIT_PORT_RESET_AFTER_TLS       the same, but it resets the connection at that EHLO
#   SUBMIT_PORT_SLOW_READER           the same, but it takes AUTH PLAIN and a mail, whose
#                                     data it reads only after 0.3 s
#   SUBMIT_PORT_STALLED_READER        not postfix: TLS from the first byte, then nothing
#                                     read for 10 s (a peer whose window closes)
#   SUBMIT_CA_PEM, SUBMIT_CA_DER      the test CA (trust it for the tests only)
#   SUBMIT_CERT_SHA256                SHA-256 of the good server certificate (hex)
#   SUBMIT_WRONG_NAME_CERT_SHA256, SUBMIT_UNTRUSTED_CERT_SHA256,
#   SUBMIT_REVOKED_CERT_SHA256        likewise
#   SUBMIT_CRL_URL                    http://127.0.0.1:PORT/test.crl (python3's http.server)
#   SUBMIT_SINK_DIR                   one file per delivered mail (smtp-sink dump:
#                                     envelope lines, then the message as relayed,
#                                     with postfix's Received: line on top)
#   SUBMIT_LOG                        postfix's log
# Every port requires AUTH before relaying (SUBMIT_PORT_STARTTLS_NOAUTH
# excepted); every port but SUBMIT_PORT_PLAIN_AUTH offers AUTH only under TLS.
#
# SMTP_SINK names smtp-sink (default /usr/sbin/smtp-sink); POSTFIX_DAEMON_DIR
# the folder of postfix's master (default: postconf's daemon_directory).
set -euo pipefail
action=${1:-}
dir=${2:-}
[ -n "$dir" ] || { echo "usage: $0 start|stop DIR" >&2; exit 2; }
case $dir in /*) ;; *) dir=$PWD/$dir ;; esac
# The instance's files: DIR itself, or the folder that DIR/instance links to.
root=$dir
[ -L "$dir/instance" ] && root=$(readlink "$dir/instance")
sink=${SMTP_SINK:-/usr/sbin/smtp-sink}
user=quorpa
pass=Quorpa-test-pass1
# A second account whose name and password are Japanese, kept as UTF-8.
user_ja=予約太郎
pass_ja=予約パス～ワード1
realm=localhost
wrong_name=wrong.example
sender=account@example.net

die() {
  echo "SubmissionServer.sh: $*" >&2
  if [ -s "$root/log/postfix.log" ]; then
    echo "--- $root/log/postfix.log (last lines):" >&2
    tail -n 30 "$root/log/postfix.log" >&2
  fi
  stop_all
  exit 1
}

# The processes of this instance: the master and its children carry
# MAIL_CONFIG=DIR/etc in their environment; smtp-sink's pid is on file.
instance_pids() {
  local want="MAIL_CONFIG=$root/etc" env pid
  for env in /proc/[0-9]*/environ; do
    pid=${env#/proc/}
    pid=${pid%/environ}
    if grep -qzxF "$want" "$env" 2>/dev/null; then echo "$pid"; fi
  done
}

stop_all() {
  local pid
  if [ -f "$root/queue/pid/master.pid" ]; then
    pid=$(tr -d ' \n' <"$root/queue/pid/master.pid")
    # SIGTERM: the master ends its children and removes its pid file.
    [ -z "$pid" ] || kill -TERM "$pid" 2>/dev/null || true
  fi
  if [ -f "$root/peer.pid" ]; then
    # shellcheck disable=SC2046 # one pid a line
    kill -TERM $(cat "$root/peer.pid") 2>/dev/null || true
    rm -f "$root/peer.pid"
  fi
  for pid in sink crl silent; do
    if [ -f "$root/$pid.pid" ]; then
      kill -TERM "$(cat "$root/$pid.pid")" 2>/dev/null || true
      rm -f "$root/$pid.pid"
    fi
  done
  [ -d "$root/etc" ] || return 0
  for _ in $(seq 50); do
    [ -n "$(instance_pids)" ] || return 0
    sleep 0.1
  done
  for pid in $(instance_pids); do kill -KILL "$pid" 2>/dev/null || true; done
}

# COUNT free loopback ports, all different (one interpreter: it is slow to start).
free_ports() {
  python3 -c '
import socket, sys
held = [socket.socket() for _ in range(int(sys.argv[1]))]
for s in held: s.bind(("127.0.0.1", 0))
print(" ".join(str(s.getsockname()[1]) for s in held))' "$1"
}

# Whether something accepts connections on the loopback port.
listening() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

# The first line that the server on the port says in clear (its greeting).
greeting() {
  # shellcheck disable=SC2016 # the inner shell expands $1
  timeout 5 bash -c 'exec 3<>"/dev/tcp/127.0.0.1/$1"; IFS= read -r line <&3; printf "%s\n" "$line"' _ "$1" \
    2>/dev/null || true
}

sha256_of() { openssl x509 -in "$1" -noout -fingerprint -sha256 | sed 's/.*=//; s/://g'; }

# A throwaway CA and the servers' certificates. One RSA key serves every
# server certificate; the three keys, the slow part, are made side by side.
make_certificates() {
  local tls=$root/tls stamp
  stamp=$(date +%Y%m%d%H%M%S)-$$
  mkdir -p "$tls"
  (
    set -e
    cd "$tls"
    for key in ca other-ca server intermediate; do
      openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out "$key.key" &
    done
    wait %1 && wait %2 && wait %3 && wait %4
    ca() { # NAME SUBJECT
      openssl req -x509 -key "$1.key" -days 2 -out "$1.pem" -subj "/CN=$2" \
        -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign"
    }
    issue() { # NAME CA COMMON-NAME SUBJECT-ALT-NAMES [CRL-URL] [ISSUER-URL]; EKU: the usage (serverAuth)
      printf '%s\n' "basicConstraints=CA:FALSE" "keyUsage=critical,digitalSignature,keyEncipherment" \
        "extendedKeyUsage=${EKU:-serverAuth}" "subjectAltName=$4" \
        "subjectKeyIdentifier=hash" "authorityKeyIdentifier=keyid,issuer" >"$1.ext"
      [ -z "${5:-}" ] || echo "crlDistributionPoints=URI:$5" >>"$1.ext"
      [ -z "${6:-}" ] || echo "authorityInfoAccess=caIssuers;URI:$6" >>"$1.ext"
      openssl req -new -key server.key -subj "/CN=$3" |
        openssl x509 -req -CA "$2.pem" -CAkey "$2.key" -set_serial "0x$(openssl rand -hex 8)" \
          -days 2 -extfile "$1.ext" -out "$1.pem"
    }
    # Names of their own: a CA of an earlier run, still trusted somewhere,
    # must not pass for this one.
    ca ca "Quorpa test CA $stamp"
    ca other-ca "Quorpa untrusted CA $stamp"
    issue server ca localhost "DNS:localhost,IP:127.0.0.1"
    issue wrong-name ca "$wrong_name" "DNS:$wrong_name"
    issue untrusted other-ca localhost "DNS:localhost,IP:127.0.0.1"
    EKU=clientAuth issue client-only ca localhost "DNS:localhost,IP:127.0.0.1"
    issue revoked ca localhost "DNS:localhost,IP:127.0.0.1" "$crl_url"
    issue silent-crl ca localhost "DNS:localhost,IP:127.0.0.1" "http://127.0.0.1:$silent_port/test.crl"
    issue forged-crl ca localhost "DNS:localhost,IP:127.0.0.1" "http://127.0.0.1:$crl_port/forged.crl"
    issue revocation-unknown ca localhost "DNS:localhost,IP:127.0.0.1" "http://127.0.0.1:$dead_port/test.crl"
    # An intermediate CA under the test CA, and two certificates of it whose
    # servers send them alone.
    openssl req -new -key intermediate.key -subj "/CN=Quorpa test intermediate $stamp" |
      openssl x509 -req -CA ca.pem -CAkey ca.key -set_serial "0x$(openssl rand -hex 8)" -days 2 \
        -extfile <(printf '%s\n' "basicConstraints=critical,CA:TRUE" "keyUsage=critical,keyCertSign,cRLSign" \
                     "subjectKeyIdentifier=hash" "authorityKeyIdentifier=keyid,issuer") -out intermediate.pem
    issue aia intermediate localhost "DNS:localhost,IP:127.0.0.1" "" "http://127.0.0.1:$crl_port/intermediate.cer"
    issue aia-silent intermediate localhost "DNS:localhost,IP:127.0.0.1" "" \
      "http://127.0.0.1:$silent_port/intermediate.cer"
    # The CRL that revokes "revoked": openssl ca's database, written by hand.
    serial=$(openssl x509 -in revoked.pem -noout -serial | sed 's/.*=//')
    printf 'R\t%s\t%s\t%s\tunknown\t/CN=localhost\n' "$(date -u -d '+2 days' +%y%m%d%H%M%SZ)" \
      "$(date -u -d '-1 hour' +%y%m%d%H%M%SZ)" "$serial" >index.txt
    printf '%s\n' "[ca]" "default_ca=test" "[test]" "database=index.txt" "default_md=sha256" >crl.cnf
    openssl ca -batch -gencrl -config crl.cnf -keyfile ca.key -cert ca.pem -crldays 2 -out crl.pem
    mkdir -p "$root/crl"
    openssl crl -in crl.pem -outform DER -out "$root/crl/test.crl"
    openssl x509 -in intermediate.pem -outform DER -out "$root/crl/intermediate.cer"
    # A CRL that revokes "forged-crl", signed by the other CA: no CRL of its issuer.
    serial=$(openssl x509 -in forged-crl.pem -noout -serial | sed 's/.*=//')
    printf 'R\t%s\t%s\t%s\tunknown\t/CN=localhost\n' "$(date -u -d '+2 days' +%y%m%d%H%M%SZ)" \
      "$(date -u -d '-1 hour' +%y%m%d%H%M%SZ)" "$serial" >index.txt
    openssl ca -batch -gencrl -config crl.cnf -keyfile other-ca.key -cert other-ca.pem -crldays 2 -out forged.pem
    openssl crl -in forged.pem -outform DER -out "$root/crl/forged.crl"
    openssl x509 -in ca.pem -outform DER -out ca.der
    rm -f ./*.ext ca.key other-ca.key intermediate.key
  ) >"$root/log/openssl.log" 2>&1 || { cat "$root/log/openssl.log" >&2; die "cannot make the certificates"; }
  chmod 600 "$tls/server.key"
}

# The account, in a Cyrus sasldb of the instance's own.
make_account() {
  mkdir -p "$root/etc/sasl"
  printf '%s' "$pass" | saslpasswd2 -f "$root/etc/sasldb2" -u "$realm" -p -c "$user" ||
    die "saslpasswd2 cannot write $root/etc/sasldb2"
  printf '%s' "$pass_ja" | saslpasswd2 -f "$root/etc/sasldb2" -u "$realm" -p -c "$user_ja" ||
    die "saslpasswd2 cannot write $root/etc/sasldb2"
  chown postfix "$root/etc/sasldb2"
  chmod 600 "$root/etc/sasldb2"
  # smtpd works inside its queue folder; the relative path spares postfix the
  # need to reach DIR's parents.
  cat >"$root/etc/sasl/smtpd.conf" <<EOF
pwcheck_method: auxprop
auxprop_plugin: sasldb
sasldb_path: ../etc/sasldb2
mech_list: PLAIN LOGIN CRAM-MD5
EOF
  # The sender each login owns (texthash: read as it is, no postmap).
  printf '%s %s, %s@%s\n' "$sender" "$user" "$user" "$realm" >"$root/etc/sender_login"
}

write_main_cf() { # SINK-PORT
  cat >"$root/etc/main.cf" <<EOF
compatibility_level = 3.6
queue_directory = $root/queue
data_directory = $root/data
meta_directory = $root/etc
mail_owner = postfix
setgid_group = postdrop
maillog_file = $root/log/postfix.log
maillog_file_prefixes = $root/log
inet_interfaces = 127.0.0.1
inet_protocols = ipv4
myhostname = $realm
myorigin = $realm
mydestination =
mynetworks = 127.0.0.0/8
relay_domains =
local_recipient_maps =
local_transport = error:local delivery is off
alias_maps =
alias_database =
biff = no
# Relay the message as it came: no headers added or rewritten.
local_header_rewrite_clients =
# Everything accepted goes on to the smtp-sink.
relayhost = [127.0.0.1]:$1
smtp_tls_security_level = none
smtpd_peername_lookup = no
smtpd_error_sleep_time = 0
smtpd_tls_cert_file = $root/tls/server.pem
smtpd_tls_key_file = $root/tls/server.key
smtpd_tls_security_level = may
smtpd_tls_loglevel = 1
smtpd_sasl_auth_enable = yes
smtpd_sasl_type = cyrus
smtpd_sasl_path = smtpd
cyrus_sasl_config_path = $root/etc/sasl
smtpd_sasl_local_domain = $realm
smtpd_tls_auth_only = yes
smtpd_relay_restrictions = permit_sasl_authenticated, reject
EOF
  # postfix rereads a main.cf changed within the last two seconds until it
  # is older (a "hot" file): date it back instead of waiting.
  touch -d "@$(($(date +%s) - 10))" "$root/etc/main.cf"
}

# master.cf: the internal services (chroot off) and one smtpd per behaviour.
write_master_cf() {
  local tls_on="-o smtpd_tls_wrappermode=yes"
  cat >"$root/etc/master.cf" <<EOF
postlog   unix-dgram n  -       n       -       1       postlogd
cleanup   unix  n       -       n       -       0       cleanup
qmgr      unix  n       -       n       300     1       qmgr
tlsmgr    unix  -       -       n       1000?   1       tlsmgr
rewrite   unix  -       -       n       -       -       trivial-rewrite
bounce    unix  -       -       n       -       0       bounce
defer     unix  -       -       n       -       0       bounce
trace     unix  -       -       n       -       0       bounce
verify    unix  -       -       n       -       1       verify
flush     unix  n       -       n       1000?   0       flush
proxymap  unix  -       -       n       -       -       proxymap
smtp      unix  -       -       n       -       -       smtp
relay     unix  -       -       n       -       -       smtp
error     unix  -       -       n       -       -       error
retry     unix  -       -       n       -       -       error
discard   unix  -       -       n       -       -       discard
anvil     unix  -       -       n       -       1       anvil
scache    unix  -       -       n       -       1       scache
127.0.0.1:${ports[STARTTLS]} inet n - n - - smtpd -o syslog_name=postfix/starttls
127.0.0.1:${ports[STARTTLS_LOGIN]} inet n - n - - smtpd -o syslog_name=postfix/starttls-login
  -o smtpd_sasl_mechanism_filter=login
127.0.0.1:${ports[SENDER_LOGIN]} inet n - n - - smtpd -o syslog_name=postfix/sender-login
  -o smtpd_sender_login_maps=texthash:$root/etc/sender_login
  -o smtpd_sender_restrictions=reject_sender_login_mismatch
127.0.0.1:${ports[TLS]} inet n - n - - smtpd -o syslog_name=postfix/tls $tls_on
127.0.0.1:${ports[PLAIN_AUTH]} inet n - n - - smtpd -o syslog_name=postfix/plain-auth
  -o smtpd_tls_security_level=none -o smtpd_tls_auth_only=no
127.0.0.1:${ports[STARTTLS_NOAUTH]} inet n - n - - smtpd -o syslog_name=postfix/starttls-noauth
  -o smtpd_sasl_auth_enable=no -o smtpd_relay_restrictions=permit_mynetworks,reject
127.0.0.1:${ports[WRONG_NAME]} inet n - n - - smtpd -o syslog_name=postfix/wrong-name $tls_on
  -o smtpd_tls_cert_file=$root/tls/wrong-name.pem
127.0.0.1:${ports[UNTRUSTED]} inet n - n - - smtpd -o syslog_name=postfix/untrusted $tls_on
  -o smtpd_tls_cert_file=$root/tls/untrusted.pem
127.0.0.1:${ports[CLIENT_ONLY]} inet n - n - - smtpd -o syslog_name=postfix/client-only $tls_on
  -o smtpd_tls_cert_file=$root/tls/client-only.pem
127.0.0.1:${ports[REVOKED]} inet n - n - - smtpd -o syslog_name=postfix/revoked $tls_on
  -o smtpd_tls_cert_file=$root/tls/revoked.pem
127.0.0.1:${ports[SILENT_CRL]} inet n - n - - smtpd -o syslog_name=postfix/silent-crl $tls_on
  -o smtpd_tls_cert_file=$root/tls/silent-crl.pem
127.0.0.1:${ports[FORGED_CRL]} inet n - n - - smtpd -o syslog_name=postfix/forged-crl $tls_on
  -o smtpd_tls_cert_file=$root/tls/forged-crl.pem
127.0.0.1:${ports[REVOCATION_UNKNOWN]} inet n - n - - smtpd -o syslog_name=postfix/revocation-unknown $tls_on
  -o smtpd_tls_cert_file=$root/tls/revocation-unknown.pem
127.0.0.1:${ports[AIA]} inet n - n - - smtpd -o syslog_name=postfix/aia $tls_on
  -o smtpd_tls_cert_file=$root/tls/aia.pem
127.0.0.1:${ports[AIA_SILENT]} inet n - n - - smtpd -o syslog_name=postfix/aia-silent $tls_on
  -o smtpd_tls_cert_file=$root/tls/aia-silent.pem
127.0.0.1:${ports[NO_CHUNKING]} inet n - n - - smtpd -o syslog_name=postfix/no-chunking
  -o smtpd_discard_ehlo_keywords=chunking
127.0.0.1:${ports[STRICT_HELO]} inet n - n - - smtpd -o syslog_name=postfix/strict-helo
  -o smtpd_helo_required=yes -o smtpd_delay_reject=no
  -o smtpd_helo_restrictions=reject_invalid_helo_hostname,reject_non_fqdn_helo_hostname
127.0.0.1:${ports[OLD_TLS]} inet n - n - - smtpd -o syslog_name=postfix/old-tls $tls_on
  -o smtpd_tls_protocols=!SSLv2,!SSLv3,!TLSv1.2,!TLSv1.3
  -o smtpd_tls_mandatory_protocols=!SSLv2,!SSLv3,!TLSv1.2,!TLSv1.3
  -o smtpd_tls_ciphers=low -o smtpd_tls_mandatory_ciphers=low
  -o tls_low_cipherlist=DEFAULT:@SECLEVEL=0
127.0.0.1:${ports[SNI]} inet n - n - - smtpd -o syslog_name=postfix/sni $tls_on
  -o smtpd_tls_cert_file=$root/tls/wrong-name.pem -o tls_server_sni_maps=hash:$root/etc/sni
EOF
  # postfix reads the files an SNI table names when the table is made.
  echo "$realm $root/tls/server.key $root/tls/server.pem" >"$root/etc/sni"
  postmap -c "$root/etc" -F "hash:$root/etc/sni"
}

# The queue folders as postfix's own post-install makes them.
make_queue() {
  local q=$root/queue sub
  mkdir -p "$q" "$root/data"
  chown root:root "$q"
  chmod 755 "$q"
  for sub in active bounce corrupt defer deferred flush hold incoming private saved trace; do
    mkdir -p "$q/$sub"
    chown postfix:root "$q/$sub"
    chmod 700 "$q/$sub"
  done
  mkdir -p "$q/maildrop" "$q/public" "$q/pid"
  chown postfix:postdrop "$q/maildrop" "$q/public"
  chmod 1730 "$q/maildrop"
  chmod 2710 "$q/public"
  chown postfix "$root/data"
}

start_sink() {
  local port pid
  mkdir -p "$root/sink"
  # smtp-sink drops to nobody, who must be able to write the dumps.
  chmod 777 "$root/sink"
  for _ in 1 2 3 4 5; do
    port=$(free_ports 1)
    "$sink" -u nobody -d "$root/sink/mail." "127.0.0.1:$port" 64 >"$root/log/sink.log" 2>&1 </dev/null &
    pid=$!
    for _ in $(seq 50); do
      if listening "$port"; then
        echo "$pid" >"$root/sink.pid"
        sink_port=$port
        return 0
      fi
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    kill "$pid" 2>/dev/null || true
  done
  cat "$root/log/sink.log" >&2 || true
  die "cannot start $sink"
}

# Scripted servers for what postfix cannot be told to do: refuse the EHLO
# that follows a good STARTTLS handshake ("refuse"), or hang up there
# ("close"), or take a mail slowly ("slow"), or read nothing after a TLS handshake ("stall"). Python's ssl, one connection at a time; the port comes in
# peer-MODE.port once it listens.
start_peers() {
  local mode
  cat >"$root/etc/peer.py" <<'PY'
import os, socket, ssl, struct, sys, threading, time
root, mode = sys.argv[1], sys.argv[2]
context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(root + "/tls/server.pem", root + "/tls/server.key")
server = socket.create_server(("127.0.0.1", 0))
port = root + "/peer-" + mode + ".port"
with open(port + ".new", "w") as f:
    f.write(str(server.getsockname()[1]))
os.rename(port + ".new", port)
def stall(conn):
    # TLS from the first byte, then nothing read nor answered: what the
    # client sends fills the windows until its writes wait.
    try:
        conn.settimeout(20)
        session = context.wrap_socket(conn, server_side=True)
        time.sleep(10)
    except (OSError, ValueError):
        pass
    finally:
        conn.close()
while True:
    conn, _ = server.accept()
    if mode == "stall":
        threading.Thread(target=stall, args=(conn,), daemon=True).start()
        continue
    try:
        conn.settimeout(20)
        reader = conn.makefile("rb")
        # A client that hangs up early ends in an OSError below.
        conn.sendall(b"220 peer ready\r\n")
        reader.readline()
        conn.sendall(b"250-peer\r\n250 STARTTLS\r\n")
        reader.readline()
        conn.sendall(b"220 go ahead\r\n")
        session = context.wrap_socket(conn, server_side=True)
        lines = session.makefile("rb")
        lines.readline()
        if mode == "refuse":
            session.sendall(b"554 5.7.0 not after TLS\r\n")
            session.recv(1)
        elif mode == "reset":
            # A hard hang-up: no close_notify, a reset for the client's read.
            session.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        elif mode == "slow":
            # Takes a login and a mail, but reads the data only after a
            # pause, so that a large mail fills the client's socket.
            for reply in (b"250-peer\r\n250 AUTH PLAIN\r\n", b"235 ok\r\n", b"250 ok\r\n", b"250 ok\r\n",
                          b"354 go ahead\r\n"):
                session.sendall(reply)
                lines.readline()
            time.sleep(0.3)
            while lines.readline() not in (b".\r\n", b""):
                pass
            session.sendall(b"250 queued\r\n")
            lines.readline()
            session.sendall(b"221 bye\r\n")
            session.recv(1)
        # The socket closes only when its reader is closed as well.
        lines.close()
        session.close()
    except (OSError, ValueError):
        pass
    finally:
        conn.close()
PY
  rm -f "$root"/peer-*.port "$root/peer.pid"
  for mode in refuse close slow reset stall; do
    python3 "$root/etc/peer.py" "$root" $mode >"$root/log/peer-$mode.log" 2>&1 </dev/null &
    echo $! >>"$root/peer.pid"
  done
  for _ in $(seq 50); do
    [ -s "$root/peer-refuse.port" ] && [ -s "$root/peer-close.port" ] && [ -s "$root/peer-slow.port" ] &&
      [ -s "$root/peer-reset.port" ] && [ -s "$root/peer-stall.port" ] && return 0
    sleep 0.1
  done
  die "the scripted servers did not start: $(cat "$root"/log/peer-*.log)"
}

# The CRL on its loopback port, served by python3's http.server.
start_crl_server() {
  python3 -m http.server --bind 127.0.0.1 --directory "$root/crl" "$crl_port" >"$root/log/crl.log" 2>&1 </dev/null &
  echo $! >"$root/crl.pid"
  for _ in $(seq 50); do
    listening "$crl_port" && return 0
    sleep 0.1
  done
  cat "$root/log/crl.log" >&2 || true
  die "the CRL's HTTP server did not start"
}

# A web server that takes every connection and never answers: an address
# for a certificate that cannot be fetched before a time-out.
start_silent_server() {
  python3 -c '
import socket, sys
s = socket.socket()
s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(("127.0.0.1", int(sys.argv[1])))
s.listen(64)
held = []
while True:
    held.append(s.accept()[0])
' "$silent_port" >"$root/log/silent.log" 2>&1 </dev/null &
  echo $! >"$root/silent.pid"
  for _ in $(seq 50); do
    listening "$silent_port" && return 0
    sleep 0.1
  done
  die "the silent web server did not start"
}

# Starts postfix's master on fresh free ports; a port taken by someone else
# in between makes the master fail, and then it tries again.
start_master() {
  local daemon_dir attempt name free
  daemon_dir=${POSTFIX_DAEMON_DIR:-$(postconf -dh daemon_directory)}
  for attempt in 1 2 3; do
    read -r -a free <<<"$(free_ports ${#ports[@]})"
    for name in "${!ports[@]}"; do
      ports[$name]=${free[0]}
      free=("${free[@]:1}")
    done
    write_master_cf
    if MAIL_CONFIG=$root/etc "$daemon_dir/master" -c "$root/etc" -w >>"$root/log/master.log" 2>&1 </dev/null; then
      return 0
    fi
    grep -q 'Address already in use' "$root/log/master.log" "$root/log/postfix.log" 2>/dev/null ||
      { cat "$root/log/master.log" >&2; die "postfix's master did not start (its reason is in the log below)"; }
    echo "SubmissionServer.sh: a port was taken, attempt $attempt" >&2
  done
  die "postfix's master did not start"
}

# Whether a TLS handshake with the server on PORT completes (openssl
# s_client OPTIONS...).
handshakes() {
  local port=$1
  shift
  timeout 5 openssl s_client "$@" -connect "127.0.0.1:$port" </dev/null 2>&1 | grep -q "^New, TLS"
}

# Waits until every port answers as its behaviour says: a greeting in clear,
# or after a TLS handshake (all at once: each takes a few hundred ms to come up).
wait_ready() {
  local name port pids=() names=()
  for name in "${!ports[@]}"; do
    port=${ports[$name]}
    case $name in
    PLAIN_AUTH)
      [[ $(greeting "$port") == 220* ]] ;;
    STARTTLS | STARTTLS_LOGIN | STARTTLS_NOAUTH | SENDER_LOGIN | STRICT_HELO | NO_CHUNKING)
      handshakes "$port" -starttls smtp ;;
    OLD_TLS)
      handshakes "$port" -tls1_1 -cipher DEFAULT:@SECLEVEL=0 ;;
    *)
      handshakes "$port" ;;
    esac &
    pids+=($!)
    names+=("$name")
  done
  for i in "${!pids[@]}"; do
    wait "${pids[$i]}" || die "port ${ports[${names[$i]}]} (${names[$i]}) does not answer as it should"
  done
}

write_env() {
  local tls=$root/tls name
  # The CA stays in DIR, where the build knows to find it.
  cp "$tls/ca.pem" "$tls/ca.der" "$dir/"
  {
    echo "SUBMIT_HOST=127.0.0.1"
    echo "SUBMIT_SERVER_NAME=localhost"
    echo "SUBMIT_WRONG_NAME=$wrong_name"
    echo "SUBMIT_USER=$user"
    echo "SUBMIT_PASS=$pass"
    echo "SUBMIT_SENDER=$sender"
    echo "SUBMIT_USER_JA=$user_ja"
    echo "SUBMIT_PASS_JA=$pass_ja"
    for name in "${!ports[@]}"; do echo "SUBMIT_PORT_$name=${ports[$name]}"; done | sort
    echo "SUBMIT_CA_PEM=$dir/ca.pem"
    echo "SUBMIT_CA_DER=$dir/ca.der"
    echo "SUBMIT_CERT_SHA256=$(sha256_of "$tls/server.pem")"
    echo "SUBMIT_WRONG_NAME_CERT_SHA256=$(sha256_of "$tls/wrong-name.pem")"
    echo "SUBMIT_UNTRUSTED_CERT_SHA256=$(sha256_of "$tls/untrusted.pem")"
    echo "SUBMIT_PORT_EHLO_REFUSED_AFTER_TLS=$(cat "$root/peer-refuse.port")"
    echo "SUBMIT_PORT_CLOSED_AFTER_TLS=$(cat "$root/peer-close.port")"
    echo "SUBMIT_PORT_SLOW_READER=$(cat "$root/peer-slow.port")"
    echo "SUBMIT_PORT_STALLED_READER=$(cat "$root/peer-stall.port")"
    echo "SUBMIT_PORT_RESET_AFTER_TLS=$(cat "$root/peer-reset.port")"
    echo "SUBMIT_REVOKED_CERT_SHA256=$(sha256_of "$tls/revoked.pem")"
    echo "SUBMIT_CRL_URL=$crl_url"
    echo "SUBMIT_SINK_DIR=$root/sink"
    echo "SUBMIT_SINK_PORT=$sink_port"
    echo "SUBMIT_LOG=$root/log/postfix.log"
  } >"$dir/env.new"
  mv "$dir/env.new" "$dir/env"
}

case $action in
stop)
  stop_all
  # An instance under /tmp goes; its log stays in DIR for a look afterwards.
  if [ "$root" != "$dir" ]; then
    rm -rf "$dir/log"
    cp -r "$root/log" "$dir/log" 2>/dev/null || true
    rm -rf "$root" "$dir/instance"
  fi
  ;;
start)
  [ "$(id -u)" -eq 0 ] || { echo "SubmissionServer.sh: postfix's master needs root" >&2; exit 1; }
  stop_all
  [ "$root" = "$dir" ] || rm -rf "$root"
  rm -rf "$dir"
  mkdir -p "$dir"
  chmod 755 "$dir"
  root=$dir
  # postfix's daemons and smtp-sink work as unprivileged users and must reach
  # the instance's files. Where DIR's parents keep them out (a build tree
  # under /root, a private temporary folder), the instance lives in a folder
  # of its own under /tmp, and DIR holds env and the link "instance".
  if ! runuser -u postfix -- test -x "$dir" || ! runuser -u nobody -- test -x "$dir"; then
    root=$(mktemp -d /tmp/quorpa-submission.XXXXXX)
    chmod 755 "$root"
    ln -s "$root" "$dir/instance"
  fi
  mkdir -p "$root/etc" "$root/log"
  # The behaviours; start_master gives each its port.
  declare -A ports=([STARTTLS]=0 [STARTTLS_LOGIN]=0 [SENDER_LOGIN]=0 [TLS]=0 [PLAIN_AUTH]=0 [STARTTLS_NOAUTH]=0
                    [WRONG_NAME]=0 [UNTRUSTED]=0 [CLIENT_ONLY]=0 [OLD_TLS]=0 [STRICT_HELO]=0 [NO_CHUNKING]=0 [SNI]=0 [REVOKED]=0
                    [REVOCATION_UNKNOWN]=0 [FORGED_CRL]=0 [SILENT_CRL]=0 [AIA]=0 [AIA_SILENT]=0)
  sink_port=
  # The CRL's port, one where nothing listens (a CRL that cannot be had) and
  # one that takes connections and never answers (a CRL, or an intermediate,
  # that never comes).
  read -r crl_port dead_port silent_port <<<"$(free_ports 3)"
  crl_url=http://127.0.0.1:$crl_port/test.crl
  make_certificates
  start_crl_server
  start_silent_server
  make_account
  make_queue
  start_sink
  start_peers
  write_main_cf "$sink_port"
  start_master
  wait_ready
  write_env
  ;;
*)
  echo "usage: $0 start|stop DIR" >&2
  exit 2
  ;;
esac
