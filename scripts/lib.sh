# What the scripts that build and run the program share; sourced, not run.
#   orvane_build [TARGET...]          installs what is missing and builds; sets orvane_bin
#   orvane_start_reader DIR           the card reader of the data folder DIR (emulator if none)
#   orvane_has_display                true when a display (or a Qt platform) is given
#   orvane_start_virtual_display DIR  an X server of its own when there is no display
#   orvane_stop_started               stops what the functions above started, newest first
# shellcheck shell=bash

orvane_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
orvane_bin=""
orvane_started=()

# Installs what is missing and builds TARGETs (all when none). The build folder is build/,
# configured here, or the one ORVANE_BUILD names, built as it is configured.
orvane_build() {
    "$orvane_root/scripts/install-deps.sh"
    local build=${ORVANE_BUILD:-$orvane_root/build}
    if [ -z "${ORVANE_BUILD:-}" ]; then
        cmake -S "$orvane_root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
            -DORVANE_TESTS=OFF
    fi
    local target targets=()
    for target in "$@"; do
        targets+=(--target "$target")
    done
    cmake --build "$build" "${targets[@]}"
    orvane_bin=$(cd "$build/bin" && pwd)
}

# The card reader of the program whose data folder is DIR: the port number there ("com" in
# set.ini, 0 when missing) names the entry DIR/COM<n>. An entry that leads to a device other
# than a pseudo-terminal is used as it is; otherwise the emulator is started on it (its log in
# DIR/cardemu.log), in a session of its own so that the terminal's signals (Ctrl-C, hang-up)
# leave it running until the program has closed.
orvane_start_reader() {
    local dir=$1 port entry
    port=$(sed -n 's/^[[:space:]]*[Cc][Oo][Mm][[:space:]]*=[[:space:]]*\([0-9]*\).*/\1/p' \
        "$dir/set.ini" 2>/dev/null | head -n 1 || true)
    entry="$dir/COM${port:-0}"
    if [ -e "$entry" ] && [[ "$(readlink "$entry" || true)" != /dev/pts/* ]]; then
        echo "Using the device behind $entry: $(readlink -f "$entry")"
        return 0
    fi
    setsid "$orvane_bin/cardemu" "$entry" </dev/null 2>"$dir/cardemu.log" &
    orvane_started+=($!)
    for _ in $(seq 50); do
        [ -L "$entry" ] && break
        sleep 0.1
    done
    echo "Card-reader emulator on $entry (log: $dir/cardemu.log)"
}

orvane_has_display() {
    [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ] || [ -n "${QT_QPA_PLATFORM:-}" ]
}

# Without a display, starts a virtual X server (Xvfb) on the first free display number, open
# only to holders of its cookie (kept in DIR), and exports DISPLAY and XAUTHORITY for the
# programs started after it. It runs in a session of its own, like the emulator.
orvane_start_virtual_display() {
    local dir=$1
    orvane_has_display && return 0
    local auth="$dir/Xauthority" number="$dir/Xdisplay" pid
    # One entry for any display number, as the number is known only once the server runs.
    echo "ffff 0000  0000  0012 4d49542d4d414749432d434f4f4b49452d31 0010 $(mcookie)" |
        xauth -q -f "$auth" nmerge - 2>/dev/null
    setsid Xvfb -displayfd 3 -auth "$auth" -nolisten tcp -screen 0 1280x800x24 \
        3>"$number" 2>"$dir/Xvfb.log" &
    pid=$!
    orvane_started+=("$pid")
    # The server writes its display number once it accepts connections.
    for _ in $(seq 100); do
        [ -s "$number" ] && break
        if ! kill -0 "$pid" 2>/dev/null; then
            echo "the virtual X server did not start:" >&2
            cat "$dir/Xvfb.log" >&2
            return 1
        fi
        sleep 0.1
    done
    [ -s "$number" ] || { echo "the virtual X server did not start in 10 s" >&2; return 1; }
    DISPLAY=":$(head -n 1 "$number")"
    export DISPLAY XAUTHORITY="$auth"
}

orvane_stop_started() {
    local i pid
    for ((i = ${#orvane_started[@]} - 1; i >= 0; i--)); do
        pid=${orvane_started[i]}
        if kill "$pid" 2>/dev/null; then
            wait "$pid" 2>/dev/null || true
        fi
    done
    orvane_started=()
}
