#!/bin/bash
# The print preview under Wine and Xvfb: a PostScript printer that prints to a file is installed in a
# private prefix (windows_addprinter.exe with a minimal A4 PPD file), a simulated Morvak 5000 with
# firmware 3.22 (the fullest shipped description) is printed with File, Print; "Preview" in the print
# dialog opens the preview window on the printer's page, whose first and second pages are shot, "Close"
# goes back to the print dialog and Cancel there prints nothing and leaves the device "Ok".
# The test runs in a private network namespace (with a Wine prefix and server of its own).
#   windows_printpreview_test.sh <wine-run> <qorvexal.exe> <windows_addprinter.exe> <morvaksim> <data directory>
#                                <work directory>
# Exits 77 (skipped) without a display or without the native simulator.
wine_run=$1
exe=$2
addprinter=$3
sim=$4
data=$5
work=$6
. "$(dirname "$0")/windows_preamble.sh"
[ -x "$sim" ] || { echo "no native morvaksim at $sim: skipped"; exit 77; }
wine_begin "$work/wineprefix" "$@"

cp "$(dirname "$0")/data/preview.ppd" "$work/preview.ppd"
"$wine" "$addprinter" "$(winepath -w "$work/preview.ppd")" >"$work/addprinter.log" 2>&1 </dev/null
grep -q "^printer: Preview Printer [0-9]*x[0-9]*" "$work/addprinter.log" \
  || { fail "no printer installed: $(cat "$work/addprinter.log")"; exit 1; }

sim_start_loopback "$work/sim.log" "$sim" --type "Morvak 5000" --firmware 3.22.0005 \
  || { fail "morvaksim did not start"; exit 1; }
app=$work/app
mkdir -p "$app"
cp "$exe" "$app/qorvexal.exe"
cp "$data"/*.dsc "$app/"
printf '%s\r\n' "[Options]" "SearchAtStartup=0" "DontAskForExit=1" "EasyConfig=0" \
  "[DeviceList]" "Count=1" "1_Name=MORVAK-0001" "1_Description=" "1_Parameters=0;;IP;$base:$port;2;" \
  >"$app/qorvexal.ini"

app_start "$work/app.log" "$app/qorvexal.exe"
ctl_wait_title Velquin || fail "no main window"
# File, Print is enabled once the program is idle with the device selected (it was found disabled once
# right after the start on a busy machine): wait for that within a bound, saying what was seen.
ctl select MORVAK-0001 && ctl_until 30 "File, Print enabled with MORVAK-0001 selected" ctl command 1312 \
  || { fail "File, Print"; ctl list; }
ctl_wait_title Print || { fail "no print dialog"; ctl windows; exit 1; }
ctl controls | grep -q "Hide passwords in printout" || fail "no hide-passwords box in the print dialog"
ctl press 2169 || fail "Preview"
preview="Print preview - Configuration of MORVAK-0001"
ctl_wait_title "$preview" || { fail "no preview window"; ctl windows; exit 1; }
# The page is drawn once the window paints: shot again (bounded) until the white paper shows.
light() {
  local mean
  mean=$(convert "$1" -colorspace Gray -format "%[fx:mean]" info: 2>/dev/null)
  awk "BEGIN { exit !(\"$mean\" + 0 > 0.5) }"
}
for _ in $(seq 1 20); do
  shot preview-page1
  light "$work/preview-page1.png" && break
  sleep 0.25
done
light "$work/preview-page1.png" || fail "the preview shows no page"
ctl press 103 || fail "Next page"
shot preview-page2
ctl press 104 || fail "Close"
ctl_wait_title Print || fail "the print dialog after Close"
ctl press 2
ctl_wait_title Velquin || fail "main window after Cancel"
ctl idle || fail "not idle after printing"
ctl list | awk -F '\t' '$1 == "MORVAK-0001"' | grep -q $'\tOk\t' || fail "device after File, Print: $(ctl list)"
app_stop

if [ $failures -gt 0 ]; then
  echo "$failures failure(s)"
  exit 1
fi
echo "all passed; screenshots in $work"
