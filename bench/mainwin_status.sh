#!/bin/bash
# The main window's status updates during a check-all of COUNT simulated devices (default 1000):
# qorvexal.exe under Wine checks them all against morvaksim on loopback; the window thread's time for
# the worker's status updates (their messages and the list's paints; the list's saves counted apart) is
# compared with as many bare list-view text updates (mainwin_status_peer.exe) in the same run, the
# fastest of ROUNDS (default 3) of each. Prints both, their parts and the ratio (aim: within 2).
#   [ROUNDS=N] bench/mainwin_status.sh [COUNT]
# Needs the windows preset (qorvexal.exe, mainwin_status_peer.exe) and the native morvaksim built; uses
# $DISPLAY or a private Xvfb. Runs in a private network namespace where one can be made.
# Says on standard error what it waits for, with the seconds since it started.
set -uo pipefail
t0=${BENCH_T0:-$(date +%s.%N)} # kept across the start again in the network namespace
export BENCH_T0=$t0
phase() { printf '[%6.1f s] %s\n' "$(echo "$(date +%s.%N) - $t0" | bc)" "$*" >&2; }
root=$(cd "$(dirname "$0")/.." && pwd)
count=${1:-1000}
bin=$root/build/windows/bin
sim=$root/build/native/bin/morvaksim
for f in "$bin/qorvexal.exe" "$bin/mainwin_status_peer.exe" "$sim" "$root/build/windows/wine-run"; do
  [ -e "$f" ] || { echo "missing $f: build the windows and native presets first" >&2; exit 1; }
done
if [ -z "${BENCH_NETNS:-}" ]; then
  phase "making the Wine prefix and its server ready"
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
phase "starting the simulator with $count devices (waiting up to 60 s for it to say it serves them)"
for _ in 1 2 3 4 5; do
  base=127.$((RANDOM % 200 + 20)).0.1
  port=$((RANDOM % 20000 + 30000))
  "$sim" --port "$port" --count "$count" --no-restart "$base" >"$work/sim.log" 2>&1 &
  sim_pid=$!
  # A thousand devices take their time to start on a busy machine (12 s at a load of 8).
  for _ in $(seq 1 600); do
    grep -q "device(s) from" "$work/sim.log" && break
    kill -0 "$sim_pid" 2>/dev/null || break
    sleep 0.1
  done
  grep -q "device(s) from" "$work/sim.log" && break
  kill "$sim_pid" 2>/dev/null
  sim_pid=
done
[ -n "$sim_pid" ] || { cat "$work/sim.log"; exit 1; }
phase "simulator ready ($count devices)"

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

phase "starting qorvexal.exe (waiting up to 120 s for its test channel)"
"$wine" "$work/app/qorvexal.exe" /testctl:0 >"$work/app.log" 2>&1 </dev/null &
app_pid=$!
p=$(ctl_wait_port "$work/app.log") || { cat "$work/app.log"; exit 1; }
ctl_open "$p"
phase "qorvexal.exe answers; waiting for it to be idle (up to 300 s)"
ctl idle >/dev/null || exit 1
phase "idle"
# ROUNDS check-alls (the first one learns what the devices report, the others as F5 again), each timed
# on its own, and as many runs of the peer: the fastest of each is compared (on a busy machine the
# other programs' share of the processor varies from one second to the next, the fastest run is the
# one least disturbed).
rounds=${ROUNDS:-3}
best= best_timing= first_s= ok=
for round in $(seq 1 "$rounds"); do
  ctl timing reset >/dev/null || exit 1
  start=$(date +%s.%N)
  phase "round $round: check all, waiting for it to end (up to 300 s)"
  ctl command 1309 >/dev/null || exit 1 # Check all
  ctl idle >/dev/null || exit 1
  end=$(date +%s.%N)
  phase "round $round: idle after $(echo "$end - $start" | bc) s"
  timing=$(ctl timing)
  w=$(printf '%s\n' "$timing" | awk '$1 == "window_us" { print $2 }')
  [ -n "$first_s" ] || { first_s=$(echo "$end - $start" | bc); ok=$(ctl list | awk -F '\t' '$2 == "Ok"' | wc -l); }
  if [ -z "$best" ] || [ "$w" -lt "$best" ]; then best=$w best_timing=$timing; fi
  printf 'round %d: window thread %.1f ms\n' "$round" "$(echo "$w / 1000" | bc -l)"
done
ctl command 40001 >/dev/null
timing=$best_timing
field() { printf '%s\n' "$timing" | awk -v k="$1" '$1 == k { print $2 }'; }
updates=$(field updates)
window_us=$(field window_us)
cpu_us=$(field cpu_us)
peer_us= peer_cpu_us=
for round in $(seq 1 "$rounds"); do
  peer=$("$wine" "$bin/mainwin_status_peer.exe" "$updates" 2>/dev/null | tr -d '\r')
  p_us=$(printf '%s\n' "$peer" | awk '$1 == "peer_us" { print $2 }')
  p_cpu=$(printf '%s\n' "$peer" | awk '$1 == "peer_cpu_us" { print $2 }')
  printf 'peer round %d: %.1f ms\n' "$round" "$(echo "$p_us / 1000" | bc -l)"
  if [ -z "$peer_us" ] || [ "$p_us" -lt "$peer_us" ]; then peer_us=$p_us peer_cpu_us=$p_cpu; fi
done
printf 'check all: %d devices, %d Ok, %.1f s (the first round)\n' "$count" "$ok" "$first_s"
printf 'fastest of %d: status updates %d; window thread %.1f ms; bare list-view text updates %.1f ms\n' \
  "$rounds" "$updates" "$(echo "$window_us / 1000" | bc -l)" "$(echo "$peer_us / 1000" | bc -l)"
printf 'window thread by part: %d redraws (messages and timer ticks) %.1f ms (%s cells in sight to paint again), %d list paints %.1f ms (%d display-info and %d custom-draw notifications); apart: %d list saves %.1f ms\n' \
  "$(field redraws)" "$(echo "$(field redraw_us) / 1000" | bc -l)" "$(field cells)" "$(field paints)" "$(echo "$(field paint_us) / 1000" | bc -l)" \
  "$(field dispinfo)" "$(field customdraw)" "$(field saves)" "$(echo "$(field save_us) / 1000" | bc -l)"
printf 'processor time (10 ms steps): the window thread during that check-all %.0f ms, the peer during its updates %.0f ms\n' \
  "$(echo "$cpu_us / 1000" | bc -l)" "$(echo "$peer_cpu_us / 1000" | bc -l)"
printf 'ratio %.2f (aim: within 2); in processor time %.2f\n' "$(echo "$window_us / $peer_us" | bc -l)" \
  "$(echo "$cpu_us / ($peer_cpu_us + 1)" | bc -l)"
