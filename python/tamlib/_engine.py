"""The streaming core behind tamlib.resample and tamlib.resample_file.

A reader delivers the samples of each channel set (channels that share one time axis) in pieces,
in time order; a sink takes the outputs at their grid index. The core steps through time: at
each step the sets that hold everything else back read on, every set feeds what it got to a
resampler of its own, one block per pass, and each pass's outputs go to the sink as they come.
Memory therefore follows the block size and the channel count, not the length of the
recording.

A reader has ``sets`` (a list of channel-name lists), ``advance(indices)`` (deliver more of those
sets; it may deliver others too), ``take(index)`` (the ``(times, [values per channel])`` pieces
delivered since the last take, times in seconds after the origin) and ``horizon(index)`` (every
sample of the set before this time has been delivered; +inf once it has all been). A sink has
``put(column, indices, values)`` and ``close(count)``; one whose ``ordered`` is true writes
whole rows and gets ``settled(row)`` (no row before it changes any more) as the run goes.
"""

from __future__ import annotations

import math
import threading
from collections import deque
from dataclasses import dataclass
from typing import Callable, List, Mapping, NamedTuple, Optional, Sequence, Tuple, Union

import numpy as np
from numpy.typing import NDArray

from ._grid import Grid
from ._sets import side_by_side
from ._resampler import Resampler, alias_free_filter_length, method_code

Piece = Tuple[NDArray[np.float64], List[NDArray[np.float64]]]
INF = math.inf
# The alias-free method takes a channel's nominal rate from the median of its first intervals:
# a rule that needs no more of the channel than this, in memory and from files alike. tamresample
# applies the same rule (tools/RegistrationRules.h); keep the two in step.
NOMINAL_INTERVALS = 10000
# Samples per channel set and window, and output periods per pass, unless told otherwise: the
# results do not depend on it, and at this size the per-window costs have faded.
BLOCK = 131072


@dataclass
class Settings:
    """What a run needs besides the data: the options of :func:`tamlib.resample`."""

    method: str
    rate: float
    tolerance: Optional[float] = None
    input_rate: Union[None, float, Mapping[str, float]] = None
    transition_percent: Optional[int] = None
    attenuation_db: Optional[float] = None
    block: int = BLOCK

    def __post_init__(self) -> None:
        method_code(self.method)
        self.rate = float(self.rate)
        if not (math.isfinite(self.rate) and self.rate > 0.0):
            raise ValueError("rate must be a finite positive number of hertz.")
        self.block = int(self.block)
        if self.block < 2:
            raise ValueError("block must be at least 2.")

    @property
    def dt(self) -> float:
        return 1.0 / self.rate

    @property
    def eps(self) -> float:
        tolerance = self.tolerance
        return tolerance if tolerance is not None and tolerance >= 0.0 else self.dt * 0.001


class Totals(NamedTuple):
    """What a run did: grid points, input samples fed and values produced (times channels)."""

    points: int
    samples_in: int
    samples_out: int


def check_times(times: NDArray[np.float64], previous: float, where: Callable[[int], str]) -> None:
    """Refuse stamps that are not finite or go backwards, naming the first such sample.

    Increasing stamps between finite first and last ones are all finite, so one comparison pass
    covers both; the slow search for the culprit runs only on failure.
    """
    if times.size == 0:
        return
    ordered = times[0] >= previous and bool(np.all(times[1:] >= times[:-1]))
    if ordered and math.isfinite(times[0]) and math.isfinite(times[-1]):
        return
    bad = np.flatnonzero(~np.isfinite(times))
    before = np.r_[previous, times[:-1]]
    backwards = np.flatnonzero(times < before)
    i = int(min(bad[0] if bad.size else times.size, backwards[0] if backwards.size else times.size))
    if bad.size and bad[0] == i:
        raise ValueError(f"{where(i)}: time stamp {times[i]} is not finite.")
    raise ValueError(
        f"{where(i)}: time stamps are not in increasing order ({times[i]!r} after "
        f"{before[i]!r})."
    )


def run(reader, grid: Grid, sink, settings: Settings, end: float,
        progress: Optional[Callable[[float], None]] = None) -> "Totals":
    """Resample every set of the reader onto the grid up to `end` seconds after the origin.

    `progress` gets the seconds of recording done since its last call; they add up to `end`.
    """
    count = grid.search(end + settings.eps, "right") if end >= 0.0 else 0
    runs, column = [], 0
    sink_lock = threading.Lock()
    for names in reader.sets:
        runs.append(_Run(names, column, settings, grid, sink, sink_lock, count - 1))
        column += len(names)
    if getattr(reader, "independent", False) and not getattr(sink, "ordered", False):
        done = side_by_side(reader, runs, end, progress, count)
    else:
        done = _in_step(reader, runs, sink, end, progress)
    for k, one in enumerate(runs):
        one.add(reader.take(k))
    if not any(one.started for one in runs):
        raise ValueError("No channel has samples to resample.")
    for one in runs:
        if not one.finished:
            one.finish(count)
    if progress is not None and end > done:
        progress(end - done)
    sink.close(count)
    return Totals(count, sum(one.fed * len(one.names) for one in runs),
                  sum(one.produced for one in runs))


def _in_step(reader, runs: List["_Run"], sink, end: float, progress) -> float:
    """Read on the sets that hold the others back and feed what lies before the slowest, so
    that the rows an ordered sink holds stay within one window of the fastest set. Returns
    the seconds reported done."""
    done = 0.0
    ordered = getattr(sink, "ordered", False)
    while True:
        horizons = [reader.horizon(k) for k in range(len(runs))]
        slowest = min(horizons, default=INF)
        if slowest == INF:
            break
        reader.advance([k for k, h in enumerate(horizons) if h == slowest])
        horizons = [reader.horizon(k) for k in range(len(runs))]
        before = min(horizons)
        for k, one in enumerate(runs):
            one.add(reader.take(k))
            if one.pieces or horizons[k] == INF:
                one.feed(before if ordered else INF, final=horizons[k] == INF)
        if ordered:
            sink.settled(min(one.frontier(h) for one, h in zip(runs, horizons)))
        before = min(before, end)
        if progress is not None and before > done:
            progress(before - done)
            done = before
    return done


class _Run:
    """One channel set through one resampler: its pending pieces and where its outputs go."""

    def __init__(self, names: Sequence[object], column: int, settings: Settings, grid: Grid,
                 sink, sink_lock: threading.Lock, bound: int) -> None:
        self.names = list(names)
        self.column = column
        self.sink_lock = sink_lock
        self.settings = settings
        self.grid = grid
        self.sink = sink
        self.pieces: "deque[Piece]" = deque()
        self.resampler: Optional[Resampler] = None
        self.channels: list = []
        self.started = False
        self.finished = False
        self.first_time = INF
        self.last_time = -INF
        self.last_values: List[float] = []
        self.fed = 0
        self.reached = 0.0
        self.limited = False
        # Outputs go to grid rows lo..hi: from the set's first sample to its last, within the grid.
        self.lo = 0
        self.hi = bound
        self.anchor = 0
        self.whole = 1
        self.previous = -INF
        self.placed = -1
        self.produced = 0
        self.next_local: Optional[int] = None
        self.steps = settings.block

    # ---- input -----------------------------------------------------------------------------

    def add(self, pieces: List[Piece]) -> None:
        for times, values in pieces:
            if times.size == 0:
                continue
            if not self.started:
                self.first_time = min(self.first_time, float(times[0]))
            self.started = True
            self.pieces.append((times, values))
            self.last_time = float(times[-1])
            self.last_values = [float(v[-1]) for v in values]

    def feed(self, before: float = INF, final: bool = False) -> None:
        """Feed the pending samples before `before` seconds, in blocks; `final` once the set
        has delivered all."""
        if self.resampler is None and not self._begin(final):
            return
        while self.pieces and self.pieces[0][0][0] < before:
            times, values = self.pieces.popleft()
            if times[-1] >= before:
                j = int(np.searchsorted(times, before, side="left"))
                self.pieces.appendleft((times[j:], [v[j:] for v in values]))
                times, values = times[:j], [v[:j] for v in values]
            self._feed_piece(times, values)

    def _feed_piece(self, times: NDArray[np.float64], values: List[NDArray]) -> None:
        # At most a block of samples, and a block of output periods, per pass. The alias-free
        # filter sees evenly spaced samples, so its limit is a count.
        block, window = self.settings.block, self.settings.block * self.settings.dt
        if self.settings.method == "aliasfree":
            block = max(1, min(block, int(window * self.whole)))
        n, i = times.size, 0
        while i < n:
            j = min(n, i + block)
            if self.settings.method != "aliasfree" and times[j - 1] > times[i] + window:
                j = int(np.searchsorted(times, times[i] + window, side="right"))
            j = max(j, i + 1)
            self._pass(times[i:j], [v[i:j] for v in values])
            i = j

    def _pass(self, times: NDArray[np.float64], values: List[NDArray]) -> None:
        if self.settings.method == "aliasfree":
            # The filter counts samples, not stamps: it takes sample k at k over the whole-hertz
            # rate, and its outputs go to the grid from the point nearest the first sample.
            stamps = np.arange(self.fed, self.fed + times.size, dtype=np.float64) / self.whole
        else:
            stamps = times
        r = self.resampler
        r.add(self.channels[0], values[0], stamps)
        for channel, column in zip(self.channels[1:], values[1:]):
            r.add(channel, column)
        self.fed += times.size
        self._calculate(float(stamps[-1]))

    def _calculate(self, newest: float) -> None:
        # A pass extends the grid from where it stands to the newest stamp; across a long gap
        # that is more than the output ring holds, so the block end holds the grid back to a
        # ring's worth per pass. Outputs do not depend on how passes split the grid.
        r, first = self.resampler, self.channels[0]
        while True:
            limit = self.reached + self.steps * self.settings.dt
            limited = newest > limit
            if limited or self.limited:
                r.add_block_end_time(first, limit if limited else INF)
            self.limited = limited
            r.calculate()
            self._place()
            if not limited:
                self.reached = max(self.reached, newest)
                return
            self.reached = limit

    # ---- start and end ---------------------------------------------------------------------

    def _begin(self, final: bool) -> bool:
        if not self.pieces:
            return False
        s, grid = self.settings, self.grid
        # A pass adds at most a block, and leaves at most a filter's length unconsumed.
        ring = s.block + 16
        if s.method != "aliasfree":
            self.lo = grid.search(self.first_time - s.eps)
            offset = float(grid.values(self.lo, self.lo + 1)[0])
            self.resampler = Resampler(s.method, s.rate, offset=offset, input_buffer=ring,
                                       output_buffer=s.block + 32, tolerance=s.tolerance)
            if len(self.names) == 1:
                self.channels = [self.resampler.add_async_channel()]
            else:
                # One group for channels that share their time stamps; the rate only names it.
                self.channels = [self.resampler.add_async_channel2(s.rate, 0.0, 0)
                                 for _ in self.names]
            self.reached = max(offset, 0.0)
        else:
            nominal = self._nominal_rate(final)
            if nominal is None:
                return False
            self.whole = int(nominal) if 1.0 <= nominal < 2.0**31 else 1
            self.anchor = self.lo = int(grid.nearest(np.array([self.first_time]))[0][0])
            percent = 16 if s.transition_percent is None else int(s.transition_percent)
            attenuation = 60.0 if s.attenuation_db is None else float(s.attenuation_db)
            taps = alias_free_filter_length(s.rate, nominal, percent, attenuation)
            delay = int(math.ceil(taps * max(s.rate / self.whole, 1.0)))
            self.resampler = Resampler("aliasfree", s.rate, 0.0, input_buffer=ring,
                                       output_buffer=s.block + 2 * delay + 32,
                                       transition_percent=s.transition_percent,
                                       attenuation_db=s.attenuation_db)
            self.channels = [self.resampler.add_async_channel2(nominal, 0.0, 0)
                             for _ in self.names]
        self.resampler.initialize()
        return True

    def _nominal_rate(self, final: bool) -> Optional[float]:
        given = self.settings.input_rate
        if isinstance(given, Mapping):
            given = given.get(self.names[0])
        if given is not None:
            return float(given)
        stamps, have = [], 0
        for times, _ in self.pieces:
            stamps.append(times[:NOMINAL_INTERVALS + 1 - have])
            have += stamps[-1].size
            if have > NOMINAL_INTERVALS:
                break
        if have <= NOMINAL_INTERVALS and not final:
            return None
        name = self.names[0]
        if have < 2:
            raise ValueError(
                f"Channel {name!r} needs two samples for an input rate; give input_rate.")
        interval = float(np.median(np.diff(np.concatenate(stamps))))
        if not interval > 0.0:
            raise ValueError(f"Channel {name!r} has no sampling interval; give input_rate.")
        # Halves round away from zero, as in tamresample (Python's round() would go to even).
        return float(max(1.0, math.floor(1.0 / interval + 0.5)))

    def finish(self, count: int) -> None:
        self.finished = True
        if not self.started:
            return
        self.feed(final=True)
        s, grid, r = self.settings, self.grid, self.resampler
        try:
            if s.method == "aliasfree":
                newest = (self.fed - 1) / self.whole
                local = grid.search(newest + 0.001 * s.dt, "right") - 1
                self.hi = min(count - 1, self.anchor + local)
            else:
                newest = self.last_time
                self.hi = min(count - 1, grid.search(newest + s.eps, "right") - 1)
                if self.lo > self.hi:
                    return
                if float(grid.values(self.lo, self.lo + 1)[0]) >= newest - s.eps:
                    # The only grid point lies at the last sample, where both methods give its
                    # value. The library would first need a later sample to produce it.
                    rows = np.arange(self.lo, self.hi + 1, dtype=np.int64)
                    self._put(rows, [np.full(rows.size, v) for v in self.last_values])
                    return
            r.finish(newest + 0.5 * s.dt)
            self._place()
        finally:
            r.close()

    # ---- output ----------------------------------------------------------------------------

    def _place(self) -> None:
        outputs = [self.resampler.read(channel) for channel in self.channels]
        times = outputs[0][0]
        if times.size == 0:
            return
        values = [v for _, v in outputs]
        # Every output takes the next master time, so a pass's outputs are consecutive grid
        # points after the last one placed; checking both ends confirms it without a search.
        first = self.next_local
        if first is None or not (self._point(first) == times[0]
                                 and self._point(first + times.size - 1) == times[-1]):
            self._place_searched(times, values)
            return
        self.next_local = first + times.size
        self.previous = float(times[-1])
        row = self.anchor + first
        a, b = max(0, self.lo - row), min(times.size, self.hi - row + 1)
        if a >= b:
            return
        if a or b < times.size:
            values = [v[a:b] for v in values]
        self._put(np.arange(row + a, row + b, dtype=np.int64), values)

    def _point(self, local: int) -> float:
        return float(self.grid.values(local, local + 1)[0]) if local >= 0 else math.nan

    def _place_searched(self, times: NDArray[np.float64], values) -> None:
        index, points = self.grid.nearest(times)
        self.next_local = int(index[-1]) + 1
        index += self.anchor
        keep = (index >= self.lo) & (index <= self.hi)
        keep &= np.abs(points - times) <= 0.5 * self.settings.dt
        # A pass never revisits a grid point, so outputs are increasing; anything else is not ours.
        keep[0] &= times[0] > self.previous
        keep[1:] &= times[1:] > times[:-1]
        self.previous = float(times[-1])
        if not keep.all():
            index = index[keep]
            values = [v[keep] for v in values]
        if index.size:
            self._put(index, values)

    def _put(self, rows: NDArray[np.int64], values) -> None:
        with self.sink_lock:
            self.sink.put(self.column, rows, values)
        self.placed = int(rows[-1])
        self.produced += sum(rows.size - int(np.count_nonzero(np.isnan(v))) for v in values)

    def frontier(self, horizon: float) -> float:
        """No row before this one changes any more through this set."""
        if self.finished:
            return INF
        if self.resampler is None:
            if horizon == INF and not self.started:
                return INF
            # Nothing before its first sample; the alias-free anchor rounds to the nearest point.
            start = min(horizon, self.first_time) - self.settings.dt
            return self.grid.search(start) if math.isfinite(start) else 0
        return max(self.lo, self.placed)
