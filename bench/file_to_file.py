#!/usr/bin/python3
"""Times python3 -m tamlib from file to file against the bare h5py read and write of the same
data, in one invocation, and prints peak resident memory and wall time as a Markdown table.

For each size it writes a recording in the package's HDF5 layout into a temporary folder
(16 channels at 10 kHz, one group per channel with ``time`` and ``value``, 4 M samples per
channel and GB), then runs in turn, `--runs` times each:

- the command: ``python3 -m tamlib FILE --rate 1000 --method linear --output OUT.h5``;
- the baseline: a Python process that imports numpy and h5py, reads every dataset of the file
  and writes an HDF5 file of the result's size (one float64 dataset per channel and the grid).

Peak resident memory is the child's own maximum resident set (``os.wait4``), interpreter and
imports included. Wall times are medians of the runs, peaks their largest, and the time ratio the
median of the run-by-run ratios (the two commands alternate). The files are removed at the end.

    /usr/bin/python3 bench/file_to_file.py BUILD_DIR [--sizes 1,4] [--runs 5] [--method linear]
"""

import argparse
import os
import subprocess
import sys
import tempfile
import time
from statistics import median

import numpy as np

CHANNELS = 16
INPUT_RATE = 10_000.0
SAMPLES_PER_GB = 4_000_000
WRITE_ROWS = 1 << 20

BASELINE = r"""
import sys, h5py, numpy as np
source, target, points = sys.argv[1], sys.argv[2], int(sys.argv[3])
with h5py.File(source, "r") as f:
    names = list(f)
    for name in names:
        for dataset in ("time", "value"):
            f[name][dataset][()]
with h5py.File(target, "w") as f:
    f["grid/time"] = np.arange(points) * 1e-3
    for name in names:
        f[f"{name}/value"] = np.full(points, 1.0)
"""


def write_recording(path: str, samples: int, seed: int = 5) -> None:
    """16 channels in the package's layout, written a slice at a time (contiguous datasets)."""
    import h5py

    rng = np.random.default_rng(seed)
    with h5py.File(path, "w") as f:
        f.attrs["format"] = "tamlib-channels"
        f.attrs["version"] = 1
        for k in range(CHANNELS):
            group = f.create_group(f"ch{k:02d}")
            group.attrs["time_unit"] = "s"
            times = group.create_dataset("time", shape=(samples,), dtype=np.float64)
            values = group.create_dataset("value", shape=(samples,), dtype=np.float64)
            for i in range(0, samples, WRITE_ROWS):
                j = min(samples, i + WRITE_ROWS)
                # Stamps jittered by up to a tenth of a period: irregular, still in order.
                t = np.arange(i, j) / INPUT_RATE + rng.uniform(0.0, 0.1 / INPUT_RATE, j - i)
                times[i:j] = t
                values[i:j] = np.sin(2 * np.pi * (1.0 + k) * t) + 0.01 * rng.normal(size=j - i)


def measure(command, env) -> tuple:
    """Wall seconds and peak resident MiB of one child process."""
    started = time.perf_counter()
    child = subprocess.Popen(command, env=env, stdout=subprocess.DEVNULL,
                             stderr=subprocess.PIPE)
    _, status, usage = os.wait4(child.pid, 0)
    wall = time.perf_counter() - started
    child.returncode = os.waitstatus_to_exitcode(status)
    errors = child.stderr.read().decode()
    child.stderr.close()
    if child.returncode != 0:
        sys.exit(f"{' '.join(command)} failed:\n{errors}")
    return wall, usage.ru_maxrss / 1024.0


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build", help="build directory holding python/tamlib")
    parser.add_argument("--sizes", default="1,4", help="recording sizes in GB (default 1,4)")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--method", default="linear")
    parser.add_argument("--rate", type=float, default=1000.0)
    parser.add_argument("--folder", default=None, help="where the files go (default: /tmp)")
    args = parser.parse_args()

    env = dict(os.environ, PYTHONPATH=os.path.abspath(os.path.join(args.build, "python")))
    python = sys.executable
    rows = []
    with tempfile.TemporaryDirectory(prefix="tamlib-bench-", dir=args.folder) as folder:
        for size in [float(s) for s in args.sizes.split(",")]:
            samples = int(size * SAMPLES_PER_GB)
            source = os.path.join(folder, f"rec-{size:g}gb.h5")
            write_recording(source, samples)
            points = int((samples - 1) / INPUT_RATE * args.rate) + 1
            command = [python, "-m", "tamlib", source, "--rate", str(args.rate), "--method",
                       args.method, "--output", os.path.join(folder, "out.h5")]
            baseline = [python, "-c", BASELINE, source, os.path.join(folder, "base.h5"),
                        str(points)]
            ours, theirs = [], []
            for _ in range(args.runs):
                theirs.append(measure(baseline, env))
                ours.append(measure(command, env))
            wall, rss = median(w for w, _ in ours), max(r for _, r in ours)
            base_wall, base_rss = median(w for w, _ in theirs), max(r for _, r in theirs)
            ratio = median(a / b for (a, _), (b, _) in zip(ours, theirs))
            rows.append((os.path.getsize(source) / 1e9, samples, wall, rss, base_wall, base_rss,
                         ratio))
            os.unlink(source)

    print(f"python3 -m tamlib --rate {args.rate:g} --method {args.method}, {CHANNELS} channels "
          f"at {INPUT_RATE:g} Hz, median of {args.runs} runs\n")
    print("| input file | samples per channel | wall time | peak resident | h5py read+write "
          "| its peak | time ratio | targets |")
    print("|---|---:|---:|---:|---:|---:|---:|---|")
    for gb, samples, wall, rss, base_wall, base_rss, ratio in rows:
        met = ("met" if rss <= 256 else "MISSED") + " / " + ("met" if ratio <= 2 else "MISSED")
        print(f"| {gb:.2f} GB | {samples:,} | {wall:.2f} s | {rss:.0f} MiB | {base_wall:.2f} s "
              f"| {base_rss:.0f} MiB | {ratio:.2f}x | ≤ 256 MiB / ≤ 2x: {met} |")


if __name__ == "__main__":
    main()
