#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Makes the release packages in dist/ and checks them: the Debian package
# (CPack, with Debian's hardening flags and the dependencies dpkg-shlibdeps
# finds) and the Windows archive (zrvmon.exe with its version resource, and
# the texts).
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
# Both checked as a user gets them; lintian's verdict and the exe's version
# land in the log.
tests/package/test_deb.sh dist
tests/package/test_zip.sh dist
