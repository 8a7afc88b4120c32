"""Sinks of the streaming core that write files as the outputs come: HDF5, wide CSV, nothing.

A sink has ``put(column, rows, values)`` (a set's outputs, one array per channel, at increasing
grid rows) and ``close(count)`` (the grid has `count` points); one that writes whole rows says
``ordered = True`` and gets ``settled(row)`` (no row before it changes any more). See
:mod:`tamlib._engine`.
"""

from __future__ import annotations

from typing import List, Optional, Sequence, Tuple

import numpy as np
from numpy.typing import NDArray

from ._grid import CHUNK, Axis, Grid
from ._readers import NS_SINCE_EPOCH

# Rows per chunk of every output dataset, and per write.
ROWS = CHUNK
# A CSV sink writes once this many rows have settled.
_CSV_ROWS = 8192


class NullSink:
    """Discards the outputs (a run that only checks and counts)."""

    def put(self, column: int, rows, values) -> None:
        pass

    def close(self, count: int) -> None:
        pass


class _Column:
    """One output dataset, written a whole chunk at a time from a buffer of one chunk."""

    __slots__ = ("dataset", "buffer", "start", "filled", "size")

    def __init__(self, dataset) -> None:
        self.dataset = dataset
        self.buffer = np.empty(ROWS)
        self.start = 0
        self.filled = 0
        self.size = 0

    def put(self, first: int, values: NDArray[np.float64]) -> None:
        if self.filled and first != self.start + self.filled:
            self.flush()
        if not self.filled:
            self.start = first
        i = 0
        while i < values.size:
            # Buffers end at chunk boundaries, so every write fills whole chunks.
            room = (self.start // ROWS + 1) * ROWS - self.start - self.filled
            n = min(room, values.size - i)
            self.buffer[self.filled:self.filled + n] = values[i:i + n]
            self.filled += n
            i += n
            if n == room:
                self.flush()

    def flush(self) -> None:
        if not self.filled:
            return
        end = self.start + self.filled
        if end > self.size:
            self.size = max(end, min(2 * self.size, end + 64 * ROWS))
            self.dataset.resize((self.size,))
        self.dataset[self.start:end] = self.buffer[:self.filled]
        self.start, self.filled = end, 0


class Hdf5Sink:
    """Outputs into an open h5py file in the package's layout, one group per input group.

    Parameters
    ----------
    file : h5py.File
    layout : list of (group, [dataset names])
        Per channel set, as the reader gives it; the columns follow in this order.
    units : dict
        Channel name -> unit.
    axis, grid : Axis, Grid
        The output times: the grid's seconds as the input stored its stamps.
    compression : str, optional
        An h5py compression filter ("gzip", "lzf", ...) for every dataset.
    """

    def __init__(self, file, layout: Sequence[Tuple[str, List[str]]], units, axis: Axis,
                 grid: Grid, compression: Optional[str] = None) -> None:
        from ._readers import channel_name

        self.axis = axis
        self.grid = grid
        options = dict(shape=(0,), maxshape=(None,), chunks=(ROWS,), compression=compression)
        file.attrs["format"] = "tamlib-channels"
        file.attrs["version"] = 1
        self.time = None
        self.columns: List[_Column] = []
        for group_name, datasets in layout:
            if "/" in group_name or group_name in ("", ".", ".."):
                raise ValueError(f"Channel name {group_name!r} cannot name an HDF5 group.")
            group = file.create_group(group_name)
            group.attrs["time_unit"] = NS_SINCE_EPOCH if axis.is_datetime else "s"
            if self.time is None:
                self.time = group.create_dataset(
                    "time", dtype=np.int64 if axis.is_datetime else np.float64, **options)
            else:
                group["time"] = self.time  # a hard link: the grid is stored once
            for dataset in datasets:
                stored = group.create_dataset(dataset, dtype=np.float64, fillvalue=np.nan,
                                              **options)
                name = channel_name(group_name, dataset)
                if name in units:
                    (group if dataset == "value" else stored).attrs["unit"] = units[name]
                self.columns.append(_Column(stored))

    def put(self, column: int, rows: NDArray[np.int64], values) -> None:
        if rows[-1] - rows[0] + 1 == rows.size:
            for k, v in enumerate(values):
                self.columns[column + k].put(int(rows[0]), v)
            return
        runs = np.flatnonzero(np.diff(rows) != 1) + 1
        for a, b in zip(np.r_[0, runs], np.r_[runs, rows.size]):
            self.put(column, rows[a:b], [v[a:b] for v in values])

    def close(self, count: int) -> None:
        for column in self.columns:
            column.flush()
            column.dataset.resize((count,))
        self.time.resize((count,))
        for start in range(0, count, ROWS):
            stop = min(count, start + ROWS)
            self.time[start:stop] = self.axis.stamps(self.grid.values(start, stop))


class CsvSink:
    """Outputs as a wide CSV: ``time`` and one column per channel, rows written as they settle.

    Rows where no channel has a value are left out, as in :func:`tamlib.io.write_csv`.
    """

    ordered = True

    def __init__(self, stream, names: Sequence[str], axis: Axis, grid: Grid) -> None:
        import pandas as pd

        self.pd = pd
        self.stream = stream
        self.names = list(names)
        self.axis = axis
        self.grid = grid
        self.rows = np.full((_CSV_ROWS, len(self.names)), np.nan)
        self.base = 0
        self.stream.write(",".join(["time"] + [_csv_cell(n) for n in self.names]) + "\n")

    def put(self, column: int, rows: NDArray[np.int64], values) -> None:
        need = int(rows[-1]) + 1 - self.base
        if need > self.rows.shape[0]:
            grown = np.full((max(need, 2 * self.rows.shape[0]), self.rows.shape[1]), np.nan)
            grown[:self.rows.shape[0]] = self.rows
            self.rows = grown
        for k, v in enumerate(values):
            self.rows[rows - self.base, column + k] = v

    def settled(self, row) -> None:
        if row - self.base >= _CSV_ROWS:
            self._write(int(row))

    def close(self, count: int) -> None:
        self._write(count)

    def _write(self, end: int) -> None:
        n = min(end - self.base, self.rows.shape[0])
        if n <= 0:
            return
        block = self.rows[:n]
        keep = ~np.isnan(block).all(axis=1)
        stamps = self.axis.stamps(self.grid.values(self.base, self.base + n))[keep]
        index = (self.pd.DatetimeIndex(stamps.view("datetime64[ns]")) if self.axis.is_datetime
                 else self.pd.Index(stamps))
        frame = self.pd.DataFrame(block[keep], index=index)
        frame.to_csv(self.stream, header=False, float_format="%.17g")
        self.rows = np.concatenate([self.rows[n:], np.full((n, self.rows.shape[1]), np.nan)])
        self.base += n


def _csv_cell(name: str) -> str:
    text = str(name)
    if any(c in text for c in ',"\r\n'):
        return '"' + text.replace('"', '""') + '"'
    return text
