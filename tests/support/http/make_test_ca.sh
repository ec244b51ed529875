#!/usr/bin/env bash
# Makes the certificates of a test run in DIR: a CA (ca.pem) with a server certificate for
# 127.0.0.1 and localhost (server.pem, server.key), a certificate from the same CA for another
# host name only (other_name.pem, other_name.key), and one from a CA nobody trusts
# (untrusted.pem, untrusted.key).
set -euo pipefail
dir=$1
cd "$dir"
quiet() { "$@" >/dev/null 2>&1 || { echo "make_test_ca: $* failed" >&2; "$@"; }; }

# ca NAME: a self-signed CA in NAME.pem / NAME.key.
ca() {
  quiet openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=valdori test $1" \
    -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign \
    -keyout "$1.key" -out "$1.pem"
}
# leaf NAME CA SAN: a server certificate signed by CA.
leaf() {
  quiet openssl req -newkey rsa:2048 -nodes -subj "/CN=$1" -keyout "$1.key" -out "$1.csr"
  printf 'subjectAltName=%s\nextendedKeyUsage=serverAuth\nbasicConstraints=CA:FALSE\n' "$3" >"$1.ext"
  quiet openssl x509 -req -in "$1.csr" -CA "$2.pem" -CAkey "$2.key" -CAcreateserial -days 2 \
    -extfile "$1.ext" -out "$1.pem"
}

ca ca
ca rogue_ca
leaf server ca "IP:127.0.0.1,DNS:localhost"
leaf other_name ca "DNS:other.invalid"
leaf untrusted rogue_ca "IP:127.0.0.1,DNS:localhost"
