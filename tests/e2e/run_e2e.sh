#!/usr/bin/env bash
# The launcher end to end on real installations made with Info-ZIP zip:
#   run_e2e.sh native KALV3 STANDIN            (Linux: boxes are "caption: text" on stderr)
#   run_e2e.sh wine KALV3_EXE STANDIN_EXE WATCHER_EXE HOLDER_EXE   (Windows build under Wine)
# Each scenario checks the exit code, the boxes (caption and text, in order), the files of
# the installation and what the stand-in application received. Bounded in time: every
# wait has a limit.
set -uo pipefail
mode=$1 launcher=$2 standin=$3 watcher=${4:-} file_holder=${5:-}
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=harness.sh
source "$here/harness.sh"
# shellcheck source=../support/zip_refusing.sh
source "$here/../support/zip_refusing.sh"
e2e_begin kalv-e2e "$@"

# ---- packages ---------------------------------------------------------------------------
stage=$work/stage
mkdir -p "$stage"
cp "$standin" "$stage/Kalvo3main"
echo "database of the shop, version 1" > "$stage/KALVO3.IB"
echo "2" > "$stage/VERSION"
(
  cd "$stage"
  zip -q -X -j -P "$password" program.zip Kalvo3main
  zip -q -X -j -P "$password" program_v2.zip Kalvo3main VERSION
  zip -q -X -j -P "$password" database.zip KALVO3.IB
  zip_refusing wrong.zip not-the-password "$password" Kalvo3main
)

# ---- running the launcher --------------------------------------------------------------
# A stand-in told to stay holds the application's mutex until it is released, at the
# latest when the test would be over.
standin_stay=900
# The watcher's own limit is the test's (ctest's TIMEOUT).
if [ "$mode" = wine ]; then watcher_start "$watcher" 900; fi

# run_launcher DIR CWD [ARGS...]: sets $exit_code and $boxes (one "caption|text" per line).
run_launcher() {
  local dir=$1 cwd=$2
  shift 2
  rm -f "$dir/Kalvo3main.report.txt"
  launch "$cwd" "$dir/$launcher_name" "$@"
  # The run's block of the log holds the boxes the user saw (the log writes a box's
  # carriage return as \x0D, the watcher as \r).
  local logged
  logged=$(tr -d '\r' < "$dir/Kalv3.log" 2>/dev/null |
    awk '/^=== / { n = 0 } /^box / { b[n++] = substr($0, 5) } END { for (i = 0; i < n; i++) print b[i] }' |
    sed -e 's/ | /|/' -e 's/\\x0D/\\r/g')
  expect_eq "boxes in the run log" "$boxes" "$logged"
}

report_field() { sed -n "s/^$2: //p" "$1/Kalvo3main.report.txt" | tr -d '\r'; }
# Every file but the run log, which every run appends to.
snapshot() { (cd "$1" && find . ! -name Kalv3.log -printf '%p %s %T@\n' | sort); }

# The application started on DIR with the token PLAIN and the second argument SECOND;
# it has ended, so that the next scenario's launcher does not meet it.
expect_started() {  # DIR PLAIN SECOND
  if ! wait_application "$1"; then fail "$application_problem"; return; fi
  expect_eq "decrypted token" "$2" "$(report_field "$1" "plain text")"
  expect_eq "second argument" "$3" "$(report_field "$1" "second argument")"
}
expect_not_started() {
  no_application "$1" || fail "the application was started"
}

# ---- the Windows executable itself -------------------------------------------------------
if [ "$mode" = wine ]; then
  scenario="Kalv3.exe resources"
  objdump=$(command -v x86_64-w64-mingw32-objdump || command -v objdump)
  headers=$("$objdump" -p "$launcher")
  grep -q 'Subsystem.*(Windows GUI)' <<< "$headers" || fail "not a GUI-subsystem program"
  grep -aq 'level="asInvoker"' "$launcher" || fail "no asInvoker manifest"
  wide=$(strings -el "$launcher")
  for text in FileVersion OriginalFilename "Kalvo..." "Can run only one instance of the program !"; do
    grep -qF -- "$text" <<< "$wide" || fail "no resource text '$text'"
  done
fi

# ---- scenarios --------------------------------------------------------------------------
A=$work/shop
UP=$work/upgrade
mkdir -p "$UP"
install_shop "$A" "$UP/Kalvo3pack"
cp -p "$A/Kalvo3pack" "$UP/Kalvo3pack"
db_path="$(as_launcher_path "$A")$(sep)KALVO3.IB"

scenario="first run"
run_launcher "$A" "$A" ARG1
expect_eq "exit code" 0 "$exit_code"
expect_eq "boxes" "" "$boxes"
expect_started "$A" "[SECTION],DBpath=$db_path," "ARG1"
expect_eq "DBpath" "$db_path" "$(report_field "$A" DBpath)"
cmp -s "$A/KALVO3.IB" "$stage/KALVO3.IB" || fail "database not unpacked"

scenario="second run"
echo "the shop's own data" > "$A/KALVO3.IB"
run_launcher "$A" "$A"
expect_eq "exit code" 0 "$exit_code"
expect_eq "boxes" "" "$boxes"
expect_started "$A" "[SECTION],DBpath=$db_path," ""
expect_eq "database untouched" "the shop's own data" "$(cat "$A/KALVO3.IB")"

scenario="newer upgrade copy"
cp "$stage/program_v2.zip" "$UP/Kalvo3pack"
touch -d "2025-06-01 09:00:00" "$UP/Kalvo3pack"
run_launcher "$A" "$A"
expect_eq "exit code" 0 "$exit_code"
expect_eq "boxes" "" "$boxes"
expect_started "$A" "[SECTION],DBpath=$db_path," ""
cmp -s "$A/Kalvo3pack" "$UP/Kalvo3pack" || fail "package not refreshed"
expect_eq "refreshed package keeps the upgrade copy's time" "$(stat -c %Y "$UP/Kalvo3pack")" "$(stat -c %Y "$A/Kalvo3pack")"
[ -e "$A/Kalvo3pack.incoming" ] && fail "temporary copy left behind"

for age in same older; do
  scenario="$age-age upgrade copy"
  cp "$stage/program.zip" "$A/Kalvo3pack"
  cp "$stage/program_v2.zip" "$UP/Kalvo3pack"
  touch -d "2024-03-01 10:00:00" "$A/Kalvo3pack"
  if [ $age = same ]; then touch -d "2024-03-01 10:00:01" "$UP/Kalvo3pack"; else touch -d "2023-01-01" "$UP/Kalvo3pack"; fi
  run_launcher "$A" "$A"
  expect_eq "exit code" 0 "$exit_code"
  expect_eq "boxes" "" "$boxes"
  expect_started "$A" "[SECTION],DBpath=$db_path," ""
  cmp -s "$A/Kalvo3pack" "$stage/program.zip" || fail "package replaced by a copy that is not newer"
done

scenario="missing package"
B=$work/empty
install_shop "$B" "$work/nowhere/Kalvo3pack"
rm "$B/Kalvo3pack"
run_launcher "$B" "$B"
expect_eq "exit code" 0 "$exit_code"
expect_eq "boxes" "CopyFile|File not found :\\r$(as_launcher_path "$work/nowhere/Kalvo3pack")
Kalvo...|Error in file processing : \\r$(as_launcher_path "$B")$(sep)Kalvo3pack" "$boxes"
expect_not_started "$B"

scenario="wrong password"
C=$work/wrong
install_shop "$C" "$C/Kalvo3pack"
cp "$stage/wrong.zip" "$C/Kalvo3pack"
run_launcher "$C" "$C"
expect_eq "exit code" 0 "$exit_code"
expect_eq "boxes" "Kalvo...|Error in file processing : \\r$(as_launcher_path "$C")$(sep)Kalvo3pack" "$boxes"
expect_not_started "$C"
[ -e "$C/Kalvo3main" ] && fail "a program was left from a wrong password"

scenario="application already running"
R=$work/running
mkdir -p "$R"
cp "$standin" "$R/"
if [ "$mode" = wine ]; then
  (cd "$R" && KALV_STANDIN_STAY_SECONDS=$standin_stay wine "$R/$(basename "$standin")" >/dev/null 2>&1) &
else
  (cd "$R" && KALV_STANDIN_STAY_SECONDS=$standin_stay "$R/$(basename "$standin")") &
fi
holder=$!
wait_for_file "$R/Kalvo3main.report.txt.holding" || fail "the stand-in did not start"
rm -f "$A/Kalvo3main.report.txt"
before=$(snapshot "$A")
run_launcher "$A" "$A"
expect_eq "exit code" 0 "$exit_code"
expect_eq "boxes" "Kalv|Can run only one instance of the program !" "$boxes"
expect_eq "files" "$before" "$(snapshot "$A")"
touch "$R/Kalvo3main.report.txt.release"
wait "$holder"

scenario="DummyFile in the current directory"
D=$work/cwd
mkdir -p "$D"
printf '[Shop]\r\nuser=anna\r\n' > "$D/DummyFile"
run_launcher "$A" "$D"
expect_eq "exit code" 0 "$exit_code"
expect_started "$A" "[Shop],user=anna,,[SECTION],DBpath=$db_path," ""
expect_eq "DummyFile unchanged" "$(printf '[Shop]\r\nuser=anna\r\n')" "$(cat "$D/DummyFile")"

scenario="blank in the installation path"
S="$work/My Shop"
install_shop "$S" "$S/Kalvo3pack"
# Started through the unquoted path, Windows would take "$work/My.exe" first.
cp "$standin" "$work/My.exe"
run_launcher "$S" "$S" "two words"
expect_eq "exit code" 0 "$exit_code"
expect_eq "boxes" "" "$boxes"
blank_db="$(as_launcher_path "$S")$(sep)KALVO3.IB"
expect_started "$S" "[SECTION],\"DBpath=$blank_db\"," "two"
expect_eq "DBpath" "$blank_db" "$(report_field "$S" DBpath)"
[ -f "$work/Kalvo3main.report.txt" ] && fail "the program beside the folder was started"

# ---- a shop's installation is never lost ---------------------------------------------
# Each scenario starts from installation F with the program package dated 2024.
F=$work/safe
FUP=$work/safe-upgrade
mkdir -p "$FUP"
fresh_install() {  # with an upgrade copy of the same age: nothing to fetch, nothing to tell
  rm -rf "$F" "$FUP/Kalvo3pack"
  install_shop "$F" "$FUP/Kalvo3pack"
  cp -p "$F/Kalvo3pack" "$FUP/Kalvo3pack"
}
f_db="$(as_launcher_path "$F")$(sep)KALVO3.IB"
expect_clean_start() {  # the application started on F, no box, no temporary file left
  expect_eq "exit code" 0 "$exit_code"
  expect_eq "boxes" "" "$boxes"
  expect_started "$F" "[SECTION],DBpath=$f_db," ""
  leftovers=$(cd "$F" && ls -d ./*.partial ./*.incoming 2>/dev/null)
  expect_eq "temporary files" "" "$leftovers"
}

for when in "1979-06-01 08:00" "2108-02-01 08:00"; do
  scenario="database dated $when"
  fresh_install
  echo "the shop's data of $when" > "$F/KALVO3.IB"
  touch -d "$when" "$F/KALVO3.IB"
  run_launcher "$F" "$F"
  expect_clean_start
  expect_eq "database kept" "the shop's data of $when" "$(cat "$F/KALVO3.IB")"
done

for ages in "2045 2025 kept" "2025 2045 fetched"; do
  read -r local_year upgrade_year outcome <<< "$ages"
  scenario="local package of $local_year, upgrade copy of $upgrade_year"
  fresh_install
  touch -d "$local_year-01-01 10:00" "$F/Kalvo3pack"
  cp "$stage/program_v2.zip" "$FUP/Kalvo3pack"
  touch -d "$upgrade_year-01-01 10:00" "$FUP/Kalvo3pack"
  run_launcher "$F" "$F"
  expect_clean_start
  if [ "$outcome" = fetched ]; then
    cmp -s "$F/Kalvo3pack" "$stage/program_v2.zip" || fail "newer package not fetched"
  else
    cmp -s "$F/Kalvo3pack" "$stage/program.zip" || fail "package replaced by an older copy"
  fi
done

for damage in truncated bit-flipped; do
  scenario="$damage newer upgrade copy"
  fresh_install
  size=$(stat -c %s "$stage/program_v2.zip")
  if [ "$damage" = truncated ]; then
    head -c $((size / 2)) "$stage/program_v2.zip" > "$FUP/Kalvo3pack"
  else
    cp "$stage/program_v2.zip" "$FUP/Kalvo3pack"
    offset=$((size / 3))
    byte=$(od -An -tu1 -j "$offset" -N1 "$FUP/Kalvo3pack" | tr -d ' ')
    printf "$(printf '\\%03o' $((byte ^ 16)))" | dd of="$FUP/Kalvo3pack" bs=1 seek="$offset" conv=notrunc 2>/dev/null
  fi
  touch -d "2026-01-01 10:00" "$FUP/Kalvo3pack"
  run_launcher "$F" "$F"
  expect_clean_start
  cmp -s "$F/Kalvo3pack" "$stage/program.zip" || fail "a damaged package was installed"
done

scenario="publish in progress, then finished with its older build time"
fresh_install
head -c 3000 "$stage/program_v2.zip" > "$FUP/Kalvo3pack"  # half copied, dated now
run_launcher "$F" "$F"
expect_clean_start
cmp -s "$F/Kalvo3pack" "$stage/program.zip" || fail "the half-published package was installed"
cp "$stage/program_v2.zip" "$FUP/Kalvo3pack"
touch -d "2025-06-01 09:00" "$FUP/Kalvo3pack"  # cp -p keeps the build time
run_launcher "$F" "$F"
expect_clean_start
cmp -s "$F/Kalvo3pack" "$stage/program_v2.zip" || fail "the finished package was not fetched"

scenario="read-only program, three runs"
fresh_install
mkdir -p "$stage/readonly"
cp "$stage/Kalvo3main" "$stage/readonly/"
chmod a-w "$stage/readonly/Kalvo3main"
(cd "$stage" && zip -q -X -j -P "$password" readonly.zip readonly/Kalvo3main)
cp "$stage/readonly.zip" "$F/Kalvo3pack"  # dated now: newer than its upgrade copy
for run in 1 2 3; do
  run_launcher "$F" "$F"
  expect_clean_start
done

scenario="two launchers started together"
# The loser's box is what there is to wait for; the winner's stand-in holds the
# application's mutex until it is released after that.
boxes_of_both() {
  if [ "$mode" = wine ]; then shown=$(boxes_since "$mark"); else shown=$(sed -e 's/: /|/' "$harness/both.log"); fi
  [ -n "$shown" ]
}
for trial in 1 2 3; do
  fresh_install
  : > "$harness/both.log"
  mark=$(boxes_mark)
  pids=()
  for n in 1 2; do
    if [ "$mode" = wine ]; then
      (cd "$F" && KALV_STANDIN_STAY_SECONDS=$standin_stay timeout "$e2e_run_limit" wine "$F/$launcher_name" >/dev/null 2>&1) &
    else
      (cd "$F" && KALV_STANDIN_STAY_SECONDS=$standin_stay timeout "$e2e_run_limit" "$F/$launcher_name" 2>&1 | grep -v '^splash: ' >> "$harness/both.log") &
    fi
    pids+=($!)
  done
  wait_until "$e2e_patience" boxes_of_both
  touch "$F/Kalvo3main.report.txt.release"
  wait "${pids[@]}"
  expect_eq "boxes (trial $trial)" "Kalv|Can run only one instance of the program !" "$shown"
  wait_application "$F" || fail "$application_problem (trial $trial)"
done

if [ "$mode" = native ]; then
  scenario="stalled upgrade location"
  fresh_install
  rm "$FUP/Kalvo3pack"
  mkfifo "$FUP/Kalvo3pack"
  exec 7<>"$FUP/Kalvo3pack"  # a share that answered and then went quiet
  printf 'PK' >&7
  started=$(date +%s)
  run_launcher "$F" "$F"
  took=$(($(date +%s) - started))
  exec 7>&-
  expect_clean_start
  # Given up, and not before the 30 s without progress. How much later the run ended
  # depends on the machine's load: the run's own limit bounds it.
  tr -d '\r' < "$F/Kalv3.log" | grep -qx 'refresh: not fetched, the copy failed or stalled' ||
    fail "the stalled copy was not given up"
  [ "$took" -ge 30 ] || fail "gave up on the stalled copy after ${took}s, before 30 s without progress"
  cmp -s "$F/Kalvo3pack" "$stage/program.zip" || fail "package changed by a stalled copy"
fi

# ---- files held for a moment (Windows only: POSIX has no mandatory locks) ----------------
if [ "$mode" = wine ]; then
  # hold_then_run FILE MS: another process holds FILE without sharing from just before
  # the launcher starts on F: for MS milliseconds, or with MS "long", until the launcher
  # has ended. A brief hold is over before the launcher's patience with a held file
  # (about 2.5 s from its first attempt, which comes after it has started) is; a long
  # one outlasts it whatever the machine's load.
  hold_then_run() {
    local holder_pid
    rm -f "$harness/held" "$harness/release"
    if [ "$2" = long ]; then
      wine "$file_holder" "$(as_launcher_path "$1")" $((e2e_patience * 100)) "$(as_launcher_path "$harness/held")" \
        "$(as_launcher_path "$harness/release")" >/dev/null 2>&1 &
    else
      wine "$file_holder" "$(as_launcher_path "$1")" "$2" "$(as_launcher_path "$harness/held")" >/dev/null 2>&1 &
    fi
    holder_pid=$!
    wait_for_file "$harness/held" || fail "the holder did not take $1"
    run_launcher "$F" "$F"
    touch "$harness/release"
    wait "$holder_pid"
  }
  f_pack="$(as_launcher_path "$F")$(sep)Kalvo3pack"
  for held in "Kalvo3main 2000" "Kalvo3pack 2000" "upgrade 2000" "Kalvo3main long" "Kalvo3pack long" "upgrade long"; do
    read -r name ms <<< "$held"
    if [ "$ms" = long ]; then scenario="$name held until the launcher has ended"; else scenario="$name held for ${ms} ms"; fi
    fresh_install
    run_launcher "$F" "$F"  # a program from the last run, which has ended before it is held
    expect_clean_start
    target=$F/$name
    if [ "$name" = upgrade ]; then
      cp "$stage/program_v2.zip" "$FUP/Kalvo3pack"
      touch -d "2025-06-01 09:00" "$FUP/Kalvo3pack"
      target=$FUP/Kalvo3pack
    fi
    hold_then_run "$target" "$ms"
    case "$name $ms" in
      "Kalvo3main long")
        expect_eq "boxes" "UnCompress|Problem in UnCompress : \\rCannot create file $(as_launcher_path "$F")$(sep)Kalvo3main
Kalvo...|Error in file processing : \\r$f_pack" "$boxes"
        expect_not_started "$F" ;;
      "Kalvo3pack long")
        expect_eq "boxes" "UnCompress|Problem in UnCompress : \\rCannot open file $f_pack
Kalvo...|Error in file processing : \\r$f_pack" "$boxes"
        expect_not_started "$F" ;;
      *)
        expect_clean_start ;;
    esac
  done
fi

e2e_end "all launcher end-to-end scenarios passed ($mode)"
