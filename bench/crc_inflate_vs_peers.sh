#!/usr/bin/env bash
# CRC-32 and the Deflate decoder beside zlib and libdeflate, as ratios: builds the
# bench preset's bench_crc32 and bench_inflate, runs each with its repetitions
# interleaved at random (so the shared machine's load falls on all alike) and
# prints what each one reports after its table: the peer's CPU time over ours,
# fastest repetition (above 1: ours is faster).
#
#   bench/crc_inflate_vs_peers.sh           (REPS=10 by default)
set -euo pipefail
cd "$(dirname "$0")/.."

REPS="${REPS:-10}"
if [ ! -x build/bench/bench/bench_crc32 ] || [ ! -x build/bench/bench/bench_inflate ]; then
  cmake --preset bench >/dev/null
  cmake --build --preset bench -j2 --target bench_crc32 bench_inflate
fi
for bench in bench_crc32 bench_inflate; do
  echo "== $bench"
  build/bench/bench/$bench --benchmark_repetitions="$REPS" --benchmark_enable_random_interleaving=true \
    --benchmark_min_time=0.1 2>/dev/null | sed -n '/^Against peers/,$p'
done
