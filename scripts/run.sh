#!/usr/bin/env bash
# Installs what is missing, builds the program and runs it with the card-reader emulator as
# its device. Without a display it runs on a virtual X server (Xvfb).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVANE_TESTS=OFF
cmake --build "$root/build"

cd "$root/build/bin"
# The configured port number ("com" in set.ini, 0 when missing) names the entry COM<n>.
port=$(sed -n 's/^[[:space:]]*[Cc][Oo][Mm][[:space:]]*=[[:space:]]*\([0-9]*\).*/\1/p' set.ini 2>/dev/null | head -n 1 || true)
entry="COM${port:-0}"
emulator=""
if [ -e "$entry" ] && [[ "$(readlink "$entry" || true)" != /dev/pts/* ]]; then
    echo "Using the device behind $entry: $(readlink -f "$entry")"
else
    ./cardemu "$entry" < /dev/null 2> cardemu.log &
    emulator=$!
    trap '[ -n "$emulator" ] && kill "$emulator" 2>/dev/null' EXIT
    for _ in $(seq 50); do [ -L "$entry" ] && break; sleep 0.1; done
    echo "Card-reader emulator on $entry (log: build/bin/cardemu.log)"
fi

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    xvfb-run -a -s "-screen 0 1280x800x24" ./orvane "$@"
else
    ./orvane "$@"
fi
