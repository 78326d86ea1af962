#!/usr/bin/python3
"""A browser tab joins a room that the desktop game created, and both show the same title screen.

    online_test.py --vantor VANTOR --server VANTOR_SERVER --site SITE --artefacts DIR

A server on a free loopback port, serving the site; the desktop game in a private Xvfb creates an
open room; the browser build in headless Chromium (online_page.mjs), served by the server, lists it
and joins it with the list's Join on its own origin, and plays Blue; its invitation link is
http://HOST:PORT/#join=CODE. The two pictures must be the same but for the title's message
line, which names each one's own colour. The tab, reloaded, takes Blue back with the token the page
kept; the desktop game, quit and started again with --join, takes Red back with the one kept in its
rooms file. When the server stops, the window and the page's bar say they reconnect, then, a minute
later, that the connection is lost.
"""
import argparse
import re
import subprocess
import sys
import tempfile
import time
from pathlib import Path


sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "e2e"))
from vantorx import (Artefacts, Failure, Game, Tab, XServer, differing, free_port, game_environment,  # noqa: E402
                     poll, stop_process)

# The title's message line: the room, the colour played there, the map (blittext at 190, 200).
MESSAGE_LINE = (190, 200, 190 + 31 * 7, 216)


def main():
    parser = argparse.ArgumentParser()
    for flag in ("--vantor", "--server", "--site", "--artefacts"):
        parser.add_argument(flag, required=True)
    args = parser.parse_args()
    art = Artefacts(args.artefacts)
    started = time.monotonic()

    def log(text):
        print(f"[{time.monotonic() - started:5.1f} s] {text}", flush=True)

    with tempfile.TemporaryDirectory() as tmp:
        tmp = Path(tmp)
        children = open(tmp / "children.log", "w")
        port = free_port()
        address = f"127.0.0.1:{port}"
        server = subprocess.Popen([args.server, "--port", str(port), "--bind", "127.0.0.1", "--site", args.site],
                                  stdout=children, stderr=children)
        xserver = XServer(tmp)
        home = tmp / "home"
        work = tmp / "work"
        work.mkdir()
        env = game_environment(home, xserver.display)
        games, tab = [], None
        try:
            (tmp / "a").mkdir()
            games.append(Game(args.vantor, work, env, tmp / "a", args=["--online", f"ws://{address}", "--open"]))
            games[-1].wait_window(30, r"^Vantor \(room \w{4}-\w{4} RED\)")
            code = re.search(r"room (\w{4}-\w{4}) RED", games[-1].caption()).group(1)
            log(f"the desktop game created room {code}")

            tab = Tab(args.site, children)
            tab.ask("open", url=f"http://{address}/")
            listed = tab.ask("rooms", code=code)
            if listed["server"] != f"ws://{address}":
                raise Failure(f"the page served by the server plays on {listed['server']!r}")
            tab.ask("joinlisted", code=code)
            joined = tab.ask("room", colour="BLUE")
            if joined["room"] != code or not joined["title"].startswith(f"Vantor (room {code} BLUE)"):
                raise Failure(f"the tab joined {joined}, not room {code} as Blue")
            if joined["invite"] != f"http://{address}/#join={code}":
                raise Failure(f"the invitation link is {joined['invite']!r}")
            log(f"the tab joined as Blue: {joined['title']!r}; invitation {joined['invite']}")

            # Blue's box turns a person's in both once the room has the tab; then they are the same.
            shown = {}

            def same():
                shown["tab"] = tab.picture(tmp / "tab.ppm")
                shown["desktop"] = games[-1].screenshot()
                return differing(shown["tab"], shown["desktop"], masks=[MESSAGE_LINE]) == 0
            try:
                poll("the same title screen in the tab and the window", same, 20, 0.3)
            except Failure:
                art.mismatch("title", shown["tab"], shown["desktop"])
                raise
            if differing(shown["tab"], shown["desktop"], box=MESSAGE_LINE) == 0:
                raise Failure("the title's message line is the same in both: it names no colour")
            log("the tab and the window show the same title screen")

            # The page kept the token: a reload takes Blue back, where a new player would be Yellow.
            tab.ask("reload")
            again = tab.ask("room", colour="BLUE")
            log(f"the tab, reloaded, is Blue again: {again['title']!r}")

            # The desktop game kept its token in the rooms file: quit, --join, Red again.
            games[-1].stop()
            rooms = (home / ".local/share/vantor/rooms").read_text()
            if not re.search(rf"^{code} {re.escape(address)} [0-9a-f]{{32}}$", rooms, re.M):
                raise Failure(f"the rooms file holds {rooms!r}")
            (tmp / "b").mkdir()
            games.append(Game(args.vantor, work, env, tmp / "b", args=["--join", f"{code}@{address}"]))
            games[-1].wait_window(30, rf"^Vantor \(room {code} RED\)")
            log("the desktop game, started again with --join, is Red again")

            # Both try again by themselves for a minute before they give up.
            stop_process(server)
            games[-1].wait_window(30, "^Vantor - RECONNECTING, [0-9]+ s$")
            tab.ask("reconnecting")
            lost = tab.ask("lost")
            if lost["title"] != "Vantor":
                raise Failure(f"after the connection was lost the tab's title is {lost['title']!r}")
            games[-1].wait_window(90, "^Vantor$")
            log(f"the server stopped: the bar says {lost['status']!r}, the window's caption is Vantor again")
            # The browser logs each try at the stopped server as an error of its own; the server served
            # the page too, so the page's own fetches of it (the service worker's update) fail as well.
            gone = r"WebSocket connection to .* failed|net::ERR_CONNECTION_REFUSED|error occurred when fetching the script"
            problems = [p for p in lost["problems"] if not re.search(gone, p)]
            if problems:
                raise Failure("errors on the page: " + "; ".join(problems))
        finally:
            if tab:
                tab.stop()
            for game in games:
                game.stop()
            stop_process(server)
            xserver.stop()
            children.close()
            print((tmp / "children.log").read_text()[-3000:] if sys.exc_info()[0] else "", end="")
    art.discard()
    print("PASS")


if __name__ == "__main__":
    try:
        main()
    except Failure as e:
        print(f"FAIL: {e}")
        sys.exit(1)
