"""One channel set of a run through its resampler, for hold and linear; see _engine."""

from __future__ import annotations

import math
import threading
from collections import deque
from typing import TYPE_CHECKING, List, Optional, Sequence, Tuple

import numpy as np
from numpy.typing import NDArray

from ._grid import Grid
from ._resampler import Resampler

if TYPE_CHECKING:
    from ._engine import Settings

Piece = Tuple[NDArray[np.float64], List[NDArray[np.float64]]]
INF = math.inf


class Run:
    """One channel set through one hold or linear resampler: its pending pieces and where its
    outputs go."""

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
        self.previous = -INF
        self.placed = -1
        self.produced = 0
        self.next_local: Optional[int] = None
        self.steps = settings.block

    @property
    def ready(self) -> bool:
        return self.resampler is not None

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
        if not self.ready and not self._begin(final):
            return
        while self.pieces and self.pieces[0][0][0] < before:
            times, values = self.pieces.popleft()
            if times[-1] >= before:
                j = int(np.searchsorted(times, before, side="left"))
                self.pieces.appendleft((times[j:], [v[j:] for v in values]))
                times, values = times[:j], [v[:j] for v in values]
            self._feed_piece(times, values)

    def _feed_piece(self, times: NDArray[np.float64], values: List[NDArray]) -> None:
        # At most a block of samples, and a block of output periods, per pass.
        block, window = self.settings.block, self.settings.block * self.settings.dt
        n, i = times.size, 0
        self.fed += n
        while i < n:
            j = min(n, i + block)
            if times[j - 1] > times[i] + window:
                j = int(np.searchsorted(times, times[i] + window, side="right"))
            j = max(j, i + 1)
            self._pass(times[i:j], [v[i:j] for v in values])
            i = j

    def _pass(self, stamps: NDArray[np.float64], values: List[NDArray]) -> None:
        r = self.resampler
        r.add(self.channels[0], values[0], stamps)
        for channel, column in zip(self.channels[1:], values[1:]):
            r.add(channel, column)
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
        self.resampler.initialize()
        return True

    def finish(self, count: int) -> None:
        self.finished = True
        if not self.started:
            return
        self.feed(final=True)
        s, grid, r = self.settings, self.grid, self.resampler
        try:
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
        self._place_outputs(outputs[0][0], [v for _, v in outputs])

    def _place_outputs(self, times: NDArray[np.float64], values: List[NDArray]) -> None:
        if times.size == 0:
            return
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
