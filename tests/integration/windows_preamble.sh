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
