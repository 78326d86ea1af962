#!/usr/bin/python3
"""Takes docs/screens/greyout-<map>.png: Yellow put out of the game on each built-in map.

Yellow's launchers are emptied in play, so that Yellow loses at its next turn, as a side
with no missiles does; the computer plays every side, and the picture is taken
once every Yellow icon has turned grey.
Usage: docs/screens/greyout.py [BUILD_DIR]   (default: build/release; needs ImageMagick's convert)
"""
import json
import os
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
YELLOW, GREY = 2, 4
CHUNK, LIMIT = 10, 3000


def sim(build, work, lines):
    run = subprocess.run([os.path.join(build, "vantor-sim"), "--dir", work, "--seed", "3"],
                         input="\n".join(lines) + "\n", capture_output=True, text=True, check=True)
    return [line for line in run.stdout.splitlines() if line.startswith(("{", "["))]


def shoot(build, work, index, name):
    start = ["tick 20", "click 300 200", f"set cur_map {index}", "set cpu_player 1 1 1 1",
             "click 380 340", "until 2 400"]
    # Yellow's launchers are emptied once it is not Yellow's turn: a side to move with nothing to
    # fire would wait for ever.
    turns = sim(build, work, start + [f"tick {CHUNK}\nstate cur_player" for _ in range(LIMIT // CHUNK)])
    wait = next(k for k, t in enumerate(turns) if json.loads(t)["cur_player"] != YELLOW)
    start.append(f"tick {CHUNK * (wait + 1)}")
    units = json.loads(sim(build, work, start + ["units"])[-1])
    play = start + [f"set unit {u['slot']} ammo 0" for u in units if u["side"] == YELLOW and u["flag"] in (2, 3)]
    lines = sim(build, work, play + [f"tick {CHUNK}\nstate alive\nunits" for _ in range(LIMIT // CHUNK)])
    chunks = [(json.loads(a)["alive"], json.loads(u)) for a, u in zip(lines[0::2], lines[1::2])]
    # A side out is drawn grey one icon a tick: wait for the last.
    done = next(k for k, (alive, units) in enumerate(chunks)
                if not alive[YELLOW] and not any(u["greynow"] for u in units))
    bmp = os.path.join(work, "shot.bmp")
    sim(build, work, play + [f"tick {CHUNK * (done + 1)}", f"screenshot {bmp}"])
    png = os.path.join(HERE, f"greyout-{name.lower()}.png")
    subprocess.run(["convert", bmp, "-strip", png], check=True)
    print(os.path.relpath(png, os.path.join(HERE, "..", "..")))


def main():
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(HERE, "..", "..", "build", "release"))
    with tempfile.TemporaryDirectory() as work:
        for index, name in enumerate(("World", "Archipelago", "Pangaea", "Twin")):
            shoot(build, work, index, name)


if __name__ == "__main__":
    main()
