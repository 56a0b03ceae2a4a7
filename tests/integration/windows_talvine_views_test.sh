#!/bin/bash
# talvine.exe's accounting and VPN views under Wine and Xvfb, driven through its test control channel
# (talvine-cli ctl), in a network namespace of its own where morvaksim answers on the devices' SNMP port
# 161 at 127.0.77.1 with 12 accounting rows: the tree items' plug-in actions open the accounting view and
# the VPN view, whose lists hold what talvine-cli reads from the same tables; the plug-in action again
# brings the open view to the front; the view's Save writes an accounting file that the main window's
# "View Saved Accounting Information" (3016) shows again; closing follows the main window's ending rules
# (a view just closes while other things stay visible; the last one asks, and Yes ends the program, with
# the views' placements saved). Screenshots are kept in the work directory.
#   windows_talvine_views_test.sh <wine-run> <talvine.exe> <morvaksim> <talvine-cli> <script> <work directory>
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

host=127.0.77.1
sim_start "$work/sim.log" "$sim" --port 69 --snmp-port 161 --type "Morvak 5000" --accounting-rows 12 $host \
  || { cat "$work/sim.log"; fail "morvaksim did not start"; exit 1; }

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
# Waits until the open views include a line matching $1; prints it.
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
active_class() {
  c windows | head -n 1 | cut -f 2
}
# Waits until the active window is of class $1 (and, given $2, has that handle).
wait_active() {
  local w
  for _ in $(seq 1 100); do
    w=$(c windows | head -n 1)
    [ "$(echo "$w" | cut -f 2)" = "$1" ] && { [ -z "$2" ] || [ "$(echo "$w" | cut -f 1)" = "$2" ]; } && return 0
    sleep 0.1
  done
  return 1
}
# What the program shows, at each step, for the record.
step() {
  { echo "== $*"; c windows; c views; } >>"$work/steps.txt" 2>&1
}
shot() {
  local name=$1 windows
  windows=$(winepath -w "$work/$name.bmp" 2>/dev/null)
  c shot "${windows//\\/\\\\}" >/dev/null && convert "$work/$name.bmp" "$work/$name.png" && rm -f "$work/$name.bmp" \
    || fail "screenshot $name"
}
# The rows of a view window's list as the channel reads them (one line each, texts tab-separated).
list_rows() {
  c controls "$1" | grep $'^\t' | sed 's/^\t//'
}
# talvine-cli's rows of the same table, without the title line and the image number.
cli_rows() {
  "$cli" "$1" -p 161 -c public "$host" | tail -n +2 | sed 's/\t[0-9]*$//'
}
wait_gone() {
  for _ in $(seq 1 200); do
    kill -0 "$1" 2>/dev/null || return 0
    sleep 0.1
  done
  return 1
}
# A file dialog: the name typed into its name field, then Open or Save.
file_dialog() {
  for _ in $(seq 1 100); do
    c controls 2>/dev/null | grep -q $'^1148\t' && break
    sleep 0.1
  done
  c set 1148 "$(ctl_text "$(winepath -w "$1")")" || { fail "file name $1"; return 1; }
  c press 1 || fail "press Open/Save"
}

"$wine" "$app/talvine.exe" /testctl:0 /add:$host:private >"$work/app.log" 2>&1 </dev/null &
app_pid=$!
port=$(ctl_wait_port "$work/app.log") || { cat "$work/app.log"; fail "no test control port"; exit 1; }
wait_tree "^device ${host//./\\.} Morvak 5000 noanswer=0 registered=1" || { fail "device not detected: $(c tree)"; exit 1; }
wait_tree '^ +Accounting ' || { fail "no Accounting item: $(c tree)"; exit 1; }
[ -d "$app/Accounting" ] || fail "no Accounting directory made at start-up"

# 1. The Accounting item's default menu action (its plug-in call) opens the accounting view.
step select Accounting
c select Accounting || fail "select the Accounting item"
step command 3500
c command 3500 || fail "the Accounting item's action"
acc=$(wait_view '^acc rows=12 running=0') || fail "no accounting view with 12 rows: $(c views)"
echo "$acc"
accwin=$(field "$acc" window)
# Its title names the view and the device (its first top-level item text).
top=$(c tree | sed -n 's/^  [^ ]* state=.*: //p' | head -n 1)
[ -n "$top" ] && [ "${acc#* title=}" = "$top - Accounting Information" ] \
  || fail "accounting view's title: $acc, first item: $top"
c windows | grep -q $'\tTravikAccountingPlugin\t' || fail "no TravikAccountingPlugin window: $(c windows)"
list_rows "$accwin" >"$work/acc-list.txt"
cli_rows accounting >"$work/acc-cli.txt"
[ "$(wc -l <"$work/acc-cli.txt")" = 12 ] || fail "talvine-cli read $(wc -l <"$work/acc-cli.txt") accounting rows"
diff "$work/acc-cli.txt" "$work/acc-list.txt" || fail "the accounting view's rows differ from talvine-cli's"
wait_active TravikAccountingPlugin || fail "the accounting view is not active: $(c windows)"
shot accounting-view

# 2. The VPN list item's action (plug-in "vpn", OpenView) opens the VPN view.
step select VPN connections
c select "VPN connections" || fail "select the VPN item"
step command 3500
c command 3500 || fail "the VPN item's action"
vpn=$(wait_view '^vpn rows=2 running=0') || fail "no VPN view with 2 rows: $(c views)"
echo "$vpn"
vpnwin=$(field "$vpn" window)
list_rows "$vpnwin" >"$work/vpn-list.txt"
cli_rows vpn >"$work/vpn-cli.txt"
# The simulated tunnels change their states now and then: the state column aside, the rows are the same.
cut -f 1,3- "$work/vpn-cli.txt" >"$work/vpn-cli-nostate.txt"
cut -f 1,3- "$work/vpn-list.txt" >"$work/vpn-list-nostate.txt"
diff "$work/vpn-cli-nostate.txt" "$work/vpn-list-nostate.txt" || fail "the VPN view's rows differ from talvine-cli's"
cut -f 2 "$work/vpn-list.txt" | grep -qvxE 'Outgoing call|Incoming call|Protocol negotiation|Connected|Disconnecting|' \
  && fail "a VPN state text: $(cut -f 2 "$work/vpn-list.txt")"
wait_active TravikVpnPlugin || fail "the VPN view is not active: $(c windows)"
shot vpn-view

# 3. The accounting action again: the open view comes to the front, no second one.
step select Accounting
c select Accounting && c command 3500 || fail "the Accounting item's action again"
wait_active TravikAccountingPlugin "$accwin" || fail "the open accounting view did not come to the front: $(c windows)"
[ "$(c views | grep -c '^acc ')" = 1 ] || fail "a second accounting view: $(c views)"

# 4. Save from the view, then 3016 shows the saved file in a view of its own.
saved=$app/Accounting/saved.acc
step press 103
c press 103 || fail "Save"
file_dialog "$saved"
for _ in $(seq 1 50); do [ -s "$saved" ] && break; sleep 0.1; done
[ -s "$saved" ] || fail "no file saved"
head -n 1 "$saved" | grep -qE $'^TravikAccountingFile;[0-9]+\\.[0-9]{2}\\.[0-9]{4}\r$' \
  || fail "saved file's first line: $(head -n 1 "$saved" | od -c | head -n 2)"
[ "$(tail -n +2 "$saved" | wc -l)" = 12 ] || fail "saved file's rows: $(cat "$saved")"
grep -qiF "ACCPath=$(winepath -w "$app/Accounting")" "$app/talvine.ini" \
  || fail "ACCPath not kept: $(grep ACCPath "$app/talvine.ini")"
step command 3016
c command 3016 || fail "View Saved Accounting Information"
file_dialog "$saved"
file=$(wait_view '^acc file rows=12 running=0') || fail "no view of the saved file: $(c views)"
echo "$file"
case "$file" in *"title=saved.acc - Accounting Information"*) ;; *) fail "file view's title: $file" ;; esac
list_rows "$(field "$file" window)" >"$work/file-list.txt"
diff "$work/acc-list.txt" "$work/file-list.txt" || fail "the saved file shows other rows than the device's view"
wait_active TravikAccountingPlugin "$(field "$file" window)" || fail "the file view is not active: $(c windows)"
shot accounting-file-view

# 5. Closing: a view closes without a question while other things stay visible; the main window only
#    hides; the last view asks, and Yes ends the program with the views' placements saved.
step press 106
c press 106 || fail "Close of the file view"
for _ in $(seq 1 50); do c views | grep -q '^acc file' || break; sleep 0.1; done
c views | grep -q '^acc file' && fail "the file view did not close: $(c views)"
step command 3006
c command 3006 || fail "Close the main window"
for _ in $(seq 1 50); do c windows | grep -q TravikWindowClass || break; sleep 0.1; done
c windows | grep -q TravikWindowClass && fail "main window still visible with two views open"
kill -0 "$app_pid" 2>/dev/null || fail "the program ended on closing its main window with views open"
# With the main window hidden its tree still runs the actions: the accounting view to the front, closed.
step select Accounting
c select Accounting && c command 3500 || fail "the Accounting item's action with the main window hidden"
wait_active TravikAccountingPlugin "$accwin" || fail "the accounting view did not come to the front: $(c windows)"
step press 106
c press 106 || fail "Close of the accounting view"
for _ in $(seq 1 50); do [ "$(c views | wc -l)" = 1 ] && break; sleep 0.1; done
[ "$(c views | grep -c '^vpn ')" = 1 ] && [ "$(c views | wc -l)" = 1 ] || fail "the VPN view should stay alone: $(c views)"
# The last one asks: No keeps it, Yes ends the program.
step select VPN connections
c select "VPN connections" && c command 3500 || fail "the VPN item's action with the main window hidden"
wait_active TravikVpnPlugin "$vpnwin" || fail "the VPN view did not come to the front: $(c windows)"
step press 106
c press 106 || fail "Close of the last view"
for _ in $(seq 1 50); do c controls 2>/dev/null | grep -q "Do you wish to end" && break; sleep 0.1; done
c controls | grep -q "Do you wish to end Travik?" || fail "no question on closing the last view: $(c controls)"
shot ask-exit
step press 7
c press 7 || fail "No"
for _ in $(seq 1 50); do c controls 2>/dev/null | grep -q "Do you wish to end" || break; sleep 0.1; done
[ "$(c views | wc -l)" = 1 ] || fail "No closed the view: $(c views)"
wait_active TravikVpnPlugin "$vpnwin" || fail "the VPN view is not active after No: $(c windows)"
step press 106
c press 106 || fail "Close of the last view again"
for _ in $(seq 1 50); do c controls 2>/dev/null | grep -q "Do you wish to end" && break; sleep 0.1; done
step press 6
c press 6 || fail "Yes"
wait_gone "$app_pid" || fail "the program did not end on Yes"
app_pid=
tr -d '\r' <"$app/talvine.ini" >"$work/talvine.ini.txt"
grep -q "^\[AccountingWindow\]" "$work/talvine.ini.txt" || fail "no AccountingWindow section"
grep -q "^${host}_WindowPos=" "$work/talvine.ini.txt" || fail "no device view placement saved"
grep -q "^File_WindowPos=" "$work/talvine.ini.txt" || fail "no file view placement saved"
grep -q "^\[VpnConnectionsWindow\]" "$work/talvine.ini.txt" || fail "no VpnConnectionsWindow section"

step end
echo "screenshots in $work"
echo "$failures failure(s)"
[ "$failures" = 0 ]
