"""tamlib.io: HDF5 and CSV files of channels, written and read back, and broken ones refused.

The random layouts draw channel groups of random size (one channel per group,
``g/{time,value}``, with NaN gaps; or channel groups ``g/{time,a,b,...}``), lengths including 0
and 1, equal neighbour stamps, seconds or ns since the epoch and random chunking. The
expectation is built from what was written, not from the reader.
"""

import h5py
import numpy as np
import pandas as pd
import pytest

import tamlib
from tamlib import io

def sample_channels():
    rng = np.random.default_rng(4)
    dates = pd.date_range("2024-01-15 09:00", periods=50, freq="7ms").to_numpy()
    return io.ChannelData(
        {
            "pressure": (np.sort(rng.uniform(0.0, 2.0, 200)), rng.normal(size=200)),
            "clock": (dates, np.arange(50.0)),
            "spectrum": (np.arange(4) * 0.5, rng.normal(size=(4, 3))),
        },
        units={"pressure": "bar", "spectrum": "dB"},
    )


def test_hdf5_round_trip_keeps_times_values_and_units(tmp_path):
    data = sample_channels()
    path = tmp_path / "rec.h5"
    io.write_hdf5(path, data)
    back = io.read_hdf5(path)

    assert list(back) == sorted(data)  # HDF5 lists groups by name
    for name, (times, values) in data.items():
        np.testing.assert_array_equal(back[name][0], times)
        assert back[name][0].dtype == times.dtype
        np.testing.assert_array_equal(back[name][1], values)
    assert back.units == {"pressure": "bar", "spectrum": "dB"}

    # The documented layout, read without tamlib.
    with h5py.File(path, "r") as f:
        assert f.attrs["format"] == "tamlib-channels"
        assert f["pressure/time"].dtype == np.float64
        assert f["pressure"].attrs["unit"] == "bar"
        assert f["clock"].attrs["time_unit"] == "ns since epoch"
        assert f["clock/time"][0] == pd.Timestamp("2024-01-15 09:00").value
        assert f["spectrum/value"].shape == (4, 3)


@pytest.mark.parametrize("layout", ["wide", "long"])
def test_csv_round_trip(tmp_path, layout):
    data = sample_channels()
    del data["spectrum"]
    for name in ("pressure", "clock"):
        path = tmp_path / f"{name}-{layout}.csv"
        io.write_csv(path, {name: data[name]}, layout=layout)
        back = io.read_csv(path)
        assert list(back) == [name]
        np.testing.assert_array_equal(back[name][0], data[name][0])
        np.testing.assert_array_equal(back[name][1], data[name][1])


def test_wide_csv_leaves_cells_empty_where_a_channel_has_no_sample(tmp_path):
    path = tmp_path / "wide.csv"
    io.write_csv(path, {"a": ([0.0, 0.5], [1.0, 2.0]), "b": ([0.25], [3.0])})
    assert path.read_text().splitlines() == ["time,a,b", "0,1,", "0.25,,3", "0.5,2,"]
    back = io.read_csv(path)
    np.testing.assert_array_equal(back["b"][0], [0.25])


def test_unreadable_files_are_reported(tmp_path):
    with h5py.File(tmp_path / "empty.h5", "w"):
        pass
    (tmp_path / "header.csv").write_text("when,a\n0,1\n")
    cases = [(lambda: io.read_hdf5(tmp_path / "empty.h5"), "no channel groups"),
             (lambda: io.read_csv(tmp_path / "header.csv"), "expected a header"),
             (lambda: io.read(tmp_path / "rec.txt"), "unknown file type"),
             (lambda: io.write_hdf5(tmp_path / "x.h5", {"a/b/c": ([0.0], [1.0])}),
              "cannot name an HDF5 group")]
    for action, message in cases:
        with pytest.raises(ValueError, match=message):
            action()


CASES = 40
# Small windows, so that a stream crosses many window and chunk boundaries.
BLOCK = 37


def random_recording(rng):
    """group -> (stamps, {dataset: values}), and whether stamps are ns since the epoch."""
    datetime = rng.random() < 0.25
    recording = {}
    for g in range(int(rng.integers(1, 5))):
        n = int(rng.choice([0, 1, int(rng.integers(2, 400)), int(rng.integers(400, 3000))]))
        steps = rng.exponential(1.0, n) * (rng.random(n) > 0.1)  # some equal neighbours
        if datetime:
            stamps = 1_700_000_000 * 10**9 + np.cumsum((steps * 1e7).astype(np.int64))
        else:
            stamps = rng.uniform(-5.0, 5.0) + np.cumsum(steps * 1e-2)
        if rng.random() < 0.5:
            values = rng.normal(size=n)
            values[rng.random(n) < rng.choice([0.0, 0.2, 0.9])] = np.nan  # gaps
            datasets = {"value": values}
        else:
            names = ["rpm", "torque", "temp"][:int(rng.integers(2, 4))]
            datasets = {d: rng.normal(size=n) for d in names}
            datasets[names[0]][rng.random(n) < 0.1] = np.nan  # a value here, not a gap
        recording[f"unit{g}"] = (stamps, datasets)
    return recording, datetime


def write(path, recording, datetime, rng):
    with h5py.File(path, "w") as f:
        for group_name, (stamps, datasets) in recording.items():
            group = f.create_group(group_name)
            if datetime:
                group.attrs["time_unit"] = "ns since epoch"
            chunks = (int(rng.integers(1, 64)),) if stamps.size > 64 and rng.random() < 0.5 else None
            group.create_dataset("time", data=stamps, chunks=chunks)
            for name, values in datasets.items():
                group.create_dataset(name, data=values, chunks=chunks)


def expected_channels(recording, datetime):
    """name -> (times, values) as the layout defines them: a NaN in a one-channel group is no
    sample; in a channel group it is a value."""
    channels = {}
    for group_name, (stamps, datasets) in recording.items():
        times = stamps.view("datetime64[ns]") if datetime else stamps
        if list(datasets) == ["value"]:
            keep = ~np.isnan(datasets["value"])
            channels[group_name] = (times[keep], datasets["value"][keep])
        else:
            for name, values in datasets.items():
                channels[f"{group_name}/{name}"] = (times, values)
    return channels


@pytest.mark.parametrize("seed", range(CASES))
def test_random_layouts_read_back_exactly(tmp_path, seed):
    rng = np.random.default_rng(seed)
    recording, datetime = random_recording(rng)
    path = tmp_path / "rec.h5"
    write(path, recording, datetime, rng)
    expected = expected_channels(recording, datetime)

    back = io.read_hdf5(path)
    assert sorted(back) == sorted(expected)
    for name, (times, values) in expected.items():
        assert back[name][0].dtype == times.dtype, name
        np.testing.assert_array_equal(back[name][0], times, err_msg=name)
        np.testing.assert_array_equal(back[name][1], values, err_msg=name)
    assert sorted(map(sorted, back.groups)) == sorted(
        sorted(f"{g}/{d}" for d in datasets) for g, (_, datasets) in recording.items()
        if len(datasets) > 1)

    samples = sum(times.size for times, _ in expected.values())
    if samples == 0:
        with pytest.raises(ValueError, match=str(path)):
            tamlib.resample_file(path, None, 50.0, block_size=BLOCK)
        return
    summary = tamlib.resample_file(path, None, 50.0, block_size=BLOCK)
    assert summary.samples_in == samples
    assert summary.channels == len(expected)


def base_recording(rng):
    """A one-channel group and a channel group, long enough for many windows."""
    values = rng.normal(size=500)
    values[rng.random(500) < 0.2] = np.nan
    return {
        "pressure": (np.cumsum(rng.uniform(1e-3, 2e-3, 500)), {"value": values}),
        "engine": (np.arange(400) * 2e-3, {"rpm": rng.normal(size=400),
                                           "torque": rng.normal(size=400)}),
    }


def replace(f, name, data):
    del f[name]
    f.create_dataset(name, data=data)


def changed_stamp(group, index, stamp):
    def change(f):
        stamps = f[f"{group}/time"][()]
        # A sample that is not a gap, so that the stamp is one the reader must use.
        if group == "pressure":
            kept = np.flatnonzero(~np.isnan(f["pressure/value"][()]))
            index_kept = kept[min(index, kept.size - 1)] if index >= 0 else kept[index]
        else:
            index_kept = index
        stamps[index_kept] = stamp(stamps, index_kept)
        replace(f, f"{group}/time", stamps)
    return change


# (case, change to the file, the channel the message must name)
BROKEN = [
    ("string values", lambda f: replace(f, "engine/torque", np.array(["1.5"] * 400, "S8")),
     "engine/torque"),
    ("2-D values per row of rows", lambda f: replace(f, "pressure/value", np.zeros((500, 2, 2))),
     "pressure"),
    ("boolean values", lambda f: replace(f, "engine/rpm", np.ones(400, bool)), "engine/rpm"),
    ("2-D time", lambda f: replace(f, "pressure/time", np.zeros((500, 2))), "pressure"),
    ("scalar time", lambda f: replace(f, "engine/time", 0.0), "engine/rpm"),
    ("string time", lambda f: replace(f, "engine/time", np.array(["0"] * 400, "S4")),
     "engine/rpm"),
    ("time shorter than values", lambda f: replace(f, "pressure/time", np.arange(499.0)),
     "pressure"),
    ("time longer than values", lambda f: replace(f, "engine/time", np.arange(401.0)),
     "engine/rpm"),
    ("one value dataset shorter", lambda f: replace(f, "engine/torque", np.zeros(399)),
     "engine/torque"),
    ("empty time", lambda f: replace(f, "pressure/time", np.zeros(0)), "pressure"),
    ("backwards in a late window", changed_stamp("pressure", 300, lambda t, i: t[i - 1] - 1e-4),
     "pressure"),
    ("backwards at the last sample", changed_stamp("engine", -1, lambda t, i: t[i - 1] - 1e-4),
     "engine/rpm"),
    ("NaN first time", changed_stamp("pressure", 0, lambda t, i: np.nan), "pressure"),
    ("NaN time inside", changed_stamp("engine", 123, lambda t, i: np.nan), "engine/rpm"),
    ("NaN last time", changed_stamp("pressure", -1, lambda t, i: np.nan), "pressure"),
    ("infinite time inside", changed_stamp("engine", 200, lambda t, i: np.inf), "engine/rpm"),
]


def assert_refused(path, channel):
    """Both readers refuse the file with a ValueError or OSError naming it and the channel."""
    for read in (io.read_hdf5,
                 lambda p: tamlib.resample_file(p, None, 50.0, block_size=BLOCK)):
        with pytest.raises((ValueError, OSError)) as refusal:
            read(path)
        message = str(refusal.value)
        assert str(path) in message
        if channel is not None:
            assert repr(channel) in message


@pytest.mark.parametrize("case, change, channel", BROKEN, ids=[row[0] for row in BROKEN])
def test_broken_recordings_are_refused_with_their_place(tmp_path, case, change, channel):
    rng = np.random.default_rng(7)
    path = tmp_path / "rec.h5"
    write(path, base_recording(rng), False, rng)
    with h5py.File(path, "a") as f:
        change(f)
    assert_refused(path, channel)


def test_damaged_files_are_refused_or_read(tmp_path):
    """Cut at many points: a short file is refused; one padded back to its size with zeros (a
    copy that stopped early) is refused or read, but h5py's own errors never get through."""
    rng = np.random.default_rng(8)
    path = tmp_path / "rec.h5"
    write(path, base_recording(rng), False, rng)
    whole = path.read_bytes()
    for cut in range(0, len(whole), 97):
        path.write_bytes(whole[:cut])
        assert_refused(path, None)
        path.write_bytes(whole[:cut].ljust(len(whole), b"\0"))
        try:
            io.read_hdf5(path)
        except (ValueError, OSError) as refusal:
            assert str(path) in str(refusal), cut
