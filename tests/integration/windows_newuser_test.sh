#!/bin/bash
# qorvexal.exe as a new user meets it, under Wine and Xvfb through its test control channel against
# morvaksim on loopback: the first start without a stored placement (a window of useful size, details
# columns as wide as their texts), an answering and a silent device told apart by their state icons,
# the new-device dialog taking typed text in its address field with the note beside the name and its
# fields taking no more than the entry holds, F2 taking no longer a name than a device name holds, the
# question before a configuration in the simplified mode (a question icon, No opens nothing, Yes with
# its box ticked opens the sheet and is not asked again), the sheet's own buttons and the new-device
# dialog in French and German, and the set-up wizard's last page: the watermark band without a gap
# (watermark.sh), Enter pressing Finish.
# Screenshots of each step are kept in the work directory.
#   windows_newuser_test.sh <wine-run> <qorvexal.exe> <morvaksim> <data directory> <work directory>
# Exits 77 (skipped) without a display or without the native simulator.
wine_run=$1
exe=$2
sim=$3
data=$4
work=$5
. "$(dirname "$0")/windows_preamble.sh"
[ -x "$sim" ] || { echo "no native morvaksim at $sim: skipped"; exit 77; }
wine_begin shared "$@"
. "$(dirname "$0")/watermark.sh"

sim_start_loopback "$work/sim.log" "$sim" --type "Morvak 1100" --firmware 3.22.0005 \
  || { fail "morvaksim did not start"; exit 1; }
silent=${base%.1}.9
app=$work/app
mkdir -p "$app"
cp "$exe" "$app/qorvexal.exe"
cp "$data"/*.dsc "$data"/*.wiz "$app/"
# No placement and no column widths: what a first start finds.
printf '%s\r\n' "[Options]" "SearchAtStartup=0" "DontAskForExit=1" "DontAskForUploadConfig=1" \
  "[DeviceList]" "Count=2" "1_Name=MORVAK-0001" "1_Description=" "1_Parameters=0;;IP;$base:$port;2;" \
  "2_Name=silent" "2_Description=" "2_Parameters=0;;IP;$silent:$port;1;" >"$app/qorvexal.ini"

app_start "$work/app.log" "$app/qorvexal.exe"
ctl_wait_title Velquin || { fail "no main window"; exit 1; }
ctl idle # the check of the list at start-up: the device commands are disabled while it runs
ctl command 1309 || fail "Check all"
ctl idle
ctl_wait_title Velquin || { ctl press 1; ctl idle; } # the silent device's error, when shown
ctl list | grep -q $'^MORVAK-0001\tOk\t' || fail "MORVAK-0001 not Ok: $(ctl list)"
ctl list | grep -q $'^silent\tNo response\t' || fail "silent device: $(ctl list)"

# ---- first start: the window's size and the columns
window=$(xdotool search --name '^Velquin$' 2>/dev/null | head -n 1)
eval "$(xdotool getwindowgeometry --shell "$window" 2>/dev/null)"
echo "main window ${WIDTH}x${HEIGHT}"
[ "${WIDTH:-0}" -ge 640 ] && [ "${HEIGHT:-0}" -ge 480 ] || fail "first start: a window of ${WIDTH}x${HEIGHT}"
while IFS=$'\t' read -r header width needed; do
  [ "$width" -ge "$needed" ] || fail "column $header is $width wide, its texts need $needed"
done < <(ctl columns)
shot first-start

# ---- state icons: an answering and a silent device differ at a glance (more than a few pixels)
import -window root "$work/root.png"
icon() {
  local at
  at=$(ctl locate icon "$1") || return 1
  convert "$work/root.png" -crop "16x16+$((${at% *} - 8))+$((${at#* } - 8))" +repage "$work/icon-$1.png"
}
if icon MORVAK-0001 && icon silent; then
  differ=$(compare -metric AE "$work/icon-MORVAK-0001.png" "$work/icon-silent.png" null: 2>&1)
  echo "state icons differ in $differ pixels"
  [ "${differ%% *}" -gt 24 ] 2>/dev/null || fail "the state icons differ in $differ pixels only"
else
  fail "icons not located"
fi

# ---- the new-device dialog: typing goes to the address field; the note beside the name
xdotool windowactivate --sync "$window" 2>/dev/null || xdotool windowfocus --sync "$window"
ctl command 1306 || fail "New device"
if ctl_wait_title Device; then
  dialog=$(xdotool search --name '^Device$' 2>/dev/null | head -n 1)
  [ -n "$dialog" ] && { xdotool windowactivate --sync "$dialog" 2>/dev/null || xdotool windowfocus --sync "$dialog"; }
  xdotool type --delay 30 "10.1.2.3"
  controls=$(ctl controls)
  grep -q $'^3104\tComboBox\tcombo\te\t10.1.2.3$' <<<"$controls" || fail "typed address not in its field: $controls"
  grep -q $'^3105\t.*\t10.1.2.3$' <<<"$controls" && fail "typed address went to the time-out"
  grep -q "A check replaces this name" <<<"$controls" || fail "no note beside the name"
  shot new-device
  # Every field takes no more than its entry holds (name 63, description 255, password 63; dial-up:
  # phone-book entry 65, number 63; serial: port 15): more was cut when kept, without a word.
  limits() {
    local pair got
    for pair in "$@"; do
      got=$(ctl limit "${pair%:*}")
      [ "$got" = "${pair#*:}" ] || fail "new-device field ${pair%:*} takes $got characters, its entry ${pair#*:}"
    done
  }
  limits 3109:63 3110:255 3111:63
  ctl check 3103 1 && limits 3107:65 3108:63 || fail "Dial-up"
  ctl check 3102 1 && limits 3106:15 || fail "Serial port"
  ctl press 2
else
  fail "Ins opened no dialog"
fi
ctl_wait_title Velquin || fail "main window after the dialog"

# ---- F2 on a device: the name field takes no more than a device name holds (63 characters); a
# longer name typed there was cut when kept, without a word
xdotool windowactivate --sync "$window" 2>/dev/null || xdotool windowfocus --sync "$window"
ctl select MORVAK-0001 && ctl command 40033 || fail "Rename"
limit=$(ctl limit focus) # the list's label edit has the focus while it edits
echo "the rename field takes $limit characters"
[ "$limit" = 63 ] || fail "the rename field takes $limit characters, a device name holds 63"
xdotool type --delay 5 "$(printf 'n%.0s' $(seq 1 70))"
shot rename
xdotool key Escape
ctl idle
ctl list | grep -q $'^MORVAK-0001\t' || fail "Escape renamed the device: $(ctl list)"

# ---- Configure in the simplified mode: a question; No opens nothing
ctl select MORVAK-0001 && ctl command 1304 || fail "Configure"
if ctl_wait_title "Simplified configuration"; then
  controls=$(ctl controls)
  grep -q "Do you want to open the configuration in the simplified mode?" <<<"$controls" \
    || fail "the question's text: $controls"
  shot simplified-question
  ctl press 7 # No
  ctl idle
  ctl_wait_title Velquin || fail "No opened something: $(ctl windows)"
  ctl list | grep -q $'^MORVAK-0001\tOk\t' || fail "after No: $(ctl list)"
  # Yes with the box ticked: the sheet; the next Configure asks nothing.
  ctl command 1304 || fail "Configure again"
  ctl_wait_title "Simplified configuration" || fail "no question the second time"
  ctl check 3153 1 || fail "the box of the question"
  ctl press 6 # Yes
  if ctl_wait_title "Configuration of MORVAK-0001"; then
    shot sheet-simplified
    ctl press 2
  else
    fail "Yes opened no sheet"
  fi
  ctl idle
  ctl command 1304 || fail "Configure a third time"
  ctl_wait_title "Configuration of MORVAK-0001" || fail "asked again after the box was ticked: $(ctl windows)"
  ctl press 2
  ctl idle
else
  fail "no question before the simplified configuration: $(ctl windows)"
fi
app_stop
grep -q "^DontWarnAboutEasyConfig=1" "$app/qorvexal.ini" || fail "the ticked box not stored"

# ---- German and French: the full sheet's own buttons in the program's language (its tabs in one row
# and no label cut: see the screenshots)
sed -i 's/^\[Options\]\r$/[Options]\r\nEasyConfig=0\r/' "$app/qorvexal.ini"
app_start "$work/app-fr.log" "$app/qorvexal.exe" /lang:fre
ctl_wait_title Velquin || fail "no French main window"
ctl idle
ctl select MORVAK-0001 && ctl command 1304 || fail "French Configure"
if ctl_wait_title "Configuration de MORVAK-0001"; then
  ctl controls | grep -q $'^2\tButton\tbutton\te\tAnnuler$' || fail "French sheet's Cancel: $(ctl controls)"
  shot sheet-fr
  ctl press 2
else
  fail "no French sheet: $(ctl windows)"
fi
ctl idle
# The French new-device dialog speaks French (its resources were English).
ctl command 1306 || fail "French New device"
if ctl_wait_title Appareil; then
  controls=$(ctl controls)
  LC_ALL=C grep -q "Une v.rification remplace ce nom" <<<"$controls" || fail "French dialog's note: $controls"
  grep -q $'^2\tButton\tbutton\te\tAnnuler$' <<<"$controls" || fail "French dialog's Cancel: $controls"
  grep -q "Connection\|Address:\|Password:" <<<"$controls" && fail "English left in the French dialog: $controls"
  shot new-device-fr
  ctl press 2
else
  fail "no French new-device dialog: $(ctl windows)"
fi
ctl idle
app_stop
app_start "$work/app-de.log" "$app/qorvexal.exe" /lang:ger
ctl_wait_title Velquin || fail "no German main window"
ctl idle
ctl select MORVAK-0001 && ctl command 1304 || fail "German Configure"
if ctl_wait_title "Konfiguration von MORVAK-0001"; then
  controls=$(ctl controls)
  grep -q $'^2\tButton\tbutton\te\tAbbrechen$' <<<"$controls" || fail "German sheet's Cancel: $controls"
  shot sheet-de
  ctl pick 12320 "Lokales Netz" || fail "German LAN page"
  shot sheet-de-lan
  ctl press 2
else
  fail "no German sheet"
fi
ctl idle
ctl command 1306 || fail "German New device"
if ctl_wait_title $'Ger\xe4t'; then
  controls=$(ctl controls)
  LC_ALL=C grep -q "Eine Pr.fung ersetzt diesen Namen" <<<"$controls" || fail "German dialog's note: $controls"
  grep -q $'^2\tButton\tbutton\te\tAbbrechen$' <<<"$controls" || fail "German dialog's Cancel: $controls"
  shot new-device-de
  ctl press 2
else
  fail "no German new-device dialog: $(ctl windows)"
fi
ctl idle
app_stop

# ---- the set-up wizard's last page: the watermark fills its band, Enter presses Finish
app_start "$work/app-wiz.log" "$app/qorvexal.exe"
ctl_wait_title Velquin || fail "main window for the wizard"
ctl idle
ctl select MORVAK-0001 && ctl command 1349 || fail "Setup wizard"
if ctl_wait_title "Setup Wizard for MORVAK-0001"; then
  shot wizard-first
  ctl pick 3019 "Local network" || fail "choosing the wizard"
  # On to the last page: Next (12324) until Finish (12325) shows. A press is posted to the sheet: each
  # waits for the page it leads to before the next one.
  page_left() { [ "$(ctl controls)" != "$1" ]; }
  for _ in $(seq 1 12); do
    page=$(ctl controls)
    grep -q $'^12325\tButton\tbutton\te' <<<"$page" && break
    ctl press 12324 || break
    ctl_until 60 "the page after Next" page_left "$page" || break
  done
  if ctl controls | grep -q $'^12325\tButton\tbutton\te'; then
    shot wizard-last
    # The band: rows across the page from the left edge, in the sheet's window on the screen.
    wiz=$(xdotool search --name '^Setup Wizard for MORVAK-0001$' 2>/dev/null | head -n 1)
    eval "$(xdotool getwindowgeometry --shell "$wiz" 2>/dev/null)"
    import -window root "$work/wizard-root.png"
    watermark_band "$work/wizard-root.png" "$X" "$Y" "$WIDTH" "$HEIGHT" >"$work/wizard-band.txt" \
      || fail "the watermark does not fill its band: $(cat "$work/wizard-band.txt")"
    cat "$work/wizard-band.txt"
    xdotool windowactivate --sync "$wiz" 2>/dev/null || xdotool windowfocus --sync "$wiz"
    xdotool key Return
    ctl idle
    ctl_wait_title Velquin || fail "Enter did not finish the wizard: $(ctl windows)"
  else
    fail "the wizard reached no last page"
    ctl press 2
  fi
else
  fail "no set-up wizard: $(ctl windows)"
fi
ctl idle
app_stop

if [ $failures -gt 0 ]; then
  echo "$failures failure(s)"
  exit 1
fi
echo "all passed; screenshots in $work"
