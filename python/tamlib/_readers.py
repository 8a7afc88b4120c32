"""Streaming readers: a recording's channel sets a window at a time, for the streaming core.

A reader has ``sets`` (a list of channel-name lists: channels that share one time axis),
``layout`` (per set the HDF5 group and dataset names the channels come from), ``units``,
``axis`` (the time axis, whose origin the caller sets before the first ``advance``),
``first``/``last`` (the earliest and latest time stamp in the axis' raw form, from metadata),
and the methods the core calls: ``horizon(k)``, ``advance(indices)`` and ``take(k)``
(see :mod:`tamlib._engine`). Every check names the file, the channel and the sample or line.
"""

from __future__ import annotations

import csv
import os
from typing import Dict, List, Optional, Sequence, Tuple

import numpy as np
from numpy.typing import NDArray

from ._engine import BLOCK, INF, check_times
from ._grid import Axis

NS_SINCE_EPOCH = "ns since epoch"
# What h5py raises for a damaged file, besides OSError: an unreadable link or object comes back
# as any of these.
_H5PY_ERRORS = (OSError, RuntimeError, KeyError, ValueError, TypeError)
# Windows this small find a channel's first and last sample with a value in a few reads.
_EDGE_WINDOW = 1024


def text(value) -> str:
    return value.decode() if isinstance(value, bytes) else str(value)


def channel_name(group: str, dataset: str) -> str:
    """A channel's name: its group's for a ``value`` dataset, else ``group/dataset``."""
    return group if dataset == "value" else f"{group}/{dataset}"


class _Set:
    """One HDF5 group's time dataset and the value datasets that share it."""

    def __init__(self, group: str, time, datasets: Dict[str, object], datetime: bool) -> None:
        self.group = group
        self.time = time
        self.datasets = datasets
        self.names = [channel_name(group, d) for d in datasets]
        self.datetime = datetime
        self.n = int(time.shape[0])
        # A NaN value in a one-channel group marks a missing sample, as in a DataFrame column.
        self.drops_nan = len(datasets) == 1 and next(iter(datasets.values())).ndim == 1
        self.begin, self.end = 0, self.n
        self.next = 0
        self.horizon = INF
        self.previous = -INF
        self.pieces: list = []


class Hdf5Reader:
    """The channel groups of an HDF5 file in the package's layout (see :mod:`tamlib.io`).

    Parameters
    ----------
    path : str or path
    block : int
        Samples per window; rounded to whole chunks of a chunked time dataset.
    groups : sequence of str, optional
        Read only these groups (in file order).
    """

    # Each set reads on its own, from any thread: the run may stream them side by side.
    independent = True

    def __init__(self, path, block: int = BLOCK, groups: Optional[Sequence[str]] = None) -> None:
        import h5py

        self.path = os.fspath(path)
        self.block = int(block)
        try:
            self.file = h5py.File(self.path, "r")
        except OSError as error:
            raise OSError(f"{self.path}: not a readable HDF5 file ({error})") from None
        try:
            self._scan(h5py, groups)
        except BaseException:
            self.file.close()
            raise

    def close(self) -> None:
        self.file.close()

    def __enter__(self) -> "Hdf5Reader":
        return self

    def __exit__(self, *exc_info) -> None:
        self.close()

    # ---- layout and metadata ---------------------------------------------------------------

    def _scan(self, h5py, only) -> None:
        self._sets: List[_Set] = []
        self.units: Dict[str, str] = {}
        wanted = None if only is None else set(only)
        try:
            members = list(self.file.items())
        except _H5PY_ERRORS as error:
            raise OSError(f"{self.path}: cannot list the groups ({error})") from None
        for group_name, group in members:
            if wanted is not None and group_name not in wanted:
                continue
            try:
                if not isinstance(group, h5py.Group) or "time" not in group:
                    continue
                found = self._members(h5py, group)
            except _H5PY_ERRORS as error:
                raise OSError(f"{self.path}: group {group_name!r} cannot be read ({error})") \
                    from None
            if found is not None:
                self._sets.append(self._group(group_name, *found))
        if not self._sets:
            raise ValueError(f"{self.path} holds no channel groups with time and value.")
        # Mixed axes read into memory; streaming needs one (see check_streamable).
        self.datetimes = [s.datetime for s in self._sets]
        self.axis = Axis(any(self.datetimes))
        self.sets = [s.names for s in self._sets]
        self.sizes = [(s.group, s.n * len(s.names)) for s in self._sets]
        self.layout = [(s.group, list(s.datasets)) for s in self._sets]
        self.widths = {name: d.shape[1:] for s in self._sets
                       for name, d in zip(s.names, s.datasets.values())}
        self.arrays = [name for name, width in self.widths.items() if width]
        for s in self._sets:
            self._edges(s)
        edges = [(s.first, s.last) for s in self._sets if s.begin < s.end]
        self.first = min((f for f, _ in edges), default=None)
        self.last = max((t for _, t in edges), default=None)

    @staticmethod
    def _members(h5py, group):
        """What a group holds, as h5py reads it: the time dataset, the value datasets, the time
        unit and the value datasets' units; None when it holds no channel."""
        time = group["time"]
        datasets = {name: member for name, member in group.items()
                    if name != "time" and isinstance(member, h5py.Dataset)}
        if not isinstance(time, h5py.Dataset) or not datasets:
            return None
        units = {d: values.attrs.get("unit", group.attrs.get("unit") if d == "value" else None)
                 for d, values in datasets.items()}
        return time, datasets, text(group.attrs.get("time_unit", "s")), units

    def _group(self, group_name: str, time, datasets, time_unit: str, units) -> _Set:
        datetime = time_unit == NS_SINCE_EPOCH
        first = channel_name(group_name, next(iter(datasets)))
        kinds = "iu" if datetime else "fiu"
        if time.ndim != 1 or time.dtype.kind not in kinds:
            raise ValueError(
                f"{self.path}: channel {first!r}: the time dataset has shape {time.shape} and "
                f"type {time.dtype}; expected one {'integer' if datetime else 'number'} per "
                "sample.")
        for dataset, values in datasets.items():
            name = channel_name(group_name, dataset)
            if values.dtype.kind not in "fiu" or values.ndim not in (1, 2):
                raise ValueError(
                    f"{self.path}: channel {name!r}: values have shape {values.shape} and type "
                    f"{values.dtype}; expected numbers, one or a row per sample.")
            if values.shape[0] != time.shape[0]:
                short = min(values.shape[0], time.shape[0])
                missing = "time stamp" if time.shape[0] < values.shape[0] else "value"
                raise ValueError(
                    f"{self.path}: channel {name!r}: {time.shape[0]} time stamps for "
                    f"{values.shape[0]} samples; sample {short} has no {missing}.")
            if units[dataset] is not None:
                self.units[name] = text(units[dataset])
        return _Set(group_name, time, datasets, datetime)

    def _edges(self, s: _Set) -> None:
        """The first and last sample the set delivers, read from bounded windows only."""
        if s.drops_nan:
            values = next(iter(s.datasets.values()))
            while s.begin < s.end:
                part = self._read(s, values, s.begin, min(s.end, s.begin + _EDGE_WINDOW))
                kept = np.flatnonzero(~np.isnan(part))
                if kept.size:
                    s.begin += int(kept[0])
                    break
                s.begin += part.size
            while s.end > s.begin:
                part = self._read(s, values, max(s.begin, s.end - _EDGE_WINDOW), s.end)
                kept = np.flatnonzero(~np.isnan(part))
                if kept.size:
                    s.end -= part.size - 1 - int(kept[-1])
                    break
                s.end -= part.size
        s.next = s.begin
        if s.begin < s.end:
            s.first = self._stamp(s, s.begin)
            s.last = self._stamp(s, s.end - 1)

    def _stamp(self, s: _Set, i: int):
        stamp = self._read(s, s.time, i, i + 1)[0]
        check_times(np.array([stamp]), -INF, lambda _: self.where(s, i))
        return int(stamp) if s.datetime else float(stamp)

    def _read(self, s: _Set, dataset, i: int, j: int) -> NDArray:
        try:
            part = dataset[i:j]
        except _H5PY_ERRORS as error:
            raise OSError(f"{self.where(s, i)} to {j - 1}: cannot be read ({error})") from None
        if part.shape[0] != j - i:
            raise OSError(f"{self.where(s, i)}: the file ends {j - i - part.shape[0]} samples "
                          "early.")
        if dataset is s.time:
            return part.astype(np.int64 if s.datetime else np.float64, copy=False)
        return part.astype(np.float64, copy=False)

    def where(self, s: _Set, i: int) -> str:
        return f"{self.path}: channel {s.names[0]!r}, sample {i}"

    # ---- streaming -------------------------------------------------------------------------

    def _window(self, s: _Set) -> int:
        chunks = s.time.chunks
        if chunks:
            return max(chunks[0], self.block // chunks[0] * chunks[0])
        return self.block

    def start(self, seconds: bool = True) -> None:
        """Begin streaming, once the caller has set ``axis.origin``; with `seconds` false the
        pieces keep the stored times (float seconds, or int64 ns since the epoch)."""
        self._seconds = seconds
        for s in self._sets:
            if s.begin < s.end:
                s.horizon = float(self.axis.seconds(np.array([s.first]))[0])

    def horizon(self, k: int) -> float:
        return self._sets[k].horizon

    def advance(self, indices) -> None:
        for k in indices:
            s = self._sets[k]
            i = s.next
            if i >= s.end:
                continue
            j = min(s.end, i + self._window(s))
            raw = self._read(s, s.time, i, min(s.end, j + 1))
            check_times(raw, s.previous, lambda m, s=s, i=i: self.where(s, i + m))
            # The look-ahead stamp is read again as the first of the next window.
            s.previous = raw[j - i - 1]
            ahead = raw[-1:].copy() if j < s.end else None
            values = [self._read(s, d, i, j) for d in s.datasets.values()]
            times = self._converted(s, raw)[:j - i]
            if s.drops_nan:
                keep = ~np.isnan(values[0])
                if not keep.all():
                    times, values = times[keep], [values[0][keep]]
            s.pieces.append((times, values))
            s.next = j
            s.horizon = INF if ahead is None else float(self.axis.seconds(ahead)[0])

    def _converted(self, s: _Set, raw: NDArray) -> NDArray:
        if not self._seconds:
            return raw
        if s.datetime:
            return self.axis.seconds(raw)
        # The window is a fresh array of ours: shifting it in place spares a copy per window.
        return np.subtract(raw, self.axis.origin, out=raw)

    def take(self, k: int):
        s = self._sets[k]
        pieces, s.pieces = s.pieces, []
        return pieces


# ---- CSV ---------------------------------------------------------------------------------------


def csv_header(path: str) -> Tuple[str, List[str]]:
    """The layout ("long" or "wide") and the column names of a CSV file."""
    try:
        with open(path, newline="", encoding="utf-8") as f:
            header = next(csv.reader(f), [])
    except UnicodeDecodeError as error:
        raise ValueError(f"{path}: line 1 is not UTF-8 text ({error.reason}).") from None
    columns = [c.strip().lower() for c in header]
    if columns == ["channel", "time", "value"]:
        return "long", header
    if len(columns) >= 2 and columns[0] == "time":
        names = [c.strip() for c in header[1:]]
        if len(set(names)) != len(names):
            raise ValueError(f"{path}: line 1 names a channel twice.")
        return "wide", header
    raise ValueError(f"{path}: expected a header 'channel,time,value' or 'time,<channels>'.")


def csv_options(layout: str, header: List[str]) -> dict:
    """How pandas parses the file: numbers to the nearest double, channel names as text."""
    return dict(float_precision="round_trip", dtype={header[0]: str} if layout == "long" else None)


class CsvReader:
    """A long or wide CSV file whose rows are in time order, read a chunk of rows at a time.

    Each channel is a set of its own; empty cells are no sample. The long layout is scanned
    once first for its channel names, in order of appearance.
    """

    def __init__(self, path, block: int = BLOCK) -> None:
        import pandas as pd

        self.pd = pd
        self.path = os.fspath(path)
        self.layout_kind, header = csv_header(self.path)
        self.units: Dict[str, str] = {}
        self.arrays: List[str] = []
        self._long = self.layout_kind == "long"
        self._options = csv_options(self.layout_kind, header)
        self.names = self._channel_names() if self._long else [c.strip() for c in header[1:]]
        self.sets = [[name] for name in self.names]
        self.layout = [(name, ["value"]) for name in self.names]
        self._index = {name: k for k, name in enumerate(self.names)}
        self._pending: List[list] = [[] for _ in self.names]
        self._rows = self._parse(self.pd.read_csv, self.path, chunksize=max(1024, int(block)),
                                 **self._options)
        self._line = 2
        self._previous = -INF
        self._horizon = -INF
        self._done = False
        self.axis = None
        self.datetimes = [False] * len(self.names)
        self.widths = {name: () for name in self.names}
        self.first = self._first_stamp()
        self.last = self._last_stamp() if self.first is not None else None

    def close(self) -> None:
        self._rows.close()

    def __enter__(self) -> "CsvReader":
        return self

    def __exit__(self, *exc_info) -> None:
        self.close()

    def _parse(self, call, *args, **kwargs):
        try:
            return call(*args, **kwargs)
        except StopIteration:
            raise
        except (ValueError, UnicodeDecodeError) as error:  # pandas' ParserError included
            raise ValueError(f"{self.path}: {error}") from None

    def _channel_names(self) -> List[str]:
        names: Dict[str, None] = {}
        chunks = self._parse(self.pd.read_csv, self.path, usecols=[0], chunksize=1 << 20,
                             **self._options)
        while True:
            chunk = self._parse(next, chunks, None)
            if chunk is None:
                return list(names)
            names.update(dict.fromkeys(chunk.iloc[:, 0].dropna().unique()))

    def _chunk(self):
        """The next chunk's samples as (channel index, raw times, values), or None at the end."""
        chunk = self._parse(next, self._rows, None)
        if chunk is None:
            return None
        line = self._line
        self._line += len(chunk)
        times = self._times(chunk.iloc[:, 1 if self._long else 0], line)

        def where(i: int) -> str:
            channel = f" (channel {chunk.iloc[i, 0]!r})" if self._long else ""
            return f"{self.path}: line {line + i}{channel}"

        check_times(times, self._previous, where)
        if times.size:
            self._previous = times[-1]
        if not self._long:
            samples = []
            for k, name in enumerate(self.names):
                values = self._values(chunk.iloc[:, k + 1], line, name)
                keep = ~np.isnan(values)
                samples.append((k, times[keep], values[keep]))
            return samples
        channels = chunk.iloc[:, 0].to_numpy()
        values = self._numbers(chunk.iloc[:, 2], line,
                               lambda i: f"channel {channels[i]!r}: value", "a number")
        keep = ~np.isnan(values)
        samples = []
        for name in (self.pd.unique(channels[keep]) if keep.any() else ()):
            rows = keep & (channels == name)
            samples.append((self._index[name], times[rows], values[rows]))
        return samples

    def _times(self, column, line: int) -> NDArray:
        pd = self.pd
        if self.axis is None:
            numbers = pd.to_numeric(column, errors="coerce")
            self.axis = Axis(bool(column.size) and not (numbers.notna() | column.isna()).all())
        if not self.axis.is_datetime:
            return self._numbers(column, line, "time", "a number of seconds")
        stamps = pd.to_datetime(column, errors="coerce", utc=True)
        bad = np.flatnonzero(stamps.isna().to_numpy())
        if bad.size:
            raise ValueError(f"{self.path}: line {line + int(bad[0])}: time "
                             f"{column.iloc[bad[0]]!r} is not a date-time.")
        return stamps.dt.tz_localize(None).to_numpy(dtype="datetime64[ns]").view(np.int64)

    def _values(self, column, line: int, name) -> NDArray:
        return self._numbers(column, line, lambda i: f"channel {name!r}: value", "a number")

    def _numbers(self, column, line: int, label, expected: str) -> NDArray:
        """The column as doubles; `label` is text or gives it for the row of a bad cell."""
        if column.dtype.kind in "fiu":
            return column.to_numpy(dtype=np.float64)
        numbers = self.pd.to_numeric(column, errors="coerce")
        bad = np.flatnonzero((numbers.isna() & column.notna()).to_numpy())
        if bad.size:
            i = int(bad[0])
            what = label(i) if callable(label) else label
            raise ValueError(f"{self.path}: line {line + i}: {what} "
                             f"{column.iloc[i]!r} is not {expected}.")
        return numbers.to_numpy(dtype=np.float64)

    def _first_stamp(self):
        """The earliest sample: the first of the first chunk that holds any (rows in order)."""
        while True:
            samples = self._chunk()
            if samples is None:
                self._done = True
                return None
            firsts = [t[0] for _, t, _ in samples if t.size]
            if firsts:
                self._deliver(samples)
                return min(firsts)

    def _last_stamp(self):
        """The time of the last row with a value, read from the end of the file."""
        size = os.path.getsize(self.path)
        span = 1 << 16
        while True:
            start = max(0, size - span)
            with open(self.path, "rb") as f:
                f.seek(start)
                lines = f.read().decode("utf-8", errors="replace").splitlines()
            for fields in reversed(list(csv.reader(lines[1:]))):
                cells = fields[2:3] if self._long else fields[1:]
                if any(c.strip() for c in cells):
                    return self._stamp_of(fields[1 if self._long else 0])
            if start == 0:
                return None
            span *= 4

    def _stamp_of(self, cell: str):
        if not self.axis.is_datetime:
            return float(cell)
        stamp = self.pd.Timestamp(cell.strip())
        if stamp.tzinfo is not None:
            stamp = stamp.tz_convert("UTC").tz_localize(None)
        return int(stamp.value)

    def _deliver(self, samples) -> None:
        for k, times, values in samples:
            if times.size:
                self._pending[k].append((times, [values]))

    def start(self) -> None:
        self._set_horizon()

    def _set_horizon(self) -> None:
        self._horizon = INF if self._done else float(
            self.axis.seconds(np.array([self._previous]))[0])

    def horizon(self, k: int) -> float:
        return self._horizon

    def advance(self, indices) -> None:
        if not self._done:
            samples = self._chunk()
            if samples is None:
                self._done = True
            else:
                self._deliver(samples)
        self._set_horizon()

    def take(self, k: int):
        pending, self._pending[k] = self._pending[k], []
        return [(self.axis.seconds(t), v) for t, v in pending]


def open_reader(path, block: int = BLOCK, groups: Optional[Sequence[str]] = None):
    """A streaming reader for a .h5/.hdf5 or .csv recording, by its extension."""
    suffix = os.path.splitext(os.fspath(path))[1].lower()
    if suffix in (".h5", ".hdf5"):
        return Hdf5Reader(path, block, groups)
    if suffix == ".csv":
        if groups is not None:
            raise ValueError(f"{os.fspath(path)}: only HDF5 recordings are read by group.")
        return CsvReader(path, block)
    raise ValueError(f"{os.fspath(path)}: unknown file type; use .h5, .hdf5 or .csv.")
