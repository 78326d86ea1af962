#!/usr/bin/env python3
"""vantor-sim as an online client: a creator and a joiner, each driven line by line through its pipes,
follow one room of a vantor-server on 127.0.0.1; a refused join and a lost server end with exit 7.
    sim_client_test.py VANTOR_SERVER VANTOR_SIM
"""
import json
import os
import queue
import re
import subprocess
import sys
import threading
import unittest

SERVER = SIM = None
EXIT_LOST = 7


class Sim:
    """A vantor-sim whose script is written as the test goes; every read is bounded."""

    def __init__(self, *args):
        self.proc = subprocess.Popen([SIM, *args], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE, text=True)
        self.lines = queue.Queue()
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.proc.stdout:
            if not line.startswith("sound "):
                self.lines.put(line.rstrip("\n"))

    def ask(self, command=None):
        """Writes the command; the line it answers, or the next one without a command."""
        if command:
            self.proc.stdin.write(command + "\n")
            self.proc.stdin.flush()
        if not command or command.split()[0] in ("state", "units", "caption", "until"):
            return self.lines.get(timeout=20)

    def state(self, *keys):
        return json.loads(self.ask("state " + " ".join(keys)))

    def poll(self, keys, done):
        """Waits for the room's game, 20 ms at a time, until done(state); at most 10 s."""
        for _ in range(500):
            self.ask("wait 20")
            state = self.state(*keys)
            if done(state):
                return state
        raise AssertionError(f"{keys} never as wanted; last {state}")


class SimClient(unittest.TestCase):
    def setUp(self):
        self.server = subprocess.Popen([SERVER, "--bind", "127.0.0.1", "--port", "0", "--tick-ms", "5"],
                                       stderr=subprocess.PIPE, text=True)
        self.addCleanup(self.server.wait)
        self.addCleanup(lambda: self.server.poll() is None and self.server.kill())
        self.host = "127.0.0.1:" + re.search(r"port (\d+)", self.server.stderr.readline()).group(1)

    def sim(self, *args):
        sim = Sim(*args)
        self.addCleanup(sim.proc.wait)
        self.addCleanup(lambda: sim.proc.poll() is None and sim.proc.kill())
        return sim

    def test_creator_and_joiner_see_the_same_game_until_the_server_goes(self):
        creator = self.sim("--online", f"ws://{self.host}")
        code = creator.ask()
        self.assertRegex(code, r"^code [0-9A-Z]{4}-[0-9A-Z]{4}$")
        joiner = self.sim("--join", f"{code[5:]}@{self.host}")
        self.assertEqual(joiner.ask(), code)
        self.assertEqual(joiner.ask("caption"), f"Vantor (room {code[5:]} BLUE)")

        # The joiner's side is a person's once the room has it; the creator's Start goes through the room.
        creator.poll(["cpu_player"], lambda s: s["cpu_player"][:2] == [False, False])
        creator.ask("click 380 340")  # Start
        for sim in (creator, joiner):
            self.assertRegex(sim.ask("until 2"), r"^ticks \d+$")

        # In a person's turn, that person's click on a unit of theirs selects it in both games.
        turn = creator.poll(["cur_player", "cur_unit", "cpu_player"], lambda s: not s["cpu_player"][s["cur_player"]])
        mover, side = (creator, joiner)[turn["cur_player"]], turn["cur_player"]
        units = [u for u in json.loads(mover.ask("units")) if u["side"] == side]
        under = lambda x, y: [u["slot"] for u in units if u["x"] < x < u["x"] + 9 and u["y"] < y < u["y"] + 9]
        unit = next(u for u in units if under(u["x"] + 4, u["y"] + 4) == [u["slot"]] != [turn["cur_unit"]])
        mover.ask(f"click {unit['x'] + 4} {unit['y'] + 4}")
        # Each game shows it once its frame comes; a missile of the turn before may land in one game first.
        keys = ["timer_mode", "cur_player", "cur_unit", "alive", "cpu_player", "num_players"]
        for _ in range(250):
            seen = [(sim.state(*keys), sim.ask("units")) for sim in (creator, joiner)]
            if seen[0] == seen[1] and seen[0][0]["cur_unit"] == unit["slot"]:
                break
            for sim in (creator, joiner):
                sim.ask("wait 20")
        self.assertEqual(seen[0], seen[1])
        self.assertEqual(seen[0][0]["cur_unit"], unit["slot"])

        self.server.kill()
        for sim in (creator, joiner):
            sim.ask("wait 10000")
            self.assertEqual(sim.proc.wait(timeout=10), EXIT_LOST)
            self.assertIn("the connection to the room was lost", sim.proc.stderr.read())

    def test_a_room_that_is_not_there_refuses_the_join(self):
        sim = self.sim("--join", f"ZZZZ-ZZZZ@{self.host}")
        sim.proc.stdin.close()
        self.assertEqual(sim.proc.wait(timeout=20), EXIT_LOST)
        self.assertIn("no room ZZZZ-ZZZZ", sim.proc.stderr.read())


if __name__ == "__main__":
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    SIM = os.path.realpath(sys.argv.pop(2))
    SERVER = os.path.realpath(sys.argv.pop(1))
    unittest.main(verbosity=2)
