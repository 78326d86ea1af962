#!/usr/bin/python3
"""A game of four sides played in the real window is kept as a replay, and the replay plays back.

    replay_test.py --vantor VANTOR --sim VANTOR_SIM --close X_CLOSE_WINDOW --artefacts DIR

Under a private Xvfb the game is started in an empty directory. The test clicks through to the
title, makes sides 1 to 3 computers, starts a game on the default map and turns fast play on with
the F key. On Red's turn (side 0, the person) it selects a launcher, aims it and fires; it lets the
computers play until the turn comes back to Red, aborts, waits for the title and closes the window.
Where the units are comes from vantor-sim run with the seed the window's map shows, as in
play_test.py.

The game must then have kept exactly one replay, of a finished game of four sides on World, which
`vantor-sim --replay FILE --check` plays to the same hashes. `vantor --replay FILE` must show the
recorded game's map, run at four times its speed after a click on the map, name the game in its
caption (World and the file's date) without ever offering fast play, say when the replay is over,
and close with code 0 and a silent standard error at the first click on Abort, with the title's
result line showing. A copy of the file cut in half must be refused with one line on standard error
and code 1, before any window opens.

The pictures of the run stay in DIR when the test fails.
"""
import argparse
import math
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from play_test import ABORT, FIRE, INTRO, START, centre, dial_click, power_click, selects  # noqa: E402
from vantorx import (MAP_BOX, PANEL_BOX, Artefacts, Failure, Game, Sim, XServer, check_replay,  # noqa: E402
                     click_until, cursor_rect, differing, game_environment, kept_replay, poll,
                     replay_folder, stop_process, wait_for_picture)

# Player boxes 1, 2 and 3, each once from a person to the computer.
BOXES = [(197, 342), (227, 342), (257, 342)]
PREFIX = ["tick 20", f"click {INTRO[0]} {INTRO[1]}"] + [f"click {x} {y}" for x, y in BOXES] + \
         [f"click {START[0]} {START[1]}", "until 2"]
RED_TO_FIRE = re.compile(r"Vantor - Red to fire\b")


def replay_header(path):
    """The map, sides, computer sides and finished flag a replay file names in its header."""
    data = Path(path).read_bytes()
    if data[:8] != b"VANTORRP":
        raise Failure(f"{path.name} does not start as a replay")
    size = data[12]
    name = data[13:13 + size].decode(errors="replace")
    builtin, _, players, computer, finished = struct.unpack_from("<BQBBB", data, 13 + size)
    return name, builtin, players, computer, finished


def aim(state, units):
    """A loaded launcher of Red that a click selects, and the dial and bar clicks that point it at the
    nearest unit of another side. Where the missile lands does not matter to this test."""
    best = None
    for unit in units:
        if unit["side"] != 0 or unit["flag"] not in (2, 3) or unit["ammo"] == 0 or unit["slot"] == state["cur_unit"]:
            continue
        start = centre(unit)
        if not selects(units, 0, start, unit):
            continue
        for target in units:
            if target["side"] in (0, 4):
                continue
            tx, ty = centre(target)
            distance = math.hypot(tx - start[0], ty - start[1])
            if best is None or distance < best[0]:
                bearing = math.degrees(math.atan2(tx - start[0], start[1] - ty)) % 360
                power = max(2, min(98, 2 * round(distance / 6)))
                best = (distance, unit, dial_click(bearing), power_click(power))
    if best is None:
        raise Failure("Red has no loaded launcher that a click selects")
    return best[1:]


class ReplayTest:
    def __init__(self, args, tmp):
        self.args = args
        self.tmp = Path(tmp)
        self.art = Artefacts(args.artefacts)
        self.workdir, self.home, self.simdir = self.tmp / "run", self.tmp / "home", self.tmp / "sim"
        for d in (self.workdir, self.home, self.simdir, self.tmp / "game", self.tmp / "replay"):
            d.mkdir()
        self.sim = Sim(args.sim, self.simdir, self.tmp)
        self.x = None
        self.game = None

    def log(self, message):
        print(f"[{time.monotonic() - self.t0:5.1f} s] {message}", flush=True)

    def shots(self, lines, seed=None):
        """Runs lines in vantor-sim; `shot NAME` lines become screenshots. Returns values, pictures."""
        script = [f"screenshot {self.simdir / (line[5:] + '.bmp')}" if line.startswith("shot ") else line
                  for line in lines]
        return self.sim.pictures(script, seed)

    def wait_caption(self, what, test, timeout):
        last = [""]

        def check():
            if not self.game.running():
                raise Failure(f"the game ended (code {self.game.proc.returncode}) waiting for {what}; "
                              f"stderr: {self.game.stderr()}")
            last[0] = self.game.caption()
            return test(last[0])
        try:
            poll(what, check, timeout, 0.1)
        except Failure:
            if not self.game.running():
                raise
            self.art.save(what.replace(" ", "-"), self.game.screenshot())
            raise Failure(f"the caption never showed {what}; it says {last[0]!r}")
        return last[0]

    # ---- the game in the window ----

    def play(self):
        self.x = XServer(self.tmp)
        self.env = game_environment(self.home, self.x.display)
        # Now and then Red is out before its first turn: the game is closed, and the next one has
        # another seed.
        for _ in range(3):
            started = self.start_game()
            plan = self.plan_red_turn()
            if plan:
                break
            self.log("Red cannot fire in its first turn on this seed: closing for a game on another seed")
            self.game.close()
            self.game.wait_exit(15)
            # The next game starts from a fresh home: no settings, no replay.
            shutil.rmtree(self.home)
            self.home.mkdir()
        else:
            raise Failure("Red could not fire in its first turn in three games")
        self.red_turn(*plan)
        caption = self.wait_caption("the turn back to Red", lambda c: RED_TO_FIRE.match(c) or "Red out" in c, 90)
        self.log(f"the computers played: {caption!r}")

        self.game.click(*ABORT)
        self.wait_caption("the title", lambda c: c == "Vantor", 25)
        self.duration = time.monotonic() - started
        self.game.close()
        code = self.game.wait_exit(15)
        if code != 0 or self.game.stderr().strip():
            raise Failure(f"the game ended with code {code}; stderr: {self.game.stderr().strip()}")
        self.log(f"aborted, back on the title and closed: the game took {self.duration:.1f} s")

    def start_game(self):
        """Starts the game, sets up four sides, starts play with fast play on and finds the seed.
        Returns the time of the start."""
        seed_from = int(time.time())
        self.game = Game(self.args.vantor, self.workdir, self.env, self.tmp / "game", self.args.close)
        self.game.wait_window()
        boxes = []
        for i, (x, y) in enumerate(BOXES):
            boxes += [f"click {x} {y}", f"shot box{i}"]
        _, (intro, title, *titles) = self.shots(["tick 20", "shot intro", f"click {INTRO[0]} {INTRO[1]}",
                                                 "shot title"] + boxes)
        wait_for_picture(self.game, self.art, "the intro", intro, 10)
        seed_to = int(time.time())
        click_until(self.game, self.art, "the title", INTRO, title, 10)
        for i, ((x, y), picture) in enumerate(zip(BOXES, titles)):
            self.game.click(x, y)
            wait_for_picture(self.game, self.art, f"the title with box {i + 1} a computer", picture, 5)
        self.log("title: Red a person, Blue, Yellow and Green computers")

        self.game.click(*START)
        started = time.monotonic()

        def playing():
            shown = self.game.screenshot()
            return shown if differing(shown, titles[-1], PANEL_BOX) else None
        shown = poll("the panel of a game", playing, 15)
        self.game.key("f")
        self.wait_caption("fast play", lambda c: "fast play" in c, 5)

        # The seed is the clock's seconds at start-up: the one with which vantor-sim's map is the window's.
        for second in range(seed_from - 1, seed_to + 1):
            (state, units), (picture,) = self.shots(PREFIX + ["state", "units", "shot begin"], second & 0xFFFF)
            cursor = [cursor_rect(next(u for u in units if u["slot"] == state["cur_unit"]))]
            if differing(shown, picture, MAP_BOX, cursor) == 0:
                self.seed, self.begin, self.begin_masks = second & 0xFFFF, picture, cursor
                self.log(f"play began on seed {self.seed}; fast play on")
                return started
        self.art.save("play-begins", shown)
        raise Failure("no second around the start seeds the map the window shows")

    def plan_red_turn(self):
        """From vantor-sim: the ticks at which Red's first turn comes and the sky is clear in it, or None
        when Red cannot fire in it."""
        values = self.sim.run(PREFIX + ["state cur_player alive", "shots"] + ["tick", "state cur_player alive",
                                                                                "shots"] * 1200, self.seed)
        states, shots = values[0::2], values[1::2]
        red = next((k for k, s in enumerate(states) if s["cur_player"] == 0 and s["alive"][0]), None)
        if red is None:
            return None
        settled = next((k for k in range(red, len(states)) if not shots[k]), None)
        if settled is None:
            raise Failure("in vantor-sim the sky is not clear 1200 ticks into the game")
        # A missile still in the air at the start of Red's turn may put Red out before it clears, or
        # take the unit the cursor is on, or Red's last loaded launcher.
        if states[settled]["cur_player"] != 0 or not states[settled]["alive"][0]:
            return None
        state, units = self.sim.run(PREFIX + [f"tick {settled}", "state", "units"], self.seed)
        if not any(u["slot"] == state["cur_unit"] for u in units):
            return None
        try:
            aim(state, units)
        except Failure:
            return None
        return red, settled

    def red_turn(self, red, settled):
        """Waits for Red's turn with no missile in the air, then selects, aims and fires."""
        (state, units), (turn,) = self.shots(PREFIX + [f"tick {settled}", "state", "units", "shot turn"], self.seed)
        launcher, dial, bar = aim(state, units)
        point = centre(launcher)
        _, (aimed,) = self.shots(PREFIX + [f"tick {settled}"] + [f"click {x} {y}" for x, y in (point, dial, bar)] +
                                 ["shot aimed"], self.seed)

        cursor = [cursor_rect(next(u for u in units if u["slot"] == state["cur_unit"]))]
        self.wait_caption("Red's turn", RED_TO_FIRE.match, settled * 0.1 + 20)
        # A computer's missile may still fly, at the normal pace of a person's turn.
        wait_for_picture(self.game, self.art, "Red's turn with the sky clear", turn, (settled - red) * 0.1 + 20,
                         MAP_BOX, cursor)
        for x, y in (point, dial, bar):
            self.game.click(x, y)
        wait_for_picture(self.game, self.art, "the launcher aimed", aimed, 5, PANEL_BOX)
        self.game.click(*FIRE)
        # A turn passes only at a launch.
        self.wait_caption("the turn passing on", lambda c: "(computer) to fire" in c, 5)
        self.log(f"Red fired {launcher['name']!r} at tick {settled} or later")

    # ---- the replay ----

    def check_file(self):
        self.replay = kept_replay(self.home, "World")
        name, builtin, players, computer, finished = replay_header(self.replay)
        if (name, builtin, players, computer, finished) != ("World", 1, 4, 0b1110, 1):
            raise Failure(f"the replay names map {name!r} (built in: {builtin}), {players} sides, computer "
                          f"sides {computer:04b}, finished {finished}: not the game played")
        final, self.ticks = check_replay(self.args.sim, self.replay, self.simdir)
        if final["num_players"] != 4 or final["cpu_player"] != [False, True, True, True] or final["timer_mode"] != 3:
            raise Failure(f"vantor-sim's replay ends on {final}")
        self.log(f"{self.replay.name}: {self.ticks} ticks, every hash matches in vantor-sim")

    def play_back(self):
        self.game = Game(self.args.vantor, self.workdir, self.env, self.tmp / "replay", self.args.close,
                         args=("--replay", str(self.replay)))
        self.game.wait_window(title="^Vantor")
        wait_for_picture(self.game, self.art, "the recorded map", self.begin, 20, MAP_BOX, self.begin_masks)
        self.game.click(300, 200)
        faster = time.monotonic()
        # The caption names the game (the map, and the date the kept file's name gives) and never offers
        # fast play, which the recorded game had on.
        name = self.replay.name
        label = f"Vantor - replay of World, {name[:10]} {name[11:13]}:{name[13:15]} - "
        captions = set()

        def over(caption):
            captions.add(caption)
            return caption == label + "end of the replay"
        # At four times the pace the rest takes a quarter of the game's time; at the recorded pace, all of it.
        self.wait_caption("the end of the replay within half the game's time", over, self.duration / 2)
        took = time.monotonic() - faster
        # A slow build may also catch the first caption, before the game's own words follow the label.
        wrong = sorted(c for c in captions if not (c.startswith(label) or c + " - " == label) or "fast play" in c)
        if wrong or len(captions) < 3:
            raise Failure(f"the replay's captions do not say {label!r} alone: {sorted(captions)}")
        self.game.click(*ABORT)
        code = self.game.wait_exit(10)
        if code != 0 or self.game.stderr().strip():
            raise Failure(f"the replay ended with code {code}; stderr: {self.game.stderr().strip()}")
        if len(list(replay_folder(self.home).iterdir())) != 1:
            raise Failure("playing a replay kept another replay")
        self.log(f"played back in the window: over {took:.1f} s after the click on the map, closed by Abort")

    def refuse_cut(self):
        cut = self.tmp / "cut.vrp"
        data = self.replay.read_bytes()
        cut.write_bytes(data[:len(data) // 2])
        err = self.tmp / "cut.err"
        with open(err, "wb") as stderr:
            proc = subprocess.Popen([self.args.vantor, "--replay", str(cut)], cwd=self.workdir, env=self.env,
                                    stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=stderr)
        try:
            def ended():
                shown = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^Vantor"], env=self.env,
                                       capture_output=True, text=True).stdout.split()
                if shown:
                    raise Failure("vantor --replay opened a window for a cut file")
                return proc.poll() is not None
            poll("vantor --replay to refuse a cut file", ended, 10)
        finally:
            stop_process(proc)
        lines = err.read_text(errors="replace").splitlines()
        if proc.returncode != 1 or len(lines) != 1 or str(cut) not in lines[0] or "cut short" not in lines[0]:
            raise Failure(f"vantor --replay on a cut file ended with code {proc.returncode}, stderr {lines}")
        self.log(f"a cut file is refused: {lines[0]!r}")

    def keep_replay(self):
        """After a failure, closes the window so that the game keeps its replay, and keeps that too."""
        try:
            if self.game.running() and self.game.window:
                self.game.close()
                self.game.wait_exit(10)
        except (Failure, subprocess.CalledProcessError):
            pass
        if replay_folder(self.home).is_dir():
            for path in replay_folder(self.home).iterdir():
                shutil.copy(path, self.art.dir)

    def run(self):
        self.t0 = time.monotonic()
        try:
            self.play()
            self.check_file()
            self.play_back()
            self.refuse_cut()
        except Failure as failure:
            if self.game:
                self.art.text("game-stderr.txt", self.game.stderr())
                self.keep_replay()
            print(f"FAIL: {failure}\nThe pictures of this run are in {self.art.dir}", file=sys.stderr)
            return 1
        finally:
            if self.game:
                self.game.stop()
            if self.x:
                self.x.stop()
        self.art.discard()
        print(f"PASS in {time.monotonic() - self.t0:.1f} s")
        return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--vantor", required=True)
    parser.add_argument("--sim", required=True)
    parser.add_argument("--close", required=True)
    parser.add_argument("--artefacts", required=True)
    args = parser.parse_args()
    with tempfile.TemporaryDirectory(prefix="vantor-replay.") as tmp:
        return ReplayTest(args, tmp).run()


if __name__ == "__main__":
    sys.exit(main())
