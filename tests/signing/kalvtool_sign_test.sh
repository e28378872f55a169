#!/usr/bin/env bash
# kalvtool keygen, pack / publish --key and verify as a publisher runs them, on packages
# made by Info-ZIP zip (with their extra fields): one byte changed in each part of a
# signed package fails it, Info-ZIP unzip -t and 7-Zip still accept it, and OpenSSL
# confirms the signature is ECDSA P-256 over SHA-256 of the bytes before it.
#   kalvtool_sign_test.sh KALVTOOL [RUNNER...]   (RUNNER: wine, for kalvtool.exe)
set -u
here=$(cd "$(dirname "$0")" && pwd)
tool=$1
shift
runner=("$@")
password=k3m8_q7rw_2x4
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cd "$tmp" || exit 1
# shellcheck source=../support/kalvtool_run.sh
source "$here/../support/kalvtool_run.sh"

u16() { od -An -tu2 -j "$2" -N2 "$1" | tr -d ' '; }
u32() { od -An -tu4 -j "$2" -N4 "$1" | tr -d ' '; }
flip() {  # FILE OFFSET: the byte there XOR 1
    local v
    v=$(od -An -tu1 -j "$2" -N1 "$1" | tr -d ' ')
    printf "\\$(printf %03o $((v ^ 1)))" | dd of="$1" bs=1 seek="$2" conv=notrunc status=none
}
other_hex_digit() {  # FILE OFFSET: a hex digit there becomes another hex digit ('a' XOR 1 is none)
    local v
    v=$(od -An -c -j "$2" -N1 "$1" | tr -d ' ')
    if [ "$v" = 0 ]; then printf 1; else printf 0; fi | dd of="$1" bs=1 seek="$2" conv=notrunc status=none
}

# ---- keygen ------------------------------------------------------------------------------
run keygen signing.key
[ "$rc" -eq 0 ] && grep -qE '^kalv3-p256:[A-Za-z0-9+/]{86}==$' <<<"$out" || fail "keygen prints one public key line"
public=$out
grep -q '^kalv3-p256-private:' signing.key || fail "keygen writes the private key line"
if [ ${#runner[@]} -eq 0 ]; then
    [ "$(stat -c %a signing.key)" = 600 ] || fail "the private key file is readable by its owner only"
fi
cp signing.key before
run keygen signing.key
[ "$rc" -eq 2 ] && cmp -s signing.key before || fail "keygen overwrites an existing KEYFILE"
run keygen --public signing.key
[ "$rc" -eq 0 ] && [ "$out" = "$public" ] || fail "keygen --public prints the same public key"
run keygen other.key
other=$out
run keygen new.key
new=$out
printf '# the publisher key of 2026\n%s\n' "$public" >public.txt

# ---- pack --key: a signed package that every peer reads -------------------------------------
head -c 300000 /dev/urandom >program
run pack --key signing.key program signed
[ "$rc" -eq 0 ] && grep -q "signed by key [0-9a-f]\{16\}" <<<"$out" && ! grep -q 'open to other users' <<<"$err" ||
    fail "pack --key"
unzip -tq -P "$password" signed >/dev/null 2>&1 || fail "unzip -t rejects a signed package"
7z t -p"$password" signed >/dev/null 2>&1 || fail "7z t rejects a signed package"
run test -P "$password" signed
[ "$rc" -eq 0 ] || fail "kalvtool test rejects a signed package"
run verify --key "$public" signed
[ "$rc" -eq 0 ] && grep -q ': signed by key .*, valid$' <<<"$out" || fail "verify a package signed by that key"
run verify --key public.txt signed
[ "$rc" -eq 0 ] || fail "verify with the key in a file"
run verify --key "$other" --key "$public" signed
[ "$rc" -eq 0 ] || fail "verify with the key given second"

# ---- key files that are not what keygen wrote ----------------------------------------------
# A copy made without keygen is open to all: its mode natively, under Wine the access list
# that Wine gives a file from its mode.
cp signing.key open.key && chmod 644 open.key
run pack --key open.key program open-signed
if [ ${#runner[@]} -eq 0 ]; then opened='mode 0644; chmod 600'; else opened='Everyone may open it'; fi
[ "$rc" -eq 0 ] && [ -s open-signed ] && grep -q "private key file open.key is open to other users ($opened" <<<"$err" ||
    fail "pack --key with a key file that others can read: signed, with a warning"
if [ ${#runner[@]} -eq 0 ]; then
    # A device given as a key file is read no further than a key file's length.
    runner=(timeout 120)
    for args in "verify --key /dev/zero signed" "pack --key /dev/zero program zero-signed"; do
        read -r -a words <<<"$args"
        run "${words[@]}"
        [ "$rc" -eq 2 ] && grep -q 'goes on past 64 KiB' <<<"$err" && [ ! -e zero-signed ] ||
            fail "${words[*]}: refused as no key file"
    done
    runner=()
fi

# ---- one byte of each part of a package made by Info-ZIP, then signed ----------------------
cp program Kalvo3main
zip -q -j -P "$password" made.zip Kalvo3main
mkdir share
run publish --package --key signing.key made.zip share/Kalvo3pack
[ "$rc" -eq 0 ] || fail "publish --package --key a package made by zip"
base=share/Kalvo3pack
size=$(stat -c %s $base)
end=$((size - 142))
name=$(u16 $base 26)
extra=$(u16 $base 28)
[ "$extra" -gt 0 ] || fail "zip wrote no extra field in the local header"
central=$(u32 $base $((end + 16)))
#   what is changed                      offset                      expected exit and verdict
cases=(
    "entry data|$((30 + name + extra + 40))|1|altered since it was signed by key"
    "local header's extra field|$((30 + name + 2))|1|altered since it was signed by key"
    "local header's file name|30|1|altered since it was signed by key"
    "central directory|$((central + 16))|1|altered since it was signed by key"
    "end record|$((end + 12))|1|altered since it was signed by key"
    "end record's comment length|$((end + 20))|1|altered: its signature is damaged"
    "signature's key id|$((end + 22 + 15))|1|signed by another key|other_hex_digit"
    "signature itself|$((size - 20))|1|altered since it was signed by key"
)
for c in "${cases[@]}"; do
    IFS='|' read -r what at code verdict change <<<"$c"
    cp $base changed
    ${change:-flip} changed "$at"
    run verify --key "$public" changed
    [ "$rc" -eq "$code" ] && grep -qF "$verdict" <<<"$out" || fail "one byte of the $what changed: $verdict"
done
head -c $((size - 120)) $base >stripped
printf '\0\0' | dd of=stripped bs=1 seek=$((end + 20)) conv=notrunc status=none
unzip -tq -P "$password" stripped >/dev/null 2>&1 || fail "the stripped package is no ZIP file"
run verify --key "$public" stripped
[ "$rc" -eq 1 ] && grep -q ': unsigned' <<<"$out" || fail "a package whose signature was stripped is unsigned"
{ cat $base; printf 'x'; } >appended
run verify --key "$public" appended
[ "$rc" -eq 1 ] && grep -q 'altered' <<<"$out" || fail "a byte appended after the signature"
run verify --key "$public" made.zip
[ "$rc" -eq 1 ] && grep -q ': unsigned' <<<"$out" || fail "verify an unsigned package"
run verify --key "$other" $base
[ "$rc" -eq 1 ] && grep -q 'signed by another key' <<<"$out" || fail "verify by another key"
run verify --key "$public" no-such-package
[ "$rc" -eq 2 ] || fail "verify a package that cannot be read"
run verify --key kalv3-p256:AAAA $base
[ "$rc" -eq 2 ] && grep -q 'not the Base64 of 64 bytes' <<<"$err" || fail "verify with a key that does not parse"

# ---- rolling to a new key: the package is signed anew, in place --------------------------
run publish --key new.key program share/Kalvo3pack
[ "$rc" -eq 0 ] || fail "publish --key with the new key"
run verify --key "$public" --key "$new" share/Kalvo3pack
[ "$rc" -eq 0 ] || fail "verify by the old or the new key after the roll"
run verify --key "$public" share/Kalvo3pack
[ "$rc" -eq 1 ] || fail "the old key alone no longer verifies the new package"
cp made.zip commented.zip
echo "a comment of its own" | zip -q -z commented.zip
run publish --package --key signing.key commented.zip share/commented
[ "$rc" -eq 2 ] && grep -q 'comment of its own' <<<"$err" && [ ! -e share/commented ] ||
    fail "a package with a ZIP comment of its own is refused, nothing written"

# ---- OpenSSL as the oracle ------------------------------------------------------------
# The public key as an X.509 SubjectPublicKeyInfo (id-ecPublicKey, prime256v1), the
# signature r || s as a DER ECDSA-Sig-Value, the message every byte before it.
{ printf '3059301306072a8648ce3d020106082a8648ce3d03010703420004'; base64 -d <<<"${public#kalv3-p256:}" | od -An -tx1 | tr -d ' \n'; } |
    xxd -r -p >public.der
openssl pkey -pubin -inform DER -in public.der -out public.pem 2>/dev/null || fail "OpenSSL reads the public key"
rs=$(tail -c 88 signed | base64 -d | od -An -tx1 | tr -d ' \n')
printf 'asn1=SEQUENCE:sig\n[sig]\nr=INTEGER:0x%s\ns=INTEGER:0x%s\n' "${rs:0:64}" "${rs:64:64}" >sig.cnf
openssl asn1parse -genconf sig.cnf -out sig.der -noout >/dev/null || fail "OpenSSL encodes r and s"
head -c $(($(stat -c %s signed) - 88)) signed >message
openssl dgst -sha256 -verify public.pem -signature sig.der message >oracle.txt 2>&1
grep -q 'Verified OK' oracle.txt || { out=$(cat oracle.txt); fail "OpenSSL verifies the signature"; }
flip message 100
openssl dgst -sha256 -verify public.pem -signature sig.der message >/dev/null 2>&1 &&
    fail "OpenSSL verifies a changed message: the oracle is no oracle"

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "signed packages: all checks passed"
