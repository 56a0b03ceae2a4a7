#!/bin/sh
# ostrel-cli on Linux: decode reads status buffers (whole, broken, missing) and the driver commands say
# they need Windows.
#   ostrel_cli_test.sh <ostrel-cli> <directory of status buffers (the capi_status fuzz seeds)>
cli=$1
seeds=$2
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

out=$("$cli" decode "$seeds/full") || fail "decode full: exit $?"
expected='devices 2 available 1 applications 2 connections 2
device id=1 attachment=1 state=1 channels=2 free=1 outgoing-only=0 location="Hall" name="LAN box" numbers="123/456;789" profile=8
connection id=10 device=1 incoming=1 connected-ms=10000 received=100 sent=200 last-transfer-ms=9600 number="0301234"
application
device id=2 attachment=2 state=2 channels=2 free=1 outgoing-only=0 location="" name="COM1" numbers="" profile=0
application
connection id=11 device=2 incoming=0 connected-ms=0 received=100 sent=200 last-transfer-ms=0 number=""
walked 249 of 249 bytes'
[ "$out" = "$expected" ] || { echo "$out"; fail "decode full"; }

# A first record that claims more bytes than the buffer holds: nothing is walked, and decode fails.
out=$("$cli" decode "$seeds/short" 2>/dev/null) && fail "decode short: exit 0"
[ "$out" = 'devices 0 available 0 applications 0 connections 0
walked 0 of 48 bytes' ] || { echo "$out"; fail "decode short"; }
err=$("$cli" decode "$seeds/short" 2>&1 >/dev/null)
[ "$err" = 'ostrel-cli: a record at byte 0 does not fit the buffer' ] || fail "decode short: '$err'"

# Offsets outside the record read as empty texts; an unknown kind is shown as such.
out=$("$cli" decode "$seeds/badtext") || fail "decode badtext: exit $?"
echo "$out" | grep -qx 'device id=1 attachment=1 state=1 channels=2 free=2 outgoing-only=0 location="" name="" numbers="" profile=0' \
  || { echo "$out"; fail "decode badtext device"; }
echo "$out" | grep -qx 'record kind=9 length=12' || fail "decode badtext: unknown kind"

"$cli" decode /nonexistent/status.bin 2>/dev/null
[ $? = 1 ] || fail "an unreadable file does not exit 1"
"$cli" decode 2>/dev/null
[ $? = 2 ] || fail "decode without a file does not exit 2"
# view: the status buffer as the task shows it, tooltips under their items.
out=$("$cli" view --name "Hall CAPI" "$seeds/full") || fail "view full: exit $?"
echo "$out" | head -n 5 | tr '\n' '|' | grep -qx 'icon 2|tip Hall CAPI - One device available|CAPI devices: 1|Applications: 2|Connections: 2|' \
  || { echo "$out"; fail "view: tray and counters"; }
echo "$out" | grep -qx '    Connected to 0301234 \[image 9\]' || fail "view: call item"
echo "$out" | grep -qx '      > Connected for 10 seconds' || fail "view: call tooltip"
out=$("$cli" view --deactivated "$seeds/short") || fail "view short: exit $?"
[ "$out" = 'icon 4
tip Zevra Remote CAPI - Deactivated
CAPI devices: 0
Applications: 0
Connections: 0
buffer cut: a record at byte 0 does not fit; 0 of 48 bytes shown' ] || { echo "$out"; fail "view short"; }

for command in "watch" "settings" "suspend 1" "disconnect 5" "state" "activate" "deactivate --force" "reload"; do
  err=$("$cli" $command 2>&1)
  rc=$?
  [ $rc = 2 ] && [ "$err" = "ostrel-cli: not available on this system" ] || fail "$command: exit $rc, '$err'"
done
"$cli" --help | grep -q 'decode FILE' || fail "--help does not list decode"

if [ $failures -gt 0 ]; then
  echo "$failures failure(s)"
  exit 1
fi
echo "all passed"
