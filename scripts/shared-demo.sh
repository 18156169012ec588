#!/usr/bin/env bash
# Two desks sharing one register on one machine: a throwaway PostgreSQL server in a temporary
# folder (scripts/pg-temp.sh: a Unix socket there, no network), and two desks, each in a data
# folder of its own with its own copy of the program, a set.ini that names the server and its
# own card-reader emulator. Without a display both open on one virtual X server.
#   scripts/shared-demo.sh [REGISTER.kcd]   the register file, when given, is pushed first
# It ends when both desks are closed; an interrupt or SIGTERM closes them. The server and the
# folder go with it either way. ORVANE_BUILD=DIR takes that build folder as it is configured
# (default build/, as scripts/run.sh).
set -euo pipefail
# shellcheck source=scripts/lib.sh
source "$(dirname "$0")/lib.sh"

seed=${1:-}
if [ -n "$seed" ]; then
    [ -f "$seed" ] || { echo "no such register file: $seed" >&2; exit 2; }
    seed=$(cd "$(dirname "$seed")" && pwd)/$(basename "$seed")
fi

orvane_build orvane cardemu kcdtool

work=$(mktemp -d "${TMPDIR:-/tmp}/orvane-shared.XXXXXX")
desks=()

# Waits up to 10 s for PID to end, then kills it.
end_within_10s() {
    local pid=$1
    for _ in $(seq 100); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
}

# The desks first (SIGTERM ends them through their ordinary shut-down), then their emulators
# and the X server, then the database server; last the folder. A second signal (a process
# group signalled as a whole delivers one twice) does not cut this short.
clean_up() {
    local status=$?
    trap - EXIT
    trap '' INT TERM HUP
    set +e
    local pid
    for pid in "${desks[@]}"; do
        kill -TERM "$pid" 2>/dev/null
    done
    for pid in "${desks[@]}"; do
        end_within_10s "$pid"
    done
    orvane_stop_started
    if [ -e "$work/pg/data/postmaster.pid" ]; then
        "$orvane_root/scripts/pg-temp.sh" stop "$work/pg"
    fi
    rm -rf "$work"
    exit "$status"
}
trap clean_up EXIT
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 143' TERM

# Run by root, the server runs as nobody, who must be able to reach its folder inside this one.
[ "$(id -u)" -ne 0 ] || chmod 0711 "$work"
mkdir "$work/pg"
conninfo=$("$orvane_root/scripts/pg-temp.sh" start "$work/pg")
echo "PostgreSQL server: $conninfo"
if [ -n "$seed" ]; then
    "$orvane_bin/kcdtool" push "$seed" "$conninfo"
fi

for n in 1 2; do
    desk="$work/desk$n"
    mkdir "$desk"
    # The program keeps its files beside its executable where it may write: a hard link (a
    # copy across file systems) makes this folder the desk's data folder. A symbolic link would
    # not, as the executable's folder comes from /proc/self/exe, which resolves links.
    ln "$orvane_bin/orvane" "$desk/orvane" 2>/dev/null || cp "$orvane_bin/orvane" "$desk/orvane"
    printf '[register]\r\nplace=server\r\nconninfo=%s\r\n' "$conninfo" >"$desk/set.ini"
    orvane_start_reader "$desk"
done

orvane_start_virtual_display "$work"
for n in 1 2; do
    (cd "$work/desk$n" && exec ./orvane) 2> >(sed -u "s/^/desk$n: /" >&2) &
    desks+=($!)
done
echo "Two desks on one register, in $work/desk1 and $work/desk2: close both to end."

for pid in "${desks[@]}"; do
    wait "$pid" || true
done
desks=()
