#!/usr/bin/env bash
# A load run of upgrades from a URL: SHOPS installations, each started STARTS times one
# start after another (the launcher, then the application until it ends), all against
# one local package server (tests/web/package_server.py); halfway through, `kalvtool
# publish` puts a new version into the served folder. Reports what the server saw
# (requests by status, bytes in and out), what an unchanged start costs (the 304's
# bytes, the exchange's time from the run logs) and whether every start ran a whole
# program, old or new. Not part of the test run: it takes minutes.
#   bench/web_load.sh [BUILD_DIR] [SHOPS] [STARTS] [http|https]
#     BUILD_DIR: a native build (default build/native); SHOPS: 4; STARTS: 75 (per shop)
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/native}" && pwd) || exit 2
shops=${2:-4} starts=${3:-75} scheme=${4:-http}
launcher=$build/app/launcher/kalv3 tool=$build/app/kalvtool standin=$build/app/standin/Kalvo3main
for f in "$launcher" "$tool" "$standin"; do [ -x "$f" ] || { echo "no $f: build kalv3 kalvtool kalv_standin"; exit 2; }; done
mode=native
# shellcheck source=../tests/e2e/harness.sh
source "$root/tests/e2e/harness.sh"
e2e_begin kalv-web-load "$@"
server_pid=""
e2e_script_cleanup() { [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null; }

# Two programs that differ: the stand-in with a version trailer (it still runs).
for v in 1 2; do
  { cat "$standin"; printf 'version %s\n' "$v"; head -c $((v * 200000)) /dev/urandom; } > "$work/v$v"
  chmod +x "$work/v$v"
done
served=$work/served
mkdir -p "$served"
"$tool" publish "$work/v1" "$served/Kalvo3pack" >/dev/null 2>&1 || { echo "publish v1 failed"; exit 1; }
args=()
if [ "$scheme" = https ]; then
  "$root/tests/web/make_test_ca.sh" "$work/ca" >/dev/null 2>&1 || { echo "no test CA"; exit 1; }
  export CURL_CA_BUNDLE=$work/ca/ca.pem
  args=(--tls "$work/ca/server.pem" "$work/ca/server.key")
fi
python3 "$root/tests/web/package_server.py" --root "$served" --port-file "$work/port" --log "$work/server.log" \
  "${args[@]}" &
server_pid=$!
wait_for_file "$work/port" || { echo "the server did not start"; exit 1; }
url="$scheme://127.0.0.1:$(cat "$work/port")/Kalvo3pack"

echo "database" > "$work/KALVO3.IB"
for s in $(seq "$shops"); do
  d=$work/shop$s
  mkdir -p "$d" "$work/runtime$s"
  chmod 700 "$work/runtime$s"
  "$tool" pack "$work/v1" "$d/Kalvo3pack" >/dev/null 2>&1 && "$tool" pack --database "$work/KALVO3.IB" "$d/Volka.bpl" >/dev/null ||
    { echo "pack failed"; exit 1; }
  touch -d "2024-01-01" "$d/Kalvo3pack"
  cp "$launcher" "$d/kalv3"
  printf '[DB]\r\nUpgrade=%s\r\n' "$url" > "$d/NET.INF"
done

# shop_loop S: STARTS starts of shop S, each in its own runtime folder (the application's
# mutex is per shop, as on separate PCs); the first half before the publish, the rest after.
shop_loop() {
  local s=$1 d=$work/shop$1 n v whole
  export XDG_RUNTIME_DIR=$work/runtime$s
  for n in $(seq "$starts"); do
    [ "$n" -eq $((starts / 2 + 1)) ] && { touch "$work/half$s"; wait_until 6000 test -e "$work/published"; }
    rm -f "$d/Kalvo3main.report.txt"
    (cd "$d" && timeout 120 ./kalv3 2>/dev/null)
    wait_application "$d" || echo "shop $s start $n: $application_problem" >> "$work/problems"
    whole=no
    for v in 1 2; do cmp -s "$d/Kalvo3main" "$work/v$v" && whole=yes; done
    [ "$whole" = yes ] || echo "shop $s start $n: the program is no published version" >> "$work/problems"
  done
}

began=$(date +%s.%N)
pids=()
for s in $(seq "$shops"); do shop_loop "$s" & pids+=($!); done
# Halfway (every shop has made its first half), version 2 is published into the served folder.
for s in $(seq "$shops"); do wait_until 6000 test -e "$work/half$s"; done
"$tool" publish "$work/v2" "$served/Kalvo3pack" >/dev/null 2>&1 || echo "publish v2 failed" >> "$work/problems"
touch "$work/published"
for pid in "${pids[@]}"; do wait "$pid"; done
ended=$(date +%s.%N)

for s in $(seq "$shops"); do
  cmp -s "$work/shop$s/Kalvo3main" "$work/v2" || echo "shop $s: not on version 2 at the end" >> "$work/problems"
done
python3 - "$work" "$shops" "$starts" "$began" "$ended" "$scheme" <<'EOF'
import collections, glob, json, re, statistics, sys
work, shops, starts, began, ended, scheme = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), float(sys.argv[4]), float(sys.argv[5]), sys.argv[6]
requests = [json.loads(line) for line in open(f"{work}/server.log")]
by_status = collections.Counter(r["status"] for r in requests)
print(f"load run ({scheme}): {shops} shops x {starts} starts = {shops * starts} starts in {ended - began:.1f} s")
print(f"server: {len(requests)} requests, by status {dict(sorted(by_status.items(), key=str))}")
print(f"server: {sum(r['bytes_in'] for r in requests)} bytes in, {sum(r['bytes_out'] for r in requests)} bytes out")
unchanged = [r for r in requests if r["status"] == 304]
if unchanged:
    print(f"an unchanged start (304): {statistics.median(r['bytes_in'] for r in unchanged):.0f} bytes sent, "
          f"{statistics.median(r['bytes_out'] for r in unchanged):.0f} bytes received (HTTP, median), "
          f"If-None-Match sent by {sum(1 for r in unchanged if r['If-None-Match'])} of {len(unchanged)}")
times = collections.defaultdict(list)
for log in glob.glob(f"{work}/shop*/Kalv3.log"):
    for m in re.finditer(r"^server: (\d+) in (\d+) ms", open(log, errors="replace").read(), re.M):
        times[m.group(1)].append(int(m.group(2)))
for status, ms in sorted(times.items()):
    ms.sort()
    print(f"the exchange, status {status}: {len(ms)} starts, median {statistics.median(ms)} ms, "
          f"95th percentile {ms[max(0, -(-len(ms) * 95 // 100) - 1)]} ms, max {ms[-1]} ms")  # nearest rank
EOF
if [ -s "$work/problems" ]; then
  echo "PROBLEMS:"
  cat "$work/problems"
  exit 1
fi
echo "every start ran a whole program (version 1 or 2); every shop ends on version 2"
