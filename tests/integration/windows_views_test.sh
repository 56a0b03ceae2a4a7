#!/bin/sh
# The accounting and VPN view windows under Wine on an X display, against the native morvaksim: both
# views show the simulated rows with their images (screenshots kept in the work directory), a click on a
# column header sorts, and the placement and column widths come back when the views open again.
#   windows_views_test.sh <wine-run> <windows_views_prog.exe> <work directory> <morvaksim> <data directory>
# Exits 77 (skipped) without a display or without the native simulator.
wine_run=$1
prog=$2
work=$3
sim=$4
data=$5
. "$(dirname "$0")/windows_preamble.sh"
[ -x "$sim" ] || { echo "no native morvaksim at $sim: skipped"; exit 77; }
wine_run_env "$wine_run"
# The program runs under the loader itself (as wine-run starts a 64-bit program), so that its process
# id is the program's: ending it ends the program, not only a script around it.
"$wine_run" cmd /c exit 0 >/dev/null 2>&1
wine=wine
[ -x /usr/lib/wine/wine64 ] && wine=/usr/lib/wine/wine64
pids=
cleanup() {
  for p in $pids; do kill "$p" 2>/dev/null; done
}
trap cleanup EXIT

free_port() {
  python3 -c "import socket; s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(('$1', 0)); print(s.getsockname()[1])"
}
# Waits until the file $1 has a line matching $2 (bounded); prints the last such line.
wait_line() {
  for _ in $(seq 1 "${3:-120}"); do
    line=$(grep -E "$2" "$1" 2>/dev/null | tail -n 1)
    [ -n "$line" ] && { echo "$line"; return 0; }
    sleep 0.5
  done
  return 1
}
# A field NAME=VALUE of a trace line.
field() {
  echo "$1" | tr ' ' '\n' | sed -n "s/^$2=//p"
}
wait_window() {
  for _ in $(seq 1 60); do
    w=$(xdotool search --name "$1" 2>/dev/null | head -n 1)
    [ -n "$w" ] && { echo "$w"; return 0; }
    sleep 0.5
  done
  return 1
}
click() {
  xdotool mousemove "$1" "$2"
  sleep 0.3
  xdotool click 1
}

host=127.0.98.1
port=$(free_port $host)
"$sim" --port "$(free_port $host)" --type "Morvak 2400" --snmp-port "$port" --accounting-rows 12 $host \
  >"$work/sim.log" 2>&1 &
pids="$pids $!"
wait_line "$work/sim.log" "SNMP agents" 20 >/dev/null || { cat "$work/sim.log"; fail "morvaksim did not start"; exit 1; }
cp "$data/talvmorv.dsc" "$work/"
dir=$(winepath -w "$work" 2>/dev/null)

# 1. Both views with their rows; screenshots of each window.
"$wine" "$prog" "$dir" $host "$port" both >"$work/run1.log" 2>&1 &
run=$!
pids="$pids $run"
acc=$(wait_line "$work/trace.log" '^view acc rows=12 running=0') || fail "the accounting view did not show 12 rows"
vpn=$(wait_line "$work/trace.log" '^view vpn rows=2 running=0') || fail "the VPN view did not show 2 rows"
echo "$acc"
echo "$vpn"
case "$acc" in *"first=user1|Site 1|Dial-up (ISDN)|1|1,024 MB|1,025 MB|37 seconds|"*) ;;
  *) fail "first accounting row: $acc" ;; esac
case "$vpn" in *"first=HQ|"*"|AES (256 bit)|HMAC-SHA1 (160 bit)|SHA1 (160 bit)|"*) ;;
  *) fail "first VPN row: $vpn" ;; esac
accwin=$(wait_window '^Accounting test$') || fail "no accounting window"
vpnwin=$(wait_window '^VPN test$') || fail "no VPN window"
# Both windows open at the same place without a window manager: the VPN window moves out of the way.
# Wine may miss a move made from outside while the window maps, so it is repeated until the trace shows it
# (each move watched for a bounded number of trace lines).
move() { # TITLE KIND X Y [W H]
  for _ in 1 2 3 4 5; do
    for id in $(xdotool search --name "$1" 2>/dev/null); do
      xdotool windowmove "$id" "$3" "$4" 2>/dev/null
      [ -n "$5" ] && xdotool windowsize "$id" "$5" "$6" 2>/dev/null
    done
    for _ in $(seq 1 10); do
      r=$(field "$(wait_line "$work/trace.log" "^view $2 " 5)" rect)
      [ "${r%%,*}" -ge $(($3 - 20)) ] 2>/dev/null && [ "${r%%,*}" -le $(($3 + 20)) ] && return 0
      sleep 0.2
    done
  done
  return 1
}
move '^VPN test$' vpn 480 600 || fail "the VPN window did not move"
xdotool windowactivate --sync "$accwin" 2>/dev/null || xdotool windowfocus "$accwin"
# Both windows on the screen with their rows and row images: the screen shot again until they are,
# a bounded number of times (under load the drawing reaches the X server late).
acc=$(wait_line "$work/trace.log" '^view acc ' 10)
vpn=$(wait_line "$work/trace.log" '^view vpn ' 10)
# The window of view $1 in the screenshot: empty when its area is, otherwise the pixels of its row images.
window_check() {
  local line=$acc r l t rr b
  [ "$1" = vpn ] && line=$vpn
  r=$(field "$line" rect)
  l=$(echo "$r" | cut -d, -f1); t=$(echo "$r" | cut -d, -f2); rr=$(echo "$r" | cut -d, -f3); b=$(echo "$r" | cut -d, -f4)
  convert "$work/screen.png" -crop "$((rr - l))x$((b - t))+$l+$t" +repage "$work/$1-window.png"
  mean=$(convert "$work/$1-window.png" -colorspace Gray -format "%[fx:mean]" info:)
  awk "BEGIN { exit !($mean > 0.3) }" || { echo "$1 window screenshot is empty (mean $mean)"; return 1; }
  # The row images in the list's first column: the accounting rows' blue user; the VPN rows' tunnel,
  # green while connected, grey otherwise (the simulated tunnels change their states), so for them any
  # drawing left of the names' texts in the two rows counts.
  if [ "$1" = acc ]; then
    colour=$(convert "$work/$1-window.png" -crop "30x$((b - t))+0+0" +repage \
      -fx "(b>0.6 && r<0.2 && g<0.4) ? 1 : 0" -format "%[fx:mean*w*h]" info:)
  else
    colour=$(convert "$work/$1-window.png" -crop "18x40+6+70" +repage \
      -fx "(r<0.8 || g<0.8 || b<0.8) ? 1 : 0" -format "%[fx:mean*w*h]" info:)
  fi
  awk "BEGIN { exit !($colour > 20) }" || { echo "$1 window shows no row images ($colour pixels)"; return 1; }
}
for _ in $(seq 1 40); do
  import -window root "$work/screen.png"
  problem=$(window_check acc) && problem=$(window_check vpn) && break
  sleep 0.25
done
[ -z "$problem" ] || fail "$problem"

# 2. A click on the Remote Site header sorts by that text: the rows without a remote site (4, 8, 12)
#    come first, so row 4 (user4) leads.
h1=$(field "$acc" header1)
click "$(echo "$h1" | cut -d, -f1)" "$(echo "$h1" | cut -d, -f2)"
sorted=$(wait_line "$work/trace.log" '^view acc rows=12 .*first=user4\|\|' 20) || fail "a header click did not sort"
echo "sorted: $sorted"
xdotool mousemove 0 0

# 3. Move and resize the accounting window and widen its first column, close it by its Close button.
move '^Accounting test$' acc 60 80 700 360 || fail "the accounting window did not move"
moved=$(wait_line "$work/trace.log" '^view acc .*rect=' 10)
edge=$(field "$moved" edge0)
ex=$(echo "$edge" | cut -d, -f1)
ey=$(echo "$edge" | cut -d, -f2)
xdotool mousemove "$((ex - 1))" "$ey" mousedown 1 mousemove "$((ex + 30))" "$ey" mousemove "$((ex + 61))" "$ey" mouseup 1
# The trace shows the wider column once the program has handled the drag (slowly under emulation).
before=$(wait_line "$work/trace.log" '^view acc .* col0=(1[5-9][0-9]|[2-9][0-9][0-9]) ' 20 \
  || wait_line "$work/trace.log" '^view acc ' 10)
echo "before close: $before"
rect1=$(field "$before" rect)
col1=$(field "$before" col0)
[ "$col1" -gt 150 ] || fail "dragging the header divider did not widen the first column ($col1)"
cl=$(field "$before" close)
click "$(echo "$cl" | cut -d, -f1)" "$(echo "$cl" | cut -d, -f2)"
wait_line "$work/trace.log" '^closed' 20 >/dev/null || fail "the Close button did not close the view"
xdotool windowclose "$vpnwin" 2>/dev/null
for _ in $(seq 1 40); do kill -0 "$run" 2>/dev/null || break; sleep 0.5; done
kill "$run" 2>/dev/null
grep -A3 AccountingWindow "$work/talvine.ini" || fail "no AccountingWindow section written"

# 4. Opened again: the same rectangle and width.
mv "$work/trace.log" "$work/trace1.log"
"$wine" "$prog" "$dir" $host "$port" acc >"$work/run2.log" 2>&1 &
run=$!
pids="$pids $run"
again=$(wait_line "$work/trace.log" '^view acc rows=12 running=0') || fail "the view did not open again"
echo "again: $again"
[ "${rect1%%,*}" != 0 ] || fail "the window was never moved, so its placement proves nothing"
[ "$(field "$again" rect)" = "$rect1" ] || fail "placement not restored: $(field "$again" rect), saved $rect1"
[ "$(field "$again" col0)" = "$col1" ] || fail "column width not restored: $(field "$again" col0), saved $col1"
accwin=$(wait_window '^Accounting test$')
[ -n "$accwin" ] && import -window root "$work/acc-again.png"
kill "$run" 2>/dev/null

echo "screenshots in $work"
[ "$failures" = 0 ] || { echo "$failures failure(s)"; cat "$work/trace1.log"; exit 1; }
echo "windows_views_test: passed"
