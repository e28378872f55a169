#!/usr/bin/env bash
# The whole command: `kalvtool extract -P` of one 64 MiB deflated, encrypted entry
# beside Info-ZIP `unzip -P` and 7-Zip `7z x -p` on the same archive, run by run
# interleaved so the shared machine's load falls on all three alike. Reports the
# median wall and CPU (user + system) time of each, the ratios, and each tool's
# peak resident memory (/usr/bin/time -v's maximum resident set size).
#
#   bench/inflate_vs_peers.sh            (RUNS=5 by default; SIZE_MIB=64; LEVEL=6)
#
# The entry is executable-like: the machine's programs from /usr/bin, concatenated,
# compressed by Info-ZIP zip at LEVEL with traditional encryption.
set -euo pipefail
cd "$(dirname "$0")/.."

RUNS="${RUNS:-5}"
SIZE_MIB="${SIZE_MIB:-64}"
LEVEL="${LEVEL:-6}"
KALVTOOL=build/bench/app/kalvtool
if [ ! -x "$KALVTOOL" ]; then
  cmake --preset bench >/dev/null
  cmake --build --preset bench -j2 --target kalvtool
fi
for tool in zip unzip 7z /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "$tool is not installed" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/src"
find /usr/bin -maxdepth 1 -type f -size +16k -print0 | sort -z | xargs -0 cat 2>/dev/null \
  | head -c $((SIZE_MIB << 20)) >"$work/src/Kalvo3main" || true
(cd "$work/src" && zip -q "-$LEVEL" -P 'bench pass' ../pack.zip Kalvo3main)
echo "entry: $(stat -c %s "$work/src/Kalvo3main") bytes, deflated to $(stat -c %s "$work/pack.zip") (zip -$LEVEL -P)"

measure() {  # name, then the command; appends "name wall user sys maxrss_kib" to $work/times
  local name=$1
  shift
  rm -rf "$work/out"
  mkdir -p "$work/out"
  /usr/bin/time -f "%e %U %S %M" -o "$work/one" "$@" >/dev/null 2>&1
  cmp -s "$work/out/Kalvo3main" "$work/src/Kalvo3main" || { echo "$name extracted wrong bytes" >&2; exit 1; }
  echo "$name $(cat "$work/one")" >>"$work/times"
}

for _ in $(seq "$RUNS"); do
  measure kalvtool "$KALVTOOL" extract -P 'bench pass' -d "$work/out" "$work/pack.zip"
  measure unzip unzip -q -o -P 'bench pass' -d "$work/out" "$work/pack.zip"
  measure 7z 7z x -y -p'bench pass' -o"$work/out" "$work/pack.zip"
done

python3 - "$work/times" <<'PY'
import statistics, sys
rows = {}
for line in open(sys.argv[1]):
    name, wall, user, system, rss = line.split()
    rows.setdefault(name, []).append((float(wall), float(user) + float(system), int(rss)))
med = {n: (statistics.median(r[0] for r in v), statistics.median(r[1] for r in v), max(r[2] for r in v))
       for n, v in rows.items()}
print(f"{'tool':10} {'wall s':>8} {'cpu s':>8} {'peak MiB':>9}")
for n, (wall, cpu, rss) in med.items():
    print(f"{n:10} {wall:8.3f} {cpu:8.3f} {rss / 1024:9.1f}")
k = med["kalvtool"]
for peer in ("unzip", "7z"):
    p = med[peer]
    print(f"kalvtool vs {peer}: {p[0] / k[0]:.2f}x faster (wall), {p[1] / k[1]:.2f}x (cpu)")
print(f"kalvtool peak memory {k[2] / 1024:.1f} MiB (limit 16 MiB): {'ok' if k[2] < 16 * 1024 else 'OVER'}")
PY
