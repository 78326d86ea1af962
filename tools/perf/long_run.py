#!/usr/bin/python3
"""Plays many computer-only games with vantor-sim, every one checked, and counts what went wrong.

    long_run.py --sim VANTOR_SIM --games N [--jobs J] [--chunk C] [--timeout S] [--seed S] [--out DIR]

The games are spread evenly over the four built-in maps and 2, 3 and 4 sides. They run as
tournaments of C games (50 unless told) with --check (the state's invariants after every tick) and
--check-replays (each game recorded, written in the replay format, read back and played again, every
hash compared), J at a time (1 unless told). Under a sanitizer build, leaks are looked for at each
exit (ASAN_OPTIONS detect_leaks=1) and undefined behaviour stops the run (halt_on_error).

Counted per tournament that fails, by what it shows first:
- crash: killed by a signal, or a sanitizer's error report other than a leak;
- leak: LeakSanitizer's report;
- hang: a game still going after --max-ticks (the tournament says stuck), or a tournament that
  outlives --timeout seconds;
- desync: a replay that did not play back the same;
- broken invariant: --check stopped the game;
- other: any other failure.
A failed tournament's output stays in DIR (default: a new folder under /tmp), with the command that
plays its first failing game again. Prints one line per map and side count and a summary; exits 1
when anything went wrong.
"""
import argparse
import os
import re
import subprocess
import sys
import tempfile
import time
from concurrent.futures import ThreadPoolExecutor, as_completed
from pathlib import Path

MAPS = ["World", "Pangaea", "Twin", "Archipelago"]
SIDES = [2, 3, 4]
EXIT_VIOLATION, EXIT_STUCK, EXIT_DESYNC = 4, 5, 6
GAME = re.compile(r"^game \d+ (?:winner \S+|stuck) ticks (\d+) launches (\d+)$", re.M)
SANITIZER_ENV = {
    "ASAN_OPTIONS": "detect_leaks=1:abort_on_error=1",
    "UBSAN_OPTIONS": "print_stacktrace=1:halt_on_error=1",
}


def plan(games, chunk, first_seed):
    """(map, sides, seed, count) for every tournament: the games spread evenly, seeds distinct."""
    combos = [(m, s) for m in MAPS for s in SIDES]
    runs = []
    for i, (map_name, sides) in enumerate(combos):
        share = games // len(combos) + (1 if i < games % len(combos) else 0)
        for start in range(0, share, chunk):
            seed = (first_seed + start) % 65536
            runs.append((start, i, (map_name, sides, seed, min(chunk, share - start))))
    # Round the maps and side counts in turn, so that a run cut short has played some of each.
    return [run for _, _, run in sorted(runs)]


def classify(code, stderr, timed_out):
    if timed_out:
        return "hang"
    if code == 0:
        return None
    if "LeakSanitizer" in stderr:
        return "leak"
    if code < 0 or "Sanitizer" in stderr or "runtime error:" in stderr:
        return "crash"
    return {EXIT_STUCK: "hang", EXIT_DESYNC: "desync", EXIT_VIOLATION: "broken invariant"}.get(code, "other")


def run_one(sim, run, timeout, out):
    map_name, sides, seed, count = run
    command = [sim, "--seed", str(seed), "--tournament", str(count), "--players", str(sides), "--map", map_name,
               "--check", "--check-replays", "--no-timing"]
    with tempfile.TemporaryDirectory(prefix="vantor-long-run-") as work:
        started = time.monotonic()
        try:
            done = subprocess.run(command, cwd=work, capture_output=True, text=True, timeout=timeout,
                                  env={**os.environ, **SANITIZER_ENV})
            code, stdout, stderr, timed_out = done.returncode, done.stdout, done.stderr, False
        except subprocess.TimeoutExpired as e:
            code, timed_out = None, True
            stdout = e.stdout.decode() if isinstance(e.stdout, bytes) else (e.stdout or "")
            stderr = e.stderr.decode() if isinstance(e.stderr, bytes) else (e.stderr or "")
        seconds = time.monotonic() - started
    played = [(int(t), int(n)) for t, n in GAME.findall(stdout)]
    fault = classify(code, stderr, timed_out)
    if fault:
        log = Path(out) / f"{map_name}-{sides}-{seed}.txt"
        log.write_text(f"$ {' '.join(command)}\nexit {code}{' (timed out)' if timed_out else ''}\n"
                       f"--- stdout\n{stdout}--- stderr\n{stderr}")
    return run, played, fault, seconds


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--sim", required=True)
    parser.add_argument("--games", type=int, required=True)
    parser.add_argument("--jobs", type=int, default=1)
    parser.add_argument("--chunk", type=int, default=50)
    parser.add_argument("--timeout", type=float, default=3600, help="seconds a tournament may take")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--out")
    args = parser.parse_args()
    args.sim = os.path.abspath(args.sim)
    out = args.out or tempfile.mkdtemp(prefix="vantor-long-run-logs-")
    os.makedirs(out, exist_ok=True)

    runs = plan(args.games, max(1, args.chunk), args.seed)
    started = time.monotonic()
    faults = {k: 0 for k in ["crash", "leak", "hang", "desync", "broken invariant", "other"]}
    per_combo = {}
    with ThreadPoolExecutor(max_workers=max(1, args.jobs)) as pool:
        futures = [pool.submit(run_one, args.sim, r, args.timeout, out) for r in runs]
        for future in as_completed(futures):
            (map_name, sides, seed, count), played, fault, seconds = future.result()
            games, ticks, launches, cpu = per_combo.get((map_name, sides), (0, 0, 0, 0.0))
            per_combo[(map_name, sides)] = (games + len(played), ticks + sum(t for t, _ in played),
                                           launches + sum(n for _, n in played), cpu + seconds)
            if fault:
                faults[fault] += 1
            # One line a tournament as it ends, so that a run cut short still tells what it did.
            print(f"{map_name} {sides} sides seed {seed}: {len(played)} of {count} games, {seconds:.0f} s, "
                  f"{fault or 'ok'}" + (f" (see {out})" if fault else ""), flush=True)
    wall = time.monotonic() - started

    per_combo = dict(sorted(per_combo.items(), key=lambda item: (MAPS.index(item[0][0]), item[0][1])))
    print("| Map | Sides | Games | Mean ticks | Mean launches | Seconds |")
    print("|---|---|---|---|---|---|")
    for (map_name, sides), (games, ticks, launches, seconds) in per_combo.items():
        mean = (lambda x: f"{x / games:.0f}" if games else "-")
        print(f"| {map_name} | {sides} | {games} | {mean(ticks)} | {mean(launches)} | {seconds:.0f} |")
    played = sum(v[0] for v in per_combo.values())
    ticks = sum(v[1] for v in per_combo.values())
    print(f"summary games {played} of {args.games} replays checked {played} ticks {ticks} "
          + " ".join(f"{k.replace(' ', '-')} {v}" for k, v in faults.items()) + f" wall seconds {wall:.0f}")
    return 1 if any(faults.values()) or played != args.games else 0


if __name__ == "__main__":
    sys.exit(main())
