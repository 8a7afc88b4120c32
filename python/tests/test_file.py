"""tamlib.resample_file: streamed file to file, against tamlib.resample in memory."""

import os
import subprocess
import sys

import h5py
import numpy as np
import pytest

import tamlib
import tamlib.io as tio

METHODS = ["hold", "linear", "aliasfree"]


def recording(seed=3, n=5003):
    """Irregular channels starting at different times, plus a group of two sharing stamps."""
    rng = np.random.default_rng(seed)
    data = tio.ChannelData()
    for c in range(3):
        t = np.cumsum(rng.uniform(0.9e-3, 1.1e-3, n + 31 * c)) + 0.013 * c
        data[f"c{c}"] = (t, np.sin(2 * np.pi * 3.0 * t) + rng.normal(0.0, 0.1, t.size))
    t = np.arange(n // 2) / 500.0 + 0.004
    data["engine/rpm"] = (t, 1000.0 + 5.0 * np.cos(t))
    data["engine/torque"] = (t, np.sin(7.0 * t))
    return data


def result_columns(path):
    """Channel name -> values of a result file, and the grid."""
    with h5py.File(path, "r") as f:
        columns, grid = {}, None
        for group_name, group in f.items():
            grid = group["time"][()]
            for name, dataset in group.items():
                if name != "time":
                    columns[group_name if name == "value" else f"{group_name}/{name}"] = dataset[()]
    return columns, grid


def assert_same_bits(columns, frame):
    assert set(columns) == set(frame.columns)
    for name in frame.columns:
        expected = frame[name].to_numpy()
        assert columns[name].shape == expected.shape, name
        assert np.array_equal(columns[name].view(np.int64), expected.view(np.int64)) or \
            np.array_equal(columns[name], expected, equal_nan=True), name


@pytest.mark.parametrize("method", METHODS)
def test_file_result_equals_the_in_memory_result_bit_for_bit(tmp_path, method):
    data = recording()
    source = tmp_path / "rec.h5"
    tio.write_hdf5(source, data)
    # 777 divides neither the channels' lengths nor the grid.
    options = dict(block_size=777)
    expected = tamlib.resample(tio.read_hdf5(source), 200.0, method, **options)
    summary = tamlib.resample_file(source, tmp_path / "out.h5", 200.0, method, **options)
    columns, grid = result_columns(tmp_path / "out.h5")
    assert_same_bits(columns, expected)
    assert np.array_equal(grid, expected.index.to_numpy())
    assert summary.channels == 5 and summary.grid_points == len(expected)
    assert summary.samples_in == sum(t.size for t, _ in data.values())
    assert summary.samples_out == int(expected.notna().to_numpy().sum())
    with h5py.File(tmp_path / "out.h5", "r") as f:
        assert f["engine/rpm"].chunks is not None and f["engine/rpm"].maxshape == (None,)


@pytest.mark.parametrize("layout", ["long", "wide"])
def test_csv_sources_stream_to_the_same_results(tmp_path, layout):
    data = recording(n=1200)
    scalar = tio.ChannelData({k: v for k, v in data.items() if "/" not in k})
    source = tmp_path / "rec.csv"
    tio.write_csv(source, scalar, layout=layout)
    if layout == "long":
        # write_csv gives each channel its rows in turn; streaming needs them in time order.
        rows = source.read_text().splitlines()
        body = sorted(rows[1:], key=lambda row: float(row.split(",")[1]))
        source.write_text("\n".join(rows[:1] + body) + "\n")
    expected = tamlib.resample(tio.read_csv(source), 250.0, "linear", block_size=100)
    tamlib.resample_file(source, tmp_path / "out.csv", 250.0, "linear", block_size=100)
    back = tio.read_csv(tmp_path / "out.csv")
    for name in expected.columns:
        column = expected[name].dropna()
        assert np.array_equal(back[name][0], column.index.to_numpy()), name
        assert np.array_equal(back[name][1], column.to_numpy()), name


def write_channel(path, time, value):
    with h5py.File(path, "w") as f:
        f.attrs["format"] = "tamlib-channels"
        f.attrs["version"] = 1
        group = f.create_group("p")
        group.create_dataset("time", data=time, chunks=(64,))
        group.create_dataset("value", data=value, chunks=(64,))


def bad_inputs():
    # Faults found after the first windows are written; a wide file out of order is test_cli's.
    t = np.arange(1000) / 100.0
    backwards, nan = t.copy(), t.copy()
    backwards[700] = backwards[698]
    nan[400] = np.nan
    yield "backwards.h5", lambda p: write_channel(p, backwards, t), ["p", "sample 700"]
    yield "nan.h5", lambda p: write_channel(p, nan, t), ["p", "sample 400"]
    yield "short.h5", lambda p: write_channel(p, t[:900], t), ["p", "900", "1000"]
    yield "order.csv", lambda p: p.write_text(
        "channel,time,value\na,0,1\nb,0.5,2\na,1,3\nb,0.75,4\n"), ["line 5", "0.75"]
    yield "cell.csv", lambda p: p.write_text(
        "channel,time,value\na,0,1\na,0.5,two\n"), ["line 3", "'a'"]


def test_bad_recordings_name_what_is_wrong_and_leave_nothing_behind(tmp_path):
    for name, write, fragments in bad_inputs():
        folder = tmp_path / name.replace(".", "_")
        folder.mkdir()
        source = folder / name
        write(source)
        with pytest.raises((ValueError, OSError)) as caught:
            tamlib.resample_file(source, folder / "out.h5", 100.0, "linear", block_size=128)
        message = str(caught.value)
        assert name in message, message
        for fragment in fragments:
            assert fragment in message, (name, message)
        assert sorted(p.name for p in folder.iterdir()) == [name], name


def test_interrupted_run_leaves_no_file_under_the_destination_name(tmp_path):
    data = recording(n=20000)
    tio.write_hdf5(tmp_path / "rec.h5", data)
    old = tmp_path / "out.h5"
    old.write_bytes(b"an earlier result")
    calls = []

    def interrupt(seconds):
        calls.append(seconds)
        if len(calls) == 3:
            raise KeyboardInterrupt

    with pytest.raises(KeyboardInterrupt):
        tamlib.resample_file(tmp_path / "rec.h5", old, 100.0, block_size=500, progress=interrupt)
    assert old.read_bytes() == b"an earlier result"
    assert sorted(p.name for p in tmp_path.iterdir()) == ["out.h5", "rec.h5"]


PEAK = r"""
import sys, tamlib
tamlib.resample_file(sys.argv[1], sys.argv[2], 100.0, "linear", block_size=4096)
# The high-water mark of this program's own pages: a child's rusage would include its parent's.
print(next(int(l.split()[1]) for l in open("/proc/self/status") if l.startswith("VmHWM:")))
"""


@pytest.mark.skipif(not os.path.exists("/proc/self/status"), reason="needs /proc")
@pytest.mark.skipif(bool(os.environ.get("TAMLIB_SANITIZED")), reason="a sanitizer's memory grows")
def test_peak_memory_does_not_grow_with_the_recording(tmp_path):
    def peak_kib(samples):
        source = tmp_path / f"rec{samples}.h5"
        with h5py.File(source, "w") as f:
            for c in range(4):
                group = f.create_group(f"c{c}")
                group.create_dataset("time", data=np.arange(samples) / 1000.0)
                group.create_dataset("value", data=np.sin(np.arange(samples) * 0.01))
        out = subprocess.run([sys.executable, "-c", PEAK, str(source), str(tmp_path / "o.h5")],
                             capture_output=True, text=True, check=True, env=os.environ)
        source.unlink()
        return int(out.stdout)

    # 40 windows against 320: holding the input would add 4 channels x 2.3 M x 16 bytes.
    small, large = peak_kib(160_000), peak_kib(1_280_000)
    assert large - small < 8 * 1024, (small, large)
