#!/usr/bin/env bash
# Builds the Debian package in build-pkg/ from the CMake install rules, with Debian's hardening flags, and
# prints the package's path last.
set -euo pipefail
cd "$(dirname "$0")/.."

# The flags Debian's own package builds use; CMake reads no CPPFLAGS, so they join CXXFLAGS.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cxxflags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
ldflags="$(dpkg-buildflags --get LDFLAGS)"

cmake -S . -B build-pkg -G Ninja -DCMAKE_BUILD_TYPE=None -DBUILD_TESTING=OFF -DREGBENCH_BENCH=OFF \
    -DCMAKE_INSTALL_PREFIX=/usr -DREGBENCH_MAP_CONFIG_DIR=/etc/regbench \
    -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags" >&2
cmake --build build-pkg -j"$(nproc)" >&2
rm -f build-pkg/regbench_*.deb
(cd build-pkg && cpack -G DEB) >&2
ls "$PWD"/build-pkg/regbench_*.deb
