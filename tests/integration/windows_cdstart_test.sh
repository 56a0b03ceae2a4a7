#!/bin/bash
# "Start Velquin from the CD" as a user meets it, under Wine on a copy of the CD folder mounted
# read-only (a mount namespace of the test's own, with a network namespace of its own: the first
# start's search reaches only the test's loopback), against morvaksim on loopback:
#   1. Kardell's "Start Velquin from the CD" starts the CD's qorvexal.exe (its window shows);
#   2. qorvexal.exe from the read-only CD, with no settings of the user's yet, adds the simulated
#      device (the device dialog; the check takes over the name the device reports), configures it
#      (a new device name typed in the configuration sheet, OK, Yes to the upload warning) and the write
#      completes: the device comes back under its new name and holds it (read back with qorvexal-cli);
#   3. the device list and the Config and Firmware folders are in %APPDATA%\Zevra\Velquin, and the CD
#      holds the same files as before, byte for byte.
#   windows_cdstart_test.sh <CD folder> <morvaksim> <qorvexal-cli> <work directory>
# Exits 77 (skipped) without a display, the native simulator and command-line tool, or where no mount
# and network namespace can be made.
cdsrc=$1
sim=$2
cli=$3
work=$4
if [ -z "${CDSTART_NAMESPACE:-}" ]; then
  export CDSTART_NAMESPACE=1
  ns=(unshare -m -n --propagation private)
  [ "$(id -u)" = 0 ] || ns=(unshare -r -m -n --propagation private)
  if "${ns[@]}" true 2>/dev/null; then
    exec "${ns[@]}" bash "$0" "$@"
  fi
  echo "no mount and network namespace: skipped"
  exit 77
fi
ip link set lo up || { echo "no loopback in the namespace"; exit 1; }
. "$(dirname "$0")/windows_preamble.sh"
. "$(dirname "$0")/testctl.sh"
. "$(dirname "$0")/morvaksim.sh"
[ -x "$sim" ] && [ -x "$cli" ] || { echo "no native morvaksim or qorvexal-cli: skipped"; exit 77; }
[ -f "$cdsrc/qorvexal.exe" ] && [ -f "$cdsrc/kardell.exe" ] || { echo "no CD folder at $cdsrc: skipped"; exit 77; }

cd=$work/cd
cp -r "$cdsrc" "$cd"
(cd "$cd" && find . -type f -exec md5sum {} + | sort -k 2) >"$work/cd-before.txt"
mount --bind "$cd" "$cd" && mount -o remount,bind,ro "$cd" || { echo "cannot mount $cd read-only: skipped"; exit 77; }
touch "$cd/probe" 2>/dev/null && { echo "$cd takes files although mounted read-only: skipped"; exit 77; }

wine_private_prefix "$work/prefix"
app_pid=
sim_pid=
kardell_pid=
cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null
  [ -n "$kardell_pid" ] && kill "$kardell_pid" 2>/dev/null
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null
  wineserver -k >/dev/null 2>&1
  umount "$cd" 2>/dev/null
}
trap cleanup EXIT
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
w() {
  for _ in 1 2 3; do
    "$wine" "$@" >"$work/out.txt" 2>&1 </dev/null
    rc=$?
    grep -q 'failed to map the shared user data' "$work/out.txt" || return
  done
}
w cmd /c echo %APPDATA%
appdata_win=$(tr -d '\r' <"$work/out.txt" | tail -n 1)
appdata=$("$wine" winepath -u "$appdata_win" 2>/dev/null | tr -d '\r')
appdata=${appdata%/}
[ -n "$appdata" ] && [ -d "$appdata" ] || { fail "no application-data folder ($appdata_win)"; exit 1; }
velquin=$appdata/Zevra/Velquin
[ -e "$velquin" ] && fail "the user has settings before the first start: $(ls "$velquin")"

sim_start_loopback "$work/sim.log" "$sim" --count 1 --restart-ms 300 || { fail "morvaksim did not start"; exit 1; }

# --- 1. Kardell's "Start Velquin from the CD" ---
trace=$work/trace.txt
KARDELL_TRACE=$(winpath "$trace")
export KARDELL_TRACE
wait_trace() {
  for _ in $(seq 1 80); do
    [ -f "$trace" ] && tr -d '\r' <"$trace" | LC_ALL=C grep -q "$1" && return 0
    sleep 0.25
  done
  return 1
}
xdotool mousemove 5 5
"$wine" "$cd/kardell.exe" >"$work/kardell.log" 2>&1 </dev/null &
kardell_pid=$!
if wait_trace '^layout '; then
  xy=$(awk -v t="Start Velquin from the CD" '/^layout /{pos=""} /^line /{ text=$9; for (i=10;i<=NF;i++) text=text" "$i; if (text==t) pos=($5+12)" "($6+int($8/2)) } END { if (pos!="") print pos }' "$trace")
  if [ -z "$xy" ]; then
    fail "Kardell does not show \"Start Velquin from the CD\": $(grep '^line' "$trace")"
  else
    xdotool mousemove $xy
    wait_trace '^hot Start Velquin from the CD' || fail "\"Start Velquin from the CD\" did not turn hot"
    xdotool click 1
    window=
    for _ in $(seq 1 240); do
      window=$(xdotool search --name '^Velquin$' 2>/dev/null | head -n 1)
      [ -n "$window" ] && break
      sleep 0.25
    done
    [ -n "$window" ] || fail "\"Start Velquin from the CD\" showed no Velquin window: $(grep '^launch' "$trace" | tail -n 1)"
    grep '^launch' "$trace" | tail -n 1
  fi
else
  fail "Kardell's menu did not appear: $(cat "$work/kardell.log")"
fi
w taskkill /f /im qorvexal.exe
w taskkill /f /im kardell.exe
kill "$kardell_pid" 2>/dev/null
wait "$kardell_pid" 2>/dev/null
kardell_pid=
unset KARDELL_TRACE
# The program's own window is gone before it starts again (a second start would only raise it).
for _ in $(seq 1 120); do
  xdotool search --name '^Velquin$' >/dev/null 2>&1 || break
  sleep 0.25
done

# --- 2. The configuration tool from the read-only CD configures the simulated device ---
row() { # the list's row of device $1
  ctl list | awk -F '\t' -v n="$1" '$1 == n'
}
wait_row() { # device $1's row matches $2 (bounded)
  for _ in $(seq 1 150); do
    ctl idle >/dev/null 2>&1 && row "$1" | grep -q "$2" && return 0
    sleep 0.2
  done
  return 1
}
after_label() { # the id of the control after the label $1
  ctl controls | awk -F '\t' -v l="$1" 'found && $3 != "static" { print $1; exit } $5 == l { found = 1 }'
}
app_start "$work/app.log" "$cd/qorvexal.exe"
ctl_wait_title Velquin || fail "no main window"
ctl idle || fail "not idle after start"
shot main-first

ctl command 1306 || fail "Device, New device"
ctl_wait_title Device || { fail "no device dialog"; exit 1; }
ctl set 3104 "$base:$port" && ctl set 3109 "from the CD" || fail "device dialog input"
ctl press 1
ctl idle
wait_row MORVAK-0001 $'\tOk\t'"$base:$port" || fail "the simulated device is not Ok: $(ctl list)"

ctl select MORVAK-0001 && ctl command 1304 || fail "Edit, Configure"
# A first configuration asks whether to open it in the simplified mode: Yes, as offered.
simplified_question() { ctl controls | grep -q "Do you want to open the configuration in the simplified mode?"; }
if ctl_until 60 "the simplified mode's question" simplified_question; then
  shot question
  ctl press 6
else
  fail "no question before the first configuration: $(ctl windows)"
fi
ctl_wait_title "Configuration of MORVAK-0001" || { fail "no configuration sheet"; ctl windows; exit 1; }
name=$(after_label "Device name")
[ -n "$name" ] || fail "no device name field: $(ctl controls)"
ctl set "$name" CDSTART-1 || fail "device name"
shot sheet
ctl press 1
ctl_wait_title Warning || fail "no upload warning"
ctl press 6
ctl idle || fail "not idle after the write"
wait_row CDSTART-1 $'\tOk\t'"$base:$port" || fail "the device is not back under its new name: $(ctl list)"
shot written
"$cli" read --dir "$cdsrc" "$base:$port" "$work/read.txt" >"$work/read.log" 2>&1 || fail "qorvexal-cli read: $(cat "$work/read.log")"
[ "$(tr -d '\r' <"$work/read.txt" | sed -n 's|^ */sys/name = ||p')" = CDSTART-1 ] \
  || fail "the device does not hold the new name: $(grep -i name "$work/read.txt" | head -n 3)"
ctl_wait_title Velquin || fail "main window at the end"
# File, Exit asks first (the user's settings say nothing otherwise): Yes.
ctl command 40001 || fail "File, Exit"
exit_question() { ctl controls | grep -q "Do you want to quit Velquin?"; }
ctl_until 60 "the question before the end" exit_question && ctl press 6 || fail "no question before the end"
for _ in $(seq 1 240); do
  kill -0 "$app_pid" 2>/dev/null || break
  sleep 0.25
done
kill -0 "$app_pid" 2>/dev/null && fail "the program did not end after Yes"
app_pid=
exec 3>&-

# --- 3. The settings went to the user's folder; nothing was written on the CD ---
grep -q "CDSTART-1" "$velquin/qorvexal.ini" 2>/dev/null && grep -q "$base:$port" "$velquin/qorvexal.ini" \
  || fail "the device list is not in $velquin/qorvexal.ini: $(cat "$velquin/qorvexal.ini" 2>&1)"
[ -d "$velquin/Config" ] && [ -d "$velquin/Firmware" ] || fail "no Config and Firmware folders in $velquin: $(ls "$velquin" 2>&1)"
(cd "$cd" && find . -type f -exec md5sum {} + | sort -k 2) >"$work/cd-after.txt"
cmp -s "$work/cd-before.txt" "$work/cd-after.txt" || fail "the CD changed: $(diff "$work/cd-before.txt" "$work/cd-after.txt")"

if [ "$failures" -gt 0 ]; then
  echo "$failures failure(s); screenshots in $work"
  exit 1
fi
echo "windows_cdstart_test: started from the read-only CD, configured the device, settings in $appdata_win\\Zevra\\Velquin"
