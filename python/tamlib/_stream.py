"""resample(): pandas and numpy data through the streaming resampler, block by block."""

from __future__ import annotations

import math
from dataclasses import dataclass
from typing import Callable, Dict, List, Mapping, Optional, Tuple, Union

import numpy as np
import pandas as pd
from numpy.typing import NDArray

from ._resampler import Resampler, alias_free_filter_length, method_code

ChannelInput = Union[pd.Series, Tuple[object, object]]
Data = Union[pd.DataFrame, pd.Series, Mapping[object, ChannelInput]]


@dataclass
class _ChannelSet:
    """Channels that share one time axis: they go through one resampler as one group."""

    names: List[object]
    times: NDArray[np.float64]  # seconds after the origin
    values: NDArray[np.float64]  # (n, len(names))


@dataclass
class _Axis:
    """How input times map to seconds: datetime (ns since the epoch) or plain seconds."""

    is_datetime: bool
    tz: object = None
    name: object = None


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
    block_size: int = 65536,
    progress: Optional[Callable[[int], None]] = None,
) -> pd.DataFrame:
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
        name. By default one over the median sampling interval, rounded to whole hertz.
    transition_percent, attenuation_db : optional
        Alias-free filter design: transition band in percent (10 to 100, default 16) and
        stop-band attenuation in dB (default 60).
    block_size : int
        Samples per channel and block, and output samples per block. Memory held by the
        resampler grows with this and with the longest gap between two samples of a channel,
        not with the length of the input.
    progress : callable, optional
        Called after each block with the number of input samples it consumed.

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
    semantics: the values are those a C host gets feeding the same blocks. Channels of a
    DataFrame without missing values share one time axis and one resampler.

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
    code = method_code(method)
    rate = float(rate)
    if not (math.isfinite(rate) and rate > 0.0):
        raise ValueError("rate must be a finite positive number of hertz.")
    if int(block_size) < 2:
        raise ValueError("block_size must be at least 2.")
    axis, raw = _channels_of(data)
    if not raw:
        raise ValueError("No channels to resample.")

    origin = _origin(raw, axis, start)
    sets = [_ChannelSet(names, _seconds(t, origin, axis), v) for names, t, v in raw]
    dt = 1.0 / rate
    eps = tolerance if tolerance is not None and tolerance >= 0.0 else dt * 0.001
    last = max((s.times[-1] for s in sets if s.times.size), default=0.0)
    end_rel = last if end is None else _seconds(_as_times([end], axis), origin, axis)[0]
    # The grid by repeated addition, as the library builds it from a first output time of 0.
    # The sums drift from k / rate by their rounding, so the end is found in the grid itself.
    steps = int(math.floor(end_rel * rate)) + 3 if end_rel >= 0.0 else 1
    grid = np.add.accumulate(np.r_[0.0, np.full(steps - 1, dt)])
    count = int(np.searchsorted(grid, end_rel + eps, side="right")) if end_rel >= 0.0 else 0
    grid = grid[:count]

    columns: Dict[object, NDArray[np.float64]] = {}
    for channel_set in sets:
        out = np.full((count, len(channel_set.names)), np.nan)
        if count and channel_set.times.size:
            if code == method_code("aliasfree"):
                _run_alias_free(channel_set, out, grid, rate, input_rate, transition_percent,
                                attenuation_db, block_size, progress)
            else:
                _run_hold_linear(channel_set, out, grid, rate, method, tolerance, eps,
                                 block_size, progress)
        for j, name in enumerate(channel_set.names):
            columns[name] = out[:, j]

    order = [name for names, _, _ in raw for name in names]
    index = _index(grid, origin, axis)
    return pd.DataFrame({name: columns[name] for name in order}, index=index)


# ---- the two ways through the library ----------------------------------------------------------


def _blocks(times: NDArray[np.float64], block_size: int, window: float) -> List[Tuple[int, int]]:
    """Block boundaries: at most block_size samples and, gaps aside, window seconds each."""
    bounds = []
    n = times.size
    i = 0
    while i < n:
        j = min(n, i + block_size, int(np.searchsorted(times, times[i] + window, side="right")))
        j = max(j, i + 1)
        bounds.append((i, j))
        i = j
    return bounds


def _largest_span(times: NDArray[np.float64], bounds, first: float) -> float:
    ends = np.array([times[j - 1] for _, j in bounds])
    starts = np.r_[min(first, times[0]), ends[:-1]]
    return float(np.max(ends - starts))


def _stream(resampler: Resampler, channels, channel_set: _ChannelSet, times, bounds,
            progress) -> None:
    for i, j in bounds:
        stamps = times[i:j]
        for k, channel in enumerate(channels):
            resampler.add(channel, channel_set.values[i:j, k], stamps)
        resampler.calculate()
        if progress is not None:
            progress((j - i) * len(channels))


def _run_hold_linear(channel_set, out, grid, rate, method, tolerance, eps, block_size,
                     progress) -> None:
    times = channel_set.times
    first = int(np.searchsorted(grid, times[0] - eps, side="left"))
    last = int(np.searchsorted(grid, times[-1] + eps, side="right")) - 1
    if first > last:
        return
    if grid[first] >= times[-1] - eps:
        # The only grid point lies at the last sample, where both methods give its value. The
        # library would first need a later sample or an end to produce it.
        out[first:last + 1] = channel_set.values[-1]
        return
    dt = 1.0 / rate
    bounds = _blocks(times, block_size, block_size / rate)
    span = _largest_span(times, bounds, grid[first])
    with Resampler(
        method,
        rate,
        offset=float(grid[first]),
        input_buffer=max(j - i for i, j in bounds) + 2,
        output_buffer=int(math.ceil(span * rate)) + 16,
        tolerance=tolerance,
    ) as resampler:
        names = channel_set.names
        if len(names) == 1:
            channels = [resampler.add_async_channel()]
        else:
            # One group for channels that share their time stamps; the rate only names it.
            channels = [resampler.add_async_channel2(rate, 0.0, times.size) for _ in names]
        resampler.initialize()
        _stream(resampler, channels, channel_set, times, bounds, progress)
        resampler.finish(times[-1] + 0.5 * dt)
        for k, channel in enumerate(channels):
            t, v = resampler.read(channel)
            _place(out[:, k], grid, t, v, 0, first, last)


def _nominal_rate(times: NDArray[np.float64], given, name: str) -> float:
    if isinstance(given, Mapping):
        given = given.get(name)
    if given is not None:
        return float(given)
    if times.size < 2:
        raise ValueError(f"Channel {name!r} needs two samples for an input rate; give input_rate.")
    interval = float(np.median(np.diff(times)))
    if not interval > 0.0:
        raise ValueError(f"Channel {name!r} has no sampling interval; give input_rate.")
    return float(max(1, round(1.0 / interval)))


def _run_alias_free(channel_set, out, grid, rate, input_rate, transition_percent,
                    attenuation_db, block_size, progress) -> None:
    nominal = _nominal_rate(channel_set.times, input_rate, channel_set.names[0])
    # The filter counts samples, not stamps: it takes sample k at k over the whole-hertz rate.
    # Stamps that say otherwise would move the grid away from the outputs, so the channel gets
    # exactly those, and its outputs go to the grid from the point nearest its first sample.
    whole = int(nominal) if 1.0 <= nominal < 2.0**31 else 1
    n = channel_set.times.size
    times = np.arange(n, dtype=np.float64) / whole
    dt = 1.0 / rate
    if channel_set.times[0] > grid[-1] + 0.5 * dt:
        return
    anchor = int(_nearest(grid, channel_set.times[:1])[0])
    percent = 16 if transition_percent is None else int(transition_percent)
    attenuation = 60.0 if attenuation_db is None else float(attenuation_db)
    taps = alias_free_filter_length(rate, nominal, percent, attenuation)
    delay = int(math.ceil(taps * max(rate / whole, 1.0)))
    bounds = _blocks(times, block_size, block_size / rate)
    span = _largest_span(times, bounds, 0.0)
    with Resampler(
        "aliasfree",
        rate,
        0.0,
        input_buffer=max(j - i for i, j in bounds) + 2,
        output_buffer=int(math.ceil(span * rate)) + 2 * delay + 16,
        transition_percent=transition_percent,
        attenuation_db=attenuation_db,
    ) as resampler:
        channels = [resampler.add_async_channel2(nominal, 0.0, n) for _ in channel_set.names]
        resampler.initialize()
        _stream(resampler, channels, channel_set, times, bounds, progress)
        resampler.finish(times[-1] + 0.5 * dt)
        last_local = int(np.searchsorted(grid, times[-1] + 0.001 * dt, side="right")) - 1
        last = min(grid.size - 1, anchor + last_local)
        for k, channel in enumerate(channels):
            t, v = resampler.read(channel)
            _place(out[:, k], grid, t, v, anchor, anchor, last)


def _place(column, grid, times, values, anchor, first, last) -> None:
    """Write outputs into the column at their grid index, keeping first..last only."""
    if times.size == 0 or grid.size == 0:
        return
    nearest = _nearest(grid, times)
    index = anchor + nearest
    keep = (index >= first) & (index <= last)
    if grid.size > 1:
        keep &= np.abs(grid[nearest] - times) <= 0.5 * (grid[1] - grid[0])
    # A pass never revisits a grid point, so outputs are increasing; anything else is not ours.
    keep &= np.r_[True, np.diff(times) > 0.0]
    column[index[keep]] = values[keep]


def _nearest(grid: NDArray[np.float64], times: NDArray[np.float64]) -> NDArray[np.int64]:
    """Index of the grid point nearest to each time (the library's output times are grid
    points, so this is the exact match for them)."""
    if grid.size == 1:
        return np.zeros(times.size, dtype=np.int64)
    right = np.clip(np.searchsorted(grid, times), 1, grid.size - 1)
    closer_left = (times - grid[right - 1]) < (grid[right] - times)
    return (right - closer_left).astype(np.int64)


# ---- input normalisation -----------------------------------------------------------------------


def _channels_of(data: Data):
    """(axis, [(names, raw times, values (n, k))]) for a DataFrame or a dict of channels."""
    if isinstance(data, pd.DataFrame):
        axis = _axis_of(data.index)
        times = _as_times(data.index, axis)
        complete, partial = [], []
        for name in data.columns:
            column = _as_values(data[name], name)
            (partial if np.isnan(column).any() else complete).append((name, column))
        sets = []
        if complete:
            names = [name for name, _ in complete]
            # Column-major, so each channel's block is contiguous and reaches the library as is.
            values = np.asfortranarray(np.column_stack([c for _, c in complete]))
            sets.append((names, times, values))
        for name, column in partial:
            ok = ~np.isnan(column)
            sets.append(([name], times[ok], column[ok].reshape(-1, 1)))
        for names, t, _ in sets:
            _check_times(t, names[0])
        return axis, sets
    if isinstance(data, pd.Series):
        return _channels_of({data.name if data.name is not None else 0: data})
    if isinstance(data, Mapping):
        axis = None
        sets = []
        for name, entry in data.items():
            if isinstance(entry, pd.Series):
                raw_times, raw_values = entry.index, entry.to_numpy()
            else:
                try:
                    raw_times, raw_values = entry
                except (TypeError, ValueError):
                    raise ValueError(
                        f"Channel {name!r} must be a Series or a (times, values) pair."
                    ) from None
            this_axis = _axis_of(raw_times)
            if axis is None:
                axis = this_axis
            elif axis.is_datetime != this_axis.is_datetime:
                raise ValueError("Channels mix datetime and float time stamps.")
            times = _as_times(raw_times, axis)
            values = _as_values(raw_values, name)
            if values.shape[0] != times.shape[0]:
                raise ValueError(
                    f"Channel {name!r} has {times.shape[0]} time stamps and "
                    f"{values.shape[0]} values."
                )
            ok = ~np.isnan(values)
            times, values = times[ok], values[ok]
            _check_times(times, name)
            sets.append(([name], times, values.reshape(-1, 1)))
        return axis or _Axis(False), sets
    raise ValueError("data must be a DataFrame, a Series or a dict of channels.")


def _axis_of(index) -> _Axis:
    name = getattr(index, "name", None)
    if isinstance(index, pd.DatetimeIndex):
        return _Axis(True, index.tz, name)
    array = np.asarray(index)
    if np.issubdtype(array.dtype, np.datetime64):
        return _Axis(True, None, name)
    if array.dtype.kind in "biuf":
        return _Axis(False, None, name)
    raise ValueError(f"Time stamps must be datetimes or seconds, not {array.dtype}.")


def _as_times(raw, axis: _Axis) -> NDArray:
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


def _check_times(times: NDArray, name) -> None:
    if times.dtype.kind == "f" and not np.all(np.isfinite(times)):
        raise ValueError(f"Channel {name!r} has time stamps that are not finite.")
    if times.size > 1 and np.any(np.diff(times) < 0):
        raise ValueError(f"Time stamps of channel {name!r} are not in increasing order.")


def _origin(raw, axis: _Axis, start) -> Union[int, float]:
    if start is not None:
        return _as_times([start], axis)[0]
    firsts = [t[0] for _, t, _ in raw if t.size]
    if not firsts:
        raise ValueError("No channel has samples to resample.")
    return min(firsts)


def _seconds(times: NDArray, origin, axis: _Axis) -> NDArray[np.float64]:
    if axis.is_datetime:
        return (times - np.int64(origin)).astype(np.float64) / 1e9
    return times - origin


def _index(grid: NDArray[np.float64], origin, axis: _Axis) -> pd.Index:
    """The grid's times as the input gave them: the library's output times after the origin."""
    if axis.is_datetime:
        ns = np.int64(origin) + np.rint(grid * 1e9).astype(np.int64)
        index = pd.DatetimeIndex(ns.view("datetime64[ns]"), name=axis.name)
        if axis.tz is not None:
            index = index.tz_localize("UTC").tz_convert(axis.tz)
        return index
    return pd.Index(grid + origin, name=axis.name)
