# The client side of a program's test control channel for the Wine tests (sourced):
#   ctl_open PORT      connects on file descriptor 3
#   ctl COMMAND...     sends the command; prints the lines of a multi-line answer; returns 1 with the
#                      error on standard error when the answer is "error TEXT"
#   ctl_wait_port LOG  waits (within 120 s) for "test control: port N" in LOG, prints N
ctl_open() {
  exec 3<>"/dev/tcp/127.0.0.1/$1"
}

ctl() {
  local line
  printf '%s\n' "$*" >&3
  IFS= read -r -t 330 line <&3 || { echo "ctl: no answer to: $*" >&2; return 2; }
  case $line in
    ok) ;;
    error\ *) echo "ctl: $*: ${line#error }" >&2; return 1 ;;
    *) echo "ctl: unexpected answer to $*: $line" >&2; return 2 ;;
  esac
  # The whole answer is read before any of it is printed: a reader that stops early (grep -q) must
  # not leave lines behind for the next command.
  # Multi-line answers end with a lone "."; "timing reset" answers with its "ok" alone (waiting for an
  # end it does not have cost a minute).
  local answer= multi=
  case $1 in
    windows|controls|list|locate|columns|picker|limit) multi=1 ;;
    timing) [ $# -eq 1 ] && multi=1 ;;
  esac
  if [ -n "$multi" ]; then
    while :; do
      IFS= read -r -t 60 line <&3 || { echo "ctl: the answer to $* did not end (no \".\" within 60 s)" >&2; return 2; }
      [ "$line" = . ] && break
      answer+=$line$'\n'
    done
  fi
  printf '%s' "$answer"
  return 0
}

# Bounds in seconds of the clock, not in tries: on a loaded machine each try (a round trip to the
# program) takes longer, and a count of tries would stretch or shrink with it. CTL_WAIT scales them all.
ctl_bound() { echo $(($1 * ${CTL_WAIT:-1})); }

ctl_wait_port() {
  local port= end=$((SECONDS + $(ctl_bound 120)))
  while :; do
    port=$(sed -n 's/^test control: port \([0-9]*\).*/\1/p' "$1" 2>/dev/null | head -n 1)
    [ -n "$port" ] && { echo "$port"; return 0; }
    [ $SECONDS -ge $end ] && break
    sleep 0.5
  done
  echo "ctl: waited $(ctl_bound 120) s for \"test control: port N\" in $1; it holds: $(head -c 2000 "$1" 2>/dev/null)" >&2
  return 1
}

# The active window's handle (the first line of "windows").
ctl_active() {
  ctl windows | head -n 1 | cut -f 1
}

# Waits until the active window has the title $1 (within 60 s); otherwise names the windows there are.
ctl_wait_title() {
  local end=$((SECONDS + $(ctl_bound 60))) seen=
  while :; do
    seen=$(ctl windows | head -n 1 | cut -f 3)
    [ "$seen" = "$1" ] && return 0
    [ $SECONDS -ge $end ] && break
    sleep 0.1
  done
  echo "ctl: waited $(ctl_bound 60) s for the active window titled '$1'; the active one is '$seen'; windows:" >&2
  ctl windows >&2
  return 1
}

# ctl_until SECONDS DESCRIPTION COMMAND...: repeats COMMAND (in this shell: the variables it sets stay)
# until it succeeds, within SECONDS; false with "waited for DESCRIPTION" and COMMAND's last output on
# standard error when it never does.
ctl_until() {
  local bound what=$2 out end
  bound=$(ctl_bound "$1")
  end=$((SECONDS + bound))
  out=$(mktemp)
  shift 2
  while :; do
    "$@" >"$out" 2>&1 && { rm -f "$out"; return 0; }
    [ $SECONDS -ge $end ] && break
    sleep 0.1
  done
  echo "ctl: waited $bound s for $what; last saw: $(head -c 3000 "$out")" >&2
  rm -f "$out"
  return 1
}

# A text as the channel takes it: a backslash written "\\" (Windows paths).
ctl_text() {
  local t=${1//\\/\\\\}
  printf '%s' "$t"
}

# ctl_file_dialog TITLE PATH: the active file dialog titled TITLE gets PATH (a path of this machine) in its
# name field and its OK button pressed. Wine's dialog may still be filling itself when it becomes active,
# and its own pending messages can empty the name field again before the press arrives: a press that
# leaves the dialog open for ten seconds is repeated, a bounded number of times. False when it stays.
ctl_file_dialog() {
  local title=$1 name try end
  name=$(ctl_text "$("$wine" winepath.exe -w "$2")")
  for try in 1 2 3 4 5; do
    ctl set 1148 "$name" && ctl press 1 || return 1
    end=$((SECONDS + $(ctl_bound 10)))
    while [ $SECONDS -lt $end ]; do
      [ "$(ctl windows | head -n 1 | cut -f 3)" != "$title" ] && return 0
      sleep 0.2
    done
    echo "ctl: the file dialog '$title' stayed after OK with $2 (try $try)" >&2
  done
  return 1
}

# The program under test (bash, after wine_begin):
#   app_start LOG EXE ARGS...  runs EXE with its test channel and ARGS (output in LOG, pid in $app_pid)
#                              and connects to the channel; the test ends when there is none
#   app_stop                   File, Exit; the program ends within ten seconds (or fails and is killed)
#   shot NAME                  the active window as $work/NAME.png
app_start() {
  local log=$1 exe=$2 p
  app_log=$log
  shift 2
  "$wine" "$exe" /testctl:0 "$@" >"$log" 2>&1 </dev/null &
  app_pid=$!
  p=$(ctl_wait_port "$log") || { cat "$log"; fail "no test control port"; exit 1; }
  # The port is named as the channel starts listening: tries to connect within 30 s.
  local end=$((SECONDS + $(ctl_bound 30)))
  while :; do
    ctl_open "$p" 2>/dev/null && return 0
    [ $SECONDS -ge $end ] && break
    sleep 0.2
  done
  cat "$log"
  fail "no connection to the test control port $p within $(ctl_bound 30) s"
  exit 1
}

app_stop() {
  ctl command 40001 || fail "File, Exit"
  local end=$((SECONDS + $(ctl_bound 60)))
  while kill -0 "$app_pid" 2>/dev/null && [ $SECONDS -lt $end ]; do
    sleep 0.1
  done
  if kill -0 "$app_pid" 2>/dev/null; then
    fail "program did not end within $(ctl_bound 60) s of File|Exit (its log ends: $(tail -n 5 "$app_log" 2>/dev/null))"
    kill "$app_pid"
  fi
  app_pid=
  exec 3>&-
}

shot() { # the active window (or the one of handle $2) as $1.png in the work directory
  local windows
  windows=$("$wine" winepath.exe -w "$work/$1.bmp" 2>/dev/null)
  [ -n "$windows" ] || { fail "screenshot $1: winepath named no Windows path for $work/$1.bmp"; return; }
  ctl shot ${2:+"$2"} "$(ctl_text "$windows")" && convert "$work/$1.bmp" "$work/$1.png" && rm -f "$work/$1.bmp" \
    || fail "screenshot $1"
}
