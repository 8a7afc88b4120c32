"""Runs the tamresample command as a user would and checks what it prints.

Usage: checkTamresample.py TAMRESAMPLE DATA_DIR PROJECT_VERSION
"""

import os
import subprocess
import sys
import tempfile
import time
import unittest

TAMRESAMPLE = ""
DATA_DIR = ""
PROJECT_VERSION = ""

# twoChannels.csv, derived by hand. Grid: --rate 4, so the output times are 0, 0.25, ..., 1.5
# (the grid starts at the earliest time stamp, 0, and 0.25 is exact in binary); the tolerance
# is 0.001 / 4 s. End of data is the newest time stamp, 1.5 s.
#   a: (0, 0) (0.5, 4) (0.625, 6) (1.125, 2) (1.25, 10)
#   b: (0.125, 10) (0.375, 20) (0.875, 40) (1.375, 30) (1.5, 34)
#
# Hold: each output takes the newest sample at or before its time (the first sample also for
# earlier times). At the end, a channel's newest sample is held up to 1.5 s.
HOLD_ROWS = """\
time,a,b
0,0,10
0.25,0,10
0.5,4,20
0.75,6,20
1,6,40
1.25,10,40
1.5,10,34
"""
# Linear: y0 + (t - t0) / (t1 - t0) * (y1 - y0) over the pair around t; before b's first
# sample the line through its first two samples is extended backwards.
#   a: 0.25 -> 0 + 0.5 * 4 = 2; 0.75 -> 6 + 0.25 * (2 - 6) = 5; 1 -> 6 + 0.75 * (-4) = 3;
#      1.25 is a's own sample (10); 1.5 lies after a's last sample: held at 10.
#   b: 0 -> 10 + (-0.5) * 10 = 5; 0.25 -> 15; 0.5 -> 20 + 0.25 * 20 = 25; 0.75 -> 35;
#      1 -> 40 + 0.25 * (30 - 40) = 37.5; 1.25 -> 40 + 0.75 * (-10) = 32.5; 1.5 -> its own 34.
LINEAR_ROWS = """\
time,a,b
0,0,5
0.25,2,15
0.5,4,25
0.75,5,35
1,3,37.5
1.25,10,32.5
1.5,10,34
"""


def run(*arguments, stdin=None):
    return subprocess.run([TAMRESAMPLE, *arguments], input=stdin, capture_output=True,
                          text=True, timeout=120)


def shifted(rows, seconds, time_column=0):
    """The same CSV with every time moved by seconds (exact for these binary fractions)."""
    lines = rows.splitlines()
    for k, line in enumerate(lines[1:], 1):
        cells = line.split(",")
        cells[time_column] = "%.17g" % (float(cells[time_column]) + seconds)
        lines[k] = ",".join(cells)
    return "\n".join(lines) + "\n"


class TwoChannelCsv(unittest.TestCase):
    @property
    def csv(self):
        return os.path.join(DATA_DIR, "twoChannels.csv")

    def assertRuns(self, result):
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stderr, "")

    def test_hold_and_linear_match_hand_derivation_for_every_block_size_and_offset(self):
        # Blocks of 1 sample make every pass wait for the next sample; 100 sends all at once.
        # From an offset of 0.5 s on the walk reaches the same samples: the tail of the table.
        options = [("--block", block) for block in ("1", "2", "3", "100")] + [("--offset", "0.5")]
        for method, expected in (("hold", HOLD_ROWS), ("linear", LINEAR_ROWS)):
            for option in options:
                with self.subTest(method=method, option=option):
                    result = run("--method", method, "--rate", "4", *option, self.csv)
                    self.assertRuns(result)
                    lines = expected.splitlines(keepends=True)
                    tail = lines[:1] + lines[3:] if option[0] == "--offset" else lines
                    self.assertEqual(result.stdout, "".join(tail))

    def test_default_offset_follows_absolute_time_stamps(self):
        # Times near 1000 s: a grid seeded at 0 would need 4000 outputs before the data; the
        # default offset is the earliest time stamp, so the rows are the same, 1000 s later.
        # The alias-free filter counts samples from time 0, so the command measures its time
        # from the earliest stamp: its rows too are the same, 1000 s later.
        unshifted = run("--method", "aliasfree", "--rate", "4", self.csv)
        self.assertEqual(unshifted.returncode, 0, unshifted.stderr)
        with open(self.csv) as source:
            late = shifted(source.read(), 1000.0, time_column=1)
        cases = (("hold", HOLD_ROWS), ("linear", LINEAR_ROWS), ("aliasfree", unshifted.stdout))
        for method, expected in cases:
            with self.subTest(method=method):
                result = run("--method", method, "--rate", "4", "--block", "2", "-", stdin=late)
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertEqual(result.stdout, shifted(expected, 1000.0))

    def test_output_file_and_standard_input(self):
        with tempfile.TemporaryDirectory() as directory:
            path = os.path.join(directory, "out.csv")
            result = run("--method", "hold", "--rate", "4", "--output", path, self.csv)
            self.assertRuns(result)
            self.assertEqual(result.stdout, "")
            with open(path) as written:
                self.assertEqual(written.read(), HOLD_ROWS)
        # Standard input, in the wide layout the command writes: on its own grid, hold returns
        # every sample, so the wide reader must see the same cells.
        again = run("--method", "hold", "--rate", "4", "-", stdin=LINEAR_ROWS)
        self.assertRuns(again)
        self.assertEqual(again.stdout, LINEAR_ROWS)

    def test_aliasfree_reports_nominal_rates(self):
        # twoChannels.csv: median interval of a: sorted 0.125, 0.125, 0.5, 0.5 -> 0.3125 s ->
        # round(3.2) = 3 Hz; of b: 0.125, 0.25, 0.5, 0.5 -> 0.375 s -> round(2.67) = 3 Hz.
        # The example recording's "pressure" logger samples at 50 Hz with small jitter and a
        # few gaps; its other channels are registered with their rates. Values are not checked.
        cases = (([self.csv], "time,a,b", ["'a': nominal rate 3 Hz", "'b': nominal rate 3 Hz"]),
                 ([], "time,vibration,temperature,pressure",
                  ["channel 'pressure': nominal rate 50 Hz"]))
        for arguments, header, notes in cases:
            with self.subTest(header=header):
                result = run("--method", "aliasfree", "--rate", "4", *arguments)
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertEqual(result.stdout.splitlines()[0], header)
                self.assertEqual(len(result.stderr.splitlines()), len(notes), result.stderr)
                for line, note in zip(result.stderr.splitlines(), notes):
                    self.assertIn(note, line)


class LongSilence(unittest.TestCase):
    """One channel goes 14.5 s without a sample while the other streams in short blocks: the
    silent channel's group reads no output time for 58 grid steps, far more than one block adds,
    so its times must survive in the output ring until it resumes."""

    # "dense": a sample every 0.125 s from 0 to 20 s, value k at k * 0.125 s.
    # "sparse": (0, 100) (0.5, 200) (15, 300) (15.5, 400) (20, 500).
    SPARSE = [(0.0, 100.0), (0.5, 200.0), (15.0, 300.0), (15.5, 400.0), (20.0, 500.0)]

    @staticmethod
    def hold(samples, t):
        """Newest sample at or before t; the first one before it."""
        value = samples[0][1]
        for time, sample in samples:
            if time <= t:
                value = sample
        return value

    @staticmethod
    def linear(samples, t):
        """Line through the pair around t; held after the last sample."""
        for (t0, y0), (t1, y1) in zip(samples, samples[1:]):
            if t < t1:
                return y0 + (t - t0) / (t1 - t0) * (y1 - y0)
        return samples[-1][1]

    def test_silent_channel_keeps_its_grid(self):
        dense = [(k * 0.125, float(k)) for k in range(161)]
        rows = sorted([(t, "dense", y) for t, y in dense] +
                      [(t, "sparse", y) for t, y in self.SPARSE])
        csv = "channel,time,value\n" + "".join("%s,%r,%r\n" % (n, t, y) for t, n, y in rows)
        for method, rule in (("hold", self.hold), ("linear", self.linear)):
            with self.subTest(method=method):
                result = run("--method", method, "--rate", "4", "--block", "4", "-", stdin=csv)
                self.assertEqual(result.returncode, 0, result.stderr)
                lines = result.stdout.splitlines()
                self.assertEqual(lines[0], "time,dense,sparse")
                self.assertEqual(len(lines) - 1, 81)  # 0 to 20 s in steps of 0.25 s
                for j, line in enumerate(lines[1:]):
                    t = 0.25 * j
                    time, a, b = (float(cell) for cell in line.split(","))
                    self.assertEqual(time, t)
                    self.assertAlmostEqual(a, rule(dense, t), delta=1e-9, msg=line)
                    self.assertAlmostEqual(b, rule(self.SPARSE, t), delta=1e-9, msg=line)


class ExampleRecording(unittest.TestCase):
    outputs = {}

    @classmethod
    def setUpClass(cls):
        for method in ("hold", "linear"):
            result = run("--method", method)
            assert result.returncode == 0, result.stderr
            cls.outputs[method] = [line.split(",") for line in result.stdout.splitlines()]

    def test_four_seconds_on_a_full_millisecond_grid(self):
        for method, rows in self.outputs.items():
            with self.subTest(method=method):
                self.assertEqual(rows[0], ["time", "vibration", "temperature", "pressure"])
                times = [float(row[0]) for row in rows[1:]]
                # Newest sample at 3.9996 s: the last output time is 3.999 s.
                self.assertEqual(len(times), 4000)
                self.assertEqual(times[0], 0.0)
                for previous, time in zip(times, times[1:]):
                    self.assertAlmostEqual(time - previous, 0.001, delta=1e-12)
                self.assertTrue(all(cell != "" for row in rows[1:] for cell in row))

    def test_linear_meets_hold_where_grid_and_samples_coincide(self):
        # Every 2 ms the grid meets a 2500 Hz vibration sample and every 10 ms a 100 Hz
        # temperature sample: there both methods give that sample's value (up to the rounding
        # of the grid times). Swapped columns or misread groups would break this.
        hold, linear = self.outputs["hold"][1:], self.outputs["linear"][1:]
        for column, step in ((1, 2), (2, 10)):
            for k in range(0, len(hold), step):
                with self.subTest(column=column, row=k):
                    self.assertAlmostEqual(float(linear[k][column]), float(hold[k][column]),
                                           delta=1e-9)


class Errors(unittest.TestCase):
    def assertFailsWithOneLine(self, result, fragment, status):
        self.assertEqual(result.returncode, status)
        lines = result.stderr.splitlines()
        self.assertEqual(len(lines), 1, result.stderr)
        self.assertTrue(lines[0].startswith("tamresample: "), lines[0])
        self.assertIn(fragment, lines[0])

    def test_bad_files_name_the_line(self):
        header = "channel,time,value\n"
        cases = [
            ("number", header + "a,0.0,1\na,0.5,2\na,zero,3\n", ":4: "),
            ("field count", header + "a,0.0,1\na,0.5\n", ":3: "),
            ("time backwards", header + "a,0,1\nb,1,2\na,2,3\na,1.5,4\n",
             ":5: time 1.5 lies before 2 on line 4"),
            ("wide time backwards", "time,a,b\n0,1,2\n1,3,\n0.5,,6\n", ":4: "),
            ("infinite time", header + "a,inf,1\n", ":2: "),
            ("header", "name,time,value\na,0,1\n", ":1: "),
            ("blank lines count", header + "\na,0,1\n\na,1,x\n", ":5: "),
            ("no rows", header, "no data rows"),
            ("one alias-free stamp", header + "a,0,1\nb,0.5,3\na,1,2\n", "'b'", "aliasfree"),
        ]
        for name, content, fragment, *method in cases:
            with self.subTest(case=name):
                result = run("--method", (method or ["linear"])[0], "-", stdin=content)
                self.assertFailsWithOneLine(result, "<stdin>" + fragment if fragment[0] == ":"
                                            else fragment, 1)
                self.assertEqual(result.stdout, "")

    def test_bad_command_lines_and_missing_files(self):
        # Status 2 for a command line the program cannot parse; 1 for one the library or the
        # file system refuses, with the library's own message passed on.
        missing = os.path.join(DATA_DIR, "no-such-file.csv")
        cases = [
            (["--frobnicate"], "unknown option '--frobnicate'", 2),
            (["--method", "cubic"], "hold, linear or aliasfree", 2),
            (["--rate", "-5"], "--rate", 2),
            (["--block", "0"], "--block", 2),
            (["--offset"], "needs a value", 2),
            ([missing], missing, 1),
            (["--transition", "5"], "Transition bandwith must be more than 10%", 1),
            (["--attenuation", "500"], "Sidelobe attenuation must be more than 0Db", 1),
        ]
        for arguments, fragment, status in cases:
            with self.subTest(arguments=arguments):
                self.assertFailsWithOneLine(run(*arguments), fragment, status)


class Streaming(unittest.TestCase):
    @unittest.skipIf(os.environ.get("TAMRESAMPLE_SANITIZED"), "a sanitizer's own memory grows")
    @unittest.skipUnless(os.path.exists("/proc/self/status"), "needs /proc")
    def test_peak_memory_does_not_grow_with_the_recording(self):
        def peak_kib(rows):
            with tempfile.TemporaryDirectory() as directory:
                path = os.path.join(directory, "long.csv")
                with open(path, "w") as f:
                    f.write("channel,time,value\n")
                    f.writelines("a,%d.5,%d\nb,%d.75,1\n" % (k, k % 7, k) for k in range(rows))
                child = subprocess.Popen([TAMRESAMPLE, "--rate", "2", "--output",
                                          os.path.join(directory, "out.csv"), path])
                # The program's own high-water mark, polled while it runs: the rusage of a
                # child forked from this interpreter would count the interpreter's pages too.
                peak = 0
                while child.poll() is None:
                    peak = max(peak, high_water_kib(child.pid))
                    time.sleep(0.005)
                self.assertEqual(child.returncode, 0)
                return peak
        # Holding the recording would cost some 30 bytes per row, 12 MiB more for the longer.
        small, large = peak_kib(50_000), peak_kib(450_000)
        self.assertGreater(small, 0)
        self.assertLess(large - small, 2048, (small, large))


def high_water_kib(pid):
    try:
        with open("/proc/%d/status" % pid) as status:
            return next(int(line.split()[1]) for line in status if line.startswith("VmHWM:"))
    except (OSError, StopIteration):
        return 0


class Version(unittest.TestCase):
    def test_version_comes_from_the_project(self):
        result = run("--version")
        self.assertEqual(result.returncode, 0)
        self.assertEqual(result.stdout, "tamresample %s\n" % PROJECT_VERSION)


if __name__ == "__main__":
    TAMRESAMPLE, DATA_DIR, PROJECT_VERSION = sys.argv[1:4]
    unittest.main(argv=sys.argv[:1], verbosity=1)
