#!/usr/bin/python3
"""Takes docs/screens/replay-play.png and replay-end.png: a replay in the real window, with the
caption a window manager shows over it.

A short game of four computer sides on World is recorded with vantor-sim under a kept replay's name,
then played with `vantor --replay` in a private Xvfb with openbox drawing the title bar; the pictures
are the window with its frame, taken during play and at the end of the replay.
Usage: docs/screens/replay.py [BUILD_DIR]   (default: build/release; needs Xvfb, openbox, xdotool and
ImageMagick's import)
"""
import os
import subprocess
import sys
import tempfile
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent.parent / "tests" / "e2e"))
from vantorx import Game, XServer, game_environment, poll, stop_process  # noqa: E402

GAME = ["tick 20", "click 300 200", "click 197 342", "click 227 342", "click 257 342", "click 167 342",
        "click 380 340", "until 2 400", "tick 150", "click 300 430", "until 3 400"]


def framed(env, window, path):
    """The window with the frame openbox put round it."""
    tree = subprocess.run(["xwininfo", "-children", "-id", window], env=env, capture_output=True, text=True).stdout
    parent = next(line.split(":")[1].split()[0] for line in tree.splitlines() if line.strip().startswith("Parent window id:"))
    subprocess.run(["import", "-silent", "-window", parent, "-strip", str(path)], env=env, check=True)
    print(path.relative_to(HERE.parent.parent))


def main():
    build = Path(sys.argv[1] if len(sys.argv) > 1 else HERE.parent.parent / "build" / "release").resolve()
    with tempfile.TemporaryDirectory() as tmp:
        tmp = Path(tmp)
        replay = tmp / "2026-12-09-153012-World.vrp"
        subprocess.run([build / "vantor-sim", "--dir", tmp, "--seed", "5", "--record", replay],
                       input="\n".join(GAME) + "\n", text=True, check=True, capture_output=True)
        (tmp / "home").mkdir()
        xserver = XServer(tmp)
        env = game_environment(tmp / "home", xserver.display)
        wm = subprocess.Popen(["openbox"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        game = None
        try:
            time.sleep(1)
            game = Game(build / "vantor", tmp, env, tmp, args=("--replay", str(replay)))
            game.wait_window(title="^Vantor")
            poll("the computer's turn", lambda: "to fire" in game.caption(), 20)
            time.sleep(1.5)
            framed(env, game.window, HERE / "replay-play.png")
            poll("the end of the replay", lambda: game.caption().endswith("end of the replay"), 60)
            framed(env, game.window, HERE / "replay-end.png")
        finally:
            if game:
                game.stop()
            stop_process(wm)
            xserver.stop()


if __name__ == "__main__":
    main()
