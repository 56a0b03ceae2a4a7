#!/bin/sh
# setup-cli inf against setup-cli inf --setupapi under Wine: the native INF reader and the platform's
# SetupAPI read every script of the corpus (and the suite's own setup.inf) to the same lines, and a
# script with an error to the same message and line number. The differences allowed, applied to the
# native reader's output before the comparison:
#   1. After the error message the native reader names the error's kind on a line of its own
#      ("(section name without "]")"); SetupAPI tells only the line.
#   2. A line whose key equals its first field ("a = a, b") reads as a line without key through
#      SetupAPI, which answers field 0 of a keyless line with its first field: the two cannot be told
#      apart there, so the native "a" = "a", "b" is compared as (no key) "a", "b".
#   windows_setup_inf_test.sh <wine-run> <setup-cli.exe> <corpus directory> <setup.inf> <work directory>
wine_run=$1
cli=$2
corpus=$3
suite_inf=$4
work=$5
rm -rf "$work"
mkdir -p "$work"
# wine-run prepares the prefix and its persistent server; the two readers' outputs are compared, so
# the program is started directly in the same prefix, its standard error kept apart.
"$wine_run" cmd /c exit 0 >/dev/null 2>&1
WINEPREFIX=$(sed -n 's/^export WINEPREFIX="\(.*\)"$/\1/p' "$wine_run")
export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d;winedbg.exe=d"
wine=wine
[ -x /usr/lib/wine/wine64 ] && wine=/usr/lib/wine/wine64

failures=0
files=0
for inf in "$corpus"/*.inf "$suite_inf"; do
  name=$(basename "$inf" .inf)
  path=$(printf 'Z:%s' "$inf" | tr / '\\')
  "$wine" "$cli" inf "$path" >"$work/$name.native" 2>"$work/$name.native.err" </dev/null
  echo "exit $?" >>"$work/$name.native"
  "$wine" "$cli" inf --setupapi "$path" >"$work/$name.api" 2>"$work/$name.api.err" </dev/null
  echo "exit $?" >>"$work/$name.api"
  cat "$work/$name.native.err" >>"$work/$name.native"
  cat "$work/$name.api.err" >>"$work/$name.api"
  sed -e '/^(.*)\r*$/d' -e 's/^"\([^"]*\)" = "\1"/(no key) "\1"/' "$work/$name.native" >"$work/$name.compared"
  if ! diff "$work/$name.compared" "$work/$name.api" >"$work/$name.diff"; then
    echo "FAIL: $name.inf reads differently (native <, SetupAPI >):"
    cat "$work/$name.diff"
    failures=$((failures + 1))
  fi
  files=$((files + 1))
done
# The corpus must have been read at all: a script of the corpus has lines, the broken one an error.
grep -q '"plain" = "one", "two", "three"' "$work/keys.api" || { printf 'FAIL: keys.inf not read: %s\n' "$(cat "$work/keys.api")"; failures=$((failures + 1)); }
grep -q 'line 7\.' "$work/error_line.api" || { printf 'FAIL: error_line.inf: %s\n' "$(cat "$work/error_line.api")"; failures=$((failures + 1)); }
if [ "$failures" -gt 0 ]; then
  echo "$failures failure(s) in $files scripts"
  exit 1
fi
echo "windows_setup_inf_test: $files scripts read alike"
