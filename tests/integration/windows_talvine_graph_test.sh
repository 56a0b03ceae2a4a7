#!/bin/bash
# talvine.exe's graph window of kept values under Wine and Xvfb, driven through its test control channel
# (talvine-cli ctl), in a network namespace of its own where morvaksim answers on port 161 at 127.0.78.1.
# The native trend_fill first gives the device four days of kept values (a load wave and an interface
# counter, with a silent stretch); the program then keeps what it polls on top. The Load item's context
# menu entry opens the graph with its series; the whole kept time (over 60,000 points) redraws within
# 50 ms; the pointer shows the value under it; the CSV file holds every point with the gap; the picture
# reaches the clipboard; the properties sheet's button brings the device's graph up. Screenshots are kept
# in the work directory (graph-day.png, graph-all.png).
#   windows_talvine_graph_test.sh <wine-run> <talvine.exe> <morvaksim> <talvine-cli> <script> <trend_fill> <work>
# Exits 77 (skipped) without a display, without the native programs, or where no network namespace can
# be made.
wine_run=$1
exe=$2
sim=$3
cli=$4
script=$5
fill=$6
work=$7

. "$(dirname "$0")/windows_preamble.sh"
[ -x "$sim" ] && [ -x "$cli" ] && [ -x "$fill" ] || { echo "no native morvaksim, talvine-cli or trend_fill: skipped"; exit 77; }
wine_begin "$work/prefix" "$@"

host=127.0.78.1
sim_start "$work/sim.log" "$sim" --port 69 --snmp-port 161 --type "Morvak 5000" $host \
  || { cat "$work/sim.log"; fail "morvaksim did not start"; exit 1; }

app=$work/app
rm -rf "$app"
mkdir -p "$app"
cp "$exe" "$app/talvine.exe"
cp "$script" "$app/"
"$fill" "$app" $host 345600 3 || fail "trend_fill"

port=
c() { "$cli" ctl --port "$port" "$@"; }
wait_tree() {
  for _ in $(seq 1 150); do
    c tree 2>/dev/null | grep -qE "$1" && return 0
    sleep 0.2
  done
  return 1
}
field() {
  echo "$1" | tr ' ' '\n' | sed -n "s/^$2=//p"
}
shot() {
  local name=$1 windows
  windows=$(winepath -w "$work/$name.bmp" 2>/dev/null)
  c shot "${windows//\\/\\\\}" >/dev/null && convert "$work/$name.bmp" "$work/$name.png" && rm -f "$work/$name.bmp" \
    || fail "screenshot $name"
}
wait_class() {
  for _ in $(seq 1 100); do
    c windows 2>/dev/null | grep -q $'\t'"$1"$'\t' && return 0
    sleep 0.1
  done
  return 1
}

"$wine" "$app/talvine.exe" /testctl:0 /add:$host:private >"$work/app.log" 2>&1 </dev/null &
app_pid=$!
port=$(ctl_wait_port "$work/app.log") || { cat "$work/app.log"; fail "no test control port"; exit 1; }
wait_tree "^device ${host//./\\.} Morvak 5000 noanswer=0 registered=1" || { fail "device not detected: $(c tree)"; exit 1; }
wait_tree '^ +Load ' || { fail "no Load item: $(c tree)"; exit 1; }

# 1. The Load item's context menu entry (command 3090) opens the graph of its series.
c select "Load" || fail "select the Load item"
c command 3090 || fail "the graph entry"
wait_class TravikGraphWndClass || fail "no graph window: $(c windows)"
painted=$(c graph paint) || fail "graph paint"
echo "day: $painted"
[ "$(field "$painted" series)" = 1 ] || fail "the Load item's graph shows $(field "$painted" series) series"
[ "$(field "$painted" points)" -gt 20000 ] || fail "a day of points: $painted"
shot graph-day

# 2. The whole kept time of both series: over 60,000 points, redrawn within 50 ms (the best of three).
c graph open $host Load Interface:1:3 >/dev/null || fail "graph open with two series"
c graph range all || fail "range all"
best=100000
for _ in 1 2 3; do
  painted=$(c graph paint) || fail "graph paint"
  ms=$(field "$painted" ms)
  best=$(awk "BEGIN { print ($ms < $best) ? $ms : $best }")
done
echo "all: $painted (best $best ms)"
[ "$(field "$painted" series)" = 2 ] || fail "two series: $painted"
[ "$(field "$painted" points)" -ge 60000 ] || fail "fewer than 60,000 points: $painted"
awk "BEGIN { exit !($best < 50) }" || fail "redraw took $best ms"

# 3. The value under the pointer: the time and both series' values, the rate with its unit.
columns=$(field "$painted" columns)
point=$(c graph point $((170 + 64 + columns / 2))) || fail "graph point"
echo "pointer: $point"
case "$point" in *"Load: "[0-9]*"Interface:1:3: "[0-9]*"/s"*) ;; *) fail "value under the pointer: $point" ;; esac
shot graph-all

# 4. Saved as CSV: a header, both series, the silent stretch as a gap row.
csv=$work/graph.csv
c graph save "$(ctl_text "$(winepath -w "$csv")")" || fail "graph save"
head -n 1 "$csv" | grep -q $'^time (UTC),item,value,minimum,maximum,samples\r$' || fail "CSV header: $(head -n 1 "$csv")"
[ "$(grep -c ',Load,' "$csv")" -ge 30000 ] || fail "CSV rows of Load: $(grep -c ',Load,' "$csv")"
grep -q ',Interface:1:3,,,,0' "$csv" || fail "no gap row in the CSV file"
grep -qE '^[0-9-]+ [0-9:]+,Load,[0-9.]+,[0-9.]+,[0-9.]+,[0-9]+'$'\r''$' "$csv" || fail "CSV rows: $(sed -n 2p "$csv")"

# 5. Copied as a picture.
copied=$(c graph copy) || fail "graph copy"
[ "$(field "$copied" bitmap)" = 1 ] || fail "no bitmap on the clipboard: $copied"

# 6. The properties sheet's button brings the device's graph up.
c graph close || fail "graph close"
c select "Load" && c command 3005 || fail "properties"
for _ in $(seq 1 50); do c controls 2>/dev/null | grep -q $'^4205\t' && break; sleep 0.1; done
c press 4205 || fail "the properties sheet's graph button: $(c controls)"
wait_class TravikGraphWndClass || fail "no graph window from the properties sheet: $(c windows)"
painted=$(c graph paint) || fail "graph paint"
echo "properties: $painted"
[ "$(field "$painted" series)" -ge 2 ] || fail "the device's graph shows every kept series: $painted"
c press 2 >/dev/null 2>&1
c exit >/dev/null
echo "screenshots in $work"
echo "$failures failure(s)"
[ "$failures" = 0 ]
