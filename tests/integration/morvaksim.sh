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

# sim_start_loopback LOG MORVAKSIM ARGS...
# sim_start on a random loopback network (its first device at $base, "$net.N" the others) and a random
# port ($port); another run may hold the port, so a few tries. False, with LOG shown, when none started.
sim_start_loopback() {
  local log=$1
  for _ in 1 2 3 4 5 6 7 8; do
    base=127.$((RANDOM % 200 + 20)).$((RANDOM % 250 + 1)).1
    net=${base%.1}
    port=$((RANDOM % 20000 + 30000))
    sim_start "$log" "$2" --port "$port" "${@:3}" "$base" && return 0
  done
  cat "$log"
  return 1
}
