#!/usr/bin/python3
"""Takes docs/screens/palette-title.png and palette-play.png: the real window with the colour-blind
palette on (key C), on the title and in play, in a private Xvfb.
Usage: docs/screens/palette.py [BUILD_DIR]   (default: build/release; needs Xvfb, xdotool, ImageMagick)
"""
import sys
import tempfile
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent.parent / "tests" / "e2e"))
from vantorx import Game, XServer, game_environment, poll  # noqa: E402


def main():
    build = Path(sys.argv[1] if len(sys.argv) > 1 else HERE.parent.parent / "build" / "release").resolve()
    with tempfile.TemporaryDirectory() as tmp:
        tmp = Path(tmp)
        (tmp / "home").mkdir()
        xserver = XServer(tmp)
        game = None
        try:
            game = Game(build / "vantor", tmp, game_environment(tmp / "home", xserver.display), tmp)
            game.wait_window()
            time.sleep(2.5)  # the intro's lines
            game.click(300, 200)
            game.key("c")
            for box in ((197, 342), (257, 342)):  # Blue and Green to the computer
                game.click(*box)
            time.sleep(0.5)
            game.screenshot().save(HERE / "palette-title.png")
            game.click(380, 340)
            poll("play", lambda: "to fire" in game.caption(), 20)
            time.sleep(1)
            game.screenshot().save(HERE / "palette-play.png")
            print("docs/screens/palette-title.png docs/screens/palette-play.png")
        finally:
            if game:
                game.stop()
            xserver.stop()


if __name__ == "__main__":
    main()
