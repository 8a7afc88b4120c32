"""resample_file(): a recording file to a result file, streamed in windows of time."""

from __future__ import annotations

import contextlib
import os
import tempfile
import time
from dataclasses import dataclass
from pathlib import Path
from typing import Callable, Iterator, Mapping, Optional, Sequence, Union

import numpy as np

from ._engine import BLOCK, Settings, run
from ._grid import Axis, Grid
from ._readers import open_reader
from ._writers import CsvSink, Hdf5Sink, NullSink

PathLike = Union[str, "os.PathLike[str]"]


@dataclass
class Summary:
    """What :func:`resample_file` did.

    Attributes
    ----------
    source, destination : str
        The recording and the result (None when nothing was written).
    channels : int
    samples_in : int
        Input samples read, summed over channels.
    samples_out : int
        Output values written (not NaN), summed over channels.
    grid_points : int
        Points of the common grid.
    seconds : float
        Wall time of the run.
    """

    source: str
    destination: Optional[str]
    channels: int
    samples_in: int
    samples_out: int
    grid_points: int
    seconds: float


def resample_file(
    source: PathLike,
    destination: Optional[PathLike],
    rate: float,
    method: str = "linear",
    *,
    start: object = None,
    end: object = None,
    tolerance: Optional[float] = None,
    input_rate: Union[None, float, Mapping[str, float]] = None,
    transition_percent: Optional[int] = None,
    attenuation_db: Optional[float] = None,
    max_gap: float = 4.0,
    block_size: int = BLOCK,
    compression: Optional[str] = None,
    progress=None,
) -> Summary:
    """Resample a recording file onto one common grid and write the result, in constant memory.

    The source is read in windows of `block_size` samples per channel group, each window fed
    to the library as it comes and each pass's outputs written at once, so memory follows the
    window size and the channel count, not the length of the recording. The results are those
    of :func:`tamlib.resample` on the same data, to the bit.

    Parameters
    ----------
    source : str or path
        A recording: .h5/.hdf5 in the layout of :mod:`tamlib.io` (one channel per group, or
        channel groups), or a long or wide .csv whose rows are in time order.
    destination : str or path, or None
        The result: .h5/.hdf5 (one group per input group, the grid as every group's ``time``,
        NaN where a channel has no output) or .csv (wide). It is written under a temporary
        name in the same folder and renamed when complete; a failure or Ctrl-C removes it.
        None writes nothing: the run only checks the source and counts.
    rate : float
        Output grid rate in Hz.
    method : {"linear", "hold", "aliasfree"}
    start, end, tolerance, input_rate, transition_percent, attenuation_db, max_gap, block_size
        As for :func:`tamlib.resample`; `start` and `end` are seconds in the file's time axis,
        or date-times for stamps in ns since the epoch.
    compression : str, optional
        h5py's name of a filter for the result's datasets: "gzip", "lzf", ...
    progress : optional
        Told the seconds of recording done as the run goes: a callable that gets the seconds
        since its last call, or an object with ``update(seconds)`` and a ``total`` attribute
        (a tqdm bar), whose ``total`` is set to the span first.

    Returns
    -------
    Summary

    Raises
    ------
    ValueError
        For a recording that breaks its layout (lengths, types, times not finite or going
        backwards, CSV rows out of time order or unreadable), naming the file, the channel and
        the sample or line; and for options the library refuses.
    OSError
        For a file that cannot be read or written.
    """
    settings = Settings(method, rate, tolerance, input_rate, transition_percent,
                        attenuation_db, block_size, max_gap)
    return run_file(source, destination, settings, start=start, end=end,
                    compression=compression, progress=progress)


def run_file(source, destination, settings: Settings, *, start=None, end=None,
             compression=None, progress=None, groups: Optional[Sequence[str]] = None) -> Summary:
    """resample_file with its settings made; `groups` restricts an HDF5 source to some groups
    (`start` and `end` then usually come from the whole file, so the parts share one grid)."""
    started = time.perf_counter()
    source = os.fspath(source)
    kind = None if destination is None else output_kind(destination)
    reader = open_reader(source, settings.block, groups)
    try:
        check_streamable(reader, source)
        axis = reader.axis
        axis.origin = reader.first if start is None else raw_time(start, axis)
        end_s = float(axis.seconds(np.array([reader.last if end is None
                                             else raw_time(end, axis)]))[0])
        reader.start()
        grid = Grid(settings.rate)
        report = _progress(progress, max(end_s, 0.0))
        with replacing(destination) as partial:
            with _sink(partial, kind, reader, axis, grid, compression) as sink:
                totals = run(reader, grid, sink, settings, end_s, report)
    finally:
        reader.close()
    return Summary(source, None if destination is None else os.fspath(destination),
                   sum(len(names) for names in reader.sets), totals.samples_in,
                   totals.samples_out, totals.points, time.perf_counter() - started)


def check_streamable(reader, source: str) -> None:
    if len(set(reader.datetimes)) > 1:
        raise ValueError(f"{source}: channels mix datetime and float time stamps.")
    if reader.arrays:
        raise ValueError(f"{source}: channel {reader.arrays[0]!r} has several values per "
                         "sample; only scalar channels are resampled.")
    if reader.first is None:
        raise ValueError(f"{source}: no channel has samples to resample.")


def raw_time(value, axis: Axis):
    """A start or end time as the file stores its stamps: seconds, or int64 ns since the epoch."""
    if not axis.is_datetime:
        return float(value)
    import pandas as pd

    stamp = pd.Timestamp(value)
    if stamp.tzinfo is not None:
        stamp = stamp.tz_convert("UTC").tz_localize(None)
    return np.int64(stamp.value)


def _progress(progress, total: float) -> Optional[Callable[[float], None]]:
    if progress is None or callable(progress) and not hasattr(progress, "update"):
        return progress
    progress.total = total
    if hasattr(progress, "refresh"):
        progress.refresh()
    return progress.update


@contextlib.contextmanager
def replacing(destination: Optional[PathLike]) -> Iterator[Optional[str]]:
    """A temporary name beside `destination`, renamed to it on success and removed otherwise."""
    if destination is None:
        yield None
        return
    target = Path(destination)
    handle, partial = tempfile.mkstemp(prefix=f".{target.name}.", suffix=".part",
                                       dir=target.parent if str(target.parent) else ".")
    os.close(handle)
    try:
        yield partial
        os.replace(partial, target)
    except BaseException:
        with contextlib.suppress(FileNotFoundError):
            os.unlink(partial)
        raise


def output_kind(path: PathLike) -> str:
    suffix = os.path.splitext(os.fspath(path))[1].lower()
    if suffix in (".h5", ".hdf5"):
        return "h5"
    if suffix == ".csv":
        return "csv"
    raise ValueError(f"{os.fspath(path)}: unknown file type; use .h5, .hdf5 or .csv.")


@contextlib.contextmanager
def _sink(partial: Optional[str], kind: Optional[str], reader, axis: Axis, grid: Grid,
          compression):
    if partial is None:
        yield NullSink()
        return
    if kind == "csv":
        with open(partial, "w", newline="", encoding="utf-8") as stream:
            yield CsvSink(stream, [n for names in reader.sets for n in names], axis, grid)
        return
    import h5py

    with h5py.File(partial, "w") as file:
        yield Hdf5Sink(file, reader.layout, reader.units, axis, grid, compression)
