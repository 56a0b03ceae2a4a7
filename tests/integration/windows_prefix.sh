# Sourced by the Windows tests (sh or bash) and ./run: copies of the build tree's Wine prefix.

# $wine: the loader of the 64-bit programs and of Wine's helpers beside them, /usr/lib/wine/wine64
# itself where it is installed. With 32-bit Wine installed too, the `wine` launcher (and the `winepath`,
# `reg` and `wineboot` scripts, which call it) start everything through the 32-bit loader first: seconds
# a start where i386 programs run emulated. WINELOADER: the processes a program starts take the same
# loader, as they do where 32-bit Wine is not installed.
wine=wine
if [ -x /usr/lib/wine/wine64 ]; then
  wine=/usr/lib/wine/wine64
  export WINELOADER=$wine
fi
winepath() { "$wine" winepath.exe "$@"; }

# The environment the wine-run script $1 gives its programs, exported here: its prefix (a lane's own where
# the test holds one), the debug channels and the DLL overrides.
wine_run_env() {
  eval "$(grep '^export ' "$1")"
  if [ -n "${WINE_LANE_PREFIX:-}" ]; then export WINEPREFIX=$WINE_LANE_PREFIX; fi
}

# The prefix the wine-run script $1 runs its programs in: the lane's own (WINE_LANE_PREFIX, set for a
# lane of ./test's window tests), else the build tree's.
wine_run_prefix() {
  if [ -n "${WINE_LANE_PREFIX:-}" ]; then
    echo "$WINE_LANE_PREFIX"
  else
    sed -n 's/^export WINEPREFIX="\(.*\)"$/\1/p' "$1"
  fi
}

# A copy of the Wine prefix $1 at $2 that costs little disk: Wine's own programs, libraries and tables
# (under drive_c/windows) are hard links to those of $1, which no test writes into; every other file is
# a copy of its own: the wineserver replaces the registry files, programs may write their .ini files in
# place, and a test may install over a program another test left in $1.
wine_prefix_copy() {
  rm -rf "$2"
  cp -al "$1" "$2" || return 1
  find "$2" -type f \( ! -path "$2/drive_c/windows/*" -o ! \( -iname '*.dll' -o -iname '*.exe' \
       -o -iname '*.drv' -o -iname '*.sys' -o -iname '*.nls' -o -iname '*.ocx' -o -iname '*.cpl' \
       -o -iname '*.acm' -o -iname '*.tlb' -o -iname '*.ds' -o -iname '*.msstyles' -o -iname '*.vxd' \
       -o -iname '*.ax' \) \) \
       -exec sh -c 'for f; do cp -p "$f" "$f.copy" && mv -f "$f.copy" "$f" || exit 1; done' sh {} +
}
