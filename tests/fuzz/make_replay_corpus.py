#!/usr/bin/python3
"""Writes the seed inputs of the replay and snapshot fuzz targets, made by the build's vantor-sim.

    tests/fuzz/make_replay_corpus.py BUILD_DIR

Records a few short games on the built-in maps with vantor-sim --record into
corpus-replay/seed-*.vrp, and takes their start snapshots into corpus-snapshot/: each as it is in
the file (seed-*.vtsn), and as the snapshot target's unpacked form (seed-*.inside), whose globals
the fuzzer changes directly. Two unpacked seeds of the latter are bent on purpose: a game on a map
without its territory picture, and one without any picture. Inputs the fuzzer adds (named by their
hash) are left alone.
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


def main():
    if len(sys.argv) != 2:
        raise SystemExit(__doc__)
    build = sys.argv[1]
    replays, snapshots = HERE / "corpus-replay", HERE / "corpus-snapshot"
    replays.mkdir(exist_ok=True)
    snapshots.mkdir(exist_ok=True)
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
                # The map named, its shown picture kept, the three others left out.
                shown = 5 + 400 * (1 + 3 * 600)
                (snapshots / "seed-no-territory.inside").write_bytes(
                    unpacked(inside[:split], inside[split:split + shown] + b"\0\0\0"))
                (snapshots / "seed-no-pictures.inside").write_bytes(unpacked(inside[:split], b"\0\0\0\0"))


if __name__ == "__main__":
    main()
