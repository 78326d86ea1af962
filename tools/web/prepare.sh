#!/bin/bash
# Prepares the browser build: Debian's Emscripten, a writable copy of its cache, and SDL2 built for the web, all under BUILD_DIR.
set -euo pipefail

if (($# != 1)); then
    echo "Usage: $0 BUILD_DIR" >&2
    exit 2
fi
here=$(dirname "$(readlink -f "$0")")
mkdir -p "$1"
build=$(cd "$1" && pwd)
prefix=$build/sdl2-web
stamp=$prefix/.prepared
env_file=$build/emenv.sh

"$here/../install_packages.sh" emscripten dpkg-dev libsdl2-dev cmake make python3
sdl_version=$(dpkg-query -W -f='${Version}' libsdl2-dev)   # the native build's SDL2, e.g. 2.26.5+dfsg-1
em_version=$(dpkg-query -W -f='${Version}' emscripten)
wanted_stamp="libsdl2 $sdl_version, emscripten $em_version"

# shellcheck disable=SC2016  # the variables are for the reader's shell
print_usage() {
    echo "SDL2 $sdl_version for the web is in $prefix (Emscripten $em_version)."
    echo "To use it:  source $env_file"
    echo '            emcmake cmake -S . -B BUILD -DCMAKE_FIND_ROOT_PATH="$SDL2_WEB"   # find_package(SDL2), SDL2::SDL2'
    echo '            emcc ... -I"$SDL2_WEB/include/SDL2" "$SDL2_WEB/lib/libSDL2.a"     # or by hand'
}

# Cached: the install of the same SDL2 with the same Emscripten is there already.
if [[ -f $stamp && $(<"$stamp") == "$wanted_stamp" && -f $env_file && -f $build/em-cache/.copied ]]; then
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

cat >"$env_file" <<EOF
# Source this for the browser build (written by tools/web/prepare.sh).
export EM_CACHE='$build/em-cache'
# The machine's own Node comes first on the PATH and finds Debian's acorn only here.
export NODE_PATH="/usr/share/nodejs\${NODE_PATH:+:\$NODE_PATH}"
# Debian's python3 for emcc: a python3 found first on the PATH may be a slow wrapper (pyenv adds ~0.5 s a call).
export EMSDK_PYTHON=/usr/bin/python3
export SDL2_WEB='$prefix'
EOF
# shellcheck source=/dev/null
source "$env_file"

# SDL2's source package, of the native build's version, through a private apt state and source list
# for this one download: the machine's own apt configuration is left as it is.
sources=$build/sdl2-build/src
if [[ ! -f $sources/.version || $(<"$sources/.version") != "$sdl_version" ]]; then
    step "Downloading the source of libsdl2 $sdl_version"
    apt_dir=$(mktemp -d)
    trap 'rm -rf "$apt_dir"' EXIT
    chmod 755 "$apt_dir"   # apt downloads as the user _apt, which must reach the download folder
    mkdir -p "$apt_dir/state/lists/partial" "$apt_dir/cache/archives/partial" "$apt_dir/download"
    python3 "$here/deb_src_lines.py" >"$apt_dir/sources.list"
    private=(-o "Dir::State=$apt_dir/state" -o "Dir::Etc::SourceList=$apt_dir/sources.list"
        -o Dir::Etc::SourceParts=/dev/null -o "Dir::Cache=$apt_dir/cache")
    apt-get "${private[@]}" update -q
    if id _apt >/dev/null 2>&1; then chown _apt "$apt_dir/download"; fi
    (cd "$apt_dir/download" && apt-get "${private[@]}" source -q "libsdl2=$sdl_version")
    unpacked=("$apt_dir"/download/libsdl2-*/)
    rm -rf "$build/sdl2-build"
    mkdir -p "$build/sdl2-build"
    mv "${unpacked[0]}" "$sources"
    echo "$sdl_version" >"$sources/.version"
    rm -rf "$apt_dir"
    trap - EXIT
fi

# SDL's own CMake with Emscripten's toolchain. Configuring runs some 160 checks that each compile and
# link with emcc, which takes most of the time; the build log is kept beside the objects.
step "Configuring SDL2 for Emscripten (a few minutes; log in $build/sdl2-build/configure.log)"
rm -rf "$prefix" "$build/sdl2-build/obj"
log=$build/sdl2-build/configure.log
if ! emcmake cmake -S "$sources" -B "$build/sdl2-build/obj" \
    -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_INSTALL_LIBDIR=lib \
    -DSDL_SHARED=OFF -DSDL_STATIC=ON -DSDL_TEST=OFF \
    -DSDL_THREADS=OFF -DSDL_PTHREADS=OFF >"$log" 2>&1; then
    tail -n 40 "$log" >&2
    echo "Configuring SDL2 failed: $log" >&2
    exit 1
fi
step "Building SDL2 (log in $build/sdl2-build/build.log)"
log=$build/sdl2-build/build.log
if ! { cmake --build "$build/sdl2-build/obj" -j"$(nproc)" && cmake --install "$build/sdl2-build/obj"; } >"$log" 2>&1; then
    tail -n 40 "$log" >&2
    echo "Building SDL2 failed: $log" >&2
    exit 1
fi
echo "$wanted_stamp" >"$stamp"
step "Done"
print_usage
