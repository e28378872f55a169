#!/usr/bin/env bash
# Publishing while shops start: launchers run one after another on an installation
# while `kalvtool publish` replaces the package at its upgrade location four times.
# Every run must start the application on a whole program (one of the published
# versions, never a mixture), and the last version published is the one installed at
# the end.
#   publish_loop.sh KALVTOOL KALV3 STANDIN
set -uo pipefail
tool=$1 launcher=$2 standin=$3
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
"$tool" pack "$work/versions/1" "$shop/Kalvo3pack" >/dev/null || fail "pack"
echo "database" > "$work/KALVO3.IB"
"$tool" pack --database "$work/KALVO3.IB" "$shop/Volka.bpl" >/dev/null || fail "pack --database"
touch -d "2024-01-01" "$shop/Kalvo3pack"
cp "$launcher" "$shop/kalv3"
printf '[DB]\nUpgrade=%s\n' "$share/Kalvo3pack" > "$shop/NET.INF"
"$tool" publish "$work/versions/1" "$share/Kalvo3pack" >/dev/null || fail "first publish"

# The launchers, one after another until told to stop.
(
  n=0
  while [ ! -f "$work/stop" ]; do
    n=$((n + 1))
    rm -f "$shop/Kalvo3main.report.txt"
    (cd "$shop" && timeout 60 ./kalv3 2> "$work/run-$n.err")
    for _ in $(seq 1 200); do [ -f "$shop/Kalvo3main.report.txt" ] && break; sleep 0.05; done
    if [ ! -f "$shop/Kalvo3main.report.txt" ]; then echo "run $n: not started" >> "$work/problems"; fi
    grep -v '^splash: ' "$work/run-$n.err" | sed "s/^/run $n: /" >> "$work/problems"
    whole=no
    for v in 1 2 3 4; do cmp -s "$shop/Kalvo3main" "$work/versions/$v" && whole=yes; done
    [ "$whole" = yes ] || echo "run $n: the program is no published version" >> "$work/problems"
    echo "$n" > "$work/runs"
  done
) &

for v in 2 3 4; do
  sleep 1
  "$tool" publish "$work/versions/$v" "$share/Kalvo3pack" >/dev/null || fail "publish of version $v"
done
sleep 1
touch "$work/stop"
wait

[ -s "$work/problems" ] && fail "$(cat "$work/problems")"
runs=$(cat "$work/runs" 2>/dev/null || echo 0)
[ "$runs" -ge 5 ] || fail "only $runs launcher runs"
# One more start after the last publish installs it.
(cd "$shop" && timeout 60 ./kalv3 2>/dev/null)
cmp -s "$shop/Kalvo3main" "$work/versions/4" || fail "the newest version is not the one installed"

if [ "$failures" -ne 0 ]; then exit 1; fi
echo "publish loop passed: $runs launcher runs during four publishes"
