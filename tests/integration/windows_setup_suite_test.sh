#!/bin/sh
# The suite's own data/setup.inf under Wine in a prefix of its own: setup.exe installs, quietly, every
# product whose files the build has (the configuration tool with its plug-in, description and wizard
# files; the monitor with its script; Ostrel as the interactive own-process service "ZevraCapiCtl"),
# then removes them all: files, shortcuts, uninstall entries and the service, and no folder is left.
#   windows_setup_suite_test.sh <folder of the built programs> <setup.inf> <work directory>
# Exits 77 (skipped) without a display.
bin=$1
inf=$2
work=$3
. "$(dirname "$0")/windows_preamble.sh"

wine_private_prefix "$work/prefix"
trap 'wineserver -k >/dev/null 2>&1' EXIT

# w ARGS...: a Windows program, its output in out.txt and its exit code in $rc; started once more when
# Wine itself fails to start it ("failed to map the shared user data", before the program runs).
w() {
  for _ in 1 2 3; do
    "$wine" "$@" >"$work/out.txt" 2>&1 </dev/null
    rc=$?
    grep -q 'failed to map the shared user data' "$work/out.txt" || return
  done
}
target="$WINEPREFIX/drive_c/Program Files/Zevra/Morvak"
links="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Zevra Morvak"

# The files each product installs, and its shortcut.
files_of() {
  case $1 in
    qorvexal) echo qorvexal.exe qorvexal.dll qorv1100.dsc qorv1100.wiz qorv2400.dsc qorv2400.wiz qorv5000.dsc qorv5000.wiz ;;
    talvine) echo talvine.exe talvmorv.dsc ;;
    ostrel) echo ostrel.exe ;;
  esac
}
link_of() {
  case $1 in
    qorvexal) echo Velquin.lnk ;;
    talvine) echo Travik.lnk ;;
    ostrel) echo 'Ostrel Status.lnk' ;;
  esac
}

src=$work/src
mkdir -p "$src"
cp "$bin/setup.exe" "$inf" "$src/"
keys=
for key in qorvexal talvine ostrel; do
  have=1
  for f in $(files_of $key); do
    [ -f "$bin/$f" ] || have=
  done
  if [ -n "$have" ]; then
    for f in $(files_of $key); do cp "$bin/$f" "$src/"; done
    keys="$keys${keys:+,}$key"
  else
    echo "$key: not all of its files are built; not installed"
  fi
done
[ -n "$keys" ] || { echo "no product of the suite is built: skipped"; exit 77; }
echo "installing $keys"

# 1. Quiet installation of the products whose files exist.
w "$src/setup.exe" "/quiet:$keys" /reboot:0
[ "$rc" = 0 ] || [ "$rc" = $((3010 % 256)) ] || fail "install: exit $rc: $(cat "$work/out.txt")"
echo "install: exit $rc"
cat "$work/out.txt"
for f in setup.exe setup.inf; do
  [ -f "$target/$f" ] || fail "install: missing $f"
done
w uninstaller --list
tr -d '\r' <"$work/out.txt" >"$work/list.txt"
grep -qx 'Morvak|||Zevra Morvak Tools' "$work/list.txt" || fail "install: no uninstall entry of the set: $(cat "$work/list.txt")"
for key in $(echo "$keys" | tr , ' '); do
  for f in $(files_of $key); do
    cmp -s "$src/$f" "$target/$f" || fail "install: $key: $f missing or not the built one"
  done
  [ -f "$links/$(link_of $key)" ] || fail "install: $key: no shortcut $(link_of $key)"
  grep -q "^$key|||" "$work/list.txt" || fail "install: $key: no uninstall entry"
done
case ",$keys," in
  *,ostrel,*)
    w reg query 'HKLM\System\CurrentControlSet\Services\ZevraCapiCtl' /reg:64
    tr -d '\r' <"$work/out.txt" >"$work/service.txt"
    grep -qE 'Type +REG_DWORD +0x110$' "$work/service.txt" \
      || fail "install: ZevraCapiCtl is not an interactive own-process service: $(cat "$work/service.txt")"
    grep -qF '"C:\Program Files\Zevra\Morvak\ostrel.exe"' "$work/service.txt" \
      || fail "install: ZevraCapiCtl binary: $(cat "$work/service.txt")"
    ;;
esac

# 2. Removal of every installed product (by the script beside the source, so that nothing is in use):
# the whole set goes with the last product.
w "$src/setup.exe" /quiet /remove /reboot:0
[ "$rc" = 0 ] || [ "$rc" = $((3010 % 256)) ] || fail "remove: exit $rc: $(cat "$work/out.txt")"
w uninstaller --list
grep -q 'Morvak\|qorvexal\|talvine\|ostrel' "$work/out.txt" && fail "remove: uninstall entries left: $(cat "$work/out.txt")"
w reg query 'HKLM\System\CurrentControlSet\Services\ZevraCapiCtl' /reg:64
[ "$rc" = 0 ] && fail "remove: the service is left: $(cat "$work/out.txt")"
[ -e "$links" ] && fail "remove: the shortcuts' folder is left: $(ls "$links")"
# Removed at once unless a file was in use; then by the restart.
[ -e "$target" ] && "$wine" wineboot -r >/dev/null 2>&1 </dev/null
[ -e "$target" ] && fail "remove: left: $(find "$target")"

if [ "$failures" -gt 0 ]; then
  echo "$failures failure(s)"
  exit 1
fi
echo "windows_setup_suite_test: $keys installed and removed"
