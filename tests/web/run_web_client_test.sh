#!/usr/bin/env bash
# Runs the web client's contract test against local package servers: plain HTTP, HTTPS
# with a certificate of a test CA, HTTPS with a certificate nothing vouches for, and a
# port where nothing listens.
#   run_web_client_test.sh native PYTHON TEST
#   run_web_client_test.sh wine PYTHON TEST_EXE TRUST_CA_EXE
# Natively the client trusts the test CA through CURL_CA_BUNDLE; under Wine the CA is
# put into the prefix's Root store for the run and always taken out again.
set -uo pipefail
mode=$1 python=$2 test=$3 trust=${4:-}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/kalv-web.XXXXXX")
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null; done
  if [ "$mode" = wine ] && [ -f "$work/ca/ca.pem" ]; then wine "$trust" remove "$(winepath -w "$work/ca/ca.pem")"; fi
  rm -rf "$work"
}
trap cleanup EXIT

"$here/make_test_ca.sh" "$work/ca" || exit 1
mkdir -p "$work/root/sub"
# 200000 bytes that differ at every offset a resume could start from, dated to a
# known second (the Last-Modified the test expects).
"$python" -c 'import sys; sys.stdout.buffer.write(bytes((i * 7 + i // 251) % 256 for i in range(200000)))' \
  > "$work/root/pkg"
touch -d "2026-01-02 03:04:05 UTC" "$work/root/pkg"

# serve NAME ARGS...: a package server on a free port, its port in $port_NAME.
serve() {
  local name=$1; shift
  "$python" "$here/package_server.py" --root "$work/root" --port-file "$work/$name.port" \
    --log "$work/$name.log" "$@" &
  pids+=($!)
  for _ in $(seq 100); do [ -s "$work/$name.port" ] && break; sleep 0.1; done
  [ -s "$work/$name.port" ] || { echo "the $name server did not start" >&2; exit 1; }
  printf -v "port_$name" '%s' "$(cat "$work/$name.port")"
}
serve http
serve https --tls "$work/ca/server.pem" "$work/ca/server.key"
serve wrong --tls "$work/ca/wrong.pem" "$work/ca/wrong.key"
closed=$("$python" -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')

export KALV_WEB_HTTP=$port_http KALV_WEB_HTTPS=$port_https KALV_WEB_WRONG=$port_wrong KALV_WEB_CLOSED=$closed
if [ "$mode" = wine ]; then
  export KALV_WEB_ROOT=$(winepath -w "$work/root")
  wine "$trust" add "$(winepath -w "$work/ca/ca.pem")" || exit 1
  wine "$test" --gtest_brief=1
else
  export KALV_WEB_ROOT=$work/root CURL_CA_BUNDLE=$work/ca/ca.pem
  "$test" --gtest_brief=1
fi
