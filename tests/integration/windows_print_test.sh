#!/bin/bash
# Printing under Wine and Xvfb, through qorvexal.exe's test control channel: a configuration file laid
# out into enhanced metafiles, read back record by record (the texts drawn), with hidden and with shown
# passwords; the "print:" verb without a printer shows its message and leaves the file as it was; File,
# Print on a simulated device reads its configuration (job 1033), opens the preview on a default page
# (whose Print button says that no printer is installed) and leaves the device "Ok". No search at start-up (SearchAtStartup=0).
#   windows_print_test.sh <wine-run> <qorvexal.exe> <qorvexal-cli (native)> <data directory> <work directory>
#                         <morvaksim (native)>
# Exits 77 (skipped) without a display or without the native command-line tool or simulator.
wine_run=$1
exe=$2
cli=$3
data=$4
work=$5
sim=$6
. "$(dirname "$0")/windows_preamble.sh"
[ -x "$cli" ] || { echo "no native qorvexal-cli at $cli: skipped"; exit 77; }
[ -x "$sim" ] || { echo "no native morvaksim at $sim: skipped"; exit 77; }
command -v python3 >/dev/null || { echo "no python3: skipped"; exit 77; }
wine_begin shared "$@"

app=$work/app
mkdir -p "$app"
cp "$exe" "$app/qorvexal.exe"
cp "$data"/*.dsc "$app/"
printf '%s\r\n' "[Options]" "SearchAtStartup=0" "DontAskForExit=1" "EasyConfig=0" >"$app/qorvexal.ini"

# A configuration with a name, a long location, passwords and a full routing table.
{
  printf '%s\r\n' "[Morvak 1100]" "/sys/name = frontdesk" "/sys/password = s3cretpw" \
    "/sys/location = a location long enough to be wrapped over more than one line of the printout, $(printf 'x%.0s' $(seq 1 60))"
  for r in $(seq 0 15); do
    printf '%s\r\n' "/ip/routes-01 = 10.$r.0.0" "/ip/routes-02 = 255.255.0.0" "/ip/routes-03 = 192.168.0.1" "/ip/routes-04 = 1"
  done
} >"$work/text.txt"
file=$work/front.lcf
"$cli" export --dir "$app" "Morvak 1100" 3.10 "$work/text.txt" "$file" >/dev/null 2>&1 || { fail "export"; exit 1; }
before=$(md5sum <"$file")

start_app() { app_start "$work/app-$1.log" "$app/qorvexal.exe" "${@:2}"; }

stop_app() {
  ctl_wait_title Velquin || fail "main window"
  app_stop
}

# The texts an enhanced metafile draws, one line per text record: "x y text".
emf_texts() {
  python3 - "$1" <<'PY'
import struct, sys
data = open(sys.argv[1], "rb").read()
at = 0
while at + 8 <= len(data):
    kind, size = struct.unpack_from("<II", data, at)
    if size < 8:
        break
    if kind in (83, 84):  # EMR_EXTTEXTOUTA, EMR_EXTTEXTOUTW
        x, y, chars, offset = struct.unpack_from("<iiII", data, at + 36)
        if kind == 84:
            text = data[at + offset:at + offset + 2 * chars].decode("utf-16-le", "replace")
        else:
            text = data[at + offset:at + offset + chars].decode("latin-1")
        print(x, y, text)
    at += size
PY
}

start_app main
ctl_wait_title Velquin || fail "no main window"
for mode in hide show; do
  prefix=$work/$mode-page
  ctl printemf "$(ctl_text "$(winepath -w "$file")")" "$(ctl_text "$(winepath -w "$prefix")")" $mode \
    || fail "printemf $mode"
  pages=$(ls "$prefix"*.emf 2>/dev/null | wc -l)
  [ "$pages" -ge 2 ] || fail "$mode: $pages pages"
  texts=
  for n in $(seq 1 "$pages"); do
    page=$(emf_texts "$prefix$n.emf")
    [ -n "$page" ] || fail "$mode: page $n draws no text"
    grep -q " Page $n of $pages\$" <<<"$page" || fail "$mode: page $n without its footer"
    texts+=$page$'\n'
  done
  printf '%s' "$texts" >"$work/$mode.txt"
  grep -q " frontdesk\$" <<<"$texts" || fail "$mode: device name"
  grep -q " Morvak 1100\$" <<<"$texts" || fail "$mode: device type"
  grep -q " 10.15.0.0\$" <<<"$texts" || fail "$mode: last route"
  # The long location wrapped: its last word on a line of its own, nothing cut.
  grep -q " x\{60\}\$" <<<"$texts" || fail "$mode: the location's end"
  if [ $mode = hide ]; then
    grep -q "s3cretpw" <<<"$texts" && fail "hide: the password printed"
    grep -q " \*\$" <<<"$texts" || fail "hide: no masked password"
  else
    grep -q " s3cretpw\$" <<<"$texts" || fail "show: the password not printed"
  fi
done
stop_app

# "print:" without a printer: the message, then the window as usual; the file untouched.
start_app verb "/print:$(winepath -w "$file")"
if ctl_wait_title Error 2>/dev/null; then
  ctl controls | grep -q "No printer is installed" || fail "print: the message's text"
  ctl press 1 || fail "print: OK on the message"
  stop_app
else
  echo "a printer is installed under Wine: the no-printer message is not tested"
  stop_app
fi
[ "$(md5sum <"$file")" = "$before" ] || fail "print: the file changed"
grep -q "verb print: " "$work/app-verb.log" || fail "print: no diagnostic line"

# File, Print on a device: the read job, the preview on a default page (Wine has no printer), the
# message from its Print button, the release; the device Ok.
if grep -q "print: no printer" "$work/app-verb.log"; then
  sim_start_loopback "$work/sim.log" "$sim" || { fail "morvaksim did not start"; exit 1; }
  printf '%s\r\n' "[Options]" "SearchAtStartup=0" "DontAskForExit=1" "EasyConfig=0" \
    "[DeviceList]" "Count=1" "1_Name=MORVAK-0001" "1_Description=" "1_Parameters=0;;IP;$base:$port;2;" \
    >"$app/qorvexal.ini"
  start_app device
  ctl_wait_title Velquin || fail "device: no main window"
  ctl idle
  ctl select MORVAK-0001 && ctl command 1312 || fail "device: File, Print"
  # No printer: the preview opens on a default page; only its Print button says that none is installed.
  if ctl_wait_title "Print preview - Configuration of MORVAK-0001"; then
    shot device-preview
    ctl press 101 || fail "device: Print in the preview"
    if ctl_wait_title Error; then
      ctl controls | grep -q "No printer is installed" || fail "device: the message's text"
      ctl press 1 || fail "device: OK on the message"
    else
      fail "device: no message on Print without a printer"
    fi
    ctl_wait_title "Print preview - Configuration of MORVAK-0001" || fail "device: the preview after the message"
    ctl press 104 || fail "device: Close"
  else
    fail "device: no preview without a printer"
    ctl windows
  fi
  ctl idle || fail "device: not idle after printing"
  ctl list | awk -F '\t' '$1 == "MORVAK-0001"' | grep -q $'\tOk\t' || fail "device after File, Print: $(ctl list)"
  stop_app
fi

if [ $failures -gt 0 ]; then
  echo "$failures failure(s)"
  exit 1
fi
echo "all passed; metafiles in $work"
