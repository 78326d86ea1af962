#!/bin/bash
# Prepares the browser build: Debian's Emscripten, a writable copy of its cache, and SDL2 and zlib
# built for the web, all under BUILD_DIR.
set -euo pipefail

if (($# != 1)); then
    echo "Usage: $0 BUILD_DIR" >&2
    exit 2
fi
here=$(dirname "$(readlink -f "$0")")
mkdir -p "$1"
build=$(cd "$1" && pwd)
sdl_prefix=$build/sdl2-web
zlib_prefix=$build/zlib-web
env_file=$build/emenv.sh

"$here/../install_packages.sh" emscripten dpkg-dev libsdl2-dev zlib1g-dev cmake make python3
# The native build's SDL2 and zlib, by their source packages, e.g. libsdl2 2.26.5+dfsg-1, zlib 1:1.2.13.dfsg-1
read -r sdl_source sdl_version < <(dpkg-query -W -f='${source:Package} ${source:Version}\n' libsdl2-dev)
read -r zlib_source zlib_version < <(dpkg-query -W -f='${source:Package} ${source:Version}\n' zlib1g-dev)
em_version=$(dpkg-query -W -f='${Version}' emscripten)
sdl_stamp="$sdl_source $sdl_version, emscripten $em_version"
zlib_stamp="$zlib_source $zlib_version, emscripten $em_version"

# shellcheck disable=SC2016  # the variables are for the reader's shell
print_usage() {
    echo "SDL2 $sdl_version for the web is in $sdl_prefix, zlib $zlib_version in $zlib_prefix (Emscripten $em_version)."
    echo "To use them:  source $env_file"
    echo '              emcmake cmake -S . -B BUILD -DCMAKE_FIND_ROOT_PATH="$SDL2_WEB;$ZLIB_WEB"   # SDL2::SDL2, ZLIB::ZLIB'
    echo '              emcc ... -I"$SDL2_WEB/include/SDL2" "$SDL2_WEB/lib/libSDL2.a"             # or by hand'
}
# prepared PREFIX STAMP: the install in PREFIX is of the same source with the same Emscripten.
prepared() { [[ -f $1/.prepared && $(<"$1/.prepared") == "$2" ]]; }

# The environment file, rewritten only when it changes.
env_text="# Source this for the browser build (written by tools/web/prepare.sh).
export EM_CACHE='$build/em-cache'
# The machine's own Node comes first on the PATH and finds Debian's acorn only here.
export NODE_PATH=\"/usr/share/nodejs\${NODE_PATH:+:\$NODE_PATH}\"
# Debian's python3 for emcc: a python3 found first on the PATH may be a slow wrapper (pyenv adds ~0.5 s a call).
export EMSDK_PYTHON=/usr/bin/python3
export SDL2_WEB='$sdl_prefix'
export ZLIB_WEB='$zlib_prefix'"
if [[ ! -f $env_file || $(<"$env_file") != "$env_text" ]]; then
    echo "$env_text" >"$env_file"
fi

# Cached: both libraries are there already, built with this Emscripten.
if prepared "$sdl_prefix" "$sdl_stamp" && prepared "$zlib_prefix" "$zlib_stamp" &&
    [[ -f $build/em-cache/.copied && $(<"$build/em-cache/.copied") == "$em_version" ]]; then
    print_usage
    exit 0
fi

step() { echo "== $* (at ${SECONDS}s)"; }

# Emscripten's own cache under /usr/share is read-only for our purposes (FROZEN_CACHE), so work on a copy.
if [[ ! -f $build/em-cache/.copied || $(<"$build/em-cache/.copied") != "$em_version" ]]; then
    step "Copying Emscripten's cache to $build/em-cache"
    rm -rf "$build/em-cache" "$build/em-cache.tmp"
    cp -a /usr/share/emscripten/cache "$build/em-cache.tmp"
    echo "$em_version" >"$build/em-cache.tmp/.copied"
    mv "$build/em-cache.tmp" "$build/em-cache"
fi
# shellcheck source=/dev/null
source "$env_file"

# fetch_source PACKAGE VERSION DIR: Debian's source package of that version, unpacked into DIR (a
# fresh DIR/.. for the build), through a private apt state and source list set up once for this
# run: the machine's own apt configuration is left as it is.
apt_dir=
trap '[[ -z $apt_dir ]] || rm -rf "$apt_dir"' EXIT
private=()
fetch_source() {
    local package=$1 version=$2 dest=$3
    if [[ -f $dest/.version && $(<"$dest/.version") == "$version" ]]; then
        return
    fi
    step "Downloading the source of $package $version"
    if [[ -z $apt_dir ]]; then
        apt_dir=$(mktemp -d)
        chmod 755 "$apt_dir"   # apt downloads as the user _apt, which must reach the download folder
        mkdir -p "$apt_dir/state/lists/partial" "$apt_dir/cache/archives/partial"
        python3 "$here/deb_src_lines.py" >"$apt_dir/sources.list"
        private=(-o "Dir::State=$apt_dir/state" -o "Dir::Etc::SourceList=$apt_dir/sources.list"
            -o Dir::Etc::SourceParts=/dev/null -o "Dir::Cache=$apt_dir/cache")
        apt-get "${private[@]}" update -q
    fi
    local download=$apt_dir/download-$package
    mkdir -p "$download"
    if id _apt >/dev/null 2>&1; then chown _apt "$download"; fi
    (cd "$download" && apt-get "${private[@]}" source -q "$package=$version")
    local unpacked=("$download/$package"-*/)
    rm -rf "$(dirname "$dest")"
    mkdir -p "$(dirname "$dest")"
    mv "${unpacked[0]}" "$dest"
    echo "$version" >"$dest/.version"
    rm -rf "$download"
}

# failed LOG WHAT: shows the end of LOG and stops.
failed() {
    tail -n 40 "$1" >&2
    echo "$2 failed: $1" >&2
    exit 1
}

# SDL2 with its own CMake and Emscripten's toolchain. Configuring runs some 160 checks that each
# compile and link with emcc, which takes most of the time; the logs are kept beside the objects.
if ! prepared "$sdl_prefix" "$sdl_stamp"; then
    sources=$build/sdl2-build/src
    fetch_source "$sdl_source" "$sdl_version" "$sources"
    rm -rf "$sdl_prefix" "$build/sdl2-build/obj"
    log=$build/sdl2-build/configure.log
    step "Configuring SDL2 for Emscripten (a few minutes; log in $log)"
    emcmake cmake -S "$sources" -B "$build/sdl2-build/obj" \
        -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_INSTALL_PREFIX="$sdl_prefix" -DCMAKE_INSTALL_LIBDIR=lib \
        -DSDL_SHARED=OFF -DSDL_STATIC=ON -DSDL_TEST=OFF \
        -DSDL_THREADS=OFF -DSDL_PTHREADS=OFF >"$log" 2>&1 || failed "$log" "Configuring SDL2"
    log=$build/sdl2-build/build.log
    step "Building SDL2 (log in $log)"
    { cmake --build "$build/sdl2-build/obj" -j"$(nproc)" && cmake --install "$build/sdl2-build/obj"; } \
        >"$log" 2>&1 || failed "$log" "Building SDL2"
    echo "$sdl_stamp" >"$sdl_prefix/.prepared"
fi

# zlib, the static library only, with its own configure script run by emconfigure outside the source.
if ! prepared "$zlib_prefix" "$zlib_stamp"; then
    sources=$build/zlib-build/src
    fetch_source "$zlib_source" "$zlib_version" "$sources"
    rm -rf "$zlib_prefix" "$build/zlib-build/obj"
    mkdir -p "$build/zlib-build/obj"
    log=$build/zlib-build/build.log
    step "Building zlib (log in $log)"
    (cd "$build/zlib-build/obj" && emconfigure "$sources/configure" --static --prefix="$zlib_prefix" &&
        emmake make -j"$(nproc)" libz.a && emmake make install) >"$log" 2>&1 || failed "$log" "Building zlib"
    echo "$zlib_stamp" >"$zlib_prefix/.prepared"
fi
step "Done"
print_usage
