# Sourced by the scripts that run tests or benchmarks: exports KALV_TESTDATA, the
# shared test data folder (archives of old producers with their manifest), which lies
# outside the repository as shared/testdata beside the checkout. Looked for in order:
#   1. KALV_TESTDATA as already set;
#   2. shared/testdata beside this checkout;
#   3. shared/testdata beside the repository this one was cloned from, and so on up
#      the chain of local origins (a clone made elsewhere, e.g. CI's in /tmp, of the
#      main checkout).
# Left unset when none holds it; kalv_testdata_report then says so loudly.
kalv_find_testdata() {
  local repo url i
  if [ -n "${KALV_TESTDATA:-}" ]; then return 0; fi
  repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
  for i in 1 2 3 4; do
    if [ -d "$repo/../shared/testdata" ]; then
      KALV_TESTDATA=$(cd "$repo/../shared/testdata" && pwd)
      export KALV_TESTDATA
      return 0
    fi
    url=$(git -C "$repo" config remote.origin.url 2>/dev/null) || return 0
    url=${url#file://}
    case $url in
      /*) ;;
      *) url=$repo/$url ;;  # a relative path, from the repository it was cloned into
    esac
    [ -d "$url" ] || return 0  # not a local repository
    repo=$(cd "$url" && pwd)
  done
}

kalv_testdata_report() {
  if [ -n "${KALV_TESTDATA:-}" ] && [ -d "$KALV_TESTDATA/legacy" ]; then
    echo "== shared test data: $KALV_TESTDATA"
  else
    echo "!! ======================================================================" >&2
    echo "!! The shared test data was not found (KALV_TESTDATA=${KALV_TESTDATA:-unset})." >&2
    echo "!! The tests on it are skipped: set KALV_TESTDATA to the shared/testdata folder." >&2
    echo "!! ======================================================================" >&2
  fi
}

kalv_find_testdata
