#!/usr/bin/env bash
# kalvtool pack, publish, help and --version as an administrator runs them. Every
# package is extracted by Info-ZIP unzip, by 7-Zip and by kalvtool extract (the
# launcher's own component) and compared byte for byte with its source; failures
# leave the target as it was with exit code 2; wrong command lines exit 64.
#   kalvtool_publish_test.sh KALVTOOL VERSION LAUNCHER [RUNNER...]
#   (RUNNER: wine, for the Windows build; the peers then read what kalvtool.exe wrote)
set -u
here=$(cd "$(dirname "$0")" && pwd)
tool=$1
version=$2
launcher=$3
shift 3
runner=("$@")
password=k3m8_q7rw_2x4
tmp=$(mktemp -d)
trap 'chmod -R u+w "$tmp"; rm -rf "$tmp"' EXIT
cd "$tmp" || exit 1
# shellcheck source=../support/kalvtool_run.sh
source "$here/../support/kalvtool_run.sh"

# ---- pack: every peer extracts the same bytes -------------------------------------------
printf 'the shop program\n' >small
head -c 1048576 /dev/urandom >random
for i in $(seq 1 40000); do echo "line $i of the compressible program"; done >compressible

# source  pack options  entry
cases=(
    "small|-|Kalvo3main"
    "random|-|Kalvo3main"
    "compressible|-|Kalvo3main"
    "small|--database|KALVO3.IB"
)
for c in "${cases[@]}"; do
    IFS='|' read -r source option entry <<<"$c"
    [ "$option" = - ] && option=
    package=$source$option.zip
    run pack $option "$source" "$package"
    [ "$rc" -eq 0 ] && grep -q "^packed $entry " <<<"$out" || fail "pack $option $source"
    [ "$(unzip -Z1 "$package" 2>/dev/null)" = "$entry" ] || fail "$package: the one entry is $entry"
    unzip -p -P "$password" "$package" "$entry" >by-unzip 2>/dev/null && cmp -s by-unzip "$source" ||
        fail "unzip -P extracts $source from $package"
    rm -rf by-7z
    7z x -p"$password" -oby-7z "$package" >/dev/null 2>&1 && cmp -s "by-7z/$entry" "$source" ||
        fail "7z x -p extracts $source from $package"
    unzip -p -P wrong "$package" >/dev/null 2>&1 && fail "unzip accepts a wrong password for $package"
    rm -rf by-kalvtool
    run extract -P "$password" -d by-kalvtool "$package"
    [ "$rc" -eq 0 ] && cmp -s "by-kalvtool/$entry" "$source" || fail "kalvtool extract of $package"
done
ls ./*.publishing-* >/dev/null 2>&1 && fail "pack left a temporary file"

# ---- publish: in place of the target, dated after it, nothing else left ------------------
mkdir share
printf 'version 1\n' >v1
printf 'version 2, with more\n' >v2
run publish v1 share/Kalvo3pack
[ "$rc" -eq 0 ] && grep -q '^published Kalvo3main ' <<<"$out" || fail "publish to a new TARGET"
age1=$(stat -c %Y share/Kalvo3pack)
run publish v2 share/Kalvo3pack
[ "$rc" -eq 0 ] || fail "publish over TARGET"
unzip -p -P "$password" share/Kalvo3pack Kalvo3main 2>/dev/null | cmp -s - v2 || fail "TARGET holds version 2"
age2=$(stat -c %Y share/Kalvo3pack)
# Launchers compare dates in the DOS form, whose step is two seconds.
[ $((age2 / 2)) -gt $((age1 / 2)) ] || fail "a republished TARGET is dated a DOS step later ($age1, $age2)"
[ "$(ls share)" = Kalvo3pack ] || fail "publish left $(ls share | tr '\n' ' ')"

# ---- failures: exit 2, a message, the target unchanged, no temporary file -----------------
cp share/Kalvo3pack before
expect_failure() {  # STDERR_PATTERN ARGS...
    local pattern=$1
    shift
    run "$@"
    [ "$rc" -eq 2 ] && [ -z "$out" ] && grep -qF -- "$pattern" <<<"$err" ||
        fail "kalvtool $* (want rc 2 and '$pattern' on stderr)"
    cmp -s before share/Kalvo3pack || fail "kalvtool $* changed TARGET"
    [ "$(ls share)" = Kalvo3pack ] || fail "kalvtool $* left $(ls share | tr '\n' ' ')"
}
expect_failure 'Cannot create file' publish v1 missing/Kalvo3pack
[ -e missing ] && fail "publish into a missing folder created it"
expect_failure 'Cannot open file' publish no-such-file share/Kalvo3pack
chmod a-w share/Kalvo3pack
expect_failure 'read-only' publish v1 share/Kalvo3pack
chmod u+w share/Kalvo3pack

# ---- administrator mistakes: refused before anything is written, or warned -------------------
# A package in a package, or an empty one, passes every launcher's check, is installed
# everywhere and starts nowhere; so is a program packed over itself.
: >empty
zip -q -j -P "$password" by-hand.zip small                       # zip -P, entry not renamed
cp small.zip Kalvo3main && zip -q -P "$password" inner-package.zip Kalvo3main
: >Kalvo3main && zip -q -P "$password" inner-empty.zip Kalvo3main
cp small Kalvo3main && zip -q -P wrong wrong-password.zip Kalvo3main && rm Kalvo3main
ln share/Kalvo3pack share-link
# args (| between words) | exit code | how stderr's first line begins
mistakes=(
    "publish|empty|share/Kalvo3pack|2|kalvtool publish: empty is empty (a failed build?)"
    "publish|small.zip|share/Kalvo3pack|2|kalvtool publish: small.zip is itself a ZIP archive (a package?)"
    "publish|by-hand.zip|share/Kalvo3pack|2|kalvtool publish: by-hand.zip is itself a ZIP archive"
    "pack|empty|out.zip|2|kalvtool pack: empty is empty"
    "pack|small.zip|out.zip|2|kalvtool pack: small.zip is itself a ZIP archive"
    "pack|v1|v1|2|kalvtool pack: v1 and v1 are the same file"
    "pack|v1|./v1|2|kalvtool pack: v1 and ./v1 are the same file"
    "publish|share-link|share/Kalvo3pack|2|kalvtool publish: share-link and share/Kalvo3pack are the same file"
    "publish|--package|inner-package.zip|share/Kalvo3pack|2|kalvtool publish: inner-package.zip's entry Kalvo3main is itself a ZIP archive"
    "publish|--package|inner-empty.zip|share/Kalvo3pack|2|kalvtool publish: inner-empty.zip's entry Kalvo3main is empty"
    "publish|--package|wrong-password.zip|share/Kalvo3pack|2|kalvtool publish: wrong-password.zip is no package that launchers take (bad password)"
    "publish|--package|by-hand.zip|share/Kalvo3pack|2|kalvtool publish: by-hand.zip is no package that launchers take (no entry Kalvo3main)"
    "publish|--package|v1|share/Kalvo3pack|2|kalvtool publish: v1 is no package that launchers take"
    "publish|--package|share/Kalvo3pack|share/Kalvo3pack|2|kalvtool publish: share/Kalvo3pack and share/Kalvo3pack are the same file"
    "publish|--package|--database|small.zip|share/Kalvo3pack|64|kalvtool: publish: --package publishes a program package"
    "publish|2107|v1|share/Kalvo3pack|2|kalvtool publish: share/Kalvo3pack is dated 2107-12-31 23:59:58, the last date"
)
for c in "${mistakes[@]}"; do
    IFS='|' read -r -a words <<<"$c"
    n=${#words[@]}
    args=("${words[@]:0:n-2}")
    cp v1 v1.kept
    [ "${args[1]}" = 2107 ] && { args=("${args[0]}" "${args[@]:2}"); touch -d '2107-12-31 23:59:59' share/Kalvo3pack; }
    cp -p share/Kalvo3pack before
    run "${args[@]}"
    [ "$rc" -eq "${words[n - 2]}" ] && [ -z "$out" ] && [[ "$(head -n 1 <<<"$err")" == "${words[n - 1]}"* ]] ||
        fail "kalvtool ${args[*]}: exit ${words[n - 2]}, '${words[n - 1]}'"
    cmp -s before share/Kalvo3pack && cmp -s v1 v1.kept || fail "kalvtool ${args[*]} changed a file"
    [ "$(ls share)" = Kalvo3pack ] && [ ! -e out.zip ] || fail "kalvtool ${args[*]} left $(ls share | tr '\n' ' ')"
    touch -d '-1 hour' share/Kalvo3pack
done
rm share-link

# A made package is published as it is; a target dated from 2044 on (a DOS date with its top
# bit set) is outrun, not undercut.
run publish --package small.zip share/Kalvo3pack
[ "$rc" -eq 0 ] && cmp -s small.zip share/Kalvo3pack || fail "publish --package puts the package in place as it is"
touch -d '2050-03-01 10:00:00' share/Kalvo3pack
run publish v2 share/Kalvo3pack
[ "$rc" -eq 0 ] && grep -q 'dated 2050-03-01 10:00:02' <<<"$out" && grep -q 'ahead of this computer.s clock' <<<"$err" ||
    fail "publish over a target dated 2050 dates the package after it"

# Only a program that is no PE image is warned about; it is published all the same.
{ printf 'MZ'; head -c 58 /dev/zero; printf '\100\000\000\000PE\000\000'; head -c 100 /dev/zero; } >pe-program
for program in pe-program small; do
    run publish "$program" share/Kalvo3pack
    warned=$(grep -c 'warning: .* is no Windows program' <<<"$err")
    want=$([ "$program" = small ] && echo 1 || echo 0)
    [ "$rc" -eq 0 ] && [ "$warned" -eq "$want" ] || fail "publish $program: $want warning(s) of no PE image"
done

# The target keeps its mode, owner and group whatever this publisher's umask.
if [ ${#runner[@]} -eq 0 ]; then
    for mode in 644 640 664; do
        chmod "$mode" share/Kalvo3pack && chgrp nogroup share/Kalvo3pack 2>/dev/null
        group=$(stat -c %G share/Kalvo3pack)
        (umask 077 && run publish v1 share/Kalvo3pack && [ "$rc" -eq 0 ]) || fail "publish over a $mode target"
        [ "$(stat -c '%a %G' share/Kalvo3pack)" = "$mode $group" ] ||
            fail "the target stays $mode $group, not $(stat -c '%a %G' share/Kalvo3pack)"
    done
fi

# Two publishers at once take turns: two packages, two dates, the later one in place.
for try in 1 2 3; do
    "${runner[@]}" "$tool" publish v1 share/Kalvo3pack >first.txt 2>/dev/null &
    "${runner[@]}" "$tool" publish v2 share/Kalvo3pack >second.txt 2>/dev/null
    wait $!
    dates=$(sed -n 's/.* dated \([0-9-]* [0-9:]*\),.*/\1/p' first.txt second.txt | tr -d '\r' | sort)
    [ "$(uniq <<<"$dates" | wc -l)" -eq 2 ] || fail "two publishes at once, try $try: two dates, not '$dates'"
    # The one in place is the later one, so a shop that fetched the other fetches it too.
    # (The DOS form counts seconds in twos.)
    in_place=$(stat -c %Y share/Kalvo3pack)
    [ "$(date -d "@$((in_place - in_place % 2))" '+%Y-%m-%d %H:%M:%S')" = "$(tail -n 1 <<<"$dates")" ] ||
        fail "two publishes at once, try $try: the later date ($(tail -n 1 <<<"$dates")) is in place"
    [ "$(ls share)" = Kalvo3pack ] || fail "two publishes at once left $(ls share | tr '\n' ' ')"
done
# A lock whose holder on this computer has ended is taken over (natively: Wine names the
# computer in its own way).
if [ ${#runner[@]} -eq 0 ]; then
    printf 'kalvtool publish\npid=4194311\nhost=%s\ntime=%s\n' "$(hostname)" "$(date +%s)" >share/Kalvo3pack.publish-lock
    run publish v1 share/Kalvo3pack
    [ "$rc" -eq 0 ] && [ "$(ls share)" = Kalvo3pack ] || fail "publish takes over a lock left by an ended publisher"
fi

# ---- command line ---------------------------------------------------------------------------
expect_usage() {  # STDERR_PATTERN ARGS...
    local pattern=$1
    shift
    run "$@"
    [ "$rc" -eq 64 ] && grep -qF -- "$pattern" <<<"$err" || fail "kalvtool $* (want rc 64 and '$pattern')"
}
expect_usage 'publish expects FILE and TARGET' publish
expect_usage 'publish expects FILE and TARGET' publish v1
expect_usage 'publish expects FILE and TARGET' publish v1 a b
expect_usage 'pack expects FILE and OUT' pack --database v1
expect_usage 'unknown option --db' pack --db v1 out.zip
expect_usage "no command 'nope' to help with" help nope
expect_usage '--version takes no arguments' --version now
[ ! -e out.zip ] && [ ! -e a ] || fail "a usage error wrote a file"

run --version
[ "$rc" -eq 0 ] && [ "$out" = "kalvtool $version" ] || fail "--version prints 'kalvtool $version'"
run help
for command in extract list pack publish selfcheck token help --version; do
    [ "$rc" -eq 0 ] && grep -q "^  kalvtool $command" <<<"$out" || fail "help lists $command"
done
for command in extract list pack publish selfcheck token; do
    run help "$command"
    [ "$rc" -eq 0 ] && grep -q "^kalvtool $command " <<<"$out" && grep -q 'Exit codes' <<<"$out" ||
        fail "help $command: its usage and exit codes"
done
run help publish
[ "$rc" -eq 0 ] && grep -q '^kalvtool publish \[--database\] \[--key KEYFILE\] FILE TARGET' <<<"$out" &&
    grep -q 'Exit codes' <<<"$out" || fail "help publish"

# ---- only kalvtool carries zlib; the launcher stays free of it ------------------------------
# zlib's entry point by name: in the dynamic symbols of the Linux build, in the symbol
# table of the statically linked Windows one.
grep -aq 'deflateInit2_' "$tool" || fail "kalvtool carries zlib's Deflate"
grep -aqE 'deflateInit2_|inflateInit2_|deflate 1\.' "$launcher" && fail "the launcher $launcher links zlib"

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "kalvtool pack, publish, help and --version: all checks passed"
