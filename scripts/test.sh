#!/usr/bin/env bash
# Sets up a fresh Debian machine and runs every test of Kalv3:
#   1. the native build's tests,
#   2. the same tests under AddressSanitizer + UndefinedBehaviorSanitizer,
#   3. the Windows (mingw-w64) build's tests under Wine on a virtual display,
#   4. short, bounded fuzz runs when the fuzz preset has targets.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh native asan windows

# The shared test data (outside the repository): found beside this checkout or beside
# the repository it was cloned from, and exported as KALV_TESTDATA for the tests.
source scripts/testdata.sh
kalv_testdata_report

echo "== native tests"
ctest --preset native

echo "== sanitizer tests (ASan + UBSan)"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --preset asan

echo "== Windows tests under Wine"
source scripts/wine-env.sh
wine_steady xvfb-run -a -s "-screen 0 1024x768x24" ctest --preset windows

if [ -x scripts/fuzz-smoke.sh ]; then
  echo "== short fuzz runs"
  scripts/fuzz-smoke.sh
fi
kalv_testdata_report
echo "== all tests passed"
