#!/usr/bin/python3
"""Measures the game as a player meets it, in a private Xvfb, and headless; prints a Markdown report.

    measure.py --vantor VANTOR --sim VANTOR_SIM --bench VANTOR_BENCH [--runs N]

Every figure is the median of N runs (5 unless told), with the spread where it says something:

- launch to the window mapped, to its first frame (the panel drawn under a black map), and to the
  first line of the intro;
- the share of one core the game takes on the title screen, in a human's turn while the selection
  blinks, and during a four-computer game, summed over the game's threads from
  /proc/PID/task/*/schedstat over 10 s;
- the peak resident memory (VmHWM) in that human's turn and at the end of the four-computer game;
- click-to-screen latency: from the button press handed to the X server (XTest) to the changed
  pixels read back from the window, on a title arrow and on a panel arrow in play;
- the cost of one tick with 50 missiles in flight, from the engine benchmark;
- computer-only games per second headless, from vantor-sim --tournament.
"""
import argparse
import json
import os
import platform
import re
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))
sys.path.insert(0, str(HERE.parent.parent / "tests" / "e2e"))
import xlib  # noqa: E402
from vantorx import XServer, game_environment, poll, stop_process  # noqa: E402

INTRO = (300, 200)
START = (377, 342)
PLAYER_BOXES = [(167, 342), (197, 342), (227, 342), (257, 342)]
MORE_CITIES, FEWER_CITIES = (277, 252), (167, 252)
CITIES_NUMBER = (243, 245, 14, 16)
BEARING_UP, BEARING_DOWN = (457, 442), (432, 442)
BEARING_NUMBER = (435, 407, 21, 16)
PANEL = (0, 400, 600, 60)
CLOSE_UP = (55, 430, 1, 1)
CPU_SECONDS = 10


def median(values):
    return statistics.median(values)


def drawn(data):
    """Whether 32-bit pixels hold any colour (the fourth byte is padding)."""
    return any(data[i] or data[i + 1] or data[i + 2] for i in range(0, len(data), 4))


class Session:
    """The game started in an empty directory on the shared X server."""

    def __init__(self, vantor, display, tmp):
        self.display = display
        home = Path(tempfile.mkdtemp(dir=tmp))
        env = game_environment(home, display.name)
        self.started = time.monotonic()
        self.proc = subprocess.Popen([vantor], cwd=home, env=env, stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL)
        self.window = poll("window", lambda: self.display.x.find_window("Vantor"), 20, 0.0005)
        self.mapped = time.monotonic() - self.started

    def region(self, x, y, w, h):
        return self.display.x.pixels(self.window, x, y, w, h)

    def press(self, point):
        self.display.x.move(self.window, *point)
        self.display.x.button(True)

    def release(self):
        self.display.x.button(False)

    def click(self, point):
        self.press(point)
        self.release()
        time.sleep(0.05)

    def to_title(self):
        title = poll("intro's end", lambda: time.monotonic() - self.started > 2.5 or None, 5, 0.05)
        before = self.region(0, 0, 600, 400)
        while self.region(0, 0, 600, 400) == before:
            self.click(INTRO)
            time.sleep(0.2)
        return title

    def thread_ns(self):
        """CPU nanoseconds of each of the game's threads, by thread id."""
        times = {}
        for task in Path(f"/proc/{self.proc.pid}/task").iterdir():
            try:
                times[task.name] = int((task / "schedstat").read_text().split()[0])
            except (OSError, IndexError, ValueError):
                pass  # the thread ended while being read
        return times

    def cpu_share(self, seconds):
        """The share of one core the game used over the next seconds, in per cent. A thread that
        ends takes its time with it, so a stretch in which one ended is measured again (the sound
        device's thread ends a second after the last sound)."""
        for _ in range(3):
            before, start = self.thread_ns(), time.monotonic()
            time.sleep(seconds)
            after, elapsed = self.thread_ns(), time.monotonic() - start
            if before.keys() <= after.keys():
                break
        used = sum(ns - before.get(tid, 0) for tid, ns in after.items())
        return 100.0 * used / 1e9 / elapsed

    def status(self, key):
        match = re.search(rf"^{key}:\s+(\d+) kB", Path(f"/proc/{self.proc.pid}/status").read_text(), re.M)
        return int(match.group(1))

    def start_game(self):
        before = self.region(*PANEL)
        self.click(START)
        poll("play", lambda: self.region(*PANEL) != before, 20, 0.02)

    def latency(self, point, area):
        """Milliseconds from the press to the first changed pixel of the area."""
        before = self.region(*area)
        self.display.x.move(self.window, *point)
        start = time.monotonic()
        self.display.x.button(True)
        poll("the click's change on screen", lambda: self.region(*area) != before, 5, 0)
        elapsed = time.monotonic() - start
        self.release()
        time.sleep(0.1)
        return 1000.0 * elapsed

    def close(self):
        stop_process(self.proc)


class Shared:
    def __init__(self, tmp):
        self.server = XServer(tmp)
        self.name = self.server.display
        self.x = xlib.Display(self.name)

    def stop(self):
        self.x.close()
        self.server.stop()


def startup(args, display, tmp):
    mapped, first, line = [], [], []
    for _ in range(args.runs):
        game = Session(args.vantor, display, tmp)
        poll("first frame", lambda: drawn(game.region(*PANEL)), 10, 0.0005)
        first.append(time.monotonic() - game.started)
        # The intro's first line, at (12, 14), comes with the first tick.
        poll("intro line", lambda: drawn(game.region(12, 14, 200, 16)), 10, 0.0005)
        line.append(time.monotonic() - game.started)
        mapped.append(game.mapped)
        game.close()
    return {"mapped": mapped, "first_frame": first, "intro_line": line}


def idle_and_memory(args, display, tmp):
    title, turn, turn_hwm, play, hwm, rss = [], [], [], [], [], []
    for _ in range(args.runs):
        # Four people play (the defaults): the first side's turn waits for a click, its
        # selection frame blinking.
        game = Session(args.vantor, display, tmp)
        game.to_title()
        time.sleep(1.0)
        title.append(game.cpu_share(CPU_SECONDS))
        game.start_game()
        # The units are placed, then the first side's unit shows in the panel's close-up.
        poll("first turn", lambda: drawn(game.region(*CLOSE_UP)), 20, 0.02)
        time.sleep(1.0)
        turn.append(game.cpu_share(CPU_SECONDS))
        turn_hwm.append(game.status("VmHWM"))
        game.close()
        game = Session(args.vantor, display, tmp)
        game.to_title()
        # Boxes 0 and 1 switch to the computer with one click, boxes 2 and 3 likewise while all four play.
        for box in PLAYER_BOXES:
            game.click(box)
        game.start_game()
        play.append(game.cpu_share(CPU_SECONDS))
        hwm.append(game.status("VmHWM"))
        rss.append(game.status("VmRSS"))
        game.close()
    return {"title_cpu": title, "turn_cpu": turn, "turn_hwm_kb": turn_hwm, "play_cpu": play, "hwm_kb": hwm,
            "rss_kb": rss}


def latencies(args, display, tmp):
    title, panel = [], []
    game = Session(args.vantor, display, tmp)
    game.to_title()
    for i in range(10 * args.runs):
        title.append(game.latency(MORE_CITIES if i % 2 == 0 else FEWER_CITIES, CITIES_NUMBER))
    # Four people play: the panel takes every click of the side to move.
    game.start_game()
    time.sleep(0.5)
    for i in range(10 * args.runs):
        panel.append(game.latency(BEARING_UP if i % 2 == 0 else BEARING_DOWN, BEARING_NUMBER))
    game.close()
    return {"title_ms": title, "panel_ms": panel}


def tick_cost(args):
    done = subprocess.run([args.bench, "--benchmark_filter=TickWith50Missiles",
                           f"--benchmark_repetitions={args.runs}", "--benchmark_format=json"],
                          capture_output=True, text=True, check=True)
    runs = [b for b in json.loads(done.stdout)["benchmarks"] if b.get("run_type") == "iteration"]
    return {"us_per_tick": [b["us_per_tick"] for b in runs], "budget_ratio": [b["budget_ratio"] for b in runs]}


def games_per_second(args, tmp):
    games, rates = 20, []
    for run in range(args.runs):
        start = time.monotonic()
        subprocess.run([args.sim, "--dir", str(tmp), "--seed", str(1 + run * games), "--tournament", str(games),
                        "--no-timing"], stdout=subprocess.DEVNULL, check=True)
        rates.append(games / (time.monotonic() - start))
    return {"games_per_second": rates}


def machine():
    model = next((line.split(":", 1)[1].strip() for line in Path("/proc/cpuinfo").read_text().splitlines()
                  if line.startswith("model name")), platform.processor())
    memory = int(re.search(r"MemTotal:\s+(\d+)", Path("/proc/meminfo").read_text()).group(1))
    xvfb = subprocess.run(["dpkg-query", "-W", "-f", "${Version}", "xvfb"], capture_output=True, text=True).stdout
    return {"cores": os.cpu_count(), "cpu": model, "memory_gib": memory / 1024 / 1024,
            "kernel": platform.release(), "load": os.getloadavg(), "xvfb": xvfb or "?"}


def report(m, figures, runs):
    s, i, l, t, g = (figures[k] for k in ("startup", "idle", "latency", "tick", "games"))
    ms = lambda values: f"{1000 * median(values):.0f} ms"  # noqa: E731
    spread = lambda values, f: f"{f(min(values))} to {f(max(values))}"  # noqa: E731
    one = lambda v: f"{v:.1f} ms"  # noqa: E731
    pct = lambda v: f"{v:.2f} %"  # noqa: E731
    rows = [
        ("Launch to the window mapped", ms(s["mapped"]), spread(s["mapped"], lambda v: f"{1000 * v:.0f}")),
        ("Launch to the first frame (panel under the black map)", ms(s["first_frame"]),
         spread(s["first_frame"], lambda v: f"{1000 * v:.0f}")),
        ("Launch to the intro's first line", ms(s["intro_line"]), spread(s["intro_line"], lambda v: f"{1000 * v:.0f}")),
        ("CPU on the title screen (share of one core, 10 s)", pct(median(i["title_cpu"])), spread(i["title_cpu"], pct)),
        ("CPU in a human's turn, selection blinking (10 s)", pct(median(i["turn_cpu"])), spread(i["turn_cpu"], pct)),
        ("Peak resident memory (VmHWM) in that turn", f"{median(i['turn_hwm_kb']) / 1024:.1f} MiB",
         spread(i["turn_hwm_kb"], lambda v: f"{v / 1024:.1f}")),
        ("CPU during a four-computer game (10 s)", pct(median(i["play_cpu"])), spread(i["play_cpu"], pct)),
        ("Peak resident memory (VmHWM) after that game", f"{median(i['hwm_kb']) / 1024:.1f} MiB",
         spread(i["hwm_kb"], lambda v: f"{v / 1024:.1f}")),
        ("Click to screen, title arrow", one(median(l["title_ms"])),
         f"90th percentile {one(statistics.quantiles(l['title_ms'], n=10)[-1])}, max {one(max(l['title_ms']))}"),
        ("Click to screen, panel arrow in play", one(median(l["panel_ms"])),
         f"90th percentile {one(statistics.quantiles(l['panel_ms'], n=10)[-1])}, max {one(max(l['panel_ms']))}"),
        ("One tick with 50 missiles in flight", f"{median(t['us_per_tick']):.2f} us",
         f"{median(t['budget_ratio']):.1e} of the 100 ms budget"),
        ("Computer-only games per second, headless (4 sides, World)", f"{median(g['games_per_second']):.0f}",
         spread(g["games_per_second"], lambda v: f"{v:.0f}")),
    ]
    print(f"Machine: {m['cores']} cores, {m['cpu']}, {m['memory_gib']:.1f} GiB memory, Linux {m['kernel']}, "
          f"load average {m['load'][0]:.1f} at the start; the window is on Xvfb (Debian {m['xvfb']}, 1024 x 768, 24 bits), "
          f"sound on SDL's dummy driver. Medians of {runs} runs ({10 * runs} clicks for the latencies).\n")
    print("| Figure | Median | Range |")
    print("|---|---|---|")
    for row in rows:
        print("| " + " | ".join(row) + " |")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--vantor", required=True)
    parser.add_argument("--sim", required=True)
    parser.add_argument("--bench", required=True)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--json", help="also write the raw figures here")
    args = parser.parse_args()
    with tempfile.TemporaryDirectory(prefix="vantor-perf.") as tmp:
        m = machine()
        display = Shared(tmp)
        try:
            figures = {"startup": startup(args, display, tmp)}
            print("startup measured", file=sys.stderr)
            figures["latency"] = latencies(args, display, tmp)
            print("latency measured", file=sys.stderr)
            figures["idle"] = idle_and_memory(args, display, tmp)
            print("idle CPU and memory measured", file=sys.stderr)
        finally:
            display.stop()
        figures["tick"] = tick_cost(args)
        figures["games"] = games_per_second(args, tmp)
    if args.json:
        Path(args.json).write_text(json.dumps({"machine": m, "figures": figures}, indent=1))
    report(m, figures, args.runs)


if __name__ == "__main__":
    sys.exit(main())
