#!/usr/bin/env bash
# Screenshot of the real splash window under Wine on the X display (xvfb-run):
# runs the snapshot program, takes the root window with ImageMagick, finds the
# progress bar by its first ramp column and checks the pixels the program names.
# Keeps the screenshot (argument 2) and a crop of the window beside it.
#   splash_screenshot.sh SNAPSHOT_EXE OUTPUT.png
set -euo pipefail
exe=$1
out=$2
if [ -z "${DISPLAY:-}" ]; then
  echo "no X display: run under xvfb-run"
  exit 77
fi
source "$(dirname "$0")/../../scripts/wine-env.sh"

work=$(mktemp -d)
trap 'touch "$work/stop"; wait 2>/dev/null || true; rm -rf "$work"' EXIT
# A Wine virtual desktop draws the frame and caption bar itself (there is no
# window manager on the virtual display).
wine explorer /desktop=kalv3splash,1024x768 "$(winepath -w "$exe")" "$(winepath -w "$work/stop")" >"$work/log" 2>/dev/null &
# Each wait below ends on what it waits for; its limit only ends a broken run (the
# virtual desktop alone takes seconds to come up on a loaded machine).
for _ in $(seq 1 600); do
  grep -q '^ready' "$work/log" 2>/dev/null && break
  sleep 0.1
done
grep -q '^ready' "$work/log" || { echo "the snapshot program did not come up"; exit 1; }

# The program has painted its window at 1 of 3 and then at 2 of 3; Wine copies the
# window to the X display in its own time. The screenshot is taken again until the
# bar is on it at 2 of 3. Column 1 of the bar is the first ramp colour inside the
# sunken edge: 0,0,127 (navy truncated one step towards red); its topmost pixel is the
# bar's (1, 1). Column 150 shows the window's colour at 1 of 3 and the ramp at 2 of 3.
shown_at_two_thirds() {
  local width first
  import -window root "$out" || return 1
  # The screen's raw pixels, three bytes each, searched as bytes: quick enough to look
  # again and again (ImageMagick's text form of a whole screen takes seconds).
  convert "$out" -depth 8 rgb:"$work/screen.rgb" || return 1
  width=$(identify -format %w "$out")
  first=$(LC_ALL=C grep -obUaP '\x00\x00\x7f' "$work/screen.rgb" | awk -F: '$1 % 3 == 0 { print $1 / 3; exit }')
  [ -n "$first" ] || return 1
  bar_x=$((first % width - 1))
  bar_y=$((first / width - 1))
  [ "$(screen_pixel $((bar_x + 150)) $((bar_y + 12)) "$width")" != "$(screen_pixel $((bar_x - 4)) $((bar_y + 12)) "$width")" ]
}
screen_pixel() {  # X Y WIDTH -> "R G B" of the last screenshot
  od -An -tu1 -j $((($2 * $3 + $1) * 3)) -N3 "$work/screen.rgb" | xargs
}
shown=no
for _ in $(seq 1 60); do
  if shown_at_two_thirds; then shown=yes; break; fi
  sleep 0.5
done
touch "$work/stop"
wait || true
[ "$shown" = yes ] || { echo "the progress bar at 2 of 3 did not appear on the screen"; exit 1; }
echo "progress bar at $bar_x,$bar_y"

# The pixels around the bar, once, as "x,y R G B" lines relative to the bar.
convert "$out" -crop "333x45+$((bar_x - 10))+$((bar_y - 10))" +repage -depth 8 txt:- | tail -n +2 |
  sed -E 's/^([0-9]+),([0-9]+): \( *([0-9]+), *([0-9]+), *([0-9]+).*/\1 \2 \3 \4 \5/' |
  awk '{ printf "%d,%d %s %s %s\n", $1 - 10, $2 - 10, $3, $4, $5 }' >"$work/bar.txt"
pixel() {  # pixel X Y (relative to the bar) -> "R G B"
  grep -m1 "^$1,$2 " "$work/bar.txt" | cut -d' ' -f2-
}

failures=0
while read -r kind x y a b c; do
  case $kind in
    check)
      got=$(pixel "$x" "$y")
      if [ "$got" != "$a $b $c" ]; then
        echo "bar column $x: got $got, expected $a $b $c"; failures=$((failures + 1))
      else
        echo "bar column $x: $got"
      fi ;;
    same)
      got=$(pixel "$x" "$y")
      want=$(pixel "$a" "$b")
      if [ "$got" != "$want" ]; then
        echo "bar column $x: got $got, expected the window colour $want"; failures=$((failures + 1))
      else
        echo "bar column $x: window colour $got"
      fi ;;
  esac
done < <(tr -d '\r' <"$work/log")

# The window itself: the client area starts 8 pixels left of and 64 above the bar;
# the crop takes in the frame and caption bar around it.
convert "$out" -crop "351x139+$((bar_x - 8 - 8))+$((bar_y - 64 - 31))" +repage "${out%.png}-window.png"
[ "$failures" -eq 0 ]
