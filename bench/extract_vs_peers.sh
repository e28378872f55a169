#!/usr/bin/env bash
# kalvtool extract beside Info-ZIP unzip and 7-Zip on one stored, encrypted entry of
# 64 MiB (traditional PKWARE encryption): wall time, throughput, ratios and peak
# memory of each, same machine, same run. Decryption is a serial chain of table
# look-ups and a multiply per byte, so it sets the pace.
#   bench/extract_vs_peers.sh [SIZE_MIB] [ROUNDS]
set -euo pipefail
cd "$(dirname "$0")/.."
size_mib=${1:-64}
rounds=${2:-3}

cmake --preset bench >/dev/null
cmake --build --preset bench --target kalvtool >/dev/null
kalvtool=$PWD/build/bench/app/kalvtool

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
head -c $((size_mib * 1024 * 1024)) /dev/urandom >payload.bin
zip -q -0 -P benchpass pack.zip payload.bin

# The best of $rounds runs in processor time (user + system: the machine is shared, so
# wall time also measures the neighbours), the best wall time, and the peak resident
# set, for one command.
measure() {
    local best=999999 best_wall=999999 rss=0 wall user sys
    for ((r = 0; r < rounds; r++)); do
        rm -rf out && mkdir out
        /usr/bin/time -f '%e %U %S %M' -o time.txt "$@" >/dev/null 2>&1
        read -r wall user sys rss <time.txt
        best=$(awk -v u="$user" -v s="$sys" -v b="$best" 'BEGIN { t = u + s; print (t < b) ? t : b }')
        best_wall=$(awk -v w="$wall" -v b="$best_wall" 'BEGIN { print (w < b) ? w : b }')
        cmp -s out/payload.bin payload.bin || { echo "wrong output from: $*" >&2; exit 1; }
    done
    echo "$best $best_wall $rss"
}

read -r t_kalv w_kalv m_kalv < <(measure "$kalvtool" extract -P benchpass -d out pack.zip)
read -r t_unzip w_unzip m_unzip < <(measure unzip -qq -o -P benchpass -d out pack.zip)
read -r t_7z w_7z m_7z < <(measure 7z x -y -pbenchpass -oout pack.zip)

mbps() { awk -v s="$size_mib" -v t="$1" 'BEGIN { printf "%.0f", (t > 0) ? s * 1.048576 / t : 0 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0) ? a / b : 0 }'; }

printf '%s MiB stored entry, traditional encryption, best of %s\n' "$size_mib" "$rounds"
printf '%-18s %8s %8s %8s %12s\n' tool "cpu s" "MB/s" "wall s" "peak KiB"
printf '%-18s %8s %8s %8s %12s\n' "kalvtool extract" "$t_kalv" "$(mbps "$t_kalv")" "$w_kalv" "$m_kalv"
printf '%-18s %8s %8s %8s %12s\n' "unzip -P" "$t_unzip" "$(mbps "$t_unzip")" "$w_unzip" "$m_unzip"
printf '%-18s %8s %8s %8s %12s\n' "7z x" "$t_7z" "$(mbps "$t_7z")" "$w_7z" "$m_7z"
printf 'processor time: %sx the speed of unzip, %sx of 7z\n' "$(ratio "$t_unzip" "$t_kalv")" "$(ratio "$t_7z" "$t_kalv")"
printf 'wall time:      %sx the speed of unzip, %sx of 7z\n' "$(ratio "$w_unzip" "$w_kalv")" "$(ratio "$w_7z" "$w_kalv")"
