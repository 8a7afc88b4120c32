"""resample(): pandas and numpy data through the streaming core, block by block."""

from __future__ import annotations

from typing import TYPE_CHECKING, Callable, List, Mapping, Optional, Sequence, Tuple, Union

import numpy as np
from numpy.typing import NDArray

from ._engine import BLOCK, INF, Settings, check_times, run
from ._grid import Axis, Grid

if TYPE_CHECKING:
    import pandas as pd

ChannelInput = Union["pd.Series", Tuple[object, object]]
Data = Union["pd.DataFrame", "pd.Series", Mapping[object, ChannelInput]]
# A set: its channel names, its raw times and one value array per channel.
RawSet = Tuple[List[object], NDArray, List[NDArray[np.float64]]]


def resample(
    data: Data,
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
    progress: Optional[Callable[[float], None]] = None,
    as_xarray: bool = False,
) -> "pd.DataFrame":
    """Resample channels onto one common time grid.

    Parameters
    ----------
    data : DataFrame, Series or dict
        A DataFrame with a DatetimeIndex or a float index in seconds, one column per channel;
        a Series with such an index, one channel; or a dict mapping channel names to a Series
        or to a ``(times, values)`` pair. Each dict entry has its own times: channels may be
        irregular, run at different rates and start and end at different times. Missing
        values (NaN) are left out of their channel.
    rate : float
        Output grid rate in Hz.
    method : {"linear", "hold", "aliasfree"}
        Linear interpolation, sample-and-hold, or alias-free polyphase FIR filtering.
    start : float or Timestamp, optional
        Time of the first grid point; by default the earliest time stamp of all channels.
    end : float or Timestamp, optional
        Last time the grid covers; by default the latest time stamp of all channels.
    tolerance : float, optional
        Time tolerance in seconds for hold and linear; default a thousandth of an output period.
    input_rate : float or dict, optional
        Nominal input rate in Hz for the alias-free method, for all channels or per channel
        name. By default one over the median of the channel's first 10000 sampling intervals,
        rounded to whole hertz.
    transition_percent, attenuation_db : optional
        Alias-free filter design: transition band in percent (10 to 100, default 16) and
        stop-band attenuation in dB (default 60).
    max_gap : float
        Alias-free only: an interval longer than this many nominal input periods (default 4)
        is a gap. The filter stops before it and starts afresh after it; grid points inside
        the gap, and within half a filter length of its edges, stay NaN.
    block_size : int
        At most this many samples per channel set, and output periods, per library pass. The
        resampler's memory grows with this, not with the length of the input.
    progress : callable, optional
        Called as the run goes with the seconds of recording done since the last call; the
        calls add up to the grid's span.
    as_xarray : bool
        Return an ``xarray.Dataset`` instead (see :func:`tamlib.to_xarray`), with the units of
        a :class:`tamlib.io.ChannelData`.

    Returns
    -------
    DataFrame
        One column per channel, in input order, on the grid ``start + k / rate``. The index is
        a DatetimeIndex when the input times are datetimes (to the nearest nanosecond), else
        float seconds. It holds the library's output times, which it sums one period at a
        time: over long runs they part from ``k / rate`` by the rounding of those sums (about
        2 microseconds after 10**7 points at 1 kHz). Grid points outside a channel's first and
        last time stamp are NaN.

    Raises
    ------
    ValueError
        For unusable input (unsorted or non-finite times, unknown method) and with the library's
        message for anything the library refuses.

    See Also
    --------
    Resampler : the block-by-block interface underneath.

    Notes
    -----
    Each channel set runs through its own resampler in blocks, with the library's streaming
    semantics: the values are those a C host gets from the same samples, whatever the blocks.
    Channels of a DataFrame without missing values share one time axis and one resampler, and
    so do the channels of one group of a :class:`tamlib.io.ChannelData` (its ``groups``);
    there a NaN value stays a value, which the library carries into the outputs next to it.
    :func:`tamlib.resample_file` runs the same code on files, so its results are these bits.

    With ``method="aliasfree"`` a channel is taken as uniformly sampled at its nominal rate
    in whole hertz (the filter ratio uses whole hertz) from its first sample on, and its
    outputs go to the grid from the point nearest that sample. The filter is primed and
    flushed with zeros, so about one filter delay at each end carries its edge transient.

    Examples
    --------
    >>> import numpy as np, pandas as pd, tamlib
    >>> t = np.array([0.0, 0.013, 0.021, 0.035, 0.04])
    >>> frame = pd.DataFrame({"a": [0.0, 1.3, 2.1, 3.5, 4.0]}, index=t)
    >>> tamlib.resample(frame, rate=100.0)["a"].round(6).tolist()
    [0.0, 1.0, 2.0, 3.0, 4.0]
    """
    import pandas as pd

    settings = Settings(method, rate, tolerance, input_rate, transition_percent, attenuation_db,
                        block_size, max_gap)
    axis, sets = _channels_of(data, pd)
    if not sets:
        raise ValueError("No channels to resample.")
    axis.origin = _origin(sets, axis, start, pd)
    relative = []
    for names, times, values in sets:
        seconds = axis.seconds(times)
        check_times(seconds, -INF, lambda i, name=names[0]: f"Channel {name!r}, sample {i}")
        relative.append((names, seconds, values))
    reader = ArrayReader(relative, settings.block)
    if end is None:
        end_s = max(float(t[-1]) for _, t, _ in relative if t.size)
    else:
        end_s = float(axis.seconds(_as_times([end], axis, pd))[0])
    grid = Grid(settings.rate)
    sink = ArraySink(sum(len(names) for names in reader.sets))
    count = run(reader, grid, sink, settings, end_s, progress).points

    names = [name for names in reader.sets for name in names]
    columns = dict(zip(names, sink.columns(count)))
    index = _index(pd, axis.stamps(grid.values(0, count)), axis)
    frame = pd.DataFrame({name: columns[name] for name in _order(data, names, pd)}, index=index)
    return to_xarray(frame, getattr(data, "units", None)) if as_xarray else frame


def to_xarray(frame, units: Optional[Mapping[str, str]] = None):
    """A result of :func:`resample` as an ``xarray.Dataset``.

    One data variable per channel on the coordinate ``time`` (the frame's index), with the
    channel's unit, where known, as its ``units`` attribute. xarray is imported only here.

    Examples
    --------
    >>> import numpy as np, tamlib
    >>> data = tamlib.io.ChannelData({"p": (np.arange(5) / 10, np.arange(5.0))}, units={"p": "bar"})
    >>> ds = tamlib.resample(data, rate=20.0, as_xarray=True)
    >>> ds["p"].attrs["units"], ds.sizes["time"]
    ('bar', 9)
    """
    import xarray as xr

    coordinate = frame.index.rename("time")
    dataset = xr.Dataset({str(name): ("time", frame[name].to_numpy()) for name in frame.columns},
                         coords={"time": coordinate.to_numpy()})
    for name in frame.columns:
        if units and name in units:
            dataset[str(name)].attrs["units"] = str(units[name])
    if frame.index.name is not None:
        dataset["time"].attrs["long_name"] = str(frame.index.name)
    return dataset


class ArrayReader:
    """Channel sets held in memory, delivered a block at a time (views, no copies)."""

    # Each set reads on its own, from any thread: the run may stream them side by side.
    independent = True

    def __init__(self, data: Sequence[RawSet], block: int) -> None:
        self.data = data
        self.sets = [names for names, _, _ in data]
        self.block = block
        self._next = [0] * len(data)
        self._taken = [0] * len(data)

    def horizon(self, k: int) -> float:
        times = self.data[k][1]
        i = self._next[k]
        return float(times[i]) if i < times.size else INF

    def advance(self, indices) -> None:
        for k in indices:
            self._next[k] = min(self._next[k] + self.block, self.data[k][1].size)

    def take(self, k: int):
        _, times, values = self.data[k]
        i, j = self._taken[k], self._next[k]
        self._taken[k] = j
        return [(times[i:j], [v[i:j] for v in values])] if j > i else []


class ArraySink:
    """Outputs into columns that grow with the grid."""

    def __init__(self, width: int) -> None:
        self.out = np.full((1024, width), np.nan, order="F")

    def _grow(self, rows: int) -> None:
        size = self.out.shape[0]
        if rows > size:
            grown = np.full((max(2 * size, rows), self.out.shape[1]), np.nan, order="F")
            grown[:size] = self.out
            self.out = grown

    def put(self, column: int, rows, values) -> None:
        self._grow(int(rows[-1]) + 1)
        for k, v in enumerate(values):
            self.out[rows, column + k] = v

    def close(self, count: int) -> None:
        self._grow(count)

    def columns(self, count: int) -> List[NDArray[np.float64]]:
        return [self.out[:count, k] for k in range(self.out.shape[1])]


# ---- input normalisation -----------------------------------------------------------------------


def _channels_of(data: Data, pd) -> Tuple[Axis, List[RawSet]]:
    """The time axis and the channel sets of a DataFrame, a Series or a dict of channels."""
    if isinstance(data, pd.DataFrame):
        axis = _axis_of(data.index, pd)
        times = _as_times(data.index, axis, pd)
        complete, sets = [], []
        for name in data.columns:
            column = _as_values(data[name], name)
            if np.isnan(column).any():
                ok = ~np.isnan(column)
                sets.append(([name], times[ok], [column[ok]]))
            else:
                complete.append((name, column))
        if complete:
            sets.insert(0, ([n for n, _ in complete], times, [c for _, c in complete]))
        return axis, sets
    if isinstance(data, pd.Series):
        return _channels_of({data.name if data.name is not None else 0: data}, pd)
    if not isinstance(data, Mapping):
        raise ValueError("data must be a DataFrame, a Series or a dict of channels.")
    axis = None
    entries = {}
    for name, entry in data.items():
        if isinstance(entry, pd.Series):
            raw_times, raw_values = entry.index, entry.to_numpy()
        else:
            try:
                raw_times, raw_values = entry
            except (TypeError, ValueError):
                raise ValueError(
                    f"Channel {name!r} must be a Series or a (times, values) pair.") from None
        this_axis = _axis_of(raw_times, pd)
        if axis is None:
            axis = this_axis
        elif axis.is_datetime != this_axis.is_datetime:
            raise ValueError("Channels mix datetime and float time stamps.")
        times = _as_times(raw_times, axis, pd)
        values = _as_values(raw_values, name)
        if values.shape[0] != times.shape[0]:
            raise ValueError(
                f"Channel {name!r} has {times.shape[0]} time stamps and {values.shape[0]} values.")
        entries[name] = (times, values)
    # The channels of a file's group share their stamps and stay one set, NaN values included.
    grouped = [g for g in getattr(data, "groups", ())
               if len(g) > 1 and all(n in entries for n in g)]
    in_group = {name for g in grouped for name in g}
    sets = [(list(g), entries[g[0]][0], [entries[n][1] for n in g]) for g in grouped]
    for name, (times, values) in entries.items():
        if name not in in_group:
            ok = ~np.isnan(values)
            sets.append(([name], times[ok], [values[ok]]))
    return axis or Axis(False), sets


def _order(data: Data, names: List[object], pd) -> List[object]:
    """Result columns in the order the input lists its channels."""
    if isinstance(data, pd.DataFrame):
        return list(data.columns)
    if isinstance(data, Mapping):
        return list(data.keys())
    return names


def _axis_of(index, pd) -> Axis:
    name = getattr(index, "name", None)
    if isinstance(index, pd.DatetimeIndex):
        return Axis(True, tz=index.tz, name=name)
    array = np.asarray(index)
    if np.issubdtype(array.dtype, np.datetime64):
        return Axis(True, name=name)
    if array.dtype.kind in "biuf":
        return Axis(False, name=name)
    raise ValueError(f"Time stamps must be datetimes or seconds, not {array.dtype}.")


def _as_times(raw, axis: Axis, pd) -> NDArray:
    """Datetimes as int64 ns since the epoch (UTC), plain times as float64 seconds."""
    if axis.is_datetime:
        index = pd.DatetimeIndex(raw)
        if index.tz is not None:
            index = index.tz_convert("UTC").tz_localize(None)
        return index.asi8.astype(np.int64)
    times = np.asarray(raw, dtype=np.float64)
    if times.ndim != 1:
        raise ValueError("Time stamps must be one-dimensional.")
    return times


def _as_values(raw, name) -> NDArray[np.float64]:
    try:
        values = np.asarray(raw, dtype=np.float64)
    except (TypeError, ValueError):
        raise ValueError(f"Channel {name!r} does not hold numbers.") from None
    if values.ndim != 1:
        raise ValueError(f"Channel {name!r} must be one-dimensional.")
    return values


def _origin(sets: List[RawSet], axis: Axis, start, pd):
    if start is not None:
        return _as_times([start], axis, pd)[0]
    firsts = [t[0] for _, t, _ in sets if t.size]
    if not firsts:
        raise ValueError("No channel has samples to resample.")
    return min(firsts)


def _index(pd, stamps: NDArray, axis: Axis):
    """The grid's times as the input gave them: the library's output times after the origin."""
    if axis.is_datetime:
        index = pd.DatetimeIndex(stamps.view("datetime64[ns]"), name=axis.name)
        if axis.tz is not None:
            index = index.tz_localize("UTC").tz_convert(axis.tz)
        return index
    return pd.Index(stamps, name=axis.name)
