"""Compares the library's Kaiser low-pass designs with references built from scipy and numpy.

Usage: checkDesign.py <path to dumpDesign>

Two references per design: the windowed sinc in double precision, which the coefficients must
match to float precision, and the same arithmetic replayed in single precision step by step,
which they must match to the bit but for rare last-place differences between numpy's Bessel
function and sine and the C library's.
"""

import subprocess
import sys

import numpy as np
from scipy import signal

# Two groups of the alias-free set-up at 16 % transition band and 60 dB:
# (name, transition Hz, design sample rate Hz, cut-off Hz, attenuation dB)
CONFIGURATIONS = [
    ("1000 Hz from 2500 Hz", 160.0, 5000.0, 500.0, 60.0),
    ("100 Hz from 1000 Hz", 16.0, 1000.0, 50.0, 60.0),
]

# Relative to the peak: the coefficients pass through a few roundings of 6e-8 each.
TOLERANCE = 1e-6
# Share of coefficients allowed one unit in the last place off the single-precision replay.
ONE_ULP_SHARE = 0.01


def centred_positions(count):
    # Centred on floor(order / 2): for an even count, half a sample before the window's middle.
    return np.arange(count) - (count - 1) // 2


def double_reference(count, window, sample_rate, cutoff):
    normalised_cutoff = cutoff / (sample_rate / 2.0)
    taps = normalised_cutoff * np.sinc(normalised_cutoff * centred_positions(count)) * window
    return taps / taps.sum()


def single_reference(count, window, sample_rate, cutoff):
    # sin(pi k wc) / (pi k) in this order of operations: near the zeros of the sinc another
    # order changes the last bits, and with them the float.
    normalised_cutoff = cutoff / (sample_rate / 2.0)
    pi_k = np.pi * centred_positions(count)
    with np.errstate(invalid="ignore", divide="ignore"):
        ideal = np.where(pi_k == 0.0, normalised_cutoff, np.sin(pi_k * normalised_cutoff) / pi_k)
    taps = window.astype(np.float32) * ideal.astype(np.float32)
    # The gain at 0 Hz is summed in double, in index order (cumsum, not numpy's pairwise sum).
    gain = np.float32(abs(np.cumsum(taps.astype(np.float64))[-1]))
    return taps / gain


def designed(program, transition, sample_rate, cutoff, attenuation):
    arguments = [program] + [repr(value) for value in (transition, sample_rate, cutoff, attenuation)]
    output = subprocess.run(arguments, check=True, capture_output=True, text=True).stdout
    return np.array([float(line) for line in output.split()], dtype=np.float32)


def ulp_distance(a, b):
    return np.abs(a.view(np.int32).astype(np.int64) - b.view(np.int32).astype(np.int64))


def check(program, name, transition, sample_rate, cutoff, attenuation):
    count, beta = signal.kaiserord(attenuation, transition / (sample_rate / 2.0))
    actual = designed(program, transition, sample_rate, cutoff, attenuation)
    if actual.size != count:
        print(f"{name}: {actual.size} coefficients, expected {count}: FAILED")
        return False
    window = signal.windows.kaiser(count, beta, sym=True)

    expected = double_reference(count, window, sample_rate, cutoff)
    error = np.max(np.abs(actual - expected)) / np.max(np.abs(expected))
    close = error <= TOLERANCE
    print(f"{name}: {count} coefficients, beta {beta:.6g}, max error {error:.3g} of the peak: "
          + ("ok" if close else "FAILED"))

    ulps = ulp_distance(actual, single_reference(count, window, sample_rate, cutoff))
    off = np.count_nonzero(ulps)
    exact = ulps.max() <= 1 and off <= ONE_ULP_SHARE * count
    print(f"{name}: single-precision replay, {off} of {count} differ, at most {ulps.max()} ulp: "
          + ("ok" if exact else "FAILED"))
    return close and exact


def main():
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    results = [check(sys.argv[1], *configuration) for configuration in CONFIGURATIONS]
    return 0 if all(results) else 1


if __name__ == "__main__":
    sys.exit(main())
