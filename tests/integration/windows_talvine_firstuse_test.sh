#!/bin/bash
# talvine.exe as a new user meets it, under Wine and Xvfb, driven through its test control channel
# (talvine-cli ctl), in a network namespace of its own where morvaksim answers on the SNMP port 161:
# the first start without stored placement opens a main window of a useful size whose empty tree says
# how to add devices; a device given a read-only community answers but refuses the registration and is
# shown so (text, image, tip), not as not answering, and a device without agent still is; the taskbar
# menu's about entry names the program, its tip sums the devices up, a balloon names its device; the
# display window is as tall and as wide as its lines and opens beside the main window; a double click
# runs an item's default action; the accounting and VPN views have titles of their own, open beside
# the main window and fit their columns; the properties sheet names the device, and the write
# community given there registers it. Screenshots are kept in the work directory.
#   windows_talvine_firstuse_test.sh <wine-run> <talvine.exe> <morvaksim> <talvine-cli> <script> <work directory>
# Exits 77 (skipped) without a display, without the native programs, or where no network namespace can
# be made.
wine_run=$1
exe=$2
sim=$3
cli=$4
script=$5
work=$6

. "$(dirname "$0")/windows_preamble.sh"
[ -x "$sim" ] && [ -x "$cli" ] || { echo "no native morvaksim or talvine-cli: skipped"; exit 77; }
wine_begin "$work/prefix" "$@"

# The line of the devices changes every 2 s (connected, then idle): losing it shows a balloon. The
# devices have been up for nearly four hours ("Up for 3 hours and 51 minutes", longer than 20 cells).
rm -rf "$work/mib" && cp -r "$(dirname "$sim")/snmp" "$work/mib" \
  && sed -i -e 's/^\(1\.3\.6\.1\.4\.1\.58127\.2\.5\.0 .*\) cycle 3,3,3,1,2 20 trap/\1 cycle 3,1 2 trap/' \
    -e 's/^\(1\.3\.6\.1\.2\.1\.1\.3\.0 *t ro\) uptime/\1 rate 1391200 100/' "$work/mib/common.mib" \
  && grep -q 'cycle 3,1 2 trap' "$work/mib/common.mib" && grep -q 'rate 1391200 100' "$work/mib/common.mib" \
  || { echo "cannot copy the MIB files"; exit 1; }
sim_start "$work/sim.log" "$sim" --port 69 --snmp-port 161 --mib-dir "$work/mib" --count 2 --type "Morvak 5000" \
  --accounting-rows 4 127.0.77.1 || { cat "$work/sim.log"; fail "morvaksim did not start"; exit 1; }

app=$work/app
rm -rf "$app"
mkdir -p "$app"
cp "$exe" "$app/talvine.exe"
cp "$script" "$app/"

port=
c() { "$cli" ctl --port "$port" "$@"; }

wait_tree() {
  for _ in $(seq 1 150); do
    c tree 2>/dev/null | grep -qE "$1" && return 0
    sleep 0.2
  done
  return 1
}
wait_view() {
  local line
  for _ in $(seq 1 150); do
    line=$(c views 2>/dev/null | grep -E "$1" | head -n 1)
    [ -n "$line" ] && { echo "$line"; return 0; }
    sleep 0.2
  done
  return 1
}
field() {
  echo "$1" | tr ' ' '\n' | sed -n "s/^$2=//p"
}
shot() {
  local name=$1 handle=$2 windows
  windows=$(winepath -w "$work/$name.bmp" 2>/dev/null)
  c shot $handle "${windows//\\/\\\\}" >/dev/null && convert "$work/$name.bmp" "$work/$name.png" \
    && rm -f "$work/$name.bmp" || fail "screenshot $name"
}
# "rect" answers "LEFT TOP RIGHT BOTTOM client=Y work=L,T,R,B": sets L T R B CY WL WT WR WB.
rect() {
  local r
  r=$(c rect "$1") || return 1
  read -r L T R B rest <<<"$r"
  CY=$(echo "$rest" | sed -n 's/.*client=\([-0-9]*\).*/\1/p')
  IFS=, read -r WL WT WR WB <<<"$(echo "$rest" | sed -n 's/.*work=\([-0-9,]*\).*/\1/p')"
}
wait_gone() {
  for _ in $(seq 1 200); do
    kill -0 "$1" 2>/dev/null || return 0
    sleep 0.1
  done
  return 1
}

"$wine" "$app/talvine.exe" /testctl:0 >"$work/app.log" 2>&1 </dev/null &
app_pid=$!
port=$(ctl_wait_port "$work/app.log") || { cat "$work/app.log"; fail "no test control port"; exit 1; }
for _ in $(seq 1 100); do c windows 2>/dev/null | grep -q $'\tTravikWindowClass\t' && break; sleep 0.1; done
main=$(c windows | grep $'\tTravikWindowClass\t' | cut -f 1)
[ -n "$main" ] || { fail "no main window: $(c windows)"; exit 1; }

# 1. First start, nothing stored: a useful size, and the empty tree says how to add devices.
rect main || fail "main window's rectangle"
echo "main window: $L,$T - $R,$B on $WL,$WT - $WR,$WB"
[ $((R - L)) -ge 560 ] && [ $((B - T)) -ge 480 ] || fail "main window of $((R - L)) x $((B - T)) at first start"
c controls "$main" | grep -q $'\tStatic\t.*\tNo devices are monitored yet\\.' \
  || fail "no hint on the empty tree: $(c controls "$main")"
shot main-empty "$main"

# 2. Devices: one with the read-only community (it answers, refuses the registration), one with the
#    write community, one where nothing answers. A second start hands them over.
"$wine" "$app/talvine.exe" /add:127.0.77.1:public /add:127.0.77.2:private >"$work/second.log" 2>&1 </dev/null &
wait_gone $! || fail "the second start did not end"
wait_tree '^device 127\.0\.77\.1 Morvak 5000 noanswer=0 registered=0 .*refused=1' \
  || fail "read-only device not shown as refusing: $(c tree)"
wait_tree '^device 127\.0\.77\.2 Morvak 5000 noanswer=0 registered=1' || fail "second device: $(c tree)"
tree=$(c tree)
echo "$tree" >"$work/tree.txt"
ro=$(echo "$tree" | grep -A1 '^device 127\.0\.77\.1 ' | sed -n 2p)
echo "read-only device: $ro"
case "$ro" in
  *"not answering"*) fail "a device that answers is shown as not answering: $ro" ;;
  *"state=2 image=13 "*"(127.0.77.1) answers, but refused the registration: enter its write community"*) ;;
  *) fail "read-only device's item: $ro" ;;
esac
[ "$(echo "$tree" | grep -A1 '^device 127\.0\.77\.1 ' | wc -l)" = 2 ] && ! echo "$tree" \
  | sed -n '/^device 127\.0\.77\.1 /,/^device /p' | grep -q '^    ' || fail "refusing device shows its details: $tree"
# The device's own name comes first in its text.
name=$(echo "$ro" | sed 's/^[^:]*: //; s/ (127\.0\.77\.1).*//')
tip=$(c tip "$name (127.0.77.1)")
echo "tip: $tip"
case "$tip" in
  *"Morvak 5000 (127.0.77.1) answers, but refused the monitor's registration"*"write community as the password in Properties"*) ;;
  *) fail "tip of the refusing device: $tip" ;;
esac
c select "$name (127.0.77.1)" || fail "select the refusing device"
shot main-refused "$main"

# 3. Taskbar: the about entry filled in, the tip sums up, a balloon names its device (the line of either
#    device goes: a device refusing the registration still runs its items' actions).
c command 3009 || fail "Show Status in Taskbar"
menu=$(c traymenu)
echo "$menu" | grep -qx '&About Travik' || fail "tray menu: $menu"
echo "$menu" | grep -q '%s' && fail "a placeholder in the tray menu: $menu"
echo "$menu" | grep -qx '\*&Show' || fail "Show is not the default: $menu"
traytip=$(c traytip)
[ "$traytip" = "Travik - 2 devices, 1 refusing registration" ] || fail "tray tip: $traytip"
balloon=
for _ in $(seq 1 100); do
  balloon=$(c balloon)
  [ -n "$balloon" ] && break
  sleep 0.2
done
echo "balloon: $balloon"
case "$balloon" in
  "Morvak 5000 (127.0.77."[12]") The line of the device has been disconnected.") ;;
  *) fail "balloon: $balloon" ;;
esac

# 4. The display window: every line whole, beside the main window (title bar and menu free).
c display 127.0.77.2 || fail "open the display window"
display=
for _ in $(seq 1 50); do
  display=$(c windows | grep $'\tTravikDisplayWindowClass\t' | cut -f 1)
  [ -n "$display" ] && break
  sleep 0.1
done
[ -n "$display" ] || fail "no display window: $(c windows)"
rect main && mL=$L mT=$T mR=$R mB=$B mCY=$CY
rect "$display" || fail "display window's rectangle"
echo "display: $L,$T - $R,$B; main $mL,$mT - $mR,$mB client from $mCY"
[ "$L" -ge "$WL" ] && [ "$R" -le "$WR" ] && [ "$T" -ge "$WT" ] && [ "$B" -le "$WB" ] || fail "display off the screen"
# Beside the main window (this screen has room for it), so certainly not over its title bar or menu.
if [ "$L" -lt "$mR" ] && [ "$R" -gt "$mL" ] && [ "$T" -lt "$mB" ] && [ "$B" -gt "$mT" ]; then
  fail "display window over the main window"
fi
# Every line whole: as many cells as the longest line, as many lines as it has (the texts come with
# the polls: a few tries).
for _ in $(seq 1 30); do
  fit=$(c displayfit 127.0.77.2) || { fail "displayfit"; break; }
  read -r columns lines longest count <<<"$fit"
  [ "$longest" -gt 20 ] && [ "$columns" -ge "$longest" ] && [ "$lines" -ge "$count" ] && break
  sleep 0.2
done
echo "display: $fit"
[ "$longest" -gt 20 ] || fail "the test's longest display line has only $longest characters"
[ "$columns" -ge "$longest" ] && [ "$lines" -ge "$count" ] \
  || fail "display window shows $columns cells x $lines lines for $longest x $count"
shot display "$display"

# 5. Double click on "Accounting" runs its default action: the accounting view, with a title of its
#    own, beside the main window, its columns fitting.
c dblclick Accounting || fail "double click on Accounting"
acc=$(wait_view '^acc rows=4 running=0') || fail "double click did not open the accounting view: $(c views)"
echo "$acc"
case "$acc" in *" title="*"(127.0.77.2) - Accounting Information") ;; *) fail "accounting view's title: $acc" ;; esac
accwin=$(field "$acc" window)
sleep 0.5
shot accounting "$accwin"
rect "$accwin" && aL=$L aT=$T aR=$R aB=$B
echo "accounting view: $aL,$aT - $aR,$aB"
if [ "$aL" -lt "$mR" ] && [ "$aR" -gt "$mL" ] && [ "$aT" -lt "$mB" ] && [ "$aB" -gt "$mT" ]; then
  fail "accounting view over the main window"
fi
[ "$aL" -ge "$WL" ] && [ "$aR" -le "$WR" ] && [ "$aT" -ge "$WT" ] && [ "$aB" -le "$WB" ] || fail "accounting view off the screen"
c select "VPN connections" && c command 3500 || fail "the VPN item's action"
vpn=$(wait_view '^vpn rows=2 running=0') || fail "no VPN view: $(c views)"
case "$vpn" in *" title="*"(127.0.77.2) - VPN Connections") ;; *) fail "VPN view's title: $vpn" ;; esac
vpnwin=$(field "$vpn" window)
sleep 0.5
shot vpn "$vpnwin"
# Every column of each view within its window (the last one is not cut).
for w in "$accwin" "$vpnwin"; do
  cols=$(c columns "$w") || { fail "columns of $w"; continue; }
  echo "columns $w: $cols"
  read -r total client <<<"$cols"
  [ "$total" -le "$client" ] || fail "columns of $w ($total) wider than its list ($client)"
done

# 6. The properties sheet names the device; the write community given there registers it at once.
c select "$name (127.0.77.1)" || fail "select the refusing device"
c command 3005 || fail "Properties"
for _ in $(seq 1 50); do c windows | grep -q $'\tMorvak 5000 (127.0.77.1)$' && break; sleep 0.1; done
c windows | grep -q $'\tMorvak 5000 (127.0.77.1)$' || fail "properties sheet's title: $(c windows)"
shot properties
c set 4204 private || fail "the password field: $(c controls)"
c press 1 || fail "OK"
wait_tree '^device 127\.0\.77\.1 Morvak 5000 noanswer=0 registered=1 .*refused=0' \
  || fail "the write community did not register the device: $(c tree | grep '^device')"

c exit >/dev/null
wait_gone "$app_pid" || fail "the program did not end"
app_pid=
echo "screenshots in $work"
echo "$failures failure(s)"
[ "$failures" = 0 ]
