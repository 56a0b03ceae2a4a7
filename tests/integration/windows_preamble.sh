# Sourced by the windows_*_test.sh scripts after they set $work: skips (exit 77) without an X display
# or the X tools, empties the work directory, and gives fail() to count failures in $failures.
# ./test runs the window tests in two lanes, each with a display and a Wine prefix of its own: CTest names
# the lane a test holds (CTEST_RESOURCE_GROUP_0_LANES, "id:N,slots:1"), and SUITE_LANES the folder where
# ./test described each one (N.env: DISPLAY, WINE_LANE_PREFIX). Run by hand, a test takes what it finds.
if [ -n "${CTEST_RESOURCE_GROUP_0_LANES:-}" ] && [ -n "${SUITE_LANES:-}" ]; then
  lane=${CTEST_RESOURCE_GROUP_0_LANES#id:}
  lane=${lane%%,*}
  [ -f "$SUITE_LANES/$lane.env" ] && . "$SUITE_LANES/$lane.env"
fi
if [ -z "$DISPLAY" ]; then
  echo "no DISPLAY: skipped"
  exit 77
fi
for tool in xdotool import convert; do
  command -v $tool >/dev/null || { echo "$tool missing: skipped"; exit 77; }
done

. "$(dirname "$0")/windows_prefix.sh"

# A private Wine prefix in $1 with one persistent wineserver (the caller ends it); $wine is the launcher
# for the 64-bit programs: the 64-bit loader directly (with 32-bit Wine installed, the launcher would
# start each one through the emulated 32-bit loader first). The prefix is a copy of the build tree's
# (named by $WINE_RUN, its wine-run script) where there is one; otherwise booted afresh, which takes
# more than a gigabyte of disk and a minute.
wine_private_prefix() {
  local shared=
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d;winedbg.exe=d"
  wine=wine
  [ -x /usr/lib/wine/wine64 ] && wine=/usr/lib/wine/wine64
  if [ -n "${WINE_RUN:-}" ] && "$WINE_RUN" cmd /c exit 0 >/dev/null 2>&1; then
    shared=$(wine_run_prefix "$WINE_RUN")
  fi
  if [ -n "$shared" ] && [ -f "$shared/system.reg" ] && wine_prefix_copy "$shared" "$1"; then
    export WINEPREFIX="$1"
  else
    rm -rf "$1"
    export WINEPREFIX="$1"
    "$wine" wineboot -i >/dev/null 2>&1 </dev/null
    wineserver -w
  fi
  wineserver -p >/dev/null 2>&1 </dev/null
}

rm -rf "$work"
mkdir -p "$work"
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
# A screenshot of the screen into $1 once window $2 is drawn: the mean grey of its area above $3
# (default 0.2), where the black root stood before Wine drew it. Under load the drawing reaches the X
# server some time after the window maps: shot again, a bounded number of times. False when never.
shot_drawn() {
  for _ in $(seq 1 60); do
    import -window root "$1"
    eval "$(xdotool getwindowgeometry --shell "$2" 2>/dev/null)"
    mean=$(convert "$1" -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage -colorspace Gray -format "%[fx:mean]" info: 2>/dev/null)
    awk "BEGIN { exit !(\"$mean\" + 0 > ${3:-0.2}) }" && return 0
    sleep 0.25
  done
  return 1
}
# The start the Wine tests that drive a program through its test channel share (bash only):
#   wine_begin PREFIX SCRIPT-ARGS...
# PREFIX "shared": the build tree's prefix and its persistent server (booted here). Otherwise the
# script runs again in a private network namespace (windows_netns.sh; SCRIPT-ARGS are its own, the first
# its wine-run) with a copy of that prefix at the directory PREFIX. Then wine-run's environment is
# exported, $wine is the launcher wine-run uses for a 64-bit program, testctl.sh and morvaksim.sh are
# sourced, and at the exit the program ($app_pid), the simulators ($sim_pid, $sim2_pid) and a private
# prefix's server end.
wine_begin() {
  wine_prefix=$1
  shift
  if [ "$wine_prefix" != shared ]; then
    . "$(dirname "$0")/windows_netns.sh"
    netns_enter "$1" "$@"
  fi
  . "$(dirname "$0")/testctl.sh"
  . "$(dirname "$0")/morvaksim.sh"
  wine_run_env "$1"
  wine=wine
  [ -x /usr/lib/wine/wine64 ] && wine=/usr/lib/wine/wine64
  if [ "$wine_prefix" = shared ]; then
    "$1" cmd /c exit 0 >/dev/null 2>&1
  else
    netns_prefix "$wine_prefix" || { fail "no private Wine prefix"; exit 1; }
  fi
  app_pid=
  sim_pid=
  sim2_pid=
  trap wine_end EXIT
}

wine_end() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null
  [ -n "$sim2_pid" ] && kill "$sim2_pid" 2>/dev/null
  [ "$wine_prefix" = shared ] || netns_stop
}
