#!/bin/bash
# Without a display the game says so in one line and exits with code 1, without crashing.
# Usage: no_display_test.sh VANTOR
vantor=$1
tmp=$(mktemp -d "${TMPDIR:-/tmp}/vantor-nodisplay.XXXXXX")
trap 'rm -rf "$tmp"' EXIT

# $1: what the case is; then the environment changes for env.
check() {
    local what=$1
    shift
    local rc=0
    (cd "$tmp" && env "$@" SDL_AUDIODRIVER=dummy "$vantor" >"$tmp/out" 2>"$tmp/err") || rc=$?
    if [[ $rc != 1 ]]; then
        echo "FAIL ($what): exit code $rc, not 1; stderr: $(cat "$tmp/err")" >&2
        exit 1
    fi
    if [[ $(wc -l <"$tmp/err") != 1 ]] || ! grep -q '^vantor: no display available (.*)$' "$tmp/err"; then
        echo "FAIL ($what): stderr is not one clear line:" >&2
        cat "$tmp/err" >&2
        exit 1
    fi
    echo "ok ($what): $(cat "$tmp/err")"
}

check "no display at all" -u DISPLAY -u WAYLAND_DISPLAY -u SDL_VIDEODRIVER
check "a display that is not there" -u WAYLAND_DISPLAY -u SDL_VIDEODRIVER DISPLAY=:99999
echo "PASS"
