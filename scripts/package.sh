#!/usr/bin/env bash
# Installs what is missing, builds the program for release (Debian's hardening flags, no
# tests) and makes the Debian package orvane_<version>_<arch>.deb with CPack. Prints the
# package's path as its last line.
#   scripts/package.sh [BUILD_DIR]     (default: build-pkg)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$root/build-pkg"}

"$root/scripts/install-deps.sh"
# The compiler and linker flags Debian builds its packages with (fortify, stack protector,
# relro, bindnow, PIE). CMake reads no CPPFLAGS: they go with the compiler flags.
eval "$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --export=sh)"
cmake -S "$root" -B "$build" -G Ninja \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DCMAKE_C_FLAGS="$CPPFLAGS $CFLAGS" -DCMAKE_CXX_FLAGS="$CPPFLAGS $CXXFLAGS" \
    -DCMAKE_EXE_LINKER_FLAGS="$LDFLAGS" \
    -DORVANE_TESTS=OFF -DORVANE_BENCH=OFF -DORVANE_FUZZ=OFF -DORVANE_SANITIZE=OFF
cmake --build "$build" -j "$(nproc)"
rm -f "$build"/orvane_*.deb
(cd "$build" && cpack -G DEB)
deb=$(ls "$build"/orvane_*.deb)
echo "$deb"
