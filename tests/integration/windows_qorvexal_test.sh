#!/bin/bash
# qorvexal.exe under Wine on an X display: the main window appears (screenshot kept in the build tree),
# a second start without verbs brings the first to the front and ends, a start with "edit:" on a file
# nobody edits still runs its verb, "close" ends after the verbs, and the window's placement is saved
# when it closes.
#   windows_qorvexal_test.sh <wine-run> <qorvexal.exe> <work directory>
# Exits 77 (skipped) without a display.
wine_run=$1
exe=$2
work=$3
. "$(dirname "$0")/windows_preamble.sh"
mkdir -p "$work/app"
cp "$exe" "$work/app/qorvexal.exe"
app=$work/app/qorvexal.exe
# No start-up search reaches the machine's network; closing needs no confirmation.
printf '[Options]\r\nSearchAtStartup=0\r\nDontAskForExit=1\r\n' >"$work/app/qorvexal.ini"

# The first instance runs with its test control channel (its output is read while it runs).
. "$(dirname "$0")/testctl.sh"
wine_run_env "$wine_run"
# The launcher wine-run uses for a 64-bit program.
wine=wine
[ -x /usr/lib/wine/wine64 ] && wine=/usr/lib/wine/wine64
"$wine" "$app" /testctl:0 >"$work/first.log" 2>&1 </dev/null &
first=$!
cleanup() {
  kill "$first" 2>/dev/null
}
trap cleanup EXIT

# The window of this copy: its title, and the instance's process still running. The bounds below are
# generous: a Wine start and end take many seconds on a busy machine, and only a failure waits them out.
window=
for _ in $(seq 1 120); do
  window=$(xdotool search --name '^Velquin$' 2>/dev/null | head -n 1)
  [ -n "$window" ] && break
  sleep 0.5
done
[ -n "$window" ] || fail "main window did not appear"
# A window drawn on the black root: its area turns light.
[ -n "$window" ] && { shot_drawn "$work/qorvexal-main.png" "$window" || fail "main window not drawn (mean $mean)"; }
[ -d "$work/app/Config" ] && [ -d "$work/app/Firmware" ] || fail "Config and Firmware folders not created"

# A second start without verbs activates the first and ends.
out=$(timeout 60 "$wine_run" "$app")
printf "%s\n" "second start: $out"
printf "%s\n" "$out" | grep -q "another instance runs: window activated" || fail "second start did not find the first"
kill -0 "$first" 2>/dev/null || fail "first instance ended"

# "edit:" on a file that no instance edits runs even while the first instance runs: the file does not
# exist, so the verb says "Can't open file." (answered through the second instance's own channel), then
# the start finds the first instance and ends. (Wine escapes double quotes in the arguments it is given,
# so quoted values are tested natively.)
# verb_start NAME VERB-TEXT ARGS...: a start with its own test channel whose verb meets a file that does
# not exist (or, with $expect, the message it holds): "Can't open file." is answered with OK, then the start must end by itself; its pid in $pid.
verb_start() {
  name=$1 verb=$2
  shift 2
  "$wine" "$app" /testctl:0 "$@" >"$work/$name.log" 2>&1 </dev/null &
  pid=$!
  port=$(ctl_wait_port "$work/$name.log") || fail "$name start: no test control port"
  for _ in $(seq 1 100); do
    ctl_open "$port" 2>/dev/null && break
    sleep 0.2
  done
  want=$expect
  [ -n "$want" ] || want="Can't open file."
  ctl_wait_title Error && ctl controls | grep -qF "$want" || fail "$verb verb did not say \"$want\": $(ctl controls)"
  ctl press 1
  exec 3>&-
  for _ in $(seq 1 300); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.2
  done
  kill -0 "$pid" 2>/dev/null && { fail "$name start did not end"; kill "$pid"; }
}

verb_start edit edit '/edit:C:\cfg\office1.lcf'
second=$pid
printf "%s\n" "edit start: $(cat "$work/edit.log")"
grep -q 'verb edit: C:\\cfg\\office1.lcf' "$work/edit.log" || fail "edit verb did not run"
# The verb started the description index; the start that hands over to the first still ends cleanly.
wait "$second" || fail "edit start ended with exit code $?"
grep -q "terminate called" "$work/edit.log" && fail "edit start ended with an abort"

# "close" ends after the verbs, before the single-instance test. The file to print does not exist:
# "Can't open file." (answered through the start's own channel).
verb_start close print /close -PRINT:a.lcf
out=$(cat "$work/close.log")
printf "%s\n" "close start: $out"
printf "%s\n" "$out" | grep -q 'verb print: a.lcf' || fail "print verb did not run"
printf "%s\n" "$out" | grep -q 'another instance' && fail "close did not end after the verbs"

# A file that is there but has no configuration header: the print verb says it is not a configuration
# file, naming it, instead of "Can't open file.".
printf 'just some text\r\n' >"$work/notcfg.lcf"
expect="notcfg.lcf is not a configuration file."
verb_start notcfg print /close "-PRINT:$(winepath -w "$work/notcfg.lcf" 2>/dev/null)"
expect=

# Closing the window ends the first instance and saves its placement.
ctl_open "$(ctl_wait_port "$work/first.log")" && ctl command 40001 || fail "File, Exit"
for _ in $(seq 1 120); do
  kill -0 "$first" 2>/dev/null || break
  sleep 0.5
done
kill -0 "$first" 2>/dev/null && fail "first instance did not end on close"
grep -q '^XSize=' "$work/app/qorvexal.ini" 2>/dev/null || fail "placement not saved"

if [ $failures -gt 0 ]; then
  echo "$failures failure(s)"
  exit 1
fi
echo "all passed; screenshot: $work/qorvexal-main.png"
