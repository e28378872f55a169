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
here=$(cd "$(dirname "$0")" && pwd)
launcher_name=kalv3
if [ "$runner" = wine ]; then
  # shellcheck source=/dev/null
  source "$here/../../scripts/wine-env.sh"
  if [ -z "${DISPLAY:-}" ]; then exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"; fi
  launcher_name=Kalv3.exe
fi
as_os_path() { if [ "$runner" = wine ]; then printf 'Z:%s' "${1//\//\\}"; else printf '%s' "$1"; fi; }
kalvtool() { $runner "$tool" "$@"; }
work=$(mktemp -d /tmp/kalv-publish-loop.XXXXXX)
trap 'touch "$work/stop"; wait; rm -rf "$work"' EXIT
shop=$work/shop share=$work/share
mkdir -p "$shop" "$share" "$work/versions"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

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

# The launchers, one after another until told to stop.
(
  n=0
  while [ ! -f "$work/stop" ]; do
    n=$((n + 1))
    rm -f "$shop/Kalvo3main.report.txt"
    (cd "$shop" && timeout 60 $runner "$shop/$launcher_name" 2> "$work/run-$n.err")
    for _ in $(seq 1 200); do [ -f "$shop/Kalvo3main.report.txt" ] && break; sleep 0.05; done
    if [ ! -f "$shop/Kalvo3main.report.txt" ]; then echo "run $n: not started" >> "$work/problems"; fi
    [ -z "$runner" ] && grep -v '^splash: ' "$work/run-$n.err" | sed "s/^/run $n: /" >> "$work/problems"
    whole=no
    for v in 1 2 3 4; do cmp -s "$shop/Kalvo3main" "$work/versions/$v" && whole=yes; done
    [ "$whole" = yes ] || echo "run $n: the program is no published version" >> "$work/problems"
    echo "$n" > "$work/runs"
  done
) &

for v in 2 3 4; do
  sleep 1
  kalvtool publish "$(as_os_path "$work/versions/$v")" "$(as_os_path "$share/Kalvo3pack")" >/dev/null ||
    fail "publish of version $v"
done
sleep 1
touch "$work/stop"
wait

# Every box any run showed is in the run log.
grep -a '^box ' "$shop/Kalv3.log" | tr -d '\r' | sed 's/^/box shown: /' >> "$work/problems"
[ -s "$work/problems" ] && fail "$(cat "$work/problems")"
runs=$(cat "$work/runs" 2>/dev/null || echo 0)
[ "$runs" -ge 3 ] || fail "only $runs launcher runs"
# One more start after the last publish installs it.
(cd "$shop" && timeout 60 $runner "$shop/$launcher_name" 2>/dev/null)
for _ in $(seq 1 200); do [ -f "$shop/Kalvo3main.report.txt" ] && break; sleep 0.05; done
cmp -s "$shop/Kalvo3main" "$work/versions/4" || fail "the newest version is not the one installed"

if [ "$failures" -ne 0 ]; then exit 1; fi
echo "publish loop passed: $runs launcher runs during four publishes"
