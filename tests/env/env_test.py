#!/usr/bin/python3
"""The real game in bad environments and on bad map files: each gets a clear message or a safe
refusal, never a crash or a hang, and the game goes on.

    env_test.py CASE --vantor VANTOR --sim VANTOR_SIM --close X_CLOSE_WINDOW --maps DIR --artefacts DIR

CASE is one of: no_display, no_audio, display_depth, unreadable_directory, bad_map_files, many_maps,
long_map_names.
The title screens the window shows are compared pixel for pixel with vantor-sim's pictures after
the same clicks, in the same directory, as the same user. Refusals that vantor-sim's scenarios and
the unit tests already cover in-process (an empty, truncated or wrong-sized picture, a folder, a
missing territory colour or sea) are not repeated here, except one in the real window.
The pictures of a failed case stay in the artefacts directory.
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path

from PIL import Image, ImageChops

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "e2e"))
from vantorx import (MAP_BOX, PANEL_BOX, Artefacts, Failure, Game, Sim, XServer,  # noqa: E402
                     click_until, differing, game_environment, poll, wait_for_picture)

INTRO = (300, 200)
PREVIOUS_MAP = (167, 207)
NEXT_MAP = (427, 207)
START = (377, 342)
NOBODY = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"]


def lines_of(text):
    return [line for line in text.splitlines() if line.strip()]


class Case:
    """One bad environment: a private X server, the game in a directory, vantor-sim beside it."""

    def __init__(self, args, tmp):
        self.args = args
        self.tmp = Path(tmp)
        self.art = Artefacts(args.artefacts)
        self.x = None
        self.game = None
        self.home = self.make_dir("home")
        # Pictures that vantor-sim writes, also when it runs as another user.
        self.pictures = self.make_dir("pictures", 0o777)

    def make_dir(self, name, mode=0o755):
        path = self.tmp / name
        path.mkdir()
        path.chmod(mode)
        return path

    def as_other_user(self):
        """Runs as nobody when the tests run as root, where permissions do not bite; as itself
        otherwise. None when that is not possible."""
        if os.geteuid() != 0:
            return []
        return NOBODY if shutil.which("setpriv") else None

    def x_server(self):
        if not self.x:
            self.x = XServer(self.tmp)
        return self.x

    def launch(self, workdir, run_as=(), sim_dir=None, **env_changes):
        """Starts the game in workdir, run_as the command that runs it (another user, a shell), and
        vantor-sim to compare it with over sim_dir (workdir unless said), as the same user."""
        env = game_environment(self.home, self.x_server().display)
        # Each start from the default options, as vantor-sim has them, with a settings folder of its
        # own that the other user may write as well.
        self.launches = getattr(self, "launches", 0) + 1
        env["XDG_CONFIG_HOME"] = str(self.make_dir(f"config-{self.launches}", 0o777))
        # And a folder for the replay it keeps, likewise.
        env["XDG_DATA_HOME"] = str(self.make_dir(f"data-{self.launches}", 0o777))
        env.update(env_changes)
        self.game = Game(self.args.vantor, workdir, env, self.tmp, self.args.close, run_as)
        self.game.wait_window()
        user = run_as if run_as and run_as[0] == "setpriv" else ()
        self.sim = Sim(self.args.sim, sim_dir or workdir, self.tmp, user)

    def sim_pictures(self, lines):
        """Runs lines in vantor-sim; `shot NAME` lines become screenshots, which it returns."""
        script = []
        for line in lines:
            if line.startswith("shot "):
                picture = self.pictures / (line[5:] + ".bmp")
                # Made anew by whichever user vantor-sim runs as.
                picture.unlink(missing_ok=True)
                line = f"screenshot {picture}"
            script.append(line)
        return self.sim.pictures(script)[1]

    def to_title(self):
        """Waits out the intro and clicks to the title; returns the clicks so far for vantor-sim."""
        lines = ["tick 20", f"click {INTRO[0]} {INTRO[1]}"]
        intro, title = self.sim_pictures(["tick 20", "shot intro", lines[1], "shot title"])
        wait_for_picture(self.game, self.art, "the intro", intro, 10)
        click_until(self.game, self.art, "the title", INTRO, title, 10)
        return lines

    def click(self, lines, point, what, repeat=1):
        """Clicks in the window and checks its title screen against vantor-sim's after the same click."""
        lines += [f"click {point[0]} {point[1]}"] * repeat
        (expected,) = self.sim_pictures(lines + ["shot expected"])
        self.game.click(*point, repeat=repeat)
        wait_for_picture(self.game, self.art, what, expected, 5 + repeat * 0.05)

    def start_and_play(self):
        """The start control on a good map: units are placed and play begins."""
        before = self.game.screenshot()
        self.game.click(*START)
        poll("placement after the start control", lambda: differing(self.game.screenshot(), before, MAP_BOX) > 50000, 10)
        shown = poll("the panel of a game",
                     lambda: (lambda p: p if differing(p, before, PANEL_BOX) > 0 else None)(self.game.screenshot()), 15)
        self.art.save("play", shown)

    def close(self, expected_stderr):
        """Closes the window: code 0, and standard error holds exactly the expected lines (patterns)."""
        self.game.close()
        code = self.game.wait_exit(15)
        got = lines_of(self.game.stderr())
        if code != 0:
            raise Failure(f"the game ended with code {code}; stderr: {got}")
        check_lines(got, expected_stderr)

    def finish(self):
        if self.game:
            self.art.text("game-stderr.txt", self.game.stderr())
            self.game.stop()
        if self.x:
            self.x.stop()


def check_lines(got, patterns):
    if len(got) != len(patterns) or not all(re.fullmatch(p, line) for p, line in zip(patterns, got)):
        raise Failure(f"standard error is {got}, expected lines matching {patterns}")


def run_alone(argv, env, cwd, timeout=10):
    """Runs the game with no window expected; fails on a hang."""
    try:
        done = subprocess.run(argv, env=env, cwd=cwd, capture_output=True, timeout=timeout, stdin=subprocess.DEVNULL)
    except subprocess.TimeoutExpired:
        raise Failure(f"the game was still running after {timeout} s")
    return done.returncode, lines_of(done.stderr.decode(errors="replace"))


# ---- the cases ----

def no_display(case):
    """Without a usable display the game says so and exits with code 1 at once. (No display at all
    and a display number with no server behind it are the smoke tests' no_display.)"""
    ours = r"vantor: no display available \(.+\)"
    base = game_environment(case.home, ":0")
    for name in ("DISPLAY", "WAYLAND_DISPLAY", "SDL_VIDEODRIVER"):
        base.pop(name, None)
    runtime = case.make_dir("runtime", 0o700)
    cases = [
        ("a video driver that does not exist", {"SDL_VIDEODRIVER": "nonexistent"}, True),
        ("a Wayland display with nothing behind it", {"WAYLAND_DISPLAY": "wayland-vantor-none",
                                                       "XDG_RUNTIME_DIR": str(runtime)}, True),
        # libwayland prints a line of its own about the missing runtime directory.
        ("a Wayland display and no runtime directory", {"WAYLAND_DISPLAY": "wayland-vantor-none"}, False),
    ]
    if shutil.which("xauth") and shutil.which("mcookie"):
        cases.append(("an X server that refuses the connection", refusing_server(case), False))
    for what, changes, alone in cases:
        env = dict(base, **changes)
        if not alone:
            env.pop("XDG_RUNTIME_DIR", None)
        code, err = run_alone([case.args.vantor], env, case.home)
        if code != 1:
            raise Failure(f"{what}: exit code {code}, not 1; stderr: {err}")
        if alone:
            check_lines(err, [ours])
        elif not err or not re.fullmatch(ours, err[-1]):
            raise Failure(f"{what}: the last line of stderr is not ours: {err}")
        print(f"ok: {what}: {err}")
    # Started from a desktop launcher with standard error closed: still code 1, no crash.
    env = dict(base)
    done = subprocess.run([case.args.vantor], env=env, cwd=case.home, stderr=subprocess.DEVNULL,
                          stdout=subprocess.DEVNULL, stdin=subprocess.DEVNULL, timeout=10,
                          preexec_fn=lambda: os.close(2))
    if done.returncode != 1:
        raise Failure(f"with standard error closed: exit code {done.returncode}, not 1")
    print("ok: no display and standard error closed")


def refusing_server(case):
    """A second Xvfb that wants a cookie the game does not have."""
    cookies = case.tmp / "xauthority"
    cookie = subprocess.run(["mcookie"], capture_output=True, text=True, check=True).stdout.strip()
    # The server takes every cookie in its file, whatever display the entry names.
    subprocess.run(["xauth", "-q", "-f", str(cookies), "add", ":0", ".", cookie], check=True,
                   stderr=subprocess.DEVNULL)
    case.refusing = XServer(case.tmp, "-auth", str(cookies))
    return {"DISPLAY": case.refusing.display, "XAUTHORITY": str(case.tmp / "no-such-file")}


def no_audio(case):
    """Without a sound device the game says so in one line and plays on, silently."""
    drivers = ["nonexistent"]
    # Without a sound card, ALSA itself is the missing device.
    if not Path("/dev/snd").exists():
        drivers.append("alsa")
    for driver in drivers:
        workdir = case.make_dir(f"run-{driver}")
        case.launch(workdir, SDL_AUDIODRIVER=driver)
        lines = case.to_title()
        case.click(lines, (167, 252), f"fewer cities without sound ({driver})")
        case.start_and_play()
        case.close([r"vantor: no audio device, playing silently \(.+\)"])
        print(f"ok: SDL_AUDIODRIVER={driver}: {case.game.stderr().strip()}")


def display_depth(case):
    """Displays of fewer colours. On 16 bits the game runs and shows its pictures as near as the
    display allows; on 8 bits it must still run and close cleanly, whatever it shows."""
    workdir = case.make_dir("run")
    case.x = XServer(case.tmp, depth=16)
    case.launch(workdir)
    intro, title = case.sim_pictures(["tick 20", "shot intro", f"click {INTRO[0]} {INTRO[1]}", "shot title"])

    def near(picture):
        # 5 bits of red and blue, 6 of green: each channel within two steps of 5 bits of the picture.
        extrema = ImageChops.difference(case.game.screenshot(), picture).getextrema()
        return max(high for _, high in extrema) < 16

    def title_after_click():
        # Clicks count from the intro's twentieth tick.
        case.game.click(*INTRO)
        time.sleep(0.3)
        return near(title)

    poll("the intro in 16-bit colour", lambda: near(intro), 10)
    poll("the title in 16-bit colour after a click on the intro", title_after_click, 10, 0)
    case.start_and_play()
    case.close([])
    print("ok: a 16-bit display")
    case.x.stop()

    case.x = XServer(case.tmp, depth=8)
    case.launch(workdir)
    time.sleep(2.5)
    case.game.click(*INTRO)
    time.sleep(1)
    if not case.game.running():
        raise Failure(f"the game ended on an 8-bit display; stderr: {case.game.stderr()}")
    case.close([])
    print("ok: an 8-bit display: the game runs and closes cleanly")


def unreadable_directory(case):
    """A working directory that is gone, or that the player may not read: the built-in maps only,
    and a game on them."""
    gone = case.make_dir("gone")
    # The shell removes its own working directory, then becomes the game.
    case.launch(gone, ["sh", "-c", 'rmdir "$PWD" && exec "$0"'], sim_dir=case.make_dir("empty"))
    case.to_title()
    case.start_and_play()
    case.close([])
    print("ok: a working directory removed before the start")

    run_as = case.as_other_user()
    if run_as is None:
        print("skipped: no read permission (root without setpriv)")
        return
    closed = case.make_dir("closed", 0o755)
    for ext in ("map", "tac"):
        shutil.copy(Path(case.args.maps) / f"World.{ext}", closed / f"Hidden.{ext}")
    # Anyone may enter, no one may list.
    closed.chmod(0o111)
    case.launch(closed, run_as)
    case.to_title()
    case.start_and_play()
    case.close([r"vantor: cannot list the maps in this directory \(Permission denied\); built-in maps only"])
    print(f"ok: a working directory without read permission: {case.game.stderr().strip()}")


def bad_map_files(case):
    """Map files a player's directory may hold that the loader must refuse in the real window: a link
    to nowhere, a link to itself, a territory picture that is a device, a picture the player may not
    read, and a PNG renamed. The game refuses each with its line and then plays on the World map."""
    run_as = case.as_other_user()
    maps = case.make_dir("maps")
    world = Path(case.args.maps)

    def pair(name, map_bytes=None):
        for ext in ("map", "tac"):
            shutil.copy(world / f"World.{ext}", maps / f"{name}.{ext}")
        if map_bytes is not None:
            (maps / f"{name}.map").write_bytes(map_bytes)

    (maps / "Ghost.old.map").write_bytes(b"")
    (maps / "Ghost.map").symlink_to("nowhere.bmp")
    (maps / "Loop.x.map").write_bytes(b"")
    (maps / "Loop.map").symlink_to("Loop.map")
    pair("Zero")
    (maps / "Zero.tac").unlink()
    (maps / "Zero.tac").symlink_to("/dev/zero")
    png = case.tmp / "picture.png"
    Image.open(world / "World.map").save(png)
    pair("Png", png.read_bytes())
    expected = [("Ghost", "GHOST.MAP MISSING"), ("Loop", "LOOP.MAP CANNOT BE READ"),
                ("Png", "PNG.MAP IS NOT A BMP")]
    if run_as is not None:
        pair("Secret")
        (maps / "Secret.map").chmod(0)
        expected.append(("Secret", "SECRET.MAP CANNOT BE READ"))
    expected.append(("Zero", "ZERO.TAC CANNOT BE READ"))

    case.launch(maps, run_as or [])
    lines = case.to_title()
    for i, (name, _) in enumerate(expected):
        if i:
            case.click(lines, NEXT_MAP, f"the title on {name}")
        case.click(lines, START, f"the refusal of {name}")
    # The first built-in map follows the files.
    case.click(lines, NEXT_MAP, "the title on World")
    case.start_and_play()
    case.close([re.escape(f"vantor: map {name} refused: {why}") for name, why in expected])
    print(f"ok: {len(expected)} map files refused, then a game on World")


def many_maps(case):
    """200 map files: the first 150 are listed, the arrows stop at the last, and it plays."""
    maps = case.make_dir("maps")
    for i in range(200):
        (maps / f"m{i:03d}.map").write_bytes(b"")
    for ext in ("map", "tac"):
        shutil.copy(Path(case.args.maps) / f"World.{ext}", maps / f"m149.{ext}")
    started = time.monotonic()
    case.launch(maps)
    lines = case.to_title()
    print(f"title {time.monotonic() - started:.1f} s after the launch")
    # Every map after the first, and one click more that the last refuses.
    case.click(lines, NEXT_MAP, "the title on the last map", repeat=150)
    case.start_and_play()
    case.close([])
    print("ok: 200 map files, 150 listed, the last one played")


def long_map_names(case):
    """Names with bytes the font lacks, dots, and 100 characters: drawn as the font allows, a name cut
    to fit the list refused with a line, and a game on a name that is not ASCII."""
    maps = case.make_dir("maps")
    world = Path(case.args.maps)
    # 100 bytes before the first dot: UTF-8 letters, a pound sign, a Latin-1 byte.
    long_name = ("\u00dcnic\u00f6de \u00a3 L\u00e4nder " * 5).encode() + b"\xe9"
    long_name = long_name[:100]
    short = "\u00c9t\u00e9".encode()     # Été, a pair that plays
    dotted = short + b".2024.final.v2." + b"x" * (100 - len(short) - 19) + b".map"
    files = {b"Caf\xe9.map": "map", b"Caf\xe9.tac": "tac", short + b".map": "map", short + b".tac": "tac",
             dotted: "map", long_name + b".v1.2.map": "map", long_name + b".v1.2.tac": "tac"}
    for name, ext in files.items():
        shutil.copy(world / f"World.{ext}", os.path.join(os.fsencode(maps), name))
    case.launch(maps)
    lines = case.to_title()
    case.click(lines, NEXT_MAP, "the title on Ete")
    # The long file name with dots lists as Ete too: the two files name the same pair.
    case.click(lines, NEXT_MAP, "the title on Ete from the dotted file")
    case.click(lines, NEXT_MAP, "the title on the long name")
    case.click(lines, START, "the refusal of the long name")
    case.click(lines, PREVIOUS_MAP, "the title on Ete again")
    case.start_and_play()
    case.close([r"vantor: map .* refused: MAP FILE MISSING"])
    # The line names the map as listed: its first 49 bytes.
    line = case.game.err_path.read_bytes().splitlines()[0]
    if line != b"vantor: map " + long_name[:49] + b" refused: MAP FILE MISSING":
        raise Failure(f"the refusal does not name the cut map: {line}")
    print("ok: names with dots and other bytes listed, cut, refused and played")


CASES = {f.__name__: f for f in (no_display, no_audio, display_depth, unreadable_directory, bad_map_files,
                                 many_maps, long_map_names)}


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("case", choices=sorted(CASES))
    parser.add_argument("--vantor", required=True)
    parser.add_argument("--sim", required=True)
    parser.add_argument("--close", required=True)
    parser.add_argument("--maps", required=True, help="the folder of the built-in maps' files")
    parser.add_argument("--artefacts", required=True)
    args = parser.parse_args()
    with tempfile.TemporaryDirectory(prefix=f"vantor-env-{args.case}.") as tmp:
        Path(tmp).chmod(0o755)
        case = Case(args, tmp)
        try:
            CASES[args.case](case)
        except Failure as failure:
            print(f"FAIL ({args.case}): {failure}\nThe pictures of this run are in {case.art.dir}", file=sys.stderr)
            return 1
        finally:
            case.finish()
            if getattr(case, "refusing", None):
                case.refusing.stop()
            # A directory left unreadable would stop its own removal.
            for path in Path(tmp).rglob("*"):
                if path.is_dir() and not path.is_symlink():
                    path.chmod(0o755)
        case.art.discard()
    print("PASS")
    return 0


if __name__ == "__main__":
    sys.exit(main())
