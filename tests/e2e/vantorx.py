#!/usr/bin/python3
"""Shared by the tests that drive the real game: a private X server, the game in it, its window's
pictures and clicks, vantor-sim runs that say what the window should show, and the pictures a
failed run leaves behind.

Clicks go through xdotool, pictures come from ImageMagick's `import -window` (the window's own
content), the close is a WM_DELETE_WINDOW from the x_close_window helper. Every wait polls with a
deadline.
"""
import base64
import hashlib
import json
import os
import re
import shutil
import signal
import socket
import subprocess
import time
from io import BytesIO
from pathlib import Path

from PIL import Image, ImageChops, ImageDraw

WIDTH, HEIGHT = 600, 460
MAP_BOX = (0, 0, 600, 400)
PANEL_BOX = (0, 400, 600, 460)
CLOSEUP_BOX = (5, 405, 105, 455)


class Failure(Exception):
    """A check that did not hold; the message says what was seen."""


def poll(what, check, timeout, interval=0.05):
    """Calls check() until it returns something true, and returns that; fails after timeout s."""
    deadline = time.monotonic() + timeout
    while True:
        result = check()
        if result:
            return result
        if time.monotonic() > deadline:
            raise Failure(f"gave up after {timeout:.0f} s waiting for {what}")
        time.sleep(interval)


# ---- pictures ----

def masked(image, box=None, masks=()):
    """The picture cut to box (left, top, right, bottom), with each mask rectangle painted black."""
    box = box or (0, 0, image.width, image.height)
    part = image.crop(box)
    if masks:
        draw = ImageDraw.Draw(part)
        for (l, t, r, b) in masks:
            l, t, r, b = max(l, box[0]), max(t, box[1]), min(r, box[2]), min(b, box[3])
            if l < r and t < b:
                draw.rectangle((l - box[0], t - box[1], r - box[0] - 1, b - box[1] - 1), fill=(0, 0, 0))
    return part


def differing(a, b, box=None, masks=()):
    """How many pixels of box differ between two pictures, the masks left out."""
    diff = ImageChops.difference(masked(a, box, masks), masked(b, box, masks)).convert("L")
    return diff.width * diff.height - diff.histogram()[0]


def diff_picture(a, b):
    """The pixels that differ in red over a dimmed copy of a."""
    diff = ImageChops.difference(a, b).convert("L").point(lambda v: 255 if v else 0)
    out = a.point(lambda v: v // 3)
    out.paste((255, 0, 0), mask=diff)
    return out


def cursor_rect(unit):
    """The 13 x 13 square of the selection frame around a unit's icon."""
    return (unit["x"] - 2, unit["y"] - 2, unit["x"] + 11, unit["y"] + 11)


def overlaps(a, b):
    return a[0] < b[2] and b[0] < a[2] and a[1] < b[3] and b[1] < a[3]


class Artefacts:
    """Pictures of a run, kept in the build tree only when the run fails."""

    def __init__(self, directory):
        self.dir = Path(directory)
        shutil.rmtree(self.dir, ignore_errors=True)
        self.dir.mkdir(parents=True)
        self.count = 0

    def save(self, name, image):
        self.count += 1
        image.save(self.dir / f"{self.count:03d}-{name}.png", compress_level=1)

    def mismatch(self, name, got, expected):
        self.save(f"{name}-window", got)
        self.save(f"{name}-expected", expected)
        self.save(f"{name}-diff", diff_picture(got, expected))

    def text(self, name, content):
        (self.dir / name).write_text(content, errors="replace")

    def discard(self):
        shutil.rmtree(self.dir, ignore_errors=True)


# ---- the X server and the game ----

def game_environment(home, display):
    """The environment a player's desktop would give, with everything the game or its libraries
    might write pointed into home, and sound going nowhere."""
    env = dict(os.environ)
    for name in ("SDL_VIDEODRIVER", "WAYLAND_DISPLAY"):
        env.pop(name, None)
    env.update({
        "DISPLAY": display,
        "SDL_AUDIODRIVER": "dummy",
        "HOME": str(home),
        "XDG_CACHE_HOME": str(home / ".cache"),
        "XDG_CONFIG_HOME": str(home / ".config"),
        "XDG_DATA_HOME": str(home / ".local/share"),
        "MESA_SHADER_CACHE_DIR": str(home / ".cache/mesa"),
    })
    return env


class XServer:
    """A private Xvfb on the first free display, stopped on exit. It does not reset when its last
    client leaves, so that a game started right after another one finds it listening."""

    def __init__(self, tmp, *options, depth=24):
        self.log = open(Path(tmp) / "xvfb.log", "w+")
        read_end, write_end = os.pipe()
        self.proc = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-nolisten", "tcp", "-screen", "0", f"1024x768x{depth}",
             "-noreset", *options],
            pass_fds=(write_end,), stdout=self.log, stderr=self.log)
        os.close(write_end)
        number = b""
        with os.fdopen(read_end, "rb") as pipe:
            # Xvfb writes the number and a newline once it listens, or exits.
            while not number.endswith(b"\n"):
                chunk = pipe.read(1)
                if not chunk:
                    break
                number += chunk
        if not number.strip():
            self.log.seek(0)
            raise Failure(f"Xvfb did not start: {self.log.read()}")
        self.display = ":" + number.decode().strip()

    def stop(self):
        stop_process(self.proc)
        self.log.close()


def stop_process(proc, grace=5):
    if proc.poll() is not None:
        return
    proc.send_signal(signal.SIGTERM)
    try:
        proc.wait(grace)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait()


class Game:
    """The real game in a working directory of its own, with its output kept in files."""

    def __init__(self, vantor, workdir, env, tmp, close_helper=None, run_as=(), args=()):
        self.workdir = Path(workdir)
        self.tmp = Path(tmp)
        self.env = env
        self.close_helper = close_helper
        self.out_path = self.tmp / "game.out"
        self.err_path = self.tmp / "game.err"
        self.window = None
        self.started = time.time()
        with open(self.out_path, "wb") as out, open(self.err_path, "wb") as err:
            self.proc = subprocess.Popen([*run_as, vantor, *args], cwd=self.workdir, env=env, stdout=out, stderr=err,
                                         stdin=subprocess.DEVNULL)

    def xdotool(self, *args):
        return subprocess.run(["xdotool", *args], env=self.env, capture_output=True, text=True)

    def running(self):
        return self.proc.poll() is None

    def stderr(self):
        return self.err_path.read_text(errors="replace")

    def find_window(self, title="^Vantor$"):
        """The id of the visible window whose title matches the pattern, or None."""
        found = self.xdotool("search", "--onlyvisible", "--name", title).stdout.split()
        return found[0] if found else None

    def wait_window(self, timeout=20, title="^Vantor$"):
        def check():
            if not self.running():
                raise Failure(f"the game ended (code {self.proc.returncode}) before showing its window; "
                              f"stderr: {self.stderr()}")
            return self.find_window(title)
        self.window = poll(f"a window titled {title}", check, timeout)
        return self.window

    def caption(self):
        return self.xdotool("getwindowname", self.window).stdout.rstrip("\n")

    def key(self, name):
        done = self.xdotool("key", "--window", self.window, name)
        if done.returncode != 0:
            raise Failure(f"xdotool could not press {name}: {done.stderr}")

    def screenshot(self):
        """The window's content as a 600 x 460 RGB picture."""
        shot = subprocess.run(["import", "-silent", "-window", self.window, "-depth", "8", "ppm:-"],
                              env=self.env, capture_output=True)
        if shot.returncode != 0 or not shot.stdout:
            raise Failure(f"cannot take a picture of the window: {shot.stderr.decode(errors='replace')}")
        image = Image.open(BytesIO(shot.stdout)).convert("RGB")
        if image.size != (WIDTH, HEIGHT):
            raise Failure(f"the window's picture is {image.size}, not {WIDTH} x {HEIGHT}")
        return image

    def click(self, x, y, repeat=1):
        """A left click at client coordinates, as the mouse makes it: press, then release."""
        done = self.xdotool("mousemove", "--window", self.window, str(x), str(y),
                            "click", "--repeat", str(repeat), "--delay", "10", "1")
        if done.returncode != 0:
            raise Failure(f"xdotool could not click at ({x}, {y}): {done.stderr}")

    def close(self):
        """Asks the window to close, as the close button of a window manager does."""
        subprocess.run([self.close_helper, self.window], env=self.env, check=True)

    def wait_exit(self, timeout=15):
        try:
            return self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            raise Failure(f"the game is still running {timeout} s after it was asked to close")

    def stop(self):
        stop_process(self.proc)


# ---- online play ----

def free_port():
    """A TCP port free on the loopback, for a server the test starts."""
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Certificates:
    """A certificate authority of the test's own and a certificate it signed for 127.0.0.1, made in
    folder by the openssl command: ca, cert and key are their files, spki the base64 SHA-256 of the
    certificate's public key, by which a browser can be told to trust it."""

    def __init__(self, folder):
        folder = Path(folder)
        folder.mkdir(parents=True, exist_ok=True)
        self.ca, self.cert, self.key = folder / "ca.pem", folder / "server.pem", folder / "server.key"
        (folder / "san.ext").write_text("subjectAltName=IP:127.0.0.1\n")
        new_key = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"]
        for command in (
                ["req", "-x509", *new_key, "-keyout", "ca.key", "-out", "ca.pem", "-days", "2", "-subj", "/CN=test-ca"],
                ["req", *new_key, "-keyout", "server.key", "-out", "server.csr", "-subj", "/CN=127.0.0.1"],
                ["x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key", "-CAcreateserial",
                 "-days", "2", "-extfile", "san.ext", "-out", "server.pem"]):
            subprocess.run(["openssl", *command], cwd=folder, check=True, capture_output=True, timeout=30)
        public = subprocess.run(["openssl", "x509", "-pubkey", "-noout", "-in", "server.pem"], cwd=folder,
                                check=True, capture_output=True, timeout=30).stdout
        der = subprocess.run(["openssl", "pkey", "-pubin", "-outform", "der"], input=public, check=True,
                             capture_output=True, timeout=30).stdout
        self.spki = base64.b64encode(hashlib.sha256(der).digest()).decode()


class Tab:
    """A tab of the browser build in headless Chromium, through tests/web/online_page.mjs, which
    ends by itself after `seconds`; `trust` is a certificate's spki for a page served over https."""

    def __init__(self, site, log, seconds=240, trust=None):
        page = Path(__file__).resolve().parents[1] / "web" / "online_page.mjs"
        command = ["node", str(page), "--site", str(site), "--seconds", str(seconds)]
        if trust:
            command += ["--trust", trust]
        self.proc = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=log, text=True)

    def ask(self, op, **fields):
        self.proc.stdin.write(json.dumps({"op": op, **fields}) + "\n")
        self.proc.stdin.flush()
        answer = json.loads(self.proc.stdout.readline() or '{"error": "the tab has ended"}')
        if "error" in answer:
            raise Failure(f"the tab, asked to {op}: {answer['error']}")
        return answer

    def caption(self):
        return self.ask("title")["title"]

    def click(self, x, y):
        self.ask("click", x=x, y=y)

    def picture(self, path):
        """The canvas's 600 x 460 pixels, through a file at path."""
        self.ask("shot", path=str(path))
        return Image.open(path).convert("RGB")

    def stop(self):
        if self.proc.poll() is None:
            self.proc.stdin.close()
            try:
                self.proc.wait(15)
            except subprocess.TimeoutExpired:
                stop_process(self.proc)


# ---- vantor-sim ----

class Sim:
    """Runs vantor-sim scripts over a directory and returns what their queries printed."""

    def __init__(self, path, workdir, tmp, run_as=()):
        self.path = path
        self.workdir = Path(workdir)
        self.script = Path(tmp) / "sim-script.sim"
        self.run_as = list(run_as)

    def run(self, lines, seed=None):
        """The JSON values that `state`, `units` and `shots` printed, in order."""
        self.script.write_text("\n".join(lines) + "\n")
        args = self.run_as + [self.path, "--dir", str(self.workdir)]
        if seed is not None:
            args += ["--seed", str(seed)]
        done = subprocess.run(args + [str(self.script)], capture_output=True, text=True, errors="replace")
        if done.returncode != 0:
            raise Failure(f"vantor-sim failed with code {done.returncode}: {done.stderr.strip()}")
        return [json.loads(line) for line in done.stdout.splitlines() if line[:1] in "[{"]

    def pictures(self, lines, seed=None, directory=None):
        """Runs a script whose `screenshot` commands name files in directory; returns the values
        printed and the pictures, in order."""
        values = self.run(lines, seed)
        shots = [line.split(None, 1)[1] for line in lines if line.startswith("screenshot ")]
        return values, [Image.open(Path(directory or self.workdir) / name).convert("RGB") for name in shots]


# ---- replays ----

REPLAY_NAME = re.compile(r"\d{4}-\d\d-\d\d-\d{6}(-\d+)?-(?P<map>\w+)\.vrp")


def replay_folder(home):
    """Where the game keeps its replays under the environment game_environment gives it."""
    return Path(home) / ".local/share/vantor/replays"


def kept_replay(home, map_name):
    """The one replay file the game kept, named by its time and map; fails on none or more."""
    folder = replay_folder(home)
    files = sorted(p.name for p in folder.iterdir()) if folder.is_dir() else []
    if len(files) != 1:
        raise Failure(f"{folder} holds {files}, not one replay")
    match = REPLAY_NAME.fullmatch(files[0])
    if not match or match["map"] != map_name:
        raise Failure(f"the replay is named {files[0]!r}, not YYYY-mm-dd-HHMMSS-{map_name}.vrp")
    return folder / files[0]


def check_replay(sim, path, workdir):
    """Plays a replay in vantor-sim with every recorded hash checked. Returns its final state and its
    number of ticks; fails unless every hash matches."""
    done = subprocess.run([sim, "--replay", str(path), "--check"], cwd=workdir, capture_output=True, text=True,
                          errors="replace", timeout=120)
    lines = done.stdout.splitlines()
    if done.returncode != 0 or len(lines) != 4 or not re.fullmatch(r"check: \d+ hashes match", lines[3]):
        raise Failure(f"vantor-sim --replay {path.name} --check ended with code {done.returncode}: "
                      f"{(done.stdout + done.stderr).strip()[-600:]}")
    return json.loads(lines[0]), int(lines[1].split()[1])


# ---- waits on the window ----

def wait_for_picture(game, art, what, expected, timeout, box=None, masks=()):
    """Polls the window until box of it, the masks left out, equals the expected picture, and returns
    the window's picture; saves both pictures and their difference when it never does."""
    last = [None]

    def check():
        last[0] = game.screenshot()
        return differing(last[0], expected, box, masks) == 0

    try:
        poll(what, check, timeout)
    except Failure:
        art.mismatch(what.replace(" ", "-"), masked(last[0], box, masks), masked(expected, box, masks))
        raise Failure(f"the window never showed {what}: {differing(last[0], expected, box, masks)} pixels "
                      f"differ from vantor-sim's picture")
    art.save(what.replace(" ", "-"), last[0])
    return last[0]


def click_until(game, art, what, point, expected, timeout, box=None):
    """Clicks at point until the window shows the expected picture: for a control that takes a click
    only from some moment on, such as the intro."""
    def click_and_look():
        game.click(*point)
        try:
            return poll(what, lambda: differing(game.screenshot(), expected, box) == 0, 0.6)
        except Failure:
            return False
    try:
        poll(what, click_and_look, timeout, 0)
    except Failure:
        shown = game.screenshot()
        art.mismatch(what.replace(" ", "-"), masked(shown, box), masked(expected, box))
        raise
