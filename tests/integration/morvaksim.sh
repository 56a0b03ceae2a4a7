# Sourced by the shell tests that run the native simulator.
#   sim_start LOG MORVAKSIM ARGS...
# starts MORVAKSIM with ARGS in the background (its pid in $sim_pid), its output in LOG, and returns 0
# once it says that its devices (and its console and agents, when asked for) listen; 1 when it ended
# first (a port in use: the caller tries another) or did not say so within two minutes (then it is
# stopped and $sim_pid emptied). Decided by its line or its end, not by a count of TFTP tries.
sim_start() {
  sim_log=$1
  shift
  "$@" >"$sim_log" 2>&1 &
  sim_pid=$!
  sim_tries=0
  while [ $sim_tries -lt 1200 ]; do
    grep -q " device(s) from " "$sim_log" && return 0
    kill -0 "$sim_pid" 2>/dev/null || break
    sleep 0.1
    sim_tries=$((sim_tries + 1))
  done
  kill "$sim_pid" 2>/dev/null
  wait "$sim_pid" 2>/dev/null
  sim_pid=
  return 1
}
