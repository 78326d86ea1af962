#!/usr/bin/env python3
"""vantor-server as a program: its flags, /metrics on the loopback, and a clean stop on SIGTERM that
leaves no working folder behind.    server_process_test.py VANTOR_SERVER
"""
import glob
import http.client
import os
import re
import signal
import subprocess
import sys
import tempfile
import unittest

SERVER = None


class ServerProcess(unittest.TestCase):
    def test_bad_flags_are_refused_with_the_usage(self):
        for args in ([], ["--port"], ["--port", "70000"], ["--port", "1", "--tick-ms", "0"],
                     ["--port", "1", "--shard", "4/4"], ["--port", "1", "--colour", "red"]):
            run = subprocess.run([SERVER, *args], capture_output=True, text=True, timeout=10)
            self.assertEqual(run.returncode, 2, args)
            self.assertIn("usage: vantor-server", run.stderr)

    def test_serves_metrics_and_stops_on_sigterm(self):
        with tempfile.TemporaryDirectory() as tmp:
            server = subprocess.Popen([SERVER, "--bind", "127.0.0.1", "--port", "0", "--tick-ms", "5"],
                                      stderr=subprocess.PIPE, text=True, env=dict(os.environ, TMPDIR=tmp))
            try:
                line = server.stderr.readline()
                port = re.search(r"listening on 127\.0\.0\.1 port (\d+), a tick every 5 ms", line)
                self.assertTrue(port, line)
                self.assertEqual(len(glob.glob(os.path.join(tmp, "vantor-server-*"))), 1)
                connection = http.client.HTTPConnection("127.0.0.1", int(port.group(1)), timeout=10)
                connection.request("GET", "/metrics")
                response = connection.getresponse()
                self.assertEqual(response.status, 200)
                body = response.read().decode()
                for name in ("rooms", "players", "connections", "frames_total", "desyncs_total", "refusals_total"):
                    self.assertRegex(body, rf"(?m)^# TYPE vantor_{name} (gauge|counter)\nvantor_{name} 0$")
                server.send_signal(signal.SIGTERM)
                self.assertEqual(server.wait(timeout=10), 0)
                self.assertIn("stopped", server.stderr.read())
                self.assertEqual(glob.glob(os.path.join(tmp, "vantor-server-*")), [])
            finally:
                if server.poll() is None:
                    server.kill()
                    server.wait()


if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    SERVER = os.path.realpath(sys.argv.pop(1))
    unittest.main(verbosity=2)
