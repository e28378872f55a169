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
: >empty
printf 'the shop program\n' >small
head -c 1048576 /dev/urandom >random
for i in $(seq 1 40000); do echo "line $i of the compressible program"; done >compressible

# source  pack options  entry
cases=(
    "empty|-|Kalvo3main"
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
[ "$rc" -eq 0 ] && grep -q '^kalvtool publish \[--database\] FILE TARGET' <<<"$out" &&
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
