"""Compares the library's Kaiser low-pass designs with a reference built from scipy and numpy.

Usage: checkDesign.py <path to dumpDesign>
"""

import math
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

# Coefficients are single precision: a few roundings of 6e-8 each, relative to the peak.
TOLERANCE = 1e-6


def reference(transition, sample_rate, cutoff, attenuation):
    nyquist = sample_rate / 2.0
    count, beta = signal.kaiserord(attenuation, transition / nyquist)
    window = signal.windows.kaiser(count, beta, sym=True)
    # The ideal response is centred on floor(order / 2): for an even count, half a sample
    # before the window's middle.
    k = np.arange(count) - (count - 1) // 2
    normalised_cutoff = cutoff / nyquist
    ideal = normalised_cutoff * np.sinc(normalised_cutoff * k)
    taps = ideal * window
    return taps / taps.sum(), beta


def designed(program, transition, sample_rate, cutoff, attenuation):
    arguments = [program] + [repr(value) for value in (transition, sample_rate, cutoff, attenuation)]
    output = subprocess.run(arguments, check=True, capture_output=True, text=True).stdout
    return np.array([float(line) for line in output.split()])


def main():
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    program = sys.argv[1]
    failed = False
    for name, transition, sample_rate, cutoff, attenuation in CONFIGURATIONS:
        expected, beta = reference(transition, sample_rate, cutoff, attenuation)
        actual = designed(program, transition, sample_rate, cutoff, attenuation)
        if actual.size != expected.size:
            print(f"{name}: {actual.size} coefficients, expected {expected.size}")
            failed = True
            continue
        peak = np.max(np.abs(expected))
        error = np.max(np.abs(actual - expected)) / peak
        verdict = "ok" if error <= TOLERANCE else "FAILED"
        print(f"{name}: {actual.size} coefficients, beta {beta:.6g}, "
              f"max error {error:.3g} of the peak: {verdict}")
        failed = failed or error > TOLERANCE
        # For an odd count scipy's own window design agrees on the centre as well.
        if expected.size % 2 == 1:
            firwin = signal.firwin(expected.size, cutoff, window=("kaiser", beta), fs=sample_rate)
            firwin_error = np.max(np.abs(actual - firwin)) / peak
            firwin_verdict = "ok" if firwin_error <= TOLERANCE else "FAILED"
            print(f"{name}: against firwin, max error {firwin_error:.3g}: {firwin_verdict}")
            failed = failed or firwin_error > TOLERANCE
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
