#!/usr/bin/env bash
# Builds the Debian package velmoran_<version>_amd64.deb with CPack: the
# velmoran program, the shared libraries, the public headers and CMake
# package, the Python modules for Debian's python3 (in its dist-packages),
# the manual pages (from the program's --help), the user documentation
# (/usr/share/doc/velmoran/), the viewer's page (npm fetches its charting
# library from the npm registry), and the Depends line that
# dpkg-shlibdeps computes. A Release tree of its own, build/package (or
# $VELMORAN_PACKAGE_BUILD_DIR), configured once and rebuilt as needed,
# compiled with Debian's hardening flags. Prints the package's path.
#
#   scripts/package.sh        then   apt-get install ./build/package/velmoran_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh package >&2

build=${VELMORAN_PACKAGE_BUILD_DIR:-build/package}
if [[ ! -f $build/build.ninja ]]; then
  export DEB_BUILD_MAINT_OPTIONS=hardening=+all
  CXXFLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
  LDFLAGS="$(dpkg-buildflags --get LDFLAGS)" \
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_SKIP_INSTALL_RPATH=ON -DBUILD_SHARED_LIBS=ON \
    -DVELMORAN_BUILD_PYTHON=ON -DVELMORAN_PYTHON_EXECUTABLES=/usr/bin/python3 \
    -DVELMORAN_PYTHON_INSTALL_DIR=lib/python3/dist-packages \
    -DVELMORAN_BUILD_MAN_PAGES=ON -DVELMORAN_DEBIAN_DOCS=ON -DVELMORAN_BUILD_VIEWER_ASSETS=ON >&2
fi
cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)" >&2
rm -f "$build"/velmoran_*.deb
(cd "$build" && cpack -G DEB >&2)
ls "$PWD/$build"/velmoran_*_*.deb
