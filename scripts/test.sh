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
# The "?" dialog tests answer Wine's file and folder dialogs from a second thread after
# fixed waits for the shell to fill them; on a loaded machine Wine is now and then later
# than that, so they get a second try (a fault in the dialogs fails both).
wine_ui_tests='^unzip_dialog_tests$'
wine_steady xvfb-run -a -s "-screen 0 1024x768x24" ctest --preset windows -E "$wine_ui_tests"
wine_steady xvfb-run -a -s "-screen 0 1024x768x24" ctest --preset windows -R "$wine_ui_tests" --repeat until-pass:2

if [ -x scripts/fuzz-smoke.sh ]; then
  echo "== short fuzz runs"
  scripts/fuzz-smoke.sh
fi
kalv_testdata_report
echo "== all tests passed"
