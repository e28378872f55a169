#!/usr/bin/env bash
# The main job on a fresh Debian machine: set up, build, and show the product at work.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh native
KALVTOOL=build/native/app/kalvtool
plain='[SECTION],DBpath=/srv/shop/KALVO3.IB,'
token=$($KALVTOOL token encrypt "$plain")
echo "start token for '$plain':"
echo "  $token"
echo "decrypted again:"
echo "  $($KALVTOOL token decrypt "$token")"
$KALVTOOL selfcheck
