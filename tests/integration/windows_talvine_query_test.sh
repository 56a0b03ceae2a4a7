#!/bin/bash
# talvine.exe's question before a script action, under Wine and Xvfb, driven through its test control
# channel (talvine-cli ctl), in a network namespace of its own where morvaksim answers on SNMP port 161 at
# 127.0.77.1 with 12 accounting rows. The shipped "Clear accounting" (query 0x21) asks with Yes and No
# and the warning icon, No keeps the rows, Yes clears them; a query 0x120 runs its action on No only; a
# query with a check box and a settings key (0x12: OK, Cancel, the error icon) stores the key when OK is
# given with the box ticked, and after that runs without asking. Screenshots are kept in the work directory.
#   windows_talvine_query_test.sh <wine-run> <talvine.exe> <morvaksim> <talvine-cli> <script> <work directory>
# Exits 77 (skipped) without a display, without the native programs, or where no network namespace can
# be made.
wine_run=$1
exe=$2
sim=$3
cli=$4
script=$5
work=$6

. "$(dirname "$0")/windows_preamble.sh"
[ -x "$sim" ] && [ -x "$cli" ] || { echo "no native morvaksim or talvine-cli: skipped"; exit 77; }
wine_begin "$work/prefix" "$@"

host=127.0.77.1
sim_start "$work/sim.log" "$sim" --port 69 --snmp-port 161 --type "Morvak 5000" --accounting-rows 12 $host \
  || { cat "$work/sim.log"; fail "morvaksim did not start"; exit 1; }

app=$work/app
rm -rf "$app"
mkdir -p "$app"
cp "$exe" "$app/talvine.exe"
# The shipped script, with two more menu entries on the Accounting item: one acting on No, one with a
# check box and its key.
dsc=$app/$(basename "$script")
cp "$script" "$dsc"
sed -i 's/^\(  action   menudef:ShowAccounting menu:ClearAccounting\)\r\?$/\1 menu:OpenVpnOnNo menu:OpenOnce/' "$dsc"
grep -q 'menu:OpenOnce' "$dsc" || { fail "the Accounting item's actions changed in $script"; exit 1; }
cat >>"$dsc" <<'EOF'

function OpenVpnOnNo
  text     "VPN on No"
  query    0x120, "Keep the VPN view closed?"
  execplugin vpn, OpenView

function OpenOnce
  text     "Accounting once"
  query    0x12, "Open the accounting view of $a?", "Do not ask again", "OpenOnce_$a"
  execplugin accounting, ""
EOF

port=
c() { "$cli" ctl --port "$port" "$@"; }

wait_tree() {
  for _ in $(seq 1 150); do
    c tree 2>/dev/null | grep -qE "$1" && return 0
    sleep 0.2
  done
  return 1
}
shot() {
  local name=$1 windows
  windows=$(winepath -w "$work/$name.bmp" 2>/dev/null)
  c shot "${windows//\\/\\\\}" >/dev/null && convert "$work/$name.bmp" "$work/$name.png" && rm -f "$work/$name.bmp" \
    || fail "screenshot $name"
}
# The active window's handle once it is the question (a dialog titled Travik); fails after 10 s.
question=
wait_question() {
  local w
  for _ in $(seq 1 100); do
    w=$(c windows | head -n 1)
    if [ "$(echo "$w" | cut -f 2-)" = $'#32770\tTravik' ]; then
      question=$(echo "$w" | cut -f 1)
      return 0
    fi
    sleep 0.1
  done
  question=
  return 1
}
wait_no_question() {
  for _ in $(seq 1 100); do
    [ "$(c windows | head -n 1 | cut -f 2-)" = $'#32770\tTravik' ] || return 0
    sleep 0.1
  done
  return 1
}
# The question's buttons and check box, one "ID TEXT STATE" line each.
question_controls() {
  c controls "$question" | awk -F '\t' '$3 == "button" || $3 == "checkbox" { print $1 " " $5 " " $4 }'
}
acc_rows() {
  "$cli" accounting -p 161 -c public "$host" | tail -n +2 | wc -l
}
wait_view() {
  for _ in $(seq 1 100); do
    c views 2>/dev/null | grep -qE "$1" && return 0
    sleep 0.1
  done
  return 1
}
options_key() {
  tr -d '\r' <"$app/talvine.ini" 2>/dev/null | sed -n '/^\[Options\]/,/^\[/p' | sed -n "s/^$1=//p"
}

"$wine" "$app/talvine.exe" /testctl:0 /add:$host:private >"$work/app.log" 2>&1 </dev/null &
app_pid=$!
port=$(ctl_wait_port "$work/app.log") || { cat "$work/app.log"; fail "no test control port"; exit 1; }
wait_tree "^device ${host//./\\.} Morvak 5000 noanswer=0 registered=1" || { fail "device not detected: $(c tree)"; exit 1; }
wait_tree '^ +Accounting ' || { fail "no Accounting item: $(c tree)"; exit 1; }
[ "$(acc_rows)" = 12 ] || fail "the device does not hold 12 accounting rows at first: $(acc_rows)"

# 1. The shipped Clear (query 0x21): Yes and No, the warning icon, the script's text; No clears nothing.
c select Accounting && c command 3501 || fail "Clear accounting"
wait_question || fail "no question for Clear: $(c windows)"
[ "$(question_controls)" = $'6 Yes e\n7 No e' ] || fail "Clear's buttons: $(question_controls)"
c controls "$question" | grep -q $'\tClear the accounting data stored in the device?$' \
  || fail "Clear's message: $(c controls "$question")"
[ "$(c dialogicon "$question")" = warning ] || fail "Clear's icon: $(c dialogicon "$question")"
shot query-clear
c press 7 || fail "No"
wait_no_question || fail "the question stayed after No"
[ "$(acc_rows)" = 12 ] || fail "No cleared the accounting rows: $(acc_rows) left"
c select Accounting && c command 3501 || fail "Clear accounting again"
wait_question || fail "no question for Clear again: $(c windows)"
c press 2 2>/dev/null && fail "a Cancel button on a Yes/No question"
c press 6 || fail "Yes"
wait_no_question || fail "the question stayed after Yes"
cleared=
for _ in $(seq 1 50); do [ "$(acc_rows)" = 0 ] && { cleared=1; break; }; sleep 0.2; done
[ -n "$cleared" ] || fail "Yes did not clear the accounting rows: $(acc_rows) left"

# 2. Query 0x120: Yes and No with the information icon; Yes runs nothing, No opens the VPN view.
c select Accounting && c command 3502 || fail "VPN on No"
wait_question || fail "no question for 0x120: $(c windows)"
[ "$(question_controls)" = $'6 Yes e\n7 No e' ] || fail "0x120's buttons: $(question_controls)"
[ "$(c dialogicon "$question")" = information ] || fail "0x120's icon: $(c dialogicon "$question")"
c press 6 || fail "Yes"
wait_no_question || fail "the question stayed after Yes"
c views | grep -q '^vpn ' && fail "Yes to 0x120 opened the VPN view: $(c views)"
c select Accounting && c command 3502 || fail "VPN on No again"
wait_question || fail "no question for 0x120 again: $(c windows)"
c press 7 || fail "No"
wait_view '^vpn ' || fail "No to 0x120 did not open the VPN view: $(c views)"

# 3. Query 0x12 with a check box and a key: OK and Cancel, the error icon; Cancel with the box ticked
#    stores nothing; OK with it ticked runs and stores 1; then the action runs without a question.
c select Accounting && c command 3503 || fail "Accounting once"
wait_question || fail "no question for 0x12: $(c windows)"
[ "$(question_controls)" = $'4403 Do not ask again e\n1 OK e\n2 Cancel e' ] \
  || fail "0x12's controls: $(question_controls)"
c controls "$question" | grep -q $'\tOpen the accounting view of 127.0.77.1?$' \
  || fail "0x12's message: $(c controls "$question")"
[ "$(c dialogicon "$question")" = error ] || fail "0x12's icon: $(c dialogicon "$question")"
c check 4403 1 || fail "tick the box"
shot query-checkbox
c press 2 || fail "Cancel"
wait_no_question || fail "the question stayed after Cancel"
c views | grep -q '^acc ' && fail "Cancel opened the accounting view: $(c views)"
[ -z "$(options_key "OpenOnce_$host")" ] || fail "Cancel stored the key: $(options_key "OpenOnce_$host")"
c select Accounting && c command 3503 || fail "Accounting once again"
wait_question || fail "no question for 0x12 again: $(c windows)"
c check 4403 1 && c press 1 || fail "tick the box and OK"
wait_view '^acc ' || fail "OK did not open the accounting view: $(c views)"
[ "$(options_key "OpenOnce_$host")" = 1 ] || fail "OK with the box ticked did not store the key: $(cat "$app/talvine.ini")"
# Closed, then asked for again: no question, the view opens at once.
for _ in $(seq 1 100); do [ "$(c windows | head -n 1 | cut -f 2)" = TravikAccountingPlugin ] && break; sleep 0.1; done
c press 106 || fail "Close of the accounting view"
for _ in $(seq 1 50); do c views | grep -q '^acc ' || break; sleep 0.1; done
c views | grep -q '^acc ' && fail "the accounting view did not close: $(c views)"
c select Accounting && c command 3503 || fail "Accounting once, the third time"
wait_view '^acc ' || fail "the stored key did not run the action: $(c views) $(c windows)"
[ "$(c windows | head -n 1 | cut -f 2-)" = $'#32770\tTravik' ] && fail "asked although the key is stored"

c exit || fail "exit"
for _ in $(seq 1 200); do kill -0 "$app_pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$app_pid" 2>/dev/null && fail "the program did not end"
app_pid=
echo "screenshots in $work"
echo "$failures failure(s)"
[ "$failures" = 0 ]
