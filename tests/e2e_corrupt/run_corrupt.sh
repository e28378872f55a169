#!/usr/bin/env bash
# Corrupted installations end to end: the launcher run on installations whose packages
# or NET.INF are damaged the way network shares and USB sticks damage them.
#   run_corrupt.sh native KALV3 STANDIN                      (boxes are "caption: text" on stderr)
#   run_corrupt.sh wine KALV3_EXE STANDIN_EXE WATCHER_EXE     (Windows build under Wine)
# Every run must end with exit code 0 and exactly the expected boxes, leave every file
# outside the installation as it was, and never start the application unless what it
# starts on (the unpacked program and the database) is intact. Natively, a sweep of
# single bit flips over both packages checks the same rules on every damaged byte.
set -uo pipefail
mode=$1 launcher=$2 standin=$3 watcher=${4:-}
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=../e2e/harness.sh
source "$here/../e2e/harness.sh"
e2e_begin kalv-corrupt "$@"

# ---- packages ---------------------------------------------------------------------------
stage=$work/stage
mkdir -p "$stage"
cp "$standin" "$stage/Kalvo3main"
# A database large enough to span many 16000-byte blocks, so a damaged one fails mid-way.
seq 1 30000 | sed 's/$/ stock record of the shop/' > "$stage/KALVO3.IB"
(
  cd "$stage"
  zip -q -X -j -P "$password" program.zip Kalvo3main
  zip -q -X -j -P "$password" database.zip KALVO3.IB
  zip -q -X -j -0 -P "$password" database_stored.zip KALVO3.IB
)

# An upgrade location outside the installation, holding an older copy of the program
# package (never fetched), and a folder of bystander files: none of them may change.
upgrade=$work/upgrade
outside=$work/outside
mkdir -p "$upgrade" "$outside/sub"
cp "$stage/program.zip" "$upgrade/Kalvo3pack"
touch -d "2020-01-01 08:00:00" "$upgrade/Kalvo3pack"
echo "a bystander" > "$outside/bystander.txt"
echo "another one" > "$outside/sub/KALVO3.IB"

# make_install DIR: the launcher, both packages dated 2024, NET.INF naming the upgrade copy.
make_install() {
  chmod -R u+rwX "$1" 2>/dev/null
  rm -rf "$1"
  install_shop "$1" "$upgrade/Kalvo3pack"
}

# Puts back what make_install laid down, keeping the launcher's copy (the sweep's runs).
reset_install() {
  find "$1" -mindepth 1 -maxdepth 1 ! -name "$launcher_name" -exec rm -rf {} +
  put_packages "$1" "$upgrade/Kalvo3pack"
}

# Everything under $work except the installation under test and the harness's own files.
snapshot_outside() {
  (cd "$work" && find . -path "./${1#"$work"/}" -prune -o -path ./harness -prune -o \
     -printf '%p %y %s %T@ %m\n' | sort)
}

# ---- running the launcher --------------------------------------------------------------
# The watcher's own limit is the test's (ctest's TIMEOUT).
if [ "$mode" = wine ]; then watcher_start "$watcher" 600; fi

# run_launcher DIR: runs it in DIR; sets $exit_code and $boxes (one "caption|text" per line)
# and checks that nothing outside DIR changed.
run_launcher() {
  local dir=$1 before
  rm -f "$dir/Kalvo3main.report.txt"
  before=$(snapshot_outside "$dir")
  launch "$dir" "$dir/$launcher_name"
  expect_eq "exit code" 0 "$exit_code"
  expect_eq "files outside the installation" "$before" "$(snapshot_outside "$dir")"
}

# The application started, on an intact program and database, and has ended: the next
# run's launcher must not meet it (it still uses its program file a moment after its
# report).
expect_started() {
  local dir=$1
  if ! wait_application "$dir"; then fail "$application_problem"; return; fi
  cmp -s "$dir/Kalvo3main" "$stage/Kalvo3main" || fail "started from a damaged program"
  cmp -s "$dir/KALVO3.IB" "$stage/KALVO3.IB" || fail "started on a damaged or partial database"
}
expect_not_started() {
  no_application "$1" || fail "the application was started"
}

pkg() { printf '%s' "$(as_launcher_path "$1")$(sep)Kalvo3pack"; }
box_error_in_file_processing() { printf 'Kalvo...|Error in file processing : \\r%s' "$(pkg "$1")"; }
box_problem_in_uncompress() { printf 'UnCompress|Problem in UnCompress : \\r%s' "$2"; }
box_file_not_found() { printf 'CopyFile|File not found :\\r%s' "$1"; }

# flip_bit FILE OFFSET: inverts the lowest bit of one byte in place.
flip_bit() {
  local byte
  byte=$(od -An -tu1 -j "$2" -N1 "$1" | tr -d ' ')
  printf "$(printf '\\%03o' $((byte ^ 1)))" | dd of="$1" bs=1 seek="$2" conv=notrunc status=none
}
u32_at() { od -An -tu4 -j "$2" -N4 "$1" | tr -d ' '; }
put_u32() {  # FILE OFFSET VALUE (little-endian)
  local v=$3
  printf "$(printf '\\%03o\\%03o\\%03o\\%03o' $((v & 255)) $(((v >> 8) & 255)) $(((v >> 16) & 255)) $(((v >> 24) & 255)))" |
    dd of="$1" bs=1 seek="$2" conv=notrunc status=none
}

# cut_entry_data ARCHIVE OUT: keeps the first half of the (only) entry's data, then the
# central directory and end record as they were, with the central directory's offset
# mended: the directory is sound, the entry's data is shorter than it says.
cut_entry_data() {
  local size eocd cd_start keep
  size=$(stat -c %s "$1")
  eocd=$((size - 22))
  cd_start=$(u32_at "$1" $((eocd + 16)))
  keep=$((cd_start / 2))
  head -c "$keep" "$1" > "$2"
  tail -c $((size - cd_start)) "$1" >> "$2"
  put_u32 "$2" $((keep + size - cd_start - 22 + 16)) "$keep"
}

# ---- scenarios --------------------------------------------------------------------------
I=$work/shop
program_size=$(stat -c %s "$stage/program.zip")

scenario="intact installation (control)"
make_install "$I"
run_launcher "$I"
expect_eq "boxes" "" "$boxes"
expect_started "$I"

scenario="zero-length program package"
make_install "$I"
: > "$I/Kalvo3pack"
run_launcher "$I"
expect_eq "boxes" "$(box_problem_in_uncompress "$I" "Incomplete Zip File")
$(box_error_in_file_processing "$I")" "$boxes"
expect_not_started "$I"
[ -e "$I/Kalvo3main" ] && fail "a program was unpacked"

for cut in 21 $((program_size / 2)) $((program_size - 1)); do
  scenario="program package truncated to $cut bytes"
  make_install "$I"
  truncate -s "$cut" "$I/Kalvo3pack"
  run_launcher "$I"
  expect_eq "boxes" "$(box_problem_in_uncompress "$I" "Incomplete Zip File")
$(box_error_in_file_processing "$I")" "$boxes"
  expect_not_started "$I"
  [ -e "$I/Kalvo3main" ] && fail "a program was unpacked"
done

scenario="truncated program package, intact newer upgrade copy"
make_install "$I"
truncate -s $((program_size / 2)) "$I/Kalvo3pack"
touch -d "2024-03-01 10:00:00" "$I/Kalvo3pack"
cp -p "$upgrade/Kalvo3pack" "$harness/upgrade.keep"
touch -d "2025-01-01 08:00:00" "$upgrade/Kalvo3pack"
run_launcher "$I"
expect_eq "boxes" "" "$boxes"
expect_started "$I"
cmp -s "$I/Kalvo3pack" "$stage/program.zip" || fail "the package was not refreshed"
cp -p "$harness/upgrade.keep" "$upgrade/Kalvo3pack"

scenario="bit flip in the program's data"
make_install "$I"
flip_bit "$I/Kalvo3pack" $((program_size / 2))
run_launcher "$I"
expect_eq "boxes" "$(box_error_in_file_processing "$I")" "$boxes"
expect_not_started "$I"
[ -e "$I/Kalvo3main" ] && fail "a damaged program was left unpacked"

scenario="program package replaced by a directory"
make_install "$I"
rm "$I/Kalvo3pack"
mkdir "$I/Kalvo3pack"
run_launcher "$I"
expect_eq "boxes" "$(box_error_in_file_processing "$I")" "$boxes"
expect_not_started "$I"
[ -d "$I/Kalvo3pack" ] || fail "the directory was removed"
ls "$I"/Kalvo3pack.*.incoming >/dev/null 2>&1 && fail "a temporary copy was left behind"

scenario="database package replaced by a directory"
make_install "$I"
rm "$I/Volka.bpl"
mkdir "$I/Volka.bpl"
run_launcher "$I"
expect_eq "boxes" "$(box_error_in_file_processing "$I")" "$boxes"
expect_not_started "$I"
[ -e "$I/KALVO3.IB" ] && fail "a database appeared"

scenario="zero-length database package"
make_install "$I"
: > "$I/Volka.bpl"
run_launcher "$I"
expect_eq "boxes" "$(box_problem_in_uncompress "$I" "Incomplete Zip File")
$(box_error_in_file_processing "$I")" "$boxes"
expect_not_started "$I"
[ -e "$I/KALVO3.IB" ] && fail "a database appeared"

for kind in stored deflated; do
  scenario="database entry truncated ($kind), then the package mended"
  make_install "$I"
  if [ $kind = stored ]; then src=$stage/database_stored.zip; else src=$stage/database.zip; fi
  cut_entry_data "$src" "$I/Volka.bpl"
  for attempt in 1 2; do
    run_launcher "$I"
    # The short data fails the CRC check (stored) or the decoder; a decoder that runs out
    # of archive first reports the premature end as well.
    premature="$(box_problem_in_uncompress "$I" "Premature end of file reached")
$(box_error_in_file_processing "$I")"
    if [ "$boxes" != "$(box_error_in_file_processing "$I")" ] && [ "$boxes" != "$premature" ]; then
      fail "boxes (run $attempt)"; printf '   actual: %q\n' "$boxes"
    fi
    expect_not_started "$I"
    [ -e "$I/KALVO3.IB" ] && fail "a partial database was left behind (run $attempt)"
  done
  cp "$src" "$I/Volka.bpl"
  run_launcher "$I"
  expect_eq "boxes" "" "$boxes"
  expect_started "$I"
done

scenario="program path occupied by a directory"
make_install "$I"
mkdir -p "$I/Kalvo3main/inside"
run_launcher "$I"
case "$boxes" in
  "$(box_problem_in_uncompress "$I" "Cannot create file")"*"$(box_error_in_file_processing "$I")") ;;
  *) fail "boxes"; printf '   actual: %q\n' "$boxes" ;;
esac
expect_not_started "$I"
[ -d "$I/Kalvo3main/inside" ] || fail "the directory's content was touched"

scenario="database path occupied by a directory"
make_install "$I"
mkdir -p "$I/KALVO3.IB"
run_launcher "$I"
case "$boxes" in
  "$(box_problem_in_uncompress "$I" "Cannot create file")"*"$(box_error_in_file_processing "$I")") ;;
  *) fail "boxes"; printf '   actual: %q\n' "$boxes" ;;
esac
expect_not_started "$I"

scenario="NET.INF of binary garbage"
make_install "$I"
# (bytes of a program, without the "[", "]" and "=" that could make a section or key)
head -c 4096 "$standin" | tr -d '\133\135\075' > "$I/NET.INF"
run_launcher "$I"
# No upgrade location is found: no refresh, and no box.
expect_eq "boxes" "" "$boxes"
expect_started "$I"

scenario="NET.INF is a directory"
make_install "$I"
rm "$I/NET.INF"
mkdir "$I/NET.INF"
run_launcher "$I"
expect_eq "boxes" "" "$boxes"
expect_started "$I"

scenario="NET.INF names a directory"
make_install "$I"
printf '[DB]\r\nUpgrade=%s\r\n' "$(as_launcher_path "$outside")" > "$I/NET.INF"
run_launcher "$I"
expect_eq "boxes" "$(box_file_not_found "$(as_launcher_path "$outside")")" "$boxes"
expect_started "$I"

scenario="NET.INF value longer than the profile buffer"
make_install "$I"
long=$(printf 'x%.0s' $(seq 1 3000))
printf '[DB]\r\nUpgrade=%s\r\n' "$long" > "$I/NET.INF"
run_launcher "$I"
expect_eq "boxes" "$(box_file_not_found "${long:0:2047}")" "$boxes"
expect_started "$I"

scenario="NET.INF with zero bytes and no line ends"
make_install "$I"
printf '[DB]\0Upgrade=\0%s' "$(as_launcher_path "$upgrade/Kalvo3pack")" > "$I/NET.INF"
run_launcher "$I"
case "$boxes" in
  "" | "CopyFile|File not found :\\r"*) ;;
  *) fail "boxes"; printf '   actual: %q\n' "$boxes" ;;
esac
expect_started "$I"

# ---- a sweep of single bit flips (natively: each run takes milliseconds) ----------------
# Whatever byte is damaged: exit code 0, only the boxes a failed unpack may show, nothing
# outside the installation touched, and the application started only on intact files.
if [ "$mode" = native ]; then
  allowed_box() {
    case "$1" in
      "UnCompress|Problem in UnCompress : \\r"*) return 0 ;;
      "$(box_error_in_file_processing "$I")") return 0 ;;
      "Zip Error|Unknown Compression Method") return 0 ;;
    esac
    return 1
  }
  sweep() {  # PACKAGE_NAME SOURCE
    local size offsets=() o
    size=$(stat -c %s "$2")
    for ((o = 0; o < 64 && o < size; o += 4)); do offsets+=("$o"); done
    for ((o = 64; o < size - 200; o += (size - 264) / 16 + 1)); do offsets+=("$o"); done
    for ((o = size > 200 ? size - 200 : 0; o < size; o += 8)); do offsets+=("$o"); done
    make_install "$I"
    for o in "${offsets[@]}"; do
      scenario="bit flip at byte $o of $1"
      reset_install "$I"
      flip_bit "$I/$1" "$o"
      run_launcher "$I"
      while IFS= read -r line; do
        [ -z "$line" ] || allowed_box "$line" || fail "unexpected box: $line"
      done <<< "$boxes"
      if [ -z "$boxes" ]; then
        expect_started "$I"  # a harmless flip (a date, an unused field): intact files
      else
        expect_not_started "$I"
        [ -e "$I/KALVO3.IB" ] && fail "a database was left by a failed run"
      fi
      [ -e "$I/Kalvo3main" ] && ! cmp -s "$I/Kalvo3main" "$stage/Kalvo3main" && fail "a damaged program was unpacked"
    done
  }
  sweep Kalvo3pack "$stage/program.zip"
  sweep Volka.bpl "$stage/database.zip"
fi

e2e_end "all corrupted-installation scenarios passed ($mode)"
