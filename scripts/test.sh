#!/usr/bin/env bash
# Installs what is missing, builds everything with clang under AddressSanitizer and
# UndefinedBehaviorSanitizer (warnings are errors), and runs every test, fuzz runs included.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-test"

"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build" -G Ninja \
    -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_CXX_FLAGS="-O1 -g" \
    -DORVANE_SANITIZE=ON -DORVANE_WERROR=ON -DORVANE_FUZZ=ON -DORVANE_TESTS=ON
cmake --build "$build" -j "$(nproc)"
cd "$build"
ctest --output-on-failure -j "$(nproc)" --timeout 900
