"""tamlib.distributed on a LocalCluster against a serial run: many files, and one file split."""

import h5py
import numpy as np
import pytest

import tamlib
from conftest import write_two_channels
from tamlib import io
from tamlib.distributed import resample_files, resample_split

distributed = pytest.importorskip("distributed")


@pytest.fixture
def client():
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=False,
                                  dashboard_address=None) as cluster:
        with distributed.Client(cluster) as client:
            yield client


def make_recordings(directory, count=6, corrupt=3):
    rng = np.random.default_rng(21)
    paths = []
    for k in range(count):
        if k == corrupt:
            path = directory / f"rec{k}.h5"
            path.write_bytes(b"\x89HDF\r\n truncated by a full disk")
        else:
            suffix = "csv" if k % 2 else "h5"
            path = directory / f"rec{k}.{suffix}"
            write_two_channels(path, rng, int(rng.integers(300, 900)))
        paths.append(path)
    return paths


def test_cluster_run_writes_the_serial_results_and_reports_the_corrupt_file(tmp_path, client):
    source = tmp_path / "in"
    source.mkdir()
    paths = make_recordings(source)
    options = dict(block_size=128)

    serial = resample_files(paths, 250.0, "linear", tmp_path / "serial", workers=0, **options)
    table = resample_files(paths, 250.0, "linear", tmp_path / "cluster", client, **options)

    assert table["file"].tolist() == [str(p) for p in paths]
    failed = table[table["error"].notna()]
    assert failed["file"].tolist() == [str(paths[3])]
    assert failed["error"].iloc[0].startswith("OSError")
    assert serial["error"].notna().tolist() == table["error"].notna().tolist()
    ok = table[table["error"].isna()]
    assert (ok["channels"] == 2).all()
    for column in ("channels", "samples_in", "samples_out"):
        assert ok[column].tolist() == serial[serial["error"].isna()][column].tolist()

    written = sorted(p.name for p in (tmp_path / "cluster").iterdir())
    assert written == sorted(p.name for p in (tmp_path / "serial").iterdir())
    assert written == [f"rec{k}.h5" for k in (0, 1, 2, 4, 5)]
    for name in written:
        ours, theirs = io.read(tmp_path / "cluster" / name), io.read(tmp_path / "serial" / name)
        assert list(ours) == list(theirs) == ["a", "b"]
        for channel in ours:
            np.testing.assert_array_equal(ours[channel][0], theirs[channel][0])
            np.testing.assert_array_equal(ours[channel][1], theirs[channel][1])


@pytest.mark.parametrize("method", ["linear", "aliasfree"])
def test_one_recording_split_by_group_equals_the_single_process_result(tmp_path, client, method):
    rng = np.random.default_rng(8)
    data = {}
    for g in range(5):
        n = 3000 + 250 * g
        times = 0.02 * g + np.cumsum(rng.uniform(0.9e-3, 1.1e-3, n))
        for name in ("x", "y")[: 1 + g % 2]:
            data[f"g{g}/{name}"] = (times, np.sin(times * (g + 1)) + rng.normal(size=n))
    source = tmp_path / "rec.h5"
    io.write_hdf5(source, data)
    options = dict(block_size=500)
    tamlib.resample_file(source, tmp_path / "single.h5", 200.0, method, **options)
    summary = resample_split(source, tmp_path / "split.h5", 200.0, method, client, **options)
    assert summary.channels == len(data)

    def datasets(path):
        found = {}
        with h5py.File(path, "r") as f:
            f.visititems(lambda name, d: found.setdefault(name, d[()])
                         if isinstance(d, h5py.Dataset) else None)
        return found

    single, split = datasets(tmp_path / "single.h5"), datasets(tmp_path / "split.h5")
    assert sorted(split) == sorted(single)
    for name, values in single.items():
        assert values.tobytes() == split[name].tobytes(), name
    with h5py.File(tmp_path / "split.h5", "r") as f:
        assert f["g1/x"].is_virtual
    assert (tmp_path / "split.parts").is_dir()
