# The kalvtool command-line tests' common part, sourced after they set `tool` (the
# kalvtool program) and `runner` (an array: empty, or wine for kalvtool.exe) and moved
# into their scratch folder:
#   run ARGS...   runs kalvtool; sets rc, out and err (without carriage returns)
#   fail TEXT     reports a failed check with what the last run gave; counts it
failures=0

run() {
    "${runner[@]}" "$tool" "$@" >out.txt 2>err.txt
    rc=$?
    out=$(tr -d '\r' <out.txt)
    err=$(tr -d '\r' <err.txt)
    # A sanitizer's report may end a run with an exit code that a case expects.
    case $err in *Sanitizer*) fail "$*: a sanitizer's report" ;; esac
}

fail() {
    echo "FAIL: $*"
    echo "  rc=$rc stdout:"
    sed 's/^/    /' <<<"$out"
    echo "  stderr: $err"
    failures=$((failures + 1))
}
