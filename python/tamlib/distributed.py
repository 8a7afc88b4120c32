"""Many recordings at once: one task per file on a Dask distributed cluster.

Each task reads its recording, streams it through resamplers of its own and writes the result
next to the others in the output directory. Separate resamplers share nothing, so tasks run on
any worker and thread.
"""

from __future__ import annotations

import os
import time
from pathlib import Path
from typing import Dict, Iterable, List, Optional, Union

import numpy as np
import pandas as pd

from . import io
from ._stream import resample

PathLike = Union[str, "os.PathLike[str]"]
SUMMARY_COLUMNS = ["file", "channels", "samples_in", "samples_out", "seconds", "output", "error"]


def output_path(path: PathLike, output_dir: PathLike, fmt: str = "h5") -> Path:
    """Where the result of one recording goes: its file name with the format's suffix."""
    if fmt not in ("h5", "csv"):
        raise ValueError(f"Unknown output format {fmt!r}; choose h5 or csv.")
    return Path(output_dir) / (Path(path).stem + "." + fmt)


def resample_file(
    path: PathLike,
    output_dir: PathLike,
    rate: float,
    method: str = "linear",
    fmt: str = "h5",
    **options: object,
) -> Dict[str, object]:
    """Resample one recording (.h5/.hdf5/.csv) and write the result; return its summary row.

    The result is written under a temporary name and renamed when complete, so a failure
    leaves no partial file behind. `options` go to :func:`tamlib.resample`.
    """
    started = time.perf_counter()
    data = io.read(path)
    frame = resample(data, rate, method, **options)
    target = output_path(path, output_dir, fmt)
    partial = target.with_name(target.stem + ".part" + target.suffix)
    io.write(partial, io.from_frame(frame), units=data.units)
    os.replace(partial, target)
    return {
        "file": os.fspath(path),
        "channels": len(data),
        "samples_in": int(sum(np.asarray(t).shape[0] for t, _ in data.values())),
        "samples_out": int(frame.notna().to_numpy().sum()),
        "seconds": time.perf_counter() - started,
        "output": os.fspath(target),
        "error": None,
    }


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
) -> pd.DataFrame:
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
        Passed to :func:`tamlib.resample` (``block_size``, ``tolerance``, ...).

    Returns
    -------
    DataFrame
        One row per file, in the order given: file, channels, samples_in, samples_out,
        seconds, output, and error (None, or the type and message of the failure). A failing
        file does not stop the others.
    """
    paths = [os.fspath(p) for p in paths]
    output_path("x", output_dir, fmt)
    Path(output_dir).mkdir(parents=True, exist_ok=True)
    if client is None and workers == 0:
        rows = [_serial(p, output_dir, rate, method, fmt, options) for p in paths]
        return pd.DataFrame(rows, columns=SUMMARY_COLUMNS)
    if client is None:
        from distributed import Client, LocalCluster

        with LocalCluster(
            n_workers=max(1, int(workers)), threads_per_worker=1, dashboard_address=None
        ) as cluster, Client(cluster) as own_client:
            return _on_cluster(own_client, paths, rate, method, output_dir, fmt, options)
    return _on_cluster(client, paths, rate, method, output_dir, fmt, options)


def _on_cluster(client, paths: List[str], rate, method, output_dir, fmt, options) -> pd.DataFrame:
    futures = [
        client.submit(
            resample_file, p, os.fspath(output_dir), rate, method, fmt, pure=False,
            key=f"tamlib-resample-{i}-{Path(p).name}", **options,
        )
        for i, p in enumerate(paths)
    ]
    rows = []
    for p, future in zip(paths, futures):
        try:
            rows.append(future.result())
        except Exception as error:  # noqa: BLE001 - every failure becomes a row of the table
            rows.append(_failure(p, error))
    return pd.DataFrame(rows, columns=SUMMARY_COLUMNS)


def _serial(path, output_dir, rate, method, fmt, options) -> Dict[str, object]:
    try:
        return resample_file(path, output_dir, rate, method, fmt, **options)
    except Exception as error:  # noqa: BLE001 - as on the cluster
        return _failure(path, error)


def _failure(path: str, error: BaseException) -> Dict[str, object]:
    return {
        "file": path, "channels": None, "samples_in": None, "samples_out": None,
        "seconds": None, "output": None, "error": f"{type(error).__name__}: {error}",
    }
