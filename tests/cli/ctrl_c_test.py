#!/usr/bin/env python3
"""Ctrl+C in orvanta-scan, as a user at a console gives it: SIGINT to the
tool's process, which Wine turns into the console's control event.

One run over three copies of the bundled samples with -j 1 and a 30 s limit:
a_effect.dll (answers), b_hang.dll (never answers), c_synth.dll (answers). Once
a_effect.dll is in the database and b_hang.dll is being scanned, the test
sends SIGINT and checks that the tool ends long before the time limit with
exit code 3, prints its summary with the modules not scanned, keeps the
finished module in the database (read back as JSON), and leaves no server
running.

    ctrl_c_test.py BIN_FOLDER
Run through CTest by ./run test (the Wine prefix comes from there)."""
import json
import os
import shutil
import signal
import subprocess
import sys
import time
import unittest

BIN = os.path.abspath(sys.argv.pop(1)) if len(sys.argv) > 1 else ""
WINE64 = "/usr/lib/wine/wine64"


def winpath(path):
    return "Z:" + path.replace("/", "\\")


def servers_running(work):
    """The scan servers whose command line names this test's dump folder."""
    out = subprocess.run(["ps", "-eo", "args"], capture_output=True, text=True).stdout
    return [line for line in out.splitlines() if "scanserver.exe" in line and work in line]


class CtrlCTest(unittest.TestCase):
    def setUp(self):
        self.work = os.path.join(os.path.dirname(BIN), "ctrl_c_test")
        shutil.rmtree(self.work, ignore_errors=True)
        self.plugins = os.path.join(self.work, "plugins")
        os.makedirs(self.plugins)
        samples = os.path.join(BIN, "samples")
        for source, name in [("SampleEffect.dll", "a_effect.dll"), ("SampleHang.dll", "b_hang.dll"),
                             ("SampleSynth.dll", "c_synth.dll")]:
            shutil.copy(os.path.join(samples, source), os.path.join(self.plugins, name))
        self.db = os.path.join(self.work, "plugins.json")

    def test_ctrl_c_during_a_hang_ends_the_run_with_its_summary_and_code_3(self):
        tool = subprocess.Popen(
            [WINE64, os.path.join(BIN, "orvanta-scan.exe"), "-j", "1", "--timeout", "30",
             "--db", winpath(self.db), "--dumps", winpath(os.path.join(self.work, "dumps")),
             winpath(self.plugins)],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, stdin=subprocess.DEVNULL)
        try:
            # The first module is written before the hanging one is sent.
            deadline = time.monotonic() + 120
            while not os.path.exists(self.db) and time.monotonic() < deadline:
                time.sleep(0.1)
            self.assertTrue(os.path.exists(self.db), "the first module was never written")
            time.sleep(2)  # the hanging request is in flight
            self.assertIsNone(tool.poll(), "the tool ended before Ctrl+C")
            interrupted = time.monotonic()
            tool.send_signal(signal.SIGINT)
            out, err = tool.communicate(timeout=60)
            ended = time.monotonic() - interrupted
        finally:
            if tool.poll() is None:
                tool.kill()
        out, err = out.decode(), err.decode()

        self.assertEqual(tool.returncode, 3, out + err)
        self.assertLess(ended, 10, "the run went on towards the 30 s limit")
        self.assertIn("Cancelled; not scanned, their entries as they were: 2 modules\n", out)
        self.assertIn("b_hang.dll\n", out)
        self.assertIn("c_synth.dll\n", out)
        with open(self.db, encoding="utf-8") as f:
            database = json.load(f)
        names = [m["path"].rsplit("\\", 1)[-1] for m in database["modules"]]
        self.assertEqual(names, ["a_effect.dll"])
        self.assertEqual(database["modules"][0]["status"], "ok")
        self.assertEqual(servers_running(self.work), [])


if __name__ == "__main__":
    unittest.main(verbosity=2)
