#!/usr/bin/env bash
# Packages for the launcher's tests, made by Info-ZIP zip as an installation would be.
#   make_test_packages.sh OUTDIR
set -euo pipefail
out=$1
here=$(cd "$(dirname "$0")" && pwd)
password=k3m8_q7rw_2x4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$out"
cd "$work"

# shellcheck source=../support/zip_refusing.sh
source "$here/../support/zip_refusing.sh"

for i in $(seq 1 200); do echo "program version 1, line $i"; done > Kalvo3main
zip -q -X -j -P "$password" program.zip Kalvo3main
for i in $(seq 1 200); do echo "program version 2, line $i"; done > Kalvo3main
zip -q -X -j -P "$password" program_v2.zip Kalvo3main
zip_refusing wrong_password.zip not-the-password "$password" Kalvo3main
for i in $(seq 1 300); do echo "database page $i"; done > KALVO3.IB
zip -q -X -j -P "$password" database.zip KALVO3.IB
zip_refusing database_wrong_password.zip wrong "$password" KALVO3.IB
echo "read me" > Readme.txt
zip -q -X -j -P "$password" without_entry.zip Readme.txt
head -c 3000 /dev/zero | tr '\0' 'x' > not_a_zip.bin
cp KALVO3.IB Readme.txt ./*.zip not_a_zip.bin "$out"/
cp Kalvo3main "$out"/Kalvo3main_v2
