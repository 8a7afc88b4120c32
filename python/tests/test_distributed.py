"""tamlib.distributed.resample_files on a LocalCluster against a serial run."""

import numpy as np
import pytest

from tamlib import io
from tamlib.distributed import resample_files

distributed = pytest.importorskip("distributed")


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
            channels = {}
            for name in ("a", "b"):
                n = int(rng.integers(300, 900))
                times = rng.uniform(0.0, 0.5) + np.cumsum(rng.uniform(1e-3, 4e-3, n))
                channels[name] = (times, np.cumsum(rng.normal(size=n)))
            io.write(path, channels)
        paths.append(path)
    return paths


def test_cluster_run_writes_the_serial_results_and_reports_the_corrupt_file(tmp_path):
    source = tmp_path / "in"
    source.mkdir()
    paths = make_recordings(source)
    options = dict(block_size=128)

    serial = resample_files(paths, 250.0, "linear", tmp_path / "serial", workers=0, **options)
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=False,
                                  dashboard_address=None) as cluster:
        with distributed.Client(cluster) as client:
            assert len(client.scheduler_info()["workers"]) == 2
            table = resample_files(paths, 250.0, "linear", tmp_path / "cluster", client,
                                   **options)

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
    # Each channel fills the grid points within its own first and last stamp: 250 per second of
    # its span, give or take the one at either end.
    for row in ok.itertuples():
        spans = [t[-1] - t[0] for t, _ in io.read(row.file).values()]
        assert abs(row.samples_out - 250.0 * sum(spans)) <= 2
