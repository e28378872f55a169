#!/usr/bin/env bash
# CRC-32 and the Deflate decoder beside their peers, twice:
#
# 1. In process, beside zlib and libdeflate: bench_crc32 and bench_inflate, their
#    repetitions interleaved at random (so the shared machine's load falls on all
#    alike); CRC-32 in GB/s per implementation, then each benchmark's ratios (the
#    peer's CPU time over ours, fastest repetition; above 1: ours is faster).
# 2. The whole command, decoding and checking without writing: kalvtool test beside
#    7z t, unzip -t and bsdtar -xO to /dev/null on the executable-like and the text
#    corpus at levels 6 and 9 and on stored data (extract_peers.py --test): median
#    processor and wall time, and a table of ratios peer / kalvtool.
#
#   bench/crc_inflate_vs_peers.sh           (REPS=10 in process, RUNS=5 whole commands)
#
# Peers: apt-get install libdeflate-dev zlib1g-dev p7zip-full libarchive-tools unzip zip
set -euo pipefail
cd "$(dirname "$0")/.."

REPS="${REPS:-10}"
RUNS="${RUNS:-5}"
ARCHIVES="${ARCHIVES:-exe_like-d6 exe_like-d9 text_like-d6 text_like-d9 exe_like-store}"
build=build/bench
if [ ! -x $build/bench/bench_crc32 ] || [ ! -x $build/bench/bench_inflate ] || [ ! -x $build/app/kalvtool ]; then
  cmake --preset bench >/dev/null
  cmake --build --preset bench -j2 --target bench_crc32 bench_inflate kalvtool
fi
json=$(mktemp)
trap 'rm -f "$json"' EXIT

echo "== CRC-32, GB/s (fastest repetition)"
$build/bench/bench_crc32 --benchmark_repetitions="$REPS" --benchmark_enable_random_interleaving=true \
  --benchmark_min_time=0.1 --benchmark_out="$json" --benchmark_out_format=json 2>/dev/null | sed -n '/^Against peers/,$p'
python3 - "$json" <<'PY'
import json, sys
best = {}
for b in json.load(open(sys.argv[1]))["benchmarks"]:
    if b.get("run_type") == "iteration" and "bytes_per_second" in b:
        best[b["run_name"]] = max(best.get(b["run_name"], 0), b["bytes_per_second"])
sizes = sorted({int(k.split("/")[1]) for k in best})
print(f"  {'implementation':20}" + "".join(f" {s >> 10:>9} KiB" for s in sizes))
for impl in dict.fromkeys(k.split("/")[0] for k in best):
    print(f"  {impl:20}" + "".join(f" {best.get(f'{impl}/{s}', 0) / 1e9:13.1f}" for s in sizes))
PY

echo
echo "== Deflate decoder in process, against zlib and libdeflate"
$build/bench/bench_inflate --benchmark_repetitions="$REPS" --benchmark_enable_random_interleaving=true \
  --benchmark_min_time=0.1 2>/dev/null | sed -n '/^Against peers/,$p'

echo
echo "== Whole command: kalvtool test beside 7z t, unzip -t, bsdtar -xO"
for tool in 7z bsdtar unzip zip /usr/bin/time python3; do
  command -v "$tool" >/dev/null || { echo "$tool is not installed" >&2; exit 1; }
done
# shellcheck disable=SC2086
python3 bench/extract_peers.py $ARCHIVES --test --runs "$RUNS" --kalvtool kalvtool=$build/app/kalvtool
