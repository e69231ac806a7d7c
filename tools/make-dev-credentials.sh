#!/usr/bin/env bash
# Makes the development credentials that the agent compiles in: a small authority (QORV.crt and
# its key) that may only vouch for localhost and 127.0.0.1, and the endpoint certificate and key
# it issues. Needs only the openssl command line.
#
# usage: tools/make-dev-credentials.sh [--reuse-ca] [OUTPUT_DIR]
#   --reuse-ca   keep QORV.crt and dev-ca.key.pem in OUTPUT_DIR; only re-issue the endpoint
#                certificate, so browsers that already trust QORV.crt keep working
#   OUTPUT_DIR   defaults to agent/resources/dev of this repository
set -euo pipefail

usage() {
  sed -n '6,9s/^# \{0,1\}//p' "$0" >&2
  exit 2
}

reuse_ca=0
out_dir=""
while (($#)); do
  case "$1" in
    --reuse-ca) reuse_ca=1 ;;
    -h | --help) usage ;;
    -*) echo "unknown option: $1" >&2; usage ;;
    *)
      [[ -z "$out_dir" ]] || usage
      out_dir="$1"
      ;;
  esac
  shift
done
if [[ -z "$out_dir" ]]; then
  out_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/agent/resources/dev"
fi

days=3650
ca_subject="/C=TW/O=QORV/OU=QORV Develope/CN=QORV Certificate Authority"
endpoint_subject="/C=TW/O=QORV/OU=QORV Self SSL/CN=QORV Self SSL"

# Everything is made in a scratch folder and moved into place at the end, so a failed run
# leaves the previous set intact.
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# openssl chatters on stderr even when all is well; show it only when a step fails.
run() {
  local log
  if ! log="$("$@" 2>&1)"; then
    printf '%s\n' "$log" >&2
    return 1
  fi
}

# Positive 128-bit serial: clear the top bit so the DER integer needs no sign padding.
random_serial() {
  local hex
  hex="$(openssl rand -hex 16)"
  printf '0x%x%s' $((0x${hex:0:1} & 7)) "${hex:1}"
}

cat >"$work/ext.cnf" <<'EOF'
[ req ]
distinguished_name = req_dn
string_mask = utf8only
[ req_dn ]

# The name constraints keep a browser that trusts this authority from trusting anything it
# might sign for another site.
[ ca_ext ]
basicConstraints = critical, CA:TRUE, pathlen:0
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
nameConstraints = critical, permitted;DNS:localhost, permitted;IP:127.0.0.1/255.255.255.255

[ endpoint_ext ]
basicConstraints = critical, CA:FALSE
keyUsage = digitalSignature, nonRepudiation, keyEncipherment, dataEncipherment, keyAgreement
extendedKeyUsage = serverAuth, clientAuth
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid:always
subjectAltName = DNS:localhost, IP:127.0.0.1
EOF

if ((reuse_ca)); then
  for f in QORV.crt dev-ca.key.pem; do
    [[ -f "$out_dir/$f" ]] || { echo "--reuse-ca: $out_dir/$f is missing" >&2; exit 1; }
  done
  cp "$out_dir/QORV.crt" "$out_dir/dev-ca.key.pem" "$work/"
else
  run openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 \
    -pkeyopt rsa_keygen_pubexp:65537 -out "$work/dev-ca.key.pem"
  run openssl req -new -x509 -config "$work/ext.cnf" -extensions ca_ext -sha256 -days "$days" \
    -set_serial "$(random_serial)" -key "$work/dev-ca.key.pem" -subj "$ca_subject" \
    -out "$work/QORV.crt"
fi

run openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 \
  -pkeyopt rsa_keygen_pubexp:65537 -out "$work/endpoint.p8.pem"
run openssl req -new -config "$work/ext.cnf" -key "$work/endpoint.p8.pem" -subj "$endpoint_subject" \
  -out "$work/endpoint.csr"
run openssl x509 -req -in "$work/endpoint.csr" -CA "$work/QORV.crt" -CAkey "$work/dev-ca.key.pem" \
  -set_serial "$(random_serial)" -sha256 -days "$days" \
  -extfile "$work/ext.cnf" -extensions endpoint_ext -out "$work/localhost.crt.pem"
run openssl x509 -in "$work/localhost.crt.pem" -outform DER -out "$work/localhost.crt.der"

# The agent loads the key as a PKCS#1 RSAPrivateKey, not PKCS#8.
run openssl rsa -in "$work/endpoint.p8.pem" -traditional -outform DER -out "$work/localhost.key.der"
run openssl rsa -in "$work/endpoint.p8.pem" -traditional -out "$work/localhost.key.pem"

# Checks before anything is replaced.
run openssl verify -x509_strict -purpose sslserver -verify_hostname localhost -verify_ip 127.0.0.1 \
  -CAfile "$work/QORV.crt" "$work/localhost.crt.pem"
# PKCS#1 is a flat SEQUENCE of nine INTEGERs; PKCS#8 would hold an algorithm SEQUENCE and an
# OCTET STRING.
structure="$(openssl asn1parse -inform DER -in "$work/localhost.key.der")"
if [[ "$(grep -c 'd=1 .*prim: INTEGER' <<<"$structure")" != 9 ]] ||
  grep -qE 'OBJECT|OCTET STRING|d=2' <<<"$structure"; then
  echo "localhost.key.der is not a PKCS#1 RSAPrivateKey" >&2
  exit 1
fi
cert_modulus="$(openssl x509 -inform DER -in "$work/localhost.crt.der" -noout -modulus)"
key_modulus="$(openssl rsa -inform DER -in "$work/localhost.key.der" -noout -modulus)"
[[ "$cert_modulus" == "$key_modulus" ]] || { echo "key does not match certificate" >&2; exit 1; }

mkdir -p "$out_dir"
chmod 644 "$work"/localhost.* "$work/QORV.crt"
chmod 600 "$work/dev-ca.key.pem"
for f in QORV.crt dev-ca.key.pem localhost.crt.der localhost.crt.pem localhost.key.der \
  localhost.key.pem; do
  mv -f "$work/$f" "$out_dir/$f"
done
echo "wrote credentials to $out_dir"
