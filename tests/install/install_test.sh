#!/bin/bash
# cmake --install into a scratch prefix, then the installed programs run from other directories:
# the files and the desktop entry are where a desktop looks for them, vantor-sim lists the built-in
# maps (and a pair of the player's own beside them), and the installed game opens its window and
# shows the same title screen as vantor-sim, the built-in map's name in it.
# Usage: install_test.sh BUILD_DIR SOURCE_DIR
source "$2/tests/smoke/x_session.sh"
build=$1
src=$2
prefix="$SMOKE_TMP/prefix dir"

cmake --install "$build" --prefix "$prefix" >"$SMOKE_TMP/install.log" 2>&1 ||
    fail "cmake --install failed: $(cat "$SMOKE_TMP/install.log")"
for program in vantor vantor-sim; do
    [[ -x $prefix/bin/$program ]] || fail "bin/$program is not installed"
done

# The desktop entry starts the installed game by its full path, quoted for the space in it.
entry="$prefix/share/applications/vantor.desktop"
[[ -f $entry ]] || fail "no share/applications/vantor.desktop"
for line in "Type=Application" "Name=Vantor" "Exec=\"$prefix/bin/vantor\"" "Icon=vantor" "Terminal=false" \
    "Categories=Game;StrategyGame;"; do
    grep -q -x -F "$line" "$entry" || fail "the desktop entry lacks the line $line: $(cat "$entry")"
done
command -v desktop-file-validate >/dev/null ||
    fail "desktop-file-validate is missing: tools/install_packages.sh installs desktop-file-utils"
desktop-file-validate "$entry" || fail "desktop-file-validate rejects the entry"
for size in 32 64 128; do
    icon="$prefix/share/icons/hicolor/${size}x${size}/apps/vantor.png"
    [[ $(identify -format '%m %wx%h' "$icon" 2>/dev/null) == "PNG ${size}x${size}" ]] ||
        fail "share/icons/hicolor/${size}x${size}/apps/vantor.png is not a ${size} x ${size} PNG"
done

# Every map built into the game, as the title lists it: World first.
mapfile -t builtin < <(cd "$src/resources/maps" && ls -- *.map | sed 's/\.map$//' | grep -v -x World | sort)
expected=$(printf '"%s",' World "${builtin[@]}")
expected="[${expected%,}]"

# vantor-sim from an empty directory, then from one holding a pair of the player's own.
listed() {
    printf 'state\n' | (cd "$1" && "$prefix/bin/vantor-sim") | grep -o '"maps":\[[^]]*\]' | sed 's/^"maps"://'
}
empty="$SMOKE_TMP/empty"
own="$SMOKE_TMP/own maps"
mkdir -p "$empty" "$own"
got=$(listed "$empty")
[[ $got == "$expected" ]] || fail "from an empty directory the maps are $got, not $expected"
cp "$src/resources/maps/Twin.map" "$own/Mine.map"
cp "$src/resources/maps/Twin.tac" "$own/Mine.tac"
got=$(listed "$own")
[[ $got == "[\"Mine\",${expected#[}" ]] || fail "beside a pair of the player's own the maps are $got"

# The title screen as vantor-sim draws it, in the directory without maps.
printf '%s\n' 'tick 20' 'click 300 60' 'screenshot title.bmp' | (cd "$empty" && "$prefix/bin/vantor-sim") >/dev/null ||
    fail "vantor-sim could not draw the title screen"
convert "$empty/title.bmp" "$SMOKE_TMP/title-sim.png"

# The installed game, started as the desktop entry says, in the directory without maps.
command=$(sed -n 's/^Exec="\(.*\)"$/\1/p' "$entry")
start_xvfb
APP_DIR="$empty" start_app "$command"
id=$(wait_for_window Vantor) || fail "the installed game opened no window: $(cat "$SMOKE_TMP/out")"
[[ $(readlink "/proc/$APP_PID/cwd") == "$empty" ]] || fail "the game did not run in $empty"
sleep 2
for _ in $(seq 40); do
    xdotool mousemove --window "$id" 300 60 click 1
    sleep 0.25
    [[ $(pixel "$id" 330 350) != '#000000' ]] && break
done
sleep 0.3
screenshot "$id" "$SMOKE_TMP/title-game.png"
differing=$(pixels_differing "$SMOKE_TMP/title-sim.png" "$SMOKE_TMP/title-game.png")
[[ $differing == 0 ]] || fail "the installed game's title screen differs from vantor-sim's in $differing pixels"

kill "$APP_PID"
rc=0
wait_for_exit 10 || rc=$?
[[ $rc == 0 ]] || fail "the installed game ended with code $rc: $(cat "$SMOKE_TMP/out")"
echo "PASS (maps $expected; desktop entry validated)"
