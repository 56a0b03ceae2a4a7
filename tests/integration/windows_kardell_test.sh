#!/bin/sh
# kardell.exe under Wine on an X display, on a CD folder of its own: the test plug-in changes the
# language and adds conditions; the menu is shown (screenshot); the mouse over a hot spot highlights it
# and shows its help panel (screenshot); a click starts a test program from the CD folder with its
# parameters; a document without an associated program starts rundll32.exe with OpenAs_RunDLL; a
# sub-menu opens (screenshot); a second start raises the first and ends; "$Exit" ends Kardell; the
# "System:" message (screenshot); an embedded script wins over autorun.inf and leaves no "EGS" file.
# What Kardell shows and does is read from its trace file (KARDELL_TRACE).
#   windows_kardell_test.sh <wine-run> <kardell.exe> <work directory> <plug-in dll> <test program> <kardell-cli.exe>
# Exits 77 (skipped) without a display.
wine_run=$1
exe=$2
work=$3
plugin=$4
prog=$5
cli=$6
. "$(dirname "$0")/windows_preamble.sh"
cd=$work/cd
mkdir -p "$cd"
cp "$exe" "$cd/kardell.exe"
cp "$plugin" "$cd/kardell_testplugin.dll"
cp "$prog" "$cd/prog.exe"
printf 'no program opens this\r\n' >"$cd/notes.zzq"
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
trace=$work/trace.txt
KARDELL_TRACE=$(winpath "$trace")
export KARDELL_TRACE

cat >"$cd/autorun.inf" <<'INF'
[autorun]
open=kardell.exe

[COMMON]
WindowTitle=Kardell Test Menu

[Metrics]
Shadow=2;2
TextKoor=40,150
TextDistance=34

[Font]
FontName=DejaVu Sans Condensed
FontFlags=Bold
FontHeight=22
FontColor=255,255,255;255,214,0
ShadowColor=0,0,0

[Bitmap.Default]
BackgroundBitmap=BACKGROUND
HelpBitmap=HELP
HelpColor=0,0,64

[Help]
FontHeight=15
FontFlags=
FontColor=255,255,255
StartPosXY=352,150
StartPosExt=260,150
TextDistance=20
TextOffset=12
Shadow=1;1
Frame=1

[PLUGIN]
DLL=kardell_testplugin.dll

[Plugin.Parameter]
Language=German
Country=Austria
Examine=PlugCond,Second

[LogicalConditions]
FromPlugin=PlugCond and Second

[1.Static]
TextKoor=40,96
Line=Kardell Testmen\374

[1.Hotspot.German]
Line=Programm starten;prog.exe;--alpha "two words" $PLUGINRESULT;;;FromPlugin;ProgHelp
Line=Dokument ohne Programm;notes.zzq
Line=Untermen\374;$SubMenu;Sub;;;;SubHelp
Line=Nur Englisch;prog.exe;;English
Line=Beenden;$Exit

[1.Hotspot.Default]
Line=English: the plug-in did not answer;$Exit

[Sub.Hotspot]
Line=Eintrag im Untermen\374 mit langem Text;prog.exe;sub
Line=Noch einmal;$SubMenu;Sub

[ProgHelp]
Text=Startet das Testprogramm\nmit seinen Parametern.

[SubHelp]
Text=\326ffnet ein Untermen\374\nmit einem langen Eintrag.
INF
# The script is an ANSI file: \374 above is the letter u with diaeresis in code page 1252.
sed -e "s/\\\\374/$(printf '\374')/g" -e "s/\\\\326/$(printf '\326')/g" "$cd/autorun.inf" >"$cd/autorun.tmp" && mv "$cd/autorun.tmp" "$cd/autorun.inf"

kardell_pid=
cleanup() {
  # The pid is wine-run's: a menu a failed step left open is ended by its name.
  if [ -n "$kardell_pid" ]; then
    "$wine_run" taskkill /f /im kardell.exe /im embedded.exe >/dev/null 2>&1
    kill "$kardell_pid" 2>/dev/null
  fi
  "$wine_run" taskkill /f /im rundll32.exe >/dev/null 2>&1
}
trap cleanup EXIT

# Waits (bounded) for a line matching the pattern in the trace file (after its first $2 lines).
wait_trace() {
  for _ in $(seq 1 80); do
    tail -n +"$((${2:-0} + 1))" "$trace" 2>/dev/null | tr -d '\r' | LC_ALL=C grep -q "$1" && return 0
    sleep 0.25
  done
  return 1
}
trace_lines() {
  wc -l <"$trace" 2>/dev/null || echo 0
}
# The screen rectangle (WxH+X+Y) of a shown line, from the trace's last layout.
line_rect() {
  awk -v t="$1" '/^layout /{r=""} /^line /{ text=$9; for (i=10;i<=NF;i++) text=text" "$i; if (text==t) r=$7"x"$8"+"$5"+"$6 } END { if (r!="") print r }' "$trace"
}
# The pixels of the hot colour (255,214,0) in the rectangle $2 of the screenshot $1.
hot_pixels() {
  convert "$1[$2]" -fx "(r>0.9 && g>0.75 && g<0.95 && b<0.2) ? 1 : 0" -format "%[fx:round(mean*w*h)]" info: 2>/dev/null
}
# The pixels that differ in the rectangle $3 between the screenshots $1 and $2.
changed_pixels() {
  compare -metric AE "$1[$3]" "$2[$3]" null: 2>&1 | cut -d. -f1
}
# The screen position of the middle of a shown line, from the trace's last layout ("line N kind depth X Y W H text").
line_xy() {
  awk -v t="$1" '/^layout /{pos=""} /^line /{ text=$9; for (i=10;i<=NF;i++) text=text" "$i; if (text==t) pos=($5+12)" "($6+int($8/2)) } END { if (pos!="") print pos }' "$trace"
}
# Clicks the shown line once Kardell has seen the mouse over it (it traces the line turning hot).
click_line() {
  xy=$(line_xy "$1")
  [ -n "$xy" ] || { fail "line '$1' not shown"; return 1; }
  n=$(trace_lines)
  xdotool mousemove $xy
  wait_trace "^hot $1\$" "$n" || fail "line '$1' did not turn hot under the mouse"
  xdotool click 1
}
shot() {
  import -window root "$work/$1.png"
}
ended() {
  for _ in $(seq 1 60); do
    kill -0 "$1" 2>/dev/null || return 0
    sleep 0.25
  done
  return 1
}

# --- the menu, with the plug-in's language and conditions ---
# (The pointer off the menu: where a run before left it, a hot spot would be hot at the start.)
xdotool mousemove 5 5
"$wine_run" "$cd/kardell.exe" >"$work/first.log" 2>&1 &
kardell_pid=$!
wait_trace '^layout ' || fail "menu did not appear"
grep -q '^environment German 0x0407 Austria ' "$trace" || fail "plug-in did not set language and country: $(grep ^environment "$trace")"
grep -q '^condition PlugCond$' "$trace" && grep -q '^condition Second$' "$trace" || fail "plug-in conditions missing"
grep -q '^line .* Programm starten$' "$trace" || fail "line of the plug-in's conditions not shown"
grep -q 'Nur Englisch' "$trace" && fail "English-only line shown in German"
menu=$(xdotool search --name '^Kardell Test Menu$' 2>/dev/null | head -n 1)
shot_drawn "$work/kardell-menu.png" "$menu" 0.1 || fail "menu not drawn (mean $mean)"

# --- hot spot under the mouse: highlight and help panel ---
xy=$(line_xy "Programm starten")
xdotool mousemove $xy
wait_trace '^hot Programm starten' || fail "hot spot not highlighted"
# The help panel (352,150 260x150 of the picture) is drawn only while the hot spot is hot: shot until
# it is there (its drawing reaches the screen a little after the trace), a bounded number of times.
origin=$(awk '/^layout /{o=$2" "$3} END{print o}' "$trace")
set -- $origin
crop="260x150+$(($1 + 352))+$(($2 + 150))"
convert "$work/kardell-menu.png" -crop "$crop" "$work/panel-before.png"
for _ in $(seq 1 40); do
  shot kardell-hotspot-help
  convert "$work/kardell-hotspot-help.png" -crop "$crop" "$work/panel-after.png"
  diff=$(compare -metric AE "$work/panel-before.png" "$work/panel-after.png" null: 2>&1)
  [ "${diff%%.*}" -gt 1000 ] 2>/dev/null && break
  sleep 0.25
done
[ "${diff%%.*}" -gt 1000 ] 2>/dev/null || fail "help panel not drawn (changed pixels: $diff)"
[ "$(hot_pixels "$work/kardell-hotspot-help.png" "$(line_rect "Programm starten")")" -gt 50 ] 2>/dev/null \
  || fail "hot spot not drawn in its hot colour"

# --- a click starts the test program from the CD folder with its parameters ---
xdotool click 1
for _ in $(seq 1 80); do [ -s "$cd/launched.txt" ] && break; sleep 0.25; done
cat "$cd/launched.txt" 2>/dev/null
grep -q -- '--alpha "two words" PlugCond,Second' "$cd/launched.txt" 2>/dev/null || fail "test program not started with its parameters"
grep -qi 'current folder: .*\\cd.\?$' "$cd/launched.txt" 2>/dev/null || fail "test program not started in the CD folder"

# --- a document without an associated program: rundll32.exe with OpenAs_RunDLL ---
click_line "Dokument ohne Programm"
wait_trace 'noassoc: rundll32.exe shell32.dll,OpenAs_RunDLL .*notes.zzq ok' || fail "rundll32.exe not started for the document: $(grep '^launch' "$trace" | tail -n 1)"
"$wine_run" taskkill /f /im rundll32.exe >/dev/null 2>&1

# --- a sub-menu opens below its line ---
submenu="Untermen$(printf '\374')"
n=$(trace_lines)
click_line "$submenu"
wait_trace '^open Untermen' || fail "sub-menu did not open"
grep -q '^line [0-9]* hotspot 1 .*Eintrag im Untermen' "$trace" || fail "sub-menu line not shown at depth 1"
# Its help panel, with the sub-menu open, covers none of the lines (the long entry reaches under the
# panel's place in the script), and is as wide as its text: its lines are not cut.
# (The line stays hot after its click: its panel is drawn again once the sub-menu's lines are laid out.)
panel=
for _ in $(seq 1 80); do
  panel=$(tail -n +"$((n + 1))" "$trace" | tr -d '\r' | LC_ALL=C awk '/^layout /{ p = "" } /^help /{ p = $0 } END { print p }')
  [ -n "$panel" ] && break
  sleep 0.25
done
[ -n "$panel" ] || fail "no help panel for the sub-menu's line"
echo "$panel"
covered=$(awk -v p="$panel" 'BEGIN { split(p, h, " ") } /^layout /{ n = 0; delete t } /^line /{ t[++n] = $0 }
  END { for (i = 1; i <= n; i++) { split(t[i], l, " "); if (l[5] < h[2] + h[4] && h[2] < l[5] + l[7] && l[6] < h[3] + h[5] && h[3] < l[6] + l[8]) print t[i] } }' \
  "$trace")
[ -z "$covered" ] || fail "the help panel covers shown lines: $covered"
shot kardell-submenu-help
# The shot once the screen shows the sub-menu's line where the menu had another (or none) and its own
# line no longer hot (the pointer moved off the menu): shot again, a bounded number of times.
xdotool mousemove 5 5
entry=$(line_rect "Eintrag im $submenu mit langem Text")
own=$(line_rect "$submenu")
drawn=
for _ in $(seq 1 60); do
  shot kardell-submenu
  [ "$(changed_pixels "$work/kardell-menu.png" "$work/kardell-submenu.png" "$entry")" -gt 200 ] 2>/dev/null \
    && [ "$(hot_pixels "$work/kardell-submenu.png" "$own")" = 0 ] && drawn=1 && break
  sleep 0.25
done
[ -n "$drawn" ] || fail "sub-menu not drawn (entry $entry changed $(changed_pixels "$work/kardell-menu.png" "$work/kardell-submenu.png" "$entry"), hot pixels of its line $(hot_pixels "$work/kardell-submenu.png" "$own"))"

# --- a second start raises the first and ends ---
timeout 60 "$wine_run" "$cd/kardell.exe" >"$work/second.log" 2>&1
grep -q '^other instance raised' "$trace" || fail "second start did not raise the first"
kill -0 "$kardell_pid" 2>/dev/null || fail "first instance ended on a second start"

# --- "$Exit" ends Kardell ---
click_line "Beenden"
ended "$kardell_pid" || fail "\$Exit did not end Kardell"
grep -q '^exit' "$trace" || fail "no exit in the trace"
kardell_pid=

# --- the "System:" message ---
cp "$trace" "$work/trace-menu.txt" # (kept for the record)
: >"$trace"
"$wine_run" "$cd/kardell.exe" /system >"$work/system.log" 2>&1 &
kardell_pid=$!
wait_trace '^system message' || fail "System message not shown"
# The message box has the menu's title: the smaller of the two windows.
box=
for _ in $(seq 1 40); do
  box=$(for w in $(xdotool search --name '^Kardell Test Menu$' 2>/dev/null); do
    eval "$(xdotool getwindowgeometry --shell "$w" 2>/dev/null)"
    echo "$((WIDTH * HEIGHT)) $w"
  done | sort -n | awk 'NR == 1 && NF == 2 { print $2 } END { if (NR < 2) exit 1 }') && break
  box=
  sleep 0.25
done
[ -n "$box" ] && shot_drawn "$work/kardell-system.png" "$box" || fail "System message not drawn (mean ${mean:-})"
# Return closes the box once it has the keyboard, which takes longer on a busy machine: pressed again
# (the menu itself takes no keys) until the trace says the box closed, a bounded number of times.
closed=
for _ in $(seq 1 30); do
  xdotool key Return
  for _ in 1 2 3 4; do
    grep -q '^system message closed' "$trace" && closed=1 && break
    sleep 0.25
  done
  [ -n "$closed" ] && break
done
[ -n "$closed" ] || fail "Return did not close the System message"
click_line "Beenden"
ended "$kardell_pid" || fail "Kardell did not end after the System message"
kardell_pid=

# --- an embedded script wins over autorun.inf and leaves no EGS file ---
cat >"$work/embedded.inf" <<'INF'
[COMMON]
WindowTitle=Embedded Menu
[Bitmap.Default]
BackgroundBitmap=BACKGROUND
[1.Hotspot]
TextKoor=40,150
Line=Embedded exit;$Exit
INF
"$wine_run" "$cli" embed "$(winpath "$cd/kardell.exe")" "$(winpath "$work/embedded.inf")" "$(winpath "$cd/embedded.exe")" \
  || fail "kardell-cli embed failed"
: >"$trace"
"$wine_run" "$cd/embedded.exe" >"$work/embedded.log" 2>&1 &
kardell_pid=$!
wait_trace '^layout ' || fail "embedded menu did not appear"
script=$(sed -n 's/^script //p' "$trace" | tr -d '\r')
case "$script" in
  *EGS*) ;;
  *) fail "embedded script not used: $script" ;;
esac
unix_script=$("$wine_run" winepath.exe -u "$script" 2>/dev/null | tail -n 1)
[ -n "$unix_script" ] && [ -f "$unix_script" ] || fail "EGS file $script not found while running ($unix_script)"
grep -q '^line 0 hotspot 0 .* Embedded exit$' "$trace" || fail "embedded script's line not shown"
click_line "Embedded exit"
ended "$kardell_pid" || fail "embedded menu did not end"
kardell_pid=
[ -n "$unix_script" ] && [ -e "$unix_script" ] && fail "EGS file left behind: $unix_script"

if [ $failures -gt 0 ]; then
  echo "$failures failure(s)"
  exit 1
fi
echo "all passed; screenshots in $work"
