#!/bin/sh
# Makes the certificates the tests' HTTPS servers present. Run by the build into its own tree;
# nothing here is ever committed.
#   ca.pem            test CA that the test build trusts
#   server.pem/.key   localhost and 127.0.0.1, signed by the CA
#   wronghost.pem     another host name, signed by the CA
#   selfsigned.pem    localhost, signed by itself
#   expired.pem       localhost, signed by the CA, already expired
set -eu
out=$1
mkdir -p "$out"
cd "$out"
days=3650
openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days $days \
    -subj "/CN=filehash test CA" >/dev/null 2>&1
openssl req -newkey rsa:2048 -nodes -keyout server.key -out server.csr \
    -subj "/CN=localhost" >/dev/null 2>&1
printf 'subjectAltName=DNS:localhost,IP:127.0.0.1\n' >localhost.ext
printf 'subjectAltName=DNS:wrong.invalid\n' >wronghost.ext
openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days $days \
    -extfile localhost.ext -out server.pem >/dev/null 2>&1
# Its own subject too: Qt 5 also accepts a matching common name.
openssl req -new -key server.key -out wronghost.csr -subj "/CN=wrong.invalid" >/dev/null 2>&1
openssl x509 -req -in wronghost.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days $days \
    -extfile wronghost.ext -out wronghost.pem >/dev/null 2>&1
openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days -1 \
    -extfile localhost.ext -out expired.pem >/dev/null 2>&1
openssl x509 -req -in server.csr -signkey server.key -days $days \
    -extfile localhost.ext -out selfsigned.pem >/dev/null 2>&1
rm -f server.csr wronghost.csr localhost.ext wronghost.ext
