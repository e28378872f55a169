#!/usr/bin/env bash
# kalvtool extract on an archive from Info-ZIP zip with one entry's method made one the
# component cannot decode (9 Deflate64, 7 Tokenizing): the entry is reported on stderr,
# the other entry is extracted, and the command ends. No box is shown: under Wine the
# box watcher records every box that appears (and presses it, so a box never hangs
# the test), and its log must stay empty.
#   kalvtool_extract_test.sh KALVTOOL BOX_WATCHER|- [RUNNER...]   (RUNNER: wine)
set -u
here=$(cd "$(dirname "$0")" && pwd)
tool=$1
watcher=$2
shift 2
runner=("$@")
tmp=$(mktemp -d)
watcher_pid=
trap '[ -n "$watcher_pid" ] && { touch "$tmp/watcher.stop"; wait "$watcher_pid"; }; rm -rf "$tmp"' EXIT
cd "$tmp" || exit 1
# shellcheck source=../support/kalvtool_run.sh
source "$here/../support/kalvtool_run.sh"

if [ "$watcher" != - ]; then
    # A Wine prefix of this test's own: the watcher sees, and presses, every box of its
    # Wine server, and other tests under the shared prefix show boxes of their own.
    export WINEPREFIX=$HOME/.local/share/kalv3-wine-extract-test
    # shellcheck source=../../scripts/wine-env.sh
    source "$here/../../scripts/wine-env.sh"
    : >boxes.log
    "${runner[@]}" "$watcher" "Z:${tmp//\//\\}\\boxes.log" "Z:${tmp//\//\\}\\watcher.stop" 300 \
        "Z:${tmp//\//\\}\\watcher.ready" >/dev/null 2>&1 &
    watcher_pid=$!
    # It watches once its ready file is there: a watcher that never came up would leave
    # its log empty, as if no box had appeared. The limit only ends such a run.
    for _ in $(seq 1 1200); do [ -e watcher.ready ] && break; sleep 0.1; done
    [ -e watcher.ready ] || { rc=-; out=; err=; fail "the box watcher did not start"; }
fi

# with_method ARCHIVE ENTRY METHOD OUT: OUT is ARCHIVE with ENTRY's compression method
# set to METHOD in its local header (APPNOTE 4.3.7, offset 8) and in its central
# directory header (4.3.12, offset 10).
with_method() {
    local offset index central
    offset=$(unzip -Z -v "$1" "$2" | awk '/offset of local header/ {print $NF}')
    index=$(unzip -Z1 "$1" | grep -nx -- "$2" | cut -d: -f1)
    central=$(grep -obUaP 'PK\x01\x02' "$1" | sed -n "${index}p" | cut -d: -f1)
    cp "$1" "$4"
    for at in $((offset + 8)) $((central + 10)); do
        printf "$(printf '\\%03o' "$3")" | dd of="$4" bs=1 seek="$at" conv=notrunc status=none
    done
}

printf 'the shop program\n' >small.txt
for i in $(seq 1 2000); do echo "line $i of the compressible file"; done >big.txt
zip -q -j plain.zip small.txt big.txt

for method in 9 7; do
    with_method plain.zip big.txt "$method" "m$method.zip"
    rm -rf out
    run extract -d out "m$method.zip"
    what="extract of an entry with method $method"
    [ "$rc" -eq 1 ] || fail "$what: exit 1 (one of two extracted)"
    grep -qx "kalvtool extract: big.txt: Unknown Compression Method (method $method)" <<<"$err" ||
        fail "$what: the report on stderr"
    grep -q "Zip Error" <<<"$err" && fail "$what: no box (natively a box is a \"Zip Error: ...\" line)"
    grep -qx "extracted 1 of 2" <<<"$out" || fail "$what: the count"
    cmp -s out/small.txt small.txt && [ ! -e out/big.txt ] || fail "$what: small.txt extracted, big.txt not"
done

# ---- options after the archive, as unzip takes them; "--" ends them ------------------------
printf 'a file named like an option\n' >./-d
zip -q -j -P secret enc.zip small.txt big.txt -- -d
# args (| between words) | exit code | files extracted into out (sorted, space-separated)
# A pattern "-d" needs "--"; before options were taken after the archive, the first rows
# ended "no entry matches".
cases=(
    "extract|enc.zip|-d|out|-P|secret|0|-d big.txt small.txt"
    "extract|enc.zip|small.txt|-P|secret|-d|out|0|small.txt"
    "extract|-P|secret|enc.zip|-d|out|-o|never|big.txt|0|big.txt"
    "extract|-P|secret|-d|out|enc.zip|--|-d|0|-d"
    "extract|enc.zip|-d|64|(none)"
)
for c in "${cases[@]}"; do
    IFS='|' read -r -a words <<<"$c"
    n=${#words[@]}
    rm -rf out
    run "${words[@]:0:n-2}"
    got=$(ls -A out 2>/dev/null | sort | tr '\n' ' ')
    [ -n "$got" ] || got='(none)'
    [ "$rc" -eq "${words[n - 2]}" ] && [ "${got% }" = "${words[n - 1]}" ] ||
        fail "${words[*]:0:n-2}: exit ${words[n - 2]}, extracted '${words[n - 1]}', not '${got% }'"
done
run test enc.zip -P secret small.txt
[ "$rc" -eq 0 ] && grep -qx 'tested 1 entry: 1 OK, 0 failed' <<<"$out" || fail "test ARCHIVE -P PASSWORD PATTERN"

# A stored name with LF and ESC (made by Python's zipfile), which would forge an "OK"
# line and hide what follows it.
python3 -c 'import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w") as z: z.writestr("a\nOK    forged\x1b[8m.txt", "x")' hostile.zip
shown='a\x0AOK    forged\x1B[8m.txt'
rm -rf out
run extract -d out hostile.zip
# Windows names hold no control character: there they are written as "_".
written=$'out/a\nOK    forged\e[8m.txt'
[ ${#runner[@]} -eq 0 ] || written='out/a_OK    forged_[8m.txt'
[ "$rc" -eq 0 ] && [ "$(cat "$written")" = x ] || fail "extract of a name with LF and ESC: $written"
run extract -d out -o never hostile.zip
grep -qxF "skipped $shown: exists, not overwritten" <<<"$out" || fail "extract: the name's LF and ESC shown as \\xNN"

if [ -n "$watcher_pid" ]; then
    touch watcher.stop
    wait "$watcher_pid"
    watcher_pid=
    [ ! -s boxes.log ] || { rc=-; out=; err=$(cat boxes.log); fail "no box appeared"; }
fi

[ "$failures" -eq 0 ] && echo "kalvtool extract: all cases passed" || echo "$failures failure(s)"
[ "$failures" -eq 0 ]
