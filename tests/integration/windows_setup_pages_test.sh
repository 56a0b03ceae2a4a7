#!/bin/sh
# setup.exe's eight wizard pages (1107-1114) in each style (0, 1, 2) and each language of its string
# table (English, German, French, Italian), under Wine in a prefix of its own. For every pair the
# wizard installs a small product to the end and the installed setup.exe removes it again:
#   - each page is kept (its picture as LANG/sS_N_PAGE.png in the work directory) and its texts are
#     read back: the texts that stand in controls, the wizard's buttons among them, are those of the
#     language's string table;
#   - the shortcut line's open-folder flag opens the link's folder once the installation is done;
#   - the restart notes (a product flagged for them; the running setup.exe deleted at the restart),
#     the exit code 3010 of both runs ("/reboot:0"), and nothing left of the product afterwards.
#   windows_setup_pages_test.sh <setup.exe> <work directory> <test program> <string tables folder>
# Exits 77 (skipped) without a display.
setup_exe=$1
work=$2
prog=$3
strings=$4
. "$(dirname "$0")/windows_preamble.sh"

export WINEPREFIX="$work/prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d;winedbg.exe=d"
wine=wine
[ -x /usr/lib/wine/wine64 ] && wine=/usr/lib/wine/wine64
"$wine" wineboot -i >/dev/null 2>&1 </dev/null
wineserver -w
wineserver -p >/dev/null 2>&1 </dev/null
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
    # The finish page is kept once the shortcut's folder, opened by the open-folder flag when the
    # installation is done, is closed again (it would stand in front of the page).
    if wizard page:${s}_1_welcome:$next click:$next page:${s}_2_license:$next click:$next \
      page:${s}_3_components:$next click:$next page:${s}_4_target:$next click:$next \
      page:${s}_5_carryout:$next click:$next "close:Zevra Pages Test" page:${s}_6_finish:$finish \
      click:$finish -- "$src/setup.exe" /style:$style /lang:$option /reboot:0; then
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
    fi
    wait $pid
    rc=$?
    [ $rc = $exit_restart ] || fail "$lang style $style: installation exit $rc, not 3010: $(cat "$work/setup.txt")"
    [ -f "$links/Zevra Pages Test/Sample Tool.lnk" ] || fail "$lang style $style: no shortcut"

    if wizard page:${s}_7_remove:$next click:$next page:${s}_8_removefinish:$finish click:$finish \
      -- "$target/setup.exe" /remove:tool /style:$style /lang:$option /reboot:0; then
      [ $style = 0 ] && expect "$work/$lang/${s}_7_remove.txt" 1018
      expect "$work/$lang/${s}_8_removefinish.txt" 1013 1020
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
