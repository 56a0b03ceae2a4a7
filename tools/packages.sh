# Sourced by ./run and ./test (bash): the Debian 12 packages each needs, and one place that installs
# the missing ones.
#   suite_packages WHO PACKAGE...
# A package is missing when dpkg does not list it as installed or when the program it brings is not on
# PATH. As root the missing ones are installed with apt-get; as anyone else WHO stops at once and names
# the one command that installs them. Returns 0 when everything is there (or was installed), else 1.

# The Debian packages for building and running the native programs (./run), for the Windows programs
# under Wine (./run --gui and the Windows tests), and the rest of what the tests drive.
suite_packages_build=(cmake ninja-build g++ googletest iproute2 util-linux)
suite_packages_wine=(g++-mingw-w64-x86-64-posix wine wine64)
suite_packages_test=(clang libclang-rt-14-dev ccache g++-mingw-w64-i686-posix xvfb x11-apps imagemagick xdotool
                     tftpd-hpa tftp-hpa snmpd snmp libsnmp-dev procps lrzsz socat)

# The program (or file) by which a package is known to be usable, for the packages that bring one.
suite_package_probe() {
  case $1 in
    cmake) echo cmake ;;
    ninja-build) echo ninja ;;
    g++) echo g++ ;;
    clang) echo clang++ ;;
    googletest) echo /usr/src/googletest/CMakeLists.txt ;;
    iproute2) echo ip ;;
    util-linux) echo unshare ;;
    g++-mingw-w64-x86-64-posix) echo x86_64-w64-mingw32-g++-posix ;;
    g++-mingw-w64-i686-posix) echo i686-w64-mingw32-g++-posix ;;
    wine64) echo /usr/lib/wine/wine64 ;;
    xvfb) echo Xvfb ;;
    xdotool) echo xdotool ;;
    imagemagick) echo convert ;;
    ccache) echo ccache ;;
  esac
}

suite_package_present() {
  local probe
  if command -v dpkg-query >/dev/null 2>&1; then
    dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed" || return 1
  fi
  probe=$(suite_package_probe "$1")
  case $probe in
    '') return 0 ;;
    /*) [ -e "$probe" ] ;;
    *) command -v "$probe" >/dev/null 2>&1 ;;
  esac
}

# apt-get update, tried three times: a mirror in the middle of a sync serves lists whose sizes do not
# match ("File has unexpected size"), and installing from half-fetched lists fails far from that cause.
suite_apt_update() {
  local try
  for try in 1 2 3; do
    DEBIAN_FRONTEND=noninteractive apt-get update -q >/dev/null && return 0
    [ "$try" = 3 ] || { echo "apt-get update failed; trying again in 20 s" >&2; sleep 20; }
  done
  return 1
}

# apt-get install, once more after fetching the lists again when it fails (lists a failed update left
# half fetched, or lists older than the mirror's packages).
suite_apt_install() {
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "$@" >/dev/null \
    || { suite_apt_update && DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "$@" >/dev/null; }
}

suite_packages() {
  local who=$1 p missing=()
  shift
  for p; do
    suite_package_present "$p" || missing+=("$p")
  done
  [ ${#missing[@]} = 0 ] && return 0
  local install="apt-get update && apt-get install -y --no-install-recommends ${missing[*]}"
  if [ "$(id -u)" != 0 ]; then
    echo "$who: missing ${missing[*]}; install them (Debian 12) with:" >&2
    echo "    sudo sh -c '$install'" >&2
    return 1
  fi
  if ! command -v apt-get >/dev/null 2>&1; then
    echo "$who: missing ${missing[*]}, and there is no apt-get here to install them" >&2
    return 1
  fi
  echo "$who: installing ${missing[*]}"
  suite_apt_update \
    && DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}" >/dev/null || {
    echo "$who: apt-get install ${missing[*]} failed" >&2
    return 1
  }
  # Installed, yet its program is still not found (a PATH without /usr/bin): say which.
  for p in "${missing[@]}"; do
    suite_package_present "$p" || { echo "$who: $p is installed but $(suite_package_probe "$p") is not found" >&2; return 1; }
  done
}
