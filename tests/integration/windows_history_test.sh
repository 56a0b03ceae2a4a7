#!/bin/bash
# The configuration history in qorvexal.exe under Wine and Xvfb against morvaksim: a device's
# configuration read, changed through the sheet (the upload question lists the change), read again;
# Device, Configuration history shows the versions, compares two (the changed item by section with
# its old and new value, a secret masked until "Show passwords"), saves one as a file (the kept file's
# bytes) and restores one (the question lists what the restore changes; the device gets its old name
# back). The set-up wizard's Finish asks with the list; No writes nothing. File, Export device list writes the CSV `qorvexal-cli list --csv --check` prints. The dialog
# in German at the end.
# The test runs in a private network namespace (with a Wine prefix and server of its own).
#   windows_history_test.sh <wine-run> <qorvexal.exe> <morvaksim> <qorvexal-cli> <data directory> <work directory>
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

sim_start_loopback "$work/sim.log" "$sim" --count 2 --restart-ms 300 \
  || { fail "morvaksim did not start"; exit 1; }

app=$work/app
mkdir -p "$app"
cp "$exe" "$app/qorvexal.exe"
cp "$data"/*.dsc "$data"/*.wiz "$app/"
ini=$app/qorvexal.ini
printf '%s\r\n' "[Options]" "SearchAtStartup=0" "DontAskForExit=1" "EasyConfig=0" \
  "[DeviceList]" "Count=1" "1_Name=MORVAK-0001" "1_Description=first, \"quoted\"" "1_Parameters=0;;IP;$base:$port;2;" \
  "[DeviceList/Branch]" "Count=1" "1_Name=MORVAK-0002" "1_Description=" "1_Parameters=0;;IP;$net.2:$port;2;" >"$ini"

# The id of the control after the label $1; the text of control $1; the entries of control $1.
after_label() {
  ctl controls | awk -F '\t' -v l="$1" 'found && $3 != "static" { print $1; exit } $5 == l { found = 1 }'
}
text_of() {
  ctl controls | awk -F '\t' -v id="$1" '$1 == id { print $5; exit }'
}
entries_of() {
  ctl controls | awk -v id="$1" 'BEGIN { FS = "\t" } in_it && $1 != "" { exit } in_it { print } $1 == id { in_it = 1 }'
}
# The wizard's Finish (12325) enabled, else Next (12324) pressed.
finish_shown() {
  ctl controls | grep -q $'^12325\tButton\tbutton\te' && return 0
  ctl press 12324 >/dev/null 2>&1
  return 1
}
row() { ctl list | awk -F '\t' -v n="$1" '$1 == n'; }
history_dir() { ls -d "$app"/History/*/ 2>/dev/null | head -n 1; }
versions() { ls "$(history_dir)" 2>/dev/null | grep -c '\.lcf$'; }

# Configure device $1; with $2 its new name and $3 its read-only password (OK, then the upload
# question), without them Cancel.
configure() {
  ctl select "$1" && ctl command 1304 || { fail "Configure $1"; return 1; }
  ctl_wait_title "Configuration of $1" || { fail "no sheet for $1"; return 1; }
  if [ -z "$2" ]; then
    ctl press 2
    ctl_wait_title Velquin || fail "main window after Cancel"
    ctl idle
    return 0
  fi
  local name
  name=$(after_label "Device name")
  ctl set "$name" "$2" || fail "device name $2"
  ctl set "$(after_label "Read-only password")" "$3" || fail "read-only password"
  ctl press 1
  # A secret is typed twice: the repetition dialog, titled by the item.
  ctl_wait_title "Access / Read-only password" || { fail "no repetition dialog"; ctl windows; ctl controls; return 1; }
  ctl set 100 "$3" && ctl press 1
  ctl_wait_title Warning || { fail "no upload question"; return 1; }
}

app_start "$work/app.log" "$app/qorvexal.exe"
ctl_wait_title Velquin || { fail "no main window"; exit 1; }
ctl idle || fail "not idle after start"

# ---- read, changed through the sheet, read again
configure MORVAK-0001
[ "$(versions)" = 1 ] || fail "versions after the first read: $(ls -R "$app/History" 2>&1)"
configure MORVAK-0001 HISTNAME ro-s3cret
# The upload question lists the change by section, in the labels and display texts.
ctl controls >"$work/question.txt"
grep -qF "Sending a new configuration to the device will force it to reboot." "$work/question.txt" \
  || fail "upload question text: $(cat "$work/question.txt")"
grep -F "$(printf '%s\t' 3564)" "$work/question.txt" | grep -qF "Device name: MORVAK-0001 -> HISTNAME" \
  || fail "upload question without the change: $(cat "$work/question.txt")"
grep -F "$(printf '%s\t' 3564)" "$work/question.txt" | grep -qF "[System]" || fail "change list without its section"
# A secret is listed as changed, its value never shown.
grep -F "$(printf '%s\t' 3564)" "$work/question.txt" | grep -qF "Read-only password:" \
  || fail "upload question without the password's change: $(cat "$work/question.txt")"
grep -qF ro-s3cret "$work/question.txt" && fail "upload question shows the password"
shot upload-question
ctl press 6
ctl idle || fail "not idle after the write"
row HISTNAME | grep -q $'\tOk\t' || fail "device not renamed: $(ctl list)"
configure HISTNAME
[ "$(versions)" = 4 ] || fail "versions after read, read, write, read: $(ls "$(history_dir)")"

# ---- Device, Configuration history
ctl select HISTNAME && ctl command 40070 || fail "Configuration history"
ctl_wait_title "Configuration History of HISTNAME" || { fail "no history dialog"; ctl windows; exit 1; }
ctl controls >"$work/history.txt"
# The versions: number, time, source, size, comment; oldest first.
entries_of 3551 >"$work/versions.txt"
[ "$(wc -l <"$work/versions.txt")" = 4 ] || fail "versions listed: $(cat "$work/versions.txt")"
[ "$(cut -f 2,4 "$work/versions.txt" | tr '\t\n' ' ')" = "1 Read 2 Read 3 Written 4 Read " ] \
  || fail "numbers and sources: $(cat "$work/versions.txt")"
# At the start the newest is compared with the one before it: the same configuration.
[ -z "$(entries_of 3556)" ] || fail "changes between a write and its read: $(entries_of 3556)"
# Version 1 with version 4: the device name, under its section, old and new value.
first=$(entries_of 3552 | sed -n '1s/^\t//p')
fourth=$(entries_of 3553 | sed -n '4s/^\t//p')
ctl pick 3552 "$first" && ctl pick 3553 "$fourth" || fail "choosing versions 1 and 4"
entries_of 3556 >"$work/changes.txt"
grep -qP '^\t\[System\]\t' "$work/changes.txt" || fail "no section row: $(cat "$work/changes.txt")"
grep -qP '^\t  Device name\tMORVAK-0001\tHISTNAME$' "$work/changes.txt" \
  || fail "device name change not listed: $(cat "$work/changes.txt")"
text_of 3555 | grep -q "from version 1 to version 4" || fail "summary: $(text_of 3555)"
shot history-compare
# Secrets are masked unless shown: the value is in the list only once the box is ticked.
grep -qP '^\t  Read-only password\t' "$work/changes.txt" || fail "password change not listed: $(cat "$work/changes.txt")"
grep -qF ro-s3cret "$work/changes.txt" && fail "password shown before Show passwords"
ctl check 3554 1 || fail "Show passwords"
entries_of 3556 | grep -qP '^\t  Read-only password\t\(none\)\tro-s3cret$' \
  || fail "password not shown with Show passwords: $(entries_of 3556)"
shot history-passwords
ctl check 3554 0

# ---- Save as: the kept file, byte for byte
saved=$work/saved-v1.lcf
ctl pick 3551 1 || fail "selecting version 1"
ctl press 3558 || fail "Save as"
ctl_wait_title "Save Version 1 of HISTNAME As" || fail "no file dialog for Save as"
ctl_file_dialog "Save Version 1 of HISTNAME As" "$saved" || fail "file name"
ctl_wait_title "Configuration History of HISTNAME" || fail "history dialog after Save as"
v1=$(ls "$(history_dir)"/000001_*.lcf 2>/dev/null)
cmp -s "$saved" "$v1" || fail "saved file differs from version 1 ($v1): $(ls -l "$saved" "$v1" 2>&1)"

# ---- Restore version 1: the question lists what it changes against the newest version
ctl press 3557 || fail "Restore"
ctl_wait_title Warning || { fail "no restore question"; ctl windows; }
ctl controls >"$work/restore.txt"
grep -F "$(printf '%s\t' 3564)" "$work/restore.txt" | grep -qF "Device name: HISTNAME -> MORVAK-0001" \
  || fail "restore question without the change: $(cat "$work/restore.txt")"
grep -qF "Compared with version 4" "$work/restore.txt" || fail "restore question names no version: $(cat "$work/restore.txt")"
shot restore-question
ctl press 6
ctl idle || fail "not idle after the restore"
ctl_wait_title Velquin || fail "main window after the restore"
ok=
for _ in $(seq 1 100); do
  row MORVAK-0001 | grep -q $'\tOk\t' && { ok=1; break; }
  ctl command 1309 >/dev/null 2>&1; ctl idle >/dev/null 2>&1
  sleep 0.2
done
[ -n "$ok" ] || fail "the restore did not bring the old name back: $(ctl list)"
[ "$(versions)" = 5 ] || fail "the restore kept no version: $(ls "$(history_dir)")"

# ---- the set-up wizard's Finish asks before it writes, with the list; No writes nothing
ctl select MORVAK-0001 && ctl command 1349 || fail "Setup wizard"
if ctl_wait_title "Setup Wizard for MORVAK-0001"; then
  ctl pick 3019 "Local network" || fail "choosing the wizard"
  # On to the last page: Next (12324) until Finish (12325) shows.
  ctl_until 60 "the wizard's Finish" finish_shown || fail "the wizard reached no last page"
  ctl press 12325 || fail "Finish"
  ctl_wait_title Warning || fail "no upload question after the wizard: $(ctl windows)"
  ctl controls >"$work/wizard.txt"
  # The wizard fills the address pool from the device's address: listed under its section.
  grep -P '^3564\t' "$work/wizard.txt" | grep -qF '[Local network]\n  First address of the pool:' \
    || fail "wizard question without its list: $(cat "$work/wizard.txt")"
  shot wizard-question
  ctl press 7
  ctl idle
  ctl_wait_title Velquin || fail "main window after No"
  # The wizard's read is kept; no write followed.
  ls "$(history_dir)" | grep -q '_read-wizard\.lcf$' || fail "no read-wizard version: $(ls "$(history_dir)")"
  ls "$(history_dir)" | grep -q '_wizard\.lcf$' && fail "No on the question still wrote"
else
  fail "no set-up wizard: $(ctl windows)"
fi

# ---- File, Export device list: what qorvexal-cli list --csv --check prints
# Check all first: at its start the window checks the current folder's devices only.
ctl command 1309 && ctl idle || fail "Check all"
exported=$work/devices.csv
ctl command 40071 || fail "Export device list"
ctl_wait_title "Export Device List" || fail "no file dialog for the export"
ctl_file_dialog "Export Device List" "$work/devices" || fail "export file name"
ctl_wait_title Velquin || fail "main window after the export"
ctl idle
[ -f "$exported" ] || fail "no devices.csv (the .csv extension not added?): $(ls "$work")"
"$cli" --ini "$ini" list --csv --check >"$work/cli.csv" 2>"$work/cli.err" || fail "qorvexal-cli list: $(cat "$work/cli.err")"
cmp -s "$exported" "$work/cli.csv" || fail "export differs from list --csv: $(diff "$exported" "$work/cli.csv" | cat -A)"
head -n 1 "$exported" | grep -q '^name,folder,address,type,firmware,serial number,MAC address,status,description' \
  || fail "export header: $(head -n 1 "$exported")"
grep -qF "\"first, \"\"quoted\"\"\"" "$exported" || fail "description not quoted: $(cat "$exported")"
grep -q "^MORVAK-0002,Branch,$net.2:$port," "$exported" || fail "folder row: $(cat "$exported")"

app_stop

# ---- the dialog in German: its title and texts from the German string table and template
app_start "$work/app-ger.log" "$app/qorvexal.exe" /lang:ger
ctl_wait_title Velquin || fail "no main window in German"
ctl idle
ctl select MORVAK-0001 && ctl command 40070 || fail "Konfigurationsverlauf"
ctl_wait_title "Konfigurationsverlauf von MORVAK-0001" || fail "no German history dialog: $(ctl windows)"
ctl controls | grep -q "Vergleiche Version" || fail "German dialog texts: $(ctl controls)"
entries_of 3551 | cut -f 4 | grep -qx "Geschrieben" || fail "German sources: $(entries_of 3551)"
shot history-german
ctl press 2
app_stop

if [ $failures -gt 0 ]; then
  echo "$failures failure(s)"
  exit 1
fi
echo "all passed; screenshots in $work"
