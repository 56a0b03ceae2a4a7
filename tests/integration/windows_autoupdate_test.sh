#!/bin/bash
# qorvexal.exe's "autoupdate:" verb under Wine and Xvfb, driven through its test control channel against
# morvaksim on loopback, before any main window exists ("close" ends the program after the verb):
# - with a device name: the firmware upload of that device of the list (its check, the warning, the
#   file dialog, the upload, the test-mode question), the list saved with what the device reports
#   then; an unknown name is refused with a message;
# - with an update package (".ini"): its search, its selection (only the device picked is updated),
#   the password question of a device that refuses the empty password, the upload with the
#   activation of the image running in test mode, and the outcome per device.
# Screenshots of the dialogs are kept in the work directory. The test runs in a private network
# namespace (with a Wine prefix and server of its own).
#   windows_autoupdate_test.sh <wine-run> <qorvexal.exe> <morvaksim> <work directory>
# Exits 77 (skipped) without a display or without the native simulator.
wine_run=$1
exe=$2
sim=$3
work=$4
. "$(dirname "$0")/windows_preamble.sh"
[ -x "$sim" ] || { echo "no native morvaksim at $sim: skipped"; exit 77; }
wine_begin "$work/wineprefix" "$@"

# A fleet of two simulated devices on a loopback network and a free port ($1...: more options).
start_fleet() {
  [ -n "$sim_pid" ] && { kill "$sim_pid"; wait "$sim_pid" 2>/dev/null; sim_pid=; }
  sim_start_loopback "$work/sim.log" "$sim" --count 2 --search "$@" || { fail "morvaksim did not start"; exit 1; }
}

app=$work/app
rm -rf "$app"
mkdir -p "$app/Firmware" "$app/package"
cp "$exe" "$app/qorvexal.exe"
"$sim" make-upx "Morvak_1100[_Plus;]" 9.90 31122099 "$app/Firmware/new.upx" >/dev/null || fail "make-upx"
cp "$app/Firmware/new.upx" "$app/package/m1100.upx"
printf '%s\r\n' "[Morvak_1100[_Plus;]]" "UpxFile=m1100.upx" "[Morvak_2400]" "UpxFile=m2400.upx" \
  >"$app/package/update.ini"
ini=$app/qorvexal.ini

# Runs the program with the verb; returns once its test channel answers.
start_app() { app_start "$work/app.log" "$app/qorvexal.exe" "$@"; }

# The program ends by itself after the verb ("close").
wait_end() {
  for _ in $(seq 1 300); do
    kill -0 "$app_pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -0 "$app_pid" 2>/dev/null && fail "program did not end after the verb: $(ctl windows)"
  app_pid=
  exec 3>&-
}

# Waits (bounded) until the controls of the active window show $1.
wait_controls() {
  for _ in $(seq 1 300); do
    ctl controls | grep -q -- "$1" && return 0
    sleep 0.2
  done
  ctl controls >&2
  return 1
}

# ---- One device of the list
start_fleet
printf '%s\r\n' "[Options]" "SearchAtStartup=0" "SearchPort=$port" "UPXPath=$(winepath -w "$app/Firmware")" \
  "[DeviceList]" "Count=1" "1_Name=MORVAK-0001" "1_Description=" "1_Parameters=0;;IP;$base:$port;2;" >"$ini"

# An unknown name: a message, no upload.
start_app "/autoupdate:nosuch" /close
ctl_wait_title Error || fail "no message for an unknown device"
ctl controls | grep -q "There is no device named 'nosuch' in the device list." || fail "unknown device text: $(ctl controls)"
ctl press 1
wait_end

start_app "/autoupdate:morvak-0001" /close
ctl_wait_title Warning || fail "no upload warning"
ctl controls | grep -q "Uploading new firmware will force the device to reboot" || fail "upload warning: $(ctl controls)"
ctl press 6
ctl_wait_title "Select Firmware for MORVAK-0001" || fail "no firmware file dialog"
ctl set 1148 "$(ctl_text "$(winepath -w "$app/Firmware/new.upx")")" || fail "file name"
ctl press 1
ctl idle || fail "not idle after the upload"
# The question comes only after an upload the device took and a restart it came back from.
ctl_wait_title Warning || fail "no test-mode question"
ctl controls | grep -q "running in test mode" || fail "test-mode question: $(ctl controls)"
ctl press 7
wait_end
grep -q "verb autoupdate device: morvak-0001" "$work/app.log" || fail "verb not run: $(cat "$work/app.log")"
# The list keeps what the device reported after the upload.
grep -q '^1_Name=MORVAK-0001' "$ini" || fail "device list lost: $(cat "$ini")"
grep -qi 'UPXPath=' "$ini" || fail "UPXPath lost"

# ---- The update package: the devices refuse the empty password.
start_fleet --password secret
printf '%s\r\n' "[Options]" "SearchAtStartup=0" "SearchPort=$port" >"$ini"
start_app "/autoupdate:$(winepath -w "$app/package/update.ini")" /close
ctl_wait_title "Firmware Update - Search" || fail "no search dialog"
ctl controls | grep -q "Update package: .*update.ini" || fail "package not named: $(ctl controls)"
# A remote network without a valid netmask is refused with a message; the dialog stays.
ctl check 3402 0 && ctl check 3403 1 && ctl set 3404 127.0.0.0 && ctl set 3405 255.0.0 && ctl press 1 \
  || fail "invalid search input"
ctl_wait_title Error || fail "no message for an invalid remote network"
ctl controls | grep -q "Please enter a valid IP address and netmask for the remote network." \
  || fail "invalid remote network text: $(ctl controls)"
ctl press 1
ctl_wait_title "Firmware Update - Search" || fail "the search dialog did not stay after the message"
ctl set 3405 255.0.0.0 || fail "search input"
shot update-search
ctl press 1
ctl idle
ctl_wait_title "Firmware Update - Select Devices" || fail "no selection dialog"
rows=$(ctl controls | grep $'^\tMORVAK-000')
[ "$(printf '%s\n' "$rows" | grep -c $'\tMorvak 1100\t3.10.0012[^\t]*\tVer. 9.90 (')" = 2 ] \
  || fail "selection rows: $(ctl controls)"
shot update-select
ctl pick 3411 MORVAK-0002 || fail "pick MORVAK-0002"
ctl press 1
ctl_wait_title Warning || fail "no upload warning before the package"
ctl press 6
# The empty password is refused: the question, then the upload again with the one given.
ctl_wait_title Password || fail "no password question"
ctl controls | grep -q "The device MORVAK-0002 refused the password" || fail "password text: $(ctl controls)"
shot update-password
ctl set 3432 secret && ctl press 1 || fail "password"
ctl idle
ctl_wait_title Warning || fail "no test-mode question after the package's upload"
ctl press 6
ctl idle
ctl_wait_title "Firmware Update" || fail "no upload dialog"
wait_controls "Done: 1 updated, 0 failed." || fail "package outcome: $(ctl controls)"
result=$(ctl controls)
printf '%s\n' "$result" | grep -q $'^\tMORVAK-0002\t[^\t]*:'"$port"$'\tUpdated, firmware 9.90' || fail "updated row: $result"
printf '%s\n' "$result" | grep -q $'^\tMORVAK-0001' && fail "a device not picked is in the upload: $result"
shot update-upload
ctl press 2
wait_end

# In German: the dialogs again; the password question cancelled fails that device, and says so.
start_app /lang:ger "/autoupdate:$(winepath -w "$app/package/update.ini")" /close
ctl_wait_title "Firmware-Aktualisierung - Suche" || fail "no German search dialog"
ctl check 3402 0 && ctl check 3403 1 && ctl set 3404 127.0.0.0 && ctl set 3405 255.0.0.0 || fail "German search input"
shot update-search-de
ctl press 1
ctl idle
ctl_wait_title "$(printf 'Firmware-Aktualisierung - Ger\344te ausw\344hlen')" || fail "no German selection dialog"
shot update-select-de
ctl pick 3411 MORVAK-0001 && ctl press 1 || fail "German selection"
ctl_wait_title Warnung && ctl press 6 || fail "no German upload warning"
ctl_wait_title Passwort || fail "no German password question"
shot update-password-de
ctl press 2
ctl idle
ctl_wait_title Firmware-Aktualisierung || fail "no German upload dialog"
wait_controls "Fertig: 0 aktualisiert, 1 fehlgeschlagen." || fail "German outcome: $(ctl controls)"
ctl controls | grep -q $'^\tMORVAK-0001\t[^\t]*\tFehlgeschlagen: ' || fail "failed row: $(ctl controls)"
shot update-upload-de
ctl press 2
wait_end

# A package that cannot be read: a message, nothing searched.
start_app "/autoupdate:$(winepath -w "$app/package/missing.ini")" /close
ctl_wait_title Error || fail "no message for a missing package"
ctl controls | grep -q "The update package .*missing.ini cannot be read" || fail "missing package text: $(ctl controls)"
ctl press 1
wait_end

if [ $failures -gt 0 ]; then
  echo "$failures failure(s)"
  exit 1
fi
echo "all passed; screenshots in $work"
