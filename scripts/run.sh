#!/usr/bin/env bash
# Installs what is missing, builds the program and runs it with the card-reader emulator as
# its device. Without a display it runs on a virtual X server (Xvfb).
set -euo pipefail
# shellcheck source=scripts/lib.sh
source "$(dirname "$0")/lib.sh"

# shellcheck disable=SC2119 # builds everything, as always
orvane_build
trap orvane_stop_started EXIT
orvane_start_reader "$orvane_bin"

cd "$orvane_bin"
if orvane_has_display; then
    ./orvane "$@"
else
    xvfb-run -a -s "-screen 0 1280x800x24" ./orvane "$@"
fi
