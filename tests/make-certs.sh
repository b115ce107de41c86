#!/bin/sh
# Makes the certificates the tests' HTTPS servers present. Run by the build into its own tree;
# nothing here is ever committed.
#   ca.pem            test CA that the test build trusts
#   server.pem/.key   localhost and 127.0.0.1, signed by the CA
#   wronghost.pem     another host name, signed by the CA
#   selfsigned.pem    localhost, signed by itself
#   expired.pem       localhost, signed by the CA, already expired
# and for time-stamps, under a CA of their own so that nothing the servers' CA signs is taken for
# a time-stamping authority (TSA):
#   tsa-ca.pem            the TSA's CA
#   tsa.pem/.key          the TSA: extended key usage timeStamping alone, critical (RFC 3161 2.3)
#   tsa-chain.pem         tsa.pem followed by its CA, as TSAs send their chain
#   tsa-noeku.pem         the same key, signed by the TSA's CA, without an extended key usage
#   tsa-noncritical.pem   the same key with timeStamping, not marked critical
#   tsa-expired.pem       as tsa.pem, already expired
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

# P-256 keys: time-stamps are signed in every test that makes one.
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout tsa-ca.key -out tsa-ca.pem \
    -days $days -subj "/CN=filehash test TSA CA" >/dev/null 2>&1
# A name in UTF-8 (测试, "test"), as Chinese authorities have: it must read back as written.
cn=$(printf '\346\265\213\350\257\225')
openssl req -new -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout tsa.key -out tsa.csr -utf8 \
    -subj "/O=filehash/CN=$cn TSA" >/dev/null 2>&1
printf 'keyUsage=critical,digitalSignature\nextendedKeyUsage=critical,timeStamping\n' >tsa.ext
printf 'keyUsage=critical,digitalSignature\n' >tsa-noeku.ext
printf 'keyUsage=critical,digitalSignature\nextendedKeyUsage=timeStamping\n' >tsa-noncritical.ext
for name in tsa tsa-noeku tsa-noncritical; do
    openssl x509 -req -in tsa.csr -CA tsa-ca.pem -CAkey tsa-ca.key -CAcreateserial -days $days \
        -extfile $name.ext -out $name.pem >/dev/null 2>&1
done
openssl x509 -req -in tsa.csr -CA tsa-ca.pem -CAkey tsa-ca.key -CAcreateserial -days -1 \
    -extfile tsa.ext -out tsa-expired.pem >/dev/null 2>&1
cat tsa.pem tsa-ca.pem >tsa-chain.pem
rm -f server.csr wronghost.csr localhost.ext wronghost.ext tsa.csr tsa.ext tsa-noeku.ext tsa-noncritical.ext
