#!/usr/bin/env bash
# Signed packages end to end: an installation whose NET.INF names publisher keys takes an
# upgrade copy only when it is signed by one of them, without a box at the till, and its
# run log says why a copy was dropped; kalvtool doctor foresees it. Packages by Info-ZIP
# zip, keys and signatures by kalvtool (kalvtool.exe under Wine: CNG signs there).
#   signed_e2e.sh native KALV3 STANDIN KALVTOOL
#   signed_e2e.sh wine KALV3_EXE STANDIN_EXE KALVTOOL_EXE WATCHER_EXE
set -uo pipefail
mode=$1 launcher=$2 standin=$3 kalvtool=$4 watcher=${5:-}
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=harness.sh
source "$here/harness.sh"
e2e_begin kalv-signed "$@"

# tool ARGS...: kalvtool in the current folder; its standard output in $out.
tool() {
  if [ "$mode" = wine ]; then out=$(wine "$kalvtool" "$@" 2>/dev/null | tr -d '\r'); else out=$("$kalvtool" "$@" 2>/dev/null); fi
}

stage_packages || { echo "the packages could not be staged"; exit 1; }
cd "$stage" || exit 1
tool keygen old.key && old_public=$out
tool keygen new.key && new_public=$out
key_id() { sed -n 's/.*key id \([0-9a-f]\{16\}\):.*/\1/p' "$1"; }
old_id=$(key_id old.key) new_id=$(key_id new.key)
[ -n "$old_id" ] && [ -n "$new_id" ] || fail "kalvtool keygen made no keys"
tool publish --package --key old.key program_v2.zip by_old.zip
tool publish --package --key new.key program_v2.zip by_new.zip
u16() { od -An -tu2 -j "$2" -N2 "$1" | tr -d ' '; }
# altered NAME OFFSET: by_old.zip with the byte at OFFSET XOR 1, as NAME.
altered() {
  local byte
  cp by_old.zip "$1"
  byte=$(od -An -tu1 -j "$2" -N1 "$1" | tr -d ' ')
  printf "$(printf '\\%03o' $((byte ^ 1)))" | dd of="$1" bs=1 seek="$2" conv=notrunc 2>/dev/null
}
name=$(u16 by_old.zip 26) extra=$(u16 by_old.zip 28)
end=$(($(stat -c %s by_old.zip) - 142))
central=$(od -An -tu4 -j $((end + 16)) -N4 by_old.zip | tr -d ' ')
[ "$extra" -gt 0 ] || fail "zip wrote no extra field in the local header"
altered altered.zip $((30 + name + extra + 100))  # the entry's data
altered altered_extra.zip $((30 + name + 2))      # the local header's extra field
altered altered_central.zip $((central + 16))     # the central header's CRC-32
altered altered_end.zip $((end + 12))             # the end record's directory size
# The signature cut off and the comment length set back to 0: a ZIP file as before signing.
head -c $((end + 22)) by_old.zip > stripped.zip
printf '\0\0' | dd of=stripped.zip bs=1 seek=$((end + 20)) conv=notrunc 2>/dev/null
# The same program from before: its Kalvo3main dated 2020, validly signed (a package put
# back on the share under a new file date).
mkdir older && cp Kalvo3main older/ && touch -d "2020-01-01 10:00" older/Kalvo3main
(cd older && zip -q -X -j -P "$password" ../older.zip Kalvo3main)
tool publish --package --key old.key older.zip by_old_older.zip
cd "$work" || exit 1

if [ "$mode" = wine ]; then watcher_start "$watcher" 900; fi
F=$work/shop
FUP=$work/upgrade
mkdir -p "$FUP"
f_db="$(as_launcher_path "$F")$(sep)KALVO3.IB"

# shop KEYS_LINES UPGRADE_PACKAGE: a fresh installation of program.zip whose NET.INF has
# KEYS_LINES under [DB], and a newer upgrade copy.
shop() {
  rm -rf "$F"
  install_shop "$F" "$FUP/Kalvo3pack"
  printf '%s' "$1" >> "$F/NET.INF"
  cp "$stage/$2" "$FUP/Kalvo3pack"
  touch -d "2026-01-01 10:00" "$FUP/Kalvo3pack"
}
# The application started on DIR with the token PLAIN, and has ended.
expect_started() {  # DIR PLAIN
  if ! wait_application "$1"; then fail "$application_problem"; return; fi
  expect_eq "decrypted token" "$2" "$(sed -n 's/^plain text: //p' "$1/Kalvo3main.report.txt" | tr -d '\r')"
}
# The last run's refresh line.
refresh_line() { tr -d '\r' < "$F/Kalv3.log" | grep '^refresh: ' | tail -n 1; }

#   scenario              NET.INF keys                                           upgrade copy   installed  refresh line
cases=(
  "signed, trusted|PublicKey=$old_public\r\n|by_old.zip|yes|refresh: fetched"
  "unsigned|PublicKey=$old_public\r\n|program_v2.zip|no|refresh: not fetched, the copy is unsigned, and NET.INF trusts only signed packages"
  "signed by another key|PublicKey=$old_public\r\n|by_new.zip|no|refresh: not fetched, the copy is signed by key $new_id, which NET.INF does not name"
  "altered after signing|PublicKey=$old_public\r\n|altered.zip|no|refresh: not fetched, the copy is altered since it was signed by key $old_id"
  "altered: local header's extra field|PublicKey=$old_public\r\n|altered_extra.zip|no|refresh: not fetched, the copy is altered since it was signed by key $old_id"
  "altered: central directory|PublicKey=$old_public\r\n|altered_central.zip|no|refresh: not fetched, the copy is altered since it was signed by key $old_id"
  "altered: end record|PublicKey=$old_public\r\n|altered_end.zip|no|refresh: not fetched, the copy is altered since it was signed by key $old_id"
  "signature stripped|PublicKey=$old_public\r\n|stripped.zip|no|refresh: not fetched, the copy is unsigned, and NET.INF trusts only signed packages"
  "new key after a roll-over|PublicKey=$old_public\r\nPublicKey2=$new_public\r\n|by_new.zip|yes|refresh: fetched"
  "a key that does not parse|PublicKey=${old_public:0:40}\r\n|by_old.zip|no|refresh: not fetched, the copy is signed by key $old_id, which NET.INF does not name"
  "no key named|; no PublicKey\r\n|by_old.zip|yes|refresh: fetched"
  "an older program, signed|PublicKey=$old_public\r\n|by_old_older.zip|no|refresh: not fetched, the copy's Kalvo3main is dated 2020-01-01 10:00:00, before the installed one's *"
)
for c in "${cases[@]}"; do
  IFS='|' read -r scenario keys package installed line <<<"$c"
  shop "$(printf "$keys")" "$package"
  # kalvtool doctor foresees what the start does with the copy.
  (cd "$F" && tool doctor; echo "$out" > "$harness/doctor.txt")
  if [ "$scenario" = "signed, trusted" ]; then
    grep -q "^OK    publisher keys: NET.INF trusts PublicKey $old_id: only an upgrade copy signed by it is installed" \
      "$harness/doctor.txt" || fail "doctor does not name the trusted key: $(cat "$harness/doctor.txt")"
  fi
  if [ "$installed" = yes ]; then
    grep -q "^OK    upgrade copy: .*, signed by key [0-9a-f]\{16\}\( (PublicKey2\?)\)\?. The next start fetches it$" \
      "$harness/doctor.txt" ||
      fail "doctor does not foresee the copy installed: $(cat "$harness/doctor.txt")"
  else
    grep -q "^WARN  upgrade copy: .*newer than the local package, but ${line#refresh: not fetched, }" "$harness/doctor.txt" ||
      fail "doctor does not foresee the copy dropped: $(cat "$harness/doctor.txt")"
  fi
  rm -f "$F/Kalvo3main.report.txt"
  launch "$F" "$F/$launcher_name"
  expect_eq "exit code" 0 "$exit_code"
  expect_eq "boxes" "" "$boxes"
  expect_started "$F" "[SECTION],DBpath=$f_db,"
  actual=$(refresh_line)
  # A line that ends in "*" names its beginning (a date that the run sets).
  if [ "${line: -1}" = "*" ]; then actual=${actual:0:$((${#line} - 1))}*; fi
  expect_eq "refresh" "$line" "$actual"
  if [ "$installed" = yes ]; then
    cmp -s "$F/Kalvo3pack" "$stage/$package" || fail "the upgrade copy was not installed"
  else
    cmp -s "$F/Kalvo3pack" "$stage/program.zip" || fail "the upgrade copy was installed"
  fi
  leftovers=$(cd "$F" && ls -d ./*.incoming 2>/dev/null)
  expect_eq "temporary files" "" "$leftovers"
  if [ "$scenario" = "a key that does not parse" ]; then
    tr -d '\r' < "$F/Kalv3.log" | grep -q "^publisher keys: PublicKey does not parse (.*): it matches no package" ||
      fail "the run log does not say that the key does not parse"
  fi
done


e2e_end "signed packages: all checks passed ($mode)"
