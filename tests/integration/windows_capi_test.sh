#!/bin/sh
# The driver interface under Wine against the substitute driver capisim.sys, loaded as the kernel-driver
# service "ZevraCapiDrv": ostrel-cli watch sees each pushed status once; settings --send, suspend and
# disconnect reach the driver byte for byte; watch --count 1 ends promptly while a request is pending;
# failing requests cost next to no CPU; as Windows 98, "DrvBaseKey" and the "Enum" walk find the key.
#   windows_capi_test.sh <wine-run> <ostrel-cli.exe> <capisim.exe> <work directory> <windows_capi_raw.exe>
wine_run=$1
cli=$2
capisim=$3
work=$4
raw=$5
rm -rf "$work"
mkdir -p "$work"
# wine-run prepares the prefix and its persistent server; programs whose output is read while they run
# are started with wine directly, in the same prefix.
"$wine_run" cmd /c exit 0 >/dev/null 2>&1
WINEPREFIX=$(sed -n 's/^export WINEPREFIX="\(.*\)"$/\1/p' "$wine_run")
export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d;winedbg.exe=d"
# The programs are 64-bit: the 64-bit loader directly, as wine-run does (with 32-bit Wine installed the
# launcher starts them through the 32-bit loader, whose emulated start would count as the watch's CPU).
wine=wine
[ -x /usr/lib/wine/wine64 ] && wine=/usr/lib/wine/wine64

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
watch_pid=
cleanup() {
  [ -n "$watch_pid" ] && kill "$watch_pid" 2>/dev/null
  "$wine_run" "$capisim" remove >/dev/null 2>&1
  "$wine_run" reg delete 'HKCU\Software\Wine\AppDefaults\ostrel-cli.exe' /f >/dev/null 2>&1
}
trap cleanup EXIT

# Little-endian 32-bit numbers and NUL-terminated texts as bytes.
le32() {
  printf "\\$(printf %03o $(($1 & 255)))\\$(printf %03o $((($1 >> 8) & 255)))\\$(printf %03o $((($1 >> 16) & 255)))\\$(printf %03o $((($1 >> 24) & 255)))"
}
text() {
  printf '%s\000' "$1"
}
# device ID ATTACHMENT STATE NAME: a device record with an empty location and no numbers.
device() {
  n=${#4}
  le32 1; le32 $((48 + 1 + n + 1 + 1)); le32 "$1"; le32 "$2"; le32 "$3"; le32 2; le32 1; le32 0
  le32 48; le32 49; le32 $((49 + n + 1)); le32 0
  text ""; text "$4"; text ""
}
# connection ID DEVICE NUMBER
connection() {
  le32 2; le32 $((48 + ${#3} + 1)); le32 "$1"; le32 "$2"; le32 0; le32 0; le32 1; le32 10000; le32 500; le32 600
  le32 9600; le32 48
  text "$3"
}
application() {
  le32 3; le32 8
}
name=$(printf '%01385d' 0 | tr 0 n)
{ device 1 1 1 "$name"; application; connection 5 1 0301234; } >"$work/status-a.bin"
{ device 1 1 2 "$name"; connection 5 1 0301234; application; } >"$work/status-b.bin"
size=$(wc -c <"$work/status-a.bin")
[ "$size" = 1500 ] || fail "status-a.bin has $size bytes, not 1500"
head -c 70000 /dev/zero >"$work/big.bin"

now_ms() {
  echo $(($(date +%s%N) / 1000000))
}
# Waits (bounded: 30 s) until file $1 has at least $2 lines.
wait_lines() {
  for _ in $(seq 1 600); do
    [ -f "$1" ] && [ "$(wc -l <"$1")" -ge "$2" ] && return 0
    sleep 0.05
  done
  return 1
}
# Waits (bounded: 30 s) until process $1 ended.
wait_end() {
  for _ in $(seq 1 600); do
    kill -0 "$1" 2>/dev/null || return 0
    sleep 0.05
  done
  return 1
}
# Windows programs end their lines with CR LF.
unix() {
  tr -d '\r' <"$1" >"$1.tmp" && mv "$1.tmp" "$1"
}
cpu_ticks() {
  awk '{ print $14 + $15 }' "/proc/$1/stat" 2>/dev/null
}

# 0. The status buffer itself, decoded.
"$wine_run" "$cli" decode "$work/status-a.bin" >"$work/decode.out" 2>&1 || fail "decode failed"
unix "$work/decode.out"
[ "$(head -n 1 "$work/decode.out")" = "devices 1 available 1 applications 1 connections 1" ] \
  || fail "decode: $(head -n 1 "$work/decode.out")"
grep -q '^connection id=5 device=1 incoming=1 connected-ms=10000 received=500 sent=600 last-transfer-ms=9600 number="0301234"' \
  "$work/decode.out" || fail "decode: no connection line"
grep -q '^walked 1500 of 1500 bytes' "$work/decode.out" || fail "decode: walk"

# 1. The driver loads as a kernel-driver service; a file over 64 KiB is refused.
"$wine_run" "$capisim" install >"$work/install.out" 2>&1 || { cat "$work/install.out"; fail "install failed"; exit 1; }
"$wine_run" "$capisim" push "$work/big.bin" >/dev/null 2>&1 && fail "a 70000-byte push was taken"

# 2. watch: a line for the (empty) status at open, then one per push. The 1500-byte status needs the
# second request size; status-b differs in every count, so a line seen twice would show.
"$wine" "$cli" watch --count 3 >"$work/watch.out" 2>"$work/watch.err" &
watch_pid=$!
wait_lines "$work/watch.out" 1 || fail "watch printed nothing"
"$wine_run" "$capisim" push "$work/status-a.bin" || fail "push a"
wait_lines "$work/watch.out" 2 || fail "watch missed the first push"
"$wine_run" "$capisim" push "$work/status-b.bin" || fail "push b"
wait_end "$watch_pid" || fail "watch --count 3 did not end"
watch_pid=
unix "$work/watch.out"
printf 'devices 0 available 0 applications 0 connections 0\ndevices 1 available 1 applications 1 connections 1\ndevices 1 available 0 applications 1 connections 1\n' >"$work/watch.expected"
cmp -s "$work/watch.out" "$work/watch.expected" || { cat "$work/watch.out" "$work/watch.err"; fail "watch lines"; }

# 3. watch --count 1 ends within a second of its line, though its next request is pending in the driver.
"$wine" "$cli" watch --count 1 >"$work/watch1.out" 2>&1 &
watch_pid=$!
wait_lines "$work/watch1.out" 1 || fail "watch --count 1 printed nothing"
t0=$(now_ms)
wait_end "$watch_pid" || fail "watch --count 1 did not end"
t1=$(now_ms)
watch_pid=
echo "watch --count 1 ended $((t1 - t0)) ms after its line"
[ $((t1 - t0)) -lt 1000 ] || fail "watch --count 1 took $((t1 - t0)) ms to end"

# 4. Every request failing: the status thread pauses (100 ms doubling to 2 s), so watch idles. Measured
# over 4 s after its start-up; then "fail 0" lets the next request through at once.
"$wine_run" "$capisim" fail 1 || fail "fail 1"
"$wine" "$cli" watch --count 1 >"$work/watchf.out" 2>&1 &
watch_pid=$!
hz=$(getconf CLK_TCK)
# Wine's start-up of the program takes CPU of its own, for longer the busier the machine: the 4 s are
# measured from the first second in which the watch used under 5 % (at most 30 tries; a watch that
# never idles is measured after them and fails).
c0=$(cpu_ticks "$watch_pid")
for _ in $(seq 1 30); do
  sleep 1
  c=$(cpu_ticks "$watch_pid")
  settled=$([ -n "$c" ] && [ -n "$c0" ] && [ $(((c - c0) * 100)) -lt $((5 * hz)) ] && echo 1)
  c0=$c
  [ -n "$settled" ] && break
done
sleep 4
c1=$(cpu_ticks "$watch_pid")
if [ -n "$c0" ] && [ -n "$c1" ]; then
  echo "failing watch: $((c1 - c0)) ticks of $((4 * hz)) in 4 s"
  [ $(((c1 - c0) * 100)) -lt $((5 * 4 * hz)) ] || fail "failing watch used $((c1 - c0)) ticks in 4 s (5 % is $((4 * hz / 20)))"
else
  fail "no CPU figures for the failing watch"
fi
[ -s "$work/watchf.out" ] && fail "watch printed a status while every request failed"
"$wine_run" "$capisim" fail 0 || fail "fail 0"
wait_lines "$work/watchf.out" 1 || fail "watch did not recover after fail 0"
wait_end "$watch_pid" || fail "watch did not end after fail 0"
watch_pid=
unix "$work/watchf.out"
[ "$(cat "$work/watchf.out")" = "devices 1 available 0 applications 1 connections 1" ] \
  || fail "after fail 0: $(cat "$work/watchf.out")"

# 5. settings --send, suspend and disconnect: what the driver logs is what ostrel-cli built.
params='HKLM\System\CurrentControlSet\Services\ZevraCapiDrv\Parameters'
"$wine_run" reg add "$params" /v Flags /t REG_DWORD /d 5 /f >/dev/null 2>&1
"$wine_run" reg add "$params\\RCapi" /v RCapiSuspended /t REG_DWORD /d 1 /f >/dev/null 2>&1
"$wine_run" "$cli" settings --send >"$work/settings.out" 2>"$work/settings.err" \
  || { cat "$work/settings.err"; fail "settings --send"; }
unix "$work/settings.out"
"$wine_run" "$cli" suspend 1 || fail "suspend 1"
"$wine_run" "$cli" disconnect 5 || fail "disconnect 5"
"$wine_run" "$capisim" log >"$work/log.out" 2>&1 || fail "log"
unix "$work/log.out"
# The records as the native tests build them: the settings walk's key ends carry their data offset, the
# suspend command's key end 0.
suspended='setting type=4 name="RCapi\RCapiSuspended" data=01000000 bytes='
{
  printf 'setting type=4 name="Flags" data=05000000 bytes=%s\n' 01000000220000000400000018000000040000001e000000466c6167730005000000
  printf 'setting type=0 name="" data= bytes=%s\n' 01000000190000000000000018000000000000001900000000
  printf '%s%s\n' "$suspended" 01000000310000000400000018000000040000002d00000052436170695c524361706953757370656e6465640001000000
  printf 'setting type=0 name="RCapi\\" data= bytes=%s\n' 010000001f0000000000000018000000000000001f00000052436170695c00
} >"$work/settings.expected"
cmp -s "$work/settings.out" "$work/settings.expected" || { diff "$work/settings.expected" "$work/settings.out"; fail "settings records"; }
{
  cat "$work/settings.expected"
  printf '%s%s\n' "$suspended" 01000000310000000400000018000000040000002d00000052436170695c524361706953757370656e6465640001000000
  printf 'setting type=0 name="RCapi\\" data= bytes=%s\n' 010000001f0000000000000018000000000000000000000052436170695c00
  echo 'drop id=5 bytes=020000000c00000005000000'
} >"$work/log.expected"
cmp -s "$work/log.out" "$work/log.expected" || { diff "$work/log.expected" "$work/log.out"; fail "driver log"; }
# Malformed control buffers are refused (STATUS_INVALID_PARAMETER, error 87) and not logged; a good one
# after them is taken.
{ le32 2; le32 12; le32 5; le32 2; le32 7; } >"$work/short-record.bin"
{ le32 1; le32 30; le32 4; le32 24; le32 0; le32 30; printf 'Flags!'; } >"$work/no-nul.bin"
{ le32 1; le32 30; le32 4; le32 24; le32 4; le32 28; printf 'abc\000'; le32 1; } >"$work/data-past-end.bin"
{ le32 7; le32 8; } >"$work/unknown-kind.bin"
: >"$work/empty.bin"
{ le32 2; le32 12; le32 99; } >"$work/drop-99.bin"
for f in short-record no-nul data-past-end unknown-kind empty drop-99; do
  "$wine_run" "$raw" "$work/$f.bin" | tr -d '\r' >"$work/raw-$f.out"
done
for f in short-record no-nul data-past-end unknown-kind empty; do
  [ "$(cat "$work/raw-$f.out")" = "error 87" ] || fail "$f: $(cat "$work/raw-$f.out"), not error 87"
done
[ "$(cat "$work/raw-drop-99.out")" = "error 0" ] || fail "drop-99: $(cat "$work/raw-drop-99.out")"
"$wine_run" "$capisim" log >"$work/log2.out" 2>&1 || fail "log"
unix "$work/log2.out"
{
  cat "$work/log.expected"
  echo 'drop id=99 bytes=020000000c00000063000000'
} >"$work/log2.expected"
cmp -s "$work/log2.out" "$work/log2.expected" || { diff "$work/log2.expected" "$work/log2.out"; fail "log after malformed buffers"; }

# The drop took the call out of the driver's status.
"$wine" "$cli" watch --count 1 >"$work/after-drop.out" 2>&1
unix "$work/after-drop.out"
[ "$(cat "$work/after-drop.out")" = "devices 1 available 0 applications 1 connections 0" ] \
  || fail "after the drop: $(cat "$work/after-drop.out")"

# 6. As Windows 98: "DrvBaseKey" names the driver key; without it the "Enum" walk finds it.
"$wine_run" reg add 'HKCU\Software\Wine\AppDefaults\ostrel-cli.exe' /v Version /d win98 /f >/dev/null 2>&1
class='HKLM\System\CurrentControlSet\Services\Class'
"$wine_run" reg add "$class\\CapiTest\\0001\\Parameters" /v FromBaseKey /t REG_DWORD /d 1 /f >/dev/null 2>&1
"$wine_run" reg add "$class\\CapiTest\\0002\\Parameters" /v FromEnum /t REG_DWORD /d 2 /f >/dev/null 2>&1
# HKLM\Software has a view for 32-bit and one for 64-bit programs, and which one Wine's reg.exe writes
# depends on the Wine installed (with 32-bit Wine, the 32-bit one): the value goes into both, so that
# ostrel-cli finds it whatever its width.
for view in 32 64; do
  "$wine_run" reg add 'HKLM\Software\ZEVRA\Rcapi\Settings' /v DrvBaseKey \
    /d 'System\CurrentControlSet\Services\Class\CapiTest\0001' /f /reg:$view >/dev/null 2>&1
done
"$wine_run" "$cli" settings >"$work/win98-base.out" 2>&1 || fail "settings as win98 (DrvBaseKey)"
unix "$work/win98-base.out"
head -n 1 "$work/win98-base.out" | grep -q '^setting type=4 name="FromBaseKey"' \
  || fail "DrvBaseKey not used: $(head -n 1 "$work/win98-base.out")"
for view in 32 64; do
  "$wine_run" reg delete 'HKLM\Software\ZEVRA\Rcapi\Settings' /v DrvBaseKey /f /reg:$view >/dev/null 2>&1
done
"$wine_run" reg add 'HKLM\Enum\Root\CapiTest\0000' /v HardwareID /d OTHER /f >/dev/null 2>&1
"$wine_run" reg add 'HKLM\Enum\Root\CapiTest\0000' /v CompatibleIDs /d 'X,zevrarcapi' /f >/dev/null 2>&1
"$wine_run" reg add 'HKLM\Enum\Root\CapiTest\0000' /v Driver /d 'CapiTest\0002' /f >/dev/null 2>&1
"$wine_run" "$cli" settings >"$work/win98-enum.out" 2>&1 || fail "settings as win98 (Enum)"
unix "$work/win98-enum.out"
head -n 1 "$work/win98-enum.out" | grep -q '^setting type=4 name="FromEnum"' \
  || fail "Enum walk did not find the key: $(head -n 1 "$work/win98-enum.out")"
"$wine_run" reg delete 'HKCU\Software\Wine\AppDefaults\ostrel-cli.exe' /f >/dev/null 2>&1
"$wine_run" "$cli" settings >"$work/nt.out" 2>&1
unix "$work/nt.out"
head -n 1 "$work/nt.out" | grep -q '^setting type=4 name="Flags"' || fail "as NT again: $(head -n 1 "$work/nt.out")"

if [ $failures -gt 0 ]; then
  echo "$failures failure(s)"
  exit 1
fi
echo "all passed"
