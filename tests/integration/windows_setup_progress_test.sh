#!/bin/sh
# The carry-out page's progress bar while setup.exe copies the files of a product with many of them,
# and the removal page's while it deletes them, under Wine in a prefix of its own: the test program
# reads the bar's position and range (PBM_GETPOS, PBM_GETRANGE) from the moment Next is clicked until
# the wizard turns to the finish page. The bar is shown, its range covers the files, it stands
# at several positions between its ends on the way (it moves during the work, not only at its end),
# never goes back, and is full when the page ends.
#   windows_setup_progress_test.sh <setup.exe> <work directory> <test program> <resources folder>
# Exits 77 (skipped) without a display.
setup_exe=$1
work=$2
prog=$3
strings=$4
. "$(dirname "$0")/windows_preamble.sh"

wine_private_prefix "$work/prefix"
trap 'wineserver -k >/dev/null 2>&1' EXIT
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
target="$WINEPREFIX/drive_c/Program Files/Zevra Progress Test"

# The product: 400 files of 16 KB (the copy long enough to be watched, bounded).
files=400
src=$work/src
mkdir -p "$src"
cp "$setup_exe" "$src/setup.exe"
cp "$prog" "$src/prog.exe"
head -c 16384 /dev/urandom >"$src/f0000.dat"
{
  printf '[Version]\r\nSignature = "$Chicago$"\r\n\r\n[DestinationDirs]\r\n'
  printf 'DefaultDestDir = 24, "\\Zevra Progress Test"\r\nSetup.Files = 32768\r\nBulk.Files = 32768\r\n\r\n'
  printf '[Install]\r\nCopyFiles = Setup.Files\r\n\r\n[Remove]\r\nDelFiles = Setup.Files\r\n\r\n'
  printf '[Products]\r\nbulk = "Bulk Files", Bulk.Install, Bulk.Remove, 1, 0, "Many files", 1.0\r\n\r\n'
  printf '[Setup.Files]\r\nsetup.exe\r\nsetup.inf\r\n\r\n[Bulk.Install]\r\nCopyFiles = Bulk.Files\r\n\r\n'
  printf '[Bulk.Remove]\r\nDelFiles = Bulk.Files, Setup.Files\r\n\r\n[Bulk.Files]\r\n'
  i=0
  while [ $i -lt $files ]; do
    name=$(printf 'f%04d.dat' $i)
    [ $i -gt 0 ] && cp "$src/f0000.dat" "$src/$name"
    printf '%s\r\n' "$name"
    i=$((i + 1))
  done
} >"$src/setup.inf"

str() {
  printf '%b' "$(sed -n "s/^$1 \"\\(.*\\)\"\$/\\1/p" "$strings/strings.en")"
}
title=$(str 1300 | sed "s/%+1/$(str 1301)/")
next='#12324'
finish='#12325'

# walk STEP... -- EXE ARGS...: the installer in the background (bounded: 300 s) and the test program's
# walk of its wizard; once more when Wine failed to start the installer.
walk() {
  steps=
  while [ "$1" != -- ]; do
    steps="$steps$1
"
    shift
  done
  shift
  for try in 1 2; do
    timeout -k 10 300 "$wine" "$@" >"$work/setup.txt" 2>&1 </dev/null &
    pid=$!
    saved_ifs=$IFS
    IFS='
'
    # shellcheck disable=SC2086
    "$wine" "$src/prog.exe" walk "$title" "$(winpath "$work")" $steps >/dev/null 2>"$work/prog.err" </dev/null
    walked=$?
    IFS=$saved_ifs
    [ $walked = 0 ] && return 0
    grep -q 'failed to map the shared user data' "$work/setup.txt" "$work/prog.err" && [ $try = 1 ] || break
    wait $pid
  done
  fail "walk: $(cat "$work/prog.err") ($(cat "$work/setup.txt"))"
  return 1
}

# check FILE WHAT: the samples of the bar. Its range is the queue's: the product's files and the set's
# own (setup.exe, setup.inf), at least the product's.
check() {
  awk -v files=$files -v what="$2" '
    { n++; pos[n] = $1; max[n] = $2; shown[n] = $3; if ($2 > range) range = $2 }
    END {
      if (range < files) { print what ": the range " range + 0 " is not the " files " files"; exit 1 }
      # The samples of that range: shown until full (the page hides as the wizard turns), within it,
      # never back; the positions strictly between its ends counted.
      for (i = 1; i <= n; i++) {
        if (max[i] != range) continue
        m++
        if (!shown[i] && pos[i] < range) { print what ": hidden at " pos[i]; bad = 1 }
        if (pos[i] > range) { print what ": position " pos[i] " beyond " range; bad = 1 }
        if (m > 1 && pos[i] < last) { print what ": back from " last " to " pos[i]; bad = 1 }
        if (pos[i] > 0 && pos[i] < range) between++
        last = pos[i]
      }
      if (last != range) { print what ": ends at " last " of " range; bad = 1 }
      if (between < 3) { print what ": only " between + 0 " positions between the ends"; bad = 1 }
      printf "%s: %d positions between 0 and %d\n", what, between, range > "/dev/stderr"
      exit bad
    }' "$1" || return 1
}

# The installation: welcome, licence, target, carry out (sampled), finish.
if walk page:welcome:$next click:$next page:license:$next click:$next page:target:$next click:$next \
  page:carryout:$next click:$next progress:2043:install_progress page:finish:$finish click:$finish \
  -- "$src/setup.exe" /install:bulk /reboot:0; then
  msg=$(check "$work/install_progress.txt" "copy") || fail "$msg"
fi
wait $pid
[ -f "$target/f0399.dat" ] || fail "the files were not installed: $(ls "$target" 2>&1 | head -n 3)"

# The removal: its page (sampled), its finish page.
if walk page:remove:$next click:$next progress:2043:remove_progress page:removefinish:$finish click:$finish \
  -- "$target/setup.exe" /remove:bulk /reboot:0; then
  msg=$(check "$work/remove_progress.txt" "delete") || fail "$msg"
fi
wait $pid
[ -e "$target/f0000.dat" ] && fail "the files were not removed"

for bmp in "$work"/*.bmp; do
  [ -f "$bmp" ] && convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"
done
if [ "$failures" -gt 0 ]; then
  echo "$failures failure(s); samples and pages in $work"
  exit 1
fi
echo "windows_setup_progress_test: the bar moved during the copy and the deletion"
