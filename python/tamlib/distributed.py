"""Past one process: many recordings, or one recording split by channel group, on Dask.

:func:`resample_files` runs one task per file; each streams its recording through
:func:`tamlib.resample_file`, so a worker's memory is bounded by the window size too.

:func:`resample_split` splits one HDF5 recording across workers by channel group. Groups go
through separate resamplers and share nothing but the grid, which every part computes from the
whole file's first and last stamp, so the split is exact: the result equals the one-process
result bit for bit. Each worker writes its groups into a part file of its own (no two writers
share a file, and HDF5 needs no locking); the result is an HDF5 file in the package's layout
whose datasets are virtual datasets over the parts, kept beside it in ``<name>.parts/``.
Assembling it copies no data, and every HDF5 reader (tamlib.io, h5py, resample_file itself)
opens it as one file. Zarr would let workers write into one store as well, but it would be a
second layout for every reader and tool of the package; virtual datasets keep one.
"""

from __future__ import annotations

import contextlib
import os
import shutil
import tempfile
import time
from pathlib import Path
from typing import TYPE_CHECKING, Dict, Iterable, List, Optional, Sequence, Union

import numpy as np

from ._engine import Settings
from ._file import Summary, output_kind, raw_time, replacing, resample_file, run_file
from ._readers import Hdf5Reader

if TYPE_CHECKING:
    import pandas as pd

PathLike = Union[str, "os.PathLike[str]"]
SUMMARY_COLUMNS = ["file", "channels", "samples_in", "samples_out", "seconds", "output", "error"]
_SETTINGS = ("tolerance", "input_rate", "transition_percent", "attenuation_db", "block_size")


def output_path(path: PathLike, output_dir: PathLike, fmt: str = "h5") -> Path:
    """Where the result of one recording goes: its file name with the format's suffix."""
    if fmt not in ("h5", "csv"):
        raise ValueError(f"Unknown output format {fmt!r}; choose h5 or csv.")
    return Path(output_dir) / (Path(path).stem + "." + fmt)


def resample_one(path: PathLike, output_dir: PathLike, rate: float, method: str = "linear",
                 fmt: str = "h5", **options: object) -> Dict[str, object]:
    """Resample one recording into `output_dir` with :func:`tamlib.resample_file`; return its
    summary row."""
    target = output_path(path, output_dir, fmt)
    summary = resample_file(path, target, rate, method, **options)
    return {"file": os.fspath(path), "channels": summary.channels,
            "samples_in": summary.samples_in, "samples_out": summary.samples_out,
            "seconds": summary.seconds, "output": os.fspath(target), "error": None}


def resample_files(
    paths: Iterable[PathLike],
    rate: float,
    method: str,
    output_dir: PathLike,
    client: Optional[object] = None,
    *,
    workers: int = 2,
    fmt: str = "h5",
    **options: object,
) -> "pd.DataFrame":
    """Resample recordings in parallel, one Dask task per file.

    Parameters
    ----------
    paths : iterable of str or path
        The recordings (.h5, .hdf5 or .csv).
    rate : float
        Output grid rate in Hz.
    method : {"linear", "hold", "aliasfree"}
    output_dir : str or path
        Created if missing; each result is ``<output_dir>/<file stem>.<fmt>``.
    client : distributed.Client, optional
        Where to run. Without one, a ``LocalCluster`` of `workers` single-threaded worker
        processes is started and closed again. ``workers=0`` runs the files one after another
        in this process, without Dask.
    fmt : {"h5", "csv"}
    **options
        Passed to :func:`tamlib.resample_file` (``block_size``, ``tolerance``, ...).

    Returns
    -------
    DataFrame
        One row per file, in the order given: file, channels, samples_in, samples_out,
        seconds, output, and error (None, or the type and message of the failure). A failing
        file does not stop the others.
    """
    import pandas as pd

    paths = [os.fspath(p) for p in paths]
    output_path("x", output_dir, fmt)
    Path(output_dir).mkdir(parents=True, exist_ok=True)
    args = (os.fspath(output_dir), rate, method, fmt)
    if client is None and workers == 0:
        rows = []
        for p in paths:
            try:
                rows.append(resample_one(p, *args, **options))
            except Exception as error:  # noqa: BLE001 - every failure becomes a row
                rows.append(_failure(p, error))
        return pd.DataFrame(rows, columns=SUMMARY_COLUMNS)
    with _cluster(client, workers) as own:
        futures = [own.submit(resample_one, p, *args, pure=False,
                              key=f"tamlib-resample-{i}-{Path(p).name}", **options)
                   for i, p in enumerate(paths)]
        rows = []
        for p, future in zip(paths, futures):
            try:
                rows.append(future.result())
            except Exception as error:  # noqa: BLE001 - every failure becomes a row
                rows.append(_failure(p, error))
    return pd.DataFrame(rows, columns=SUMMARY_COLUMNS)


def resample_split(
    source: PathLike,
    destination: PathLike,
    rate: float,
    method: str = "linear",
    client: Optional[object] = None,
    *,
    workers: int = 2,
    parts: Optional[int] = None,
    start: object = None,
    end: object = None,
    **options: object,
) -> Summary:
    """Resample one HDF5 recording on a Dask cluster, split by channel group, into one file.

    Parameters
    ----------
    source : str or path
        An HDF5 recording (see :mod:`tamlib.io`).
    destination : str or path
        The result, .h5/.hdf5: virtual datasets over the part files in
        ``<destination stem>.parts/`` beside it. Move both together.
    rate, method, start, end, **options
        As for :func:`tamlib.resample_file`.
    client : distributed.Client, optional
        Where to run; by default a ``LocalCluster`` of `workers` processes.
    parts : int, optional
        How many tasks (default: the number of workers); groups are dealt out by size.

    Returns
    -------
    Summary
        Totals over the parts; ``seconds`` is the wall time of the whole run.
    """
    started = time.perf_counter()
    source, target = os.fspath(source), Path(destination)
    if output_kind(target) != "h5":
        raise ValueError(f"{target}: a split run writes HDF5 (.h5 or .hdf5).")
    settings = {k: options.pop(k) for k in _SETTINGS if k in options}
    Settings(method, rate, **_renamed(settings))
    with Hdf5Reader(source) as reader:
        axis = reader.axis
        first = reader.first if start is None else raw_time(start, axis)
        last = reader.last if end is None else raw_time(end, axis)
        sizes = reader.sizes
    folder = Path(tempfile.mkdtemp(prefix=f".{target.stem}.parts.", dir=target.parent))
    try:
        with _cluster(client, workers) as own:
            bins = _deal(sizes, parts or len(own.scheduler_info()["workers"]) or 1)
            futures = [own.submit(_part, source, os.fspath(folder / f"part-{i}.h5"), rate,
                                  method, groups, first, last, settings, options, pure=False,
                                  key=f"tamlib-split-{i}-{target.name}")
                       for i, groups in enumerate(bins)]
            done = [future.result() for future in futures]
        with replacing(target) as partial:
            _assemble(partial, folder, f"{target.stem}.parts", len(bins))
            _swap_folder(folder, target.parent / f"{target.stem}.parts")
    finally:
        shutil.rmtree(folder, ignore_errors=True)
    return Summary(source, os.fspath(target), sum(s.channels for s in done),
                   sum(s.samples_in for s in done), sum(s.samples_out for s in done),
                   done[0].grid_points, time.perf_counter() - started)


def _renamed(settings: Dict[str, object]) -> Dict[str, object]:
    return {("block" if k == "block_size" else k): v for k, v in settings.items()}


def _part(source, path, rate, method, groups, first, last, settings, options) -> Summary:
    return run_file(source, path, Settings(method, rate, **_renamed(settings)), start=first,
                    end=last, groups=groups, **options)


def _deal(sizes: Sequence, count: int) -> List[List[str]]:
    """Groups into at most `count` bins of about equal size, each in file order."""
    count = max(1, min(int(count), len(sizes)))
    loads = [0] * count
    owner: Dict[str, int] = {}
    for group, size in sorted(sizes, key=lambda item: -item[1]):
        k = loads.index(min(loads))
        owner[group] = k
        loads[k] += size
    return [[g for g, _ in sizes if owner[g] == k] for k in range(count)]


def _assemble(path: str, folder: Path, relative: str, count: int) -> None:
    """The result file: every dataset of every part as a virtual dataset of the same name."""
    import h5py

    with h5py.File(path, "w") as out:
        out.attrs["format"] = "tamlib-channels"
        out.attrs["version"] = 1
        time_dataset = None
        for i in range(count):
            name = f"part-{i}.h5"
            with h5py.File(folder / name, "r") as part:
                for group_name, group in part.items():
                    target = out.create_group(group_name)
                    target.attrs.update(group.attrs)
                    for dataset_name, dataset in group.items():
                        if dataset_name == "time" and time_dataset is not None:
                            target["time"] = time_dataset
                            continue
                        made = _virtual(target, dataset_name, dataset, f"{relative}/{name}")
                        if dataset_name == "time":
                            time_dataset = made


def _virtual(group, name: str, dataset, source: str):
    import h5py

    if dataset.shape[0] == 0:
        made = group.create_dataset(name, shape=dataset.shape, dtype=dataset.dtype)
    else:
        layout = h5py.VirtualLayout(shape=dataset.shape, dtype=dataset.dtype)
        layout[:] = h5py.VirtualSource(source, dataset.name, shape=dataset.shape)
        fill = np.nan if dataset.dtype.kind == "f" else 0
        made = group.create_virtual_dataset(name, layout, fillvalue=fill)
    made.attrs.update(dataset.attrs)
    return made


def _swap_folder(new: Path, final: Path) -> None:
    """Put the parts under their final name, replacing those of an earlier result."""
    old = None
    if final.exists():
        old = Path(tempfile.mkdtemp(prefix=f".{final.name}.old.", dir=final.parent))
        os.replace(final, old / final.name)
    os.replace(new, final)
    if old is not None:
        shutil.rmtree(old, ignore_errors=True)


@contextlib.contextmanager
def _cluster(client, workers: int):
    if client is not None:
        yield client
        return
    from distributed import Client, LocalCluster

    with LocalCluster(n_workers=max(1, int(workers)), threads_per_worker=1,
                      dashboard_address=None) as cluster, Client(cluster) as own:
        yield own


def _failure(path: str, error: BaseException) -> Dict[str, object]:
    return {
        "file": path, "channels": None, "samples_in": None, "samples_out": None,
        "seconds": None, "output": None, "error": f"{type(error).__name__}: {error}",
    }
