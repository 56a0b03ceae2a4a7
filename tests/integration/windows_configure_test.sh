#!/bin/bash
# Edit, Configure in qorvexal.exe under Wine and Xvfb against morvaksim on loopback: three devices
# configured together (the common value shown, the control empty where their values differ; a changed
# differing value asks and No keeps every device's own; a changed common value reaches all three after
# the upload warning), and a user's whole flow typed with real X input (xdotool): Ins and the device
# dialog for a simulated device, Enter to configure, a new device name and LAN address typed, OK, Yes
# to the warning; the device comes back at its new address and `qorvexal-cli read` shows the values.
# File, Save configuration as on a device writes the comment typed in the comment dialog (read back
# with `qorvexal-cli header`), and Cancel there writes no file.
# The test runs in a private network namespace (with a Wine prefix and server of its own).
#   windows_configure_test.sh <wine-run> <qorvexal.exe> <morvaksim> <qorvexal-cli> <data directory> <work directory>
# Exits 77 (skipped) without a display or without the native simulator and command-line tool.
wine_run=$1
exe=$2
sim=$3
cli=$4
data=$5
work=$6
. "$(dirname "$0")/windows_preamble.sh"
[ -x "$sim" ] && [ -x "$cli" ] || { echo "no native morvaksim or qorvexal-cli: skipped"; exit 77; }
wine_begin "$work/wineprefix" "$@"

# Four simulated devices: three configured together, the fourth added with the keyboard.
sim_start_loopback "$work/sim.log" "$sim" --count 4 --restart-ms 300 --verbose \
  || { fail "morvaksim did not start"; exit 1; }
fourth=$net.4
moved=$net.177

app=$work/app
mkdir -p "$app"
cp "$exe" "$app/qorvexal.exe"
cp "$data"/*.dsc "$app/"
ini=$app/qorvexal.ini
printf '%s\r\n' "[Options]" "SearchAtStartup=0" "DontAskForExit=1" "EasyConfig=0" \
  "[DeviceList]" "Count=3" "1_Name=MORVAK-0001" "1_Description=" "1_Parameters=0;;IP;$net.1:$port;2;" \
  "2_Name=MORVAK-0002" "2_Description=" "2_Parameters=0;;IP;$net.2:$port;2;" \
  "3_Name=MORVAK-0003" "3_Description=" "3_Parameters=0;;IP;$net.3:$port;2;" >"$ini"

start_app() {
  app_start "$work/app.log" "$app/qorvexal.exe" "$@"
  ctl idle || fail "not idle after start"
}

stop_app() {
  ctl_wait_title Velquin || fail "main window at the end"
  app_stop
}

# The id of the control after the label $1, and that control's text.
after_label() {
  ctl controls | awk -F '\t' -v l="$1" 'found && $3 != "static" { print $1; exit } $5 == l { found = 1 }'
}
text_of() {
  ctl controls | awk -F '\t' -v id="$1" '$1 == id { print $5; exit }'
}

# A value of a device's configuration as the device holds it now.
device_value() {
  "$cli" read --dir "$app" "$1:$port" "$work/read.txt" >/dev/null 2>&1 || { echo "(no answer)"; return; }
  tr -d '\r' <"$work/read.txt" | sed -n "s|^ *$2 = ||p"
}

# Types an address into the focused address control as a user does: each field's old text selected
# and typed over; a field of fewer than three digits is left with ".", a full one moves on by itself.
type_address() {
  local octet
  local -a octets
  IFS=. read -r -a octets <<<"$1"
  for octet in "${octets[@]}"; do
    xdotool key --delay 50 Home shift+End
    xdotool type --delay 60 "$octet"
    [ ${#octet} -lt 3 ] && xdotool key --delay 50 period
  done
}

row() { # the list's row of device $1
  ctl list | awk -F '\t' -v n="$1" '$1 == n'
}

# Waits (a bounded number of tries) until device $1's row matches $2: X input reaches the program on
# its own time, so the job it starts may not have begun when the channel is asked.
wait_row() {
  for _ in $(seq 1 150); do
    ctl idle >/dev/null 2>&1 && row "$1" | grep -q "$2" && return 0
    sleep 0.2
  done
  return 1
}

start_app

# ---- three devices together: names and addresses differ, the netmask is common
ctl select MORVAK-0001 MORVAK-0002 MORVAK-0003 && ctl command 1304 || fail "Configure three devices"
ctl_wait_title "Configuration of 3 devices" || { fail "no sheet for three devices"; exit 1; }
name=$(after_label "Device name")
[ -n "$name" ] || fail "no device name field: $(ctl controls)"
[ -z "$(text_of "$name")" ] || fail "differing names shown as: $(text_of "$name")"
shot together-system
ctl pick 12320 "Local network" || fail "LAN page"
addr=$(after_label "IP address")
mask=$(after_label "Netmask")
[ "$(text_of "$mask")" = 255.0.0.0 ] || fail "common netmask shown as: '$(text_of "$mask")'"
# (an address control without a value reads 0.0.0.0)
[ -z "$(text_of "$addr" | tr -d .0)" ] || fail "differing addresses shown as: $(text_of "$addr")"
shot together-lan
ctl set "$mask" 255.255.0.0 || fail "netmask"
ctl pick 12320 System
ctl set "$name" SAME || fail "device name"
ctl press 1
# The name differs between the devices: No keeps every device's own name.
ctl_wait_title Warning || fail "no question for the differing name"
ctl controls | grep -qF "The selected devices have different settings for the 'Device name' parameter." \
  || fail "differ question text: $(ctl controls)"
shot together-differ
ctl press 7
ctl_wait_title Warning || fail "no upload warning"
ctl controls | grep -qF "Sending a new configuration to the device will force it to reboot." \
  || fail "upload warning text: $(ctl controls)"
ctl press 6
ctl idle || fail "not idle after the write"
for n in 1 2 3; do
  row MORVAK-000$n | grep -q $'\tOk\t' || fail "MORVAK-000$n after the write: $(row MORVAK-000$n)"
  [ "$(device_value "$net.$n" /ip/netmask)" = 255.255.0.0 ] || fail "MORVAK-000$n: netmask not written"
  [ "$(device_value "$net.$n" /sys/name)" = MORVAK-000$n ] || fail "MORVAK-000$n lost its own name"
done

# ---- the Date and time page shows the device's clock (not the computer's), running on; left alone it
# is not written into the configuration (the device keeps its clock apart from it)
"$cli" time --dir "$app" --at 05060704032031 "$net.1:$port" >"$work/time.txt" 2>&1 \
  || fail "setting the device clock: $(cat "$work/time.txt")"
ctl select MORVAK-0001 && ctl command 1308 && ctl idle || fail "Check MORVAK-0001"
ctl command 1304 || fail "Configure MORVAK-0001"
if ctl_wait_title "Configuration of MORVAK-0001"; then
  ctl pick 12320 "Date and time" || fail "Date and time page"
  clock=$(after_label "Device clock")
  shown=$(ctl picker "$clock")
  echo "device clock shown: $shown"
  [[ $shown == "4.3.2031 05:0"[6-9]:* ]] || fail "the page shows $shown, not the device's clock (4.3.2031 05:06:07)"
  shot clock
  # The shown clock runs on once a second (within a bounded wait).
  end=$((SECONDS + $(ctl_bound 10)))
  while [ "$(ctl picker "$clock")" = "$shown" ] && [ $SECONDS -lt $end ]; do sleep 0.3; done
  [ "$(ctl picker "$clock")" != "$shown" ] || fail "the device clock stands still at $shown"
  ctl set "$(after_label "Time server")" 10.0.0.5 || fail "time server"
  ctl press 1
  ctl_wait_title Warning && ctl press 6 || fail "no upload warning for the time server"
  ctl idle || fail "not idle after writing the time server"
  [ "$(device_value "$net.1" /time/server)" = 10.0.0.5 ] || fail "time server not written"
  [ -z "$(device_value "$net.1" /time/clock)" ] || fail "the running clock was written: $(device_value "$net.1" /time/clock)"
else
  fail "no sheet for MORVAK-0001: $(ctl windows)"
fi

# ---- File, Save configuration as: the file dialog, then the comment dialog offering "Configuration of
# '<name>' from <date>"; the comment typed there is the file's; Cancel on it writes nothing
saved=$work/saved.lcf
rm -f "$saved" "$work/cancelled.lcf"
ctl select MORVAK-0002 && ctl command 1314 || fail "Save configuration of MORVAK-0002"
ctl_wait_title "Save Configuration of MORVAK-0002 To" || fail "no file dialog for the save"
ctl_file_dialog "Save Configuration of MORVAK-0002 To" "$saved" || fail "file name"
ctl_wait_title Comment || fail "no comment dialog after the file dialog"
offered=$(text_of 100)
[[ $offered == "Configuration of 'MORVAK-0002' from "*"$(date +%Y)"* ]] || fail "comment offered: '$offered'"
shot save-comment
ctl set 100 "Before the move, typed" && ctl press 1 || fail "comment"
ctl idle || fail "not idle after the save"
"$cli" header "$saved" >"$work/header.txt" 2>&1 || fail "saved file has no header: $(cat "$work/header.txt")"
grep -qx "comment: Before the move, typed" "$work/header.txt" || fail "comment not written: $(cat "$work/header.txt")"
grep -qx "device type: Morvak 1100" "$work/header.txt" || fail "device type: $(cat "$work/header.txt")"
ctl command 1314 || fail "Save configuration again"
ctl_wait_title "Save Configuration of MORVAK-0002 To" || fail "no file dialog for the second save"
ctl_file_dialog "Save Configuration of MORVAK-0002 To" "$work/cancelled.lcf" || fail "file name"
ctl_wait_title Comment || fail "no comment dialog the second time"
ctl press 2
ctl_wait_title Velquin || fail "main window after Cancel"
ctl idle || fail "not idle after Cancel"
[ -e "$work/cancelled.lcf" ] && fail "Cancel on the comment dialog wrote a file"

# ---- the keyed flow: Ins, the device dialog, Enter, the sheet, OK, Yes
window=$(xdotool search --name '^Velquin$' 2>/dev/null | head -n 1)
[ -n "$window" ] || { fail "no X window of the program"; exit 1; }
xdotool windowactivate --sync "$window" 2>/dev/null || xdotool windowfocus --sync "$window"
xdotool key --window "$window" Insert
ctl_wait_title Device || fail "Ins opened no device dialog"
# Typing starts in the address field; Tab goes past the time-out to the name.
xdotool type --delay 30 "$fourth:$port"
xdotool key --delay 50 Tab Tab
xdotool type --delay 30 "fourth"
xdotool key Return
wait_row MORVAK-0004 $'\tOk\t'"$fourth:$port" || fail "fourth device not Ok: $(ctl list)"
# The new device is the selected one: Enter configures it.
xdotool key Return
ctl_wait_title "Configuration of MORVAK-0004" || { fail "Enter opened no sheet"; ctl windows; exit 1; }
# The first page opens on the device name; Shift+Tab goes to the tabs, Right turns to the LAN page,
# Tab reaches its first field, the address.
xdotool type --delay 30 "KEYED-7"
xdotool key --delay 80 shift+Tab Right Tab
type_address "$moved"
shot keyed-lan
xdotool key Return
ctl_wait_title Warning || fail "no upload warning after OK"
xdotool key Return
wait_row KEYED-7 $'\tOk\t'"$moved:$port" || fail "device not back at its new address: $(ctl list)"
[ "$(device_value "$moved" /sys/name)" = KEYED-7 ] || fail "name not read back from $moved"
[ "$(device_value "$moved" /ip/address)" = "$moved" ] || fail "address not read back from $moved"
shot keyed-done
stop_app
grep -q "terminate called" "$work/app.log" && fail "the program aborted at its end: $(tail -n 3 "$work/app.log")"
grep -q "$moved:$port" "$ini" || fail "new address not saved in the device list: $(cat "$ini")"

if [ $failures -gt 0 ]; then
  echo "$failures failure(s)"
  exit 1
fi
echo "all passed; screenshots in $work"
