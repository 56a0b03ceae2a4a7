#!/bin/sh
# The suite as a user receives it, under Wine in a fresh copy of the build tree's prefix, from a copy of
# the CD folder the build assembles:
#   1. Kardell's "Install Velquin" starts the CD's setup.exe (its welcome page, screenshot), which is
#      cancelled there;
#   2. the CD's setup.exe installs quietly: every file of every product, the shortcuts in the Start
#      menu's "Velquin Suite" folder, the service, and uninstall entries with the values the list of
#      installed programs shows (name, version, publisher, location, icon, size);
#   3. the installed files are the CD's and the programs find their data: the configuration tool's
#      descriptions load from the installed folder;
#   4. the set's own entry ("Velquin Suite", its removal command as the registry holds it) removes every
#      product: no entry, shortcut, service or folder is left; a second removal of the same fails and
#      says so.
#   windows_setup_suite_test.sh <CD folder> <work directory>
# Exits 77 (skipped) without a display.
cdsrc=$1
work=$2
. "$(dirname "$0")/windows_preamble.sh"

[ -f "$cdsrc/setup.exe" ] && [ -f "$cdsrc/kardell.exe" ] || { echo "no CD folder at $cdsrc: skipped"; exit 77; }
wine_private_prefix "$work/prefix"
trap 'wineserver -k >/dev/null 2>&1' EXIT
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }

# w ARGS...: a Windows program, its output in out.txt and its exit code in $rc; started once more when
# Wine itself fails to start it ("failed to map the shared user data", before the program runs).
w() {
  for _ in 1 2 3; do
    "$wine" "$@" >"$work/out.txt" 2>&1 </dev/null
    rc=$?
    grep -q 'failed to map the shared user data' "$work/out.txt" || return
  done
}
cd=$work/cd
cp -r "$cdsrc" "$cd"
target="$WINEPREFIX/drive_c/Program Files/Zevra/Velquin Suite"
links="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Velquin Suite"
uninstall='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'

# --- 1. Kardell's "Install Velquin" starts the CD's installer ---
trace=$work/trace.txt
KARDELL_TRACE=$(winpath "$trace")
export KARDELL_TRACE
wait_trace() {
  for _ in $(seq 1 80); do
    [ -f "$trace" ] && tr -d '\r' <"$trace" | LC_ALL=C grep -q "$1" && return 0
    sleep 0.25
  done
  return 1
}
"$wine" "$cd/kardell.exe" >"$work/kardell.log" 2>&1 </dev/null &
kardell_pid=$!
if wait_trace '^layout '; then
  xy=$(awk -v t="Install Velquin" '/^layout /{pos=""} /^line /{ text=$9; for (i=10;i<=NF;i++) text=text" "$i; if (text==t) pos=($5+12)" "($6+int($8/2)) } END { if (pos!="") print pos }' "$trace")
  if [ -z "$xy" ]; then
    fail "Kardell does not show \"Install Velquin\": $(grep '^line' "$trace")"
  else
    xdotool mousemove $xy
    wait_trace '^hot Install Velquin' || fail "\"Install Velquin\" did not turn hot"
    xdotool click 1
    wizard=
    for _ in $(seq 1 80); do
      wizard=$(xdotool search --name '^Velquin Suite Software Setup$' 2>/dev/null | head -n 1)
      [ -n "$wizard" ] && break
      sleep 0.25
    done
    if [ -z "$wizard" ]; then
      fail "\"Install Velquin\" did not open the installer: $(grep '^launch' "$trace" | tail -n 1)"
    else
      shot_drawn "$work/setup-welcome.png" "$wizard" || fail "the installer's welcome page was not drawn"
      xdotool windowactivate --sync "$wizard" key Escape >/dev/null 2>&1
    fi
  fi
else
  fail "Kardell's menu did not appear: $(cat "$work/kardell.log")"
fi
w taskkill /f /im setup.exe
w taskkill /f /im kardell.exe
kill "$kardell_pid" 2>/dev/null
unset KARDELL_TRACE
[ -e "$target" ] && fail "cancelling the wizard installed files: $(ls "$target")"

# --- 2. Quiet installation from the CD: every product (Ostrel is not selected by default) ---
w "$cd/setup.exe" /quiet:qorvexal,talvine,ostrel /reboot:0
[ "$rc" = 0 ] || [ "$rc" = $((3010 % 256)) ] || fail "install: exit $rc: $(cat "$work/out.txt")"
echo "install: exit $rc"
# The files setup.inf copies (cd_files_test checks that the CD has every one of them).
for f in setup.exe setup.inf readme.txt qorvexal.exe qorvexal.dll qorv1100.dsc qorv1100.wiz qorv2400.dsc \
         qorv2400.wiz qorv5000.dsc qorv5000.wiz velquin.html talvine.exe talvmorv.dsc travik.html ostrel.exe \
         ostrel.html; do
  cmp -s "$cd/$f" "$target/$f" || fail "install: $f missing or not the CD's"
done
for l in Velquin.lnk Travik.lnk 'Ostrel Status.lnk'; do
  [ -f "$links/$l" ] || fail "install: no shortcut $l in \"Velquin Suite\": $(ls "$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs")"
done
w reg query 'HKLM\System\CurrentControlSet\Services\ZevraCapiCtl' /reg:64
[ "$rc" = 0 ] || fail "install: the service ZevraCapiCtl is missing"

# The uninstall entries, value by value.
entry() {
  w reg query "$uninstall\\$1" /reg:64
  tr -d '\r' <"$work/out.txt" >"$work/entry-$1.txt"
}
value() { # entry value expected
  grep -qE "^ +$2 +REG_[A-Z_]+ +$3\$" "$work/entry-$1.txt" || fail "uninstall entry $1: $2 is not \"$3\": $(grep -E " $2 " "$work/entry-$1.txt")"
}
dir='C:\\Program Files\\Zevra\\Velquin Suite'
for key in qorvexal talvine ostrel VelquinSuite; do
  entry $key
  [ -s "$work/entry-$key.txt" ] || { fail "no uninstall entry $key"; continue; }
  value $key Publisher Zevra
  value $key InstallLocation "$dir"
  value $key DisplayVersion '3\.0\.0'
  value $key UninstallString "\"$dir\\\\setup.exe\" /remove:$key"
  grep -qE '^ +EstimatedSize +REG_DWORD +0x[0-9a-f]+$' "$work/entry-$key.txt" || fail "uninstall entry $key: no EstimatedSize"
done
value qorvexal DisplayName Velquin
value qorvexal DisplayIcon "$dir\\\\qorvexal.exe"
value talvine DisplayName Travik
value talvine DisplayIcon "$dir\\\\talvine.exe"
value ostrel DisplayName Ostrel
value VelquinSuite DisplayName 'Velquin Suite'
value VelquinSuite DisplayIcon "$dir\\\\setup.exe"
# The configuration tool's size covers its program and data files: more than the program alone.
size=$(sed -n 's/^ *EstimatedSize *REG_DWORD *0x\([0-9a-f]*\)$/\1/p' "$work/entry-qorvexal.txt")
exe_kb=$(( ($(stat -c %s "$target/qorvexal.exe") + 1023) / 1024 ))
[ -n "$size" ] && [ $((0x$size)) -gt "$exe_kb" ] || fail "qorvexal's EstimatedSize 0x$size is not above its program's $exe_kb KB"

# --- 3. The installed programs find their data ---
w "$cd/tools/qorvexal-cli.exe" describe --dir "C:\\Program Files\\Zevra\\Velquin Suite" "Morvak 1100" 3.10.0012
grep -q '^version' "$work/out.txt" || fail "the installed descriptions do not load: $(head -n 5 "$work/out.txt")"

# --- 4. The set's own entry removes every product ---
command=$(sed -n 's/^ *UninstallString *REG_SZ *//p' "$work/entry-VelquinSuite.txt")
program=$(printf '%s' "$command" | sed -n 's/^"\([^"]*\)".*/\1/p')
arguments=$(printf '%s' "$command" | sed -n 's/^"[^"]*" *//p')
echo "removing: \"$program\" $arguments /quiet /reboot:0"
[ -n "$program" ] && [ -n "$arguments" ] || fail "the set's removal command is not a quoted program with arguments: $command"
w "$program" $arguments /quiet /reboot:0
[ "$rc" = 0 ] || [ "$rc" = $((3010 % 256)) ] || fail "remove: exit $rc: $(cat "$work/out.txt")"
for key in qorvexal talvine ostrel VelquinSuite; do
  w reg query "$uninstall\\$key" /reg:64
  [ "$rc" = 0 ] && fail "remove: the uninstall entry $key is left"
done
w reg query 'HKLM\System\CurrentControlSet\Services\ZevraCapiCtl' /reg:64
[ "$rc" = 0 ] && fail "remove: the service is left"
[ -e "$links" ] && fail "remove: the shortcuts' folder is left: $(ls "$links")"
# Removed at once unless a file was in use; then by the restart.
[ -e "$target" ] && "$wine" wineboot -r >/dev/null 2>&1 </dev/null
[ -e "$target" ] && fail "remove: left: $(find "$target")"

# Removing again: nothing is installed, and the installer says so instead of reporting success.
w "$cd/setup.exe" /remove:VelquinSuite /quiet /reboot:0
[ "$rc" = 0 ] && fail "a removal with nothing installed reported success: $(cat "$work/out.txt")"
grep -qi 'did not complete' "$work/out.txt" || fail "a removal with nothing installed does not say that it failed: $(cat "$work/out.txt")"

if [ "$failures" -gt 0 ]; then
  echo "$failures failure(s)"
  exit 1
fi
echo "windows_setup_suite_test: installed from the CD, entries checked, removed by the set's entry"
