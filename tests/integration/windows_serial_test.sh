#!/bin/sh
# qorvexal-cli.exe under Wine on morvaksim's serial console through a COM port: the port is mapped to
# the console's pseudo-terminal by the registry value HKLM\Software\Wine\Ports "COM7", which Wine reads
# when its server starts, so the test runs in a prefix of its own (the build prefix's registry, its
# drive C shared) with a server of its own. `serial ports` lists the port; check and read go over it
# (the configuration read over the console equals the one read over TFTP); a dial-up check ends with
# "Dial-Up error" within 120 seconds (Wine's dial-up library binds but connects nothing: its dial fails
# at once with "Invalid function").
#   windows_serial_test.sh <wine-run> <qorvexal-cli.exe> <morvaksim (native)> <work directory>
# Exits 77 (skipped) without a native morvaksim.
wine_run=$1
cli=$2
morvaksim=$3
work=$4
if [ ! -x "$morvaksim" ]; then
  echo "no native morvaksim at $morvaksim: skipped"
  exit 77
fi
rm -rf "$work"
mkdir -p "$work"
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

base=$(sed -n 's/^export WINEPREFIX="\(.*\)"$/\1/p' "$wine_run")
if [ ! -f "$base/system.reg" ]; then
  "$wine_run" cmd /c exit >/dev/null 2>&1 # boots the build prefix
fi
[ -f "$base/system.reg" ] || { echo "FAIL: no Wine prefix at $base"; exit 1; }

# The device: its console at 38400 baud (every probe row is tried), TFTP on a loopback address and a
# port chosen here; a port in use ends morvaksim at once, and another is tried.
link=$work/ttyA
address=127.0.$((($$ % 200) + 20)).$((($$ / 200) % 200 + 20))
. "$(dirname "$0")/morvaksim.sh"
sim=
for try in 1 2 3 4 5 6 7 8; do
  port=$((20000 + ($$ * 7 + try * 1237) % 30000))
  sim_start "$work/sim.log" "$morvaksim" --dir "$work/state" --port "$port" --serial "$link" --console-baud 38400 \
    --verbose --restart-ms 1000 "$address" && sim=$sim_pid && break
done
prefix=$work/prefix
cleanup() {
  [ -n "$sim" ] && kill "$sim" 2>/dev/null
  [ -d "$prefix" ] && WINEPREFIX=$prefix wineserver -k 2>/dev/null
}
trap cleanup EXIT
[ -n "$sim" ] || { cat "$work/sim.log"; echo "FAIL: morvaksim did not start"; exit 1; }

# The test's prefix: the build prefix's registry (so Wine sees nothing to update) and its drive C.
mkdir -p "$prefix/dosdevices"
cp "$base/system.reg" "$base/user.reg" "$base/userdef.reg" "$prefix/"
[ -f "$base/.update-timestamp" ] && cp "$base/.update-timestamp" "$prefix/"
ln -s "$base/drive_c" "$prefix/drive_c"
ln -s ../drive_c "$prefix/dosdevices/c:"
ln -s / "$prefix/dosdevices/z:"
wine=wine
if [ -x /usr/lib/wine/wine64 ] && od -A n -t x1 -j "$(od -A n -t u4 -j 60 -N 4 "$cli" | tr -d ' ')" -N 6 "$cli" \
    | grep -q "50 45 00 00 64 86"; then
  wine=/usr/lib/wine/wine64 # a 64-bit program: the 64-bit loader directly (see wine-run)
fi
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d;winedbg.exe=d"
# Wine's helper processes outlive a program and would hold a pipe open: output goes through a file.
run() {
  timeout 150 "$wine" "$@" >"$work/out" 2>&1 </dev/null
  rc=$?
  cat "$work/out"
  return $rc
}
# The mapping is written once the prefix's first server has ended and saved the registry (the first
# program in a new prefix also starts its services, which a loaded machine may hold past reg's own
# bound): decided by the saved value, with a bounded number of attempts.
mapped() { grep -qF "\"COM7\"=\"$link\"" "$prefix/system.reg"; }
for _ in 1 2 3; do
  run reg add 'HKLM\Software\Wine\Ports' /v COM7 /d "$link" /f >/dev/null
  timeout 120 wineserver -w 2>/dev/null || { wineserver -k 2>/dev/null; wineserver -w 2>/dev/null; }
  mapped && break
done
mapped || fail "COM7 not mapped: $(cat "$work/out")"
# A server of the prefix's own that reads the mapping, kept for the test's programs.
wineserver -p 2>/dev/null

cp "$cli" "$work/qorvexal-cli.exe"
cd "$work" || exit 1
printf '[Options]\r\n' >q.ini

out=$(run qorvexal-cli.exe --ini q.ini serial ports)
printf "%s\n" "serial ports: $out"
printf "%s\n" "$out" | tr -d '\r' | grep -qx COM7 || fail "serial ports does not list COM7"

out=$(run qorvexal-cli.exe --ini q.ini check serial:COM7)
rc=$?
printf "%s\n" "check serial:COM7 ($rc): $out"
[ $rc = 0 ] && printf "%s\n" "$out" | grep -q "Ok" || fail "check over COM7"
grep -q "ttyA: line 38400 8N1 rtscts=on" sim.log || fail "console not set to 38400 8N1 with RTS/CTS"

out=$(run qorvexal-cli.exe --ini q.ini read serial:COM7 console.txt)
rc=$?
printf "%s\n" "read serial:COM7 ($rc): $out"
[ $rc = 0 ] && [ -s console.txt ] || fail "read over COM7"
out=$(run qorvexal-cli.exe --ini q.ini read "$address:$port" tftp.txt)
rc=$?
[ $rc = 0 ] && [ -s tftp.txt ] || fail "read over TFTP ($rc): $out"
cmp -s console.txt tftp.txt || fail "the configuration read over COM7 differs from the one read over TFTP"

# Dial-up: Wine binds the functions but connects nothing; the check ends with "Dial-Up error".
start=$(date +%s)
out=$(run qorvexal-cli.exe --ini q.ini check "ras:0301234@$address:$port")
rc=$?
elapsed=$(($(date +%s) - start))
printf "%s\n" "dial-up check ($rc, ${elapsed} s): $out"
[ $rc != 0 ] && printf "%s\n" "$out" | grep -q "Dial-Up error" || fail "dial-up check did not end with Dial-Up error"
[ "$elapsed" -le 120 ] || fail "dial-up check took ${elapsed} s (at most 120)"

if [ $failures -gt 0 ]; then
  echo "$failures failure(s)"
  exit 1
fi
echo "all passed"
