#!/usr/bin/env bash
# Makes the development key pair that signs the module list (Ostrabel.ini): an RSA-2048 private
# key for tools/ostrabel-list and its public key (SubjectPublicKeyInfo PEM) that the agent
# compiles in. Needs only the openssl command line.
#
# usage: tools/make-dev-list-key.sh [OUTPUT_DIR]
#   OUTPUT_DIR   defaults to agent/resources/dev of this repository
set -euo pipefail

usage() {
  sed -n '6,7s/^# \{0,1\}//p' "$0" >&2
  exit 2
}

out_dir=""
while (($#)); do
  case "$1" in
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

# Made in a scratch folder and moved into place at the end, so a failed run leaves the previous
# pair intact.
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

run() {
  local log
  if ! log="$("$@" 2>&1)"; then
    printf '%s\n' "$log" >&2
    return 1
  fi
}

run openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 \
  -pkeyopt rsa_keygen_pubexp:65537 -out "$work/list-signing.key.pem"
run openssl pkey -in "$work/list-signing.key.pem" -pubout -out "$work/list-signing.pub.pem"

# The agent opens 256-byte blocks, so the modulus must be exactly 2048 bits.
bits="$(openssl pkey -pubin -in "$work/list-signing.pub.pem" -noout -text | sed -n 's/.*(\([0-9]*\) bit).*/\1/p')"
[[ "$bits" == 2048 ]] || { echo "unexpected key size: $bits" >&2; exit 1; }

mkdir -p "$out_dir"
chmod 600 "$work/list-signing.key.pem"
chmod 644 "$work/list-signing.pub.pem"
mv -f "$work/list-signing.key.pem" "$work/list-signing.pub.pem" "$out_dir/"
echo "wrote list-signing.key.pem and list-signing.pub.pem to $out_dir"
