#!/usr/bin/env python3
"""Rooms that outlive their process: a Redis, three servers and HAProxy on the loopback
(tools/server/cluster's pieces), and cluster_drill's rooms of full players through HAProxy.
    cluster_drill_test.py CLUSTER VANTOR_SERVER VANTOR_SIM CLUSTER_DRILL JOURNAL_REPLAY [--rooms R]
In turn: the rooms spread over the three; a Join through the wrong process is moved; one process is
killed with SIGKILL and its rooms are taken over, each once, where their journals (as replays that
vantor-sim checks) end; another is stopped past its lease and
continued, and gives its rooms up; Redis is restarted, and the rooms go on and journal again. The
drill's players must lose none of their rooms and need no repair beyond the snapshot that brings
them back. Prints the seconds until play resumed after the kill, the figures of docs/ONLINE.md.
"""
import importlib.machinery
import importlib.util
import os
import queue
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request

SKIP = 77


def load_cluster(path):
    loader = importlib.machinery.SourceFileLoader("cluster", path)
    module = importlib.util.module_from_spec(importlib.util.spec_from_loader("cluster", loader))
    loader.exec_module(module)
    return module


def redis(port, *args):
    """One command over RESP; the reply as a str, an int, None or a list."""
    with socket.create_connection(("127.0.0.1", port), timeout=2) as s:
        s.sendall(f"*{len(args)}\r\n".encode() + b"".join(f"${len(str(a))}\r\n{a}\r\n".encode() for a in args))
        reader = s.makefile("rb")

        def read():
            line = reader.readline().decode().rstrip("\r\n")
            kind, rest = line[0], line[1:]
            if kind in "+-":
                return rest
            if kind == ":":
                return int(rest)
            if kind == "$":
                return None if rest == "-1" else reader.read(int(rest) + 2)[:-2].decode(errors="replace")
            return None if rest == "-1" else [read() for _ in range(int(rest))]
        return read()


def metric(port, name):
    text = urllib.request.urlopen(f"http://127.0.0.1:{port}/metrics", timeout=5).read().decode()
    return int(re.search(rf"^{name} (\d+)$", text, re.M)[1])


class Drill:
    """cluster_drill's lines, read on a thread of their own."""

    def __init__(self, args):
        self.proc = subprocess.Popen(args, stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        self.lines = queue.Queue()
        threading.Thread(target=self.read, daemon=True).start()
        self.resumed = {}  # code: [ms, ...]
        self.lost = []
        self.summary = None

    def read(self):
        for line in self.proc.stdout:
            self.lines.put(line.strip())
        self.lines.put(None)

    def take(self, seconds, last=None):
        """The lines that came within the seconds, noted; stops early at the end, or after the line last."""
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            try:
                line = self.lines.get(timeout=max(0.01, end - time.monotonic()))
            except queue.Empty:
                break
            if line is None:
                break
            words = line.split()
            if words[0] == "resumed":
                self.resumed.setdefault(words[1], []).append(int(words[2]))
            elif words[0] == "lost":
                self.lost.append(line)
            elif words[0] == "summary":
                self.summary = line
            yield line
            if line == last:
                break


def wait(what, ready, seconds):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if ready():
            return
        time.sleep(0.1)
    raise AssertionError(f"{what} within {seconds} s")


def owners(redis_port, codes):
    return {code: redis(redis_port, "HGET", f"vantor:room:{code}", "owner") for code in codes}


def moved(cluster, sim, ports, where, owner, other):
    """A Join for a room of the owner sent to the other process is moved to the owner."""
    code = next(c for c, o in where.items() if o == str(owner))
    joined = subprocess.run([sim, "--join", f"{code}@127.0.0.1:{ports[other]}"], input="tick 3\n",
                            capture_output=True, text=True, timeout=30)
    assert joined.returncode == 0, joined
    log = cluster.log(f"server-{other}")
    assert f"room {code} is on ws://127.0.0.1:{ports[owner]}" in log, log


def read_journals(tool, redis_port, codes, folder, killed):
    """journal_replay, once it has read the rooms' journals: before the dead process's lease runs out
    (2 s at the soonest), and so before any is taken over. It plays them when told to."""
    run = subprocess.Popen([tool, "--redis", f"127.0.0.1:{redis_port}", "--out", folder, "--wait", *codes],
                           stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    assert run.stdout.readline().strip() == f"read {len(codes)}"
    assert time.monotonic() - killed < 2, f"the journals read {time.monotonic() - killed:.1f} s after the kill"
    return run


def replays(run, folder):
    """The journals as replay files, of the rooms with a game in play: (code, tick, hash, file)."""
    lines, _ = run.communicate("go\n", timeout=120)
    assert run.returncode == 0, lines
    made = re.findall(r"^(\S+) tick (\d+) hash ([0-9a-f]{16})$", lines, re.M)
    assert made, f"no room of the killed process had a game in play:\n{lines}"
    return [(code, tick, hash, os.path.join(folder, f"{code}.vrp")) for code, tick, hash in made]


def main(cluster_path, server, sim, drill_path, journal_tool, rooms=60):
    if not (shutil.which("redis-server") and shutil.which("haproxy")):
        print("skipped: needs Debian's redis-server and haproxy")
        return SKIP
    tool = load_cluster(cluster_path)
    folder = tempfile.mkdtemp(prefix="vantor-drill-")
    cluster = tool.Cluster(folder)
    drill = reader = None
    try:
        redis_port = tool.free_port()
        tool.start_redis(cluster, redis_port)
        started = [tool.start_server(cluster, server, i, redis_port, ["--tick-ms", "50"]) for i in range(3)]
        procs, ports = [p for p, _ in started], [port for _, port in started]
        front = tool.free_port()
        tool.start_haproxy(cluster, front, ports)
        drill = Drill([drill_path, "--address", f"ws://127.0.0.1:{front}", "--rooms", str(rooms), "--seconds", "240"])
        codes = [line.split()[1] for line in drill.take(90, "ready") if line.startswith("room ")]
        assert len(codes) == rooms, f"{len(codes)} rooms made of {rooms}"

        # Spread: round robin gives each process its share.
        where = owners(redis_port, codes)
        spread = [sum(1 for o in where.values() if o == str(i)) for i in range(3)]
        print("rooms by process:", spread)
        assert all(n >= rooms // 6 for n in spread), spread

        # A Join through a process that does not have the room is moved to the one that does.
        moved(cluster, sim, ports, where, 0, 1)

        # SIGKILL: each room of the dead process gets one new owner, and its player plays on there.
        dead = [c for c, o in where.items() if o == "1"]
        list(drill.take(3))  # the games under way
        procs[1].kill()
        killed = time.monotonic()
        # Its journals as they stand, before the lease runs out (2 s at the soonest) and a room is taken.
        reader = read_journals(journal_tool, redis_port, dead, folder, killed)
        list(drill.take(0))
        wait("every room of the killed process resumed", lambda: (list(drill.take(0.2)), all(
            c in drill.resumed for c in dead))[1], 20)
        gaps = sorted(drill.resumed[c][0] for c in dead)
        print(f"kill: {len(dead)} rooms, {len([c for c in dead if c not in drill.resumed])} lost, play resumed "
              f"after median {gaps[len(gaps) // 2] / 1000:.1f} s, worst {gaps[-1] / 1000:.1f} s "
              f"(the last {time.monotonic() - killed:.1f} s after the kill)")
        after = owners(redis_port, dead)
        assert all(o in ("0", "2") for o in after.values()), after
        assert set(drill.resumed) == set(dead), f"rooms of live processes dropped: {set(drill.resumed) - set(dead)}"
        assert sum(metric(ports[i], "vantor_rooms") for i in (0, 2)) == rooms
        assert sum(metric(ports[i], "vantor_takeovers_total") for i in (0, 2)) == len(dead)
        rebuilt = cluster.log("server-0") + cluster.log("server-2")

        # SIGSTOP past the lease, then SIGCONT: the process gives its rooms up; none is served twice.
        stopped = [c for c, o in owners(redis_port, codes).items() if o == "0"]
        drill.resumed.clear()
        procs[0].send_signal(signal.SIGSTOP)
        list(drill.take(4.5))
        procs[0].send_signal(signal.SIGCONT)
        wait("the stopped process's rooms resumed", lambda: (list(drill.take(0.2)), all(
            c in drill.resumed for c in stopped))[1], 20)
        assert "lost its lease" in cluster.log("server-0"), cluster.log("server-0")
        served = sum(metric(port, "vantor_rooms") for port in (ports[0], ports[2]))
        assert served == rooms, f"{served} rooms served for {rooms}"

        # Redis restarted without its data: the rooms go on, and their journals are written again.
        drill.resumed.clear()
        dropped = sum(metric(port, "vantor_journal_dropped_total") for port in (ports[0], ports[2]))
        next(p for name, p in cluster.procs if name == "redis").kill()
        tool.start_redis(cluster, redis_port, "redis-again")
        wait("every room journaled again", lambda: all(
            redis(redis_port, "EXISTS", f"vantor:room:{c}:snap") == 1 for c in codes), 10)
        list(drill.take(2))
        assert not drill.resumed, f"rooms dropped by the Redis restart: {drill.resumed}"
        moved(cluster, sim, ports, owners(redis_port, codes), 2, 0)  # the addresses are written again
        print("journal writes dropped while Redis was away:",
              sum(metric(port, "vantor_journal_dropped_total") for port in (ports[0], ports[2])) - dropped)

        drill.proc.stdin.write("stop\n")
        drill.proc.stdin.flush()
        list(drill.take(60))
        assert drill.proc.wait(timeout=30) == 0 and not drill.lost, (drill.summary, drill.lost)
        print(drill.summary)

        # The dead process's journals replay offline as they were played, and end where the rooms were
        # rebuilt: played now, once the machine is free of the drill.
        journals = replays(reader, folder)
        for code, tick, hash, path in journals:
            assert f"room {code} rebuilt at tick {tick}, state {hash}," in rebuilt, (code, tick, hash)
            checked = subprocess.run([sim, "--replay", path, "--check"], capture_output=True, text=True, timeout=60)
            assert checked.returncode == 0, checked
        print(f"journals replayed and checked: {len(journals)}")
    except BaseException:
        for name, _ in cluster.procs:
            if name.startswith("server"):
                print(f"--- {name}", *cluster.log(name).splitlines()[-25:], sep="\n")
        if drill:
            print("--- drill", drill.proc.poll(), drill.summary, *list(drill.take(0))[-20:], drill.resumed, drill.lost, sep="\n")
        raise
    finally:
        if reader and reader.poll() is None:
            reader.kill()
            reader.wait()
        if drill and drill.proc.poll() is None:
            drill.proc.kill()
            drill.proc.wait()
        for _, proc in cluster.procs:
            if proc.poll() is None:
                proc.send_signal(signal.SIGCONT)
        cluster.stop()
    left = [proc.pid for _, proc in cluster.procs if os.path.exists(f"/proc/{proc.pid}")]
    assert not left, f"left running: {left}"
    shutil.rmtree(folder, ignore_errors=True)
    print("ok")
    return 0


if __name__ == "__main__":
    if len(sys.argv) not in (6, 8):
        sys.exit(__doc__)
    sys.exit(main(*sys.argv[1:6], *([int(sys.argv[7])] if len(sys.argv) == 8 else [])))
