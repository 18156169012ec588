#!/usr/bin/env bash
# Installs the Debian packages that the build, the program and the tests need, where missing.
set -euo pipefail

packages=(
    # build
    cmake ninja-build pkg-config g++ clang libclang-rt-14-dev clang-format
    qt6-base-dev qt6-base-dev-tools libgl-dev
    libgtest-dev libgmock-dev
    # Qt's own texts (message-box buttons, file dialogs) in Chinese: qtbase_zh_CN.qm
    qt6-translations-l10n
    # the port dialog's list of serial devices (udev)
    libudev-dev
    # the history's chain of SHA-256 hashes (libcrypto)
    libssl-dev
    # the register on a PostgreSQL server: its client library, and a server for the tests
    # (started by scripts/pg-temp.sh in a temporary folder, never as a service)
    libpq-dev postgresql
    # the spreadsheet export: the ODBC driver manager
    unixodbc-dev
    # its tests: an ODBC driver to export through, and a reader of workbooks
    libsqliteodbc python3-openpyxl
    # the .xlsx archives: the export's own workbook writer and the enrolment's reader; the
    # journal's checksums (zlib)
    libminizip-dev zlib1g-dev
    # the windows: Chinese fonts, and an X server for machines without a display
    fonts-wqy-microhei fonts-arphic-uming xvfb xauth
    # Qt's VNC platform: a test answers a message box of another process through it
    qt6-qpa-plugins
    # the Debian package (scripts/package.sh) and its checks
    dpkg-dev file lintian appstream desktop-file-utils gzip man-db
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done
if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

sudo=()
if [ "$(id -u)" -ne 0 ]; then
    sudo=(sudo)
fi
echo "Installing: ${missing[*]}"
"${sudo[@]}" apt-get update -q
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
