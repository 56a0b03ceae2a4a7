#!/bin/bash
# The configuration sheet under Wine and Xvfb, driven through qorvexal.exe's test control channel:
# "edit:" on a configuration file of each shipped description opens every page, a changed value is
# written back after the comment dialog and `qorvexal-cli show` reads it; on a test description with
# every element kind: the control class of each kind, the checks' messages (mandatory, zero address,
# time period, secret repetition, not in the list) and a table row added in the entry dialog.
# Screenshots of the pages are kept in the work directory. No search at start-up (SearchAtStartup=0).
#   windows_cfgsheet_test.sh <wine-run> <qorvexal.exe> <qorvexal-cli (native)> <data directory> <work directory> [shots]
# Exits 77 (skipped) without a display or without the native command-line tool.
wine_run=$1
exe=$2
cli=$3
data=$4
work=$5
part=${6:-checks} # "shots": only the screenshots of every page
. "$(dirname "$0")/windows_preamble.sh"
[ -x "$cli" ] || { echo "no native qorvexal-cli at $cli: skipped"; exit 77; }
wine_begin shared "$@"

app=$work/app
rm -rf "$app"
mkdir -p "$app"
cp "$exe" "$app/qorvexal.exe"
cp "$data"/*.dsc "$app/"
cp "$(dirname "$0")/data/qorv9901.dsc" "$app/"
printf '%s\r\n' "[Options]" "SearchAtStartup=0" "DontAskForExit=1" "EasyConfig=0" >"$app/qorvexal.ini"
: >"$work/empty.txt"

# Starts the program on a file with "edit:" and waits for its sheet.
starts=0
edit_file() {
  local file=$1
  starts=$((starts + 1))
  app_start "$work/app-$starts.log" "$app/qorvexal.exe" "/edit:$(winepath -w "$file")"
  ctl_wait_title "Configuration of $(basename "$file")" || { fail "no sheet for $file"; return 1; }
}

# After the sheet: the main window comes up; File, Exit ends the program.
stop_app() {
  ctl_wait_title Velquin || fail "main window after the sheet"
  app_stop
}

# The id of the control after the label $1 (the label's own line is a static).
after_label() {
  ctl controls | awk -F '\t' -v l="$1" 'found && $3 != "static" { print $1; exit } $5 == l { found = 1 }'
}

text_of() {
  ctl controls | awk -F '\t' -v id="$1" '$1 == id { print $5; exit }'
}

# The pages of the active sheet (the tab control's entries).
pages() {
  ctl controls | awk -F '\t' '$3 == "tab" { tab = 1; next } tab && /^\t/ { sub(/^\t/, ""); print; next } { tab = 0 }'
}

# Answers the message box titled $1 that says $2 with the button $3 (1 OK, 6 Yes, 7 No).
answer() {
  ctl_wait_title "$1" || { fail "no box \"$1\" for: $2"; return 1; }
  ctl controls | grep -qF "$2" || { fail "box \"$1\" does not say: $2"; ctl controls >&2; }
  ctl press "$3"
}

# The items of a description file with a maximum length: the item's description (from the first
# string table) and the length, one pair a line.
max_lengths() {
  tr -d '\r' <"$1" | awk '
    /^string / && !body { k = $2; sub(/,$/, "", k); t = $0; sub(/^string [^,]*, */, "", t); gsub(/^"|"$/, "", t)
                          if (!(k in s)) s[k] = t; next }
    /^(version|section)/ { body = 1 }
    /^(entryfield_|selection_|readonly_text|onoff_switch|numeric_slider|table)/ { item = ""; next }
    /^ *description / { d = $2; if (d ~ /^str\./) { d = substr(d, 5); if (d in s) d = s[d] } item = d; next }
    /^ *max_len / && item != "" { print item "\t" $2 }' | sort -u
}

start_verb() { # the program with the verb $1 on file $2 (none: ""), until the window titled $3 shows;
  # further arguments are options
  local verb=() title=$3
  starts=$((starts + 1))
  [ -n "$1" ] && verb=("/$1:$(winepath -w "$2")")
  shift 3
  app_start "$work/app-$starts.log" "$app/qorvexal.exe" "$@" "${verb[@]}"
  ctl_wait_title "$title" || { fail "no window $title for ${verb[*]}"; return 1; }
}
# The screenshots run as a test of their own ("shots"): every page of the fullest description.
if [ "$part" = shots ]; then
  "$cli" export --dir "$app" "Morvak 5000" 3.22 "$work/empty.txt" "$app/Morvak_5000.lcf" >/dev/null 2>&1 \
    || fail "export Morvak 5000"
  # ---- screenshots of every page of the fullest description in English and German, full and simplified
  for lang in eng ger; do
    for easy in 0 1; do
      printf '%s\r\n' "[Options]" "SearchAtStartup=0" "DontAskForExit=1" "EasyConfig=$easy" \
        "DontWarnAboutEasyConfig=1" >"$app/qorvexal.ini"
      caption="Configuration of Morvak_5000.lcf"
      if [ $lang = ger ]; then
        caption="Konfiguration von Morvak_5000.lcf"
      fi
      mode=full
      [ $easy = 1 ] && mode=simplified
      start_verb edit "$app/Morvak_5000.lcf" "$caption" "/lang:$lang" || continue
      n=0
      while IFS= read -r page; do
        ctl pick 12320 "$page" || fail "$lang $mode: page $page"
        shot "pages-5000-$lang-$mode-$n-$(tr -c 'A-Za-z0-9\n' _ <<<"$page")"
        n=$((n + 1))
      done < <(pages)
      echo "Morvak 5000 3.22, $lang, $mode: $n pages shot"
      [ "$n" -ge 4 ] || fail "$lang $mode: only $n pages"
      ctl press 2
      stop_app
    done
  done

  [ $failures -gt 0 ] && { echo "$failures failure(s)"; exit 1; }
  echo "all passed; screenshots in $work"
  exit 0
fi

# ---- a file of each shipped description: every page opens, a value goes back into the file
for device in "Morvak 1100:3.22" "Morvak 2400:3.22" "Morvak 5000:3.22"; do
  type=${device%%:*}
  version=${device#*:}
  file=$app/${type// /_}.lcf
  "$cli" export --comment "before" --dir "$app" "$type" "$version" "$work/empty.txt" "$file" >/dev/null 2>&1 \
    || fail "export $type"
  edit_file "$file" || continue
  classes=
  n=0
  limited=0
  while IFS= read -r page; do
    ctl pick 12320 "$page" || fail "$type: page $page"
    classes+=$(ctl controls | cut -f 2)$'\n'
    # Every field of a value with a maximum length takes no more characters than the value holds.
    while IFS=$'\t' read -r label most; do
      id=$(after_label "$label")
      [ -n "$id" ] || continue
      got=$(ctl limit "$id") || continue # a table column: its entry dialog
      [ "$got" = "$most" ] || fail "$type: '$label' takes $got characters, its value $most"
      limited=$((limited + 1))
    done < <(max_lengths "$data/qorv${type##* }.dsc")
    [ "$type" = "Morvak 5000" ] && shot "sheet-5000-$n"
    n=$((n + 1))
  done < <(pages)
  [ "$n" -ge 4 ] || fail "$type: only $n pages"
  echo "$type: $limited fields with a maximum length checked"
  [ "$limited" -ge 5 ] || fail "$type: only $limited fields with a maximum length found"
  want="Edit SysIPAddress32"
  [ "$type" = "Morvak 5000" ] && want+=" ComboBox SysListView32 SysDateTimePick32 msctls_trackbar32 msctls_updown32"
  for class in $want; do
    grep -qx "$class" <<<"$classes" || fail "$type: no $class on any page"
  done
  ctl pick 12320 System || fail "$type: back to System"
  name=$(after_label "Device name")
  ctl set "$name" "office-${type##* }" || fail "$type: device name"
  ctl press 1 || fail "$type: OK"
  ctl_wait_title Comment || fail "$type: no comment dialog"
  ctl controls | grep -q $'\tbefore$' || fail "$type: the file's comment is not the default"
  ctl set 100 "after" && ctl press 1
  stop_app
  shown=$("$cli" show --dir "$app" "$file" 2>/dev/null)
  grep -qx "/sys/name = office-${type##* }" <<<"$shown" || fail "$type: name not written: $(head -3 <<<"$shown")"
  head -n 1 "$file" | grep -q "(after)" || fail "$type: comment not written"
done

# ---- the test description: control classes of every kind, checks and their messages, a table row
file=$app/testbox.lcf
"$cli" export --dir "$app" Testbox 1.00 "$work/empty.txt" "$file" >/dev/null 2>&1 || fail "export Testbox"
edit_file "$file"
# Leaving a page checks it: the name typed and erased again (the sheet opens on it), then the tabs
# with Shift+Tab and the next page with Right, as a user does; the warning keeps the page.
sheet=$(xdotool search --name '^Configuration of testbox.lcf$' 2>/dev/null | head -n 1)
if [ -n "$sheet" ]; then
  xdotool windowactivate --sync "$sheet" 2>/dev/null || xdotool windowfocus --sync "$sheet"
  xdotool type --delay 50 "x"
  xdotool key --delay 80 BackSpace shift+Tab Right
  answer Warning "Please enter a value for 'Name'!" 1
  ctl_wait_title "Configuration of testbox.lcf"
  ctl controls | grep -q $'\tName$' || fail "the failing page was left"
  ctl controls | grep -q $'\tSerial$' && fail "the next page shows after a failing check"
else
  fail "no X window of the sheet"
fi
ctl set "$(after_label Name)" box0 # a valid name lets the page go
# Ctrl+Tab turns to the next page and Ctrl+Shift+Tab back, typed while a field of the page has the
# focus (X input reaches the program on its own time: a bounded wait for the page's labels).
has_label() {
  for _ in $(seq 1 50); do
    ctl controls | grep -q $'\t'"$1"'$' && return 0
    sleep 0.2
  done
  return 1
}
if [ -n "$sheet" ]; then
  xdotool windowactivate --sync "$sheet" 2>/dev/null || xdotool windowfocus --sync "$sheet"
  xdotool key --delay 80 ctrl+Tab
  has_label Serial || fail "Ctrl+Tab did not turn to the next page"
  ctl controls | grep -q $'\tName$' && fail "Ctrl+Tab: the first page still shows"
  xdotool key --delay 80 ctrl+shift+Tab
  has_label Name || fail "Ctrl+Shift+Tab did not turn back to the first page"
fi
ctl pick 12320 Kinds || fail "Kinds page"
kinds=$(ctl controls)
for label in Serial Number MAC; do
  id=$(after_label "$label")
  grep -q "^$id	Edit	" <<<"$kinds" || fail "$label is no edit"
done
grep -q "	msctls_updown32	" <<<"$kinds" || fail "no up-down beside the numeric field"
[ "$(grep -c "	SysDateTimePick32	" <<<"$kinds")" -eq 3 ] || fail "date, and date and time: three pickers"
grep -q "	msctls_trackbar32	" <<<"$kinds" || fail "no track bar"
[ "$(grep -c "	radio	" <<<"$kinds")" -eq 3 ] || fail "three radio buttons"
grep -q "	checkbox	.*DHCP" <<<"$kinds" || fail "no check box"
grep -q "	SysListView32	" <<<"$kinds" || fail "no list view"
for b in Add... Edit... Copy... Delete; do
  grep -q "	button	.*	$b$" <<<"$kinds" || fail "no table button $b"
done
# enable_item: the pool follows the switch.
pool=$(after_label Pool)
dhcp=$(grep "	checkbox	.*DHCP" <<<"$kinds" | cut -f 1)
grep -q "^$pool	.*	d	" <<<"$kinds" || fail "pool enabled while DHCP is off"
ctl check "$dhcp" 1
ctl controls | grep -q "^$pool	[^	]*	[^	]*	e	" || fail "pool not enabled by DHCP"
# The wildcard year's switch: off for a date of one year, on shows "(Every year)" in the picker.
everyyear=$(grep "	checkbox	.*(Every year)$" <<<"$kinds" | cut -f 1)
day=$(after_label Day)
[ -n "$everyyear" ] || fail "no (Every year) switch under the day"
grep -q "^$everyyear	[^	]*	checkbox	e	" <<<"$kinds" || fail "(Every year) on for a date of this year"
ctl check "$everyyear" 1
text_of "$day" | grep -q "(Every year)" || fail "picker without (Every year): $(text_of "$day")"
shot testbox-kinds
# A table row through the entry dialog.
add=$(grep "	button	.*	Add...$" <<<"$kinds" | cut -f 1)
ctl press "$add"
ctl_wait_title Routes || fail "no entry dialog"
[ "$(ctl limit "$(after_label Network)")" = 8 ] || fail "the Network column takes more than its 8 characters"
ctl set "$(after_label Network)" lan2
ctl set "$(after_label Router)" 10.0.0.9
ctl press 1
ctl_wait_title "Configuration of testbox.lcf" || fail "entry dialog did not close"
ctl controls | grep -q "	lan2" || fail "new row not listed"

ctl pick 12320 Checks
name=$(after_label Name)
addr=$(after_label Address)
from=$(after_label From)
to=$(after_label To)
secret=$(after_label Secret)
gw=$(after_label Gateway)
ctl set "$name" x && ctl set "$name" ""
ctl press 1
answer Warning "Please enter a value for 'Name'!" 1
ctl_wait_title "Configuration of testbox.lcf"
ctl set "$name" box1
ctl set "$addr" 0.0.0.0
ctl press 1
answer Warning "Please enter a valid ip address for 'Address'!" 1
ctl_wait_title "Configuration of testbox.lcf"
ctl set "$addr" 10.1.2.3
ctl set "$from" 10:00 && ctl set "$to" 09:00
ctl press 1
answer Warning "The time period between 'From' and 'To' is invalid." 1
ctl_wait_title "Configuration of testbox.lcf"
ctl set "$to" 18:30
ctl set "$gw" 9.9.9.9
ctl press 1
answer Warning "The input value '9.9.9.9' is not contained in the selection list for 'Gateway'." 7
ctl_wait_title "Configuration of testbox.lcf"
ctl set "$gw" 10.0.0.9
ctl set "$secret" abc
ctl press 1
ctl_wait_title "Secret" || fail "no repetition dialog"
ctl set 100 abd && ctl press 1
answer Error "You haven't repeated your entry correctly!" 1
ctl_wait_title "Secret" || fail "repetition dialog not shown again"
ctl set 100 abc && ctl press 1
ctl_wait_title Comment || fail "no comment dialog after the checks"
ctl press 1
stop_app
shown=$("$cli" show --unmasked --dir "$app" "$file" 2>/dev/null)
# Times as stored (show gives them in the user's format).
raw=$("$cli" import --dir "$app" "$file" 2>/dev/null | tr -d "\r")
for want in "/t/from = 10:00" "/t/to = 18:30" "/t/day = [0-9]{4}0000"; do
  grep -Eq "^ *$want\$" <<<"$raw" || fail "not written: $want"
done
for want in "/t/name = box1" "/t/addr = 10.1.2.3" "/t/secret = abc" \
  "/t/gw = 10.0.0.9" "/t/dhcp = On" "/t/routes[1].net = lan2" "/t/routes[1].router = 10.0.0.9"; do
  grep -qxF "$want" <<<"$shown" || fail "not written: $want"
done
# The secret is scrambled in the file.
grep -q "abc" "$file" && fail "secret stored in clear"

# ---- new configurations: "shellnew:" cancelled leaves no file; one made, saved and reopened; File,
# New configuration saved through Save configuration as
selected() { # the text of combo box $1
  ctl controls | awk -F '\t' -v id="$1" '$1 == id { print $5; exit }'
}
new=$app/new.lcf
start_verb shellnew "$new" "New configuration"
[ -f "$new" ] && [ ! -s "$new" ] || fail "shellnew: no empty file while the dialog runs"
dialog=$(ctl controls)
for type in "Morvak 1100" "Morvak 2400" "Morvak 5000"; do
  grep -qx $'\t'"$type" <<<"$dialog" || fail "new configuration: $type not offered: $dialog"
done
shot new-dialog
ctl press 2
stop_app
[ -e "$new" ] && fail "shellnew: the file stays after Cancel"

start_verb shellnew "$new" "New configuration"
ctl pick 101 "Morvak 5000" || fail "pick Morvak 5000"
[ "$(selected 102)" = 3.22 ] || fail "the last version is not preselected: $(selected 102)"
vpn=$(ctl controls | awk -F '\t' '$3 == "checkbox" && $5 == "VPN tunnels" { print $1 }')
[ -n "$vpn" ] || fail "no feature box VPN tunnels: $(ctl controls)"
ctl controls | grep -q $'^'"$vpn"$'\t[^\t]*\tcheckbox\tec\t' || fail "features not ticked at first"
ctl check "$vpn" 0
shot new-5000
ctl press 1
ctl_wait_title "Configuration of new.lcf" || fail "no sheet on the new configuration"
ctl pick 12320 System
ctl set "$(after_label "Device name")" fresh-5000 || fail "device name of the new configuration"
ctl press 1
ctl_wait_title Comment || fail "no comment dialog for the new configuration"
ctl controls | grep -q $'\t'"Configuration of 'Morvak 5000' from " || fail "default comment: $(ctl controls)"
ctl press 1
stop_app
shown=$("$cli" show --dir "$app" "$new" 2>/dev/null)
grep -qx "/sys/name = fresh-5000" <<<"$shown" || fail "new configuration not written: $(head -c 300 "$new")"
sed -n 2p "$new" | grep -qi "^(3.22) (0xfffffffd;" || fail "feature mask of the new file: $(sed -n 2p "$new")"
sed -n 3p "$new" | grep -q "^\[Morvak 5000\]" || fail "device type of the new file: $(sed -n 3p "$new")"
edit_file "$new" && ctl pick 12320 System
[ "$(text_of "$(after_label "Device name")")" = fresh-5000 ] || fail "reopened: name not shown"
ctl press 2
stop_app

start_verb "" "" Velquin
ctl command 40051 || fail "File, New configuration"
ctl_wait_title "New configuration" || fail "no dialog from File, New configuration"
ctl press 1
ctl_wait_title "Configuration of Morvak 1100" || fail "no sheet on the new Morvak 1100"
ctl press 1
ctl_wait_title "Save configuration as" || fail "no Save configuration as dialog"
saved=$app/saved.lcf
ctl_file_dialog "Save configuration as" "$saved" || fail "file name"
ctl_wait_title Comment || fail "no comment dialog after Save configuration as"
ctl press 1
stop_app
"$cli" show --dir "$app" "$saved" 2>/dev/null | grep -q "^/sys/name = " || fail "saved file does not read back"
grep -q "^CFGPath=" "$app/qorvexal.ini" || fail "CFGPath not kept"

if [ $failures -gt 0 ]; then
  echo "$failures failure(s)"
  printf '%s\n' "$shown"
  exit 1
fi
echo "all passed; screenshots in $work"
