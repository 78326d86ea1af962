#!/usr/bin/env python3
"""tools/server/cluster with two servers: rooms created through HAProxy go to each in turn, and on
SIGINT every process it started ends.
    cluster_test.py CLUSTER VANTOR_SERVER VANTOR_SIM
"""
import os
import re
import shutil
import signal
import subprocess
import sys
import urllib.request

SKIP = 77


def main(cluster, server, sim):
    if not (shutil.which("redis-server") and shutil.which("haproxy")):
        print("skipped: needs Debian's redis-server and haproxy")
        return SKIP
    proc = subprocess.Popen([cluster, "--server", server, "--processes", "2", "--port", "0", "--seconds", "100",
                             "--", "--tick-ms", "20"], stdout=subprocess.PIPE, text=True)
    try:
        lines = [proc.stdout.readline().strip() for _ in range(5)]  # the cluster ends its wait by itself
        print(*lines, sep="\n")
        address = re.fullmatch(r"cluster (ws://127\.0\.0\.1:\d+)", lines[0])[1]
        pids = [int(line.split()[-1]) for line in lines[1:]]
        servers = [line.split()[1] for line in lines if line.startswith("server ")]

        for _ in servers:
            made = subprocess.run([sim, "--online", address], stdin=subprocess.DEVNULL, capture_output=True,
                                  text=True, timeout=30)
            assert made.returncode == 0 and re.match(r"code \w{4}-\w{4}\n", made.stdout), made
        for host in servers:
            metrics = urllib.request.urlopen(f"http://{host}/metrics", timeout=5).read().decode()
            assert "\nvantor_rooms 1\n" in metrics, f"{host} has not one room:\n{metrics}"
    finally:
        proc.send_signal(signal.SIGINT)
        assert proc.wait(timeout=30) == 0
    left = [pid for pid in pids if os.path.exists(f"/proc/{pid}")]
    assert not left, f"left running: {left}"
    print("ok")
    return 0


if __name__ == "__main__":
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    sys.exit(main(*sys.argv[1:]))
