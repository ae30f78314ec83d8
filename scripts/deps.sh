#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Makes sure the Debian packages the build and the tests need are there:
# installs the missing ones when run as root, otherwise names them.
# Usage: scripts/deps.sh [build|test|windows|fuzz|analyse|plot]
#   build    the Linux programs
#   windows  the Windows program, cross-built with MinGW-w64
#   test     everything the tests need, the Windows build under wine and the
#            serial device server (ser2net) included
#   fuzz     the fuzz targets: clang and its runtime libraries (libFuzzer)
#   analyse  clang-tidy and cppcheck, on the default preset's configuration
#   plot     gnuplot, for scripts/plot.sh
#   package  the Debian package and the Windows archive, and their checks
set -euo pipefail
want=(cmake g++ make libncurses-dev libmosquitto-dev)
mingw=(g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64)
case "${1:-build}" in
  test) want+=(libgtest-dev tmux valgrind ser2net gnuplot-nox file curl jq prometheus logrotate
                prometheus-node-exporter systemd "${mingw[@]}" wine wine64
                mosquitto mosquitto-clients openssl
                dpkg-dev lintian man-db groff-base unzip libimage-exiftool-perl) ;;
  windows) want=(cmake make "${mingw[@]}") ;;
  fuzz) want=(cmake make libncurses-dev libmosquitto-dev clang libclang-rt-dev) ;;
  analyse) want+=(libgtest-dev clang-tidy-14 cppcheck) ;;
  plot) want=(gnuplot-nox) ;;
  package) want+=(dpkg-dev file lintian logrotate man-db groff-base zip unzip libimage-exiftool-perl
           "${mingw[@]}") ;;
esac
missing=()
for p in "${want[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" \
    || missing+=("$p")
done
if ((${#missing[@]} == 0)); then
  exit 0
fi
if [[ $(id -u) -eq 0 ]] && command -v apt-get >/dev/null; then
  echo "Installing missing packages: ${missing[*]}" >&2
  export DEBIAN_FRONTEND=noninteractive
  apt-get install -y --no-install-recommends "${missing[@]}" >&2 \
    || { apt-get update >&2 && apt-get install -y --no-install-recommends "${missing[@]}" >&2; }
else
  echo "Missing Debian packages: ${missing[*]}" >&2
  echo "Install them with: sudo apt-get install ${missing[*]}" >&2
  exit 1
fi
