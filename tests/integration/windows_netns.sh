# Sourced first by a Windows test whose programs may reach the network (a search at start-up, a
# broadcast): the script runs again in a private network namespace of its own (as root `unshare -n`,
# otherwise `unshare -rn`), where only its own loopback exists, so no packet can reach the machine's
# network and the whole 127.0.0.0/8 belongs to the test. Exits 77 (skipped) where no such namespace can
# be made.
#
# Wine opens sockets in the wineserver, so the programs need a wineserver inside the namespace: one
# server serves one prefix, so the test works in a copy of the build tree's prefix (wine_prefix_copy:
# Wine's own files hard-linked) with a server of its own.
#   netns_enter WINE_RUN ARGS...   (outside) boots the build tree's prefix through WINE_RUN, then runs
#                                  the script again inside: "$0" ARGS... ; returns inside
#   netns_prefix DIR               (inside) the copy of the prefix at DIR, WINEPREFIX set, server started
#   netns_stop                     (inside) ends that prefix's server and its programs
. "$(dirname "${BASH_SOURCE[0]}")/windows_prefix.sh"

netns_enter() {
  local wine_run=$1
  shift
  if [ -z "${WINDOWS_NETNS:-}" ]; then
    local ns=(unshare -n)
    [ "$(id -u)" = 0 ] || ns=(unshare -rn)
    if ! "${ns[@]}" true 2>/dev/null; then
      echo "no private network namespace: skipped"
      exit 77
    fi
    # The shared prefix and its persistent server are made out here, never from inside.
    "$wine_run" cmd /c exit 0 >/dev/null 2>&1
    WINDOWS_NETNS=1 exec "${ns[@]}" bash "$0" "$@"
  fi
  ip link set lo up || { echo "no loopback in the namespace"; exit 1; }
}

netns_prefix() {
  local dir=$1 shared=$WINEPREFIX
  [ -f "$shared/system.reg" ] || { echo "no Wine prefix at $shared"; return 1; }
  wine_prefix_copy "$shared" "$dir" || return 1
  export WINEPREFIX=$dir
  wineserver -p >/dev/null 2>&1 </dev/null
}

netns_stop() {
  [ -n "${WINEPREFIX:-}" ] && wineserver -k >/dev/null 2>&1 </dev/null
}
