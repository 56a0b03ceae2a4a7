#!/bin/bash
# The set-up wizard sheet of qorvexal.exe under Wine and Xvfb, driven through its test control channel,
# against morvaksim on loopback in a private network namespace: a search that finds an unconfigured
# device opens its wizard; the wizard of an unconfigured device opens without the selection page and
# Finish writes the device, which comes back at the address the wizard gave it; on a configured device
# the selection page, a page whose condition holds passed over forwards and backwards, Finish offered
# instead of a Next that leads nowhere, an item disabled by a show action greyed, an invalid entry
# keeping its page; the filter plug-in's page on Configure and its wizard adding two rules and deleting
# none. Screenshots of every page of the test wizard, the basic set-up and the filter wizard in wizard
# styles 0 and 1, English and German, are kept in the work directory; in style 1 the watermark of the
# filter wizard's closing page and of the sheet's last page fills its band without a gap.
#   windows_wizard_test.sh <wine-run> <qorvexal.exe> <qorvexal.dll> <morvaksim> <data directory> <work directory> [abi]
# With "abi" (the i686 build under 32-bit Wine) a short run: the plug-in's wizard in style 1 (the full
# page record) adds a rule, the filter page on Configure (the old record) lists it, and the wizard in
# style 0 (the old record: the library puts the header texts on its page) lists it for deletion.
# Exits 77 (skipped) without a display, a namespace or the native simulator.
wine_run=$1
exe=$2
dll=$3
sim=$4
data=$5
work=$6
mode=${7:-full}
. "$(dirname "$0")/windows_preamble.sh"
[ -x "$sim" ] || { echo "no native morvaksim at $sim: skipped"; exit 77; }
wine_begin "$work/wineprefix" "$@"
. "$(dirname "$0")/watermark.sh"
# A 32-bit program (the i686 build) goes to the launcher, which takes the 32-bit loader.
case $(file -b "$exe") in
  PE32+*) ;;
  *) wine=wine ;;
esac

# Three simulated devices, the first two not configured yet: the first is set up by the basic wizard,
# the second stays unconfigured for the basic wizard's pages in each style and language.
sim_start_loopback "$work/sim.log" "$sim" --dir "$work/simstate" --count 3 --unconfigured 2 --restart-ms 1000 \
  --search || { fail "morvaksim did not start"; exit 1; }
third=${base%.1}.3
moved=${base%.1}.9

app=$work/app
rm -rf "$app"
mkdir -p "$app"
cp "$exe" "$app/qorvexal.exe"
cp "$dll" "$app/qorvexal.dll"
cp "$data"/*.dsc "$data"/*.wiz "$app/"
# A wizard of the test's own: its middle page is passed over while the box on the first is set; its
# last page disables an item when shown.
cat >"$app/qorv9902.wiz" <<'WIZ'
wizard SKIPTEST, "Skip test", *, "Morvak 1100[ Plus;] 3.10"
section "First", "A switch decides"
onoff_switch skip
  description "Pass over the middle page"
  value_list "0", "1"
  value_text "Off", "On"
section "Middle", "Shown while the switch is off"
entryfield_text note
  description "Note"
skip_when wizard.skip, 1, equal
section "Last"
entryfield_text name
  description "Device name"
  never_empty 1
entryfield_text greyed
  description "Disabled when shown"
on_show
disable wizard.greyed
on_init
set wizard.name, config./sys/name
on_apply
set config./sys/name, wizard.name
WIZ
ini=$app/qorvexal.ini
# The device list with the devices numbered $@ (1 and 2 unconfigured, 3 configured).
write_ini() {
  local n count=0 lines=()
  for n in "$@"; do
    count=$((count + 1))
    lines+=("${count}_Name=MORVAK-000$n" "${count}_Description=" "${count}_Parameters=0;;IP;${base%.1}.$n:$port;2;")
  done
  printf '%s\r\n' "[Options]" "SearchAtStartup=0" "SearchPort=$port" "SearchLaunchWizard=1" "DontAskForExit=1" \
    "EasyConfig=0" "DontAskForUploadConfig=1" "[DeviceList]" "Count=$count" "${lines[@]}" >"$ini"
}

start_app() {
  app_start "$work/app.log" "$app/qorvexal.exe" "$@"
  ctl idle || fail "not idle after start"
}

stop_app() { app_stop; }

row() { ctl list | awk -F '\t' -v n="$1" '$1 == n'; }

# The id of the control after the label $1.
after_label() {
  ctl controls | awk -F '\t' -v l="$1" 'found && $3 != "static" { print $1; exit } $5 == l { found = 1 }'
}

# The sheet's buttons: Back, Next, Finish as "b n f" with 1 for enabled and visible.
NEXT=12324
BACK=12323
FINISH=12325
buttons() {
  ctl controls | awk -F '\t' -v b=$BACK -v n=$NEXT -v f=$FINISH '
    $1 == b { back = ($4 ~ /e/) } $1 == n { next_ = ($4 ~ /e/) } $1 == f { fin = ($4 ~ /e/) }
    END { printf "%d %d %d\n", back, next_, fin }'
}

# Waits (bounded) until the buttons match the pattern $1 ("1 ? 0").
buttons_are() {
  for _ in $(seq 1 50); do
    # shellcheck disable=SC2053
    [[ "$(buttons)" == $1 ]] && return 0
    sleep 0.1
  done
  return 1
}

# Presses the sheet's button $1 once it is enabled: the sheet sets its buttons by posted messages.
press() {
  for _ in $(seq 1 50); do
    ctl press "$1" 2>/dev/null && return 0
    sleep 0.1
  done
  fail "button $1 not enabled: $(ctl controls | grep "^$1	")"
  return 1
}

# Waits for the page whose controls show the text $1.
wait_page() {
  for _ in $(seq 1 100); do
    ctl controls | grep -qF "$1" && return 0
    sleep 0.1
  done
  fail "no page showing: $1"
  ctl controls >&2
  return 1
}

# The selection page, the test wizard's pages and Cancel, in one style and language; screenshots.
walk_task_wizards() {
  local tag=$1 caption=$2 device=$3
  ctl select "$device" && ctl command 1349 || { fail "$tag: setup wizard"; return; }
  ctl_wait_title "$caption" || { fail "$tag: no sheet"; return; }
  ctl controls | grep -q $'^3019\t' || fail "$tag: no selection list"
  buttons_are "0 0 0" || fail "$tag: buttons before a selection: $(buttons)"
  ctl pick 3019 "Skip test" || fail "$tag: pick"
  buttons_are "? 1 ?" || fail "$tag: Next not offered with a selection"
  shot "wizard-$tag-select"
  press $NEXT
  wait_page "Pass over the middle page" || return
  shot "wizard-$tag-first"
  # Style 1: the header bitmap in the white header's right end.
  if [ "${tag: -1}" = 1 ]; then
    local mean
    mean=$(convert "$work/wizard-$tag-first.png" -gravity NorthEast -crop 70x50+5+25 +repage -colorspace Gray \
      -format "%[fx:mean]" info:)
    awk "BEGIN { exit !($mean < 0.9) }" || fail "$tag: no header bitmap (mean grey $mean)"
  fi
  buttons_are "1 1 0" || fail "$tag: first page buttons: $(buttons)"
  press $NEXT
  wait_page "Note" || return
  shot "wizard-$tag-middle"
  press $NEXT
  wait_page "Disabled when shown" || return
  ctl controls | grep -q $'\tEdit\tedit\td\t' || fail "$tag: disabled item not grey: $(ctl controls)"
  buttons_are "? ? 1" || fail "$tag: no Finish on the last page"
  shot "wizard-$tag-last"
  press $BACK
  wait_page "Note"
  press $BACK
  wait_page "Pass over the middle page"
  press $BACK
  wait_page "Skip test"
  ctl press 2
  ctl idle
}
wait_title_prefix() {
  for _ in $(seq 1 100); do
    case $(ctl windows | head -n 1 | cut -f 3) in "$1"*) return 0 ;; esac
    sleep 0.1
  done
  fail "no window titled $1..."
  return 1
}
wait_control() { # the control $1 on the active window
  for _ in $(seq 1 100); do
    ctl controls | grep -q "^$1	" && return 0
    sleep 0.1
  done
  fail "no control $1"
  return 1
}
filter_tab() { # the filter page's tab (its title differs between the views)
  ctl controls | awk -F '\t' '$3 == "tab" { t = 1; next } t && /^\t/ { if (tolower($2) == "ip filter") print $2; next } { t = 0 }' | head -n 1
}
filter_rules() { # the rule names the filter page lists
  ctl controls | awk -F '\t' '$1 == 1001 { l = 1; next } l && /^\t/ { print $2; next } { l = 0 }'
}
wait_ok() { # device $1 answers again after a write
  for _ in $(seq 1 150); do
    row "$1" | grep -q $'\tOk\t' && return 0
    sleep 0.2
    ctl idle
  done
  fail "$1 not Ok after the write: $(ctl list)"
}
delete_rules() { # the rule names the filter wizard's delete page lists
  ctl controls | awk -F '\t' '$1 == 1095 { l = 1; next } l && /^\t/ { print $2; next } { l = 0 }'
}
configured_rules() { # the rules of the device's configuration, as the filter page of Configure lists them
  ctl select renamed && ctl command 1304 && ctl_wait_title "Configuration of renamed" || { fail "configure"; return; }
  ctl pick 12320 "$(filter_tab)" || fail "no filter page"
  filter_rules
  ctl press 2
  ctl idle
}

# The visible controls of the active window as a signature (ids, kinds and the labels' texts, not the
# buttons' states): a move to another page changes it.
page_sig() {
  ctl controls | awk -F '\t' '$1 != "" { print $1, $3, ($3 == "static" ? $5 : "") }' | md5sum
}

# The sheet's button $1, then waited for (bounded) until another page shows.
turn() {
  local before
  before=$(page_sig)
  press "$1" || return 1
  for _ in $(seq 1 100); do
    [ "$(page_sig)" != "$before" ] && return 0
    sleep 0.1
  done
  fail "no other page after button $1: $(ctl controls)"
  return 1
}

# The basic set-up of the unconfigured MORVAK-0002 (no selection page) and the filter wizard of the
# configured "renamed" page by page, each left with Cancel on its last page: a screenshot of every page.
# The controls of the plug-in's pages are found by their ids, the others by the change of page, so that
# this serves every language. $2: the sheet's caption without the device's name.
walk_shipped_wizards() {
  local tag=$1 caption=$2 filter=$3 style=${1: -1} page n
  ctl select MORVAK-0002 && ctl command 1349 && ctl_wait_title "${caption}MORVAK-0002" \
    || { fail "$tag: basic set-up"; return; }
  for page in device lan dhcp ready; do
    [ $page = device ] || { turn $NEXT || break; }
    [ $page = ready ] && { buttons_are "1 ? 1" || fail "$tag: no Finish on the basic set-up's last page: $(buttons)"; }
    shot "wizard-$tag-default-$page"
  done
  ctl press 2
  ctl idle
  ctl select renamed && ctl command 1349 && ctl_wait_title "${caption}renamed" || { fail "$tag: setup wizard"; return; }
  ctl pick 3019 "$filter" || fail "$tag: pick $filter"
  turn $NEXT && shot "wizard-$tag-filter-intro"
  press $NEXT
  wait_control 1070 && shot "wizard-$tag-filter-start"
  # The library's page of the old layout carries the header texts itself; the full one leaves them to
  # the sheet.
  if [ "$style" = 0 ]; then
    ctl controls | grep -q $'^1120\t' || fail "$tag: no header title on the plug-in's first page"
  else
    ctl controls | grep -q $'^1120\t' && fail "$tag: header title on the page though the sheet draws it"
  fi
  press $NEXT
  wait_control 1010 && ctl set 1010 shot
  [ "$(ctl limit 1010)" = 10 ] || fail "$tag: the wizard's rule name takes $(ctl limit 1010) characters, the name 10"
  shot "wizard-$tag-filter-name"
  for n in 1022:source 1032:dest 1080:service 1090:summary 1101:finish; do
    press $NEXT
    wait_control "${n%%:*}" && shot "wizard-$tag-filter-${n#*:}"
  done
  turn $NEXT && shot "wizard-$tag-filter-ready"
  buttons_are "1 ? 1" || fail "$tag: no Finish on the filter wizard's last page: $(buttons)"
  # Wizard-97 closing pages (the filter wizard's own and the sheet's last): the watermark fills its
  # band from the left edge up to the white page, in one piece.
  if [ "$style" = 1 ]; then
    for n in filter-finish filter-ready; do
      watermark_band "$work/wizard-$tag-$n.png" >"$work/band-$tag-$n.txt" \
        || fail "$tag: the watermark of $n is drawn in pieces: $(cat "$work/band-$tag-$n.txt")"
    done
  fi
  ctl press 2
  ctl idle
}

# ---- i686: the library's wizard in style 1 adds a rule, the filter page on Configure lists it, the
# wizard in style 0 offers it for deletion
if [ "$mode" = abi ]; then
  write_ini 3
  start_app /wizstyle:1
  ctl command 1309 && ctl idle || fail "check all"
  row MORVAK-0003 | grep -q $'\tOk\t' || fail "MORVAK-0003 not Ok: $(ctl list)"
  ctl select MORVAK-0003 && ctl command 1349 && ctl_wait_title "Setup Wizard for MORVAK-0003" || fail "sheet"
  ctl pick 3019 "IP filter" && turn $NEXT
  press $NEXT
  wait_control 1070
  ctl controls | grep -q $'^1120\t' && fail "header title on the page of the full record"
  shot abi-wizard1-start
  press $NEXT
  wait_control 1010 && ctl set 1010 abi
  for page in 1022 1032 1080 1090; do
    press $NEXT
    wait_control $page
  done
  press $NEXT
  wait_page "You have defined one new filter rule."
  turn $NEXT
  press $FINISH
  ctl idle
  wait_ok MORVAK-0003
  ctl select MORVAK-0003 && ctl command 1304 && ctl_wait_title "Configuration of MORVAK-0003" || fail "configure"
  ctl pick 12320 "$(filter_tab)" || fail "no filter page"
  [ "$(filter_rules)" = abi ] || fail "filter page on Configure does not list the rule: $(filter_rules)"
  shot abi-configure-filter
  ctl press 2
  ctl idle
  stop_app
  start_app /wizstyle:0
  ctl select MORVAK-0003 && ctl command 1349 && ctl_wait_title "Setup Wizard for MORVAK-0003" || fail "sheet"
  ctl pick 3019 "IP filter" && turn $NEXT
  press $NEXT
  wait_control 1070
  ctl controls | grep -q $'^1120\t.*\tConfigure TCP/IP Filter$' || fail "no header title on the page of the old record: $(ctl controls)"
  shot abi-wizard0-start
  ctl check 1071 1 && press $NEXT
  wait_control 1095
  [ "$(delete_rules)" = abi ] || fail "delete page does not list the rule: $(delete_rules)"
  shot abi-wizard0-delete
  press $NEXT
  wait_page "You have not deleted any filter rules."
  ctl press 2
  ctl idle
  stop_app
  if [ $failures -gt 0 ]; then
    echo "$failures failure(s)"
    exit 1
  fi
  echo "all passed; screenshots in $work"
  exit 0
fi

# ---- a search finds the unconfigured device: its wizard opens by itself, without the selection page
write_ini 2 3
start_app /wizstyle:1
ctl command 1307 && ctl_wait_title "Find Devices" || fail "no search dialog"
ctl check 3121 0 && ctl check 3122 0 && ctl check 3123 1 && ctl set 3124 127.0.0.0 && ctl set 3125 255.0.0.0 \
  && ctl press 1 || fail "search dialog input"
ctl idle
ctl_wait_title "Setup Wizard for MORVAK-0001" || fail "no wizard after the search found an unconfigured device"
wait_page "Device name"
ctl controls | grep -q $'^3019\t' && fail "selection page shown after the search"
shot wizard-en1-search
ctl press 2
ctl idle
row MORVAK-0001 | grep -q "$base:$port" || fail "found device not listed at its address: $(ctl list)"
stop_app
write_ini 1 2 3

start_app /wizstyle:1
ctl command 1309 && ctl idle || fail "check all"
row MORVAK-0001 | grep -q $'\tOk\t' || fail "unconfigured device not Ok: $(ctl list)"

# ---- a configured device: the selection page and the test wizard
walk_task_wizards en1 "Setup Wizard for MORVAK-0003" MORVAK-0003
ctl select MORVAK-0003 && ctl command 1349 && ctl_wait_title "Setup Wizard for MORVAK-0003" || fail "sheet again"
ctl pick 3019 "Skip test" && press $NEXT
wait_page "Pass over the middle page"
check=$(ctl controls | awk -F '\t' '$3 == "checkbox" { print $1; exit }')
ctl check "$check" 1 || fail "switch"
# The middle page's condition holds: Next goes to the last page, Back comes back over it.
press $NEXT
wait_page "Disabled when shown"
ctl controls | grep -q "Note" && fail "middle page shown though its condition holds"
press $BACK
wait_page "Pass over the middle page"
ctl controls | grep -q "Note" && fail "middle page shown going back"
press $NEXT
wait_page "Disabled when shown"
# An invalid entry keeps the page.
name=$(after_label "Device name")
ctl set "$name" "" && press $FINISH
ctl_wait_title Warning || fail "no message for the empty name"
ctl controls | grep -q "Please enter a value for 'Device name'!" || fail "empty name message: $(ctl controls)"
ctl press 1
ctl_wait_title "Setup Wizard for MORVAK-0003" || fail "sheet closed on an invalid entry"
ctl set "$name" "renamed"
press $FINISH
ctl idle
for _ in $(seq 1 100); do
  row renamed | grep -q $'\tOk\t' && break
  sleep 0.2
  ctl idle
done
row renamed | grep -q $'\tOk\t'"$third:$port" || fail "MORVAK-0003 not written as renamed: $(ctl list)"

# ---- the unconfigured device: DEFAULT without the selection page, written at a new address
ctl select MORVAK-0001 && ctl command 1349 || fail "setup wizard on MORVAK-0001"
ctl_wait_title "Setup Wizard for MORVAK-0001" || fail "no sheet for MORVAK-0001"
wait_page "Device name"
ctl controls | grep -q $'^3019\t' && fail "selection page shown for an unconfigured device"
buttons_are "0 1 0" || fail "DEFAULT first page buttons: $(buttons)"
shot wizard-en1-default-device
ctl set "$(after_label "Device name")" "branch" && ctl set "$(after_label "Configuration password")" "pw1"
press $NEXT
# A secret is asked for once more.
ctl_wait_title "Configuration password" && ctl set 100 pw1 && ctl press 1 || fail "password repetition"
wait_page "Netmask"
ctl set "$(after_label "IP address")" "$moved" && ctl set "$(after_label "Netmask")" 255.255.255.0
shot wizard-en1-default-lan
press $NEXT
wait_page "DHCP server"
shot wizard-en1-default-dhcp
press $NEXT
wait_page "Press Finish"
shot wizard-en1-default-ready
press $FINISH
ctl idle
for _ in $(seq 1 150); do
  row branch | grep -q $'\tOk\t'"$moved:$port" && break
  sleep 0.2
  ctl idle
done
row branch | grep -q $'\tOk\t'"$moved:$port" || fail "device not back at the wizard's address: $(ctl list)"

# ---- the filter plug-in: its page on Configure, and its wizard inside the set-up wizard sheet
rules_before=$(configured_rules)
ctl select renamed && ctl command 1304 && ctl_wait_title "Configuration of renamed" || fail "configure"
ctl pick 12320 "$(filter_tab)" || fail "no filter page"
[ "$(filter_rules)" = "$rules_before" ] || fail "filter page lists other rules: $(filter_rules)"
shot configure-filter
ctl press 1002 || fail "New"
wait_title_prefix "Filter rule"
# The rule name holds 10 characters: the field takes no more, also when typed (a longer name was once
# cut on saving without a word).
[ "$(ctl limit 1010)" = 10 ] || fail "the rule name field takes $(ctl limit 1010) characters, the name 10"
editor=$(xdotool search --name '^Filter rule' 2>/dev/null | head -n 1)
if [ -n "$editor" ]; then
  xdotool windowactivate --sync "$editor" 2>/dev/null || xdotool windowfocus --sync "$editor"
  ctl set 1010 "" && xdotool type --delay 30 "longrulename15c"
  # X input reaches the program on its own time: the text once it has stopped growing.
  typed= before=
  for _ in $(seq 1 40); do
    typed=$(ctl controls | awk -F '\t' '$1 == 1010 { print $5; exit }')
    [ ${#typed} -ge 10 ] && [ "$typed" = "$before" ] && break
    before=$typed
    sleep 0.5
  done
  echo "typed into the rule name: '$typed'"
  [ "$typed" = longrulena ] || fail "15 characters typed into the rule name gave '$typed'"
fi
ctl set 1010 ssh && ctl press 1 || fail "rule editor"
ctl_wait_title "Configuration of renamed" || fail "rule editor did not close"
filter_rules | grep -qx ssh || fail "new rule not listed: $(filter_rules)"
ctl press 1
ctl idle
wait_ok renamed
configured_rules | grep -qx ssh || fail "new rule not in the device's configuration"

ctl select renamed && ctl command 1349 && ctl_wait_title "Setup Wizard for renamed" || fail "filter wizard sheet"
ctl pick 3019 "IP filter" && press $NEXT
wait_page "This wizard sets up the rules of the IP filter"
shot wizard-en1-filter-intro
press $NEXT
wait_control 1070 && shot wizard-en1-filter-start
for rule in term all; do
  press $NEXT
  wait_control 1010
  ctl set 1010 "$rule"
  for page in 1022 1032 1080 1090; do
    press $NEXT
    wait_control $page
  done
  [ $rule = term ] && ctl check 1091 1
done
press $NEXT
wait_page "You have defined 2 new filter rules." && shot wizard-en1-filter-finish
press $NEXT
wait_page "Press Finish to write the new filter rules"
shot wizard-en1-filter-ready
press $FINISH
ctl idle
wait_ok renamed
after=$(configured_rules)
for rule in ssh term all; do
  grep -qx $rule <<<"$after" || fail "rule $rule not in the device's configuration: $after"
done
# A delete run that deletes nothing: the page lists the device's rules, the finish text says so.
ctl select renamed && ctl command 1349 && ctl_wait_title "Setup Wizard for renamed" || fail "filter wizard again"
ctl pick 3019 "IP filter" && turn $NEXT
press $NEXT
wait_control 1070 && ctl check 1071 1 || fail "delete mode"
press $NEXT
wait_control 1095
[ "$(delete_rules | sort | tr '\n' ' ')" = "all ssh term " ] || fail "delete page lists: $(delete_rules)"
shot wizard-en1-filter-delete
press $NEXT
wait_page "You have not deleted any filter rules." && shot wizard-en1-filter-nodelete
ctl press 2
ctl idle
stop_app

# ---- classic style, and German in both styles: the pages as a user sees them
start_app /wizstyle:0
ctl command 1309 && ctl idle
walk_task_wizards en0 "Setup Wizard for renamed" renamed
walk_shipped_wizards en0 "Setup Wizard for " "IP filter"
stop_app
# German wizards: the German program takes the descriptions' and wizards' German texts by itself.
german=$(printf 'Einrichtungsassistent f\374r ')
for style in 0 1; do
  start_app /wizstyle:$style /lang:ger
  ctl command 1309 && ctl idle
  walk_task_wizards "de$style" "${german}renamed" renamed
  walk_shipped_wizards "de$style" "$german" IP-Filter
  stop_app
done

if [ $failures -gt 0 ]; then
  echo "$failures failure(s)"
  exit 1
fi
echo "all passed; screenshots in $work"

