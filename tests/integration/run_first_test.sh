#!/usr/bin/env bash
# ./run first on a machine without its build tools: as an ordinary user it stops at once, builds
# nothing, and names the one command that installs what is missing (and only that). The tools are
# taken away by a PATH that lacks them; run as root, the script runs ./run as the user nobody.
#   run_first_test.sh RUN
set -u
run=$1
work=$(mktemp -d "${TMPDIR:-/tmp}/run-first.XXXXXX")
chmod 755 "$work"
trap 'rm -rf "$work"' EXIT
failed=0

# A PATH of every program in /usr/bin and /usr/sbin (where /bin and /sbin lead on Debian 12) except the
# ones named.
path_without() {
  local dir f links=()
  dir=$(mktemp -d "$work/path.XXXXXX")
  chmod 755 "$dir"
  for f in /usr/bin/* /usr/sbin/*; do
    case " $* " in *" ${f##*/} "*) continue ;; esac
    links+=("$f")
  done
  ln -s "${links[@]}" "$dir/" 2>/dev/null
  echo "$dir"
}
as_user() {
  if [ "$(id -u)" = 0 ]; then
    setpriv --reuid=65534 --regid=65534 --clear-groups "$@"
  else
    "$@"
  fi
}

# first NAME EXPECTED-PACKAGES PATH-LESS... -- RUN-ARGS...: ./run ends non-zero within seconds with the
# install command for exactly EXPECTED-PACKAGES.
first() {
  local name=$1 expected=$2 less=() out rc start took
  shift 2
  while [ "$1" != -- ]; do less+=("$1"); shift; done
  shift
  local path
  path=$(path_without "${less[@]}")
  start=$(date +%s)
  out=$(as_user env -i HOME="$work" PATH="$path" DISPLAY=:99 "$run" "$@" 2>&1)
  rc=$?
  took=$(($(date +%s) - start))
  local want="sudo sh -c 'apt-get update && apt-get install -y --no-install-recommends $expected'"
  if [ "$rc" = 0 ]; then
    echo "FAIL: $name: ./run ended with 0 without ${less[*]}"; failed=1
  fi
  if ! grep -qxF "    $want" <<<"$out"; then
    echo "FAIL: $name: expected the line: $want"; failed=1
  fi
  if grep -q "^run: built" <<<"$out"; then
    echo "FAIL: $name: ./run built something"; failed=1
  fi
  if [ "$took" -gt 10 ]; then
    echo "FAIL: $name: ./run took $took s to stop"; failed=1
  fi
  [ "$failed" = 0 ] || printf '%s: exit code %s, output:\n%s\n' "$name" "$rc" "$out"
}

first "no cmake" cmake cmake --
first "no cmake, no compiler" "cmake g++" cmake g++ --
# The Windows programs' tools count only with --gui.
first "--gui without MinGW" g++-mingw-w64-x86-64-posix x86_64-w64-mingw32-g++-posix -- --gui

[ "$failed" = 0 ] && echo "run_first_test: ok"
exit "$failed"
