#!/usr/bin/python3
"""Two windows and a browser tab play a game of three sides through vantor-server, to its end.

    online_test.py --vantor VANTOR --server VANTOR_SERVER --watch ONLINE_WATCH --site SITE
                   --close X_CLOSE_WINDOW --artefacts DIR [--screens DIR] [--tick-ms MS]

A server on a free loopback port, which with --site serves the browser build's site itself, over
https:// and wss:// with a certificate of the test's own authority (made with openssl; the windows
trust it through SSL_CERT_FILE, the browser by its key). Window A (its own Xvfb) creates a room;
window B (another Xvfb) and a tab of the page the server serves, in headless Chromium, join it with
the code A's caption shows; a watcher (online_watch) joins last, and A takes the watcher's side out of
the game on the title screen, sets a short game (5 cities, 4 silos and 1 submarine a side) and starts.
In each person's turn the test clicks, in the window or tab of the side to move, the shot the watcher
names: a launcher, the dial and the power bar towards the nearest enemy, and Fire. The game must reach
its game-over screen and return to the title, every front end must say the same outcome, and the
server must report no desync. Without --site the third player is a window too, over ws://. With
--screens, pictures of the title, the play and the end go there as PNG.
"""
import argparse
import json
import os
import queue
import re
import ssl
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request
from pathlib import Path

from PIL import Image

sys.path.insert(0, str(Path(__file__).resolve().parent))
from vantorx import (Artefacts, Certificates, Failure, Game, Tab, XServer, free_port, game_environment,  # noqa: E402
                     poll, stop_process)

MODE_PLAYING, MODE_TITLE, MODE_GAMEOVER = 2, 3, 4
COLOURS = ["RED", "BLUE", "YELLOW"]
# The title's controls: fewer cities, silos and submarines; the box of side 3; Start.
FEWER_CITIES, FEWER_SILOS, FEWER_SUBS = (167, 252), (322, 252), (167, 297)
BOX_3, START = (250, 340), (380, 340)


class Lines:
    """The lines a child process prints, read on a thread of their own."""

    def __init__(self, proc):
        self.proc, self.queue = proc, queue.Queue()
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.proc.stdout:
            self.queue.put(line.rstrip("\n"))
        self.queue.put(None)

    def next(self, timeout):
        try:
            line = self.queue.get(timeout=timeout)
        except queue.Empty:
            return ""
        if line is None:
            raise Failure(f"{self.proc.args[0]} ended with code {self.proc.wait()}")
        return line


class OnlineTest:
    def __init__(self, args, tmp):
        self.args, self.tmp = args, Path(tmp)
        self.art = Artefacts(args.artefacts)
        self.screens = Path(args.screens) if args.screens else None
        self.procs, self.xservers, self.windows, self.pictures = [], [], [], {}
        self.tab = self.watch = None
        self.log_file = open(self.tmp / "children.log", "w")
        # With the site, everything goes over TLS: https:// for the page, wss:// for every player.
        self.tls = Certificates(self.tmp / "tls") if args.site else None
        self.scheme = "wss://" if self.tls else "ws://"

    def log(self, message):
        print(f"[{time.monotonic() - self.t0:6.1f} s] {message}", flush=True)

    def picture(self, name, who):
        """A picture of a front end (0, 1: the windows; 2: the tab), kept for the screens."""
        image = self.tab.picture(self.tmp / "tab.ppm") if self.tab and who == 2 else self.windows[who].screenshot()
        self.art.save(name, image)
        self.pictures[name] = image
        return image

    def keep_screens(self):
        """The pictures of the three front ends side by side: the title, a shot of each, the end; and
        the browser's page with the room in its bar."""
        self.screens.mkdir(parents=True, exist_ok=True)
        for moment in ("title", "play", "end"):
            row = [p for n, p in sorted(self.pictures.items(), key=lambda kv: COLOURS.index(kv[0].split("-")[1].upper()))
                   if n.startswith(moment + "-")]
            out = Image.new("RGB", (sum(p.width for p in row) + 8 * (len(row) - 1), row[0].height), (24, 26, 30))
            for k, p in enumerate(row):
                out.paste(p, (k * (p.width + 8), 0))
            out.save(self.screens / f"online-{moment}.png", optimize=True)
        if self.tab:
            self.tab.ask("page", path=str(self.screens / "online-browser-page.png"))

    def caption(self, who):
        return self.tab.caption() if self.tab and who == 2 else self.windows[who].caption()

    def click(self, who, x, y):
        if self.tab and who == 2:
            self.tab.click(x, y)
        else:
            self.windows[who].click(x, y)

    def wait_caption(self, who, what, pattern, timeout):
        last = [""]

        def check():
            last[0] = self.caption(who)
            return re.search(pattern, last[0])
        try:
            return poll(what, check, timeout, 0.2)
        except Failure:
            raise Failure(f"{what}: the caption says {last[0]!r}")

    # ---- setting up ----

    def start_server(self):
        self.port = free_port()
        command = [self.args.server, "--port", str(self.port), "--bind", "127.0.0.1", "--tick-ms", str(self.args.tick_ms)]
        if self.tls:
            command += ["--site", self.args.site, "--tls-cert", str(self.tls.cert), "--tls-key", str(self.tls.key)]
        self.server = subprocess.Popen(command, stdout=self.log_file, stderr=self.log_file)
        self.procs.append(self.server)
        poll("the server listening", lambda: self.metrics() is not None, 20, 0.2)

    def metrics(self):
        try:
            context = ssl.create_default_context(cafile=str(self.tls.ca)) if self.tls else None
            scheme = "https" if self.tls else "http"
            with urllib.request.urlopen(f"{scheme}://127.0.0.1:{self.port}/metrics", timeout=2, context=context) as reply:
                text = reply.read().decode()
        except OSError:
            return None
        return {m.group(1): float(m.group(2)) for m in re.finditer(r"^(\w+) ([0-9.e+-]+)$", text, re.M)}

    def open_window(self, args):
        k = len(self.windows)
        x = XServer(self.tmp)
        self.xservers.append(x)
        home = self.tmp / f"home{k}"
        home.mkdir()
        work = self.tmp / f"work{k}"
        work.mkdir()
        game = Game(self.args.vantor, work, self.environment(game_environment(home, x.display)), self.tmp / f"out{k}",
                    self.args.close, args=args)
        self.windows.append(game)
        game.wait_window(30, "^Vantor")
        return game

    def environment(self, env):
        """A client's environment, trusting the test's authority when there is one."""
        if self.tls:
            env["SSL_CERT_FILE"] = str(self.tls.ca)
        return env

    def join_all(self):
        address = f"127.0.0.1:{self.port}"
        (self.tmp / "out0").mkdir()
        (self.tmp / "out1").mkdir()
        self.open_window(["--online", f"{self.scheme}{address}"])
        found = self.wait_caption(0, "the room's code in window A", r"room (\w{4}-\w{4}) RED", 20)
        self.code = found.group(1)
        self.log(f"window A created room {self.code}")
        self.open_window(["--join", f"{self.code}@{self.scheme}{address}"])
        self.wait_caption(1, "window B in the room", rf"room {self.code} BLUE", 20)
        self.log("window B joined as Blue")
        if self.tls:
            # The page the server serves, opened with the invitation's fragment, on its own origin.
            self.tab = Tab(self.args.site, self.log_file, seconds=900, trust=self.tls.spki)
            self.tab.ask("open", url=f"https://{address}/", fragment=f"join={self.code}")
        else:
            (self.tmp / "out2").mkdir()
            self.open_window(["--join", f"{self.code}@{address}"])
        self.wait_caption(2, "the third player in the room", rf"room {self.code} YELLOW", 60)
        self.log("the browser tab joined as Yellow" if self.tab else "window C joined as Yellow")
        self.watch = subprocess.Popen([self.args.watch, f"{self.scheme}{address}", self.code, "--seconds", "900"],
                                      stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=self.log_file, text=True,
                                      env=self.environment(dict(os.environ)))
        self.procs.append(self.watch)
        self.views = Lines(self.watch)
        self.view = None

    def next_view(self, timeout):
        """The watcher's latest view, waiting up to timeout for one newer than the last."""
        line = self.views.next(timeout)
        while line:
            self.view = json.loads(line)
            line = self.views.next(0)
        return self.view

    def wait_view(self, what, test, timeout):
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            if self.view and test(self.view):
                return self.view
            self.next_view(min(1.0, max(0.0, end - time.monotonic())))
        raise Failure(f"the watcher never saw {what}; it last saw {self.view}")

    def set_up_title(self):
        self.wait_view("the title with the watcher seated", lambda v: v["mode"] == MODE_TITLE and v["side"] == 3, 30)
        # The watcher's box: a person's, then the computer's, then out of the game.
        for _ in range(2):
            self.click(0, *BOX_3)
            time.sleep(0.3)
        self.wait_view("three sides", lambda v: v["players"] == 3, 10)
        for control, times in ((FEWER_CITIES, 10), (FEWER_SILOS, 2), (FEWER_SUBS, 2)):
            for _ in range(times):
                self.click(0, *control)
                time.sleep(0.15)
        time.sleep(0.5)
        for who in range(3):
            self.picture(f"title-{COLOURS[who].lower()}", who)
        self.click(0, *START)
        self.wait_view("play", lambda v: v["mode"] == MODE_PLAYING, 30)
        self.log("A started a game of three sides, each a person's")

    # ---- the game ----

    def play(self):
        fired, turns, pictured = None, 0, set()
        end = time.monotonic() + 800
        while time.monotonic() < end:
            v = self.next_view(1.0)
            if v["mode"] in (MODE_GAMEOVER, MODE_TITLE):
                return turns
            mover = v["cur_player"]
            if v["mode"] != MODE_PLAYING or v["cpu"][mover] or v["flying"] or not v["clicks"]:
                continue
            key = (v["tick"] // 100, mover, tuple(map(tuple, v["clicks"])))
            if fired and fired[1:] == key[1:] and time.monotonic() - fired[0] < 8:
                continue  # clicked; the turn passes with the frame that brings the Fire back
            for x, y in v["clicks"]:
                self.click(mover, x, y)
                time.sleep(0.12)
            fired = (time.monotonic(), *key[1:])
            turns += 1
            if mover not in pictured:
                time.sleep(1.0)
                pictured.add(mover)
                self.picture(f"play-{COLOURS[mover].lower()}", mover)
            if turns % 10 == 0:
                self.log(f"{turns} turns played; alive {v['alive'][:3]}")
        raise Failure("the game did not end within 800 s")

    def run(self):
        self.t0 = time.monotonic()
        try:
            self.start_server()
            self.join_all()
            self.set_up_title()
            turns = self.play()
            self.wait_view("the game over", lambda v: v["mode"] in (MODE_GAMEOVER, MODE_TITLE), 30)
            time.sleep(3)
            outcomes = [self.caption(who) for who in range(3)]
            for who in range(3):
                self.picture(f"end-{COLOURS[who].lower()}", who)
            self.log(f"the game ended after {turns} turns by people: {outcomes}")
            results = {re.sub(r"^Vantor \(room [^)]*\) - ", "", c) for c in outcomes}
            if len(results) != 1:
                raise Failure(f"the front ends tell different outcomes: {outcomes}")
            self.wait_view("the title again", lambda v: v["mode"] == MODE_TITLE, 30)
            m = self.metrics() or {}
            self.log(f"server: {m.get('vantor_frames_total', 0):.0f} frames, "
                     f"{m.get('vantor_checks_total', 0):.0f} hash checks, "
                     f"{m.get('vantor_desyncs_total', -1):.0f} desyncs")
            if m.get("vantor_desyncs_total", -1) != 0:
                raise Failure(f"the server counted desyncs: {m}")
            if self.screens:
                self.keep_screens()
        except Failure as failure:
            print(f"FAIL: {failure}\nThe pictures of this run are in {self.art.dir}", file=sys.stderr)
            return 1
        finally:
            if self.tab:
                self.tab.stop()
            for w in self.windows:
                w.stop()
            for p in self.procs:
                stop_process(p)
            for x in self.xservers:
                x.stop()
            self.log_file.close()
        self.art.discard()
        print(f"PASS in {time.monotonic() - self.t0:.1f} s")
        return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    for name in ("vantor", "server", "watch", "close", "artefacts"):
        parser.add_argument(f"--{name}", required=True)
    parser.add_argument("--site", help="the browser build's site, served by the server over https; without it the "
                        "third player is a window too, over ws://")
    parser.add_argument("--screens")
    parser.add_argument("--tick-ms", type=int, default=100)
    args = parser.parse_args()
    for name in ("vantor", "server", "watch", "close"):
        setattr(args, name, str(Path(getattr(args, name)).resolve()))
    with tempfile.TemporaryDirectory(prefix="vantor-online.") as tmp:
        return OnlineTest(args, tmp).run()


if __name__ == "__main__":
    sys.exit(main())
