"""Alias-free timing: the library's residual lag, and resample() at real time stamps."""

import math

import numpy as np
import pandas as pd
import pytest

import tamlib
from tamlib._resampler import _coefficient_count, _rate_ratio

TONE = 5.0

# Up and down, integer and awkward ratios.
PAIRS = [
    (1000, 250), (1000, 100), (1000, 300), (1024, 1000),
    (1000, 333), (1000, 200), (1000, 500), (2500, 1000),
    (1000, 2000), (44100, 48000), (48000, 44100), (1000, 400),
    (1000, 125), (500, 1000), (250, 1000), (100, 1000),
    (1000, 3000), (2000, 1500), (1500, 1000), (3000, 1000),
    (4000, 1000), (800, 600), (600, 800), (1200, 900),
    (1000, 750), (1000, 1100), (1100, 1000), (2048, 1000),
    (1000, 1024), (960, 1000), (1000, 960), (999, 250),
    (10000, 2500), (8000, 1000),
]


def c_path(fin, fout, times, values):
    """The library's own outputs, as a C host reads them (tamlib.Resampler is one-to-one)."""
    ring = int(times.size * max(1.0, fout / fin)) + 4096
    with tamlib.Resampler("aliasfree", float(fout), input_buffer=times.size + 2,
                          output_buffer=ring) as r:
        channel = r.add_async_channel2(float(fin))
        r.initialize()
        r.add(channel, values, times=times)
        r.calculate()
        first = r.read(channel)
        r.finish(times[-1])
        last = r.read(channel)
    return np.r_[first[0], last[0]], np.r_[first[1], last[1]]


def fitted_lag(times, values, skip=0.5):
    """Seconds by which `values` lag the tone, fitted away from the edges."""
    keep = np.isfinite(values) & (times > times[0] + skip) & (times < times[-1] - skip)
    w = 2 * np.pi * TONE
    basis = np.c_[np.sin(w * times[keep]), np.cos(w * times[keep])]
    a, b = np.linalg.lstsq(basis, values[keep], rcond=None)[0]
    return -math.atan2(b, a) / w


def test_the_length_rule_matches_the_library():
    # The estimate the library reports follows from the coefficient count and P/Q.
    for fin, fout in PAIRS + [(1000, 7), (7, 1000), (1, 1)]:
        for percent, attenuation in [(16, 60.0), (10, 90.0), (40, 20.0), (100, 3.0)]:
            count = _coefficient_count(fout, fin, percent, attenuation)
            up, down = _rate_ratio(fout, fin)
            pre = down - ((count - 1) // 2) % down
            estimate = -(-(pre + count) // up)
            assert estimate == tamlib.alias_free_filter_length(fout, fin, percent, attenuation)
    # The sweep below covers pairs with and without a residual.
    shifted = sum(tamlib.alias_free_delay(fin, fout) != 0.0 for fin, fout in PAIRS)
    assert 5 < shifted < len(PAIRS) - 5


@pytest.mark.parametrize("fin, fout", PAIRS)
def test_alignment_over_rate_pairs(fin, fout):
    n = int(2.5 * fin)
    times = np.arange(n) / fin
    tone = np.sin(2 * np.pi * TONE * times)
    delay = tamlib.alias_free_delay(fin, fout)
    period = 1.0 / fin

    # The C path runs ahead by the documented residual.
    c_times, c_values = c_path(fin, fout, times, tone)
    assert fitted_lag(c_times, c_values) == pytest.approx(delay, abs=0.01 * period)

    # resample() compensates it.
    out = tamlib.resample(pd.Series(tone, index=times), fout, "aliasfree")
    lag = fitted_lag(out.index.to_numpy(), out.iloc[:, 0].to_numpy())
    assert abs(lag) < 0.01 * period


def sine_at(times):
    return np.sin(2 * np.pi * TONE * times)


def irregular_cases():
    rng = np.random.default_rng(7)
    k = np.arange(4000)
    gap = k / 1000.0
    gap = gap[(gap < 1.5) | (gap >= 2.0)]
    jitter = (k + rng.uniform(-0.3, 0.3, k.size)) / 1000.0
    drift = k / 1000.0 * 1.001
    return {"gap": gap, "jitter": jitter, "drift": drift}


@pytest.mark.parametrize("case", ["gap", "jitter", "drift"])
def test_irregular_stamps_are_resampled_at_their_real_times(case):
    times = irregular_cases()[case]
    out = tamlib.resample({"x": (times, sine_at(times))}, 250.0, "aliasfree", start=0.0)
    at, got = out.index.to_numpy(), out["x"].to_numpy()
    made = np.isfinite(got)
    # Produced up to the end, and right wherever produced.
    assert made.sum() > 0.8 * at.size and at[made][-1] > times[-1] - 0.1
    np.testing.assert_allclose(got[made], sine_at(at[made]), atol=1e-3)
    if case == "gap":
        assert not made[(at >= 1.5) & (at < 2.0)].any()
        assert made[(at > 1.2) & (at < 1.3)].all() and made[(at > 2.2) & (at < 2.3)].all()


def test_a_gap_limit_in_input_periods():
    times = np.r_[np.arange(1000), np.arange(1003, 2000)] / 1000.0
    kept = tamlib.resample({"x": (times, sine_at(times))}, 250.0, "aliasfree", max_gap=5.0)
    split = tamlib.resample({"x": (times, sine_at(times))}, 250.0, "aliasfree", max_gap=2.0)
    middle = (kept.index > 0.99) & (kept.index < 1.01)
    assert kept["x"][middle].notna().all()
    assert split["x"][middle].isna().all()
    with pytest.raises(ValueError, match="max_gap"):
        tamlib.resample({"x": (times, times)}, 250.0, "aliasfree", max_gap=1.0)


def test_registration_rules_agree_across_languages():
    # tamresample, the library and this package each hold a copy of the grouping tolerance and
    # of the nominal-rate window; a change to one must reach the others.
    import pathlib
    import re

    from tamlib._aliasfree import NOMINAL_INTERVALS
    from tamlib._resampler import _GROUP_TOLERANCE

    root = pathlib.Path(__file__).resolve().parents[2]
    rules = (root / "tools" / "RegistrationRules.h").read_text()
    library = (root / "src" / "resampler" / "Resampler.h").read_text()
    assert float(re.search(r"kGroupTolerance = ([0-9.e-]+);", rules)[1]) == _GROUP_TOLERANCE
    assert float(re.search(r"kMachineEpsilon = ([0-9.e-]+);", library)[1]) == _GROUP_TOLERANCE
    assert int(re.search(r"kNominalRateIntervals = (\d+);", rules)[1]) == NOMINAL_INTERVALS
