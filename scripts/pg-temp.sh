#!/usr/bin/env bash
# A throwaway PostgreSQL server in a folder of its own: no network (a Unix socket in the folder
# only), run as an unprivileged user, gone with the folder.
#   scripts/pg-temp.sh start DIR   starts it (DIR must exist and be empty); prints the libpq
#                                  connection string
#   scripts/pg-temp.sh stop DIR    stops it (the folder is left for the caller to remove)
#   scripts/pg-temp.sh restart DIR starts a stopped one again, with its data
# Exit status 77 when no PostgreSQL server is installed.
set -euo pipefail

command=${1:-}
dir=${2:-}
if [ -z "$command" ] || [ -z "$dir" ]; then
    echo "usage: $0 start|restart|stop DIR" >&2
    exit 2
fi
dir=$(cd "$dir" && pwd)

bindir=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1 || true)
if [ -z "$bindir" ] || [ ! -x "$bindir/pg_ctl" ]; then
    echo "no PostgreSQL server is installed (Debian: apt-get install postgresql)" >&2
    exit 77
fi

# The server refuses to run as root: it runs as nobody then, in a folder nobody owns.
as_owner=()
if [ "$(id -u)" -eq 0 ]; then
    chown nobody:nogroup "$dir"
    as_owner=(setpriv --reuid=nobody --regid=nogroup --clear-groups --)
fi

# Starts the server on the data in DIR, listening on a socket in DIR only.
run_server() {
    "${as_owner[@]}" "$bindir/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 \
        -o "-k $dir -c listen_addresses= -c max_connections=40" start >/dev/null ||
        { cat "$dir/server.log" >&2; exit 1; }
}

case "$command" in
    start)
        "${as_owner[@]}" "$bindir/initdb" -D "$dir/data" -A trust -U orvane -E UTF8 \
            --locale=C --no-sync >"$dir/initdb.log" 2>&1 ||
            { cat "$dir/initdb.log" >&2; exit 1; }
        run_server
        echo "host=$dir dbname=postgres user=orvane"
        ;;
    restart)
        run_server
        ;;
    stop)
        "${as_owner[@]}" "$bindir/pg_ctl" -D "$dir/data" -m fast -w -t 60 stop >/dev/null
        ;;
    *)
        echo "usage: $0 start|restart|stop DIR" >&2
        exit 2
        ;;
esac
