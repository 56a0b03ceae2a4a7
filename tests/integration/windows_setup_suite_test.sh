#!/bin/bash
# The suite as a user receives it, under Wine in a fresh copy of the build tree's prefix, from a copy of
# the CD folder the build assembles, in a mount and network namespace of the test's own (the installed
# programs' first start searches the local network: here only the test's loopback):
#   1. Kardell's "Install Velquin" starts the CD's setup.exe, whose wizard is clicked through to the end
#      (welcome, licence, components as offered, target, carry out, finish); the default products'
#      files are installed and their Start-menu shortcuts made; the programs started from the shortcuts'
#      targets (the installed folder read-only, as for a standard user) find their data: the
#      configuration tool offers the shipped device types for a new configuration, the monitor loads
#      its object-tree script; the set's own uninstall entry, started as the list of installed programs
#      starts it, removes the suite through its pages, and as a restart is needed (the running
#      installer is deleted by it) the user is asked: Yes restarts, and nothing is left afterwards;
#   2. the CD's setup.exe installs quietly: every file of every product, the shortcuts in the Start
#      menu's "Velquin Suite" folder, the service, and uninstall entries with the values the list of
#      installed programs shows (name, version, publisher, location, icon, size);
#   3. the installed files are the CD's and the programs find their data: the configuration tool's
#      descriptions load from the installed folder;
#   4. the set's own entry ("Velquin Suite", its removal command as the registry holds it) removes every
#      product: no entry, shortcut, service or folder is left; a second removal of the same fails and
#      says so.
#   windows_setup_suite_test.sh <CD folder> <work directory> <test program>
# Exits 77 (skipped) without a display or where no mount and network namespace can be made.
cdsrc=$1
work=$2
prog=$3
if [ -z "${SUITE_NAMESPACE:-}" ]; then
  export SUITE_NAMESPACE=1
  ns=(unshare -m -n --propagation private)
  [ "$(id -u)" = 0 ] || ns=(unshare -r -m -n --propagation private)
  if "${ns[@]}" true 2>/dev/null; then
    # The build tree's prefix and its persistent server are made out here, never from inside.
    [ -n "${WINE_RUN:-}" ] && "$WINE_RUN" cmd /c exit 0 >/dev/null 2>&1
    exec "${ns[@]}" bash "$0" "$@"
  fi
  echo "no mount and network namespace: skipped"
  exit 77
fi
ip link set lo up || { echo "no loopback in the namespace"; exit 1; }
. "$(dirname "$0")/windows_preamble.sh"
. "$(dirname "$0")/testctl.sh"

[ -f "$cdsrc/setup.exe" ] && [ -f "$cdsrc/kardell.exe" ] || { echo "no CD folder at $cdsrc: skipped"; exit 77; }
wine_private_prefix "$work/prefix"
app_pid=
cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null
  wineserver -k >/dev/null 2>&1
  umount "$target" 2>/dev/null
}
trap cleanup EXIT
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
cp "$prog" "$work/prog.exe"
target="$WINEPREFIX/drive_c/Program Files/Zevra/Velquin Suite"
links="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Velquin Suite"
uninstall='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
title='Velquin Suite Software Setup'
next='#12324'
finish='#12325'
# Processes of this prefix whose command line matches $1.
running() {
  for p in $(pgrep -f "$1"); do
    { tr '\0' '\n' <"/proc/$p/environ"; } 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" && return 0
  done
  return 1
}
# Waits (bounded: 120 s) until no process of this prefix matches $1.
ended() {
  for _ in $(seq 1 480); do
    running "$1" || return 0
    sleep 0.25
  done
  return 1
}
# walk STEP...: the test program's walk of the installer's wizard (pages kept in $work/pages).
walk() {
  mkdir -p "$work/pages"
  "$wine" "$work/prog.exe" walk "$title" "$(winpath "$work/pages")" "$@" >/dev/null 2>"$work/walk.err" </dev/null
}

# --- 1. Kardell's "Install Velquin": the wizard to the end ---
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
xdotool mousemove 5 5
"$wine" "$cd/kardell.exe" >"$work/kardell.log" 2>&1 </dev/null &
kardell_pid=$!
installed=
if wait_trace '^layout '; then
  xy=$(awk -v t="Install Velquin" '/^layout /{pos=""} /^line /{ text=$9; for (i=10;i<=NF;i++) text=text" "$i; if (text==t) pos=($5+12)" "($6+int($8/2)) } END { if (pos!="") print pos }' "$trace")
  if [ -z "$xy" ]; then
    fail "Kardell does not show \"Install Velquin\": $(grep '^line' "$trace")"
  else
    xdotool mousemove $xy
    wait_trace '^hot Install Velquin' || fail "\"Install Velquin\" did not turn hot"
    xdotool click 1
    # The products offered by default: the configuration tool and the monitor.
    if walk page:1_welcome:$next click:$next page:2_license:$next click:$next page:3_components:$next \
      click:$next page:4_target:$next click:$next page:5_carryout:$next click:$next page:6_finish:$finish \
      click:$finish; then
      installed=1
      grep -qxF 'The installation was completed successfully.' "$work/pages/6_finish.txt" \
        || fail "the finish page: $(cat "$work/pages/6_finish.txt")"
      grep -qxF 'C:\Program Files\Zevra\Velquin Suite' "$work/pages/4_target.txt" \
        || fail "the target page: $(cat "$work/pages/4_target.txt")"
    else
      fail "the installer's wizard: $(cat "$work/walk.err") ($(grep '^launch' "$trace" | tail -n 1))"
    fi
  fi
else
  fail "Kardell's menu did not appear: $(cat "$work/kardell.log")"
fi
ended 'setup\.exe' || fail "the installer did not end"
w taskkill /f /im kardell.exe
kill "$kardell_pid" 2>/dev/null
unset KARDELL_TRACE

if [ -n "$installed" ]; then
  for f in setup.exe setup.inf readme.txt qorvexal.exe qorvexal.dll qorv1100.dsc qorv2400.dsc qorv5000.dsc \
           velquin.html talvine.exe talvmorv.dsc travik.html; do
    cmp -s "$cd/$f" "$target/$f" || fail "wizard: $f missing or not the CD's"
  done
  [ -e "$target/ostrel.exe" ] && fail "wizard: Ostrel installed although not offered by default"
  # The installed folder read-only while the programs run, as Program Files is for a standard user.
  mount --bind "$target" "$target" && mount -o remount,bind,ro "$target" || fail "cannot mount $target read-only"
  # Each shortcut's target, started with the shortcut's arguments.
  link_target() { # LINK: the target's Unix path in $exe, its arguments in $args
    "$wine" "$work/prog.exe" readlink "$(winpath "$links/$1")" 2>/dev/null | tr -d '\r' >"$work/link.txt"
    exe=$("$wine" winepath.exe -u "$(sed -n 's/^target=//p' "$work/link.txt")" 2>/dev/null | tr -d '\r')
    args=$(sed -n 's/^args=//p' "$work/link.txt")
    [ -n "$exe" ] && [ -f "$exe" ] || { fail "the shortcut $1 leads nowhere: $(cat "$work/link.txt")"; return 1; }
  }
  if link_target Velquin.lnk; then
    # shellcheck disable=SC2086
    app_start "$work/velquin.log" "$exe" $args
    ctl_wait_title Velquin || fail "the installed Velquin shows no main window"
    ctl idle || fail "the installed Velquin is not idle"
    ctl command 40051 || fail "File, New configuration"
    if ctl_wait_title "New configuration"; then
      dialog=$(ctl controls)
      for type in "Morvak 1100" "Morvak 5000"; do
        grep -qx $'\t'"$type" <<<"$dialog" || fail "the installed Velquin does not offer $type: $dialog"
      done
      ctl press 2
    else
      fail "no dialog for a new configuration"
    fi
    ctl_wait_title Velquin
    ctl command 40001 || fail "File, Exit"
    exit_question() { ctl controls | grep -q "Do you want to quit Velquin?"; }
    ctl_until 60 "the question before the end" exit_question && ctl press 6 || fail "no question before the end"
    ended 'qorvexal\.exe' || fail "the installed Velquin did not end"
    app_pid=
    exec 3>&-
  fi
  if link_target Travik.lnk; then
    # shellcheck disable=SC2086
    "$wine" "$exe" $args >"$work/travik.log" 2>&1 </dev/null &
    app_pid=$!
    loaded=
    for _ in $(seq 1 240); do
      loaded=$(tr -d '\r' <"$work/travik.log" | sed -n 's/^scripts: \([0-9]*\) from .*/\1/p')
      [ -n "$loaded" ] && break
      sleep 0.25
    done
    [ "${loaded:-0}" -ge 1 ] || fail "the installed Travik loaded no object-tree script: $(head -n 5 "$work/travik.log")"
    w taskkill /f /im talvine.exe
    kill "$app_pid" 2>/dev/null
    app_pid=
  fi
  umount "$target" || fail "cannot unmount $target"

  # The set's own entry as the list of installed programs starts it: its pages, then the restart
  # question (the running installer is deleted at the restart); Yes restarts.
  w reg query "$uninstall\\VelquinSuite" /v UninstallString /reg:64
  command=$(tr -d '\r' <"$work/out.txt" | sed -n 's/^ *UninstallString *REG_SZ *//p')
  program=$(printf '%s' "$command" | sed -n 's/^"\([^"]*\)".*/\1/p')
  arguments=$(printf '%s' "$command" | sed -n 's/^"[^"]*" *//p')
  if [ -n "$program" ]; then
    # shellcheck disable=SC2086
    "$wine" "$program" $arguments >"$work/remove-wizard.txt" 2>&1 </dev/null &
    if walk page:7_remove:$next click:$next page:8_removefinish:$finish click:$finish "box:9_restart:#6:$title"; then
      grep -qF 'Your computer must be restarted to complete the deinstallation.' "$work/pages/8_removefinish.txt" \
        || fail "the removal's finish page has no restart note: $(cat "$work/pages/8_removefinish.txt")"
      grep -qF 'Do you want to restart your computer now?' "$work/pages/9_restart.txt" \
        || fail "the restart question: $(cat "$work/pages/9_restart.txt")"
    else
      fail "the removal's wizard and its restart question: $(cat "$work/walk.err")"
    fi
    ended 'setup\.exe' || fail "the removing installer did not end"
    # The restart (a wineboot the installer starts) carries out the deletes left for it.
    for _ in $(seq 1 480); do
      [ -e "$target" ] || running wineboot || break
      sleep 0.25
    done
    [ -e "$target" ] && fail "left after the restart: $(find "$target")"
    [ -e "$links" ] && fail "the shortcuts' folder is left: $(ls "$links")"
    w reg query "$uninstall\\qorvexal" /reg:64
    [ "$rc" = 0 ] && fail "the uninstall entry qorvexal is left"
  else
    fail "no removal command for the set: $(cat "$work/out.txt")"
  fi
fi
for bmp in "$work/pages"/*.bmp; do
  [ -f "$bmp" ] && convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"
done

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
