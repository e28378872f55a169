#!/usr/bin/env bash
# The legacy decoders beside Info-ZIP unzip on the same entries of the legacy test
# data (unzip unshrinks and explodes; it has no Reduce).
#
# Ours: bench_legacy's median CPU time per entry, decoding from memory with the CRC.
# unzip: CPU time (user + system) of `unzip -p ARCHIVE ENTRY > /dev/null`, minus that
# of `unzip -qql ARCHIVE` (process start and directory read), interleaved run by run
# so that the machine's load falls on both alike. CPU time, not wall time, because
# the benchmark machine is shared.
#
# Then end to end, as a user runs them: the whole CPU time of
# `kalvtool extract -d TMP ARCHIVE ENTRY` beside `unzip -qq -o -d TMP ARCHIVE ENTRY`
# (start, directory, decoding, CRC, writing the file), and for all of an archive.
#
#   bench/legacy_vs_unzip.sh            (REPS=300 unzip runs per entry by default)
set -euo pipefail
cd "$(dirname "$0")/.."

BENCH=build/bench/bench/bench_legacy
KALVTOOL=build/bench/app/kalvtool
if [ ! -x "$BENCH" ] || [ ! -x "$KALVTOOL" ]; then
  cmake --preset bench >/dev/null
  cmake --build --preset bench -j2 --target bench_legacy kalvtool
fi
command -v unzip >/dev/null || { echo "Info-ZIP unzip is not installed" >&2; exit 1; }

# The shared test data: KALV_TESTDATA, or shared/testdata beside the checkout or its origin
# (bench_legacy reads it too).
source scripts/testdata.sh
DATA="${KALV_TESTDATA:-}/legacy"
[ -f "$DATA/MANIFEST.tsv" ] || { echo "legacy test data not found (set KALV_TESTDATA to the shared testdata folder)" >&2; exit 1; }

json=$(mktemp)
trap 'rm -f "$json"' EXIT
"$BENCH" --benchmark_format=json --benchmark_min_time=0.3 --benchmark_repetitions=3 \
  --benchmark_report_aggregates_only=true >"$json"

REPS="${REPS:-300}" DATA="$DATA" KALVTOOL="$KALVTOOL" python3 - "$json" <<'PY'
import json, os, resource, subprocess, sys, tempfile

reps = int(os.environ["REPS"])
data = os.environ["DATA"]
results = json.load(open(sys.argv[1]))["benchmarks"]
ours = {}
for b in results:
    if b.get("aggregate_name") == "median":
        ours[b["run_name"]] = (b["cpu_time"], b["label"])

def children_cpu():
    r = resource.getrusage(resource.RUSAGE_CHILDREN)
    return r.ru_utime + r.ru_stime

def run_many(command, n):
    t0 = children_cpu()
    for _ in range(n):
        subprocess.run(command, stdout=subprocess.DEVNULL, check=True)
    return children_cpu() - t0

print(f"{'entry':28} {'ours us':>9} {'unzip us':>9} {'ours/unzip':>10}")
for name, (cpu_us, label) in ours.items():
    archive, entry = label.split(":", 1)
    subject = name.removeprefix("kalv/")
    if subject.startswith("reduce"):
        print(f"{subject:28} {cpu_us:9.0f} {'-':>9} {'(unzip has no Reduce)':>10}")
        continue
    path = os.path.join(data, archive)
    extract, listing = 0.0, 0.0
    for _ in range(reps // 10):
        extract += run_many(["unzip", "-p", path, entry], 10)
        listing += run_many(["unzip", "-qql", path], 10)
    unzip_us = max((extract - listing) / (reps // 10 * 10) * 1e6, 1.0)
    print(f"{subject:28} {cpu_us:9.0f} {unzip_us:9.0f} {cpu_us / unzip_us:10.2f}")

print()
print("end to end, whole process CPU per run")
print(f"{'archive entry':40} {'kalvtool us':>11} {'unzip us':>9} {'kalvtool/unzip':>14}")
kalvtool = os.path.abspath(os.environ["KALVTOOL"])
seen = set()
runs = max(reps // 3, 10)
with tempfile.TemporaryDirectory() as out:
    cases = []
    for name, (cpu_us, label) in ours.items():
        archive, entry = label.split(":", 1)
        if name.removeprefix("kalv/").startswith("reduce"):
            continue
        cases.append((archive, [entry]))
        if archive not in seen:
            seen.add(archive)
            cases.append((archive, []))
    for archive, entries in cases:
        path = os.path.join(data, archive)
        password = ["-P", "legacy"] if archive.startswith("enc-") else []
        k = run_many([kalvtool, "extract", *password, "-d", out, path, *entries], runs)
        u = run_many(["unzip", "-qq", "-o", *password, "-d", out, path, *entries], runs)
        what = f"{archive} {entries[0] if entries else '(all)'}"
        print(f"{what:40} {k / runs * 1e6:11.0f} {u / runs * 1e6:9.0f} {k / u:14.2f}")
PY
