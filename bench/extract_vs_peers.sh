#!/usr/bin/env bash
# kalvtool extract beside 7-Zip (7z x), bsdtar and Info-ZIP unzip where the work is
# reading, CRC and writing: stored entries, an entry whose Deflate stream is all
# stored blocks, a stored entry with traditional encryption (decryption sets the pace
# there), and many files (500 C headers; 500 small texts). Per archive: median
# processor and wall time and peak memory of each tool, then a table of ratios
# peer / kalvtool (above 1: kalvtool is faster). See extract_peers.py for the
# archives and how they are measured.
#
#   bench/extract_vs_peers.sh                 (RUNS=7; ARCHIVES to choose others)
#   KALVTOOLS="after=build/bench/app/kalvtool before=/tmp/kalvtool.old" bench/extract_vs_peers.sh
#
# Peers: apt-get install p7zip-full libarchive-tools unzip zip
set -euo pipefail
cd "$(dirname "$0")/.."

RUNS="${RUNS:-7}"
ARCHIVES="${ARCHIVES:-exe_like-store random-d6 text_like-store exe_like-store-enc many_files-d6 small_files-d6}"
if [ -z "${KALVTOOLS:-}" ]; then
  if [ ! -x build/bench/app/kalvtool ]; then
    cmake --preset bench >/dev/null
    cmake --build --preset bench -j2 --target kalvtool
  fi
  KALVTOOLS="kalvtool=build/bench/app/kalvtool"
fi
for tool in 7z bsdtar unzip zip /usr/bin/time python3; do
  command -v "$tool" >/dev/null || { echo "$tool is not installed" >&2; exit 1; }
done
args=()
for k in $KALVTOOLS; do args+=(--kalvtool "$k"); done
# shellcheck disable=SC2086
exec python3 bench/extract_peers.py $ARCHIVES --runs "$RUNS" ${EXTRACT_PEERS_ARGS:-} "${args[@]}"
