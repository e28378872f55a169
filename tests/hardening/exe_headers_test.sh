#!/usr/bin/env bash
# The built programs' headers, as the hardening flags and the delay-loaded imports
# (cmake/KalvHardening.cmake) must leave them.
#   exe_headers_test.sh pe OBJDUMP EXE[=DLL,DLL...]...   Windows programs; the DLLs
#       listed after = are to be delay-loaded: named in the image, not imported at start
#   exe_headers_test.sh elf READELF EXE...               Linux programs
set -u
format=$1 reader=$2
shift 2
failures=0

fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# The DLLs a program may import at start: KnownDLLs that every run needs, which the
# loader maps from System32 whatever the search path, and the C runtime's.
allowed_import() {
    case $1 in
    kernel32.dll | user32.dll | gdi32.dll | advapi32.dll | msvcrt.dll | ucrtbase.dll | api-ms-win-crt-*.dll) return 0 ;;
    esac
    return 1
}

check_pe() {
    local exe=$1 delayed=$2 headers characteristics imports dll symbols
    headers=$("$reader" -p "$exe") || { fail "$exe: $reader -p failed"; return; }
    # The flag names objdump prints below the DllCharacteristics value.
    characteristics=$(sed -n '/^DllCharacteristics/,/^SizeOfStackReserve/p' <<<"$headers")
    for flag in DYNAMIC_BASE HIGH_ENTROPY_VA NX_COMPAT; do
        grep -qw "$flag" <<<"$characteristics" || fail "$exe: DllCharacteristics without $flag"
    done
    imports=$(awk '/DLL Name:/ {print tolower($3)}' <<<"$headers")
    [ -n "$imports" ] || fail "$exe: no import table read"
    for dll in $imports; do
        allowed_import "$dll" || fail "$exe: imports $dll at start (beyond kernel32, user32, gdi32, advapi32, the C runtime)"
    done
    for dll in ${delayed//,/ }; do
        grep -qx "$dll.dll" <<<"$imports" && fail "$exe: $dll.dll imported at start, not delay-loaded"
        grep -aqi "$dll\.dll" "$exe" || fail "$exe: $dll.dll not named in the image: no delay-load descriptor"
    done
    # The canary's and the checked calls' code, linked from libssp, where the symbol
    # table is kept.
    symbols=$("$reader" -t "$exe")
    if grep -q '\.text' <<<"$symbols"; then
        grep -qw __stack_chk_fail <<<"$symbols" || fail "$exe: no __stack_chk_fail: built without a stack protector"
        grep -qE ' __[a-z]+_chk$' <<<"$symbols" || fail "$exe: no checked call (__*_chk): built without _FORTIFY_SOURCE"
    fi
}

check_elf() {
    local exe=$1 dynamic
    "$reader" -hW "$exe" | grep -q 'Type: *DYN' || fail "$exe: not position independent (ELF type not DYN)"
    dynamic=$("$reader" -dW "$exe")
    grep -q 'FLAGS_1).*PIE' <<<"$dynamic" || fail "$exe: no PIE flag in FLAGS_1"
    grep -qE '\(BIND_NOW\)|\(FLAGS\).*BIND_NOW|\(FLAGS_1\).* NOW' <<<"$dynamic" ||
        fail "$exe: symbols bound lazily (no BIND_NOW): the GOT stays writable"
    "$reader" -lW "$exe" | grep -q GNU_RELRO || fail "$exe: no GNU_RELRO segment"
    "$reader" --dyn-syms -W "$exe" | grep -qw '__stack_chk_fail' ||
        fail "$exe: no __stack_chk_fail: built without a stack protector"
    "$reader" --dyn-syms -W "$exe" | grep -qE ' __[a-z]+_chk(@|$)' ||
        fail "$exe: no checked call (__*_chk): built without _FORTIFY_SOURCE"
}

for arg in "$@"; do
    case $format in
    pe) check_pe "${arg%%=*}" "$([[ $arg == *=* ]] && echo "${arg#*=}")" ;;
    elf) check_elf "$arg" ;;
    *) fail "unknown format $format" ;;
    esac
done
[ "$failures" -eq 0 ] && echo "all headers hardened: $*"
exit $((failures > 0))
