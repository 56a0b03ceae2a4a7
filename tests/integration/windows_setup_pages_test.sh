#!/bin/sh
# setup.exe's eight wizard pages (1107-1114) in each style (0, 1, 2) and each language of its string
# table (English, German, French, Italian), under Wine in a prefix of its own. For every pair the
# wizard installs a small product to the end and the installed setup.exe removes it again:
#   - each page is kept (its picture as LANG/sS_N_PAGE.png in the work directory) and its texts are
#     read back: the texts that stand in controls, the wizard's buttons among them, are those of the
#     language's string table;
#   - the shortcut line's open-folder flag opens the link's folder once the installation is done;
#   - the restart notes (a product flagged for them; the running setup.exe deleted at the restart),
#     the exit code 3010 of both runs ("/reboot:0"), and nothing left of the product afterwards;
#   - the wizard-97 styles (1 and 2) draw the watermark and the header bitmaps, and on the closing
#     pages the watermark fills its band up to the white page without a gap (watermark.sh);
#   - a product installed in a more recent version is drawn grey; in the English runs also:
#     checking it asks the question (default No) and No keeps it (style 0); while the installation
#     runs Cancel is disabled and a cancel request refused (style 1, the steps plug-in holding the
#     installation at a gate); a second start brings the minimised wizard back to the front (style 2).
#   windows_setup_pages_test.sh <setup.exe> <work directory> <test program> <steps plug-in>
#                               <resources folder: string tables and bitmaps>
# Exits 77 (skipped) without a display.
setup_exe=$1
work=$2
prog=$3
plug_steps=$4
strings=$5
. "$(dirname "$0")/windows_preamble.sh"
. "$(dirname "$0")/watermark.sh"

wine_private_prefix "$work/prefix"
trap 'wineserver -k >/dev/null 2>&1' EXIT

winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
w() {
  "$wine" "$@" >"$work/out.txt" 2>&1 </dev/null
  rc=$?
}
drive_c="$WINEPREFIX/drive_c"
target="$drive_c/Program Files/Zevra Pages Test"
links="$drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs"

src=$work/src
mkdir -p "$src"
cp "$setup_exe" "$src/setup.exe"
cp "$prog" "$src/tool.exe"
cp "$prog" "$src/prog.exe"
cp "$plug_steps" "$src/setup_testplugin_steps.dll"
printf 'notes\r\n' >"$src/notes.txt"
cat >"$src/setup.inf" <<'INF'
[Version]
Signature = "$Chicago$"

[DestinationDirs]
DefaultDestDir = 24, "\Zevra Pages Test"
Setup.Files = 32768
Tool.Files = 32768

[Install]
CopyFiles = Setup.Files

[Remove]
DelFiles = Setup.Files

[Products]
tool = "Sample Tool", Tool.Install, Tool.Remove, 7, 0, "A tool with a description long enough to fill several lines beside the list of components", 1.0
newer = "Newer Product", Newer.Install, Newer.Remove, 1, 1, "Installed already in a more recent version", 1.0

[Setup.Files]
setup.exe
setup.inf

[Tool.Files]
tool.exe
notes.txt

[Tool.Install]
CopyFiles = Tool.Files
MakeIcons = Tool.Icons
Plugins = setup_testplugin_steps.dll

[Tool.Icons]
CPRG, "Zevra Pages Test\Sample Tool", "%32768%\tool.exe", , , 0, 1

; The running setup.exe goes too: deleted at the restart, so the removal's restart note shows.
[Tool.Remove]
DelFiles = Tool.Files, Setup.Files
DelIcons = Tool.Icons

[Newer.Install]
[Newer.Remove]
INF
# A more recent version of the second product is installed: shown grey and not preselected.
newer_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\newer'
w reg add "$newer_key" /v DisplayName /d 'Newer Product' /f /reg:64
w reg add "$newer_key" /v ProductVersion /d 9.0 /f /reg:64

exit_restart=$((3010 % 256))
# The wizard's own buttons by control id: Next, Finish.
next='#12324'
finish='#12325'

# str ID: the text of string ID in the language $lang, escapes decoded (as the program shows it).
str() {
  printf '%b' "$(sed -n "s/^$1 \"\\(.*\\)\"\$/\\1/p" "$strings/strings.$lang")"
}
# expect FILE ID...: each string is a line of the page's texts.
expect() {
  file=$1
  shift
  for id in "$@"; do
    text=$(str "$id")
    grep -qxF "$text" "$file" || fail "$lang style $style $(basename "$file" .txt): no \"$text\" ($id)"
  done
}
# prog ARGS...: the test program; started once more when Wine itself fails to start it ("failed to
# map the shared user data", before the program runs).
prog() {
  for _ in 1 2 3; do
    "$wine" "$src/prog.exe" "$@" 2>"$work/prog.err" </dev/null && return 0
    grep -q 'failed to map the shared user data' "$work/prog.err" || return 1
  done
  return 1
}
# bitmap_drawn PICTURE GEOMETRY BITMAP [GRAVITY]: the area GEOMETRY of the page's picture (from the
# corner GRAVITY names, default the top left) holds the bitmap: its most frequent colour other than
# white at least as often as the bitmap itself.
bitmap_drawn() {
  top=$(convert "$3" -format %c histogram:info: | grep -v '#FFFFFF' | sort -rn | head -n 1)
  colour=$(printf '%s' "$top" | grep -o '#[0-9A-F]\{6\}')
  count=$(printf '%s' "$top" | awk -F: '{ print $1 + 0 }')
  [ -n "$colour" ] || return 1
  found=$(convert "$1" ${4:+-gravity "$4"} -crop "$2" +repage -format %c histogram:info: | grep -F "$colour" \
    | awk -F: '{ s += $1 } END { print s + 0 }')
  [ "$found" -ge "$count" ]
}
# run_setup EXE ARGS...: starts the installer in the background (bounded: 300 s), its pid in $pid.
run_setup() {
  timeout -k 10 300 "$wine" "$@" >"$work/setup.txt" 2>&1 </dev/null &
  pid=$!
}
# wizard STEP... -- EXE ARGS...: starts the installer and walks its wizard (the test program's walk:
# each page's texts and picture in $work/$lang); once more when Wine failed to start the installer.
wizard() {
  steps=
  while [ "$1" != -- ]; do
    steps="$steps$1
"
    shift
  done
  shift
  for try in 1 2; do
    run_setup "$@"
    # The steps one a line (a step may hold blanks).
    saved_ifs=$IFS
    IFS='
'
    # shellcheck disable=SC2086
    prog walk "$title" "$(winpath "$work/$lang")" $steps >/dev/null
    walked=$?
    IFS=$saved_ifs
    [ $walked = 0 ] && return 0
    grep -q 'failed to map the shared user data' "$work/setup.txt" && [ $try = 1 ] || break
    echo "$lang style $style: Wine did not start the installer; once more"
    wait $pid
  done
  fail "$lang style $style: $(cat "$work/prog.err")"
  kill $pid 2>/dev/null
  return 1
}

for lang in en de fr it; do
  case $lang in
    en) option=eng ;;
    de) option=ger ;;
    fr) option=fre ;;
    it) option=ita ;;
  esac
  mkdir -p "$work/$lang"
  title=$(str 1300 | sed "s/%+1/$(str 1301)/")
  for style in 0 1 2; do
    s=s$style
    # The English runs: one check more each, in the steps the wizard takes anyway.
    # (Steps one a line.)
    welcome_extra=
    components_extra=
    running_extra=
    unset SETUP_TESTPLUGIN_GATE
    if [ $lang = en ]; then
      case $style in
        0) components_extra="toggle:2020:1
box:q_newer:#7:$(str 1002)" ;;
        1)
          # The gate's name goes to the steps plug-in through the environment.
          SETUP_TESTPLUGIN_GATE=$(winpath "$work/gate")
          export SETUP_TESTPLUGIN_GATE
          running_extra="wait:$SETUP_TESTPLUGIN_GATE.ready
refuse
touch:$SETUP_TESTPLUGIN_GATE.go"
          ;;
        2) welcome_extra="second:\"$(winpath "$src/setup.exe")\" /style:$style /lang:$option" ;;
      esac
    fi
    # The finish page is kept once the shortcut's folder, opened by the open-folder flag when the
    # installation is done, is closed again (it would stand in front of the page).
    if wizard page:${s}_1_welcome:$next "$welcome_extra" click:$next page:${s}_2_license:$next click:$next \
      page:${s}_3_components:$next grey:2020:1 "$components_extra" click:$next page:${s}_4_target:$next \
      click:$next page:${s}_5_carryout:$next click:$next "$running_extra" "close:Zevra Pages Test" \
      page:${s}_6_finish:$finish click:$finish -- "$src/setup.exe" /style:$style /lang:$option /reboot:0; then
      expect "$work/$lang/${s}_4_target.txt" 1010
      expect "$work/$lang/${s}_5_carryout.txt" 1014 1011
      expect "$work/$lang/${s}_6_finish.txt" 1012 1011
      grep -qxF "$title" "$work/$lang/${s}_6_finish.txt" || fail "$lang style $style: finish page title"
      if [ $style = 0 ]; then
        # The classic style shows the header titles on the pages.
        expect "$work/$lang/${s}_2_license.txt" 1030
        expect "$work/$lang/${s}_3_components.txt" 1032
        expect "$work/$lang/${s}_4_target.txt" 1034
        expect "$work/$lang/${s}_5_carryout.txt" 1036
      fi
      # The wizard's own buttons in the language of the pages.
      expect "$work/$lang/${s}_5_carryout.txt" 1040 1041 1043
      expect "$work/$lang/${s}_6_finish.txt" 1042
      if [ $style != 0 ]; then
        bitmap_drawn "$work/$lang/${s}_1_welcome.bmp" 164x314+0+0 "$strings/watermark.bmp" \
          || fail "$lang style $style: no watermark on the welcome page"
        bitmap_drawn "$work/$lang/${s}_3_components.bmp" 100x70+0+0 "$strings/header.bmp" NorthEast \
          || fail "$lang style $style: no header bitmap on the components page"
        # The closing page: the watermark fills its band up to the white page, in one piece.
        watermark_band "$work/$lang/${s}_6_finish.bmp" >"$work/$lang/${s}_6_band.txt" \
          || fail "$lang style $style: finish page's watermark in pieces: $(cat "$work/$lang/${s}_6_band.txt")"
      fi
      if [ -n "$components_extra" ]; then
        question=$(str 1005 | sed 's/%s/Newer Product/' | tr -d '\r')
        tr -d '\r' <"$work/$lang/q_newer.txt" | grep -qxF "$question" || fail "$lang style $style: question: $(cat "$work/$lang/q_newer.txt")"
        grep -qx 'default:7' "$work/$lang/q_newer.txt" || fail "$lang style $style: the question's default is not No"
      fi
    fi
    wait $pid
    rc=$?
    unset SETUP_TESTPLUGIN_GATE
    [ $rc = $exit_restart ] || fail "$lang style $style: installation exit $rc, not 3010: $(cat "$work/setup.txt")"
    [ -f "$links/Zevra Pages Test/Sample Tool.lnk" ] || fail "$lang style $style: no shortcut"
    if [ -n "$components_extra" ]; then
      # Answered No: the more recent version stays (installed, its entry would say 1.0).
      w reg query "$newer_key" /v ProductVersion /reg:64
      grep -q 'ProductVersion.*9\.0' "$work/out.txt" || fail "$lang style $style: the newer product was replaced: $(cat "$work/out.txt")"
    fi

    if wizard page:${s}_7_remove:$next click:$next page:${s}_8_removefinish:$finish click:$finish \
      -- "$target/setup.exe" /remove:tool /style:$style /lang:$option /reboot:0; then
      [ $style = 0 ] && expect "$work/$lang/${s}_7_remove.txt" 1018
      expect "$work/$lang/${s}_8_removefinish.txt" 1013 1020
      if [ $style != 0 ]; then
        watermark_band "$work/$lang/${s}_8_removefinish.bmp" >"$work/$lang/${s}_8_band.txt" \
          || fail "$lang style $style: removal's finish page in pieces: $(cat "$work/$lang/${s}_8_band.txt")"
      fi
    fi
    wait $pid
    rc=$?
    [ $rc = $exit_restart ] || fail "$lang style $style: removal exit $rc, not 3010: $(cat "$work/setup.txt")"
    left=$(cd "$target" 2>/dev/null && find . -type f)
    [ "$left" = ./setup.exe ] || fail "$lang style $style: left after the removal: $left"
    [ -e "$links/Zevra Pages Test" ] && fail "$lang style $style: the shortcut's folder is left"
  done
  # The pictures as PNG.
  for bmp in "$work/$lang"/*.bmp; do
    [ -f "$bmp" ] && convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"
  done
done

if [ "$failures" -gt 0 ]; then
  echo "$failures failure(s); screenshots in $work"
  exit 1
fi
echo "windows_setup_pages_test: all checks passed; screenshots in $work"
