#!/bin/sh
# make_test_ca.sh DIR: certificates for the local package server's HTTPS tests.
#   DIR/ca.pem                  a test CA (its key stays in DIR/ca.key)
#   DIR/server.pem, server.key  signed by that CA for IP:127.0.0.1 and DNS:localhost
#   DIR/wrong.pem, wrong.key    self-signed for the same names: trusted by nothing
# RSA 2048 and SHA-256 throughout, which every TLS stack under test accepts; valid ten years.
# openssl's chatter goes to DIR/openssl.log, shown only when a step fails.
set -eu
dir=${1:?usage: make_test_ca.sh DIR}
mkdir -p "$dir"
cd "$dir"
umask 077

ext=$(mktemp)
trap 'rm -f "$ext" ca.csr server.csr wrong.csr ca.srl' EXIT
cat >"$ext" <<'CNF'
[ca]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[server]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
subjectAltName = IP:127.0.0.1, DNS:localhost
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
CNF

log=openssl.log
: >"$log"
run() { "$@" 2>>"$log" || { cat "$log" >&2; exit 1; }; }

run openssl genrsa -out ca.key 2048
run openssl req -new -key ca.key -subj "/CN=Kalv3 test CA" -out ca.csr
run openssl x509 -req -in ca.csr -signkey ca.key -sha256 -days 3650 \
    -extfile "$ext" -extensions ca -out ca.pem
rm -f ca.csr

run openssl genrsa -out server.key 2048
run openssl req -new -key server.key -subj "/CN=localhost" -out server.csr
run openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -sha256 -days 3650 \
    -extfile "$ext" -extensions server -out server.pem

# Same names, same shape, but no CA vouches for it.
run openssl genrsa -out wrong.key 2048
run openssl req -new -key wrong.key -subj "/CN=localhost" -out wrong.csr
run openssl x509 -req -in wrong.csr -signkey wrong.key -sha256 -days 3650 \
    -extfile "$ext" -extensions server -out wrong.pem
rm -f wrong.csr
chmod 644 ca.pem server.pem wrong.pem
