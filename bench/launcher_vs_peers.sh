#!/usr/bin/env bash
# The launcher's whole run beside the same work done by peers, run by run interleaved so
# the shared machine's load falls on both alike:
#   kalv3   : NET.INF, a newer program package fetched from the upgrade folder, the entry
#             "Kalvo3main" unpacked from it (deflated, traditionally encrypted), the
#             token built and encrypted, the application started
#   peers   : cp -p of the package from the upgrade folder, then unzip -P of the entry
#   kalv3-plain : the launcher's run when its package is current (no fetch)
# Reports the median wall and CPU (user + system) time of each, their ratio, and what a
# fetching run costs beside a plain one (the copy and the check of the fetched package).
#
#   bench/launcher_vs_peers.sh        (RUNS=7; ENTRY_MIB=160 makes a package of about 64 MiB)
#
# The entry is executable-like: the stand-in application followed by the machine's
# programs from /usr/bin, so the unpacked program still starts.
set -euo pipefail
cd "$(dirname "$0")/.."

RUNS="${RUNS:-7}"
ENTRY_MIB="${ENTRY_MIB:-160}"
LEVEL="${LEVEL:-6}"
password=k3m8_q7rw_2x4
build=build/bench
if [ ! -x "$build/app/launcher/kalv3" ] || [ ! -x "$build/app/standin/Kalvo3main" ]; then
  cmake --preset bench >/dev/null
  cmake --build --preset bench -j2 --target kalv3 kalv_standin
fi
for tool in zip unzip /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "$tool is not installed" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
shop=$work/shop upgrade=$work/upgrade stage=$work/stage
mkdir -p "$shop" "$upgrade" "$stage"
{
  cat "$build/app/standin/Kalvo3main"
  find /usr/bin -maxdepth 1 -type f -size +16k -print0 | sort -z | xargs -0 cat 2>/dev/null
} | head -c $((ENTRY_MIB << 20)) > "$stage/Kalvo3main" || true
chmod +x "$stage/Kalvo3main"
echo "database" > "$stage/KALVO3.IB"
(cd "$stage" && zip -q "-$LEVEL" -P "$password" program.zip Kalvo3main)
mv "$stage/program.zip" "$upgrade/Kalvo3pack"
touch -d "2025-06-01 09:00" "$upgrade/Kalvo3pack"
cp "$build/app/launcher/kalv3" "$shop/"
cp "$stage/KALVO3.IB" "$shop/"
printf '[DB]\nUpgrade=%s\n' "$upgrade/Kalvo3pack" > "$shop/NET.INF"
echo "program package: $(stat -c %s "$upgrade/Kalvo3pack") bytes (zip -$LEVEL -P), entry Kalvo3main: $(stat -c %s "$stage/Kalvo3main") bytes"

reset_shop() {  # an older local package (or, for a plain run, a current one), no unpacked program
  cp "$upgrade/Kalvo3pack" "$shop/Kalvo3pack"
  if [ "$1" = kalv3-plain ]; then touch -r "$upgrade/Kalvo3pack" "$shop/Kalvo3pack"; else touch -d "2024-03-01 10:00" "$shop/Kalvo3pack"; fi
  rm -f "$shop/Kalvo3main" "$shop/Kalvo3main.report.txt"
  sync
}

measure() {  # name, then the command
  local name=$1
  shift
  reset_shop "$name"
  /usr/bin/time -f "%e %U %S" -o "$work/one" "$@" >/dev/null 2>"$work/stderr"
  cmp -s "$shop/Kalvo3main" "$stage/Kalvo3main" || { echo "$name unpacked wrong bytes" >&2; cat "$work/stderr" >&2; exit 1; }
  cmp -s "$shop/Kalvo3pack" "$upgrade/Kalvo3pack" || { echo "$name did not fetch the package" >&2; exit 1; }
  echo "$name $(cat "$work/one")" >> "$work/times"
}

wait_for_application() {  # the started stand-in reports, then lets its mutex go
  for _ in $(seq 1 600); do [ -f "$shop/Kalvo3main.report.txt" ] && return 0; sleep 0.05; done
  echo "the application was not started" >&2
  exit 1
}

for _ in $(seq "$RUNS"); do
  measure kalv3 sh -c "cd '$shop' && ./kalv3"
  wait_for_application
  measure kalv3-plain sh -c "cd '$shop' && ./kalv3"
  wait_for_application
  measure cp+unzip sh -c "cp -p '$upgrade/Kalvo3pack' '$shop/Kalvo3pack' && unzip -q -o -P $password '$shop/Kalvo3pack' Kalvo3main -d '$shop'"
done

python3 - "$work/times" <<'PY'
import statistics, sys
rows = {}
for line in open(sys.argv[1]):
    name, wall, user, system = line.split()
    rows.setdefault(name, []).append((float(wall), float(user) + float(system)))
med = {n: (statistics.median(r[0] for r in v), statistics.median(r[1] for r in v)) for n, v in rows.items()}
print(f"{'':10} {'wall s':>8} {'cpu s':>8}")
for n, (wall, cpu) in med.items():
    print(f"{n:10} {wall:8.3f} {cpu:8.3f}")
k, p = med["kalv3"], med["cp+unzip"]
print(f"kalv3 / (cp + unzip -P): wall {k[0] / p[0]:.2f}x, cpu {k[1] / p[1]:.2f}x")
q = med["kalv3-plain"]
print(f"fetching run / plain run: wall {k[0] / q[0]:.2f}x, cpu {k[1] / q[1]:.2f}x")
PY
