#!/usr/bin/env bash
# kalvtool test against Info-ZIP unzip -t on archives made by Info-ZIP zip: good ones,
# ones with a bit flipped in an entry's compressed data, and wrong passwords. For every
# entry both must give the same verdict; where unzip names a bad CRC, kalvtool must name
# the same two values; unzip's "incorrect password" is kalvtool's "bad password".
# kalvtool writes nothing, and its exit code is 0 (all OK), 1 (some failed), 2 (the
# archive cannot be read) or 64 (a wrong command line).
#   kalvtool_test_test.sh KALVTOOL [RUNNER...]   (RUNNER: wine, for kalvtool.exe)
set -u
here=$(cd "$(dirname "$0")" && pwd)
tool=$1
shift
runner=("$@")
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cd "$tmp" || exit 1
# shellcheck source=../support/kalvtool_run.sh
source "$here/../support/kalvtool_run.sh"

# flip ARCHIVE ENTRY OUT: OUT is ARCHIVE with one bit flipped in the middle of ENTRY's
# compressed data (behind its local header, APPNOTE 4.3.7).
flip() {
    local info offset csize lengths data
    info=$(unzip -Z -v "$1" "$2")
    offset=$(awk '/offset of local header/ {print $NF}' <<<"$info")
    csize=$(awk '/^ *compressed size:/ {print $(NF-1)}' <<<"$info")
    read -r -a lengths <<<"$(od -An -tu2 -j $((offset + 26)) -N4 "$1")"
    data=$((offset + 30 + lengths[0] + lengths[1] + csize / 2))
    cp "$1" "$3"
    local byte
    byte=$(od -An -tu1 -j "$data" -N1 "$1" | tr -d ' ')
    printf "$(printf '\\%03o' $((byte ^ 0x10)))" | dd of="$3" bs=1 seek="$data" conv=notrunc status=none
}

# unzip's verdicts as "NAME|OK", "NAME|CRC computed stored", "NAME|password" or "NAME|error".
unzip_verdicts() {
    unzip -t -P "$1" "${@:2}" 2>&1 | awk '
        /^ *(testing|skipping):/ {
            if (name != "") print name "|error"
            name = $2
            if ($0 ~ / OK$/) { print name "|OK"; name = "" }
            else if ($0 ~ /incorrect password/) { print name "|password"; name = "" }
            else if ($0 ~ /bad CRC/) { print name "|CRC " toupper($5) " " toupper(substr($8, 1, 8)); name = "" }
            next
        }
        END { if (name != "") print name "|error" }' | sort
}

# kalvtool's verdicts in the same form.
kalvtool_verdicts() {
    sed -n 's/^OK    \(.*\)$/\1|OK/p
            s/^FAIL  \([^:]*\): bad password$/\1|password/p
            s/^FAIL  \([^:]*\): CRC-32 \([0-9A-F]*\), expected \([0-9A-F]*\).*$/\1|CRC \2 \3/p
            s/^FAIL  \([^:]*\): .*$/\1|error/p' <<<"$out" | sort
}

# ---- archives ----------------------------------------------------------------------------
printf 'the shop program\n' >small.txt
for i in $(seq 1 30000); do echo "line $i of the compressible file"; done >big.txt
head -c 300000 /dev/urandom >random.bin
: >empty.txt
zip -q -j plain.zip small.txt big.txt random.bin empty.txt
zip -q -j -P secret crypt.zip small.txt big.txt random.bin
zip -q -j -0 -P secret stored.zip small.txt big.txt
zip -q -j -Z bzip2 bzip2.zip big.txt
flip plain.zip big.txt plain-big-flipped.zip
flip plain.zip random.bin plain-random-flipped.zip
flip crypt.zip big.txt crypt-big-flipped.zip
flip stored.zip big.txt stored-big-flipped.zip
printf 'not an archive\n' >text.zip
# The last entry's central record claims more compressed data than the file holds. The
# component reads the central directory's sizes (unzip the local header's), so it runs
# out of data inside that entry: the entry fails, not the archive.
zip -q -j overlong.zip small.txt big.txt
central=$(grep -obUaP 'PK\x01\x02' overlong.zip | sed -n 2p | cut -d: -f1)
printf '\360\377\377\177' | dd of=overlong.zip bs=1 seek=$((central + 20)) conv=notrunc status=none
head -c 2000 plain.zip >truncated.zip

# ---- each verdict as unzip -t gives it ----------------------------------------------------
# archive | password | patterns | kalvtool's exit code
cases=(
    "plain.zip|-||0"
    "plain.zip|-|big.txt|0"
    "plain.zip|-|*.txt|0"
    "crypt.zip|secret||0"
    "stored.zip|secret||0"
    "crypt.zip|wrong||1"
    "stored.zip|wrong|small.txt|1"
    "plain-big-flipped.zip|-||1"
    "plain-random-flipped.zip|-||1"
    "crypt-big-flipped.zip|secret||1"
    "stored-big-flipped.zip|secret||1"
)
for c in "${cases[@]}"; do
    IFS='|' read -r archive password patterns expected <<<"$c"
    [ "$password" = - ] && password=
    # shellcheck disable=SC2086  # patterns are words
    run test -P "$password" "$archive" $patterns
    [ "$rc" -eq "$expected" ] || fail "$archive -P '$password' $patterns: exit $expected"
    # shellcheck disable=SC2086
    theirs=$(unzip_verdicts "$password" "$archive" $patterns)
    ours=$(kalvtool_verdicts)
    [ -n "$theirs" ] && [ "$ours" = "$theirs" ] ||
        fail "$archive -P '$password' $patterns: verdicts as unzip -t's"$'\n'"unzip:"$'\n'"$theirs"$'\n'"kalvtool:"$'\n'"$ours"
    entries=$(wc -l <<<"$theirs")
    failed=$(grep -vc '|OK$' <<<"$theirs")
    grep -qx "tested $entries entr[a-z]*: $((entries - failed)) OK, $failed failed" <<<"$out" ||
        fail "$archive: the summary counts $entries entries, $failed failed"
done

# ---- where kalvtool differs from unzip on purpose, and what it cannot read ------------------
# args (| between words) | exit code | a line of stdout or stderr
cases=(
    "test|bzip2.zip|1|FAIL  big.txt: unknown compression method 12"
    "test|plain-big-flipped.zip|small.txt|0|tested 1 entry: 1 OK, 0 failed"
    "test|overlong.zip|1|FAIL  big.txt: bad data: Premature end of file reached"
    "test|overlong.zip|1|tested 2 entries: 1 OK, 1 failed"
    "test|plain.zip|nothing.txt|1|no entry matches the patterns given"
    "test|text.zip|2|kalvtool test: "
    "test|truncated.zip|2|kalvtool test: "
    "test|missing.zip|2|kalvtool test: "
    "test|64|kalvtool: test needs an archive"
    "test|-d|out|plain.zip|64|kalvtool: unknown option -d for test"
    "test|-P|64|kalvtool: option -P needs a value"
)
for c in "${cases[@]}"; do
    IFS='|' read -r -a words <<<"$c"
    n=${#words[@]}
    expected=${words[n - 2]}
    line=${words[n - 1]}
    run "${words[@]:0:n-2}"
    [ "$rc" -eq "$expected" ] && grep -qF -- "$line" <<<"$out$err" || fail "${words[*]:0:n-2}: exit $expected, '$line'"
done

# ---- stored names reach the terminal escaped ------------------------------------------------
# A stored name with LF and ESC (made by Python's zipfile), which would forge an "OK"
# line and hide what follows it.
python3 -c 'import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w") as z: z.writestr("a\nOK    forged\x1b[8m.txt", "x")' hostile.zip
shown='a\x0AOK    forged\x1B[8m.txt'
run test hostile.zip
[ "$rc" -eq 0 ] && grep -qxF "OK    $shown" <<<"$out" || fail "test: the name's LF and ESC shown as \\xNN"

# ---- nothing written ----------------------------------------------------------------------
before=$(ls -A | sort)
run test -P secret crypt.zip
[ "$(ls -A | grep -v -e '^out.txt$' -e '^err.txt$' | sort)" = "$(grep -v -e '^out.txt$' -e '^err.txt$' <<<"$before")" ] ||
    fail "test wrote files: $(ls -A)"

run help test
[ "$rc" -eq 0 ] && grep -q 'bad password' <<<"$out" || fail "help test tells the reasons"

[ "$failures" -eq 0 ] && echo "kalvtool test: all cases passed" || echo "$failures failure(s)"
[ "$failures" -eq 0 ]
