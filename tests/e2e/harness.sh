# The end-to-end scripts' common part (run_e2e.sh, publish_loop.sh and
# ../e2e_corrupt/run_corrupt.sh), sourced once they have set `mode`: native (the Linux
# build's kalv3) or wine (the Windows build's programs under Wine). It holds the
# sandbox and work folder (e2e_begin), the checks (fail, expect_eq, e2e_end), the waits,
# the installation from the staged packages, the box watcher and the launcher's runs
# with their boxes. Every wait ends on the event it waits for (a ready file that the
# other side writes, the application's end), never on a fixed sleep; its limit only
# ends a run that is broken, so it is generous: a loaded machine takes many times as
# long as an idle one.

e2e_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
# The packages' password (kalvtool's and the launcher's).
password=k3m8_q7rw_2x4
failures=0
scenario=""
watcher_pid=""

# e2e_begin NAME "$@": re-runs the script inside its sandbox first. Under Wine: the
# shared Wine environment on a virtual display, with a private prefix. Natively: a
# runtime folder of its own ($XDG_RUNTIME_DIR), where the application's mutex and the
# installation lock are lock files: there this run neither sees nor is seen by a
# stand-in that another run on the machine holds.
e2e_begin() {
  local name=$1
  shift
  if [ "$mode" = wine ]; then
    # shellcheck source=../../scripts/wine-env.sh
    source "$e2e_root/scripts/wine-env.sh"
    if [ -z "${DISPLAY:-}" ]; then exec xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" "$@"; fi
    launcher_name=Kalv3.exe
  else
    launcher_name=kalv3
  fi
  work=$(mktemp -d "/tmp/$name.XXXXXX")
  harness=$work/harness
  mkdir -p "$harness"
  if [ "$mode" != wine ]; then
    export XDG_RUNTIME_DIR=$harness/runtime
    mkdir -m 700 "$XDG_RUNTIME_DIR"
  fi
  trap e2e_cleanup EXIT
  if [ "$mode" = wine ]; then e2e_private_prefix; fi
}

# A private Wine prefix, hard-linked from the shared one (instant, no copy): its own
# wineserver and desktop, so the watcher answers only this run's boxes and the
# application's mutex is this run's alone, whatever other Wine programs run on the
# machine. The registry files are real copies, since Wine rewrites them.
e2e_private_prefix() {
  local reg
  if cp -al "$WINEPREFIX" "$harness/prefix" 2>/dev/null; then
    for reg in system.reg user.reg userdef.reg; do
      [ -f "$WINEPREFIX/$reg" ] && cp --remove-destination "$WINEPREFIX/$reg" "$harness/prefix/$reg"
    done
    export WINEPREFIX=$harness/prefix
  else
    rm -rf "$harness/prefix"
  fi
}

# At exit: the script's own clean-up first (e2e_script_cleanup, when it defines one).
e2e_cleanup() {
  if declare -F e2e_script_cleanup >/dev/null; then e2e_script_cleanup; fi
  watcher_stop
  # Only the private prefix's wineserver: never one that other runs share.
  if [ "$mode" = wine ] && [ "$WINEPREFIX" = "$harness/prefix" ]; then wineserver -k 2>/dev/null; fi
  rm -rf "$work"
}

# ---- the checks ------------------------------------------------------------------------
fail() { echo "FAIL${scenario:+ [$scenario]} $*"; failures=$((failures + 1)); }
expect_eq() {  # WHAT EXPECTED ACTUAL
  if [ "$2" != "$3" ]; then fail "$1"; printf '   expected: %q\n   actual:   %q\n' "$2" "$3"; fi
}
# e2e_end TEXT: exit status 1 after any failed check, else TEXT.
e2e_end() {
  if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed ($mode)"
    exit 1
  fi
  echo "$1"
}

# ---- waiting ---------------------------------------------------------------------------
# The limit of a wait for something that is bound to come (a ready file, the stand-in's
# report, a program's end), in tenths of a second, and of one launcher run, in seconds.
e2e_patience=1200
e2e_run_limit=120

# wait_until TENTHS COMMAND...: polls COMMAND every tenth of a second; false when it has
# not succeeded after TENTHS tenths.
wait_until() {
  local limit=$1 i
  shift
  for ((i = 0; i < limit; i++)); do
    "$@" && return 0
    sleep 0.1
  done
  "$@"
}
# wait_for_file FILE [TENTHS]: FILE is the ready file the other side writes once it is
# ready; TENTHS is $e2e_patience unless given.
wait_for_file() { wait_until "${2:-$e2e_patience}" test -e "$1"; }

# ---- the stand-in application -------------------------------------------------------------
# The stand-in started from DIR/Kalvo3main writes DIR/Kalvo3main.report.txt once it has
# read its start, and lets the application's mutex go just before. It still runs a
# moment after that: a launcher started on DIR meanwhile finds the program it must
# replace still in use (under Wine), and two runs overlap where the shop's starts
# follow one another. Its image stays mapped (natively and under Wine, also once the
# file is replaced) until it has ended, so /proc tells.
standin_gone() { ! grep -qsF -- "$1/Kalvo3main" /proc/[0-9]*/maps; }
# wait_application DIR: the application started on DIR has reported and ended; else
# false, with what went wrong in $application_problem.
wait_application() {
  application_problem=""
  if ! wait_for_file "$1/Kalvo3main.report.txt"; then
    application_problem="the application was not started"
  elif ! wait_until "$e2e_patience" standin_gone "$1"; then
    application_problem="the application did not end"
  fi
  [ -z "$application_problem" ]
}
# no_application DIR: the launcher that has just ended on DIR started no program. It
# waits for nothing: a started stand-in is running by the time its launcher ends (the
# native start returns once the program runs, the Windows one once it is ready for
# input) and has reported when it no longer runs; and the run log names every start.
no_application() {
  [ ! -e "$1/Kalvo3main.report.txt" ] && standin_gone "$1" &&
    ! tr -d '\r' 2>/dev/null < "$1/Kalv3.log" | awk '/^=== / { s = 0 } /^start .*: started$/ { s = 1 } END { exit !s }'
}

# ---- paths, installations and the launcher ----------------------------------------------
# Paths as the launcher sees them: native, or Wine's Z: drive; a URL stays as it is.
as_launcher_path() {
  if [ "$mode" = wine ] && [[ $1 != *://* ]]; then printf 'Z:%s' "${1//\//\\}"; else printf '%s' "$1"; fi
}
sep() { if [ "$mode" = wine ]; then printf '\\'; else printf '/'; fi; }

# stage_packages: $stage (under $work) with the stand-in as Kalvo3main and, made by
# Info-ZIP zip, program.zip, program_v2.zip (the stand-in and a VERSION file; newer) and
# database.zip.
stage_packages() {
  stage=$work/stage
  mkdir -p "$stage"
  cp "$standin" "$stage/Kalvo3main"
  echo "database of the shop" > "$stage/KALVO3.IB"
  echo "2" > "$stage/VERSION"
  (
    cd "$stage" || exit 1
    zip -q -X -j -P "$password" program.zip Kalvo3main
    zip -q -j -P "$password" program_v2.zip Kalvo3main VERSION
    zip -q -X -j -P "$password" database.zip KALVO3.IB
  )
}
# put_packages DIR UPGRADE_FILE: $stage's program.zip and database.zip as the program and
# database packages, both dated 2024, and NET.INF naming UPGRADE_FILE.
put_packages() {
  cp "$stage/program.zip" "$1/Kalvo3pack"
  cp "$stage/database.zip" "$1/Volka.bpl"
  touch -d "2024-03-01 10:00:00" "$1/Kalvo3pack" "$1/Volka.bpl"
  printf '[DB]\r\nUpgrade=%s\r\n' "$(as_launcher_path "$2")" > "$1/NET.INF"
}
# install_shop DIR UPGRADE_FILE: the launcher itself ($launcher) beside them.
install_shop() {
  mkdir -p "$1"
  cp "$launcher" "$1/$launcher_name"
  put_packages "$1" "$2"
}

# watcher_start WATCHER_EXE SECONDS: the box watcher logs every box of this run's Wine
# (one "caption|text" line each) to $harness/boxes.log and presses its first button,
# until watcher_stop or SECONDS. Its ready file says it is watching: a box shown before
# would wait for an answer until the run's time-out.
watcher_start() {
  : > "$harness/boxes.log"
  wine "$1" "$(as_launcher_path "$harness/boxes.log")" "$(as_launcher_path "$harness/watcher.stop")" "$2" \
    "$(as_launcher_path "$harness/watcher.ready")" >/dev/null 2>&1 &
  watcher_pid=$!
  wait_for_file "$harness/watcher.ready" || fail "the box watcher did not start"
}
watcher_stop() {
  [ -n "$watcher_pid" ] || return 0
  touch "$harness/watcher.stop"
  wait "$watcher_pid" 2>/dev/null
  watcher_pid=""
}
# The watcher's log so far, as a mark for boxes_since.
boxes_mark() { if [ -f "$harness/boxes.log" ]; then wc -l < "$harness/boxes.log"; else echo 0; fi; }
boxes_since() { tail -n +"$(($1 + 1))" "$harness/boxes.log"; }

# launch CWD PROGRAM [ARGS...]: runs PROGRAM in CWD (under Wine in wine mode) for at most
# $e2e_run_limit seconds; sets exit_code, and boxes: one "caption|text" line per box it
# showed (from the watcher's log under Wine; natively from standard error, without the
# splash's lines).
launch() {
  local cwd=$1 mark
  shift
  if [ "$mode" = wine ]; then
    mark=$(boxes_mark)
    (cd "$cwd" && timeout "$e2e_run_limit" wine "$@" >/dev/null 2>&1)
    exit_code=$?
    boxes=$(boxes_since "$mark")
  else
    (cd "$cwd" && timeout "$e2e_run_limit" "$@" 2> "$harness/stderr")
    exit_code=$?
    boxes=$(grep -v '^splash: ' "$harness/stderr" | sed -e 's/\r/\\r/g' -e 's/: /|/')
  fi
}
