#!/usr/bin/env bash
# Publishing while shops start: launchers run one after another on an installation
# while `kalvtool publish` replaces the package at its upgrade location four times.
# Every run must start the application on a whole program (one of the published
# versions, never a mixture), and the last version published is the one installed at
# the end.
#   publish_loop.sh KALVTOOL KALV3 STANDIN [wine]
# Under Wine (kalvtool.exe, Kalv3.exe) no box may appear: the run log must hold none.
set -uo pipefail
tool=$1 launcher=$2 standin=$3 runner=${4:-}
mode=native
[ "$runner" = wine ] && mode=wine
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=harness.sh
source "$here/harness.sh"
e2e_begin kalv-publish-loop "$@"
as_os_path() { as_launcher_path "$@"; }
kalvtool() { $runner "$tool" "$@"; }
# The launchers' loop ends at the stop file.
e2e_script_cleanup() { touch "$work/stop"; wait; }
shop=$work/shop share=$work/share
mkdir -p "$shop" "$share" "$work/versions"

# Four programs that differ: the stand-in with a version trailer (it still runs).
for v in 1 2 3 4; do
  { cat "$standin"; printf 'version %s\n' "$v"; head -c $((v * 300000)) /dev/urandom; } > "$work/versions/$v"
  chmod +x "$work/versions/$v"
done
kalvtool pack "$(as_os_path "$work/versions/1")" "$(as_os_path "$shop/Kalvo3pack")" >/dev/null || fail "pack"
echo "database" > "$work/KALVO3.IB"
kalvtool pack --database "$(as_os_path "$work/KALVO3.IB")" "$(as_os_path "$shop/Volka.bpl")" >/dev/null ||
  fail "pack --database"
touch -d "2024-01-01" "$shop/Kalvo3pack"
cp "$launcher" "$shop/$launcher_name"
printf '[DB]\r\nUpgrade=%s\r\n' "$(as_os_path "$share/Kalvo3pack")" > "$shop/NET.INF"
kalvtool publish "$(as_os_path "$work/versions/1")" "$(as_os_path "$share/Kalvo3pack")" >/dev/null ||
  fail "first publish"

# one_run RUN: one start of the shop, as a user makes it: the launcher, and then the
# application it started until the user closes it (the stand-in closes itself once it
# has reported). The next start comes only after that, as in a shop: a launcher started
# while the application still runs rightly refuses to start it again. What went wrong
# goes to the problems file (the loop runs in a subshell of its own).
one_run() {
  local whole=no v
  rm -f "$shop/Kalvo3main.report.txt"
  (cd "$shop" && timeout "$e2e_run_limit" $runner "$shop/$launcher_name" 2> "$work/run-$1.err")
  wait_application "$shop" || echo "run $1: $application_problem" >> "$work/problems"
  # Read once the application has ended: it writes to the launcher's standard error too.
  [ -z "$runner" ] && grep -v '^splash: ' "$work/run-$1.err" | sed "s/^/run $1: /" >> "$work/problems"
  for v in 1 2 3 4; do cmp -s "$shop/Kalvo3main" "$work/versions/$v" && whole=yes; done
  [ "$whole" = yes ] || echo "run $1: the program is no published version" >> "$work/problems"
}

# The launchers, one after another until told to stop.
(
  n=0
  while [ ! -f "$work/stop" ]; do
    n=$((n + 1))
    one_run "$n"
    # Replaced in one step, so that the count is never read half written.
    echo "$n" > "$work/runs.new" && mv "$work/runs.new" "$work/runs"
  done
) &

# runs_past N: the loop has ended more than N runs.
runs_past() {
  local runs
  runs=$(cat "$work/runs" 2>/dev/null)
  [ "${runs:-0}" -gt "$1" ]
}
# Each publish, and the stop, waits for two more launcher runs to end (the loop's
# count is its ready file), so that launchers start before, during and after every
# replacement. Two runs take at most two launcher runs and their applications' waits.
two_more_runs() {
  local now
  now=$(cat "$work/runs" 2>/dev/null)
  wait_until $((2 * (10 * e2e_run_limit + 2 * e2e_patience))) runs_past "$((${now:-0} + 1))" ||
    fail "the launchers stopped running"
}
for v in 2 3 4; do
  two_more_runs
  kalvtool publish "$(as_os_path "$work/versions/$v")" "$(as_os_path "$share/Kalvo3pack")" >/dev/null ||
    fail "publish of version $v"
done
two_more_runs
touch "$work/stop"
wait
runs=$(cat "$work/runs" 2>/dev/null || echo 0)
[ "$runs" -ge 3 ] || fail "only $runs launcher runs"
# One more start after the last publish installs it.
one_run last
cmp -s "$shop/Kalvo3main" "$work/versions/4" || fail "the newest version is not the one installed"

# Every box any run showed is in the run log.
grep -a '^box ' "$shop/Kalv3.log" | tr -d '\r' | sed 's/^/box shown: /' >> "$work/problems"
[ -s "$work/problems" ] && fail "$(cat "$work/problems")"

e2e_end "publish loop passed: $runs launcher runs during four publishes"
