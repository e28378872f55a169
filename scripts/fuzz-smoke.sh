#!/usr/bin/env bash
# Short, bounded runs of every libFuzzer target (CI): builds the `fuzz` preset, writes
# the seed corpora, runs each target for FUZZ_SECONDS (default 15) two at a time, and
# fails on any crash, leak, sanitizer report or timeout. A failing input is kept in
# build/fuzz/artifacts/<target>/ for reproduction: build/fuzz/fuzz/<target> <file>.
#
#   scripts/fuzz-smoke.sh [target...]      (default: every target that was built)
#   FUZZ_SECONDS=1200 FUZZ_LOGS=build/fuzz/long nice -n 19 scripts/fuzz-smoke.sh fuzz_inflate
#                                       (a long run, its log kept apart from the short runs')
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${FUZZ_SECONDS:-15}
parallel=${FUZZ_PARALLEL:-2}
build=build/fuzz
corpus_root=$build/corpus
artifacts_root=$build/artifacts
logs=${FUZZ_LOGS:-$build/logs}

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)" --target kalv_fuzzers

source scripts/testdata.sh  # KALV_TESTDATA: the legacy archives' seeds
python3 fuzz/make_seeds.py "$build/seeds" >/dev/null
mkdir -p "$corpus_root" "$artifacts_root" "$logs"

targets=("$@")
if ((${#targets[@]} == 0)); then
  for exe in "$build"/fuzz/fuzz_*; do
    [ -x "$exe" ] && targets+=("$(basename "$exe")")
  done
fi

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:symbolize=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

run_target() {
  local target=$1
  local corpus=$corpus_root/$target artifacts=$artifacts_root/$target/
  mkdir -p "$corpus" "$artifacts"
  # Seeds: those written by make_seeds.py and those committed (regressions among them).
  local seed_dirs=()
  [ -d "$build/seeds/$target" ] && seed_dirs+=("$build/seeds/$target")
  [ -d "fuzz/seeds/$target" ] && seed_dirs+=("fuzz/seeds/$target")
  local options=()
  case "$target" in fuzz_zip_directory | fuzz_zip_extract) options+=(-dict=fuzz/zip.dict) ;; esac
  "$build/fuzz/$target" "$corpus" "${seed_dirs[@]}" "${options[@]}" \
    -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2560 -max_len=262144 \
    -print_final_stats=1 -artifact_prefix="$artifacts" \
    >"$logs/$target.log" 2>&1
}

failed=()
pids=()
names=()
reap() {
  local i=$1
  if wait "${pids[$i]}"; then
    local execs cov
    execs=$(grep -o 'stat::number_of_executed_units: [0-9]*' "$logs/${names[$i]}.log" | grep -o '[0-9]*$' || true)
    cov=$(grep -o 'cov: [0-9]*' "$logs/${names[$i]}.log" | tail -1 | grep -o '[0-9]*$' || true)
    echo "fuzz-smoke: ${names[$i]}: ok (${execs:-?} runs, cov ${cov:-?})"
  else
    echo "fuzz-smoke: ${names[$i]}: FAILED, see $logs/${names[$i]}.log and $artifacts_root/${names[$i]}/"
    grep -E 'ERROR|SUMMARY|runtime error|==[0-9]+==|differs' "$logs/${names[$i]}.log" | head -20 || true
    failed+=("${names[$i]}")
  fi
}

for target in "${targets[@]}"; do
  run_target "$target" &
  pids+=($!)
  names+=("$target")
  if ((${#pids[@]} >= parallel)); then
    reap 0
    pids=("${pids[@]:1}")
    names=("${names[@]:1}")
  fi
done
for i in "${!pids[@]}"; do
  reap "$i"
done

if ((${#failed[@]})); then
  echo "fuzz-smoke: failed: ${failed[*]}"
  exit 1
fi
echo "fuzz-smoke: all ${#targets[@]} targets ran ${seconds}s without findings"
