#!/usr/bin/env bash
# Upgrades from a URL end to end: the launcher on real installations whose NET.INF names
# an http:// or https:// upgrade location served by the local package server
# (tests/web/package_server.py). Natively (libcurl) the test CA is trusted through
# CURL_CA_BUNDLE; under Wine (WinHTTP) trust_ca puts it into the run's Root store.
# Each case runs the launcher once or twice and checks the boxes, the run log's refresh
# line, the installed package and what the server's request log shows.
#   web_e2e.sh native KALV3 STANDIN KALVTOOL PYTHON
#   web_e2e.sh wine KALV3_EXE STANDIN_EXE KALVTOOL_EXE PYTHON WATCHER_EXE TRUST_CA_EXE
set -uo pipefail
mode=$1 launcher=$2 standin=$3 kalvtool=$4 python=$5 watcher=${6:-} trust=${7:-}
here=$(cd "$(dirname "$0")" && pwd)
web=$here/../web
# shellcheck source=harness.sh
source "$here/harness.sh"
e2e_begin kalv-web "$@"

server_pids=()
trusted=""
e2e_script_cleanup() {
  local pid
  for pid in "${server_pids[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${server_pids[@]}"; do wait "$pid" 2>/dev/null; done
  # The run's prefix goes with the work folder; a shared one must not keep the test CA.
  if [ -n "$trusted" ]; then wine "$trust" remove "$trusted" >/dev/null 2>&1; fi
}
# kalvtool ARGS... in the current folder, its standard output without carriage returns.
run_kalvtool() {
  if [ "$mode" = wine ]; then wine "$kalvtool" "$@" 2>/dev/null | tr -d '\r'; else "$kalvtool" "$@" 2>/dev/null; fi
}

stage_packages && (cd "$stage" && run_kalvtool keygen publisher.key > publisher.txt) ||
  { echo "the packages could not be staged"; exit 1; }
public_key=$(cat "$stage/publisher.txt")
[ -n "$public_key" ] || fail "kalvtool keygen made no key"

"$web/make_test_ca.sh" "$work/ca" >/dev/null 2>&1 || { echo "no test CA could be made"; exit 1; }
export CURL_CA_BUNDLE=$work/ca/ca.pem
# How the client names a certificate it refuses. Wine 8's WinHTTP refuses it (its chain
# check fails with ERROR_WINHTTP_SECURE_INVALID_CA) but reports a failed TLS channel.
untrusted="certificate not trusted"
if [ "$mode" = wine ]; then
  trusted=$(as_launcher_path "$work/ca/ca.pem")
  wine "$trust" add "$trusted" || { echo "the test CA could not be trusted"; exit 1; }
  untrusted="the TLS handshake failed"
  watcher_start "$watcher" 900
fi
ROOT=$work/root
mkdir -p "$ROOT"

# serve NAME ARGS...: a package server over $ROOT, its base URL in $url_NAME.
serve() {
  local name=$1 scheme=http
  shift
  [ $# -gt 0 ] && scheme=https
  "$python" "$web/package_server.py" --root "$ROOT" --port-file "$work/$name.port" --log "$work/$name.log" "$@" &
  server_pids+=($!)
  wait_for_file "$work/$name.port" || { echo "the $name server did not start"; exit 1; }
  printf -v "url_$name" '%s://%s:%s' "$scheme" "$host" "$(cat "$work/$name.port")"
}
# Wine 8 matches a certificate only by its DNS names, not by the address it names.
host=127.0.0.1
serve http
[ "$mode" = wine ] && host=localhost
serve https --tls "$work/ca/server.pem" "$work/ca/server.key"
serve wrong --tls "$work/ca/wrong.pem" "$work/ca/wrong.key"

# request_field LOG FIELD: FIELD of the last request in a server's log ("None" when absent).
request_field() {
  "$python" - "$work/$1.log" "$2" <<'EOF'
import json, sys
try:
    print(json.loads(open(sys.argv[1]).read().splitlines()[-1]).get(sys.argv[2]))
except (OSError, IndexError, ValueError):
    print(None)
EOF
}

F=$work/shop
refresh_lines() { tr -d '\r' < "$F/Kalv3.log" | grep '^refresh: '; }

# One start of the launcher on $F with NET.INF naming URL (and KEY_LINE under [DB]).
start_on() {  # URL KEY_LINE
  printf '[DB]\r\nUpgrade=%s\r\n%s' "$1" "$2" > "$F/NET.INF"
  rm -f "$F/Kalvo3main.report.txt"
  launch "$F" "$F/$launcher_name"
  expect_eq "exit code" 0 "$exit_code"
  wait_application "$F" || fail "$application_problem"
}

#   scenario | server | first start's path ("-": none) | path | upgrade copy | key | installed |
#   boxes | the last refresh line ("~" before a prefix) | the last request: status, Range ("-": not
#   looked at: the server logs a request it never answered only once the launcher gave up)
cases=(
  "newer copy over HTTP|http|-|/Kalvo3pack|program_v2.zip|-|yes||refresh: fetched|200 None"
  "unchanged: a 304, and the ETag sent back|http|/Kalvo3pack|/Kalvo3pack|program_v2.zip|-|yes||refresh: not fetched, the server answered 304 (not modified)|304 None"
  "a download cut short resumes at the next start|http|/cut/300000/Kalvo3pack|/Kalvo3pack|program_v2.zip|-|yes||refresh: fetched|206 bytes=300000-"
  "a copy larger than 1 GiB: not downloaded|http|-|/oversize/Kalvo3pack|program_v2.zip|-|no||refresh: not fetched, the upgrade copy is larger than 1024 MiB|200 None"
  "redirected three times|http|-|/redirect/3/Kalvo3pack|program_v2.zip|-|yes||refresh: fetched|200 None"
  "missing on the server: the File not found box|http|-|/missing/Kalvo3pack|program_v2.zip|-|no|CopyFile|File not found :\\r{URL}|refresh: not fetched, the server answered 404|404 None"
  "newer copy over HTTPS, the test CA trusted|https|-|/Kalvo3pack|program_v2.zip|-|yes||refresh: fetched|200 None"
  "a certificate nobody vouches for: refused, no box|wrong|-|/Kalvo3pack|program_v2.zip|-|no||~refresh: not fetched, $untrusted|None None"
  "a signed installation refuses an unsigned copy|http|-|/Kalvo3pack|program_v2.zip|key|no||refresh: not fetched, the copy is unsigned, and NET.INF trusts only signed packages|200 None"
  "a server that never answers: the local package, after the stall bound|http|-|/hang/Kalvo3pack|program_v2.zip|-|no||refresh: not fetched, no answer within 30 s; the local package is used|-"
)
for c in "${cases[@]}"; do
  IFS='|' read -r scenario server first path copy key installed boxes_expected line last <<<"$c"
  # The box's text holds a "|" of its own: the fields after it shift by one.
  if [ "$boxes_expected" = CopyFile ]; then
    IFS='|' read -r scenario server first path copy key installed boxes_caption boxes_text line last <<<"$c"
    boxes_expected="$boxes_caption|$boxes_text"
  fi
  base_var=url_$server
  base=${!base_var}
  rm -rf "$F"
  install_shop "$F" "$base/Kalvo3pack"
  cp "$stage/$copy" "$ROOT/Kalvo3pack"
  touch -d "2026-01-01 10:00 UTC" "$ROOT/Kalvo3pack"
  key_line=""
  [ "$key" = key ] && key_line=$(printf 'PublicKey=%s\r\n' "$public_key")

  if [ "$first" != - ]; then start_on "$base$first" "$key_line"; fi
  start_on "$base$path" "$key_line"
  expect_eq "boxes" "${boxes_expected//\{URL\}/$base$path}" "$boxes"
  actual_line=$(refresh_lines | tail -n 1)
  if [ "${line:0:1}" = "~" ]; then
    [[ $actual_line == "${line:1}"* ]] || expect_eq "refresh" "${line:1}..." "$actual_line"
  else
    expect_eq "refresh" "$line" "$actual_line"
  fi
  [ "$last" = - ] || expect_eq "last request" "$last" "$(request_field "$server" status) $(request_field "$server" Range)"
  if [ "$installed" = yes ]; then
    cmp -s "$F/Kalvo3pack" "$stage/$copy" || fail "the upgrade copy was not installed whole"
  else
    cmp -s "$F/Kalvo3pack" "$stage/program.zip" || fail "the local package was changed"
  fi
  leftovers=$(cd "$F" && ls -d ./*.incoming ./*.partial ./*.new 2>/dev/null)
  expect_eq "files left beside the package" "" "$leftovers"

  case $scenario in
    unchanged*)
      # An unchanged package costs one small exchange: the validators of the package
      # the first start installed, and a 304 without a body.
      [ "$(request_field http If-Modified-Since)" = "Thu, 01 Jan 2026 10:00:00 GMT" ] ||
        fail "If-Modified-Since is not the installed package's date: $(request_field http If-Modified-Since)"
      [ "$(request_field http If-None-Match)" != None ] || fail "the ETag of the installed package was not sent"
      out=$(request_field http bytes_out)
      [ "$out" -lt 1000 ] || fail "a 304 cost $out bytes"
      ;;
    "a download cut short"*)
      refresh_lines | head -n 1 | grep -q "^refresh: not fetched, the answer ended after 300000 of [0-9]* bytes; 300000 bytes kept to resume" ||
        fail "the first start did not keep the cut download: $(refresh_lines | head -n 1)"
      ;;
  esac
done

# ---- files beside the package are taken as ours only when they look as we wrote them -----
# fresh_shop: the installation of program.zip on the HTTP server, a newer copy served.
fresh_shop() {
  rm -rf "$F"
  install_shop "$F" "$url_http/Kalvo3pack"
  cp "$stage/program_v2.zip" "$ROOT/Kalvo3pack"
  touch -d "2026-01-01 10:00 UTC" "$ROOT/Kalvo3pack"
}

scenario="a link planted as the download to resume is neither followed nor resumed"
# Under Wine a Unix symbolic link shows as the file it points to (no reparse point to
# refuse): the case is the native build's, and a Windows link needs an administrator.
if [ "$mode" != wine ]; then
fresh_shop
echo "somebody else's file" > "$work/elsewhere"
ln -s "$work/elsewhere" "$F/Kalvo3pack.partial"
printf '"planted"\n%s\n' "$(stat -c %s "$work/elsewhere")" > "$F/Kalvo3pack.partial.tag"
start_on "$url_http/Kalvo3pack" ""
expect_eq "last request" "200 None" "$(request_field http status) $(request_field http Range)"
expect_eq "refresh" "refresh: fetched" "$(refresh_lines | tail -n 1)"
expect_eq "the link's target" "somebody else's file" "$(cat "$work/elsewhere")"
cmp -s "$F/Kalvo3pack" "$stage/program_v2.zip" || fail "the upgrade copy was not installed whole"
[ ! -e "$F/Kalvo3pack.partial" ] && [ ! -L "$F/Kalvo3pack.partial" ] || fail "the planted link is still there"
fi

# A leftover download the server does not continue: under a validator that no longer
# matches (the whole copy comes, and must not be appended to the leftover), or as long
# as the copy itself (a 416, then the copy asked for again without a range).
served_etag() {
  "$python" -c 'import sys, urllib.request; print(urllib.request.urlopen(urllib.request.Request(sys.argv[1], method="HEAD")).headers["ETag"])' "$url_http/Kalvo3pack"
}
#   scenario | leftover's size ("copy": the served copy's) | its validator ("served": the served copy's)
#   | the path asked for | last request
leftover_cases=(
  "a leftover under a stale validator is not appended to|300000|\"stale\"|/Kalvo3pack|200 bytes=300000-"
  "a leftover as long as the copy: asked for again without a range|copy|served|/Kalvo3pack|200 None"
  "a 206 that does not continue the leftover: asked for again without a range|300000|served|/skew/7/Kalvo3pack|200 None"
)
for c in "${leftover_cases[@]}"; do
  IFS='|' read -r scenario size validator path last <<<"$c"
  fresh_shop
  whole_copy=no
  [ "$size" = copy ] && whole_copy=yes && size=$(stat -c %s "$ROOT/Kalvo3pack")
  [ "$validator" = served ] && validator=$(served_etag)
  head -c "$size" /dev/urandom > "$F/Kalvo3pack.partial"
  printf '%s\n%s\n' "$validator" "$size" > "$F/Kalvo3pack.partial.tag"
  start_on "$url_http$path" ""
  expect_eq "last request" "$last" "$(request_field http status) $(request_field http Range)"
  expect_eq "refresh" "refresh: fetched" "$(refresh_lines | tail -n 1)"
  cmp -s "$F/Kalvo3pack" "$stage/program_v2.zip" || fail "the upgrade copy was not installed whole"
  leftovers=$(cd "$F" && ls -d ./*.incoming ./*.partial ./*.partial.tag 2>/dev/null)
  expect_eq "files left beside the package" "" "$leftovers"
  refused=""
  [ "$whole_copy" = yes ] && refused=416
  [[ $path == /skew/* ]] && refused=206
  if [ -n "$refused" ]; then
    tr -d '\r' < "$F/Kalv3.log" | grep -q "^the server does not continue the download (it answered $refused); it starts over$" ||
      fail "the run log does not tell the $refused"
  fi
done

scenario="the ETag is not sent for a package put back by other means"
# An administrator puts the old package back after a fetch: the server's copy is newer
# than it, and an ETag sent with it would make the server answer 304.
fresh_shop
start_on "$url_http/Kalvo3pack" ""
expect_eq "refresh" "refresh: fetched" "$(refresh_lines | tail -n 1)"
start_on "$url_http/Kalvo3pack" ""
expect_eq "refresh" "refresh: not fetched, the server answered 304 (not modified)" "$(refresh_lines | tail -n 1)"
cp "$stage/program.zip" "$F/Kalvo3pack"
touch -d "2024-03-01 10:00:00" "$F/Kalvo3pack"
start_on "$url_http/Kalvo3pack" ""
expect_eq "If-None-Match" "None" "$(request_field http If-None-Match)"
expect_eq "refresh" "refresh: fetched" "$(refresh_lines | tail -n 1)"
cmp -s "$F/Kalvo3pack" "$stage/program_v2.zip" || fail "the newer copy was not fetched again"

# ---- kalvtool doctor asks the server as the next start will ---------------------------------
#   scenario | upgrade URL | before: "yes" a start fetches the copy first, "kept"/"kept-other" 1000
#   bytes of a download cut short lie beside the package (of the served copy / of another) | the doctor's line
doctor_cases=(
  "a newer copy|$url_http/Kalvo3pack|no|OK    upgrade copy: $url_http/Kalvo3pack: .*, newer than the local package\. The next start fetches it,"
  "a newer copy, partly fetched|$url_http/Kalvo3pack|kept|OK    upgrade copy: .*\. The next start fetches the rest of it (1000 bytes kept from a download cut short)"
  "a newer copy, another partly fetched|$url_http/Kalvo3pack|kept-other|OK    upgrade copy: .*\. The next start drops the 1000 bytes kept from a download cut short (another copy)"
  "the fetched copy, unchanged|$url_http/Kalvo3pack|yes|OK    upgrade copy: $url_http/Kalvo3pack: the server answered 304 (not modified since the local package)"
  "missing on the server|$url_http/missing/Kalvo3pack|no|WARN  upgrade copy: $url_http/missing/Kalvo3pack: the server answered 404 (not there)"
  "a certificate nobody vouches for|$url_wrong/Kalvo3pack|no|WARN  upgrade copy: $url_wrong/Kalvo3pack: $untrusted"
)
for c in "${doctor_cases[@]}"; do
  IFS='|' read -r scenario url before expected <<<"$c"
  scenario="doctor: $scenario"
  fresh_shop
  [ "$before" = yes ] && start_on "$url" ""
  # A copy far larger than the sockets' buffers can take in (a few MB on loopback),
  # so that what the server managed to send tells a body read from one left alone,
  # however quickly the client lets the connection go.
  if [ "$before" != yes ]; then
    head -c 33554432 /dev/urandom > "$ROOT/Kalvo3pack"
    touch -d "2026-01-01 10:00 UTC" "$ROOT/Kalvo3pack"
  fi
  if [[ $before == kept* ]]; then
    head -c 1000 /dev/urandom > "$F/Kalvo3pack.partial"
    validator='"other"'
    [ "$before" = kept ] && validator=$(served_etag)
    printf '%s\n1000\n' "$validator" > "$F/Kalvo3pack.partial.tag"
  fi
  printf '[DB]\r\nUpgrade=%s\r\n' "$url" > "$F/NET.INF"
  before_count=$(wc -l < "$work/http.log")
  doctor=$(cd "$F" && run_kalvtool doctor)
  grep -q "^$expected" <<<"$doctor" || fail "doctor's line: $(grep 'upgrade copy' <<<"$doctor")"
  # The launcher's conditional request, and nothing written beside the package.
  if [ "$before" != yes ] && [[ $url == "$url_http"* ]]; then
    # The server logs a request once it has ended, which may be after doctor has.
    log_grew() { [ "$(wc -l < "$work/http.log")" -gt "$before_count" ]; }
    wait_until "$e2e_patience" log_grew || fail "doctor sent no request"
    [ "$(request_field http If-Modified-Since)" != None ] || fail "doctor's request was not conditional"
    out=$(request_field http bytes_out)
    [ "$out" -lt 16777216 ] || fail "doctor downloaded $out of 33554432 bytes"
  fi
  written=$(cd "$F" && ls -d ./*.incoming 2>/dev/null)
  [[ $before == kept* ]] || written+=$(cd "$F" && ls -d ./*.partial 2>/dev/null)
  [ "$before" = yes ] || written+=$(cd "$F" && ls -d ./*.etag 2>/dev/null)
  expect_eq "files doctor wrote" "" "$written"
  [[ $before != kept* ]] || [ "$(stat -c %s "$F/Kalvo3pack.partial")" = 1000 ] || fail "doctor changed the kept bytes"
done

e2e_end "upgrades from a URL: all checks passed ($mode)"
