"""The package's own surface: lazy modules, keyword registration, seconds, error classes, xarray,
and the docstring examples."""

import doctest
import os
import subprocess
import sys

import numpy as np
import pytest

import tamlib
from tamlib import _resampler, _stream


def test_modules_load_on_first_use_without_dask_or_matplotlib():
    code = ("import sys, tamlib; heavy = ('matplotlib', 'distributed', 'h5py');"
            "before = [m for m in heavy if m in sys.modules];"
            "tamlib.io.read_hdf5, tamlib.distributed.resample_files, tamlib.plot.plot_channels;"
            "print(before, all(f'tamlib.{m}' in sys.modules for m in ('io', 'distributed', 'plot')))")
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    assert out.stdout.split() == ["[]", "True"]
    with pytest.raises(AttributeError):
        tamlib.no_such_module


@pytest.mark.parametrize("module", [_resampler, _stream], ids=lambda m: m.__name__)
def test_docstring_examples_run(module):
    failed, attempted = doctest.testmod(module, optionflags=doctest.NORMALIZE_WHITESPACE)
    assert attempted > 0 and failed == 0


def stream(resampler, channels, blocks):
    """Blocks of (times, values) to every channel, then the outputs per channel."""
    for times, values in blocks:
        for channel in channels:
            resampler.add(channel, values, times)
        resampler.calculate()
    return [resampler.read(channel) for channel in channels]


def test_add_channel_registers_what_the_numbered_calls_do():
    t = np.arange(40) / 100.0
    blocks = [(t[:20], np.sin(t[:20])), (t[20:], np.sin(t[20:]))]
    for kwargs, numbered in [({}, "add_async_channel"),
                             ({"rate": 100.0, "irregular": True}, "add_async_channel2")]:
        with tamlib.Resampler("linear", 40.0) as a, tamlib.Resampler("linear", 40.0) as b:
            ours = [a.add_channel(**kwargs) for _ in range(2)]
            rate = kwargs.get("rate")
            theirs = [getattr(b, numbered)(*([rate] if rate else [])) for _ in range(2)]
            for (t1, v1), (t2, v2) in zip(stream(a, ours, blocks), stream(b, theirs, blocks)):
                np.testing.assert_array_equal(t1, t2)
                np.testing.assert_array_equal(v1, v2)
    with tamlib.Resampler("hold", 10.0) as r:
        assert r.add_channel(array_size=3).array_size == 3
        assert r.add_channel(rate=10.0).kind == "sync"
        for refused in ({"rate": 10.0, "array_size": 2}, {"offset": 1.0}):
            with pytest.raises(ValueError):
                r.add_channel(**refused)


def test_max_wait_in_seconds_waits_as_long_as_in_milliseconds():
    t = np.arange(10) / 10.0
    results = []
    for kwargs in ({"max_wait": 0.25}, {"max_wait_ms": 250.0}):
        with tamlib.Resampler("hold", 10.0, **kwargs) as r:
            fast, slow = r.add_channel(), r.add_channel()
            r.add(fast, t, t)
            r.add(slow, t[:3], t[:3])
            r.add_block_end_time(fast, 0.9)
            r.add_block_end_time(slow, 0.9)
            r.calculate()
            results.append(r.read(slow))
    np.testing.assert_array_equal(results[0][0], results[1][0])
    np.testing.assert_array_equal(results[0][1], results[1][1])
    assert results[0][0].size > 3  # the slow channel was held past its last sample
    with pytest.raises(ValueError):
        tamlib.Resampler("hold", 10.0, max_wait=1.0, max_wait_ms=1000.0)


@pytest.mark.skipif(bool(os.environ.get("TAMLIB_SANITIZED")),
                    reason="the address sanitizer ends the process on an impossible allocation")
def test_exhaustion_is_a_resource_error_a_host_may_catch_as_memory_error():
    with pytest.raises(MemoryError) as caught:
        with tamlib.Resampler("hold", 10.0, input_buffer=2**40) as r:
            r.add_channel()
    assert isinstance(caught.value, tamlib.ResourceError)
    assert isinstance(caught.value, tamlib.Error) and not isinstance(caught.value, ValueError)


def test_as_xarray_carries_the_frame_and_the_units():
    pytest.importorskip("xarray")
    data = tamlib.io.ChannelData({"p": (np.arange(50) / 100.0, np.cos(np.arange(50.0)))},
                                 units={"p": "bar"})
    frame = tamlib.resample(data, 40.0)
    dataset = tamlib.resample(data, 40.0, as_xarray=True)
    np.testing.assert_array_equal(dataset["time"].to_numpy(), frame.index.to_numpy())
    np.testing.assert_array_equal(dataset["p"].to_numpy(), frame["p"].to_numpy())
    assert dataset["p"].attrs["units"] == "bar"
