#!/bin/bash
# qorvexal.exe's main window under Wine and Xvfb, driven through its test control channel, against
# morvaksim on loopback: folders from the device list's sections, check all with one silent device,
# moving a device to another folder, delete with its confirmation and "Don't show" box, the Options
# dialog's keys, the device dialog and its address list, a loopback search and its merge, set date and
# time, the view styles, a real key press flow (xdotool), and placement and window keys saved.
# Screenshots of the window, the dialogs and the progress window (English and German) are kept in the
# work directory.
# The test runs in a private network namespace (with a Wine prefix and server of its own): no search
# can reach the machine's network, and the loopback network is the test's alone.
#   windows_mainwin_test.sh <wine-run> <qorvexal.exe> <morvaksim> <work directory> <stand-in program>
# Exits 77 (skipped) without a display or without the native simulator.
wine_run=$1
exe=$2
sim=$3
work=$4
standin=$5
. "$(dirname "$0")/windows_preamble.sh"
[ -x "$sim" ] || { echo "no native morvaksim at $sim: skipped"; exit 77; }
wine_begin "$work/wineprefix" "$@"

# One simulated device on a loopback address and a free port.
sim_start_loopback "$work/sim.log" "$sim" --count 2 --search --solvane || { fail "morvaksim did not start"; exit 1; }
second=${base%.1}.2
silent=${base%.1}.9

app=$work/app
mkdir -p "$app"
cp "$exe" "$app/qorvexal.exe"
# "Monitor device" starts this stand-in, which writes down its command line.
cp "$standin" "$app/talvine.exe"
mkdir -p "$app/Firmware"
"$sim" make-upx "Morvak_1100[_Plus;]" 9.90 31122099 "$app/Firmware/new.upx" >/dev/null || fail "make-upx"
ini=$app/qorvexal.ini
printf '%s\r\n' "[Options]" "SearchAtStartup=0" "SearchPort=$port" "UPXPath=$(winepath -w "$app/Firmware")" \
  "[DeviceList]" "Count=2" "1_Name=MORVAK-0001" "1_Description=Head office" "1_Parameters=0;;IP;$base:$port;2;" \
  "2_Name=silent" "2_Description=" "2_Parameters=0;;IP;$silent:$port;1;" \
  "[devicelist/Customers/Branch]" "Count=1" "1_Name=branch1" "1_Description=" "1_Parameters=0;;IP;$base:$port;2;" \
  "[DeviceList/Customers]" "Count=0" >"$ini"

start_app() {
  app_start "$work/app.log" "$app/qorvexal.exe" "$@"
  ctl idle || fail "not idle after start"
}

row() { # the list's row of device $1
  ctl list | awk -F '\t' -v n="$1" '$1 == n'
}

stop_app() { app_stop; }
start_app
shot main-en

# Folders: the lower-case section loads into the folder of the same name.
ctl folder Customers/Branch || fail "no folder Customers/Branch"
[ "$(ctl list | cut -f 1)" = branch1 ] || fail "branch folder: $(ctl list)"
ctl folder / || fail "root folder"

# Check all: the simulated device "Ok" (with what it reports), the silent one "No response".
ctl command 1309 || fail "check all"
ctl idle || fail "not idle after check all"
# The benchmark's counters: "timing reset" is answered with one line and taken at once (a client that
# waited for the end of a longer answer sat a minute before every round).
SECONDS=0
ctl timing reset || fail "timing reset"
[ "$SECONDS" -lt 20 ] || fail "timing reset took $SECONDS s"
ctl timing | grep -Eq '^updates[[:space:]]+0$' || fail "timing after reset: $(ctl timing)"
row MORVAK-0001 | grep -q $'\tOk\t'"$base:$port"$'\tMorvak 1100\t3.10.0012' || fail "device after check all: $(ctl list)"
row silent | grep -q $'\tNo response\t' || fail "silent after check all: $(ctl list)"
shot check-all

# A device moved to another folder: the list is saved at once.
ctl select silent && ctl move Customers || fail "move silent"
row silent | grep -q . && fail "silent still in the root folder"
awk '/^\[DeviceList\/Customers\]/ { s = 1; next } /^\[/ { s = 0 } s' "$ini" | grep -q '_Name=silent' \
  || fail "moved device not saved in its folder: $(cat "$ini")"

# Delete asks first; a ticked "Don't show" box writes its key.
ctl folder Customers && ctl select silent && ctl command 1310 || fail "delete"
ctl_wait_title Warning || fail "no delete question"
ctl controls | grep -q "Are you sure you want to delete 'silent'?" || fail "delete text: $(ctl controls)"
shot ask-delete
ctl check 3153 1 && ctl press 6 || fail "answer the delete question"
ctl idle
ctl list | grep -q silent && fail "silent not deleted"
grep -q '^DontAskForDeviceDelete=1' "$ini" || fail "DontAskForDeviceDelete not written"

# Options: five boxes that ask (checked while the key is 0), the EasyConfig pair.
ctl menu "Tools|Options" || fail "Tools|Options"
ctl_wait_title Options || fail "no Options dialog"
opts=$(ctl controls)
printf '%s\n' "$opts" | grep -q $'^3132\tButton\tcheckbox\te\t' || fail "delete box checked: $opts"
printf '%s\n' "$opts" | grep -q $'^3131\tButton\tcheckbox\tec\t' || fail "exit box not checked: $opts"
shot options
ctl check 3131 0 && ctl check 3137 1 && ctl press 1 || fail "Options OK"
ctl idle
grep -q '^DontAskForExit=1' "$ini" || fail "DontAskForExit not written"
grep -q '^EasyConfig=0' "$ini" || fail "EasyConfig not written"
grep -q '^DontAskForUploadFirmware=0' "$ini" || fail "DontAskForUploadFirmware not written"

# The device dialog: a new device is checked at once; its address joins the address list.
ctl folder / && ctl command 1306 || fail "new device"
ctl_wait_title Device || fail "no device dialog"
ctl set 3104 "$second:$port" && ctl set 3109 added && ctl set 3110 "typed in" || fail "device dialog input"
shot device
ctl press 1
ctl idle
# The check takes over the name the device reports.
row MORVAK-0002 | grep -q $'\tOk\t.*\ttyped in$' || fail "new device not Ok: $(ctl list)"
grep -q "^MorvakAddressMRU=$second:$port;" "$ini" || fail "address list not saved"
ctl command 1306 && ctl_wait_title Device || fail "device dialog again"
ctl controls | grep -q $'^\t'"$second:$port\$" || fail "address list not offered: $(ctl controls)"
ctl press 2

# A search of the loopback network finds the known device again: no new devices.
ctl menu "Device|Find devices" || fail "Device|Find devices"
ctl_wait_title "Find Devices" || fail "no search dialog"
ctl check 3121 0 && ctl check 3122 0 && ctl check 3123 1 && ctl set 3124 127.0.0.0 && ctl set 3125 255.0.0.0 \
  || fail "search dialog input"
shot search
ctl press 1
ctl idle
ctl_wait_title Velquin
ctl controls | grep -q "No new devices found during search." || fail "no 'no new devices' message: $(ctl controls)"
ctl press 1
grep -q '^SearchFlags=0;0;1' "$ini" || fail "SearchFlags not saved"

# Two devices in shipping state answer with one address: the conflict box with the devices in its
# details; neither joins the list. They answer on the search's port, which one fleet holds at a time:
# the first fleet makes way for them meanwhile.
base2=127.$((RANDOM % 200 + 20)).$((RANDOM % 250 + 1)).1
shipping_fleet() {
  kill "$sim_pid" && wait "$sim_pid" 2>/dev/null
  sim_start "$work/sim2.log" "$sim" --port "$port" --count 2 --search --shipping 2 "$base2" \
    || fail "shipping fleet did not start: $(cat "$work/sim2.log")"
}
first_fleet() {
  kill "$sim_pid" && wait "$sim_pid" 2>/dev/null
  sim_start "$work/sim.log" "$sim" --port "$port" --count 2 --search --solvane "$base" \
    || fail "first fleet did not start again: $(cat "$work/sim.log")"
}
# The search of the loopback network from the open search dialog, up to the conflict box ($1 its title).
conflict_search() {
  ctl check 3121 0 && ctl check 3122 0 && ctl check 3123 1 && ctl set 3124 127.0.0.0 && ctl set 3125 255.0.0.0 \
    && ctl press 1 || fail "search for the conflict"
  ctl idle
  ctl_wait_title "$1" || fail "no conflict box ($1)"
}
shipping_fleet
ctl menu "Device|Find devices" && ctl_wait_title "Find Devices" || fail "search dialog again"
conflict_search Warning
ctl controls | grep -q "Several devices with the same IP address were found" || fail "conflict text: $(ctl controls)"
ctl controls | grep -q $'^3174\t' && fail "details shown before >>"
ctl press 3173 || fail "press >>"
details=$(ctl controls | awk -F '\t' '$1 == 3174 { print $5 }')
[ "$(printf '%s' "$details" | grep -o "IP address: $base2\\\\n" | wc -l)" = 2 ] \
  || fail "conflict details: $details"
# The MAC addresses as the list shows them: pairs of hex digits separated by ":".
[ "$(printf '%s' "$details" | grep -oE 'MAC address: ([0-9a-f]{2}:){5}[0-9a-f]{2}\\n' | wc -l)" = 2 ] \
  || fail "MAC addresses in the details: $details"
shot conflict
ctl press 1
ctl idle
ctl list | grep -q "$base2" && fail "a conflicting device joined the list: $(ctl list)"
first_fleet

# Set date and time on the device.
ctl select MORVAK-0001 && ctl command 1350 || fail "set date/time"
ctl_wait_title "Set Date/Time" || fail "no date and time dialog"
shot datetime
ctl press 1
ctl idle
row MORVAK-0001 | grep -q $'\tOk\t' || fail "device after set time: $(ctl list)"

# A firmware upload from the file dialog; the new firmware runs in test mode and stays there (No).
ctl select MORVAK-0001 && ctl menu "Edit|Firmware upload" || fail "Edit|Firmware upload"
ctl_wait_title Warning || fail "no upload warning"
ctl controls | grep -q "Uploading new firmware will force the device to reboot" || fail "upload warning text"
ctl press 6
# Two entries of the list carry the name MORVAK-0001 by now: the title names this one by its address.
ctl_wait_title "Select Firmware for MORVAK-0001 ($base:$port)" || fail "no firmware file dialog"
# It opens in the firmware folder (UPXPath); the file picked in the list shows its header's text below.
# The dialog fills its list and then the text below it as its own messages come: both are waited for.
file_listed() {
  files=$(ctl controls)
  view=$(printf '%s\n' "$files" | awk -F '\t' '$3 == "listview" { print $1; exit }')
  name=$(printf '%s\n' "$files" | grep -m 1 -o $'^\tnew[^\t]*' | tr -d '\t')
  [ -n "$view" ] && [ -n "$name" ] || { printf '%s\n' "$files"; return 1; }
}
header_shown() {
  header=$(ctl controls | awk -F '\t' '$1 == 3191 { print $5 }')
  printf '%s\n' "$header" | grep -q '9\.90' || { echo "header text '$header'"; return 1; }
}
if ctl_until 60 "the file dialog's list with new.upx" file_listed; then
  ctl pick "$view" "$name" || fail "pick $name"
  ctl_until 60 "the firmware header text of $name (9.90)" header_shown || fail "firmware header text: '$header'"
  echo "firmware header text: $header"
else
  fail "no file list with new.upx"
fi
ctl set 1148 "$(ctl_text "$(winepath -w "$app/Firmware/new.upx")")" || fail "file name"
shot firmware-file
ctl press 1
ctl idle || fail "not idle after the upload"
ctl_wait_title Warning || fail "no test-mode question"
ctl controls | grep -q "running in test mode" || fail "test-mode question text: $(ctl controls)"
ctl press 7
ctl idle
row MORVAK-0001 | grep -q $'\tOk\t.*\t9.90' || fail "firmware after the upload: $(ctl list)"
grep -qiF "UPXPath=$(winepath -w "$app/Firmware")" "$ini" \
  || fail "UPXPath not kept: $(grep UPXPath "$ini")"

# Firmware Management: the device's images, the new one left in test mode among them.
ctl select MORVAK-0001 && ctl command 40040 || fail "Edit|Firmware Management"
ctl_wait_title "Firmware Management" || fail "no firmware management"
[ "$(ctl controls | grep -c $'^\tVer\. ')" -ge 2 ] || fail "firmware images: $(ctl controls)"
ctl controls | grep -q $'^\tVer\. 9.90' || fail "new image not listed: $(ctl controls)"
# The image store: two images, no version with "m": symmetric.
ctl controls | grep -q $'^3602\tStatic\tstatic\te\tsymmetric, 2 image(s)$' || fail "image store: $(ctl controls)"
shot firmware-management
ctl press 2
# The device properties name what the device reported beyond the columns.
ctl select MORVAK-0001 && ctl command 1311 || fail "Edit|Properties"
ctl_wait_title Device || fail "no device properties"
ctl controls | grep -F 'Solvane server' | grep -qF 'symmetric, 2 image(s)' \
  || fail "device information in the properties: $(ctl controls)"
ctl controls | grep -q $'^3600\tStatic\tstatic\te\tDevice information:$' || fail "device information label: $(ctl controls)"
shot device-properties
ctl press 2

# "Monitor device" starts the monitor with the device's address.
ctl select MORVAK-0001 && ctl menu "Device|Monitor device" || fail "Device|Monitor device"
for _ in $(seq 1 100); do
  [ -s "$app/talvine.exe.cmdline" ] && break
  sleep 0.1
done
grep -q "/add:$base:$port:" "$app/talvine.exe.cmdline" 2>/dev/null || fail "monitor command line: $(cat "$app/talvine.exe.cmdline" 2>/dev/null)"

# The four view styles.
for v in 40012:icons 40013:small-icons 40014:list 40015:details; do
  ctl command "${v%%:*}" && shot "view-${v#*:}" || fail "view ${v#*:}"
done
ctl command 40014
# A new folder is saved at once, also when it stays empty and keeps the name offered.
ctl folder / && ctl command 40030 || fail "new folder"
for _ in $(seq 1 100); do
  grep -q '^\[DeviceList/New Folder\]' "$ini" && break
  sleep 0.1
done
grep -q '^\[DeviceList/New Folder\]' "$ini" || fail "empty folder not saved: $(cat "$ini")"
stop_app
grep -q '^ViewStyle=3' "$ini" || fail "ViewStyle not saved"
grep -q '^XSize=' "$ini" || fail "placement not saved"
grep -q '^ListColumns=' "$ini" || fail "ListColumns not saved"

# German: the window and a dialog; the view style and the empty folder come back. A device that does
# not answer, with a time-out long enough to see the progress window while it is checked, in a folder
# of its own.
printf '%s\r\n' "[DeviceList/Slow]" "Count=1" "1_Name=slow" "1_Description=" "1_Parameters=0;;IP;$silent:$port;8;" >>"$ini"
start_app /lang:ger
shot main-de
ctl folder "New Folder" || fail "empty folder lost on restart"
[ -z "$(ctl list)" ] || fail "empty folder not empty: $(ctl list)"
ctl command 40020 || fail "Extras|Optionen"
ctl_wait_title Optionen || fail "no German Options dialog"
shot options-de
ctl press 2
ctl idle
# Every dialog of the window in German.
ctl folder / && ctl select MORVAK-0001 || fail "select MORVAK-0001 (German)"
german_shot() { # title, screenshot name, button that closes it
  ctl_wait_title "$1" || fail "no German dialog $1"
  shot "$2"
  ctl press "$3"
  ctl idle
}
ctl command 1306 && german_shot "$(printf 'Ger\344t')" device-de 2
ctl command 1307 && german_shot "$(printf 'Ger\344te suchen')" search-de 2
ctl command 1350 && german_shot "Datum/Uhrzeit setzen" datetime-de 2
ctl command 40040 && german_shot "Firmware-Verwaltung" firmware-management-de 2
# The upload warning with its "Don't show" box (the question dialog), then the firmware file dialog.
ctl command 1319 && ctl_wait_title Warnung && shot ask-de && ctl press 6 || fail "German upload warning"
german_shot "$(printf 'Firmware f\374r MORVAK-0001 (%s) ausw\344hlen' "$base:$port")" firmware-file-de 2
ctl command 40003 && german_shot "$(printf 'Info \374ber Velquin')" about-de 1
# The search's conflict box with its details.
shipping_fleet
ctl command 1307 && ctl_wait_title "$(printf 'Ger\344te suchen')" || fail "German search dialog"
conflict_search Warnung
ctl press 3173 || fail "press >> (German)"
ctl controls | grep -q $'^3174\t.*'"$base2" || fail "German conflict details: $(ctl controls)"
shot conflict-de
ctl press 1
ctl idle
first_fleet
# The progress window while a command checks the device first (shown beside the active window).
ctl folder Slow && ctl select slow && ctl command 1350 || fail "set date/time on the slow device"
progress=
for _ in $(seq 1 100); do
  progress=$(ctl windows | awk -F '\t' '$2 == "#32770" { print $1; exit }')
  [ -n "$progress" ] && ctl controls "$progress" | grep -q $'\tslow: ' && break
  progress=
  sleep 0.1
done
if [ -n "$progress" ]; then
  ctl controls "$progress" | grep -q $'\tAbbrechen$' || fail "progress window's Cancel: $(ctl controls "$progress")"
  shot progress-de "$progress"
else
  fail "no progress window with the device's status: $(ctl windows)"
fi
ctl idle
ctl_wait_title Fehler || fail "no error after the check of the slow device"
ctl press 1
ctl idle

# Real key input: Ins opens the device dialog, typed text, Enter, F5 checks all.
window=$(xdotool search --name '^Velquin$' 2>/dev/null | head -n 1)
if [ -n "$window" ]; then
  ctl folder / && ctl select MORVAK-0001
  xdotool windowactivate --sync "$window" 2>/dev/null || xdotool windowfocus --sync "$window"
  xdotool key --window "$window" Insert
  ctl_wait_title "$(printf 'Ger\344t')" || fail "Ins opened no dialog"
  # As a user fills it in: typing starts in the address field, Tab goes on past the time-out to the
  # name and the description.
  xdotool type --delay 30 "$base:$port"
  xdotool key --delay 50 Tab Tab
  xdotool type --delay 30 "keyed"
  xdotool key --delay 50 Tab
  xdotool type --delay 30 "keyed flow"
  dialog=$(ctl controls)
  printf '%s\n' "$dialog" | grep -q $'^3109\tEdit\tedit\te\tkeyed$' || fail "typed name not in the dialog: $dialog"
  printf '%s\n' "$dialog" | grep -q $'^3104\tComboBox\tcombo\te\t'"$base:$port"'$' || fail "typed address: $dialog"
  xdotool key Return
  ctl idle
  ctl list | grep -q $'\tOk\t.*\tkeyed flow$' || fail "keyed device not Ok: $(ctl list)"
  xdotool key --window "$window" F5
  ctl idle
  shot keys
  # The device added earlier, dragged with the mouse onto the empty folder, moves there and is saved
  # there (the X input reaches the program on its own time: a bounded wait for the saved list). Wine
  # gives X input its window when the program next looks for messages: input that piled up while the
  # program was busy arrives at once, the release before the drag holds the mouse. So each step waits
  # until the program answers its channel (it has taken the input so far), and a drag that moved
  # nothing is tried again, a bounded number of times (a drag left holding the mouse ends with the
  # next release).
  ctl folder / && ctl select MORVAK-0002 || fail "select MORVAK-0002"
  from=$(ctl locate row MORVAK-0002) && to=$(ctl locate folder '"New Folder"') || fail "locate: $from, $to"
  for _ in 1 2 3; do
    xdotool mousemove --sync ${from% *} ${from#* } mousedown 1
    ctl windows >/dev/null
    xdotool mousemove_relative --sync 10 10 mousemove_relative --sync 10 0
    ctl windows >/dev/null
    xdotool mousemove --sync ${to% *} ${to#* } mousemove_relative --sync 1 0
    ctl windows >/dev/null
    xdotool mouseup 1
    for _ in $(seq 1 50); do
      row MORVAK-0002 | grep -q . || break
      sleep 0.1
    done
    row MORVAK-0002 | grep -q . || break
    echo "the drag moved nothing: again"
  done
  in_folder() { awk '/^\[DeviceList\/New Folder\]/ { s = 1; next } /^\[/ { s = 0 } s' "$ini" | grep -q '_Name=MORVAK-0002'; }
  for _ in $(seq 1 100); do
    in_folder && break
    sleep 0.1
  done
  in_folder || fail "dragged device not saved in its folder: $(cat "$ini")"
  ctl idle
  row MORVAK-0002 | grep -q . && fail "dragged device still in the root folder: $(ctl list)"
  [ "$(ctl list | cut -f 1)" = MORVAK-0001$'\n'MORVAK-0001 ] || fail "root folder after the drag: $(ctl list)"
  ctl folder "New Folder" || fail "folder New Folder"
  [ "$(ctl list | cut -f 1)" = MORVAK-0002 ] || fail "dragged device not alone in the folder: $(ctl list)"
  shot dragged
else
  fail "no X window of the program"
fi
stop_app

if [ $failures -gt 0 ]; then
  echo "$failures failure(s)"
  exit 1
fi
echo "all passed; screenshots in $work"
