#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Makes the release packages in dist/: the Debian package (CPack, with
# Debian's hardening flags and the dependencies dpkg-shlibdeps finds) and the
# Windows archive (zrvmon.exe with its version resource, and the texts).
# Usage: scripts/package.sh
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh package
rm -rf dist build-package
mkdir -p dist

export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cmake -S . -B build-package -DCMAKE_BUILD_TYPE=None -DCMAKE_INSTALL_PREFIX=/usr \
  -DZRV_TESTS=OFF -DZRV_DEB=ON \
  -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
  -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >/dev/null
cmake --build build-package -j "$(nproc)"
(cd build-package && cpack -G DEB >/dev/null)
rm -rf dist/_CPack_Packages

scripts/build-windows.sh >/dev/null
scripts/package-windows.sh build-windows dist
ls -l dist
# lintian's verdict, for the record; tests/package/test_deb.sh judges it.
echo "lintian $(lintian --version | awk '{ print $2 }'):"
lintian --display-info --show-overrides dist/zrvmon_*.deb 2>&1 | grep -v 'root privileges' || true
echo "exe version: $(exiftool -s3 -FileVersion -LegalCopyright build-windows/zrvmon.exe | paste -sd ' ')"
