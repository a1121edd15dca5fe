#!/bin/sh
# test-certificates.sh DIR
# Makes, in DIR, a throw-away certificate authority and the certificates the
# TLS tests serve, each with its key beside it (NAME.pem, NAME.key):
#   authority   the test authority (trusted only inside the tests)
#   localhost   for localhost, from the authority, valid for two days
#   expired     for localhost, from the authority, expired in 2020
#   unknown     for localhost, from a second authority nobody trusts
#   elsewhere   for elsewhere.invalid, from the authority
# The authority's validity starts before the expired certificate's, so that
# the expired one fails on its date alone.
set -e
dir=$1
[ -n "$dir" ] || { echo "usage: test-certificates.sh DIR" >&2; exit 2; }
mkdir -p "$dir"
cd "$dir"

cat >openssl.cnf <<EOF
[ ca ]
default_ca = test
[ test ]
database = index.txt
new_certs_dir = .
serial = serial
default_md = sha256
policy = any
copy_extensions = copy
unique_subject = no
[ any ]
commonName = supplied
[ authority ]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[ server ]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = serverAuth
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
EOF
: >index.txt
echo 1000 >serial

quiet() { "$@" >openssl.log 2>&1 || { cat openssl.log >&2; exit 1; }; }

# request NAME COMMON-NAME [SUBJECT-ALT-NAME]: a key and a signing request.
request() {
  quiet openssl req -new -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout "$1.key" -out "$1.csr" \
    -subj "/CN=$2" ${3:+-addext "subjectAltName=$3"}
}

# sign NAME ISSUER EXTENSIONS DATES...: NAME.csr signed by ISSUER.
sign() {
  name=$1 issuer=$2 extensions=$3
  shift 3
  quiet openssl ca -batch -notext -config openssl.cnf -cert "$issuer.pem" -keyfile "$issuer.key" \
    -extensions "$extensions" -in "$name.csr" -out "$name.pem" "$@"
}

authority() {
  request "$1" "$2"
  quiet openssl ca -batch -notext -config openssl.cnf -selfsign -keyfile "$1.key" -extensions authority \
    -in "$1.csr" -out "$1.pem" -startdate 20190101000000Z -days 3
}

authority authority "Plivors test authority"
authority stranger "Plivors unknown authority"
request localhost localhost DNS:localhost
sign localhost authority server -days 2
request expired localhost DNS:localhost
sign expired authority server -startdate 20200101000000Z -enddate 20201231000000Z
request unknown localhost DNS:localhost
sign unknown stranger server -days 2
request elsewhere elsewhere.invalid DNS:elsewhere.invalid
sign elsewhere authority server -days 2
rm -f openssl.cnf ./*.csr ./*.old index.txt* serial* openssl.log ./[0-9A-F]*.pem
chmod 644 ./*.pem ./*.key
