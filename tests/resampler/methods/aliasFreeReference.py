#!/usr/bin/python3
"""Checks the alias-free method's outputs against scipy.signal.upfirdn.

Runs the dump program (dumpAliasFree), which streams a random signal through the library and
prints the group's padded coefficients, the input and every output. From the coefficients and
the input alone this script recomputes what the outputs must be:

- the group holds T - 1 zeros of history before the first real sample;
- output m lies at high-rate position p_m = (s + d + m) * Q, where s is the number of output
  periods, summed from 0, that reach the first output time, and d the delay: the number of
  leading outputs discarded so that the response centre meets the first real sample;
- at position p the window is x[i .. i + T - 1], i = floor(p / P), and sample k meets
  coefficient c[p + P * (T - 1) - P * k]: this is upfirdn's full convolution
  y[n] = sum_k c[n * Q - k * P] x[k] at high-rate index p + P * (T - 1);
- the flush appends zeros, and the stream ends after round(n * P / Q) - s outputs: one per
  output period from the first output time to the end of the input;
- the output times are the grid: the first output time plus one period, added repeatedly.

Values must agree within 1e-12 relative to the magnitude of the terms summed (a different
order of the same additions), times exactly. Usage: aliasFreeReference.py <dumpAliasFree>
"""

import subprocess
import sys

import numpy as np
from scipy.signal import upfirdn

TOLERANCE = 1e-12


def parse(text):
    cases = []
    lines = iter(text.splitlines())
    for line in lines:
        key, _, rest = line.partition(" ")
        if key == "case":
            cases.append({"label": rest})
        elif key in ("coefficients", "inputs"):
            cases[-1][key] = np.array([float(next(lines)) for _ in range(int(rest))])
        elif key == "outputs":
            pairs = [next(lines).split() for _ in range(int(rest))]
            cases[-1]["times"] = [float(t) for t, _ in pairs]
            cases[-1]["values"] = np.array([float(v) for _, v in pairs])
        else:
            cases[-1][key] = float(rest)
    return cases


def derived_delay(c, down):
    """The delay from the layout of the padded array: pre leading zeros, then N taps whose
    centre D = floor((N - 1) / 2) lies at D + pre, rounded to whole output samples."""
    nonzero = np.flatnonzero(c)
    pre = int(nonzero[0])
    length = int(nonzero[-1]) - pre + 1
    centre = (length - 1) // 2
    return int(np.floor((centre + pre) / down + 0.5))


def check(case):
    up, down, taps = int(case["up"]), int(case["down"]), int(case["taps"])
    c, x = case["coefficients"], case["inputs"]
    rate, offset = case["outputRate"], case["initialOffset"]
    problems = []

    if len(c) != up * taps:
        problems.append(f"coefficient count {len(c)} is not P * T = {up * taps}")
    delay = derived_delay(c, down)
    if delay != int(case["delay"]):
        problems.append(f"delay {int(case['delay'])}, the layout gives {delay}")

    period = 1.0 / rate
    aligned, reached = 0, 0.0
    while offset > reached:
        aligned += 1
        reached = reached + period

    if (len(x) * up) % down != 0:
        raise ValueError("pick an input length whose output length is whole")
    expected_count = len(x) * up // down - aligned
    if len(case["values"]) != expected_count:
        problems.append(f"{len(case['values'])} outputs, expected {expected_count}")

    # A few more leading zeros put the wanted high-rate indices on upfirdn's output grid.
    shift = next(z for z in range(down) if (up * (taps - 1 + z)) % down == 0)
    history = np.concatenate([np.zeros(taps - 1 + shift), x])
    reference = upfirdn(c, history, up, down)
    magnitude = upfirdn(np.abs(c), np.abs(history), up, down)

    count = min(len(case["values"]), expected_count)
    positions = (aligned + delay + np.arange(count)) * down
    indices = (positions + up * (taps - 1 + shift)) // down
    if count and indices[-1] >= len(reference):
        problems.append("outputs beyond the end of the full convolution")
        return problems
    expected = reference[indices]
    error = np.abs(case["values"][:count] - expected)
    scale = np.maximum(magnitude[indices], np.finfo(float).tiny)
    worst = int(np.argmax(error / scale)) if count else 0
    if count and error[worst] > TOLERANCE * scale[worst]:
        problems.append(
            f"output {worst}: {case['values'][worst]!r}, upfirdn gives {expected[worst]!r}"
            f" (relative {error[worst] / scale[worst]:.3g})")

    time = offset
    for m in range(count):
        if case["times"][m] != time:
            problems.append(f"output {m} at {case['times'][m]!r}, expected {time!r}")
            break
        time = time + period

    identical = int(np.count_nonzero(error == 0.0))
    print(f"{case['label']}: P={up} Q={down} T={taps} delay={delay} aligned={aligned} "
          f"outputs={len(case['values'])} bit-identical={identical} "
          f"max relative={np.max(error / scale) if count else 0:.3g}")
    return problems


def main():
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    dump = subprocess.run([sys.argv[1]], check=True, capture_output=True, text=True).stdout
    cases = parse(dump)
    failed = False
    for case in cases:
        for problem in check(case):
            print(f"  FAIL {case['label']}: {problem}")
            failed = True
    if not cases:
        print("FAIL: the dump holds no case")
        failed = True
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
