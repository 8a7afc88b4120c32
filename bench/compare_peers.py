#!/usr/bin/python3
"""Times the library's benchmark and its peers in one invocation, on the same data, and prints
each ratio as a Markdown table.

Peers: scipy.signal.upfirdn with the library's own padded coefficients and libsoxr (HQ, float64,
one thread; when tamlib_soxr_peer was built) for the alias-free method; numpy for hold
(shared-index searchsorted) and linear (shared-weight interpolation on a (channels, N) array).
Every figure is CPU time of one thread in input samples x channels per second, over several
rounds that run the library and every peer in turn; the table gives the best and the median
round of each, and judges the targets on the medians. Each ratio also comes paired: the median
over the rounds of that round's own ratio, which a slow spell of the machine that lasts a round
moves far less than it moves either median.

Beside every alias-free stream it prints the floor of the same round: the host's copies through
addData and getResampledData2 (copies/...) plus the kernel alone on an interleaved in-cache
history (tamlib_kernel_bench), their times per item added; after the table, the kernel alone
against the processor's rate of separate multiplies and adds (peak/...). Last, the whole stream
of 16 x 1,000,000 samples in one call sequence (wall time, median of 3) beside upfirdn over the
whole array (wall time, median of 5).

    /usr/bin/python3 bench/compare_peers.py BUILD_DIR [--runs N] [--block SAMPLES] [--no-whole]
"""

import argparse
import json
import os
import statistics
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
    ("aliasfree/2500to1000/16ch", 2500.0, 1000.0, 16, 5.4),
    ("aliasfree/1000to2000/16ch", 1000.0, 2000.0, 16, 5.0),
    ("aliasfree/1024to1000/16ch", 1024.0, 1000.0, 16, 5.0),
    ("aliasfree/1000to100/16ch", 1000.0, 100.0, 16, 5.0),
    ("aliasfree/2500to1000/1ch", 2500.0, 1000.0, 1, 2.5),
    ("aliasfree/2500to1000/3ch", 2500.0, 1000.0, 3, None),
    ("aliasfree/2500to1000/12ch", 2500.0, 1000.0, 12, None),
]
SOXR_TARGETS = {"aliasfree/2500to1000/16ch": 3.0}
# Least share of the floor (copies plus kernel alone) the stream must reach.
FLOOR_TARGETS = {"aliasfree/2500to1000/16ch": 0.9}
WHOLE_SAMPLES = 1000000
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


def kernel_figures(build, kernel):
    """items/s and products/s of the kernel alone for every case, the kernel the library chose,
    and under "peak" the processor's rate of separate multiplies and adds at its width."""
    output = subprocess.run(
        [os.path.join(build, "bench", "tamlib_kernel_bench"), "--benchmark_format=json",
         f"--benchmark_filter=^(kernel/{kernel}/[^/]+/[0-9]+ch|peak/{kernel})$",
         "--benchmark_min_time=0.2"],
        check=True, capture_output=True, text=True).stdout
    prefix = f"kernel/{kernel}/"
    figures = {}
    for run in json.loads(output)["benchmarks"]:
        if run.get("run_type") != "iteration":
            continue
        name = run["run_name"]
        if name.startswith(prefix):
            figures[name[len(prefix):]] = (run["items_per_second"], run["products"])
        elif name.startswith("peak/"):
            figures["peak"] = (None, run["products"])
    return figures


def whole_stream_seconds(build):
    """Median wall seconds of three whole-stream runs of the library, by benchmark name."""
    output = subprocess.run(
        [os.path.join(build, "bench", "tamlib_bench"), "--whole-stream", "--benchmark_format=json",
         "--benchmark_repetitions=3"], check=True, capture_output=True, text=True).stdout
    runs = {}
    for run in json.loads(output)["benchmarks"]:
        if run.get("run_type") == "iteration":
            runs.setdefault(run["run_name"].split("/iterations")[0], []).append(
                run["real_time"] / 1e3)
    return {name: statistics.median(seconds) for name, seconds in runs.items()}


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
    parser.add_argument("--runs", type=int, default=5, help="rounds of the library and peers")
    parser.add_argument("--block", type=int, default=0,
                        help="samples per channel and block for the library and libsoxr "
                             "(default: the benchmark's own)")
    parser.add_argument("--no-whole", action="store_true",
                        help="leave out the whole-stream case")
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
        # reaches both sides alike.
        kernel = chosen_kernel(args.build)
        library = {}
        floors = {}
        kernels = {}
        peaks = []
        theirs = {}
        # The same figures by round, for the ratios paired round by round.
        by_round = {}

        def record(store, side, key, value):
            store.setdefault(key, []).append(value)
            by_round.setdefault((side, key), {})[round_index] = value

        for round_index in range(args.runs):
            figures = library_figures(args.build, layout["block"])
            for name, figure in figures.items():
                record(library, "library", name, figure)
            alone = kernel_figures(args.build, kernel)
            for name, _, _, _, _ in ALIAS_FREE:
                case = name.split("/", 1)[1]
                copies = figures.get("copies/" + case)
                if case in alone:
                    kernels.setdefault(case, []).append(alone[case])
                if copies and case in alone:
                    record(floors, "floor", name, 1.0 / (1.0 / copies + 1.0 / alone[case][0]))
            if "peak" in alone:
                peaks.append(alone["peak"][1])
            for name, peer, work in peers:
                # An untimed call first and the best of three after it, so that the peer finds
                # its memory mapped and warm, as in a loop of its own.
                work()
                seconds = min(cpu_seconds(work) for _ in range(3))
                record(theirs, "peer", (name, peer), channels_of[name] * samples / seconds)
            for name, input_rate, output_rate, channels, _ in ALIAS_FREE:
                if channels == 1:
                    continue
                soxr = soxr_figure(args.build, data_dir, layout, channels, input_rate,
                                   output_rate, 1)
                if soxr is not None:
                    record(theirs, "peer", (name, "libsoxr HQ"), soxr)

        rows = []
        for name, _, _, _, target in ALIAS_FREE:
            rows.append((name, "scipy upfirdn", target))
            if (name, "libsoxr HQ") in theirs:
                rows.append((name, "libsoxr HQ", SOXR_TARGETS.get(name)))
        for name, _, _, target in HOLD_LINEAR:
            rows.append((name, "numpy", target))

    def pair(figures):
        return f"{max(figures) / 1e6:.1f} / {statistics.median(figures) / 1e6:.1f}"

    def paired(ours, other):
        # The median of the ratios of the rounds that have both figures.
        a = by_round[("library", ours)]
        b = by_round[other]
        return statistics.median(a[r] / b[r] for r in a if r in b)

    print(f"CPU: {cpu_name()}; kernel: {kernel}; one thread, CPU time, {args.runs} rounds; "
          f"{samples} samples per channel in blocks of {layout['block']}. Cells: best / median "
          f"round, ratios also paired round by round; targets judged on the medians.\n")
    print("| case | library M/s | floor M/s | of floor (paired) | peer | peer M/s "
          "| ratio (paired) | target |")
    print("|---|---:|---:|---:|---|---:|---:|---|")
    failed = 0
    for name, peer, target in rows:
        ours = library[name]
        other = theirs[(name, peer)]
        ratio_best = max(ours) / max(other)
        ratio_median = statistics.median(ours) / statistics.median(other)
        verdicts = []
        if target is not None:
            met = ratio_median >= target
            failed += 0 if met else 1
            verdicts.append(f"≥ {target:g}× {'met' if met else 'MISSED'}")
        floor_cells = "| |"
        if name in floors:
            of_floor = statistics.median(ours) / statistics.median(floors[name])
            floor_cells = (f"{pair(floors[name])} | {100 * of_floor:.0f} % "
                           f"({100 * paired(name, ('floor', name)):.0f} %) |")
            if name in FLOOR_TARGETS and peer == "scipy upfirdn":
                met = of_floor >= FLOOR_TARGETS[name]
                failed += 0 if met else 1
                verdicts.append(f"≥ {100 * FLOOR_TARGETS[name]:.0f} % of floor "
                                f"{'met' if met else 'MISSED'}")
        print(f"| {name} | {pair(ours)} | {floor_cells} {peer} | {pair(other)} "
              f"| {ratio_best:.2f}× / {ratio_median:.2f}× ({paired(name, ('peer', (name, peer))):.2f}×) "
              f"| {', '.join(verdicts)} |")
    # Without peers: the other streams, and the host copies alone (addData in, read-back out,
    # no resampling), which bound every stream with the same blocks.
    others = ["hold/2500to1000/16ch", "linear/2500to1000/16ch",
              "hold/irregular-stamped-per-channel/16ch",
              "linear/irregular-stamped-per-channel/16ch"]
    others += sorted(name for name in library if name.startswith("copies/"))
    for name in others:
        if name in library:
            print(f"| {name} | {pair(library[name])} | | | | | | |")

    if kernels and peaks:
        peak = statistics.median(peaks)
        print(f"\nThe kernel alone against the processor's rate of separate multiplies and adds "
              f"(peak/{kernel}: {peak / 1e9:.1f} G products/s), medians of the rounds:\n")
        print("| case | kernel M/s | G products/s | of peak |")
        print("|---|---:|---:|---:|")
        for case, runs in kernels.items():
            products = statistics.median(run[1] for run in runs)
            print(f"| {case} | {statistics.median(run[0] for run in runs) / 1e6:.1f} "
                  f"| {products / 1e9:.1f} | {100 * products / peak:.0f} % |")

    if not args.no_whole:
        whole = np.random.default_rng(20240612).standard_normal((16, WHOLE_SAMPLES))
        up, down, padded = coefficients(args.build, 1000.0, 2500.0)
        peer_seconds = []
        for _ in range(5):
            start = time.perf_counter()
            upfirdn(padded, whole, up, down, axis=1)
            peer_seconds.append(time.perf_counter() - start)
        ours = whole_stream_seconds(args.build)
        theirs_whole = statistics.median(peer_seconds)
        items = 16 * WHOLE_SAMPLES
        print(f"\nWhole stream, 16 x {WHOLE_SAMPLES} samples, 2500 -> 1000 Hz, wall time; "
              f"library median of 3, scipy upfirdn on the whole array median of 5:\n")
        print("| case | seconds | M/s | ratio to upfirdn |")
        print("|---|---:|---:|---:|")
        print(f"| scipy upfirdn | {theirs_whole:.3f} | {items / theirs_whole / 1e6:.1f} | |")
        labels = {"whole/aliasfree/2500to1000/16ch": "library, addData to last read-back",
                  "whole-with-setup/aliasfree/2500to1000/16ch":
                      "library, create to delete (set-up included)"}
        for name, label in labels.items():
            if name in ours:
                print(f"| {label} | {ours[name]:.3f} | {items / ours[name] / 1e6:.1f} "
                      f"| {theirs_whole / ours[name]:.2f}× |")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
