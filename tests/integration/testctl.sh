# The client side of a program's test control channel for the Wine tests (sourced):
#   ctl_open PORT      connects on file descriptor 3
#   ctl COMMAND...     sends the command; prints the lines of a multi-line answer; returns 1 with the
#                      error on standard error when the answer is "error TEXT"
#   ctl_wait_port LOG  waits (a bounded number of tries) for "test control: port N" in LOG, prints N
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
  local answer=
  case $1 in
    windows|controls|list|locate|timing)
      while IFS= read -r -t 60 line <&3; do
        [ "$line" = . ] && break
        answer+=$line$'\n'
      done ;;
  esac
  printf '%s' "$answer"
  return 0
}

ctl_wait_port() {
  local port=
  for _ in $(seq 1 240); do
    port=$(sed -n 's/^test control: port \([0-9]*\).*/\1/p' "$1" 2>/dev/null | head -n 1)
    [ -n "$port" ] && { echo "$port"; return 0; }
    sleep 0.5
  done
  return 1
}

# The active window's handle (the first line of "windows").
ctl_active() {
  ctl windows | head -n 1 | cut -f 1
}

# Waits (a bounded number of tries) until the active window has the title $1.
ctl_wait_title() {
  for _ in $(seq 1 100); do
    [ "$(ctl windows | head -n 1 | cut -f 3)" = "$1" ] && return 0
    sleep 0.1
  done
  echo "ctl: no window titled $1; windows:" >&2
  ctl windows >&2
  return 1
}

# A text as the channel takes it: a backslash written "\\" (Windows paths).
ctl_text() {
  local t=${1//\\/\\\\}
  printf '%s' "$t"
}
