#!/usr/bin/env bash
# Installs what is missing, builds the program and runs it. Without a display it runs on a
# virtual X server (Xvfb).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVANE_TESTS=OFF
cmake --build "$root/build"

cd "$root/build/bin"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1280x800x24" ./orvane "$@"
fi
exec ./orvane "$@"
