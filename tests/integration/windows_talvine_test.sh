#!/bin/bash
# talvine.exe under Wine and Xvfb, driven through its test control channel (talvine-cli ctl), in a network
# namespace of its own where morvaksim answers on the devices' own ports (TFTP 69, SNMP 161) at
# 127.0.77.1-3: a device added by /add: detected and shown, a second start with /add: handing its device
# to the first and ending, the new-device dialog, Find adding the device chosen, the detection dialog
# (cancelled, no answer and back to the address, a device of a type no script knows), the taskbar icon's image, closing the main window with
# the icon shown only hiding it, a log-off saving talvine.lst without a question, German texts.
# Screenshots are kept in the work directory.
#   windows_talvine_test.sh <wine-run> <talvine.exe> <morvaksim> <talvine-cli> <script> <work directory>
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
# Find broadcasts to 255.255.255.255: the namespace's loopback carries it here, where morvaksim hears it.
ip route add broadcast 255.255.255.255 dev lo src 127.0.0.1 table local \
  || { echo "no route for the limited broadcast"; exit 1; }

# A device whose description no script knows (its MIB's sysDescr changed), at 127.0.78.1.
rm -rf "$work/mib" && cp -r "$(dirname "$sim")/snmp" "$work/mib" \
  && sed -i 's/"Zevra Morvak 5000"/"Zevra Morvak 9999"/' "$work/mib/morvak5000.mib" \
  || { echo "cannot copy the MIB files"; exit 1; }
sim_start "$work/sim2.log" "$sim" --port 69 --snmp-port 161 --mib-dir "$work/mib" --type "Morvak 5000" 127.0.78.1 \
  || { cat "$work/sim2.log"; fail "morvaksim did not start"; exit 1; }
sim2_pid=$sim_pid
sim_start "$work/sim.log" "$sim" --port 69 --snmp-port 161 --count 3 --search --search-limited --type "Morvak 5000" \
  127.0.77.1 || { cat "$work/sim.log"; fail "morvaksim did not start"; exit 1; }

app=$work/app
mkdir -p "$app"
cp "$exe" "$app/talvine.exe"
cp "$script" "$app/"

port=
c() { "$cli" ctl --port "$port" "$@"; }

start_app() {
  "$wine" "$app/talvine.exe" /testctl:0 "$@" >"$work/app.log" 2>&1 </dev/null &
  app_pid=$!
  port=$(ctl_wait_port "$work/app.log") || { cat "$work/app.log"; fail "no test control port"; exit 1; }
}

# Waits (a bounded number of tries) until the tree has a line matching $1.
wait_tree() {
  for _ in $(seq 1 150); do
    c tree 2>/dev/null | grep -qE "$1" && return 0
    sleep 0.2
  done
  return 1
}

# Waits (a bounded number of tries, $2 tenths of a second, default 100) for a visible window matching $1.
wait_window() {
  for _ in $(seq 1 "${2:-100}"); do
    c windows 2>/dev/null | grep -qE "$1" && return 0
    sleep 0.1
  done
  return 1
}

shot() {
  local name=$1 windows
  windows=$(winepath -w "$work/$name.bmp" 2>/dev/null)
  c shot "${windows//\\/\\\\}" >/dev/null && convert "$work/$name.bmp" "$work/$name.png" && rm -f "$work/$name.bmp" \
    || fail "screenshot $name"
}

wait_gone() {
  for _ in $(seq 1 200); do
    kill -0 "$1" 2>/dev/null || return 0
    sleep 0.1
  done
  return 1
}

# A first start with a device to add: detected through its SNMP agent, its tree shown.
start_app /add:127.0.77.1:private
wait_tree '^device 127\.0\.77\.1 Morvak 5000 noanswer=0 registered=1' || fail "device not detected: $(c tree)"
wait_tree '^  Device state=' || fail "device tree not shown: $(c tree)"
c windows | grep -q $'\tTravikWindowClass\tTravik$' || fail "main window: $(c windows)"
# The tree view shows the engine's items with the image of their state (a few tries: the simulated
# devices change their states now and then).
same=
for _ in $(seq 1 20); do
  engine=$(c tree | sed -n 's/^ *[^ ]* state=[0-9]* image=\([-0-9]*\) flags=[0-9]*: \(.*\)$/\1\t\2/p')
  [ -n "$engine" ] && [ "$engine" = "$(c treeview)" ] && { same=1; break; }
  sleep 0.2
done
[ -n "$same" ] || fail "tree view differs from the engine's tree: $(c treeview) / $(c tree)"
shot main-en
# The display window in English (it stays open; its state saved at log-off is replaced below).
c display 127.0.77.1 || fail "open the display window"
drawn=
for _ in $(seq 1 20); do
  shot display-en
  [ "$(convert "$work/display-en.png" -format %k info:)" -gt 2 ] && { drawn=1; break; }
  sleep 0.2
done
[ -n "$drawn" ] || fail "English display window not drawn"

# A second start hands its device over and ends.
"$wine" "$app/talvine.exe" "/ADD:127.0.77.2:private" >"$work/second.log" 2>&1 </dev/null &
second=$!
wait_gone "$second" || fail "the second start did not end"
wait_tree '^device 127\.0\.77\.2 Morvak 5000 noanswer=0' || fail "second device not added: $(c tree)"

# The new-device dialog.
c command 3000 || fail "New"
for _ in $(seq 1 50); do c windows | grep -q $'\tNew Device$' && break; sleep 0.1; done
c windows | grep -q $'\tNew Device$' || fail "no new-device dialog: $(c windows)"
shot newdevice-en
c press 2 || fail "cancel the dialog"

# Find: the search finds the three simulated devices; the one chosen is added (detected, no password).
c command 3021 || fail "Find"
wait_window $'\tFind Devices$' || fail "no Find dialog: $(c windows)"
for _ in $(seq 1 100); do c controls | grep -q $'\t3 device(s) found$' && break; sleep 0.1; done
c controls | grep -q $'\t3 device(s) found$' || fail "search did not find 3 devices: $(c controls)"
c controls | grep -q $'^\t127\.0\.77\.3\tMorvak 5000\t' || fail "127.0.77.3 not listed: $(c controls)"
shot find-en
c pick 4302 127.0.77.3 && c press 1 || fail "add the device found"
wait_tree '^device 127\.0\.77\.3 Morvak 5000 noanswer=0' || fail "device found not added: $(c tree)"
[ "$(c tree | grep -c '^device ')" = 3 ] || fail "Find added more than the device chosen: $(c tree)"

# The detection dialog: Cancel ends the detection without a message.
new_device() {
  c command 3000 || fail "New"
  wait_window $'\tNew Device$' || { fail "no new-device dialog: $(c windows)"; return 1; }
  c set 4101 "$1" && c press 1 || fail "enter $1"
}
new_device 127.0.78.9
wait_window $'\tDetecting Device$' || fail "no detection dialog: $(c windows)"
shot detect-en
c press 2 || fail "cancel the detection"
for _ in $(seq 1 50); do [ "$(c detecting)" = 0 ] && break; sleep 0.1; done
[ "$(c detecting)" = 0 ] || fail "detection not cancelled"
c windows | grep -v TravikWindowClass | grep -qE $'\t(Detecting Device|Travik)$' \
  && fail "a window after the cancelled detection: $(c windows)"
# No answer: 2021, and Yes returns to the address.
new_device 127.0.78.9
wait_window $'\t#32770\tTravik$' 600 || fail "no question after the detection: $(c windows)"
c controls | grep -q "No device responded at IP address 127.0.78.9." || fail "not 2021: $(c controls)"
c press 6 || fail "Yes"
wait_window $'\tNew Device$' || fail "not back to the address: $(c windows)"
c controls | grep -q $'^4101\t.*\t127\.0\.78\.9$' || fail "address not kept: $(c controls)"
c press 2
# A device that answers with a description no script knows: 2022.
new_device 127.0.78.1
wait_window $'\t#32770\tTravik$' 300 || fail "no message after the detection: $(c windows)"
c controls | grep -q "The device at 127.0.78.1 is not supported." || fail "not 2022: $(c controls)"
c press 1

# The properties sheet of the first device (nothing selected): the device page with its password.
c command 3005 || fail "Properties"
for _ in $(seq 1 50); do c windows | grep -q $'\t#32770\tMorvak 5000 (127.0.77.1)$' && break; sleep 0.1; done
c windows | grep -q $'\t#32770\tMorvak 5000 (127.0.77.1)$' || fail "no properties sheet: $(c windows)"
c controls | grep -q "Morvak 5000" || fail "device type not on the device page: $(c controls)"
shot properties-en
c pick 12320 Logging && shot properties-logging-en || fail "logging page"
# The options page: the space key toggles the check entry under the caret (the first) and chooses the
# radio entry three lines below it ("Do nothing" of the group "When the line is lost"); OK saves both.
c pick 12320 Options && shot properties-options-en || fail "options page"
c key 4231 space && c key 4231 down && c key 4231 down && c key 4231 down && c key 4231 space \
  || fail "keys on the options"
c press 1 || fail "OK on the properties sheet"
for _ in $(seq 1 50); do grep -q "^127.0.77.1_Warn=0" "$app/talvine.ini" && break; sleep 0.1; done
grep -q "^127.0.77.1_Traffic=1" "$app/talvine.ini" && grep -q "^127.0.77.1_Warn=0" "$app/talvine.ini" \
  && ! grep -q "^127.0.77.1_LogLine=" "$app/talvine.ini" || fail "options not saved: $(cat "$app/talvine.ini")"

# The taskbar icon: shown, idle or connected image (no device is in error); closing the main window then
# only hides it.
c command 3009 || fail "Show Status in Taskbar"
# The image follows the devices' lines (the simulated devices change their states now and then: a few
# tries until a reading of the tree and the icon agree).
agree=
for _ in $(seq 1 20); do
  # (The device type holds blanks: the fields are found by name, not by position.)
  expected=$(c tree | awk '/^device / {
      if ($0 ~ / noanswer=1/ || $0 ~ / registered=0/ || $0 !~ / errors=0( |$)/) e = 1
      if ($0 !~ / connects=0( |$)/) k = 1 }
    END { print e ? 2 : (k ? 1 : 0) }')
  [ "$(c tray)" = "shown=1 image=$expected" ] && { agree=1; break; }
  sleep 0.2
done
[ -n "$agree" ] || fail "tray: $(c tray), tree: $(c tree)"
c command 3006 || fail "Close"
for _ in $(seq 1 50); do c windows | grep -q TravikWindowClass || break; sleep 0.1; done
c windows | grep -q TravikWindowClass && fail "main window still visible after Close with the icon shown"
kill -0 "$app_pid" 2>/dev/null || fail "the program ended on Close with the icon shown"
c command 3020 || fail "Show"
c windows | grep -q TravikWindowClass || fail "main window not shown again"

# Log-off: settings and list saved without a question.
rm -f "$app/talvine.lst"
"$wine" wineboot --end-session >/dev/null 2>&1
for _ in $(seq 1 100); do [ -s "$app/talvine.lst" ] && break; sleep 0.1; done
grep -q "127.0.77.1" "$app/talvine.lst" && grep -q "127.0.77.2" "$app/talvine.lst" \
  || fail "talvine.lst not saved at log-off: $(cat "$app/talvine.lst" 2>/dev/null)"
grep -q "ShowTrayStatus=1" "$app/talvine.ini" || fail "settings not saved at log-off: $(cat "$app/talvine.ini")"
kill "$app_pid" 2>/dev/null
wait_gone "$app_pid"
app_pid=

# German, from the list saved, with a display window saved as open in green on black: restored with its
# colours. The exit command ends the program with the display open.
options="127.0.77.1_Options=1,0,0,0x0000ff00,0x00000000"
if grep -q "^127.0.77.1_Options=" "$app/talvine.ini"; then
  sed -i "s/^127.0.77.1_Options=.*/$options\r/" "$app/talvine.ini"
else
  printf '%s\r\n' "[DisplayWindow]" "$options" >>"$app/talvine.ini"
fi
start_app -LANG:GER
wait_tree '^device 127\.0\.77\.2 Morvak 5000 noanswer=0' || fail "list not loaded: $(c tree)"
shot main-de
c command 3000 || fail "Neu"
for _ in $(seq 1 50); do c windows | grep -q $'\tNeues Ger' && break; sleep 0.1; done
c windows | grep -q $'\tNeues Ger' || fail "no German new-device dialog: $(c windows)"
shot newdevice-de
c press 2 || fail "cancel the German dialog"
c command 3005 || fail "Eigenschaften"
for _ in $(seq 1 50); do c windows | grep -q $'\t#32770\tMorvak 5000 (127.0.77.[0-9]*)$' && break; sleep 0.1; done
shot properties-de
c pick 12320 Protokoll && shot properties-logging-de || fail "German logging page"
c pick 12320 Optionen && shot properties-options-de || fail "German options page"
c press 2 || fail "cancel the German properties sheet"
for _ in $(seq 1 50); do c windows | grep -q $'\tTravikDisplayWindowClass\t' && break; sleep 0.1; done
display=$(c windows | awk -F '\t' '$2 == "TravikDisplayWindowClass" { print $1 }')
[ -n "$display" ] || fail "display window not restored: $(c windows)"
wait_tree '^  Device state=' >/dev/null
if [ -n "$display" ]; then
  c display 127.0.77.1 || fail "activate the display window"
  # The window may be shot before its first lines are drawn: a bounded number of shots until one shows them.
  green=
  for _ in $(seq 1 20); do
    shot display-de
    convert "$work/display-de.png" -format %c histogram:info:- | grep -qi '#00FF00' && { green=1; break; }
    sleep 0.2
  done
  [ -n "$green" ] || fail "display not drawn in green"
fi
c exit || fail "exit"
wait_gone "$app_pid" || fail "the program did not end on exit"
app_pid=

echo "$failures failure(s)"
[ "$failures" = 0 ]
