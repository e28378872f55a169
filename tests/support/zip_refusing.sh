# zip_refusing PACKAGE WRONG_PASSWORD CHECKED_PASSWORD FILE...: FILEs zipped with
# WRONG_PASSWORD so that CHECKED_PASSWORD is refused at the encryption header. The
# header is random and its one check byte (APPNOTE 6.1.6) lets 1 in 256 wrong
# passwords through to the data, where the failure is a CRC error instead of the
# password refusal a test expects: zip again until Info-ZIP unzip refuses at the
# header (its exit code 82).
zip_refusing() {
  local package=$1 wrong=$2 checked=$3 status
  shift 3
  for _ in $(seq 1 20); do
    rm -f "$package"
    zip -q -X -j -P "$wrong" "$package" "$@" || return 1
    status=0
    unzip -qq -t -P "$checked" "$package" >/dev/null 2>&1 || status=$?
    [ "$status" -eq 82 ] && return 0
  done
  echo "zip_refusing: $package keeps passing the check of $checked" >&2
  return 1
}
