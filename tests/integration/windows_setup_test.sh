#!/bin/sh
# setup.exe under Wine in a prefix of its own, on a sample product of files (one in a subfolder),
# registry values, a test service, a shortcut, Exec lines and the test plug-ins (a condition with a
# failure text, a level-4 step with progress):
#   - a failing condition ends a quiet run with the plug-in's text and exit 1603;
#   - "/quiet /reboot:0" installs it: files, values, the running service (sc query), the shortcut read
#     back through the shell link object, the uninstall entries (uninstaller --list), the Exec passes
#     and the plug-in step in order;
#   - the wizard's pages in styles 0, 1 and 2 (pictures; Cancel before the installation), the last one
#     with a product whose service cannot be created: the failure text with the system's message,
#     then Back, Next and Cancel offered again;
#   - an upgrade over the running service;
#   - "uninstaller --remove" runs the entry's command: the removal page and its finish page
#     (screenshots), and everything is gone, the emptied folders included;
#   - a file held open while the product is removed is deleted by the restart "/reboot:2" makes at
#     once (exit code 0); one deleted by "wineboot -r" does not take a reinstall made before it;
#   - the per-application Windows version (win98, winme, nt40, win2k) picks the install section.
#   windows_setup_test.sh <setup.exe> <work directory> <condition plug-in> <steps plug-in> <test program>
# Exits 77 (skipped) without a display.
setup_exe=$1
work=$2
plug_cond=$3
plug_steps=$4
prog=$5
. "$(dirname "$0")/windows_preamble.sh"

wine_private_prefix "$work/prefix"
holder_pid=
cleanup() {
  [ -n "$holder_pid" ] && kill "$holder_pid" 2>/dev/null
  wineserver -k >/dev/null 2>&1
}
trap cleanup EXIT

winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
# Runs a Windows program; its output in $work/out.txt, its exit code in $rc. Started once more when
# Wine itself fails to start it ("failed to map the shared user data", before the program runs).
w() {
  for _ in 1 2 3; do
    "$wine" "$@" >"$work/out.txt" 2>&1 </dev/null
    rc=$?
    grep -q 'failed to map the shared user data' "$work/out.txt" || return
  done
}
drive_c="$WINEPREFIX/drive_c"
target="$drive_c/Program Files/Zevra Setup Test"
target_win='C:\Program Files\Zevra Setup Test'
links="$drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs"

src=$work/src
mkdir -p "$src"
cp "$setup_exe" "$src/setup.exe"
cp "$plug_cond" "$src/setup_testplugin_cond.dll"
cp "$plug_steps" "$src/setup_testplugin_steps.dll"
cp "$prog" "$src/testsvc.exe"
cp "$prog" "$src/prog.exe"
printf 'readme of the sample\r\n' >"$src/readme.txt"
printf 'data of the sample\r\n' >"$src/held.txt"
printf 'more data\r\n' >"$src/more.txt"
printf 'a guide\r\n' >"$src/guide.txt"
# A cabinet's signature and header: copied byte for byte, not unpacked.
printf 'MSCF\000\000\000\000\054\000\000\000\000\000\000\000\054\000\000\000\000\000\000\000\003\001\001\000\000\000\000\000\000\000\000\000' >"$src/sample.cab"
cat >"$src/setup.inf" <<'INF'
[Version]
Signature = "$Chicago$"

[DestinationDirs]
DefaultDestDir = 24, "\Zevra Setup Test"
Setup.Files = 32768
Sample.Files = 32768
Sample.Sub = 32768, data
Sample.Docs = 32768, docs\en

[Install]
CopyFiles = Setup.Files
Conditions = Main.Conditions
Uninstall = SampleSet, "Sample Set"

[Main.Conditions]
setup_testplugin_cond.dll, AlwaysHolds

[Remove]
DelFiles = Setup.Files

[Products]
sample = "Sample Product", Sample.Install, Sample.Remove, 1, 0, "Files, registry values, a service and a shortcut", 1.2.0
broken = "Broken Product", Broken.Install

[Setup.Files]
setup.exe
setup.inf
setup_testplugin_cond.dll
setup_testplugin_steps.dll

[Sample.Install]
Conditions = Sample.Conditions
CopyFiles = Sample.Files, Sample.Sub, Sample.Docs
AddReg = Sample.Reg
MakeIcons = Sample.Icons
Exec = @prog.exe, Sample.Exec
Plugins = setup_testplugin_steps.dll

[Sample.Conditions]
setup_testplugin_cond.dll, HoldsUnlessAsked

[Sample.Install.Services]
StopService = SetupTestSvc
AddService = SetupTestSvc, 0, Sample.Service
StartService = SetupTestSvc

[Sample.Service]
DisplayName = "Setup Test Service"
ServiceType = 16
StartType = 3
ErrorControl = 1
ServiceBinary = %32768%\testsvc.exe

[Sample.Files]
testsvc.exe
readme.txt
sample.cab

[Sample.Docs]
guide.txt

[Sample.Sub]
held.txt
more.txt

[Sample.Exec]
2, "%32768%\testsvc.exe", level2
1, prog.exe, "level1 %hwnd%"
3, prog.exe, level3

[Sample.Reg]
HKLM, "Software\Zevra Setup Test", "Version", 0, "1.2.0"
HKLM, "Software\Zevra Setup Test", "Dir", 0, "%32768%"

[Sample.Icons]
CPRG, "Zevra Setup Test\Sample Tool", "%32768%\testsvc.exe", "--from-link", "%32768%\testsvc.exe", 0, 1

[Sample.Remove]
DelFiles = Sample.Files, Sample.Sub, Sample.Docs
DelReg = Sample.Reg
DelIcons = Sample.Icons

[Sample.Remove.Services]
StopService = SetupTestSvc
DelService = SetupTestSvc

; A start type the service control manager refuses: the installation fails. Offered under the sample's
; condition (with it failing, nothing is offered).
[Broken.Install]
Conditions = Sample.Conditions
[Broken.Install.Services]
AddService = SetupTestBroken, 0, Broken.Service

[Broken.Service]
DisplayName = "Broken Service"
ServiceType = 16
StartType = 9
ErrorControl = 1
ServiceBinary = %32768%\testsvc.exe
INF

# Exit codes 1603 (failed) and 3010 (restart needed, not made) as the shell sees them (modulo 256).
exit_failed=$((1603 % 256))
exit_restart=$((3010 % 256))
log="$work/exec.log"
marker="$work/marker.txt"
SETUP_TEST_LOG=$(winpath "$log")
SETUP_TESTPLUGIN_MARKER=$(winpath "$marker")
export SETUP_TEST_LOG SETUP_TESTPLUGIN_MARKER

installed_files() {
  for f in setup.exe setup.inf testsvc.exe readme.txt sample.cab data/held.txt data/more.txt docs/en/guide.txt; do
    [ -f "$target/$f" ] || echo "missing $f"
  done
}
service_state() {
  w sc query SetupTestSvc
  grep -o 'RUNNING\|STOPPED\|1060' "$work/out.txt" | head -n 1
}
reg_value() {
  w reg query 'HKLM\Software\Zevra Setup Test' /v "$1" /reg:64
  [ "$rc" = 0 ] && tr -d '\r' <"$work/out.txt" | awk -v v="$1" '$1 == v { $1 = ""; $2 = ""; sub(/^ +/, ""); print }'
}

# 1. A condition that fails: nothing offered, the plug-in's text as a diagnostic line, exit 1603.
SETUP_TESTPLUGIN_FAIL=1 w "$src/setup.exe" /quiet /reboot:0
[ "$rc" = $exit_failed ] || fail "failing condition: exit $rc, not 1603"
grep -q 'The test condition does not hold' "$work/out.txt" || fail "failing condition: no plug-in text: $(cat "$work/out.txt")"
[ -e "$target" ] && fail "failing condition: something was installed"

# 2. Quiet installation.
w "$src/setup.exe" /quiet /reboot:0
[ "$rc" = 0 ] || fail "install: exit $rc: $(cat "$work/out.txt")"
cp "$work/out.txt" "$work/install.txt"
missing=$(installed_files)
[ -z "$missing" ] || fail "install: $missing"
cmp -s "$src/sample.cab" "$target/sample.cab" || fail "install: the cabinet was not copied as it is"
[ "$(reg_value Version)" = 1.2.0 ] || fail "install: registry value Version: '$(reg_value Version)'"
[ "$(reg_value Dir)" = "$target_win" ] || fail "install: registry value Dir: '$(reg_value Dir)'"
[ "$(service_state)" = RUNNING ] || fail "install: service not running: $(cat "$work/out.txt")"
w reg query 'HKLM\System\CurrentControlSet\Services\SetupTestSvc' /v ImagePath /reg:64
grep -qF "\"$target_win\\testsvc.exe\"" "$work/out.txt" \
  || fail "install: ImagePath not quoted: $(cat "$work/out.txt")"
lnk="$links/Zevra Setup Test/Sample Tool.lnk"
[ -f "$lnk" ] || fail "install: no shortcut $lnk"
# Quiet: the shortcut's folder is not opened (the wizard opens it: windows_setup_pages_test).
grep -qF 'Zevra Setup Test is not opened' "$work/install.txt" \
  || fail "install: quiet run and the open-folder flag: $(cat "$work/install.txt")"
w "$src/prog.exe" readlink 'C:\ProgramData\Microsoft\Windows\Start Menu\Programs\Zevra Setup Test\Sample Tool.lnk'
tr -d '\r' <"$work/out.txt" >"$work/link.txt"
grep -qxF "target=$target_win\\testsvc.exe" "$work/link.txt" || fail "link target: $(cat "$work/link.txt")"
grep -qxF 'args=--from-link' "$work/link.txt" || fail "link arguments: $(cat "$work/link.txt")"
grep -qxF "dir=$target_win" "$work/link.txt" || fail "link folder: $(cat "$work/link.txt")"
w uninstaller --list
tr -d '\r' <"$work/out.txt" >"$work/list.txt"
grep -qx 'sample|||Sample Product' "$work/list.txt" || fail "uninstall entry sample: $(cat "$work/list.txt")"
grep -qx 'SampleSet|||Sample Set' "$work/list.txt" || fail "uninstall entry SampleSet: $(cat "$work/list.txt")"
w reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\sample' /v UninstallString /reg:64
grep -qF "\"$target_win\\setup.exe\" /remove:sample" "$work/out.txt" \
  || fail "UninstallString: $(cat "$work/out.txt")"
printf 'args:\nargs: level1 0x00000000\nargs: level2\nargs: level3\n' >"$work/exec.expected"
tr -d '\r' <"$log" | diff "$work/exec.expected" - >/dev/null || fail "Exec passes: $(cat "$log")"
[ "$(tr -d '\r' <"$marker")" = "marker 0 5 10" ] || fail "plug-in step: '$(cat "$marker" 2>/dev/null)'"

# page NAME BUTTON: waits for the page showing BUTTON, keeps its texts in NAME.txt and a screenshot.
page() {
  w "$src/prog.exe" page "$title" "$2" "$(winpath "$work/$1.txt")"
  [ "$rc" = 0 ] && import -window root "$work/$1.png"
}
click() {
  w "$src/prog.exe" click "$title" "$1"
  [ "$rc" = 0 ]
}
# Waits (bounded: 120 s) until process $1 has ended.
wait_end() {
  for _ in $(seq 1 1200); do
    kill -0 "$1" 2>/dev/null || return 0
    sleep 0.1
  done
  return 1
}

# 3. The wizard's pages in each style, walked with Next up to the carry-out page (the test program's
# walk: each page's texts and picture), then cancelled. The last one installs only the broken product
# (no component page): Next on the carry-out page fails, the failure text names the system's message
# for the error (the one the diagnostic line gives), and the page offers Back, Next and Cancel again.
title='Velquin Suite Software Setup'
next='#12324'
for style in 0 1 2; do
  s=style$style
  if [ $style = 2 ]; then
    components=
    product=/install:broken
    failed="click:$next
box:${s}_failed:#1:Error
page:${s}_6_again:#12323
page:${s}_6_again:$next"
  else
    components="page:${s}_3_components:$next
click:$next"
    product=
    failed=
  fi
  "$wine" "$src/setup.exe" /style:$style $product >"$work/wizard.txt" 2>&1 </dev/null &
  pid=$!
  saved_ifs=$IFS
  IFS='
'
  # shellcheck disable=SC2086
  w "$src/prog.exe" walk "$title" "$(winpath "$work")" page:${s}_1_welcome:$next click:$next \
    page:${s}_2_license:$next click:$next $components page:${s}_4_target:$next click:$next \
    page:${s}_5_carryout:$next $failed click:#2
  IFS=$saved_ifs
  [ "$rc" = 0 ] || fail "style $style: $(cat "$work/out.txt")"
  grep -qF 'Please click Next to start the installation.' "$work/${s}_1_welcome.txt" 2>/dev/null \
    || fail "style $style: welcome text: $(cat "$work/${s}_1_welcome.txt" 2>/dev/null)"
  grep -qxF "$target_win" "$work/${s}_4_target.txt" 2>/dev/null \
    || fail "style $style: target directory: $(cat "$work/${s}_4_target.txt" 2>/dev/null)"
  wait_end $pid || { fail "style $style: the wizard did not end"; kill $pid; }
  wait $pid
  wizard_rc=$?
  if [ -n "$failed" ]; then
    [ $wizard_rc = $exit_failed ] || fail "style $style: the failed installation's exit $wizard_rc, not 1603"
    system=$(tr -d '\r' <"$work/wizard.txt" | sed -n 's/^setup: the service SetupTestBroken cannot be created: //p')
    printf 'The installation did not complete successfully.\n\n%s\n' "$system" >"$work/failed.expected"
    tr -d '\r' <"$work/${s}_failed.txt" | grep -v '^OK$\|^default:' | diff "$work/failed.expected" - >/dev/null \
      && [ -n "$system" ] || fail "style $style: failure text: $(cat "$work/${s}_failed.txt" 2>/dev/null) ($(cat "$work/wizard.txt"))"
  fi
done
for bmp in "$work"/style*.bmp; do
  [ -f "$bmp" ] && convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"
done

# 4. An upgrade over the running service.
w "$src/setup.exe" /quiet /reboot:0
[ "$rc" = 0 ] || fail "upgrade: exit $rc: $(cat "$work/out.txt")"
[ "$(service_state)" = RUNNING ] || fail "upgrade: service not running"

# 5. Removal through the uninstall entry: the removal page, Next, the finish page, Finish. The running
# installer cannot delete itself: it is deleted at the restart, with its folder, and the finish page
# says that a restart is needed. Then the restart question goes to SetupPromptReboot (under Wine a
# stub that shows nothing and reports nothing: the trace shows the call), and as it asked nothing the
# installer asks itself: No leaves the rest to the next restart.
start_removal() {
  WINEDEBUG=fixme+setupapi "$wine" uninstaller --remove sample >"$work/remove.txt" 2>&1 </dev/null &
  pid=$!
}
start_removal
shown=
page remove_1_page 'Next >' && shown=1
# Now and then Wine itself fails to start the program the uninstaller launches, before setup.exe runs
# ("failed to map the shared user data"): then the uninstaller is started once more.
if [ -z "$shown" ] && grep -q 'failed to map the shared user data' "$work/remove.txt"; then
  echo "removal: Wine did not start the installer; once more"
  wait_end $pid
  start_removal
  page remove_1_page 'Next >' && shown=1
fi
if [ -n "$shown" ]; then
  click 'Next >'
  page remove_2_finish Finish || fail "removal: no finish page"
  grep -qF 'Your computer must be restarted to complete the deinstallation.' "$work/remove_2_finish.txt" \
    || fail "removal: no restart note: $(cat "$work/remove_2_finish.txt")"
  click Finish
  w "$src/prog.exe" walk "$title" "$(winpath "$work")" "box:remove_3_restart:#7:$title"
  [ "$rc" = 0 ] || fail "removal: the installer asked nothing about the restart: $(cat "$work/out.txt")"
  grep -qF 'Do you want to restart your computer now?' "$work/remove_3_restart.txt" \
    || fail "removal: the restart question: $(cat "$work/remove_3_restart.txt")"
else
  fail "removal: no removal page"
fi
wait_end $pid || fail "removal: the uninstaller did not end"
# The installed setup.exe the uninstaller started, in this prefix (other runs of this test may be at
# work on the same machine).
installer_running() {
  for p in $(pgrep -f 'Zevra Setup Test.setup\.exe'); do
    { tr '\0' '\n' <"/proc/$p/environ"; } 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" && return 0
  done
  return 1
}
for _ in $(seq 1 1200); do
  installer_running || break
  sleep 0.1
done
installer_running && fail "removal: the installer did not end"
grep -q SetupPromptReboot "$work/remove.txt" || fail "removal: no restart question"
left=$(cd "$target" 2>/dev/null && find . -type f)
[ "$left" = ./setup.exe ] || fail "removal: left before the restart: $left"
[ -e "$target/docs" ] && fail "removal: the emptied folder docs is left"
w reg query 'HKLM\System\CurrentControlSet\Services\SetupTestSvc' /reg:64
[ "$rc" = 0 ] && fail "removal: service still there"
[ -z "$(reg_value Version)" ] || fail "removal: registry value left"
[ -e "$links/Zevra Setup Test" ] && fail "removal: shortcut folder left"
w uninstaller --list
grep -q 'sample\|SampleSet' "$work/out.txt" && fail "removal: uninstall entries left: $(cat "$work/out.txt")"
# wineboot -r carries out the deletes registered for the restart before it returns.
"$wine" wineboot -r >/dev/null 2>&1 </dev/null
[ -e "$target" ] && fail "removal: left after the restart: $(find "$target")"

# 6. A file held open during the removal goes at the restart; a reinstall before it survives.
w "$src/setup.exe" /quiet /reboot:0
[ "$rc" = 0 ] || fail "reinstall: exit $rc"
"$wine" "$src/prog.exe" hold "$target_win\\data\\held.txt" "$(winpath "$work/held.ready")" >/dev/null 2>&1 </dev/null &
holder_pid=$!
for _ in $(seq 1 240); do [ -e "$work/held.ready" ] && break; sleep 0.25; done
[ -e "$work/held.ready" ] || fail "holder did not start"
# "/reboot:2": the restart is made at once and the exit code is 0. Wine's restart (a wineboot the
# installer starts and does not wait for) ends the session, the holder releasing its file then, and
# carries out the deletes registered for the restart: waited for (bounded) until the held file is gone
# and no wineboot of this prefix runs.
w "$target/setup.exe" /quiet /remove:sample /reboot:2
[ "$rc" = 0 ] || fail "removal with a held file, /reboot:2: exit $rc, not 0: $(cat "$work/out.txt")"
grep -qF 'held.txt is in use' "$work/out.txt" || fail "held file deleted at once: $(cat "$work/out.txt")"
grep -qF 'more.txt is in use' "$work/out.txt" && fail "a free file was not deleted at once"
wineboot_running() {
  for p in $(pgrep -f 'wineboot'); do
    { tr '\0' '\n' <"/proc/$p/environ"; } 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" && return 0
  done
  return 1
}
for _ in $(seq 1 480); do
  [ -e "$target/data/held.txt" ] || wineboot_running || break
  sleep 0.25
done
[ -e "$target/data/held.txt" ] && fail "held file still there after the restart"
wineboot_running && fail "the restart did not end"
kill "$holder_pid" 2>/dev/null
wait "$holder_pid" 2>/dev/null
holder_pid=
w "$src/setup.exe" /quiet /reboot:0
[ "$rc" = 0 ] || fail "install before a restart: exit $rc"
"$wine" "$src/prog.exe" hold "$target_win\\data\\held.txt" "$(winpath "$work/held2.ready")" >/dev/null 2>&1 </dev/null &
holder_pid=$!
for _ in $(seq 1 240); do [ -e "$work/held2.ready" ] && break; sleep 0.25; done
[ -e "$work/held2.ready" ] || fail "second holder did not start"
w "$target/setup.exe" /quiet /remove:sample /reboot:0
kill "$holder_pid" 2>/dev/null
wait "$holder_pid" 2>/dev/null
holder_pid=
w "$src/setup.exe" /quiet /reboot:0
[ "$rc" = 0 ] || fail "reinstall before the restart: exit $rc"
"$wine" wineboot -r >/dev/null 2>&1 </dev/null
missing=$(installed_files)
[ -z "$missing" ] || fail "reinstall did not survive the restart: $missing"
w "$target/setup.exe" /quiet /remove:sample /reboot:0

# 7. The per-application Windows version picks the install section.
ver=$work/versions
mkdir -p "$ver"
cp "$setup_exe" "$ver/setup.exe"
cat >"$ver/setup.inf" <<'INF'
[Version]
Signature = "$Chicago$"
[Install.NT5]
AddReg = R.NT5
[Install]
AddReg = R.Plain
[Install.WinMe]
AddReg = R.Me
[Install.Win98]
AddReg = R.98
[Products]
p = "Sections", P.Install, P.Remove, 1
[P.Install]
[P.Remove]
[R.NT5]
HKLM, "Software\Zevra Setup Test", "Chosen", 0, "Install.NT5"
[R.Plain]
HKLM, "Software\Zevra Setup Test", "Chosen", 0, "Install"
[R.Me]
HKLM, "Software\Zevra Setup Test", "Chosen", 0, "Install.WinMe"
[R.98]
HKLM, "Software\Zevra Setup Test", "Chosen", 0, "Install.Win98"
INF
for pair in win2k:Install.NT5 nt40:Install win98:Install.Win98 winme:Install.WinMe; do
  version=${pair%%:*}
  w reg add 'HKCU\Software\Wine\AppDefaults\setup.exe' /v Version /d "$version" /f
  w reg delete 'HKLM\Software\Zevra Setup Test' /v Chosen /f /reg:64
  w "$ver/setup.exe" /quiet /reboot:0
  chosen=$(reg_value Chosen)
  [ "$chosen" = "${pair#*:}" ] || fail "$version: section '$chosen', not ${pair#*:} (exit $rc)"
done
w reg delete 'HKCU\Software\Wine\AppDefaults\setup.exe' /f

if [ "$failures" -gt 0 ]; then
  echo "$failures failure(s); screenshots in $work"
  exit 1
fi
echo "windows_setup_test: all checks passed; screenshots in $work"
