#!/usr/bin/env bash
# Makes a private SoftHSM token set in DIR for the login session tests and prints, as its last
# line, a folder holding "QORVPKCS11.dll": a link to SoftHSM's PKCS#11 library. Give the program
# under test SOFTHSM2_CONF=DIR/softhsm2.conf.
#
#   tests/login_token/make-softhsm-token.sh DIR
#
# The module opens the slot listed second (index 1). SoftHSM lists each initialised token and one
# empty slot, in an order that follows the tokens' random serials, so two tokens are initialised
# (three slots listed) and the key pair goes on whichever token is listed second once both exist.
# The other token has no key. Both take the user PIN 1234 (SO PIN 5678); the key pair is
# RSA-2048, label "Quillomat test key", ID 01.
#
# Exits 77 when SoftHSM or pkcs11-tool is missing and cannot be installed.
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: $0 DIR" >&2; exit 2; }
top=$(cd "$(dirname "$0")/../.." && pwd)
library=/usr/lib/softhsm/libsofthsm2.so

have_tools() {
  command -v softhsm2-util && command -v pkcs11-tool && [ -e "$library" ]
} >/dev/null 2>&1

if ! have_tools; then
  # Several test programs may get here at once; apt takes one install at a time.
  {
    flock 9
    "$top/tools/install-deps.sh" softhsm2 opensc >&2
  } 9>"${TMPDIR:-/tmp}/ostrabel-install-deps.lock" || exit 77
  have_tools || exit 77
fi

mkdir -p "$1"
dir=$(cd "$1" && pwd)
mkdir -p "$dir/tokens" "$dir/lib"
cat >"$dir/softhsm2.conf" <<CONF
directories.tokendir = $dir/tokens
objectstore.backend = file
log.level = ERROR
slots.removable = false
CONF
export SOFTHSM2_CONF="$dir/softhsm2.conf"

for label in first second; do
  softhsm2-util --init-token --free --label "$label" --so-pin 5678 --pin 1234 >&2
done
slot=$(pkcs11-tool --module "$library" --list-token-slots 2>/dev/null |
  sed -n 's/^Slot 1 (\(0x[0-9a-fA-F]*\)).*/\1/p')
if [ -z "$slot" ]; then
  echo "$0: SoftHSM lists no second slot" >&2
  exit 1
fi
pkcs11-tool --module "$library" --slot "$slot" --login --pin 1234 \
  --keypairgen --key-type rsa:2048 --label "Quillomat test key" --id 01 >&2

ln -sfn "$library" "$dir/lib/QORVPKCS11.dll"
echo "$dir/lib"
