#!/bin/bash
# The Debian package: cpack makes it, lintian finds no error in it, and in a fresh Debian root (made
# by mmdebstrap from this machine's apt sources, kept under the build as a tarball) dpkg installs it,
# the installed vantor-sim plays a checked game, vantor-server answers --help and serves the packaged
# site by default; dpkg -r and then dpkg -P leave no file behind, and nothing enables the server's unit.
# Usage: package_test.sh BUILD_DIR WEB_SITE_DIR
set -euo pipefail
build=$1
site=$2
work=$(mktemp -d /tmp/vantor-package-XXXXXX)
trap 'umount "$work/root/proc" 2>/dev/null || true; rm -rf --one-file-system "$work"' EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 ||
    fail "cpack failed: $(cat "$work/cpack.log")"
deb=$(ls "$work"/out/vantor_*_amd64.deb)
lintian --fail-on error "$deb" >"$work/lintian.log" 2>&1 || fail "lintian: $(cat "$work/lintian.log")"
echo "lintian: $(grep -c '^[EW]:' "$work/lintian.log" || true) tags, no error"

# The root holds what the package's Depends name, so that dpkg -i can only succeed if they are right.
depends=$(dpkg-deb -f "$deb" Depends | sed 's/([^)]*)//g; s/|[^,]*//g; s/ //g')
sources=(/etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources)
existing=()
for file in "${sources[@]}"; do [[ -s $file ]] && existing+=("$file"); done
suite=$(. /etc/os-release && echo "$VERSION_CODENAME")
key=$( (echo "$suite $depends" && cat "${existing[@]}") | sha256sum | cut -c1-16)
cache="$build/package-root/$suite-$key.tar"
if [[ ! -f $cache ]]; then
    mkdir -p "$build/package-root"
    rm -rf "$build"/package-root/*.tar
    # mmdebstrap tells the format by the name's ending.
    mmdebstrap --quiet --variant=minbase --mode=root --include="$depends" "$suite" "$cache.part.tar" "${existing[@]}" \
        >"$work/mmdebstrap.log" 2>&1 || fail "mmdebstrap failed: $(tail -20 "$work/mmdebstrap.log")"
    mv "$cache.part.tar" "$cache"
fi
root="$work/root"
mkdir "$root"
tar -C "$root" --same-owner -xpf "$cache"
[[ -c $root/dev/null ]] || mknod -m 666 "$root/dev/null" c 1 3
in_root() { chroot "$root" env -i PATH=/usr/bin:/bin:/usr/sbin:/sbin:/usr/games HOME=/root "$@"; }
files() { in_root find / -xdev \( -path /proc -o -path /dev -o -path /tmp -o -path /var/lib/dpkg -o -path /var/log \
    -o -path /var/cache \) -prune -o -print | sort; }
files >"$work/before"

cp "$deb" "$root/tmp/vantor.deb"
in_root dpkg -i /tmp/vantor.deb >"$work/dpkg.log" 2>&1 || fail "dpkg -i failed: $(cat "$work/dpkg.log")"
in_root dpkg -L vantor >"$work/list"
for path in /usr/games/vantor /usr/games/vantor-sim /usr/bin/vantor-server /usr/share/applications/vantor.desktop \
    /usr/share/icons/hicolor/64x64/apps/vantor.png /usr/lib/systemd/system/vantor-server.service \
    /usr/share/doc/vantor/copyright; do
    grep -q -x -F "$path" "$work/list" || fail "the package lacks $path"
done
if [[ -f $site/index.html ]]; then
    grep -q -x -F /usr/share/vantor/site/index.html "$work/list" || fail "the browser site was built but is not packaged"
fi
[[ -z $(find "$root/etc/systemd" -name 'vantor*' 2>/dev/null) ]] || fail "the server's unit was enabled"

# The installed driver lists the built-in maps and plays a game whose replay checks.
state=$(printf 'tick 20\nclick 300 200\nstate maps\n' | in_root vantor-sim | grep '^{"maps"') ||
    fail "vantor-sim failed in the root"
[[ $state == '{"maps":["World","Archipelago","Pangaea","Twin"]}' ]] || fail "vantor-sim lists $state"
in_root vantor-sim --seed 3 --tournament 1 --players 2 --map Twin --check --check-replays >"$work/game.log" 2>&1 ||
    fail "the installed vantor-sim's game failed: $(cat "$work/game.log")"
help=$(in_root vantor-server --help) || fail "vantor-server --help failed: $help"
[[ $help == *usage* ]] || fail "vantor-server --help says: $help"

# With the site packaged, the installed server serves it by default: it finds it from its own path,
# through /proc, which the root is lent for the while.
if [[ -f $site/index.html ]]; then
    mount -t proc proc "$root/proc"
    port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
    in_root vantor-server --port "$port" --bind 127.0.0.1 >"$work/server.log" 2>&1 &
    server=$!
    page=""
    for _ in $(seq 50); do
        page=$(python3 -c "import urllib.request as u; print(u.urlopen('http://127.0.0.1:$port/', timeout=2).read().decode())" \
            2>/dev/null) && break
        sleep 0.2
    done
    kill "$server" && wait "$server" || true
    umount "$root/proc"
    [[ $page == *'<canvas'* ]] || fail "the installed server does not serve its site: $(cat "$work/server.log")"
    echo "the installed vantor-server serves /usr/share/vantor/site by default"
fi

for action in -r -P; do
    in_root dpkg "$action" vantor >"$work/dpkg.log" 2>&1 || fail "dpkg $action failed: $(cat "$work/dpkg.log")"
    files >"$work/after"
    diff "$work/before" "$work/after" >"$work/diff" || fail "dpkg $action left behind: $(cat "$work/diff")"
done
[[ -z $(ls "$root"/var/lib/dpkg/info/vantor.* 2>/dev/null) ]] || fail "dpkg still holds vantor's records"
echo "PASS ($(grep -c . "$work/list") paths installed, removed and purged without a trace)"
