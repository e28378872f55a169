#!/usr/bin/env bash
# kalvtool doctor on a healthy installation and on broken ones: each names its problem
# on a line of its own, with exit code 0 (all OK), 1 (warnings) or 2 (failures), and
# writes nothing. Natively, the launcher is then started on the installations whose
# upgrade copy is newer: it fetches exactly the copy that doctor said it would fetch.
#   kalvtool_doctor_test.sh KALVTOOL LAUNCHER STANDIN [RUNNER...]
#   (RUNNER: wine, for kalvtool.exe; the launcher is then only copied, never run)
set -u
here=$(cd "$(dirname "$0")" && pwd)
tool=$1
launcher=$2
standin=$3
shift 3
runner=("$@")
password=k3m8_q7rw_2x4
tmp=$(mktemp -d)
holder=
trap '[ -n "$holder" ] && { touch "$tmp"/*/Kalvo3main.report.txt.release; wait "$holder"; }; rm -rf "$tmp"' EXIT
cd "$tmp" || exit 1
# This user's fallback run log (natively), away from the real one.
export XDG_STATE_HOME=$tmp/state
# The application's guard is a lock file in the user's runtime folder: one of this
# run's own, as a login session has.
export XDG_RUNTIME_DIR=$tmp/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"
# shellcheck source=../support/kalvtool_run.sh
source "$here/../support/kalvtool_run.sh"
# shellcheck source=../support/zip_refusing.sh
source "$here/../support/zip_refusing.sh"

# Every file below a folder with its size, date and checksum.
snapshot() { find "$1" -type f -printf '%P %s %T@ ' -exec md5sum {} \; | sort; }

# ---- a healthy installation, and what breaks one -------------------------------------------
cp "$standin" program
printf 'the shop database\n' >database
# Two packages of the same program differ in their random encryption headers.
run pack program Kalvo3pack.good && run pack program Kalvo3pack.newer && run pack --database database Volka.bpl.good ||
    fail "pack the packages"
cp program Kalvo3main
zip_refusing Kalvo3pack.wrong-password wrong "$password" Kalvo3main
cp database OTHER
zip -q -j -P "$password" Kalvo3pack.no-entry OTHER
cp Kalvo3pack.good Kalvo3pack.damaged
printf '\377\377\377\377' | dd of=Kalvo3pack.damaged bs=1 seek=2000 conv=notrunc status=none
rm Kalvo3main OTHER
# Packages that pass the launcher's check but hold no program: a package in the package
# (a package published as the program), an empty program (a failed build).
cp Kalvo3pack.good Kalvo3main && zip -q -P "$password" Kalvo3pack.inner-package Kalvo3main
: >Kalvo3main && zip -q -P "$password" Kalvo3pack.inner-empty Kalvo3main
rm Kalvo3main
# What the next start needs on the disk: the program, and a newer copy fetched beside
# the package.
mib() { awk -v b="$1" 'BEGIN { printf "%.1f MiB", b / 1048576 }'; }
program_size=$(stat -c %s program)
needs_program=$(mib "$program_size")
needs_fetch=$(mib $((program_size + $(stat -c %s Kalvo3pack.newer))))

# healthy DIR: the launcher, both packages, the database, NET.INF naming an older copy
healthy() {
    mkdir -p "$1" upgrade
    cp "$launcher" "$1/"
    cp Kalvo3pack.good "$1/Kalvo3pack"
    cp Volka.bpl.good "$1/Volka.bpl"
    cp database "$1/KALVO3.IB"
    printf '[DB]\r\nUpgrade=../upgrade/%s\r\n' "$1" >"$1/NET.INF"
    cp Kalvo3pack.good "upgrade/$1"
    touch -d '-2 days' "upgrade/$1"
    touch -d '-1 day' "$1/Kalvo3pack" "$1/Volka.bpl"
    printf '=== 2026-12-01 08:00:00 Kalv3 older run\r\nstarted\r\n=== 2026-12-02 09:00:00 Kalv3 last run\r\nbox: Kalv|a box\r\n' >"$1/Kalv3.log"
}

# name | what breaks it | doctor's exit code | a line it prints (extended regex)
cases=(
    "healthy|:|0|^OK    Kalv3.log: the last run:$"
    "no-package|rm no-package/Kalvo3pack upgrade/no-package|2|^FAIL  Kalvo3pack: missing, and no newer upgrade copy"
    "first-start|rm first-start/Kalvo3pack; cp Kalvo3pack.newer upgrade/first-start|0|^OK    upgrade copy: .*newer than the local package. The next start fetches it$"
    "wrong-password|cp Kalvo3pack.wrong-password wrong-password/Kalvo3pack|2|^FAIL  Kalvo3pack: Kalvo3main: bad password. The application cannot start: the package was not made with the launchers' password"
    "no-entry|cp Kalvo3pack.no-entry no-entry/Kalvo3pack|2|^FAIL  Kalvo3pack: holds no entry Kalvo3main"
    "damaged|cp Kalvo3pack.damaged damaged/Kalvo3pack|2|^FAIL  Kalvo3pack: Kalvo3main: (CRC-32 [0-9A-F]{8}, expected [0-9A-F]{8}|bad data).*damaged"
    "db-1979|touch -d 1979-06-01 db-1979/KALVO3.IB|1|^WARN  KALVO3.IB: 18 bytes, dated before 1980 or after 2107. The launcher keeps it"
    "db-missing|rm db-missing/KALVO3.IB|1|^WARN  KALVO3.IB: missing. The next start unpacks a new, empty database"
    "db-and-package-missing|rm db-and-package-missing/KALVO3.IB db-and-package-missing/Volka.bpl|2|^FAIL  Volka.bpl: missing. The database is missing"
    "db-package-missing|rm db-package-missing/Volka.bpl|0|^OK    Volka.bpl: missing. Not needed while KALVO3.IB is there$"
    "unreachable|printf '[DB]\nUpgrade=../nowhere/Kalvo3pack\n' >unreachable/NET.INF|1|^WARN  upgrade copy: .*nowhere.Kalvo3pack is not there.*Every start shows \"File not found :\""
    "upgrade-folder|rm upgrade/upgrade-folder; mkdir upgrade/upgrade-folder|1|^WARN  upgrade copy: .*upgrade-folder is a folder"
    "empty-upgrade|printf '[db]\nupgrade=\n' >empty-upgrade/NET.INF|1|^WARN  NET.INF: \\[DB\\] Upgrade= is empty"
    "no-net-inf|rm no-net-inf/NET.INF|1|^WARN  NET.INF: no readable \\[DB\\] Upgrade key: there is no NET.INF. The launcher then never refreshes"
    "key-typo|printf '[DB]\nUpgarde=x\n' >key-typo/NET.INF|1|^WARN  NET.INF: .*\\[DB\\] section has no Upgrade key \\(it has: Upgarde\\)"
    "no-db-section|printf '[NET]\nUpgrade=x\n' >no-db-section/NET.INF|1|^WARN  NET.INF: .*NET.INF has no \\[DB\\] section"
    "utf16-net-inf|printf '\377\376[\0D\0B\0]\0' >utf16-net-inf/NET.INF|1|^WARN  NET.INF: .*UTF-16"
    "bom-net-inf|printf '\357\273\277[DB]\r\nUpgrade=../upgrade/bom-net-inf\r\n' >bom-net-inf/NET.INF|0|^OK    NET.INF: \\[DB\\] Upgrade=../upgrade/bom-net-inf$"
    "named-itself|printf '[DB]\nUpgrade=Kalvo3pack\n' >named-itself/NET.INF|0|^OK    upgrade copy: the upgrade path names the local package itself"
    "newer|cp Kalvo3pack.newer upgrade/newer; touch -d '+1 hour' upgrade/newer|0|^OK    upgrade copy: .*newer than the local package. The next start fetches it$"
    "damaged-newer|cp Kalvo3pack.damaged upgrade/damaged-newer; touch -d '+1 hour' upgrade/damaged-newer|1|^WARN  upgrade copy: .*newer than the local package, but Kalvo3main: .*drops it"
    "truncated-newer|head -c 3000 Kalvo3pack.good >upgrade/truncated-newer; touch -d '+1 hour' upgrade/truncated-newer|1|^WARN  upgrade copy: .*but not a readable package"
    "undated-copy|touch -d 1979-01-01 upgrade/undated-copy|1|^WARN  upgrade copy: .*before 1980 or after 2107. A copy without a date from 1980 to 2107 is never fetched"
    "no-log|rm no-log/Kalv3.log|0|^OK    Kalv3.log: none in this folder"
    "inner-package|cp Kalvo3pack.inner-package inner-package/Kalvo3pack|2|^FAIL  Kalvo3pack: Kalvo3main is itself a ZIP archive \\(a package inside the package\\). The application cannot start: publish the program itself"
    "inner-empty|cp Kalvo3pack.inner-empty inner-empty/Kalvo3pack|2|^FAIL  Kalvo3pack: Kalvo3main is empty. The application cannot start"
    "newer-inner-package|cp Kalvo3pack.inner-package upgrade/newer-inner-package; touch -d '+1 hour' upgrade/newer-inner-package|2|^FAIL  upgrade copy: .*newer than the local package, but Kalvo3main is itself a ZIP archive.*The next start fetches it and cannot start the application"
)
# The launcher's fallback log, where it writes when its folder cannot be written (the
# Linux build's place): shown when it holds the later run.
[ ${#runner[@]} -eq 0 ] &&
    cases+=("fallback-log|mkdir -p state/kalv3; printf '=== Kalv3 3.0.0 run 2026-12-03 10:00:00\\nrefresh: fetched\\n' >state/kalv3/Kalv3.log; touch -d '+1 minute' state/kalv3/Kalv3.log|0|^OK    Kalv3.log: the last run, from .*/state/kalv3/Kalv3.log \\(this user's log")
# An upgrade copy whose open never returns (a FIFO natively, as a hung share): doctor
# answers after the launcher's bound. Run beside the other cases, for its 30 s.
if [ ${#runner[@]} -eq 0 ]; then
    healthy hung
    rm upgrade/hung
    mkfifo upgrade/hung
    (
        start=$(date +%s)
        "$tool" doctor hung >hung.out 2>&1
        echo "rc=$? seconds=$(($(date +%s) - start))" >>hung.out
    ) &
    hung_doctor=$!
fi

for c in "${cases[@]}"; do
    IFS='|' read -r name breaking expected line <<<"$c"
    healthy "$name"
    eval "$breaking"
    before=$(snapshot "$name"; snapshot upgrade)
    run doctor "$name"
    [ "$rc" -eq "$expected" ] && grep -qE -- "$line" <<<"$out" || fail "$name: exit $expected, a line /$line/"
    # One line per check, each starting with its verdict, and the summary's counts.
    checks=$(grep -cE '^(OK|WARN|FAIL)  ' <<<"$out")
    [ "$checks" -eq 12 ] || fail "$name: twelve checks, not $checks"
    grep -qE "^checked .*$name.: $(grep -c '^OK ' <<<"$out") OK, $(grep -c '^WARN ' <<<"$out") WARN, $(grep -c '^FAIL ' <<<"$out") FAIL$" <<<"$out" ||
        fail "$name: the summary counts the lines"
    case $name in
        healthy | wrong-password) needs=$needs_program ;;
        newer | first-start) needs=$needs_fetch ;;
        *) needs= ;;
    esac
    [ -z "$needs" ] || grep -qE "^OK    free space: .* free, the next start needs $needs$" <<<"$out" ||
        fail "$name: the next start needs $needs"
    case $expected in
        0) grep -qE '^(WARN|FAIL) ' <<<"$out" && fail "$name: all OK" ;;
        1) grep -q '^FAIL ' <<<"$out" && fail "$name: warnings only" ;;
    esac
    [ "$(snapshot "$name"; snapshot upgrade)" = "$before" ] || fail "$name: doctor changed files"
done
rm -rf state

# The log's last block is printed, and only it.
run doctor healthy
grep -qx '      | === 2026-12-02 09:00:00 Kalv3 last run' <<<"$out" && grep -qx '      | box: Kalv|a box' <<<"$out" &&
    ! grep -q 'older run' <<<"$out" || fail "healthy: the log's last block, and only it"
# A control character in the log (an older launcher's, a hand-edited one) reaches no
# terminal.
printf '=== 2026-12-02 09:00:00 Kalv3 last run\r\nbox: \033[8mhidden\r\n' >healthy/Kalv3.log
run doctor healthy
grep -qxF '      | box: \x1B[8mhidden' <<<"$out" || fail "healthy: the log's ESC shown as \\x1B"

if [ -n "${hung_doctor:-}" ]; then
    wait "$hung_doctor"
    grep -qE '^WARN  upgrade copy: .*hung.*did not answer within 30 s. Every start waits that long for it, then goes on with the local package' hung.out &&
        grep -qE '^rc=1 seconds=(29|3[0-9]|4[0-9])$' hung.out || fail "hung: doctor answers within the bound: $(cat hung.out)"
fi

# ---- the launcher fetches what doctor said it would fetch --------------------------------------
if [ ${#runner[@]} -eq 0 ]; then
    for name in newer damaged-newer; do
        kept=$(md5sum <"$name/Kalvo3pack")
        (cd "$name" && "./$(basename "$launcher")" >/dev/null 2>&1)
        # The application's report; the limit only ends a run that is broken.
        for _ in $(seq 1 1200); do [ -f "$name/Kalvo3main.report.txt" ] && break; sleep 0.1; done
        [ -f "$name/Kalvo3main.report.txt" ] || fail "$name: the launcher started the application"
        now=$(md5sum <"$name/Kalvo3pack")
        case $name in
            newer) [ "$now" = "$(md5sum <"upgrade/$name")" ] || fail "newer: the launcher fetched the copy" ;;
            damaged-newer) [ "$now" = "$kept" ] || fail "damaged-newer: the launcher dropped the copy" ;;
        esac
        # The run's block of the launcher's own log, which follows the older ones.
        run doctor "$name"
        block=$(sed -n '/^OK    Kalv3.log: the last run:$/,/^checked /p' <<<"$out")
        case $name in
            newer) said='refresh: fetched' ;;
            damaged-newer) said='refresh: not fetched, ' ;;
        esac
        grep -qE '^      \| === Kalv3 .* run ' <<<"$block" && grep -qF "      | $said" <<<"$block" &&
            ! grep -q 'older run\|last run$' <<<"$block" || fail "$name: doctor shows the launcher's block, '$said'"
    done
fi

# ---- the application running now -------------------------------------------------------------
healthy running
cp "$standin" running/
if [ ${#runner[@]} -gt 0 ]; then
    (cd running && KALV_STANDIN_STAY_SECONDS=300 "${runner[@]}" "./$(basename "$standin")" >/dev/null 2>&1) &
else
    (cd running && KALV_STANDIN_STAY_SECONDS=300 "./$(basename "$standin")" >/dev/null 2>&1) &
fi
holder=$!
for _ in $(seq 1 1200); do [ -f running/Kalvo3main.report.txt.holding ] && break; sleep 0.1; done
[ -f running/Kalvo3main.report.txt.holding ] || fail "the stand-in did not start"
run doctor running
[ "$rc" -eq 1 ] && grep -qE '^WARN  application: running now. A start now only says "Can run only one instance' <<<"$out" ||
    fail "running: the application is named running"
touch running/Kalvo3main.report.txt.release
wait "$holder"
holder=
run doctor running
[ "$rc" -eq 0 ] && grep -q '^OK    application: not running$' <<<"$out" || fail "running: not running once it ended"

# ---- a folder this user cannot write or read (natively, as an unprivileged user) ---------------
# The usual Program Files mistake: every start fails, and the folder's log is old. A folder
# that cannot be read at all is not a folder whose files are missing: no advice to
# restore the database over a live one.
as_user=()
[ "$(id -u)" -eq 0 ] && as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
if [ ${#runner[@]} -eq 0 ] && { [ ${#as_user[@]} -eq 0 ] || command -v setpriv >/dev/null; }; then
    chmod 755 "$tmp"
    # name | chmod of the folder | exit code | lines it prints (extended regex, ; between them)
    cases=(
        "read-only|555|2|^FAIL  folder: .*read-only/: cannot create a file in it \(Permission denied\). Every start fails;^WARN  Kalv3.log: the last run in this folder's log, which may be old"
        "unreadable|744|2|^FAIL  folder: cannot read .*unreadable/ \(Permission denied\)\. Run kalvtool doctor as a user who may read it;^checked .*: 0 OK, 0 WARN, 1 FAIL$"
        "no-entry-right|000|2|^FAIL  folder: cannot read .*no-entry-right/ \(Permission denied\)"
    )
    for c in "${cases[@]}"; do
        IFS='|' read -r name mode expected lines <<<"$c"
        healthy "$name"
        chmod -R a+rX "$name" upgrade && chmod "$mode" "$name"
        "${as_user[@]}" "$tool" doctor "$name" >out.txt 2>err.txt
        rc=$?
        out=$(cat out.txt)
        err=$(cat err.txt)
        IFS=';' read -r -a wanted <<<"$lines"
        for line in "${wanted[@]}"; do
            grep -qE -- "$line" <<<"$out" || fail "$name: a line /$line/"
        done
        [ "$rc" -eq "$expected" ] || fail "$name: exit $expected"
        grep -qi 'restore' <<<"$out" && fail "$name: no advice to restore anything"
        [ -z "$(find "$name" -name '.kalvtool-probe-*')" ] || fail "$name: the probe file is gone"
        chmod 755 "$name"
    done
    # A folder whose parent may not be entered: "cannot read", not "no folder".
    mkdir -p closed/inside && chmod 700 closed
    "${as_user[@]}" "$tool" doctor closed/inside >out.txt 2>err.txt
    rc=$?
    err=$(cat err.txt)
    [ "$rc" -eq 2 ] && grep -q '^kalvtool doctor: cannot read folder .*closed/inside (Permission denied)' err.txt ||
        fail "closed/inside: cannot read folder"
    chmod 755 closed
fi

# ---- the command line --------------------------------------------------------------------------
# args (| between words) | exit code | a line of stdout or stderr
cases=(
    "doctor|nowhere|2|kalvtool doctor: no folder "
    "doctor|healthy|extra|64|kalvtool: doctor takes at most one folder"
    "doctor|-v|64|kalvtool: doctor takes at most one folder"
)
for c in "${cases[@]}"; do
    IFS='|' read -r -a words <<<"$c"
    n=${#words[@]}
    run "${words[@]:0:n-2}"
    [ "$rc" -eq "${words[n - 2]}" ] && grep -qF -- "${words[n - 1]}" <<<"$out$err" ||
        fail "${words[*]:0:n-2}: exit ${words[n - 2]}, '${words[n - 1]}'"
done
(cd healthy && "${runner[@]}" "$tool" doctor >../out.txt 2>&1)
rc=$?
out=$(tr -d '\r' <out.txt)
[ "$rc" -eq 0 ] && grep -qE '^checked .*healthy.: 12 OK' <<<"$out" || fail "doctor without DIR checks the current folder"

[ "$failures" -eq 0 ] && echo "kalvtool doctor: all cases passed" || echo "$failures failure(s)"
[ "$failures" -eq 0 ]
