#!/usr/bin/env bash
# desktop-file-validate and appstreamcli validate on the desktop entry and the metainfo.
#   check-files.sh DESKTOP_FILE METAINFO_FILE
# Exit status 77 (skipped) where the validators are not installed.
set -euo pipefail
for tool in desktop-file-validate appstreamcli; do
    command -v "$tool" >/dev/null || { echo "SKIPPED: $tool is not installed"; exit 77; }
done
desktop-file-validate "$1"
echo "desktop-file-validate: $1 passes"
appstreamcli validate --no-net --explain "$2"
