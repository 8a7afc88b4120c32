"""tamlib.resample on pandas and numpy input, against independent references."""

import numpy as np
import pandas as pd
import pytest

import tamlib
from conftest import irregular_times


def grid(n, rate):
    """The output grid as the library builds it: repeated addition of one period from 0."""
    return np.add.accumulate(np.r_[0.0, np.full(n - 1, 1.0 / rate)])


def hold_reference(times, values, at):
    """The newest sample at or before each time (numpy only)."""
    return values[np.searchsorted(times, at, side="right") - 1]


@pytest.mark.parametrize("method", ["hold", "linear"])
def test_frame_already_on_the_grid_comes_back_unchanged(method):
    rate, n = 100.0, 500
    values = {"a": np.sin(np.arange(n) / 7.0), "b": np.arange(n) * 0.25}
    float_frame = pd.DataFrame(values, index=pd.Index(grid(n, rate), name="t"))
    dates = pd.date_range("2024-05-01 08:00", periods=n, freq="10ms", tz="Europe/Berlin",
                          name="when")
    date_frame = pd.DataFrame(values, index=dates)

    for frame in (float_frame, date_frame):
        out = tamlib.resample(frame, rate, method, block_size=64)
        pd.testing.assert_index_equal(out.index, frame.index)
        assert list(out.columns) == ["a", "b"]
        # Datetime stamps are exact multiples of 10 ms while the grid is summed period by period:
        # they part by accumulated rounding (well below 1e-12 s over 5 s), which moves linear
        # values by that times the slope (at most 25 per second here).
        np.testing.assert_allclose(out.to_numpy(), frame.to_numpy(), rtol=0, atol=1e-10)
    np.testing.assert_array_equal(tamlib.resample(float_frame, rate, method).to_numpy(),
                                  float_frame.to_numpy())


def test_irregular_channels_starting_at_different_times_match_references():
    rng = np.random.default_rng(7)
    rate = 200.0
    channels = {
        "early": irregular_times(rng, 900, 0.003, start=0.0),
        "late": irregular_times(rng, 300, 0.011, start=1.2345),
        "sparse": irregular_times(rng, 40, 0.05, start=0.4),
    }
    data = {name: (t, np.cos(3.0 * t) + t) for name, t in channels.items()}
    linear = tamlib.resample(data, rate, "linear", tolerance=0.0, block_size=50)
    hold = tamlib.resample(data, rate, "hold", tolerance=0.0, block_size=50)

    assert list(linear.columns) == ["early", "late", "sparse"]
    at = linear.index.to_numpy()
    np.testing.assert_array_equal(at, grid(len(at), rate))
    assert at[-1] <= max(t[-1] for t in channels.values()) < at[-1] + 1.0 / rate
    for name, (times, values) in data.items():
        inside = (at >= times[0]) & (at <= times[-1])
        # NaN exactly outside the channel's own first and last time stamp.
        assert linear[name].notna().to_numpy().tolist() == inside.tolist(), name
        assert hold[name].notna().to_numpy().tolist() == inside.tolist(), name
        np.testing.assert_allclose(linear[name][inside], np.interp(at[inside], times, values),
                                   rtol=1e-12, atol=1e-12, err_msg=name)
        np.testing.assert_array_equal(hold[name][inside],
                                      hold_reference(times, values, at[inside]), err_msg=name)


def test_frame_columns_with_gaps_are_channels_of_their_own():
    index = np.array([0.0, 0.1, 0.2, 0.3, 0.4])
    frame = pd.DataFrame({"full": [0.0, 1.0, 2.0, 3.0, 4.0],
                          "gappy": [np.nan, 10.0, np.nan, 30.0, np.nan],
                          7: np.nan}, index=index)
    out = tamlib.resample(frame, 20.0, "linear")
    assert list(out.columns) == ["full", "gappy", 7]
    np.testing.assert_allclose(out["full"], np.arange(9) * 0.5, atol=1e-12)
    expected = [np.nan, np.nan, 10.0, 15.0, 20.0, 25.0, 30.0, np.nan, np.nan]
    np.testing.assert_allclose(out["gappy"], expected, atol=1e-12)
    assert out[7].isna().all()
    single = tamlib.resample(frame["gappy"], 20.0, "linear")  # its grid starts at its own 0.1
    assert list(single.columns) == ["gappy"]
    np.testing.assert_allclose(single.index, [0.1, 0.15, 0.2, 0.25, 0.3])
    np.testing.assert_allclose(single["gappy"], expected[2:7], atol=1e-12)


def test_start_and_end_choose_the_grid():
    times = np.array([0.0, 1.0, 2.0, 3.0])
    out = tamlib.resample({"x": (times, times * 2.0)}, 2.0, "linear", start=0.5, end=2.0)
    np.testing.assert_allclose(out.index, [0.5, 1.0, 1.5, 2.0])
    np.testing.assert_allclose(out["x"], [1.0, 2.0, 3.0, 4.0])


def test_alias_free_passes_a_tone_and_removes_what_the_grid_cannot_carry():
    rate_in, rate_out, n = 2500.0, 1000.0, 10000
    t = np.arange(n) / rate_in
    tone = np.sin(2 * np.pi * 50.0 * t)
    alias = 0.5 * np.sin(2 * np.pi * 900.0 * t)  # above the output Nyquist frequency of 500 Hz
    out = tamlib.resample(pd.DataFrame({"x": tone + alias, "one": np.ones(n)}, index=t),
                          rate_out, "aliasfree")
    at = out.index.to_numpy()
    settled = (at > 0.1) & (at < at[-1] - 0.1)
    assert out["x"].notna().all()
    # 60 dB stop band: the 900 Hz component is down to 0.5e-3; the filter's passband ripple at
    # 60 dB is of the same order.
    np.testing.assert_allclose(out["x"][settled], np.sin(2 * np.pi * 50.0 * at[settled]),
                               atol=5e-3)
    np.testing.assert_allclose(out["one"][settled], 1.0, atol=2e-3)


def test_bad_input_is_refused_with_a_reason():
    cases = [
        ("unsorted", {"x": ([0.0, 0.2, 0.1], [1.0, 2.0, 3.0])}, {}, "not in increasing order"),
        ("nan time", {"x": ([0.0, np.nan], [1.0, 2.0])}, {}, "not finite"),
        ("lengths", {"x": ([0.0, 0.1], [1.0])}, {}, "2 time stamps and 1 values"),
        ("mixed", {"x": ([0.0, 1.0], [1.0, 2.0]),
                   "y": (pd.date_range("2024", periods=2, freq="s"), [1.0, 2.0])},
         {}, "mix datetime and float"),
        ("text", pd.DataFrame({"x": ["a", "b"]}, index=[0.0, 1.0]), {}, "does not hold numbers"),
        ("method", {"x": ([0.0, 1.0], [1.0, 2.0])}, {"method": "spline"}, "Unknown method"),
        ("rate", {"x": ([0.0, 1.0], [1.0, 2.0])}, {"rate": 0.0}, "rate must be"),
        ("empty", {}, {}, "No channels"),
    ]
    for name, data, options, message in cases:
        kwargs = {"rate": 10.0, **options}
        with pytest.raises(ValueError, match=message):
            tamlib.resample(data, **kwargs)


def test_progress_counts_seconds_of_the_grid_span():
    seen = []
    times = np.arange(1000) / 100.0
    tamlib.resample({"a": (times, times), "b": (times[:500], times[:500])}, 100.0,
                    block_size=64, progress=seen.append)
    assert sum(seen) == pytest.approx(9.99)
    assert len(seen) > 2 and min(seen) > 0.0
