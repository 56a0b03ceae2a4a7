#!/usr/bin/env bash
# ./run, the main job README starts with, end to end on the programs of this build: it ends with
# success and every step shows its result (the device written and back at its new address, restored,
# the SNMP set answered, the monitor's view of the configured device).
#   run_demo_test.sh RUN BIN_DIR
set -u
run=$1 bin=$2
out=$(env -u DISPLAY RUN_BIN_DIR="$bin" "$run" 2>&1)
rc=$?
failed=0
expect() {
  grep -qF -- "$1" <<<"$out" || { echo "run_demo_test: missing: $1"; failed=1; }
}
[ "$rc" = 0 ] || { echo "run_demo_test: ./run ended with $rc"; failed=1; }
expect "RUN-DEMO: written, back at 127.77.0.50"
expect "RUN-DEMO: restored, back at 127.77.0.50"
expect "1.3.6.1.2.1.1.4.0 = string: admin@example.net"
expect "device 127.77.0.50 Morvak 1100 noanswer=0 registered=1"
expect "run: done"
if [ "$failed" != 0 ]; then
  printf '%s\n' "$out"
  exit 1
fi
echo "run_demo_test: ok"
