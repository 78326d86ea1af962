#!/usr/bin/python3
"""How long a person waits between their Fire and their next turn, with three computer opponents.

    tools/perf/fast_play.py VANTOR_SIM [GAMES]     ticks, headless, over GAMES games (8 unless given)
    tools/perf/fast_play.py --window VANTOR        turns a minute in the real window under Xvfb,
                                                   four computer sides, normal pace then fast play

Headless, side 0 is a person who fires its first loaded launcher at random whenever its turn comes;
the ticks until its next turn are counted and turned into seconds at the normal pace (100 ms a tick)
and in fast play (25 ms a tick during the computer's turns, which are all of these ticks).
"""
import json
import random
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path


def waits_in_game(sim, seed, workdir):
    p = subprocess.Popen(["stdbuf", "-oL", sim, "--dir", workdir, "--seed", str(seed)],
                         stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True, bufsize=1)

    def send(line):
        p.stdin.write(line + "\n")
        p.stdin.flush()

    def ask(line):
        send(line)
        while True:
            out = p.stdout.readline()
            if not out:
                raise SystemExit("vantor-sim ended")
            if out[0] in "[{":
                return json.loads(out)

    rng = random.Random(seed)
    for line in ("tick 20", "click 300 200", "click 190 340", "click 220 340", "click 250 340", "click 380 340"):
        send(line)
    waits = []
    while True:
        s = ask("state timer_mode cur_player")
        if s["timer_mode"] == 4:
            break
        if s["timer_mode"] == 2 and s["cur_player"] == 0:
            units = ask("units " + " ".join(str(i) for i in range(40)))
            loaded = [u for u in units if u["flag"] in (2, 3) and u["ammo"] > 0 and u["side"] == 0]
            if loaded:
                send(f"set cur_unit {loaded[0]['slot']}")
                send(f"set bearing {rng.randrange(360)}")
                send(f"set power {rng.randrange(20, 99)}")
                send("click 575 430")
                ticks = 0
                while True:
                    s = ask("state timer_mode cur_player")
                    if s["timer_mode"] != 2 or (s["cur_player"] == 0 and ticks > 0):
                        break
                    send("tick")
                    ticks += 1
                if s["timer_mode"] == 2:
                    waits.append(ticks)
                continue
        send("tick")
    p.stdin.close()
    p.wait()
    return waits


def headless(sim, games):
    waits = []
    with tempfile.TemporaryDirectory() as workdir:
        for seed in range(1, games + 1):
            waits += waits_in_game(sim, seed, workdir)
    m = statistics.median(waits)
    print(f"{len(waits)} waits in {games} games: median {m} ticks, {m * 0.1:.1f} s at the normal pace, "
          f"{m * 0.025:.1f} s in fast play; quartiles {statistics.quantiles(waits, n=4)} ticks")


def window(vantor):
    sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "tests/e2e"))
    import vantorx as vx
    tmp = Path(tempfile.mkdtemp())
    (tmp / "home").mkdir()
    (tmp / "work").mkdir()
    x = vx.XServer(tmp)
    env = vx.game_environment(tmp / "home", x.display)
    game = vx.Game(vantor, tmp / "work", env, tmp)
    try:
        game.wait_window()
        time.sleep(2.5)
        game.click(300, 200)
        time.sleep(0.5)
        for bx in (160, 190, 220, 250):
            game.click(bx, 340)
            time.sleep(0.2)
        game.click(380, 340)

        def caption():
            return game.xdotool("getwindowname", game.window).stdout.strip()

        def turns(seconds):
            changes, last, end = [], caption(), time.monotonic() + seconds
            while time.monotonic() < end:
                c = caption()
                if c != last and "to fire" in c:
                    changes.append(time.monotonic())
                last = c
                time.sleep(0.02)
            return changes

        time.sleep(5)
        normal = turns(60)
        game.xdotool("key", "--window", game.window, "f")
        fast = turns(60)
        for name, ch in (("normal pace", normal), ("fast play", fast)):
            gaps = sorted(b - a for a, b in zip(ch, ch[1:]))
            med = gaps[len(gaps) // 2] if gaps else float("nan")
            print(f"{name}: {len(ch)} turns in 60 s, median {med:.2f} s a computer turn")
    finally:
        game.stop()
        x.stop()


if __name__ == "__main__":
    if len(sys.argv) >= 3 and sys.argv[1] == "--window":
        window(sys.argv[2])
    elif len(sys.argv) >= 2:
        headless(sys.argv[1], int(sys.argv[2]) if len(sys.argv) > 2 else 8)
    else:
        sys.exit(__doc__)
