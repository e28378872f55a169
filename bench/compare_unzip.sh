#!/usr/bin/env bash
# Extracts each archive given (or found under /usr) with kalvtool and with Info-ZIP
# unzip and compares the files: names, contents and modification times (folders are
# not compared: kalvtool leaves their times to the system). Prints one verdict per
# archive and the counts:
#   identical   the same files, bytes and times
#   deliberate  differs only where kalvtool reports an entry it leaves out on purpose
#               (a symbolic link, a WinZip AES entry, a path leaving the destination);
#               also, not told apart here: names in code page 437 (unzip writes them in
#               ISO 8859-1 bytes, kalvtool in UTF-8) and Reduce entries (unzip 6 has
#               no Reduce decoder)
#   different   anything else
#   bench/compare_unzip.sh KALVTOOL [SECONDS] [ARCHIVE...]
set -u
tool=$(realpath "$1")
budget=${2:-300}
shift 2 2>/dev/null || shift $#
export TZ=${TZ:-UTC}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
if [ $# -eq 0 ]; then
    mapfile -t archives < <(find /usr /opt -xdev -type f \( -name '*.jar' -o -name '*.whl' -o -name '*.zip' \
        -o -name '*.epub' -o -name '*.odt' -o -name '*.docx' -o -name '*.apk' \) -size -8M 2>/dev/null | sort)
else
    archives=("$@")
fi
files() { (cd "$1" && find . -type f -printf '%P %T@ %s\n' -o -type l -printf '%P -> %l\n' | sort); }
identical=0 deliberate=0 different=0 started=$SECONDS
for a in "${archives[@]}"; do
    [ $((SECONDS - started)) -ge "$budget" ] && break
    unzip -Z1 "$a" >/dev/null 2>&1 || continue  # not a ZIP archive (psfont.properties.ja)
    rm -rf "$tmp/k" "$tmp/u"
    "$tool" extract -r -o always -d "$tmp/k" "$a" >"$tmp/k.out" 2>&1 </dev/null
    unzip -qq -o -P '' -d "$tmp/u" "$a" >/dev/null 2>&1 </dev/null
    mkdir -p "$tmp/k" "$tmp/u"
    if [ "$(files "$tmp/k")" = "$(files "$tmp/u")" ] && diff -rq "$tmp/k" "$tmp/u" >/dev/null 2>&1; then
        identical=$((identical + 1))
    elif grep -qE 'symbolic link: not extracted|encrypted with AES|leaves the destination' "$tmp/k.out"; then
        deliberate=$((deliberate + 1))
        echo "deliberate: $a: $(grep -m1 -E 'symbolic|AES|leaves' "$tmp/k.out")"
    else
        different=$((different + 1))
        echo "different: $a: $(diff <(files "$tmp/k") <(files "$tmp/u") | head -3 | tr '\n' ' ')"
    fi
done
echo "archives: $((identical + deliberate + different)) of ${#archives[@]}; identical $identical," \
    "deliberate differences $deliberate, differences left $different"
