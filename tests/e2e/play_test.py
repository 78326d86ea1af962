#!/usr/bin/python3
"""A whole game in the real window, played with the mouse as a person plays it.

    play_test.py --vantor VANTOR --sim VANTOR_SIM --close X_CLOSE_WINDOW --artefacts DIR

Under a private Xvfb the game is started in an empty directory. The test waits out the intro,
clicks through to the title, makes side 1 a computer, takes one city away and adds a pair of
silos, and starts a game on the default map. It selects a silo of the side to play by clicking it,
aims it with the dial and the power bar at a unit of another side, fires, watches the missile fly
and explode, aborts the game, waits for the game-over lettering and the title, and closes the
window, which must end the game with code 0, with nothing on its standard error and nothing written
to its directory or home but the settings file, which holds the options the game was started with,
and the replay of the game, which vantor-sim must play back with every recorded hash matching. With
--valgrind the game runs under memcheck, and any memory error or leak makes its exit code 1.

What the window must show comes from vantor-sim given the same clicks. The intro and the title
screens do not depend on the random numbers and must equal its pictures pixel for pixel. The game
does: the clock seeds it when it starts (the seed is the time in seconds), so the seconds around
the start are tried as seeds in vantor-sim until one gives exactly the map the window shows. From
then on vantor-sim says where the units are, what the panel shows after each click, and every
tick of the missile's flight, and each picture of the window must be one of those ticks.

The pictures of the run stay in DIR when the test fails.
"""
import argparse
import math
import re
import shutil
import sys
import tempfile
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from vantorx import (CLOSEUP_BOX, MAP_BOX, PANEL_BOX, Artefacts, Failure, Game, Sim, XServer,  # noqa: E402
                     check_replay, click_until, cursor_rect, differing, game_environment, kept_replay, masked,
                     overlaps, poll, wait_for_picture)

# Where a person clicks, in client coordinates.
INTRO = (300, 200)            # anywhere on the intro
TITLE_OPTIONS = [
    ((197, 342), "player box 1, to a computer side"),
    ((167, 252), "one city fewer"),
    ((427, 252), "one more pair of silos"),
]
START = (377, 342)
ABORT = (300, 430)
FIRE = (575, 430)
DIAL_CENTRE = (390, 430)
LETTERING_BOX = (277, 50, 326, 66)
TICK = 0.1

PREFIX = ["tick 20", f"click {INTRO[0]} {INTRO[1]}"] + [f"click {x} {y}" for (x, y), _ in TITLE_OPTIONS] + \
         [f"click {START[0]} {START[1]}", "until 2"]


def dial_click(bearing):
    """The dial pixel whose direction from the centre comes closest to a bearing (0 up, clockwise)."""
    best = None
    for x in range(365, 416):
        for y in range(405, 456):
            dx, dy = x - DIAL_CENTRE[0], y - DIAL_CENTRE[1]
            if dx == 0 and dy == 0:
                continue
            shown = math.degrees(math.atan2(dx, -dy)) % 360
            error = min(abs(shown - bearing), 360 - abs(shown - bearing))
            key = (round(error, 1), -(dx * dx + dy * dy))
            if best is None or key < best[0]:
                best = (key, (x, y))
    return best[1]


def power_click(power):
    """The power bar sets 2 x (455 - y): even powers only."""
    return (540, 455 - power // 2)


def centre(unit):
    return unit["x"] + 4, unit["y"] + 4


def units_by_slot(units):
    return {u["slot"]: u for u in units}


def selects(units, side, point, wanted):
    """Whether a click at point selects wanted: the first unit of the side, in slot order, whose 8 x 8
    hit area holds the point."""
    x, y = point
    for unit in units:
        if unit["side"] == side and unit["x"] < x < unit["x"] + 9 and unit["y"] < y < unit["y"] + 9:
            return unit is wanted
    return False


def flight_box(start, target):
    """Everything a flight from start to target draws: the trail arcs up to 25 pixels above the
    line, and the blast with the icons it may remove lies within 20 pixels of the target."""
    (sx, sy), (tx, ty) = start, target
    left, right = min(sx, tx - 20) - 2, max(sx, tx + 20) + 3
    top, bottom = min(sy, ty) - 28, max(sy + 3, ty + 21)
    return (max(left, 0), max(top, 0), min(right, 600), min(bottom, 400))


def missile_box(missile, start=None):
    """The rectangle a missile in the air draws in: from where it starts (or is) to where it lands,
    with its arc above, its blast and the icons the blast may remove. Across the map's edge, the
    whole width."""
    x, y = start or (missile["curx"] - 1000, missile["cury"])
    tx, ty = missile["xdest"], missile["ydest"]
    if not 0 <= tx < 600 or abs(tx - x) > 300:
        left, right = 0, 600
    else:
        left, right = min(x, tx) - 24, max(x, tx) + 24
    return (left, min(y, ty) - 50, right, max(y, ty) + 24)


def plan_shot(state, units, dangers):
    """A silo of the side to play, and where to click the dial and the bar so that its missile comes
    down on a unit of another side, its flight clear of every danger rectangle. Prefers a target
    that is not a capital, so that no side goes out, then the shortest flight."""
    side = state["cur_player"]
    best = None
    for silo in units:
        if silo["side"] != side or silo["flag"] != 2 or silo["ammo"] == 0 or silo["slot"] == state["cur_unit"]:
            continue
        start = centre(silo)
        if not selects(units, side, start, silo):
            continue
        for target in units:
            if target["side"] in (side, 4):
                continue
            tx, ty = centre(target)
            distance = math.hypot(tx - start[0], ty - start[1])
            power = 2 * round(distance / 6)
            if not 8 <= power <= 40:
                continue
            bearing = math.degrees(math.atan2(tx - start[0], start[1] - ty)) % 360
            box = flight_box(start, (tx, ty))
            if not 24 <= tx <= 575 or not 24 <= ty <= 375 or any(overlaps(box, d) for d in dangers):
                continue
            ticks = max(abs(tx - start[0]), abs(ty - start[1]), 62)
            capital = target["flag"] == 1 and target["supplied"]
            key = (capital, ticks, abs(distance - 3 * power))
            if best is None or key < best[0]:
                best = (key, silo, dial_click(bearing), power_click(power), box, target, ticks)
    if best is None:
        raise Failure("no silo of the side to play can reach a unit of another side with a clear flight")
    return best[1:]


class Flight:
    """vantor-sim's picture of every tick from the fire on, and what each tick is: the missile
    fired, flying, exploding, or down with its trail gone."""

    def __init__(self, slot, box, pictures, states, shots, units, launcher):
        self.slot, self.box, self.pictures, self.states, self.shots = slot, box, pictures, states, shots
        by_slot = units_by_slot(units)
        self.units = by_slot
        # The selection frame blinks out of step with vantor-sim: its squares are left out. So is the
        # launcher's, lit in a picture taken before a slow window has taken the fire.
        self.cursor_masks = sorted({cursor_rect(by_slot[s["cur_unit"]]) for s in states if s["cur_unit"] in by_slot} |
                                   {cursor_rect(launcher)})
        self.ticks_of = {}
        for k, picture in enumerate(pictures):
            self.ticks_of.setdefault(self.key(picture), []).append(k)
        down = [k for k in range(len(pictures)) if self.phase(k) == "down"]
        if not down:
            raise Failure("the missile was still in the air at the end of vantor-sim's frames")
        self.down = down[0]

    def key(self, picture):
        return masked(picture, self.box, self.cursor_masks).tobytes()

    def phase(self, k):
        mine = [s for s in self.shots[k] if s["slot"] == self.slot]
        if k == 0:
            return "fired"
        if not mine:
            return "down"
        return "flying" if mine[0]["size"] == 0 else "exploding"

    def other_missiles(self):
        """The rectangles of every other missile in the air over the flight, from where each was first
        seen."""
        boxes, seen = [], set()
        for shots in self.shots:
            for m in shots:
                if m["slot"] != self.slot and m["slot"] not in seen:
                    seen.add(m["slot"])
                    boxes.append(missile_box(m))
        return boxes


class PlayTest:
    def __init__(self, args, tmp):
        self.args = args
        self.tmp = Path(tmp)
        self.art = Artefacts(args.artefacts)
        self.workdir = self.tmp / "run"
        self.home = self.tmp / "home"
        self.simdir = self.tmp / "sim"
        self.pictures = self.tmp / "pictures"
        for d in (self.workdir, self.home, self.simdir, self.pictures):
            d.mkdir()
        self.sim = Sim(args.sim, self.simdir, self.tmp)
        self.x = None
        self.game = None

    def log(self, message):
        print(f"[{time.monotonic() - self.t0:5.1f} s] {message}", flush=True)

    def wait_for_picture(self, what, expected, timeout, box=None, masks=()):
        return wait_for_picture(self.game, self.art, what, expected, timeout, box, masks)

    def sim_pictures(self, lines, seed=None):
        """Runs lines in vantor-sim; `shot NAME` lines become screenshots. Returns values, pictures."""
        script = [f"screenshot {self.pictures / (line[5:] + '.bmp')}" if line.startswith("shot ") else line
                  for line in lines]
        return self.sim.pictures(script, seed)

    # ---- the steps ----

    def launch(self):
        self.x = XServer(self.tmp)
        env = game_environment(self.home, self.x.display)
        self.seed_from = int(time.time())
        wrapper = []
        if self.args.valgrind:
            # One log per process: the libraries may fork helpers.
            self.valgrind_log = self.tmp / "memcheck.%p.txt"
            wrapper = ["valgrind", "--leak-check=full", "--show-leak-kinds=definite,indirect,possible",
                       "--errors-for-leak-kinds=definite,indirect,possible", "--error-exitcode=1",
                       f"--suppressions={Path(__file__).resolve().parent / 'valgrind.supp'}",
                       f"--log-file={self.valgrind_log}"]
        self.game = Game(self.args.vantor, self.workdir, env, self.tmp, self.args.close, wrapper)
        self.game.wait_window()
        self.log(f"window {self.game.window} on display {self.x.display}")

    def intro_and_title(self):
        option_lines = []
        for i, ((x, y), _) in enumerate(TITLE_OPTIONS):
            option_lines += [f"click {x} {y}", f"shot option{i}"]
        _, (intro, title, *options) = self.sim_pictures(
            ["tick 20", "shot intro", f"click {INTRO[0]} {INTRO[1]}", "shot title"] + option_lines)
        self.wait_for_picture("the intro with all its lines", intro, 10)
        self.seed_to = int(time.time())
        self.log("intro shown")

        # A click is taken from the intro's twentieth tick: click until the title comes.
        click_until(self.game, self.art, "the title after a click on the intro", INTRO, title, 10)
        self.log("title shown")
        for ((x, y), what), picture in zip(TITLE_OPTIONS, options):
            self.game.click(x, y)
            self.wait_for_picture(f"the title after {what}", picture, 5)
        self.title = options[-1]
        self.log("options set")

    def start_game(self):
        self.game.click(*START)
        started = time.monotonic()

        def shown_if(test):
            picture = self.game.screenshot()
            return picture if test(picture) else None

        placing = poll("the map after the start control",
                       lambda: shown_if(lambda p: differing(p, self.title, MAP_BOX) > 50000), 10)
        self.art.save("placement", placing)
        # Play begins when the panel shows the first unit.
        self.play = poll("the panel of a game", lambda: shown_if(lambda p: differing(p, self.title, PANEL_BOX) > 0), 15)
        self.art.save("play-begins", self.play)
        self.log(f"play began {time.monotonic() - started:.1f} s after the start control")

    def find_seed(self):
        """The seed is the clock's seconds when the game started: the one of those seconds with which
        vantor-sim places every unit where the window shows it."""
        tried = []
        for second in range(self.seed_from - 1, self.seed_to + 1):
            seed = second & 0xFFFF
            (state, units), (picture,) = self.sim_pictures(PREFIX + ["state", "units", "shot seed"], seed)
            cursor = [cursor_rect(units_by_slot(units)[state["cur_unit"]])]
            wrong = differing(self.play, picture, masks=cursor)
            tried.append(f"{seed}: {wrong} pixels differ")
            if wrong == 0:
                self.seed = seed
                self.log(f"the game runs on seed {seed}; side {state['cur_player']} to play")
                return
            self.art.mismatch(f"seed-{seed}", self.play, picture)
        raise Failure("no second around the start seeds the map the window shows (" + "; ".join(tried) + ")")

    def choose_turn(self):
        """The tick of play at which the test acts, the rectangles to keep clear of, and whether
        another missile is still in the air then.

        When the computer moves first, its missile is still in the air when the turn comes to a
        person, and lands at a tick the test cannot time to the tick. The test then acts at once only
        if it can plan a flight clear of that missile's path and blast, and if that missile puts no
        side out; otherwise it waits until the missile has come down."""
        values = self.sim.run(PREFIX + ["state", "shots"] + ["tick", "state", "shots"] * 800, self.seed)
        states, shots = values[0::2], values[1::2]
        human = next((k for k, s in enumerate(states) if not s["cpu_player"][s["cur_player"]]), None)
        if human is None:
            raise Failure("the computer side never passed the turn in vantor-sim")
        settled = next((k for k in range(human, len(states)) if not shots[k]), None)
        if human > 0:
            self.log(f"the computer moved first: a person's turn from tick {human}, its missile down at {settled}")
        if human == settled:
            return human, [], False
        dangers = [missile_box(m) for m in shots[human]]
        quiet = settled is not None and all(s["alive"] == states[human]["alive"] for s in states[human:settled + 1])
        if quiet:
            state, units = self.sim.run(PREFIX + [f"tick {human}", "state", "units"], self.seed)
            try:
                plan_shot(state, units, dangers)
                return human, dangers, True
            except Failure:
                pass
        if settled is None:
            raise Failure("the computer's missile never came down in vantor-sim")
        return settled, [], False

    def turn(self, tick, dangers, early):
        """Select, aim, fire, and watch the flight to its end."""
        state, units = self.sim.run(PREFIX + [f"tick {tick}", "state", "units"], self.seed)
        silo, dial, bar, box, target, ticks = plan_shot(state, units, dangers)
        point = centre(silo)
        self.log(f"side {state['cur_player']}: silo {silo['name']!r} at {point}, aiming at {target['name']!r} "
                 f"at {centre(target)} (dial {dial}, bar {bar})")
        actions = PREFIX + [f"tick {tick}", "shot turn", f"click {point[0]} {point[1]}", "shot selected",
                            f"click {dial[0]} {dial[1]}", f"click {bar[0]} {bar[1]}", "state", "shot aimed",
                            "shots", f"click {FIRE[0]} {FIRE[1]}"]
        # The flight, the explosion and the trail draining: some 20 ticks after the arrival.
        lines = actions + ["state", "shots", "shot f000"]
        for k in range(1, ticks + 31):
            lines += ["tick", "state", "shots", f"shot f{k:03d}"]
        values, pictures = self.sim_pictures(lines, self.seed)
        aimed, before = values[0], {m["slot"] for m in values[1]}
        states, shots = values[2::2], values[3::2]
        turn, selected, aimed_picture = pictures[:3]
        mine = [m for m in shots[0] if m["slot"] not in before]
        if len(mine) != 1:
            raise Failure(f"vantor-sim launched {len(mine)} missiles at the fire control, not 1")
        self.log(f"bearing {aimed['bearing']}, power {aimed['power']}: the missile comes down at "
                 f"({mine[0]['xdest']}, {mine[0]['ydest']})")
        flight = Flight(mine[0]["slot"], box, pictures[3:], states, shots, units, silo)

        # The abort comes a few ticks after the missile is down, as the test clicks it.
        _, (*_, self.grey, self.letters, self.over_title) = self.sim_pictures(
            actions + [f"tick {flight.down + 3}", f"click {ABORT[0]} {ABORT[1]}", "tick 45", "shot over-grey",
                       "tick 12", "shot over-letters", "until 3", "shot over-title"], self.seed)
        # Left out of the grey map: the blinking frame, and any other missile that was in the air,
        # frozen wherever it was at the abort.
        self.grey_masks = flight.cursor_masks + dangers + flight.other_missiles()
        # The grey-out is judged on the icons of the units the flight left alone. A busy machine may
        # click Abort a few ticks later than vantor-sim does, when the next side's missile may be up.
        self.grey_icons = [(u["x"], u["y"], u["x"] + 8, u["y"] + 8) for u in flight.units.values()
                           if not any(overlaps((u["x"], u["y"], u["x"] + 8, u["y"] + 8), m)
                                      for m in self.grey_masks + [flight.box])]

        # While another missile may land, the close-ups on the panel are not compared.
        panel_masks = [CLOSEUP_BOX] if early else []
        if early:
            self.wait_for_picture("the panel for a person's turn", turn, 40, PANEL_BOX, panel_masks)
        else:
            self.wait_for_picture("a person's turn", turn, tick * TICK + 40,
                                  masks=[cursor_rect(units_by_slot(units)[state["cur_unit"]])])
        self.game.click(*point)
        self.wait_for_picture("the panel with the silo selected", selected, 5, PANEL_BOX, panel_masks)
        self.game.click(*dial)
        self.game.click(*bar)
        self.wait_for_picture("the panel with bearing and power set", aimed_picture, 5, PANEL_BOX, panel_masks)
        self.game.click(*FIRE)
        self.watch(flight)

    def watch(self, flight):
        """Every picture of the window over the flight must be vantor-sim's picture of one of the
        ticks since the fire, in their order: the missile climbing on its arc, its explosion, then
        the map without it."""
        seen = {"fired": 0, "flying": 0, "exploding": 0, "down": 0}
        lowest = 0
        deadline = time.monotonic() + len(flight.pictures) * TICK * 2 + 10
        while seen["down"] < 3:
            if time.monotonic() > deadline:
                raise Failure(f"the missile did not come down in time; pictures seen: {seen}")
            shown = self.game.screenshot()
            ticks = [k for k in flight.ticks_of.get(flight.key(shown), []) if k >= lowest]
            if not ticks:
                later = range(lowest, len(flight.pictures))
                near = min(later, key=lambda k: differing(shown, flight.pictures[k], flight.box, flight.cursor_masks))
                self.art.mismatch(f"flight-after-tick-{lowest}", masked(shown, flight.box, flight.cursor_masks),
                                  masked(flight.pictures[near], flight.box, flight.cursor_masks))
                raise Failure(f"a picture of the flight is no tick from {lowest} on (nearest: tick {near}, "
                              f"{differing(shown, flight.pictures[near], flight.box, flight.cursor_masks)} "
                              f"pixels differ)")
            lowest = ticks[0]
            phase = flight.phase(lowest)
            seen[phase] += 1
            if phase != "down" or seen[phase] == 1:
                self.art.save(f"flight-tick-{lowest:03d}", shown)
        if not seen["flying"] or not seen["exploding"]:
            raise Failure(f"the flight was not seen in full: {seen}")
        self.log(f"flight watched: {seen['flying']} pictures of the missile in the air, "
                 f"{seen['exploding']} of its explosion")

    def abort_and_game_over(self):
        """The abort greys every unit at once; "THE END" comes 5 s later, the title 10 s later."""
        self.game.click(*ABORT)
        aborted = time.monotonic()
        # The pixels that the lettering turns white.
        before, after = masked(self.grey, LETTERING_BOX), masked(self.letters, LETTERING_BOX)
        white = [(x, y) for x in range(after.width) for y in range(after.height)
                 if after.getpixel((x, y)) == (255, 255, 255) and before.getpixel((x, y)) != (255, 255, 255)]
        if len(white) < 50:
            raise Failure(f"vantor-sim's lettering turned only {len(white)} pixels white")
        grey_seen = False
        while True:
            if time.monotonic() - aborted > 20:
                raise Failure("no game-over lettering within 20 s of the abort")
            shown = self.game.screenshot()
            lettering = masked(shown, LETTERING_BOX)
            if all(lettering.getpixel(p) == (255, 255, 255) for p in white):
                break
            grey_seen = grey_seen or all(differing(shown, self.grey, icon) == 0 for icon in self.grey_icons)
            last = shown
        lettered = time.monotonic() - aborted
        self.art.save("game-over-lettering", shown)
        if lettered < 4.5:
            raise Failure(f"the lettering came {lettered:.1f} s after the abort, not 5")
        if not grey_seen:
            self.art.mismatch("grey-out", masked(last, MAP_BOX, self.grey_masks),
                              masked(self.grey, MAP_BOX, self.grey_masks))
            raise Failure("the map never showed every unit grey before the lettering")
        self.log(f"every unit grey, then the lettering {lettered:.1f} s after the abort")
        self.wait_for_picture("the title after the game", self.over_title, 15, MAP_BOX)
        titled = time.monotonic() - aborted
        if titled < 9.5:
            raise Failure(f"the title came back {titled:.1f} s after the abort, not 10")
        shown = self.game.screenshot()
        if shown.crop(CLOSEUP_BOX).getextrema() != ((0, 0), (0, 0), (0, 0)):
            self.art.save("title-closeup", shown)
            raise Failure("the panel's close-up box is not black on the title after the game")
        self.log(f"title back {titled:.1f} s after the abort")

    def close(self):
        self.game.close()
        code = self.game.wait_exit(15)
        errors = self.game.stderr().strip()
        if self.args.valgrind:
            report = (self.tmp / f"memcheck.{self.game.proc.pid}.txt").read_text(errors="replace")
            self.art.text("memcheck.txt", report)
            summary = [line.split("== ", 1)[-1].strip() for line in report.splitlines()
                       if re.search(r"ERROR SUMMARY|definitely lost|indirectly lost|possibly lost", line)]
            self.log("memcheck: " + "; ".join(summary))
        if code != 0:
            raise Failure(f"the game ended with code {code}; stderr: {errors}")
        if errors:
            raise Failure(f"the game wrote to its standard error: {errors}")
        # The one file a game leaves is the player's settings, with the options it was started with
        # and the front end's switches as they stood.
        settings = self.home / ".config" / "vantor" / "settings"
        expected = ("map World", "cities 14", "silos 8", "submarines 3", "skill 20", "players 4",
                    "computer 0 1 0 0", "fast 0", "sound 1", "palette 0")
        if not settings.is_file():
            raise Failure("the game did not save its settings in ~/.config/vantor/settings")
        lines = [line for line in settings.read_text().splitlines() if not line.startswith("#")]
        if tuple(lines) != expected:
            raise Failure(f"the saved settings are {lines}, not {list(expected)}")
        # And the replay of the game, which plays back to the same hashes.
        replay = kept_replay(self.home, "World")
        final, ticks = check_replay(self.args.sim, replay, self.simdir)
        if final["num_players"] != 4 or final["cpu_player"] != [False, True, False, False]:
            raise Failure(f"the replay's game has {final['num_players']} sides, computer {final['cpu_player']}")
        left = [str(p.relative_to(self.tmp)) for d in (self.workdir, self.home) for p in d.rglob("*")
                if not any(p == f or p in f.parents for f in (settings, replay))]
        if left:
            raise Failure(f"the game left files behind: {left}")
        self.log(f"closed: code 0, nothing written but the settings and a replay of {ticks} ticks that checks")

    def run(self):
        self.t0 = time.monotonic()
        try:
            self.launch()
            self.intro_and_title()
            self.start_game()
            self.find_seed()
            self.turn(*self.choose_turn())
            self.abort_and_game_over()
            self.close()
        except Failure as failure:
            if self.game:
                self.art.text("game-stderr.txt", self.game.stderr())
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
    parser.add_argument("--valgrind", action="store_true",
                        help="run the game under memcheck: any memory error or leak fails the test")
    args = parser.parse_args()
    if args.valgrind and not shutil.which("valgrind"):
        print("valgrind is not installed")
        return 77
    with tempfile.TemporaryDirectory(prefix="vantor-e2e.") as tmp:
        return PlayTest(args, tmp).run()


if __name__ == "__main__":
    sys.exit(main())
