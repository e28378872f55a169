#!/usr/bin/env bash
# The main job on a fresh Debian machine: set up, build the launcher for Linux and for
# Windows, make a demo installation and run the launcher on it — Kalv3.exe under Wine
# (on a virtual display when there is no screen) and the native kalv3 — then show what
# the application received.
#
# The installation holds what a shop's PC holds: the launcher, the program package
# "Kalvo3pack" and the database package "Volka.bpl" (ZIP archives made by Info-ZIP zip
# with the package password), and NET.INF naming an upgrade folder (or, in the third
# installation, the URL of a local web server serving that folder). The application
# packed in them is the stand-in "Kalvo3main", which writes what it received to
# Kalvo3main.report.txt beside itself.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
if [ -z "${KALV_DEMO_BUILT:-}" ]; then
  scripts/setup.sh native:kalv3,kalv_standin,kalvtool windows:kalv3,kalv_standin,box_watcher
fi
# Wine's windows need a display: without a screen, the demo runs on a virtual one.
if [ -z "${DISPLAY:-}" ]; then
  KALV_DEMO_BUILT=1 exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi

password=k3m8_q7rw_2x4
demo=$root/build/demo
rm -rf "$demo"
mkdir -p "$demo"

# make_installation NAME LAUNCHER STANDIN PATHFORM: $demo/NAME/{Shop,upgrade}
make_installation() {
  local base=$demo/$1 launcher=$2 standin=$3
  local stage=$base/stage shop="$base/My Shop" upgrade=$base/upgrade
  mkdir -p "$stage" "$shop" "$upgrade"
  cp "$standin" "$stage/Kalvo3main"
  printf 'demo database of the shop\n' > "$stage/KALVO3.IB"
  (cd "$stage" && zip -q -j -P "$password" program.zip Kalvo3main && zip -q -j -P "$password" database.zip KALVO3.IB)
  cp "$launcher" "$shop/"
  cp "$stage/program.zip" "$shop/Kalvo3pack"
  cp "$stage/database.zip" "$shop/Volka.bpl"
  touch -d "2024-03-01 10:00" "$shop/Kalvo3pack"
  # A newer program package published in the upgrade folder: the launcher fetches it.
  cp "$stage/program.zip" "$upgrade/Kalvo3pack"
  touch -d "2025-06-01 09:00" "$upgrade/Kalvo3pack"
  printf '[DB]\r\nUpgrade=%s\r\n' "$4" > "$shop/NET.INF"
}

show_run() {  # SHOP BOXES
  local shop=$1
  # The application reports once started; a busy machine may take a while.
  for _ in $(seq 1 600); do [ -f "$shop/Kalvo3main.report.txt" ] && break; sleep 0.1; done
  echo "  boxes shown: ${2:-none}"
  echo "  program package refreshed from the upgrade folder: $(cmp -s "$shop/Kalvo3pack" "$shop/../upgrade/Kalvo3pack" && echo yes || echo no)"
  echo "  database unpacked: $(cat "$shop/KALVO3.IB" 2>/dev/null || echo '(missing)')"
  echo "  what the application received (Kalvo3main.report.txt):"
  sed 's/^/    /' "$shop/Kalvo3main.report.txt"
  echo "  the launcher's run log (Kalv3.log beside it):"
  tr -d '\r' < "$shop/Kalv3.log" 2>/dev/null | sed 's/^/    /' || echo "    (none)"
}

echo
echo "== Linux: build/native/app/launcher/kalv3"
make_installation linux build/native/app/launcher/kalv3 build/native/app/standin/Kalvo3main \
  "$demo/linux/upgrade/Kalvo3pack"
shop="$demo/linux/My Shop"
(cd "$shop" && ./kalv3 --from-the-demo 2> "$demo/linux/stderr") || true
show_run "$shop" "$(grep -v '^splash: ' "$demo/linux/stderr" | tr '\r' '|' || true)"

echo
echo "== Windows: build/windows/app/launcher/Kalv3.exe under Wine"
source scripts/wine-env.sh
winpath() { printf 'Z:%s' "${1//\//\\}"; }
make_installation windows build/windows/app/launcher/Kalv3.exe build/windows/app/standin/Kalvo3main.exe \
  "$(winpath "$demo/windows/upgrade/Kalvo3pack")"
shop="$demo/windows/My Shop"
run_windows() {
  # The box watcher answers any message box, so that nothing waits for a user.
  wine_steady wine build/windows/tests/e2e/box_watcher.exe "$(winpath "$demo/windows/boxes.log")" \
    "$(winpath "$demo/windows/stop")" 90 >/dev/null 2>&1 &
  local watcher=$!
  (cd "$shop" && wine_steady timeout 90 wine "$shop/Kalv3.exe" --from-the-demo >/dev/null 2>&1) || true
  touch "$demo/windows/stop"
  wait "$watcher" || true
}
run_windows
show_run "$shop" "$(cat "$demo/windows/boxes.log" 2>/dev/null)"

echo
echo "== Windows, upgrades from a web server: Kalv3.exe under Wine, NET.INF naming an http:// URL"
# The upgrade folder served by the test package server (any static web server would do:
# README, "Serving packages over HTTPS"); the demo starts it and stops it again.
web=$demo/web
mkdir -p "$web/upgrade"
python3 tests/web/package_server.py --root "$web/upgrade" --port-file "$web/port" --log "$web/requests.log" &
server=$!
trap 'kill "$server" 2>/dev/null || true' EXIT
for _ in $(seq 1 100); do [ -s "$web/port" ] && break; sleep 0.1; done
url=http://127.0.0.1:$(cat "$web/port")/Kalvo3pack
make_installation web build/windows/app/launcher/Kalv3.exe build/windows/app/standin/Kalvo3main.exe "$url"
shop="$web/My Shop"
run_web() {
  rm -f "$shop/Kalvo3main.report.txt"
  wine_steady wine build/windows/tests/e2e/box_watcher.exe "$(winpath "$web/boxes.log")" \
    "$(winpath "$web/stop")" 90 >/dev/null 2>&1 &
  local watcher=$!
  (cd "$shop" && wine_steady timeout 90 wine "$shop/Kalv3.exe" --from-the-demo >/dev/null 2>&1) || true
  touch "$web/stop"
  wait "$watcher" || true
  rm -f "$web/stop"
}
echo "-- first start: the server's copy is newer, the launcher downloads it"
run_web
show_run "$shop" "$(cat "$web/boxes.log" 2>/dev/null)"
echo "-- second start: unchanged, one conditional request answered 304"
run_web
tr -d '\r' < "$shop/Kalv3.log" | grep '^refresh: ' | tail -n 1 | sed 's/^/  the run log: /'
echo "  what the server saw (requests.log):"
sed 's/^/    /' "$web/requests.log"
kill "$server" 2>/dev/null || true
wait "$server" 2>/dev/null || true

echo
echo "The token decrypts with the product's own command line, too:"
token=$(sed -n 's/^token: //p' "$demo/linux/My Shop/Kalvo3main.report.txt")
echo "  build/native/app/kalvtool token decrypt $token"
echo "    $(build/native/app/kalvtool token decrypt "$token")"
echo
echo "Demo installations: $demo/{linux,windows,web}/My Shop"
