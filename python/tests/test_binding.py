"""tamlib.Resampler against the C interface driven directly through ctypes."""

import subprocess
import sys
import textwrap

import numpy as np
import pytest

import tamlib
from conftest import irregular_times


def bits(array):
    return np.ascontiguousarray(array, dtype=np.float64).view(np.uint64)


def stream_for(method, rng):
    """(rate, nominal input rate or None, blocks, end) of one channel."""
    if method == "aliasfree":
        n = 3000
        times = np.arange(n) / 2500.0
        values = np.sin(2 * np.pi * 37.0 * times) + rng.normal(0.0, 0.1, n)
        nominal = 2500.0
    else:
        n = 2500
        times = irregular_times(rng, n, 1.3e-3)
        values = np.cumsum(rng.normal(0.0, 1.0, n))
        nominal = None
    cuts = np.r_[0, np.sort(rng.choice(np.arange(1, n), 9, replace=False)), n]
    blocks = [(times[a:b], values[a:b]) for a, b in zip(cuts[:-1], cuts[1:])]
    return 1000.0, nominal, blocks, times[-1], max(b - a for a, b in zip(cuts[:-1], cuts[1:]))


@pytest.mark.parametrize("method", ["hold", "linear", "aliasfree"])
def test_resampler_and_resample_give_the_c_interface_results_bit_for_bit(capi, method):
    """Resampler fed in the C host's blocks reads the C host's bits; resample() streams in its
    own blocks and puts each of those values on its grid point, and NaN everywhere else."""
    rng = np.random.default_rng(11)
    rate, nominal, blocks, end, longest = stream_for(method, rng)
    buffers = dict(input_buffer=longest + 2, output_buffer=4 * longest + 64)
    end += 0.5 / rate
    c_times, c_values = capi.run(method, rate, blocks, end, nominal_rate=nominal, **buffers)

    with tamlib.Resampler(method, rate, **buffers) as r:
        ch = r.add_async_channel() if nominal is None else r.add_async_channel2(nominal)
        r.initialize()
        for block_times, block_values in blocks:
            r.add(ch, block_values, times=block_times)
            r.calculate()
        r.finish(end)
        times, values = r.read(ch)
    assert c_times.size > 1000
    np.testing.assert_array_equal(bits(times), bits(c_times))
    np.testing.assert_array_equal(bits(values), bits(c_values))

    data = {"x": tuple(np.concatenate(parts) for parts in zip(*blocks))}
    frame = tamlib.resample(data, rate, method, block_size=333)
    column = frame["x"].to_numpy()
    index = np.rint(c_times * rate).astype(int)
    inside = index < column.size
    assert inside.sum() > 0.9 * column.size
    np.testing.assert_array_equal(bits(column[index[inside]]), bits(c_values[inside]))
    assert np.isnan(np.delete(column, index[inside])).all()
    np.testing.assert_array_equal(bits(frame.index.to_numpy()[index[inside]]),
                                  bits(c_times[inside]))


def test_errors_arrive_as_value_error_with_the_library_message():
    def out_of_order():
        r = tamlib.Resampler("linear")
        ch = r.add_async_channel()
        r.add(ch, [1.0, 2.0], times=[0.0, 0.001])
        r.add(ch, [3.0], times=[0.0005])

    def unequal_counts():
        r = tamlib.Resampler("hold")
        a, b = r.add_sync_channel(100.0), r.add_sync_channel(100.0)
        r.add(a, [1.0, 2.0])
        r.add(b, [1.0])
        r.calculate()

    def closed():
        r = tamlib.Resampler("hold")
        ch = r.add_async_channel()
        r.close()
        r.add(ch, [1.0], times=[0.0])

    cases = [
        ("rate 0", lambda: tamlib.Resampler("linear", rate=0.0),
         "Samplerate must be a positive number."),
        ("input ring 0", lambda: tamlib.Resampler("hold", input_buffer=0),
         "Input buffer size must be more than 0."),
        ("attenuation", lambda: tamlib.Resampler("aliasfree", attenuation_db=401.0),
         "Sidelobe attenuation must be more than 0Db and less than 400dB."),
        ("transition", lambda: tamlib.Resampler("aliasfree", transition_percent=9),
         "Transition bandwith must be more than 10% and less than 100%."),
        ("explicit alias-free", lambda: tamlib.Resampler("aliasfree", explicit_times=True),
         "Explicit timebase not supported."),
        ("alias-free async", lambda: tamlib.Resampler("aliasfree").add_async_channel(),
         "Channel not supported."),
        ("channel rate", lambda: tamlib.Resampler("hold").add_sync_channel(-1.0),
         "Samplerate must be more than 0."),
        ("array too large", lambda: tamlib.Resampler("hold").add_async_array_channel(600),
         "Input buffer to small."),
        ("out of order", out_of_order, "Invalid timestamps."),
        ("counts", unequal_counts, "All channels must have the same number of samples added."),
        ("foreign", lambda: tamlib.Resampler("hold").read(tamlib.Resampler("hold").add_channel()),
         "The channel belongs to another resampler."),
        ("closed", closed, "The resampler is closed."),
        ("method", lambda: tamlib.Resampler("cubic"), "Unknown method 'cubic'"),
    ]
    for name, action, message in cases:
        with pytest.raises(ValueError) as caught:
            action()
        assert str(caught.value).startswith(message), name


def test_refused_block_leaves_the_channel_as_it_was():
    with tamlib.Resampler("linear", rate=10.0) as r:
        ch = r.add_async_channel()
        r.add(ch, [0.0, 1.0], times=[0.0, 0.1])
        with pytest.raises(ValueError):
            r.add(ch, [5.0, 5.0], times=[0.05, 0.3])
        r.add(ch, [2.0], times=[0.2])
        r.finish(0.2)
        times, values = r.read(ch)
    np.testing.assert_allclose(times, [0.0, 0.1, 0.2])
    np.testing.assert_allclose(values, [0.0, 1.0, 2.0])


def test_array_channel_reads_one_row_per_output():
    # Hold at 1 kHz of samples at 0, 1, 2, ... ms: output k is sample k; the last sample has no
    # successor and comes from the end of data.
    n, size = 6, 3
    samples = np.arange(n * size, dtype=float).reshape(n, size)
    with tamlib.Resampler("hold", rate=1000.0) as r:
        ch = r.add_async_array_channel(size)
        r.add(ch, samples, times=np.arange(n) / 1000.0)
        r.calculate()
        times, values = r.read(ch)
        assert values.shape == (n - 1, size)
        np.testing.assert_array_equal(values, samples[:-1])
        r.finish((n - 1) / 1000.0)
        times, values = r.read(ch)
        assert values.shape == (1, size)
        np.testing.assert_array_equal(values, samples[-1:])
        assert r.read(ch)[1].shape == (0, size)


def test_channels_of_one_group_share_their_output_times():
    # Two channels registered with the same rate and offset form one group, whose times are read
    # once per pass; a third channel of its own group has its own times.
    stamps = np.array([0.0, 0.012, 0.019, 0.031, 0.04])
    with tamlib.Resampler("linear", rate=100.0, tolerance=0.0) as r:
        a = r.add_async_channel2(100.0)
        b = r.add_async_channel2(100.0)
        c = r.add_async_channel()
        r.add(a, stamps * 100.0, times=stamps)
        r.add(b, -stamps, times=stamps)
        r.add(c, [7.0, 8.0], times=[0.0, 0.02])
        r.finish(0.04)
        (ta, va), (tb, vb), (tc, vc) = r.read(a), r.read(b), r.read(c)
    np.testing.assert_allclose(ta, [0.0, 0.01, 0.02, 0.03, 0.04], atol=1e-15)
    np.testing.assert_array_equal(ta, tb)
    np.testing.assert_allclose(va, ta * 100.0, atol=1e-12)  # a line through every sample
    np.testing.assert_allclose(vb, -ta, atol=1e-12)
    np.testing.assert_allclose(tc, [0.0, 0.01, 0.02, 0.03, 0.04], atol=1e-15)
    np.testing.assert_allclose(vc, [7.0, 7.5, 8.0, 8.0, 8.0])


def test_read_gives_each_output_once_across_passes():
    with tamlib.Resampler("hold", rate=10.0, output_buffer=4) as r:
        ch = r.add_async_channel()
        # Ten outputs in passes of at most three: more than one read of a ring of four allows.
        for k in range(0, 10, 3):
            stamps = np.arange(k, min(k + 3, 10)) / 10.0
            r.add(ch, stamps * 10.0, times=stamps)
            r.calculate()
        r.finish(0.9)
        times, values = r.read(ch)
    np.testing.assert_allclose(values, np.arange(10.0))
    assert r.read(ch)[0].size == 0


def test_no_call_sequence_ends_the_interpreter():
    script = textwrap.dedent(
        """
        import random, numpy as np, tamlib
        rng = random.Random(3)
        errors = 0
        for round_ in range(60):
            try:
                r = tamlib.Resampler(rng.choice(["hold", "linear", "aliasfree"]),
                                     rate=rng.choice([1.0, 100.0, 1000.0, -1.0]),
                                     input_buffer=rng.choice([1, 4, 50]),
                                     output_buffer=rng.choice([1, 2, 8, 100]))
            except ValueError:
                errors += 1
                continue
            channels = []

            def add(ch):
                n, t0 = rng.randrange(0, 30), rng.uniform(-1.0, 3.0)
                r.add(ch, np.ones((n, ch.array_size)) if ch.is_array else np.ones(n),
                      times=np.sort([t0 + rng.random() for _ in range(n)]))

            registrations = [r.add_async_channel,
                             lambda: r.add_async_channel2(rng.choice([0.5, 100.0, 2500.0])),
                             lambda: r.add_sync_channel(rng.choice([10.0, 1000.0])),
                             lambda: r.add_async_array_channel(rng.choice([1, 3, 40]))]
            calls = [lambda: channels.append(rng.choice(registrations)()), r.calculate,
                     lambda: r.finish(rng.uniform(-5.0, 5.0)), r.initialize,
                     lambda: rng.random() < 0.1 and r.close()]
            channel_calls = [add, r.read, r.expected_count,
                             lambda ch: r.add_block_end_time(ch, rng.uniform(0.0, 3.0))]
            for step in range(40):
                op = rng.randrange(len(calls) + len(channel_calls))
                try:
                    if op < len(calls):
                        calls[op]()
                    elif channels:
                        channel_calls[op - len(calls)](rng.choice(channels))
                except ValueError:
                    errors += 1
            r.close()
        print("survived", errors)
        """
    )
    done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True,
                          timeout=300)
    assert done.returncode == 0, done.stderr[-2000:]
    assert done.stdout.startswith("survived")


def test_resamplers_on_several_threads_match_a_serial_run():
    # calculate and the bulk copies run without the GIL, so separate resamplers really run at
    # once; they share nothing, so the results are those of one after another.
    from concurrent.futures import ThreadPoolExecutor

    rng = np.random.default_rng(9)
    inputs = [irregular_times(rng, 20000, 1e-3) for _ in range(4)]
    jobs = [({"x": (t, np.sin(t * (k + 1)))}, method)
            for k, (t, method) in enumerate(zip(inputs, ["hold", "linear", "aliasfree", "linear"]))]
    serial = [tamlib.resample(data, 500.0, method, block_size=256) for data, method in jobs]
    with ThreadPoolExecutor(4) as pool:
        parallel = list(pool.map(lambda job: tamlib.resample(job[0], 500.0, job[1],
                                                             block_size=256), jobs))
    for one, other in zip(serial, parallel):
        np.testing.assert_array_equal(bits(one["x"].to_numpy()), bits(other["x"].to_numpy()))
