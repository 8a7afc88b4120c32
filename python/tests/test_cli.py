"""python3 -m tamlib, and the README's Python example, as a user runs them."""

import os
import pty
import re
import subprocess
import sys
from pathlib import Path

import numpy as np

import tamlib
from conftest import write_two_channels
from tamlib import io


def run(*args, **kwargs):
    return subprocess.run([sys.executable, "-m", "tamlib", *map(str, args)], capture_output=True,
                          text=True, timeout=300, **kwargs)


def test_single_recording_writes_result_and_plot(tmp_path):
    channels = write_two_channels(tmp_path / "rec.h5", np.random.default_rng(8), 400)
    done = run(tmp_path / "rec.h5", "--rate", 50, "--method", "hold", "--output",
               tmp_path / "out.csv", "--plot", tmp_path / "out.png", "--window", 0.2, 1.2,
               "--block", 100)
    assert done.returncode == 0, done.stderr
    assert done.stderr == ""  # no progress bar: stderr is not a terminal
    assert "2 channels, 600 samples in" in done.stdout

    png = (tmp_path / "out.png").read_bytes()
    assert png.startswith(b"\x89PNG\r\n\x1a\n") and len(png) > 10_000

    written = io.read(tmp_path / "out.csv")
    expected = io.from_frame(tamlib.resample(channels, 50.0, "hold"))
    for name in ("a", "b"):
        np.testing.assert_array_equal(written[name][0], expected[name][0])
        np.testing.assert_array_equal(written[name][1], expected[name][1])


def test_progress_bar_counts_seconds_of_recording_on_a_terminal(tmp_path):
    t = np.arange(300_000) / 10_000.0
    io.write(tmp_path / "long.h5", {"x": (t, np.sin(t))})
    controller, terminal = pty.openpty()
    with os.fdopen(controller, "rb", buffering=0) as tty:
        done = subprocess.run([sys.executable, "-m", "tamlib", str(tmp_path / "long.h5"),
                               "--rate", "1000"], stdout=subprocess.PIPE, stderr=terminal,
                              timeout=300)
        os.close(terminal)
        shown = b""
        try:
            while chunk := tty.read(65536):
                shown += chunk
        except OSError:  # the terminal side is closed and drained
            pass
    assert done.returncode == 0
    assert re.search(rb"100%.*30.0/30.0 s of recording", shown), shown[-300:]


def test_bad_input_ends_with_a_message_and_status_2(tmp_path):
    (tmp_path / "bad.csv").write_text("time,a\n0,1\n1,3\n0.5,2\n")
    done = run(tmp_path / "bad.csv", "--rate", 10, "--output", tmp_path / "out.h5")
    assert done.returncode == 2
    assert done.stderr.strip() == (
        f"python3 -m tamlib: error: {tmp_path / 'bad.csv'}: line 4: time stamps are not in "
        "increasing order (0.5 after 1.0).")
    assert sorted(p.name for p in tmp_path.iterdir()) == ["bad.csv"]


def test_batch_reports_each_file_and_fails_for_a_corrupt_one(tmp_path):
    for k in range(3):
        write_two_channels(tmp_path / f"r{k}.csv", np.random.default_rng(8), 400)
    (tmp_path / "r3.h5").write_bytes(b"garbage")
    done = run("batch", tmp_path, "--rate", 20, "--workers", 2, "--format", "csv")
    assert done.returncode == 1, done.stderr
    lines = done.stdout.splitlines()
    assert lines[0].split()[:6] == ["file", "channels", "samples_in", "samples_out", "seconds",
                                    "error"]
    assert len(lines) == 6 and lines[-1].startswith("3 of 4 files resampled")
    assert "OSError" in next(line for line in lines if "r3.h5" in line)
    assert sorted(p.name for p in (tmp_path / "resampled").iterdir()) == [
        "r0.csv", "r1.csv", "r2.csv"]


def test_readme_python_example_runs_as_written(tmp_path):
    readme = Path(os.environ.get("TAMLIB_README", Path(__file__).parents[2] / "README.md"))
    text = readme.read_text()
    section = text[text.index("\n## Python\n"):]
    example = re.search(r"```python\n(.*?)```", section, re.S).group(1)
    (tmp_path / "example.py").write_text(example)
    done = subprocess.run([sys.executable, "example.py"], cwd=tmp_path, capture_output=True,
                          text=True, timeout=120)
    assert done.returncode == 0, done.stderr
    assert "speed" in done.stdout
