#!/bin/sh
# Where the programs write, under Wine in a copy of the build tree's prefix, in a mount namespace of the
# test's own: a copy of the CD folder mounted read-only (as a CD, or Program Files for a standard user)
# and a writable copy (a portable installation).
#   1. qorvexal-cli from the read-only copy keeps its device list in %APPDATA%\Zevra\Velquin; from the
#      writable copy beside itself;
#   2. qorvexal.exe from the read-only copy makes Config and Firmware in %APPDATA%\Zevra\Velquin, seeded
#      with the qorvexal.ini that lies beside it (its settings hold: no start-up search), and lists the
#      device the command-line tool added there; from the writable copy it makes them beside itself;
#   3. talvine.exe from the read-only copy makes its Log folder in %APPDATA%\Zevra\Travik, seeded with
#      its talvine.ini;
#   4. a settings file that cannot be replaced (read-only) stays as it was, and the tool says so;
#   5. F1 in qorvexal.exe opens its HTML user's guide from beside the program;
#   6. the command-line tools in the CD's tools/ folder find the descriptions and scripts above them.
#   windows_datafolder_test.sh <CD folder> <work directory>
# Exits 77 (skipped) without a display or where no mount namespace can be made.
cdsrc=$1
work=$2
if [ -z "${DATAFOLDER_NAMESPACE:-}" ]; then
  export DATAFOLDER_NAMESPACE=1
  if unshare -m --propagation private true 2>/dev/null; then
    exec unshare -m --propagation private sh "$0" "$@"
  fi
  echo "no mount namespace: skipped"
  exit 77
fi
. "$(dirname "$0")/windows_preamble.sh"
[ -f "$cdsrc/qorvexal.exe" ] && [ -f "$cdsrc/tools/qorvexal-cli.exe" ] || { echo "no CD folder at $cdsrc: skipped"; exit 77; }

ro=$work/ro
rw=$work/rw
cp -r "$cdsrc" "$ro"
cp -r "$cdsrc" "$rw"
# Settings an administrator hands out beside the programs: no search at start-up (it would broadcast on
# the real network) and no question about the network library.
for dir in "$ro" "$rw" "$ro/tools" "$rw/tools"; do
  printf '[Options]\r\nSearchAtStartup=0\r\nDontWarnAboutWinsock=1\r\nDontAskForExit=1\r\nShippedBy=admin\r\n' >"$dir/qorvexal.ini"
  printf '[Options]\r\nDontAskForExit=1\r\nShippedBy=admin\r\n' >"$dir/talvine.ini"
done
mount --bind "$ro" "$ro" && mount -o remount,bind,ro "$ro" || { echo "cannot mount $ro read-only: skipped"; exit 77; }
touch "$ro/probe" 2>/dev/null && { echo "$ro takes files although mounted read-only: skipped"; exit 77; }

wine_private_prefix "$work/prefix"
app_pid=
cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null
  wineserver -k >/dev/null 2>&1
  umount "$ro" 2>/dev/null
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
travik=$appdata/Zevra/Travik
printf 'application data: %s\n' "$appdata_win"

# Waits (bounded) until the path exists.
appears() {
  for _ in $(seq 1 120); do
    [ -e "$1" ] && return 0
    sleep 0.25
  done
  return 1
}

# --- 1. The command-line tool ---
w "$ro/tools/qorvexal-cli.exe" add office 127.0.0.1 --description "from the CD"
[ "$rc" = 0 ] || fail "qorvexal-cli from the read-only folder: exit $rc: $(cat "$work/out.txt")"
grep -q 'from the CD' "$velquin/qorvexal.ini" 2>/dev/null || fail "qorvexal-cli from the read-only folder: no device in $velquin/qorvexal.ini"
grep -q 'ShippedBy=admin' "$velquin/qorvexal.ini" 2>/dev/null || fail "qorvexal-cli: qorvexal.ini not seeded from beside the program"
w "$rw/tools/qorvexal-cli.exe" add branch 127.0.0.2 --description "portable"
[ "$rc" = 0 ] || fail "qorvexal-cli from the writable folder: exit $rc: $(cat "$work/out.txt")"
grep -q 'portable' "$rw/tools/qorvexal.ini" 2>/dev/null || fail "qorvexal-cli from the writable folder: no device beside it"
grep -q 'portable' "$velquin/qorvexal.ini" 2>/dev/null && fail "qorvexal-cli from the writable folder wrote into the user's folder"

# The tools in tools/ find the descriptions and scripts of the CD's root above them.
w "$ro/tools/qorvexal-cli.exe" describe "Morvak 1100" 3.10.0012
grep -q '^version' "$work/out.txt" || fail "qorvexal-cli in the CD's tools/ finds no descriptions: $(head -n 3 "$work/out.txt")"
w "$ro/tools/talvine-cli.exe" tree "Morvak 1100"
[ "$rc" = 0 ] && [ -s "$work/out.txt" ] || fail "talvine-cli in the CD's tools/ finds no scripts: $(head -n 3 "$work/out.txt")"

# --- 2. The configuration tool ---
"$wine" "$ro/qorvexal.exe" >"$work/qorvexal-ro.log" 2>&1 </dev/null &
app_pid=$!
appears "$velquin/Firmware" || fail "qorvexal.exe from the read-only folder: no Firmware folder in $velquin: $(ls "$velquin" 2>&1)"
[ -d "$velquin/Config" ] || fail "qorvexal.exe from the read-only folder: no Config folder in $velquin"
# The tool added its device before the settings were seeded: the shipped file is not copied over the
# user's, and the device stays.
grep -q 'from the CD' "$velquin/qorvexal.ini" || fail "qorvexal.exe lost the user's settings file"
window=
for _ in $(seq 1 120); do
  window=$(xdotool search --name '^Velquin$' 2>/dev/null | head -n 1)
  [ -n "$window" ] && break
  sleep 0.25
done
[ -n "$window" ] || fail "qorvexal.exe from the read-only folder shows no window: $(cat "$work/qorvexal-ro.log")"
[ -n "$window" ] && shot_drawn "$work/qorvexal-ro.png" "$window" 0.1
# Help topics (F1): no help file of the old format lies beside the program, so the user's guide opens
# through the shell (here a handler of the test's own records what it is given).
w reg add 'HKLM\Software\Classes\.html' /ve /d VelquinTestHtml /f
w reg add 'HKLM\Software\Classes\VelquinTestHtml\shell\open\command' /ve /d "cmd.exe /c echo %1> $(winpath "$work/opened.txt")" /f
if [ -n "$window" ]; then
  xdotool windowactivate --sync "$window" 2>/dev/null || xdotool windowfocus --sync "$window"
  xdotool key --window "$window" F1
  # The handler's file exists before its line is written: waited for until the line is there.
  for _ in $(seq 1 120); do
    grep -qi 'velquin.html' "$work/opened.txt" 2>/dev/null && break
    sleep 0.25
  done
  grep -qi 'ro\\velquin.html' "$work/opened.txt" 2>/dev/null || fail "F1 did not open the user's guide beside the program: $(cat "$work/opened.txt" 2>&1)"
fi
w taskkill /f /im qorvexal.exe
kill "$app_pid" 2>/dev/null
wait "$app_pid" 2>/dev/null
app_pid=

# A first start with no settings of the user's: the shipped file is copied (seeded).
rm -rf "$velquin"
"$wine" "$ro/qorvexal.exe" >"$work/qorvexal-seed.log" 2>&1 </dev/null &
app_pid=$!
appears "$velquin/Firmware" || fail "qorvexal.exe (first start): no Firmware folder in $velquin"
grep -q 'ShippedBy=admin' "$velquin/qorvexal.ini" 2>/dev/null || fail "qorvexal.exe (first start): qorvexal.ini not seeded from beside the program"
w taskkill /f /im qorvexal.exe
kill "$app_pid" 2>/dev/null
wait "$app_pid" 2>/dev/null
app_pid=

"$wine" "$rw/qorvexal.exe" >"$work/qorvexal-rw.log" 2>&1 </dev/null &
app_pid=$!
appears "$rw/Firmware" || fail "qorvexal.exe from the writable folder: no Firmware folder beside it"
[ -d "$rw/Config" ] || fail "qorvexal.exe from the writable folder: no Config folder beside it"
w taskkill /f /im qorvexal.exe
kill "$app_pid" 2>/dev/null
wait "$app_pid" 2>/dev/null
app_pid=

# --- 3. The monitor ---
"$wine" "$ro/talvine.exe" >"$work/talvine-ro.log" 2>&1 </dev/null &
app_pid=$!
appears "$travik/Log" || fail "talvine.exe from the read-only folder: no Log folder in $travik: $(ls "$travik" 2>&1)"
grep -q 'ShippedBy=admin' "$travik/talvine.ini" 2>/dev/null || fail "talvine.exe: talvine.ini not seeded from beside the program"
w taskkill /f /im talvine.exe
kill "$app_pid" 2>/dev/null
wait "$app_pid" 2>/dev/null
app_pid=

# --- 4. A settings file that cannot be replaced stays, and the tool says so ---
before=$(md5sum <"$velquin/qorvexal.ini")
w attrib +r "$(winpath "$velquin/qorvexal.ini")"
w "$ro/tools/qorvexal-cli.exe" add second 127.0.0.3
[ "$rc" = 0 ] && fail "a device added to a read-only settings file reported success"
grep -q 'the file is unchanged' "$work/out.txt" || fail "the failed save is not reported: $(cat "$work/out.txt")"
[ "$(md5sum <"$velquin/qorvexal.ini")" = "$before" ] || fail "the read-only settings file changed"
w attrib -r "$(winpath "$velquin/qorvexal.ini")"

if [ "$failures" -gt 0 ]; then
  echo "$failures failure(s)"
  exit 1
fi
echo "windows_datafolder_test: read-only folder -> $appdata_win\\Zevra, writable folder -> beside the programs"
