#!/bin/sh
# The CD folder as the build assembles it is the whole distribution: every file setup.inf copies lies
# beside setup.exe (as setup-cli files reads the script), every command and document of the menu script
# exists, each program carries its application manifest (common controls 6, DPI awareness, the
# supported systems; asInvoker, setup requireAdministrator), the read-me is plain text with CR LF line
# ends, the user's guides are there and the developers' notes are not.
#   cd_files_test.sh <wine-run> <setup-cli.exe> <CD folder>
wine_run=$1
cli=$2
cd=$3
export LC_ALL=C
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
[ -f "$cd/setup.inf" ] || { echo "FAIL: no setup.inf on the CD ($cd)"; exit 1; }

# A file of the CD by its Windows name (compared ignoring case, as Windows finds it).
on_cd() {
  path=$(printf '%s' "$1" | tr '\\' /)
  dir=$cd
  rest=$path
  while :; do
    part=${rest%%/*}
    found=$(find "$dir" -mindepth 1 -maxdepth 1 -iname "$part" 2>/dev/null | head -n 1)
    [ -n "$found" ] || return 1
    [ "$part" = "$rest" ] && return 0
    dir=$found
    rest=${rest#*/}
  done
}

# 1. Every file the script copies.
"$wine_run" "$cli" files "$(printf 'Z:%s' "$cd/setup.inf" | tr / '\\')" >"$cd.files" 2>&1
rc=$?
tr -d '\r' <"$cd.files" >"$cd.files.txt"
rm -f "$cd.files"
[ "$rc" = 0 ] || fail "setup-cli files: exit $rc: $(cat "$cd.files.txt")"
count=0
while IFS= read -r f; do
  [ -n "$f" ] || continue
  count=$((count + 1))
  on_cd "$f" || fail "setup.inf copies $f, which is not on the CD"
done <"$cd.files.txt"
[ "$count" -ge 10 ] || fail "setup.inf names only $count files: $(cat "$cd.files.txt")"
for f in setup.exe setup.inf qorvexal.exe qorvexal.dll talvine.exe ostrel.exe velquin.html travik.html ostrel.html readme.txt; do
  grep -qix "$f" "$cd.files.txt" || fail "setup.inf does not install $f"
done
rm -f "$cd.files.txt"

# 2. What the menu script starts and opens (the second field of each hot-spot line, "$" commands and
# addresses aside), and the files its conditions look for.
tr -d '\r' <"$cd/autorun.inf" | sed -n 's/^Line=[^;]*;\([^;$][^;]*\).*/\1/p' | sort -u | while IFS= read -r target; do
  case $target in
    *://* | .) continue ;;
  esac
  on_cd "$target" || echo "$target"
done >"$cd.missing"
while IFS= read -r target; do fail "the menu script names $target, which is not on the CD"; done <"$cd.missing"
rm -f "$cd.missing"
for f in kardell.exe autorun.inf docs/index.html tools/qorvexal-cli.exe tools/talvine-cli.exe tools/ostrel-cli.exe; do
  on_cd "$f" || fail "$f is not on the CD"
done

# 3. Manifests: each program's embedded manifest (the resource's text is read from the file).
manifest() {
  tr -d '\000' <"$1" | tr '\r\n' '  ' | grep -o '<assembly .*</assembly>' | head -n 1
}
for f in qorvexal.exe talvine.exe ostrel.exe kardell.exe setup.exe tools/qorvexal-cli.exe tools/talvine-cli.exe tools/ostrel-cli.exe; do
  [ -f "$cd/$f" ] || continue
  m=$(manifest "$cd/$f")
  [ -n "$m" ] || { fail "$f carries no application manifest"; continue; }
  case $f in
    setup.exe) level=requireAdministrator ;;
    *) level=asInvoker ;;
  esac
  echo "$m" | grep -q "requestedExecutionLevel level=\"$level\"" || fail "$f: execution level is not $level"
  echo "$m" | grep -q 'name="Microsoft.Windows.Common-Controls" version="6.0.0.0"' \
    || fail "$f: no common controls version 6"
  echo "$m" | grep -q '<dpiAware[^>]*>true' || fail "$f: not DPI aware"
  # Windows 10/11, 8.1, 8, 7 and Vista.
  for id in 8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a 1f676c76-80e1-4239-95bb-83d0f6d0da78 \
            4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38 35138b9a-5d96-4fbd-8e2d-a2440225f93a \
            e2011457-1546-43c5-a5fe-008deee3d3f0; do
    echo "$m" | grep -qi "supportedOS Id=\"{$id}\"" || fail "$f: no supportedOS entry {$id}"
  done
done

# 4. The read-me: plain text, CR LF throughout, and it says where settings live.
if [ -f "$cd/readme.txt" ]; then
  lf=$(tr -cd '\n' <"$cd/readme.txt" | wc -c)
  crlf=$(grep -c "$(printf '\r')\$" "$cd/readme.txt")
  [ "$lf" -gt 20 ] && [ "$lf" = "$crlf" ] || fail "readme.txt: $lf lines, $crlf of them end in CR LF"
  LC_ALL=C grep -q '[^[:print:][:space:]]' "$cd/readme.txt" && fail "readme.txt holds characters that are not plain text"
  grep -q 'APPDATA%\\Zevra\\Velquin' "$cd/readme.txt" || fail "readme.txt does not say where settings live"
  grep -q '@PROJECT_VERSION@' "$cd/readme.txt" && fail "readme.txt: the version is not filled in"
fi

# 5. The user's guides are there; the developers' notes and Markdown are not.
for f in velquin.html travik.html ostrel.html docs/index.html; do
  [ -f "$cd/$f" ] && grep -q '</html>' "$cd/$f" || fail "$f is missing or not a whole page"
done
left=$(find "$cd" -iname '*.md' -o -iname 'architecture*' | head -n 5)
[ -z "$left" ] || fail "developers' notes on the CD: $left"

if [ "$failures" -gt 0 ]; then
  echo "$failures failure(s)"
  exit 1
fi
echo "cd_files_test: $count files of setup.inf, the menu's targets, manifests and documents on the CD"
