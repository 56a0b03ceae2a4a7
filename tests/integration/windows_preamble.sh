# Sourced by the windows_*_test.sh scripts after they set $work: skips (exit 77) without an X display
# or the X tools, empties the work directory, and gives fail() to count failures in $failures.
if [ -z "$DISPLAY" ]; then
  echo "no DISPLAY: skipped"
  exit 77
fi
for tool in xdotool import convert; do
  command -v $tool >/dev/null || { echo "$tool missing: skipped"; exit 77; }
done

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
