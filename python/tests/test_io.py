"""tamlib.io: HDF5 and CSV files of channels."""

import h5py
import numpy as np
import pandas as pd
import pytest

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
