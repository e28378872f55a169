#!/usr/bin/env bash
# kalvtool's token and selfcheck commands as an administrator runs them: outputs,
# messages and the exit codes 0 (done), 64 (usage error) and 2 (failure).
#   kalvtool_token_test.sh KALVTOOL [RUNNER...]     (RUNNER: wine, for the Windows build)
set -u
tool=$1
shift
runner=("$@")
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failures=0

# run ARGS...: sets rc, out (stdout without carriage returns) and err.
run() {
    "${runner[@]}" "$tool" "$@" >"$tmp/out" 2>"$tmp/err"
    rc=$?
    tr -d '\r' <"$tmp/out" >"$tmp/out.lf"
    out=$(cat "$tmp/out.lf")
    err=$(tr -d '\r' <"$tmp/err")
}

fail() {
    echo "FAIL: $*"
    echo "  rc=$rc stdout: $out"
    echo "  stderr: $err"
    failures=$((failures + 1))
}

# expect RC EXPECTED_STDOUT ARGS...
expect() {
    local want_rc=$1 want_out=$2
    shift 2
    run "$@"
    [ "$rc" -eq "$want_rc" ] && [ "$out" = "$want_out" ] || fail "kalvtool $* (want rc $want_rc, stdout '$want_out')"
}

# expect_error RC STDERR_PATTERN ARGS...: nothing on stdout, the pattern on stderr.
expect_error() {
    local want_rc=$1 pattern=$2
    shift 2
    run "$@"
    [ "$rc" -eq "$want_rc" ] && [ -z "$out" ] && grep -qF -- "$pattern" <<<"$err" ||
        fail "kalvtool $* (want rc $want_rc and '$pattern' on stderr)"
}

plain='[SECTION],DBpath=/srv/shop/KALVO3.IB,'
token='6uCHkdOkz078g98xjpzxhpTZmQTzhszTKAfdoixpQHbS0WUuJ3UpiPyYFy0GU1NZ'

# Reference tokens: AES-128-CBC of the zero-filled text by the OpenSSL command line.
expect 0 "$token" token encrypt "$plain"
expect 0 'T8YsOwnSp4qGXyKS9H5cVw==' token encrypt hello
expect 0 'hKQZ8oYBovOb4O1YjYuflQ==' token encrypt ABCDEFGHIJKLMNOP
expect 0 "$plain" token decrypt "$token"

# The zero fill is cut, and nothing else: exactly the text and one line break.
run token decrypt 'T8YsOwnSp4qGXyKS9H5cVw=='
[ "$rc" -eq 0 ] && [ "$(wc -c <"$tmp/out.lf")" -eq 6 ] || fail "token decrypt prints 'hello' without fill bytes"

for text in 'a' 'fifteen chars..' 'sixteen chars...' 'The quick brown fox jumps over the lazy dog, 0123456789 +/='; do
    run token encrypt "$text"
    encrypted=$out
    expect 0 "$text" token decrypt "$encrypted"
done

run selfcheck
[ "$rc" -eq 0 ] && grep -q 'self-check passed' <<<"$out" || fail "selfcheck"

expect_error 64 'usage:' token
expect_error 64 "unknown action 'frobnicate'" token frobnicate x
expect_error 64 'expects exactly one TEXT' token encrypt
expect_error 64 'expects exactly one TEXT' token encrypt one two
expect_error 64 'expects exactly one TOKEN' token decrypt
expect_error 64 'kalvtool token encrypt TEXT' selfcheck now
expect_error 64 "unknown command 'tokens'" tokens encrypt x

# Tokens the encryption cannot have written are refused before decrypting.
expect_error 2 'is not Base64' token decrypt 'not base64!'
expect_error 2 'is not Base64' token decrypt "${token:0:63}"
expect_error 2 'is not Base64' token decrypt "${token}AAA"
expect_error 2 'is not Base64' token decrypt "${token:0:32} ${token:33}"
expect_error 2 'is not Base64' token decrypt 'T8YsOwnSp4qGXyKS9H5cVw=A'
expect_error 2 'is empty' token decrypt ''
expect_error 2 'not whole 16-byte cipher blocks' token decrypt 'QUJD'

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "kalvtool token and selfcheck: all checks passed"
