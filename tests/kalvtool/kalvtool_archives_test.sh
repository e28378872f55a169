#!/usr/bin/env bash
# kalvtool on archives made elsewhere, by the real producers: Info-ZIP zip under another
# time zone, zip -y of a link, Python's zipfile with the old Unix time field and with
# 65,521 entries, 7-Zip's WinZip AES. Each row gives the expected exit code, message and
# tree, and whether Info-ZIP unzip (run the same way) must give the same tree and times.
# Natively, and kalvtool.exe under Wine.
#   kalvtool_archives_test.sh KALVTOOL [RUNNER...]   (RUNNER: wine)
set -u
here=$(cd "$(dirname "$0")" && pwd)
tool=$1
shift
runner=("$@")
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cd "$tmp" || exit 1
export TZ=UTC
# shellcheck source=../support/kalvtool_run.sh
source "$here/../support/kalvtool_run.sh"

# ---- the archives -------------------------------------------------------------------------
printf 'the shop program\n' >f
touch -d '2020-01-01 12:00 UTC' f
TZ=Asia/Tokyo zip -q tokyo.zip f  # DOS time 21:00, extended timestamp 12:00 UTC
ln -s f link
zip -q -X -y link.zip link f
ln -s ../../outside/passwd escape
zip -q -X -y escape.zip escape
printf 'menu\n' >'café.txt'
zip -q -X utf8.zip 'café.txt'  # made on Unix, no UTF-8 flag, UTF-8 bytes
printf 'menu\n' >"$(printf 'caf\351.txt')"
zip -q -X latin1.zip "$(printf 'caf\351.txt')"  # not UTF-8: code page 437, 0xE9 is Θ
7z a -tzip -psecret -mem=AES256 aes.zip f >/dev/null
python3 - <<'EOF'
import struct, zipfile
# The old Info-ZIP Unix field (0x5855): access time, then modification time, UTC; the
# DOS time says 2001 so that only the field gives 2020-01-01 12:00.
info = zipfile.ZipInfo('old.txt', date_time=(2001, 5, 5, 5, 5, 4))
info.create_system = 3
info.extra = struct.pack('<HHII', 0x5855, 8, 1577880000, 1577880000)
with zipfile.ZipFile('oldunix.zip', 'w') as z:
    z.writestr(info, 'old field\n')
# The same field in both headers, then the central copy's time moved on a year, as a
# tool that rewrites the directory and keeps the local headers leaves it: the local
# header's time is the one unzip gives the file.
info = zipfile.ZipInfo('kept.txt', date_time=(2001, 5, 5, 5, 5, 4))
info.create_system = 3
info.extra = struct.pack('<HHBI', 0x5455, 5, 1, 1577880000)
with zipfile.ZipFile('rewritten.zip', 'w') as z:
    z.writestr(info, 'kept\n')
data = bytearray(open('rewritten.zip', 'rb').read())
at = data.index(b'UT\x05\x00\x01', data.index(b'PK\x01\x02'))
data[at + 5:at + 9] = struct.pack('<I', 1577880000 + 366 * 86400)
open('rewritten.zip', 'wb').write(bytes(data))
# The time field in the central record alone (as some jar tools write it): unzip then
# dates the file by its DOS time.
data = bytearray(open('rewritten.zip', 'rb').read())
at = data.index(b'UT\x05\x00\x01')
data[at:at + 2] = b'XX'
open('centralonly.zip', 'wb').write(bytes(data))
with zipfile.ZipFile('many.zip', 'w') as z:  # one more than the object lists' 65520
    for i in range(65521):
        z.writestr('d/%05d' % i, '')
EOF

# tree ROOT: each file under ROOT as "path@mtime" (seconds UTC), sorted, space-separated;
# a link shows as "path->target".
tree() {
    (cd "$1" 2>/dev/null && find . -mindepth 1 ! -type d -printf '%P' \( -type l -printf '->%l ' -o -printf '@%T@ ' \) |
        tr ' ' '\n' | sed 's/\.0*$//' | sort | tr '\n' ' ')
}

# archive | kalvtool args | exit | a line of stdout | tree of out ("-": not checked) | same as unzip
t=1577880000  # 2020-01-01 12:00:00 UTC
cases=(
    "tokyo.zip|extract -d out|0|extracted 1 of 1|f@$t|yes"
    "tokyo.zip|extract --sync -d out|0|extracted 1 of 1|f@$t|yes"
    "oldunix.zip|extract -d out|0|extracted 1 of 1|old.txt@$t|yes"
    "rewritten.zip|extract -d out|0|extracted 1 of 1|kept.txt@$t|yes"
    "centralonly.zip|extract -d out|0|extracted 1 of 1|kept.txt@989039104|yes"
    "utf8.zip|extract -d out|0|extracted 1 of 1|café.txt@-|yes"
    "latin1.zip|extract -d out|0|extracted 1 of 1|cafΘ.txt@-|no"
    "link.zip|extract -d out|0|extracted 2 of 2|f@$t link->f|yes"
    "escape.zip|extract -d out|1|skipped escape: a symbolic link leading out of the destination: not extracted||no"
    "link.zip|test|0|tested 2 entries: 2 OK, 0 failed|-|no"
    "aes.zip|extract -P secret -d out|1|skipped f: encrypted with AES: not supported||no"
    "aes.zip|test -P secret|1|FAIL  f: encrypted with AES: not supported|-|no"
    "many.zip|list|0|65521 entries, 0 bytes packed, 0 bytes|-|no"
    "many.zip|test|0|tested 65521 entries: 65521 OK, 0 failed|-|no"
)
for c in "${cases[@]}"; do
    IFS='|' read -r archive words code line want same <<<"$c"
    if [ ${#runner[@]} -gt 0 ]; then
        # On Windows a code page 437 name goes to the ANSI page, where Θ has no place.
        [ "$archive" = latin1.zip ] && continue
        # Windows makes no links: every link entry is skipped, and said so.
        case "$archive|$words" in
        link.zip\|extract*) code=1 line="skipped link: a symbolic link: not extracted" want="f@$t" same=no ;;
        escape.zip\|extract*) line="skipped escape: a symbolic link: not extracted" ;;
        esac
    fi
    rm -rf out ref
    read -r -a args <<<"$words"
    run "${args[@]}" "$archive"
    what="$words $archive"
    [ "$rc" -eq "$code" ] || fail "$what: exit $code"
    grep -qxF -- "$line" <<<"$out" || fail "$what: the line '$line'"
    [ "$want" = - ] && continue
    got=$(tree out)
    # A "@-" time is not checked (the file is as old as this run).
    [ "$(sed 's/@[0-9]*//g' <<<"${got% }")" = "$(sed 's/@[-0-9]*//g' <<<"$want")" ] &&
        { grep -q '@-' <<<"$want" || [ "${got% }" = "$want" ]; } || fail "$what: tree '$want', not '${got% }'"
    if [ "$same" = yes ]; then
        unzip -qq -d ref "$archive" >/dev/null 2>&1
        [ "$(tree ref)" = "$got" ] || fail "$what: as unzip gives it: '$(tree ref)'"
    fi
done

# The lists' failure text is Windows-1251; no byte of it may reach the terminal.
run list many.zip
LC_ALL=C grep -q $'\xCF\xF0\xEE' out.txt err.txt && fail "list many.zip: Windows-1251 bytes on the terminal"
run help extract
grep -q -- '--sync' <<<"$out" || fail "help extract: names --sync"

[ "$failures" -eq 0 ] && echo "kalvtool on other producers' archives: all cases passed" || echo "$failures failure(s)"
[ "$failures" -eq 0 ]
