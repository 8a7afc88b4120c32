"""Shared helpers: the C interface through ctypes, independent of the extension module, and
small recordings."""

import ctypes
import os

import numpy as np
import pytest

_double_p = ctypes.POINTER(ctypes.c_double)
_void_pp = ctypes.POINTER(ctypes.c_void_p)
_u64 = ctypes.c_uint64


class CApi:
    """Drives libtamresampler directly, as a C host does. Only valid calls may be made: a C++
    exception leaving the library would end the test process."""

    def __init__(self, path):
        lib = ctypes.CDLL(path)
        r, ch, dbl = ctypes.c_void_p, ctypes.c_void_p, ctypes.c_double
        for names, argtypes in [
            ("createResamplerHold createResamplerLinear createResamplerAliasFree", [_void_pp]),
            ("deleteResampler initialize calculate", [r]),
            ("setSamplerate noMoreDataToAdd", [r, dbl]),
            ("setInputBufferSize setOutputBufferSize", [r, _u64]),
            ("addAsyncChannel", [r, _void_pp]),
            ("addAsyncChannel2", [r, _void_pp, dbl, dbl, ctypes.c_int64]),
            ("addData addTimes getResampledTimes2 getResampledData2", [r, ch, _double_p, _u64]),
            ("getResampledDataCount", [r, ch, ctypes.POINTER(_u64)]),
        ]:
            for name in names.split():
                getattr(lib, name).argtypes = argtypes
                getattr(lib, name).restype = ctypes.c_int
        self.lib = lib

    def run(self, method, rate, blocks, end_s, *, input_buffer, output_buffer, nominal_rate=None):
        """One time-stamped channel fed block by block; returns all (times, values) read."""
        lib = self.lib
        r = ctypes.c_void_p()
        create = {"hold": lib.createResamplerHold, "linear": lib.createResamplerLinear,
                  "aliasfree": lib.createResamplerAliasFree}[method]
        create(ctypes.byref(r))
        try:
            lib.setSamplerate(r, rate)
            lib.setInputBufferSize(r, input_buffer)
            lib.setOutputBufferSize(r, output_buffer)
            ch = ctypes.c_void_p()
            if nominal_rate is None:
                lib.addAsyncChannel(r, ctypes.byref(ch))
            else:
                lib.addAsyncChannel2(r, ctypes.byref(ch), nominal_rate, 0.0, 0)
            lib.initialize(r)
            times, values = [], []

            def drain():
                count = _u64()
                lib.getResampledDataCount(r, ch, ctypes.byref(count))
                n = count.value
                assert n < output_buffer, "a pass produced more than one read may take"
                t = np.empty(n)
                v = np.empty(n)
                lib.getResampledTimes2(r, ch, t.ctypes.data_as(_double_p), n)
                lib.getResampledData2(r, ch, v.ctypes.data_as(_double_p), n)
                times.append(t)
                values.append(v)

            for block_times, block_values in blocks:
                bt = np.ascontiguousarray(block_times, dtype=np.float64)
                bv = np.ascontiguousarray(block_values, dtype=np.float64)
                lib.addTimes(r, ch, bt.ctypes.data_as(_double_p), bt.size)
                lib.addData(r, ch, bv.ctypes.data_as(_double_p), bv.size)
                lib.calculate(r)
                drain()
            lib.noMoreDataToAdd(r, end_s * 1000.0)
            lib.calculate(r)
            drain()
            return np.concatenate(times), np.concatenate(values)
        finally:
            lib.deleteResampler(r)


@pytest.fixture(scope="session")
def capi():
    path = os.environ.get("TAMLIB_LIBRARY")
    if not path:
        pytest.skip("TAMLIB_LIBRARY names the shared library; CTest sets it")
    return CApi(path)


def irregular_times(rng, n, mean_interval, start=0.0):
    """Increasing time stamps with jittered intervals between 0.2 and 1.8 times the mean."""
    steps = mean_interval * rng.uniform(0.2, 1.8, n - 1)
    return start + np.r_[0.0, np.cumsum(steps)]


def write_two_channels(path, rng, n):
    """Channels "a" (n sorted random stamps in 0-2 s) and "b" (every other stamp, 0.3 s later),
    written to path; returns them."""
    from tamlib import io

    t = np.sort(rng.uniform(0.0, 2.0, n))
    channels = {"a": (t, np.sin(2 * np.pi * t)), "b": (t[::2] + 0.3, np.cos(t[::2]))}
    io.write(path, channels)
    return channels
