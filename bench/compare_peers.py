#!/usr/bin/python3
"""Times the library's benchmark and its peers in one invocation, on the same data, and prints
each ratio as a Markdown table.

Peers: scipy.signal.upfirdn with the library's own padded coefficients and libsoxr (HQ, float64,
one thread; when tamlib_soxr_peer was built) for the alias-free method; numpy for hold
(shared-index searchsorted) and linear (shared-weight interpolation on a (channels, N) array).
Every figure is CPU time of one thread, the best of several rounds that run the library and
every peer in turn, in input samples x channels per second.

    /usr/bin/python3 bench/compare_peers.py BUILD_DIR [--runs N] [--block SAMPLES]
"""

import argparse
import json
import os
import subprocess
import sys
import tempfile
import time

# One thread for numpy and scipy, as for the library; set before they load.
for variable in ("OMP_NUM_THREADS", "OPENBLAS_NUM_THREADS", "MKL_NUM_THREADS"):
    os.environ[variable] = "1"

import numpy as np  # noqa: E402
from scipy.signal import upfirdn  # noqa: E402

# name, input Hz, output Hz, channels, target ratio over upfirdn
ALIAS_FREE = [
    ("aliasfree/2500to1000/16ch", 2500.0, 1000.0, 16, 8.0),
    ("aliasfree/1000to2000/16ch", 1000.0, 2000.0, 16, 5.0),
    ("aliasfree/1024to1000/16ch", 1024.0, 1000.0, 16, 5.0),
    ("aliasfree/1000to100/16ch", 1000.0, 100.0, 16, 5.0),
    ("aliasfree/2500to1000/1ch", 2500.0, 1000.0, 1, 2.0),
    ("aliasfree/2500to1000/3ch", 2500.0, 1000.0, 3, None),
]
SOXR_TARGETS = {"aliasfree/2500to1000/16ch": 1.0}
# name, method, channels, target ratio over numpy
HOLD_LINEAR = [
    ("hold/irregular/16ch", "hold", 16, 2.0),
    ("linear/irregular/16ch", "linear", 16, 2.0),
]


def cpu_seconds(work):
    """CPU time of one call of work()."""
    start = time.process_time()
    work()
    return time.process_time() - start


def library_figures(build, block):
    """items/s of every benchmark, one repetition each."""
    output = subprocess.run(
        [os.path.join(build, "bench", "tamlib_bench"), "--benchmark_format=json",
         f"--block={block}", "--benchmark_min_time=0.5"],
        check=True, capture_output=True, text=True).stdout
    return {run["run_name"]: run["items_per_second"]
            for run in json.loads(output)["benchmarks"] if run.get("run_type") == "iteration"}


def coefficients(build, output_rate, input_rate):
    lines = subprocess.run(
        [os.path.join(build, "bench", "tamlib_dump_coefficients"), repr(output_rate),
         repr(input_rate)], check=True, capture_output=True, text=True).stdout.split()
    up, down, taps = int(lines[0]), int(lines[1]), int(lines[2])
    padded = np.array(lines[3:], dtype=np.float32).astype(np.float64)
    assert padded.size == up * taps
    return up, down, padded


def chosen_kernel(build):
    return subprocess.run([os.path.join(build, "bench", "tamlib_dump_coefficients"), "--kernel"],
                          check=True, capture_output=True, text=True).stdout.strip()


def cpu_name():
    with open("/proc/cpuinfo") as info:
        for line in info:
            if line.startswith("model name"):
                return line.split(":", 1)[1].strip()
    return "unknown"


def soxr_figure(build, data_dir, layout, channels, input_rate, output_rate, runs):
    peer = os.path.join(build, "bench", "tamlib_soxr_peer")
    if not os.path.exists(peer):
        return None
    # The peer reads the first `channels` rows of the signal file.
    output = subprocess.run(
        [peer, os.path.join(data_dir, "signal.f64"), str(layout["samples"]), str(channels),
         str(layout["block"]), repr(input_rate), repr(output_rate), str(runs)],
        check=True, capture_output=True, text=True).stdout
    return float(output)


def hold_peer(signal, stamps, grid):
    index = np.searchsorted(stamps, grid, side="right") - 1
    return signal[:, index]


def linear_peer(signal, stamps, grid):
    first = np.clip(np.searchsorted(stamps, grid, side="right") - 1, 0, stamps.size - 2)
    weight = (grid - stamps[first]) / (stamps[first + 1] - stamps[first])
    left = signal[:, first]
    return left + weight * (signal[:, first + 1] - left)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("build", help="build directory holding bench/tamlib_bench")
    parser.add_argument("--runs", type=int, default=5, help="rounds; each figure is the best")
    parser.add_argument("--block", type=int, default=0,
                        help="samples per channel and block for the library and libsoxr "
                             "(default: the benchmark's own)")
    args = parser.parse_args()

    with tempfile.TemporaryDirectory() as data_dir:
        dump = [os.path.join(args.build, "bench", "tamlib_bench"), f"--dump-data={data_dir}"]
        if args.block > 0:
            dump.append(f"--block={args.block}")
        subprocess.run(dump, check=True)
        with open(os.path.join(data_dir, "layout.txt")) as file:
            layout = {key: int(value) for key, value in (line.split() for line in file)}
        samples = layout["samples"]
        signal = np.fromfile(os.path.join(data_dir, "signal.f64")).reshape(
            layout["channels"], samples)
        stamps = np.fromfile(os.path.join(data_dir, "stamps.f64"))
        # The output grid of the library: 1000 Hz from 0 up to the last stamp.
        grid = np.arange(0, int(np.floor(stamps[-1] * 1000.0)) + 1) / 1000.0

        # Every peer computation as (case, peer, work, items).
        peers = []
        for name, input_rate, output_rate, channels, _ in ALIAS_FREE:
            up, down, padded = coefficients(args.build, output_rate, input_rate)
            block = np.ascontiguousarray(signal[:channels])
            peers.append((name, "scipy upfirdn",
                          lambda padded=padded, block=block, up=up, down=down:
                          upfirdn(padded, block, up, down, axis=1)))
        for name, method, channels, _ in HOLD_LINEAR:
            peer = hold_peer if method == "hold" else linear_peer
            block = np.ascontiguousarray(signal[:channels])
            peers.append((name, "numpy",
                          lambda peer=peer, block=block: peer(block, stamps, grid)))
        channels_of = {case[0]: case[3] for case in ALIAS_FREE}
        channels_of.update({case[0]: case[2] for case in HOLD_LINEAR})

        # Rounds of the library and every peer in turn, so that a change in the machine's load
        # reaches both sides alike; each figure is its best round.
        library = {}
        theirs = {}
        for _ in range(args.runs):
            for name, figure in library_figures(args.build, layout["block"]).items():
                library[name] = max(library.get(name, 0.0), figure)
            for name, peer, work in peers:
                # An untimed call first and the best of three after it, so that the peer finds
                # its memory mapped and warm, as in a loop of its own.
                work()
                seconds = min(cpu_seconds(work) for _ in range(3))
                figure = channels_of[name] * samples / seconds
                theirs[(name, peer)] = max(theirs.get((name, peer), 0.0), figure)
            for name, input_rate, output_rate, channels, _ in ALIAS_FREE:
                if channels == 1:
                    continue
                soxr = soxr_figure(args.build, data_dir, layout, channels, input_rate,
                                   output_rate, 1)
                if soxr is not None:
                    key = (name, "libsoxr HQ")
                    theirs[key] = max(theirs.get(key, 0.0), soxr)

        rows = []
        for name, _, _, _, target in ALIAS_FREE:
            rows.append((name, library[name], "scipy upfirdn",
                         theirs[(name, "scipy upfirdn")], target))
            if (name, "libsoxr HQ") in theirs:
                rows.append((name, library[name], "libsoxr HQ", theirs[(name, "libsoxr HQ")],
                             SOXR_TARGETS.get(name)))
        for name, _, _, target in HOLD_LINEAR:
            rows.append((name, library[name], "numpy", theirs[(name, "numpy")], target))

    print(f"CPU: {cpu_name()}; kernel: {chosen_kernel(args.build)}; one thread, CPU time, "
          f"best of {args.runs} rounds; {samples} samples per channel in blocks of {layout['block']}\n")
    print("| case | library M/s | peer | peer M/s | ratio | target |")
    print("|---|---:|---|---:|---:|---|")
    failed = 0
    for name, ours, peer, theirs, target in rows:
        ratio = ours / theirs
        verdict = ""
        if target is not None:
            met = ratio >= target
            failed += 0 if met else 1
            verdict = f"≥ {target:g}× {'met' if met else 'MISSED'}"
        print(f"| {name} | {ours / 1e6:.1f} | {peer} | {theirs / 1e6:.1f} | {ratio:.2f}× "
              f"| {verdict} |")
    # Without peers: the other streams, and the host copies alone (addData in, read-back out,
    # no resampling), which bound every stream with the same blocks.
    for name in ("hold/2500to1000/16ch", "linear/2500to1000/16ch",
                 "hold/irregular-stamped-per-channel/16ch",
                 "linear/irregular-stamped-per-channel/16ch", "copies/2500to1000/16ch",
                 "copies/1024to1000/16ch", "copies/irregular/16ch"):
        if name in library:
            print(f"| {name} | {library[name] / 1e6:.1f} | | | | |")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
