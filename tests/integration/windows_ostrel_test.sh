#!/bin/sh
# ostrel.exe under Wine on an X display, against the substitute driver capisim.sys:
#  1. as "/nosvc": the tray icon and its menu (with "E&xit"), the status window collapsed and expanded with
#     devices and calls, ostrel-cli state/activate/deactivate/reload (deactivate waits for the question,
#     --force does not), "RCapiSuspended" in the registry and in the driver's log, the suspend warning
#     and the power events (resume keeps a deactivated CAPI suspended), "&Disconnect", the about box;
#  2. as the interactive service "ZevraCapiCtl" (sc create ... type= own type= interact): running within
#     10 s, stopped within 6 s of sc stop, the status window open at the stop reopens where it was;
#  3. without the driver: stopped with a non-zero exit code within 10 s;
#  4. not interactive: it still starts and stops;
#  5. with the user's guide beside the program, F1 in the status window and the tray's "What's This?"
#     open ostrel.html (the driver's help file is not there).
# Screenshots go to the work directory.
#   windows_ostrel_test.sh <wine-run> <ostrel.exe> <ostrel-cli.exe> <capisim.exe> <windows_ostrel_power.exe> <work>
#                          <ostrel.html>
# Exits 77 (skipped) without a display.
wine_run=$1
ostrel=$2
cli=$3
capisim=$4
power=$5
work=$6
guide=$7
. "$(dirname "$0")/windows_preamble.sh"

"$wine_run" cmd /c exit 0 >/dev/null 2>&1
WINEPREFIX=$(wine_run_prefix "$wine_run")
export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d;winedbg.exe=d"
# The programs are 64-bit: the 64-bit loader directly, as wine-run does (with 32-bit Wine installed the
# launcher would first try them in the emulated 32-bit loader, seconds per start).
wine=wine
[ -x /usr/lib/wine/wine64 ] && wine=/usr/lib/wine/wine64

settings='HKLM\System\CurrentControlSet\Services\ZevraCapiCtl\Settings'
rcapi='HKLM\System\CurrentControlSet\Services\ZevraCapiDrv\Parameters\RCapi'
params='HKLM\System\CurrentControlSet\Services\ZevraCapiDrv\Parameters'
app_pid=
hold_pid=
bg_pids=
cleanup() {
  for p in $app_pid $hold_pid $bg_pids; do kill "$p" 2>/dev/null; done
  "$wine_run" sc stop ZevraCapiCtl >/dev/null 2>&1
  "$wine_run" sc delete ZevraCapiCtl >/dev/null 2>&1
  "$wine_run" "$capisim" remove >/dev/null 2>&1
  "$wine_run" reg delete 'HKLM\Software\Classes\.html' /f >/dev/null 2>&1
  "$wine_run" reg delete 'HKLM\Software\Classes\OstrelTestHtml' /f >/dev/null 2>&1
}
trap cleanup EXIT

# Little-endian numbers and texts: the status records the driver hands out.
le32() {
  printf "\\$(printf %03o $(($1 & 255)))\\$(printf %03o $((($1 >> 8) & 255)))\\$(printf %03o $((($1 >> 16) & 255)))\\$(printf %03o $((($1 >> 24) & 255)))"
}
# device ID ATTACHMENT STATE LOCATION NAME NUMBERS FREE PROFILE
device() {
  l=${#4}
  n=${#5}
  m=${#6}
  le32 1; le32 $((48 + l + 1 + n + 1 + m + 1)); le32 "$1"; le32 "$2"; le32 "$3"; le32 2; le32 "$7"; le32 0
  le32 48; le32 $((49 + l)); le32 $((50 + l + n)); le32 "$8"
  printf '%s\000%s\000%s\000' "$4" "$5" "$6"
}
# connection ID DEVICE INCOMING CONNECTED-MS RECEIVED SENT NUMBER
connection() {
  le32 2; le32 $((48 + ${#7} + 1)); le32 "$1"; le32 "$2"; le32 0; le32 0; le32 "$3"; le32 "$4"; le32 "$5"; le32 "$6"
  le32 0; le32 48
  printf '%s\000' "$7"
}
{
  device 1 1 1 Office "Morvak 2400" "030 1234/030 5678" 1 10
  device 2 1 2 Lab "Morvak 1100" "" 1 0
  device 3 2 1 COM1 "Serial ISDN" "" 2 0
  device 4 3 0 "" "USB stick" "" 0 0
  connection 9 1 1 3725000 2049 2048 0301234
  connection 10 1 0 0 0 0 ""
  le32 3; le32 8
} >"$work/status.bin"

# Waits for a visible window whose title matches $1; prints its id.
wait_window() {
  for _ in $(seq 1 "${2:-40}"); do
    w=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1)
    [ -n "$w" ] && { echo "$w"; return 0; }
    sleep 0.25
  done
  return 1
}
wait_gone() {
  for _ in $(seq 1 "${2:-40}"); do
    xdotool search --onlyvisible --name "$1" >/dev/null 2>&1 || return 0
    sleep 0.25
  done
  return 1
}
wait_end() {
  for _ in $(seq 1 "${2:-40}"); do
    kill -0 "$1" 2>/dev/null || return 0
    sleep 0.25
  done
  return 1
}
# Waits until file $1 holds a line matching $2.
wait_line() {
  for _ in $(seq 1 "${3:-40}"); do
    [ -f "$1" ] && tr -d '\r' <"$1" | grep -q "$2" && return 0
    sleep 0.25
  done
  return 1
}
keys() {
  xdotool windowfocus --sync "$1" 2>/dev/null || xdotool windowfocus "$1"
  sleep 0.3
  shift
  for k in "$@"; do
    xdotool key "$k"
    sleep 0.3
  done
}
cli() {
  "$wine_run" "$cli" "$@" 2>&1 | tr -d '\r'
}
# Waits until ostrel-cli state answers $1 ("calls N, active").
wait_state() {
  for _ in $(seq 1 "${2:-40}"); do
    [ "$(cli state)" = "$1" ] && return 0
    sleep 0.25
  done
  return 1
}
shot() {
  import -window root "$work/$1.png"
}
# The screenshot $1 once window $2 shows a drawing (its area not one flat colour): shot again, a bounded
# number of times, as the drawing reaches the X server some time after the window maps.
shot_drawn_window() {
  for _ in $(seq 1 40); do
    shot "$1"
    eval "$(xdotool getwindowgeometry --shell "$2")"
    sd=$(convert "$work/$1.png" -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage -colorspace Gray -format "%[fx:standard_deviation]" info:)
    awk "BEGIN { exit !($sd > 0.02) }" && return 0
    sleep 0.25
  done
  fail "$1: nothing drawn (deviation $sd)"
}
# The visible windows without a title: a popup menu is one of them.
untitled() {
  xdotool search --onlyvisible --name '^$' 2>/dev/null | sort
}
# Right-clicks at $1 $2 and waits (bounded) for the popup menu: a new untitled window. Prints its id.
popup_menu() {
  untitled >"$work/untitled.txt"
  xdotool mousemove "$1" "$2" click 3
  for _ in $(seq 1 40); do
    menu=$(untitled | comm -23 - "$work/untitled.txt" | head -n 1)
    [ -n "$menu" ] && { echo "$menu"; return 0; }
    sleep 0.25
  done
  return 1
}
# Waits (bounded) until the geometry of window $1 has the line matching $2 (as "Position: 400,300").
wait_geometry() {
  for _ in $(seq 1 40); do
    xdotool getwindowgeometry "$1" 2>/dev/null | grep -q "$2" && return 0
    sleep 0.25
  done
  return 1
}
suspend_lines() {
  "$wine_run" "$capisim" log 2>/dev/null | tr -d '\r' | grep -c "name=\"RCapi\\\\RCapiSuspended\" data=0$1000000"
}
reg_value() {
  "$wine_run" reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | awk -v n="$2" '$1 == n { print $3 }'
}
tray_icon() {
  tray=$(wait_window '^Wine System Tray$') || return 1
  eval "$(xdotool getwindowgeometry --shell "$tray")"
  echo "$((X + 12)) $((Y + 10))"
}

"$wine_run" sc delete ZevraCapiCtl >/dev/null 2>&1
"$wine_run" reg delete "$settings" /f >/dev/null 2>&1
"$wine_run" reg delete "$params" /f >/dev/null 2>&1
"$wine_run" reg add "$params" /v Flags /t REG_DWORD /d 5 /f >/dev/null 2>&1
"$wine_run" "$capisim" install >"$work/install.out" 2>&1 || { cat "$work/install.out"; fail "capisim install"; exit 1; }
"$wine_run" "$capisim" push "$work/status.bin" || fail "push"
mkdir -p "$WINEPREFIX/drive_c/ostrel"
cp "$ostrel" "$WINEPREFIX/drive_c/ostrel/ostrel.exe"

# ---- 1. /nosvc ------------------------------------------------------------------------------------------
xdotool mousemove 640 500
# (From the folder the service runs from: the user's guide is put beside it later.)
"$wine" "$WINEPREFIX/drive_c/ostrel/ostrel.exe" /nosvc >"$work/nosvc.log" 2>&1 &
app_pid=$!
wait_state "calls 2, active" || fail "state: $(cli state)"
set -- $(tray_icon) || fail "no tray window"
tx=$1
ty=$2
tray=$(wait_window '^Wine System Tray$') && shot_drawn_window tray "$tray"

# The tray menu: screenshot, then Escape.
if menu=$(popup_menu "$tx" "$ty"); then
  shot_drawn_window tray-menu "$menu"
  xdotool key Escape
  for _ in $(seq 1 40); do
    untitled | grep -qx "$menu" || break
    sleep 0.25
  done
  untitled | grep -qx "$menu" && fail "Escape did not close the tray menu"
else
  fail "no tray menu"
fi

# Double click: the status window, collapsed, then expanded.
xdotool mousemove "$tx" "$ty" click --repeat 2 --delay 80 1
status=$(wait_window '^Zevra Remote CAPI Status$') || fail "double click opened no status window"
if [ -n "$status" ]; then
  shot_drawn_window status-collapsed "$status"
  eval "$(xdotool getwindowgeometry --shell "$status")"
  collapsed=$HEIGHT
  # Alt+D: "&Details >>".
  keys "$status" alt+d
  for _ in $(seq 1 40); do
    eval "$(xdotool getwindowgeometry --shell "$status")"
    [ "$HEIGHT" -gt $((collapsed + 60)) ] && break
    sleep 0.25
  done
  [ "$HEIGHT" -gt $((collapsed + 60)) ] || fail "details did not expand the window ($collapsed -> $HEIGHT)"
  shot_drawn_window status-expanded "$status"
  # Move it out of the tray's way.
  xdotool windowmove "$status" 400 300
  wait_geometry "$status" "Position: 400,300" || fail "the status window did not move: $(xdotool getwindowgeometry "$status")"
fi

# deactivate with calls open waits for the question; No keeps the CAPI active.
"$wine" "$cli" deactivate >"$work/deactivate1.out" 2>&1 &
d1=$!
bg_pids="$bg_pids $d1"
question=$(wait_window '^Zevra Remote CAPI$') || fail "no deactivation question"
kill -0 "$d1" 2>/dev/null || fail "deactivate did not wait for the question"
if [ -n "$question" ]; then
  shot_drawn_window question "$question"
  keys "$question" n
fi
wait_end "$d1" || fail "deactivate did not end after No"
wait_line "$work/deactivate1.out" '^calls 2, active$' || fail "after No: $(cat "$work/deactivate1.out")"
# Yes deactivates.
"$wine" "$cli" deactivate >"$work/deactivate2.out" 2>&1 &
d2=$!
bg_pids="$bg_pids $d2"
question=$(wait_window '^Zevra Remote CAPI$') || fail "no second deactivation question"
[ -n "$question" ] && keys "$question" y
wait_line "$work/deactivate2.out" '^calls 2, deactivated$' || fail "after Yes: $(cat "$work/deactivate2.out")"
[ "$(reg_value "$rcapi" RCapiSuspended)" = 0x1 ] || fail "RCapiSuspended not 1 in the registry"
[ "$(suspend_lines 1)" = 1 ] || fail "the driver did not get RCapiSuspended 1"
tray=$(wait_window '^Wine System Tray$') && shot_drawn_window tray-deactivated "$tray"
# activate; deactivate --force asks nothing.
[ "$(cli activate)" = "calls 2, active" ] || fail "activate"
[ "$(reg_value "$rcapi" RCapiSuspended)" = 0x0 ] || fail "RCapiSuspended not 0 after activate"
[ "$(cli deactivate --force)" = "calls 2, deactivated" ] || fail "deactivate --force"
xdotool search --onlyvisible --name '^Zevra Remote CAPI$' >/dev/null 2>&1 && fail "deactivate --force asked"

# Power: resume keeps the user's deactivation (the driver gets 1 again, not 0).
before=$(suspend_lines 1)
"$wine_run" "$power" 4 0 >/dev/null 2>&1
"$wine_run" "$power" 18 0 >"$work/resume.out" 2>&1
[ "$(suspend_lines 1)" = $((before + 2)) ] || fail "suspend and resume while deactivated: $(suspend_lines 1) lines, not $((before + 2))"
[ "$(cli state)" = "calls 2, deactivated" ] || fail "resume changed the activation"
[ "$(cli activate)" = "calls 2, active" ] || fail "activate again"
zeros=$(suspend_lines 0)
"$wine_run" "$power" 7 0 >/dev/null 2>&1
[ "$(suspend_lines 0)" = $((zeros + 1)) ] || fail "resume while active did not send 0"
# The suspend warning: the check box and Yes store SuspendPermission; the next query is not asked.
"$wine" "$power" 0 1 >"$work/query1.out" 2>&1 &
q1=$!
bg_pids="$bg_pids $q1"
warning=$(wait_window '^Zevra Remote CAPI$') || fail "no suspend warning"
if [ -n "$warning" ]; then
  shot_drawn_window suspend-warning "$warning"
  keys "$warning" space y
fi
wait_line "$work/query1.out" '^result 1$' || fail "query suspend: $(cat "$work/query1.out")"
[ "$(reg_value "$settings" SuspendPermission)" = 0x1 ] || fail "SuspendPermission not stored"
"$wine_run" "$power" 0 1 >"$work/query2.out" 2>&1
grep -q '^result 1' "$work/query2.out" || fail "second query suspend: $(cat "$work/query2.out")"
"$wine_run" reg add "$settings" /v SuspendPermission /t REG_DWORD /d 0 /f >/dev/null 2>&1
"$wine" "$power" 0 1 >"$work/query3.out" 2>&1 &
q3=$!
bg_pids="$bg_pids $q3"
warning=$(wait_window '^Zevra Remote CAPI$') || fail "no suspend warning after the permission was taken back"
[ -n "$warning" ] && keys "$warning" n
wait_line "$work/query3.out" '^result 1112363332$' || fail "No did not deny: $(cat "$work/query3.out")"

# reload hands the parameters to the driver again.
[ "$(cli reload)" = "calls 2, active" ] || fail "reload"
"$wine_run" "$capisim" log 2>/dev/null | tr -d '\r' | grep -q '^setting type=4 name="Flags" data=05000000' \
  || fail "reload: no Flags record in the driver's log"

# "&Disconnect" on the incoming call, the tree's third row (LAN, device, call): the call goes.
if [ -n "$status" ]; then
  eval "$(xdotool getwindowgeometry --shell "$status")"
  if menu=$(popup_menu $((X + 150)) $((Y + 165))); then
    shot_drawn_window status-context-menu "$menu"
    xdotool key d
  else
    fail "no context menu on the call"
  fi
  wait_state "calls 1, active" || fail "disconnect: $(cli state)"
  "$wine_run" "$capisim" log 2>/dev/null | tr -d '\r' | grep -q '^drop id=9 ' || fail "no drop of call 9"
  shot_drawn_window status-after-disconnect "$status"
fi

# The status window standing low on the screen (where it opens by the tray at the bottom): Details
# grows it upwards as far as needed to keep it on the screen.
if [ -n "$status" ]; then
  keys "$status" Escape
  wait_gone '^Zevra Remote CAPI Status$' || fail "the status window did not close"
  screen_h=$(xdotool getdisplaygeometry | cut -d ' ' -f 2)
  "$wine_run" reg add "$settings" /v StatusWindow /t REG_SZ /d "40,$((screen_h - 150)),0" /f >/dev/null 2>&1
  xdotool mousemove "$tx" "$ty" click --repeat 2 --delay 80 1
  status=$(wait_window '^Zevra Remote CAPI Status$') || fail "no status window opened low"
  if [ -n "$status" ]; then
    eval "$(xdotool getwindowgeometry --shell "$status")"
    collapsed=$HEIGHT
    keys "$status" alt+d
    for _ in $(seq 1 40); do
      eval "$(xdotool getwindowgeometry --shell "$status")"
      [ "$HEIGHT" -gt $((collapsed + 60)) ] && break
      sleep 0.25
    done
    [ "$HEIGHT" -gt $((collapsed + 60)) ] || fail "details did not expand the low window"
    [ $((Y + HEIGHT)) -le "$screen_h" ] || fail "the expanded status window leaves the screen: y $Y + $HEIGHT > $screen_h"
    shot_drawn_window status-expanded-low "$status"
    keys "$status" Escape
    wait_gone '^Zevra Remote CAPI Status$' || fail "the status window did not close"
  fi
fi

# A saved size below the initial one (10,20, expanded, 300 by 200): restored at its place, expanded, and
# as large as its layout needs (the initial size), so that no button is cut off.
"$wine_run" reg add "$settings" /v StatusWindow /t REG_SZ /d "10,20,1,1,300,200" /f >/dev/null 2>&1
xdotool mousemove "$tx" "$ty" click --repeat 2 --delay 80 1
status=$(wait_window '^Zevra Remote CAPI Status$') || fail "no status window opened at its saved size"
if [ -n "$status" ]; then
  shot_drawn_window status-saved-small "$status"
  keys "$status" Escape
  wait_gone '^Zevra Remote CAPI Status$' || fail "the status window did not close"
  # Closed untouched, it writes back the rectangle it had: the one restored.
  value=$(reg_value "$settings" StatusWindow)
  [ "$(echo "$value" | cut -d, -f1,2,3)" = "10,20,1" ] || fail "status window not restored at its place: $value"
  [ "$(echo "$value" | cut -d, -f5)" -gt 300 ] && [ "$(echo "$value" | cut -d, -f6)" -gt 200 ] \
    || fail "status window restored below its initial size: $value"
fi

# Properties and What's This without the driver's applet and help file: a message says so.
for k in r w; do
  popup_menu "$tx" "$ty" >/dev/null || fail "no tray menu for $k"
  xdotool key "$k"
  message=$(wait_window '^Zevra Remote CAPI$') || fail "no message for the missing file ($k)"
  if [ -n "$message" ]; then
    shot_drawn_window "missing-$k" "$message"
    keys "$message" Return
    wait_gone '^Zevra Remote CAPI$' || fail "the message ($k) did not close"
  fi
done

# 5. The user's guide beside the program: F1 in the status window and What's This? open it through the
# shell (here a handler of the test's own records what it is given).
cp "$guide" "$WINEPREFIX/drive_c/ostrel/ostrel.html"
opened=$work/opened.txt
"$wine_run" reg add 'HKLM\Software\Classes\.html' /ve /d OstrelTestHtml /f >/dev/null 2>&1
"$wine_run" reg add 'HKLM\Software\Classes\OstrelTestHtml\shell\open\command' /ve \
  /d "cmd.exe /c echo %1> $(printf 'Z:%s' "$opened" | tr / '\\')" /f >/dev/null 2>&1
guide_opened() {
  # The handler's file exists before its line is written: waited for until the line is there.
  wait_line "$opened" 'ostrel\.html' 80 && grep -qi 'ostrel\\ostrel\.html' "$opened"
}
rm -f "$opened"
xdotool mousemove "$tx" "$ty" click --repeat 2 --delay 80 1
status=$(wait_window '^Zevra Remote CAPI Status$') || fail "double click opened no status window for F1"
if [ -n "$status" ]; then
  keys "$status" F1
  guide_opened || fail "F1 in the status window did not open the user's guide: $(cat "$opened" 2>&1)"
  xdotool search --onlyvisible --name '^Zevra Remote CAPI$' >/dev/null 2>&1 && fail "F1 said the help is missing"
  # The program the shell started for the guide took the foreground: a click on the window's caption
  # brings it back before Escape (again until it closes).
  for _ in $(seq 1 10); do
    eval "$(xdotool getwindowgeometry --shell "$status")"
    xdotool mousemove $((X + 60)) $((Y + 8)) click 1
    keys "$status" Escape
    wait_gone '^Zevra Remote CAPI Status$' 8 && break
  done
  wait_gone '^Zevra Remote CAPI Status$' 1 || fail "the status window did not close after F1"
fi
rm -f "$opened"
popup_menu "$tx" "$ty" >/dev/null || fail "no tray menu for What's This with the guide"
xdotool key w
guide_opened || fail "What's This? did not open the user's guide: $(cat "$opened" 2>&1)"
xdotool search --onlyvisible --name '^Zevra Remote CAPI$' >/dev/null 2>&1 && fail "What's This? said the help is missing"
"$wine_run" reg delete 'HKLM\Software\Classes\.html' /f >/dev/null 2>&1
"$wine_run" reg delete 'HKLM\Software\Classes\OstrelTestHtml' /f >/dev/null 2>&1

# The about box from the tray menu.
popup_menu "$tx" "$ty" >/dev/null || fail "no tray menu for the about box"
xdotool key a
about=$(wait_window '^About Zevra Remote CAPI$') || fail "no about box"
if [ -n "$about" ]; then
  shot_drawn_window about "$about"
  keys "$about" Escape
  wait_gone '^About Zevra Remote CAPI$' || fail "about box did not close"
fi

# E&xit: only with /nosvc. With a call open it asks first, as deactivating does: No keeps it running.
wait_state "calls 1, active" || fail "before E&xit: $(cli state)"
popup_menu "$tx" "$ty" >/dev/null || fail "no tray menu for E&xit"
xdotool key x
question=$(wait_window '^Zevra Remote CAPI$') || fail "E&xit with a call open did not ask"
if [ -n "$question" ]; then
  shot_drawn_window exit-question "$question"
  keys "$question" n
  wait_gone '^Zevra Remote CAPI$' || fail "the question did not close on No"
  sleep 1
  kill -0 "$app_pid" 2>/dev/null || fail "No ended the program"
  popup_menu "$tx" "$ty" >/dev/null || fail "no tray menu for E&xit again"
  xdotool key x
  question=$(wait_window '^Zevra Remote CAPI$') || fail "E&xit did not ask again"
  [ -n "$question" ] && keys "$question" y
fi
wait_end "$app_pid" || fail "E&xit did not end the program"
app_pid=

# ---- 2. the interactive service ---------------------------------------------------------------------------
# Under Wine a service's windows join the user's desktop only while a user program keeps it running.
"$wine" "$power" hold >"$work/hold.out" 2>&1 &
hold_pid=$!
wait_line "$work/hold.out" '^holding' || fail "no desktop holder"
"$wine_run" sc create ZevraCapiCtl 'binPath=' 'C:\ostrel\ostrel.exe' 'type=' own 'type=' interact >"$work/create.out" 2>&1 \
  || fail "sc create: $(cat "$work/create.out")"
"$wine_run" reg delete "$settings" /v StatusWindow /f >/dev/null 2>&1
# Waits (bounded) until sc query shows state $1; prints the seconds it took.
wait_service() {
  start=$(date +%s%N)
  for _ in $(seq 1 120); do
    "$wine_run" sc query ZevraCapiCtl 2>/dev/null | tr -d '\r' >"$work/query.out"
    if grep -q "STATE *: *$1 " "$work/query.out"; then
      echo $((($(date +%s%N) - start) / 1000000))
      return 0
    fi
    sleep 0.25
  done
  return 1
}
"$wine_run" sc start ZevraCapiCtl >/dev/null 2>&1
ms=$(wait_service 4) || fail "service not running: $(grep -E "STATE|EXIT_CODE" "$work/query.out" | tr -s " \n" " ")"
echo "service running after $ms ms"
[ "${ms:-99999}" -le 10000 ] || fail "service took $ms ms to run"
wait_state "calls 1, active" || fail "service state: $(cli state)"
set -- $(tray_icon) || fail "no tray icon of the service"
tray=$(wait_window '^Wine System Tray$') && shot_drawn_window service-tray "$tray"
xdotool mousemove "$1" "$2" click --repeat 2 --delay 80 1
status=$(wait_window '^Zevra Remote CAPI Status$') || fail "the service's status window did not open"
if [ -n "$status" ]; then
  xdotool windowmove "$status" 300 200
  wait_geometry "$status" "Position: 300,200" || fail "the service's status window did not move"
  before=$(xdotool getwindowgeometry "$status" | grep Position)
  shot_drawn_window service-status "$status"
fi
"$wine_run" sc stop ZevraCapiCtl >/dev/null 2>&1
ms=$(wait_service 1) || fail "service not stopped"
echo "service stopped after $ms ms"
[ "${ms:-99999}" -le 6000 ] || fail "service took $ms ms to stop"
value=$(reg_value "$settings" StatusWindow)
echo "StatusWindow $value"
[ "$(echo "$value" | cut -d, -f4)" = 1 ] || fail "StatusWindow not marked open at exit: $value"
# Started again, it reopens the status window where it was.
"$wine_run" sc start ZevraCapiCtl >/dev/null 2>&1
wait_service 4 >/dev/null || fail "service not running again: $(grep -E "STATE|EXIT_CODE" "$work/query.out" | tr -s " \n" " ")"
status=$(wait_window '^Zevra Remote CAPI Status$') || fail "the status window did not reopen"
if [ -n "$status" ]; then
  wait_geometry "$status" "^$before\$" \
    || fail "reopened at $(xdotool getwindowgeometry "$status" | grep Position), not $before"
fi
"$wine_run" sc stop ZevraCapiCtl >/dev/null 2>&1
wait_service 1 >/dev/null || fail "service not stopped again"

# ---- 3. without the driver ---------------------------------------------------------------------------------
"$wine_run" "$capisim" remove >/dev/null 2>&1
"$wine_run" sc start ZevraCapiCtl >/dev/null 2>&1
ms=$(wait_service 1) || fail "service without driver not stopped"
echo "service without driver stopped after $ms ms"
[ "${ms:-99999}" -le 10000 ] || fail "service without driver took $ms ms to stop"
code=$(awk '/WIN32_EXIT_CODE/ { print $3 }' "$work/query.out")
echo "exit code without the driver: $code"
[ -n "$code" ] && [ "$code" != 0 ] || fail "no exit code without the driver: $(cat "$work/query.out")"
# As "/nosvc" the program ends with the open's error.
"$wine" "$WINEPREFIX/drive_c/ostrel/ostrel.exe" /nosvc >/dev/null 2>&1
rc=$?
[ $rc != 0 ] || fail "/nosvc without the driver exited 0"
"$wine_run" "$capisim" install >/dev/null 2>&1 || fail "capisim install again"

# ---- 4. not interactive ----------------------------------------------------------------------------------
"$wine_run" sc delete ZevraCapiCtl >/dev/null 2>&1
"$wine_run" sc create ZevraCapiCtl 'binPath=' 'C:\ostrel\ostrel.exe' 'type=' own >"$work/create2.out" 2>&1 \
  || fail "sc create (not interactive): $(cat "$work/create2.out")"
"$wine_run" sc start ZevraCapiCtl >/dev/null 2>&1
wait_service 4 >/dev/null || fail "non-interactive service not running"
grep -q 'TYPE *: *10 ' "$work/query.out" || fail "service still interactive: $(cat "$work/query.out")"
cli state >"$work/hidden-state.out"
grep -q '^calls' "$work/hidden-state.out" && fail "a non-interactive service's window was seen"
"$wine_run" sc stop ZevraCapiCtl >/dev/null 2>&1
wait_service 1 >/dev/null || fail "non-interactive service not stopped"

if [ $failures -gt 0 ]; then
  echo "$failures failure(s); screenshots in $work"
  exit 1
fi
echo "all passed; screenshots in $work"
