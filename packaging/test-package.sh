#!/usr/bin/env bash
# The Debian package for real: builds it (scripts/package.sh, in a build folder of its own),
# checks it (lintian, desktop-file-validate, appstreamcli), installs it into this machine with
# dpkg -i, starts /usr/bin/orvane offscreen as an unprivileged user with a fresh home, checks
# that the data folder is created there and that the register stays in it across restarts,
# and removes the package again (dpkg -r), also when a step fails.
#   test-package.sh SOURCE_DIR BUILD_DIR
# Exit status 77 (skipped) where installing is not possible: not root, no dpkg, or an orvane
# already installed on this machine (which is left alone).
set -euo pipefail
root=$1
build=$2

skip() {
    echo "SKIPPED: $*"
    exit 77
}
fail() {
    echo "FAILED: $*" >&2
    exit 1
}
step() {
    echo "== $*"
}

[ "$(id -u)" -eq 0 ] || skip "installing the package needs root (scripts/test.sh as root on Debian)"
command -v dpkg >/dev/null && [ -d /var/lib/dpkg ] || skip "no dpkg: this is not a Debian system"
command -v setpriv >/dev/null || skip "no setpriv (util-linux) to run the program as another user"
user_id=$(id -u nobody 2>/dev/null) || skip "no user 'nobody' to run the program as"
group_id=$(id -g nobody)

# A package left installed by a run of this test that was killed (a marker says so) is
# removed; any other orvane on this machine is not touched.
marker="$build/installed-by-test"
state=$(dpkg-query -W -f='${db:Status-Status}' orvane 2>/dev/null || true)
if [ -n "$state" ] && [ "$state" != not-installed ] && [ -e "$marker" ]; then
    echo "Removing the package left installed by an earlier run"
    dpkg -r orvane >/dev/null
    state=$(dpkg-query -W -f='${db:Status-Status}' orvane 2>/dev/null || true)
fi
if [ -n "$state" ] && [ "$state" != not-installed ] && [ "$state" != config-files ]; then
    skip "a package orvane is already installed here ($state); it is left alone"
fi
for f in orvane kcdtool cardemu; do
    [ ! -e "/usr/bin/$f" ] || skip "/usr/bin/$f exists and belongs to no orvane package"
done

tmp=$(mktemp -d)
chmod 755 "$tmp"
pids=()
installed=0
cleanup() {
    local rc=$?
    for pid in "${pids[@]}"; do
        kill -KILL "$pid" 2>/dev/null || true
    done
    wait 2>/dev/null || true
    if [ "$installed" -eq 1 ]; then
        echo "== dpkg -r orvane"
        dpkg -r orvane >/dev/null || dpkg --remove --force-remove-reinstreq orvane || true
        rm -f "$marker"
    fi
    rm -rf "$tmp"
    exit "$rc"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

step "building the package"
deb=$("$root/scripts/package.sh" "$build" | tail -n 1)
[ -f "$deb" ] || fail "scripts/package.sh made no package"
version=$(dpkg-deb -f "$deb" Version)
arch=$(dpkg --print-architecture)
[ "$(basename "$deb")" = "orvane_${version}_${arch}.deb" ] || fail "package named $(basename "$deb")"
cmake_version=$(sed -n 's/^project(orvane VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
[ "$version" = "$cmake_version" ] || fail "package version $version, project() says $cmake_version"
dpkg-deb --info "$deb"
depends=$(dpkg-deb -f "$deb" Depends)
# Found by dpkg-shlibdeps: the libraries the programs link.
for lib in libc6 libqt6widgets6 libminizip libodbc2 libodbcinst libudev1 libssl3; do
    grep -q "$lib" <<<"$depends" || fail "Depends lacks $lib: $depends"
done
# Named by the build: Qt's Chinese texts.
grep -q "qt6-translations-l10n" <<<"$depends" || fail "Depends lacks qt6-translations-l10n: $depends"

step "lintian"
lintian --fail-on error --display-info "$deb" | tee "$tmp/lintian.txt" || fail "lintian reports errors"

step "dpkg -i"
touch "$marker"
installed=1
dpkg -i "$deb"

step "installed files"
id=$(sed -n 's/^set(ORVANE_APP_ID "\(.*\)")$/\1/p' "$root/CMakeLists.txt")
for f in /usr/bin/orvane /usr/bin/kcdtool /usr/bin/cardemu \
    "/usr/share/applications/$id.desktop" "/usr/share/metainfo/$id.metainfo.xml" \
    /usr/share/man/man1/orvane.1.gz /usr/share/man/man1/kcdtool.1.gz \
    /usr/share/man/man1/cardemu.1.gz /usr/share/doc/orvane/copyright \
    /usr/share/doc/orvane/changelog.gz; do
    [ -f "$f" ] || fail "$f is not installed"
done
for size in 16 22 24 32 48 64 128 256; do
    icon="/usr/share/icons/hicolor/${size}x${size}/apps/$id.png"
    file "$icon" | grep -q "PNG image data, $size x $size" || fail "$icon: $(file "$icon")"
done
desktop-file-validate "/usr/share/applications/$id.desktop" || fail "desktop-file-validate"
appstreamcli validate --no-net "/usr/share/metainfo/$id.metainfo.xml" || fail "appstreamcli validate"
for page in orvane kcdtool cardemu; do
    man -w "$page" >/dev/null || fail "no manual page $page"
done

home="$tmp/home"
mkdir "$home"
chown "$user_id:$group_id" "$home"
data="$home/.local/share/orvane"
# As the user, with nothing of this environment but a fresh home and the offscreen platform.
# A command, not a function: started in the background, $! is the program itself (setpriv and
# env exec it), not a subshell.
as_user=(setpriv --reuid="$user_id" --regid="$group_id" --clear-groups --
         env -i HOME="$home" PATH=/usr/bin:/bin LANG=C.UTF-8 QT_QPA_PLATFORM=offscreen)
# Waits up to 60 s for a condition.
wait_for() {
    for _ in $(seq 600); do
        if eval "$1"; then
            return 0
        fi
        sleep 0.1
    done
    return 1
}
# True once process $1 has a handler for SIGTERM (bit 15 of its SigCgt mask).
catches_term() {
    local mask
    mask=$(sed -n 's/^SigCgt:[[:space:]]*//p' "/proc/$1/status" 2>/dev/null) || return 1
    [ -n "$mask" ] && (( (0x$mask >> 14) & 1 ))
}
# Starts /usr/bin/orvane, waits until it runs (has taken over SIGTERM), ends it with SIGTERM
# as a desktop session does, and checks that it exited normally.
run_program() {
    "${as_user[@]}" /usr/bin/orvane >"$tmp/orvane.log" 2>&1 &
    local pid=$!
    pids+=("$pid")
    wait_for "catches_term $pid" || { cat "$tmp/orvane.log"; fail "orvane did not start"; }
    kill -TERM "$pid"
    local rc=0
    wait "$pid" || rc=$?
    [ "$rc" -eq 0 ] || { cat "$tmp/orvane.log"; fail "orvane exited with $rc"; }
}

step "the programs' --help and --version"
[ "$("${as_user[@]}" /usr/bin/orvane --version)" = "orvane $version" ] || fail "orvane --version"
"${as_user[@]}" /usr/bin/orvane --help | tee "$tmp/help.txt"
grep -qF "$data/" "$tmp/help.txt" || fail "orvane --help names not $data/"
"${as_user[@]}" /usr/bin/kcdtool --help | grep -q "kcdtool check FILE" || fail "kcdtool --help"
"${as_user[@]}" /usr/bin/cardemu --help | grep -q "usage: cardemu LINK" || fail "cardemu --help"

step "first start: the data folder is created"
"${as_user[@]}" /usr/bin/orvane >"$tmp/orvane.log" 2>&1 &
first=$!
pids+=("$first")
wait_for "[ -d '$data' ]" || fail "$data was not created"
# Without a device the program now asks the operator to check the port; nobody answers.
kill -KILL "$first" 2>/dev/null || true
wait "$first" 2>/dev/null || true
[ "$(stat -c '%a %u' "$data")" = "700 $user_id" ] || fail "$data: $(stat -c '%a %U' "$data")"
for f in set.ini cardbook.kcd cardbook.kcd.old; do
    [ ! -e "/usr/bin/$f" ] || fail "/usr/bin/$f was written"
done

step "the card reader on $data/COM0, a register of three cards"
"${as_user[@]}" /usr/bin/cardemu "$data/COM0" </dev/null >/dev/null 2>"$tmp/cardemu.log" &
pids+=("$!")
wait_for "[ -L '$data/COM0' ]" || fail "cardemu made no link $data/COM0"
cp "$root/fuzz/corpus/register/three-cards" "$tmp/three-cards"
chmod 644 "$tmp/three-cards"
"${as_user[@]}" /usr/bin/kcdtool copy "$tmp/three-cards" "$data/cardbook.kcd"
# The cards, sorted: the program writes them in the order of its own hash table.
cards() {
    "${as_user[@]}" /usr/bin/kcdtool dump "$1" | sort
}
cards "$data/cardbook.kcd" >"$tmp/cards.txt"
[ "$(wc -l <"$tmp/cards.txt")" -eq 3 ] || fail "the sample register has not three cards"

step "second start: the program saves the register in the data folder"
run_program
[ -f "$data/cardbook.kcd.old" ] || fail "the program saved no register (no backup) in $data"
grep -q '^pass=5820463917' "$data/set.ini" || fail "set.ini in $data: $(cat "$data/set.ini")"
cmp -s <(cards "$data/cardbook.kcd") "$tmp/cards.txt" ||
    fail "the register changed"

step "restart: the register is still there"
run_program
cmp -s <(cards "$data/cardbook.kcd") "$tmp/cards.txt" ||
    fail "the register did not survive the restart"
cmp -s <(cards "$data/cardbook.kcd.old") "$tmp/cards.txt" ||
    fail "the backup differs"
find "$data" ! -user "$user_id" | grep . && fail "files in $data not owned by the user"
for f in set.ini cardbook.kcd cardbook.kcd.old; do
    [ ! -e "/usr/bin/$f" ] || fail "/usr/bin/$f was written"
done
ls -la "$data"

step "dpkg -r orvane"
dpkg -r orvane
installed=0
rm -f "$marker"
[ ! -e /usr/bin/orvane ] || fail "/usr/bin/orvane is still there"
state=$(dpkg-query -W -f='${db:Status-Status}' orvane 2>/dev/null || true)
[ "$state" = not-installed ] || [ -z "$state" ] || fail "after dpkg -r: $state"
[ -f "$data/cardbook.kcd" ] || fail "removing the package touched the user's register"
echo "PASSED: built, checked, installed, run as $(id -un "$user_id") and removed"
