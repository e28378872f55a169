#!/usr/bin/env bash
# kalvtool.exe copied into a folder that holds a planted bcrypt.dll, as a Downloads
# folder may, and run there to publish (its one use of bcrypt): the DLL from System32
# must be the one loaded, never the planted one. Wine prefers its own bcrypt to a file
# beside the program; told to prefer such a file (native first), it searches as Windows
# does for a DLL that is not a KnownDLL.
#   planted_dll_test.sh KALVTOOL_EXE PLANTED_DLL WINE
set -u
tool=$1 planted=$2
shift 2
runner=("$@")
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cd "$tmp" || exit 1
cp "$tool" kalvtool.exe && cp "$planted" bcrypt.dll || exit 1
printf 'the program\n' >Kalvo3main

WINEDLLOVERRIDES="${WINEDLLOVERRIDES:+$WINEDLLOVERRIDES;}bcrypt=n,b" "${runner[@]}" ./kalvtool.exe publish Kalvo3main Kalvo3pack >out.txt 2>&1
rc=$?
failures=0
[ "$rc" -eq 0 ] || { echo "FAIL: kalvtool publish ended with $rc:"; cat out.txt; failures=$((failures + 1)); }
[ -e Kalvo3pack ] || { echo "FAIL: no package published"; failures=$((failures + 1)); }
[ -e planted-dll-loaded ] && { echo "FAIL: the bcrypt.dll beside kalvtool.exe was loaded"; failures=$((failures + 1)); }
[ "$failures" -eq 0 ] && echo "the planted bcrypt.dll stayed unloaded"
exit $((failures > 0))
