#!/usr/bin/python3
"""Writes the seed inputs of the replay and snapshot fuzz targets, made by the build's vantor-sim.

    tests/fuzz/make_replay_corpus.py BUILD_DIR

Records a few short games on the built-in maps with vantor-sim --record into
corpus-replay/seed-*.vrp, and takes their start snapshots into corpus-snapshot/: each as it is in
the file (seed-*.vtsn), and in the snapshot target's unpacked form (seed-*.inside), whose globals
the fuzzer changes directly. Three unpacked seeds are bent on purpose: the title screen with no
map and no pictures (quick to run), a game on a map without its territory picture, and one without
any picture. crashers-snapshot/ gets the snapshots that once broke the game or the round trip,
made from the same start snapshot. Inputs the fuzzer adds (named by their hash) are left alone.
"""
import json
import struct
import subprocess
import sys
import tempfile
import zlib
from pathlib import Path

HERE = Path(__file__).resolve().parent

# The title screen after the intro; maps listed in an empty folder: World, Archipelago, Pangaea, Twin.
TITLE = "tick 20\nclick 300 200\n"
START = "click 380 340\n"
# A human's shot from the selected launcher: dial, power bar, Fire.
AIM_AND_FIRE = "click 365 431\nclick 540 419\nclick 575 430\n"

# Pictures in a snapshot: the shown map, the territories, the map with its icons (600 x 400), the window.
PICTURES = [(600, 400)] * 3 + [(600, 460)]

# The first globals of a snapshot and their sizes, in the order of model/globals_list.h; the globals end
# with loaded_map (50 bytes) and loaded_builtin, then come the surfaces' bitmaps (3) and the map hash (8).
FIRST_GLOBALS = [("timer_mode", 1), ("seed", 2), ("cur_player", 1), ("cur_unit", 1), ("bearing", 2),
                 ("power", 2), ("alive", 4), ("cpu_player", 4), ("num_players", 1), ("num_maps", 1),
                 ("cur_map", 1), ("filelist", 150 * 50), ("num_city", 1), ("num_silo", 1), ("num_sub", 1),
                 ("num_factory", 1), ("cpu_skill", 2), ("cpu_timer", 2), ("cpu_unit", 1), ("cpu_bearing", 2),
                 ("cpu_power", 2), ("supply", 1), ("timer_count", 1), ("cursor_on", 1), ("introover", 1),
                 ("justaborted", 1), ("startcols", 16)]
GLOBALS_AND_SURFACES = 22785
MODE_PLAYING, MODE_TITLE = 2, 3
NO_TERRITORY = 0x123456  # a colour no map has


def sim(build, folder, script, record=None):
    args = [str(Path(build) / "vantor-sim"), "--dir", folder, "--seed", "7"]
    if record:
        args += ["--record", str(record)]
    done = subprocess.run(args, input=script, capture_output=True, text=True, check=True)
    return done.stdout


def first_launcher(build, folder, setup):
    """The centre of side 0's first silo or submarine once play begins."""
    out = sim(build, folder, setup + "until 2\nunits\n")
    for line in out.splitlines():
        if line.startswith("[{") and '"slot"' in line:
            for unit in json.loads(line):
                if unit["side"] == 0 and unit["flag"] in (2, 3) and unit["ammo"] > 0:
                    return unit["x"] + 4, unit["y"] + 4
    raise SystemExit("no launcher of side 0 found")


def games(build, folder):
    fire_setup = TITLE + "set cur_map 3\nset num_players 3\nset cpu_player 0 1 1 0\n" + START
    x, y = first_launcher(build, folder, fire_setup)
    return {
        # Four people on World, cut short in their first turn after a few clicks.
        "world-4-cut-short": TITLE + START + "until 2\nclick 300 200\n" + AIM_AND_FIRE + "tick 40\n",
        # A person and two computers on Twin: side 0 fires, the computers answer.
        "twin-3-fire": fire_setup + f"until 2\nclick {x} {y}\n" + AIM_AND_FIRE + "tick 300\n",
        # Two people on Archipelago who abort at once: game over, then the title screen.
        "archipelago-2-aborted": TITLE + "set cur_map 1\nset num_players 2\n" + START +
        "until 2\nclick 300 430\nuntil 3\n",
        # Two computers on Pangaea, played to the title screen again.
        "pangaea-2-computers": TITLE + "set cur_map 2\nset num_players 2\nset cpu_player 1 1 0 0\n" + START +
        "until 3\n",
    }


def start_snapshot(replay):
    """The start snapshot's bytes in a replay file."""
    at = 8 + 4
    at += 1 + replay[at] + 1 + 8 + 1 + 1 + 1 + 4
    (size,) = struct.unpack_from("<I", replay, at)
    return replay[at + 4:at + 4 + size]


def pictures_size(inside, pictures):
    """The bytes of the given pictures at the end of a snapshot's inside, checked as far as they go."""
    total = 0
    for width, height in pictures:
        total += 5 + height * (1 + 3 * width)
    at = len(inside) - total
    for width, height in pictures:
        assert inside[at] == 1 and struct.unpack_from("<HH", inside, at + 1) == (width, height)
        at += 5 + height * (1 + 3 * width)
    return total


def unpacked(plain, rest):
    """The snapshot target's other form: u32 n, n plain bytes, and the rest as a raw deflate stream."""
    pack = zlib.compressobj(9, zlib.DEFLATED, -15)
    return struct.pack("<I", len(plain)) + plain + pack.compress(rest) + pack.flush()


def offset(name):
    at = 0
    for global_name, size in FIRST_GLOBALS:
        if global_name == name:
            return at
        at += size
    raise KeyError(name)


def changed(plain, **values):
    """The globals with some of them changed; startcols takes four colours."""
    b = bytearray(plain)
    for name, value in values.items():
        if name == "startcols":
            struct.pack_into("<4I", b, offset(name), *value)
        else:
            b[offset(name)] = value
    return bytes(b)


def bent_and_broken(plain, pictures):
    """Seeds bent on purpose, and snapshots that once crashed the game or failed the round trip."""
    assert len(plain) == GLOBALS_AND_SURFACES, "the globals changed: update FIRST_GLOBALS"
    title = bytearray(changed(plain, timer_mode=MODE_TITLE))
    title[-11 - 51:-11] = bytes(51)  # no map loaded
    title[-11:-8] = bytes((0, 0, 254))  # no surface of the map with its icons
    title = bytes(title)
    shown = 5 + 400 * (1 + 3 * 600)
    # One pixel of the shown map unlike its file's.
    drawn_on = bytearray(pictures)
    drawn_on[5 + 200 * (1 + 3 * 600) + 1 + 3 * 300] ^= 0x40
    seeds = {
        "title-no-map": unpacked(title, b"\0\0\0\0"),
        "no-territory": unpacked(plain, pictures[:shown] + b"\0\0\0"),
        "no-pictures": unpacked(plain, b"\0\0\0\0"),
    }
    crashers = {
        "cur-unit-past-the-units": unpacked(changed(plain, timer_mode=MODE_PLAYING, cur_unit=200), pictures),
        "cur-player-past-the-sides": unpacked(changed(plain, timer_mode=MODE_PLAYING, cur_player=200), pictures),
        "cur-map-past-the-list": unpacked(changed(title, cur_map=200), b"\0\0\0\0"),
        "placement-colours-not-on-the-map": unpacked(changed(plain, startcols=(NO_TERRITORY,) * 4), pictures),
        "map-not-as-its-files": unpacked(plain, bytes(drawn_on)),
    }
    return seeds, crashers


def main():
    if len(sys.argv) != 2:
        raise SystemExit(__doc__)
    build = sys.argv[1]
    replays, snapshots, crashers = HERE / "corpus-replay", HERE / "corpus-snapshot", HERE / "crashers-snapshot"
    for folder in (replays, snapshots, crashers):
        folder.mkdir(exist_ok=True)
    with tempfile.TemporaryDirectory() as folder:
        for name, script in games(build, folder).items():
            path = replays / f"seed-{name}.vrp"
            sim(build, folder, script, record=path)
            snapshot = start_snapshot(path.read_bytes())
            (snapshots / f"seed-{name}.vtsn").write_bytes(snapshot)
            inside = zlib.decompress(snapshot[12:])
            split = len(inside) - pictures_size(inside, PICTURES)
            (snapshots / f"seed-{name}.inside").write_bytes(unpacked(inside[:split], inside[split:]))
            if name == "twin-3-fire":
                bent, broken = bent_and_broken(inside[:split], inside[split:])
                for seed, data in bent.items():
                    (snapshots / f"seed-{seed}.inside").write_bytes(data)
                for crasher, data in broken.items():
                    (crashers / f"{crasher}.inside").write_bytes(data)


if __name__ == "__main__":
    main()
