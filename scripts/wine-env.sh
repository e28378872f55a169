# Sourced by the scripts that run Windows programs: a private, quiet Wine prefix
# without the Mono and Gecko installers.
#
# Debian's wine64 runs without Wine's preloader: its loader is linked at 0x7d000000 and
# the kernel starts the heap a random distance behind it, which now and then reaches
# the address where Wine maps the shared user data (0x7ffe0000). The program then ends
# with exit code 1 before its first instruction, printing nothing ("failed to map the
# shared user data" on Wine's err channel; 2 runs in 8000 here). Without address
# randomization the heap starts right behind the loader, far below it.
#   wine_steady COMMAND...   runs COMMAND, and every Wine program it starts, that way
wine_steady() { setarch "$(uname -m)" --addr-no-randomize "$@"; }
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
export WINEPREFIX=${WINEPREFIX:-$HOME/.local/share/kalv3-wine}
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  wine_steady wineboot --init >/dev/null 2>&1 || true
  wineserver -w || true
fi
