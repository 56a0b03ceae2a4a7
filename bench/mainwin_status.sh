#!/bin/bash
# The main window's status updates during a check-all of COUNT simulated devices (default 1000):
# qorvexal.exe under Wine checks them all against morvaksim on loopback; the window thread's time for
# the worker's status updates (their messages and the list's paints) is compared with as many bare
# list-view text updates (mainwin_status_peer.exe) in the same run. Prints both and the ratio (aim:
# within 2).
#   bench/mainwin_status.sh [COUNT]
# Needs the windows preset (qorvexal.exe, mainwin_status_peer.exe) and the native morvaksim built; uses
# $DISPLAY or a private Xvfb. Runs in a private network namespace where one can be made.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
count=${1:-1000}
bin=$root/build/windows/bin
sim=$root/build/native/bin/morvaksim
for f in "$bin/qorvexal.exe" "$bin/mainwin_status_peer.exe" "$sim" "$root/build/windows/wine-run"; do
  [ -e "$f" ] || { echo "missing $f: build the windows and native presets first" >&2; exit 1; }
done
if [ -z "${BENCH_NETNS:-}" ]; then
  "$root/build/windows/wine-run" cmd /c exit 0 >/dev/null 2>&1 # the prefix and its server, made out here
  ns=(unshare -n)
  [ "$(id -u)" = 0 ] || ns=(unshare -rn)
  if "${ns[@]}" true 2>/dev/null; then
    BENCH_NETNS=1 exec "${ns[@]}" bash "$0" "$@"
  fi
else
  ip link set lo up
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/mainwin-status.XXXXXX")
xvfb_pid= sim_pid= app_pid=
cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null
  [ -n "${BENCH_NETNS:-}" ] && wineserver -k 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
if [ -z "${DISPLAY:-}" ]; then
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$work/display" >/dev/null 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 300); do [ -s "$work/display" ] && break; sleep 0.1; done
  export DISPLAY=:$(head -n 1 "$work/display")
fi
eval "$(grep '^export ' "$root/build/windows/wine-run")"
if [ -n "${BENCH_NETNS:-}" ]; then
  # Wine opens sockets in its server: a copy of the prefix with a server inside the namespace.
  cp -al "$WINEPREFIX" "$work/prefix" && for f in "$work"/prefix/*.reg; do cp --remove-destination "$WINEPREFIX/${f##*/}" "$f"; done
  export WINEPREFIX=$work/prefix
fi
wine=wine
[ -x /usr/lib/wine/wine64 ] && wine=/usr/lib/wine/wine64
. "$root/tests/integration/testctl.sh"

# The fleet on loopback, a free port (tried again when taken).
for _ in 1 2 3 4 5; do
  base=127.$((RANDOM % 200 + 20)).0.1
  port=$((RANDOM % 20000 + 30000))
  "$sim" --port "$port" --count "$count" --no-restart "$base" >"$work/sim.log" 2>&1 &
  sim_pid=$!
  for _ in $(seq 1 100); do
    grep -q "device(s) from" "$work/sim.log" && break
    kill -0 "$sim_pid" 2>/dev/null || break
    sleep 0.1
  done
  grep -q "device(s) from" "$work/sim.log" && break
  kill "$sim_pid" 2>/dev/null
  sim_pid=
done
[ -n "$sim_pid" ] || { cat "$work/sim.log"; exit 1; }

mkdir -p "$work/app"
cp "$bin/qorvexal.exe" "$work/app/"
{
  printf '%s\r\n' "[Options]" "SearchAtStartup=0" "DontAskForExit=1" "[DeviceList]" "Count=$count"
  IFS=. read -r a b c d <<<"$base"
  for i in $(seq 1 "$count"); do
    n=$((d + i - 1))
    printf '%d_Name=dev%d\r\n%d_Description=\r\n%d_Parameters=0;;IP;%s.%s.%d.%d:%d;3;\r\n' \
      "$i" "$i" "$i" "$i" "$a" "$b" $((c + n / 256)) $((n % 256)) "$port"
  done
} >"$work/app/qorvexal.ini"

"$wine" "$work/app/qorvexal.exe" /testctl:0 >"$work/app.log" 2>&1 </dev/null &
app_pid=$!
p=$(ctl_wait_port "$work/app.log") || { cat "$work/app.log"; exit 1; }
ctl_open "$p"
ctl idle >/dev/null
ctl timing reset >/dev/null
start=$(date +%s.%N)
ctl command 1309 >/dev/null # Check all
ctl idle >/dev/null
end=$(date +%s.%N)
timing=$(ctl timing)
ok=$(ctl list | awk -F '\t' '$2 == "Ok"' | wc -l)
ctl command 40001 >/dev/null
field() { printf '%s\n' "$timing" | awk -v k="$1" '$1 == k { print $2 }'; }
updates=$(field updates)
window_us=$(field window_us)
peer_us=$("$wine" "$bin/mainwin_status_peer.exe" "$updates" 2>/dev/null | awk '$1 == "peer_us" { print $2 }' | tr -d '\r')
printf 'check all: %d devices, %d Ok, %.1f s\n' "$count" "$ok" "$(echo "$end - $start" | bc)"
printf 'status updates: %d; window thread %.1f ms; bare list-view text updates %.1f ms\n' \
  "$updates" "$(echo "$window_us / 1000" | bc -l)" "$(echo "$peer_us / 1000" | bc -l)"
printf 'window thread by part: %d redraw messages %.1f ms, %d list paints %.1f ms (%d display-info and %d custom-draw notifications); apart: %d list saves %.1f ms\n' \
  "$(field redraws)" "$(echo "$(field redraw_us) / 1000" | bc -l)" "$(field paints)" "$(echo "$(field paint_us) / 1000" | bc -l)" \
  "$(field dispinfo)" "$(field customdraw)" "$(field saves)" "$(echo "$(field save_us) / 1000" | bc -l)"
printf 'ratio %.2f (aim: within 2)\n' "$(echo "$window_us / $peer_us" | bc -l)"
