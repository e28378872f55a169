#!/usr/bin/env bash
# The whole command on deflated entries: kalvtool extract beside 7-Zip (7z x), bsdtar
# and Info-ZIP unzip, on the executable-like and the text corpus at levels 6 and 9 and
# on an entry with traditional encryption. Per archive: median processor and wall
# time and peak memory of each tool, then a table of ratios peer / kalvtool (above 1:
# kalvtool is faster), and kalvtool's peak memory against its 16 MiB budget. See
# extract_peers.py for the archives and how they are measured; bench_inflate
# (crc_inflate_vs_peers.sh) measures the decoder alone beside zlib and libdeflate.
#
#   bench/inflate_vs_peers.sh                 (RUNS=5; ARCHIVES to choose others)
#   KALVTOOLS="after=build/bench/app/kalvtool before=/tmp/kalvtool.old" bench/inflate_vs_peers.sh
#
# Peers: apt-get install p7zip-full libarchive-tools unzip zip
set -euo pipefail
cd "$(dirname "$0")/.."

# The same side-by-side run as extract_vs_peers.sh, on the deflated archives, with a
# peak-memory bound for the decoders.
RUNS="${RUNS:-5}" \
ARCHIVES="${ARCHIVES:-exe_like-d6 exe_like-d9 text_like-d6 text_like-d9 exe_like-d6-enc}" \
EXTRACT_PEERS_ARGS="--peak-limit-mib 16" \
  exec bench/extract_vs_peers.sh
