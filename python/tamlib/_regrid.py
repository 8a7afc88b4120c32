"""Evenly spaced samples from real time stamps, for the alias-free filter.

The filter counts samples, not stamps. A channel set therefore goes through a regridder first:
it yields the values at ``start + k / rate``, taking a sample as it is where its stamp lies
within the tolerance of such a time, and interpolating linearly between its two neighbours
elsewhere. An interval longer than the gap limit ends a segment; the next segment starts after
the gap with a start of its own, so nothing is made up inside it.
"""

from __future__ import annotations

from typing import Callable, List, Optional, Tuple

import numpy as np
from numpy.typing import NDArray

Values = List[NDArray[np.float64]]
Piece = Tuple[Optional[object], Values, bool]


class Regrid:
    """Streams one channel set onto the times ``start + k / rate`` of its current segment.

    `starter(first_time)` gives ``(start, tag)`` for a segment whose first sample lies at
    `first_time`. `push` returns pieces ``(tag, values, ended)``: the tag when the piece begins a
    segment (else None), its evenly spaced values, and whether a gap ends the segment after it.
    """

    def __init__(self, rate: int, tolerance: float, gap: float,
                 starter: Callable[[float], Tuple[float, object]]) -> None:
        self.rate = rate
        self.tolerance = tolerance
        self.gap = gap
        self.starter = starter
        self.start = 0.0
        self.next = 0  # index k of the next time to produce in this segment
        self.last: Optional[Tuple[float, Values]] = None  # the newest sample of the segment

    def push(self, times: NDArray[np.float64], values: Values) -> List[Piece]:
        out: List[Piece] = []
        if times.size == 0:
            return out
        if self.last is not None:
            t, v = self.last
            times = np.r_[t, times]
            values = [np.r_[a, b] for a, b in zip(v, values)]
        cuts = np.flatnonzero(np.diff(times) > self.gap) + 1
        bounds = [0, *cuts.tolist(), times.size]
        for a, b in zip(bounds[:-1], bounds[1:]):
            tag = None
            if self.last is None:
                self.start, tag = self.starter(float(times[a]))
                self.next = 0
            ended = b < times.size
            out.append((tag, self._sample(times[a:b], [v[a:b] for v in values]), ended))
            self.last = None if ended else (float(times[b - 1]), [v[b - 1:b] for v in values])
        return out

    def _sample(self, times: NDArray[np.float64], values: Values) -> Values:
        """The values at this segment's even times up to the newest stamp."""
        newest = float(times[-1]) + self.tolerance
        count = int(np.floor((newest - self.start) * self.rate)) + 2 - self.next
        at = self.start + np.arange(self.next, self.next + max(count, 0)) / self.rate
        at = at[at <= newest]
        self.next += at.size
        if at.size == 0:
            return [np.empty(0) for _ in values]
        # The left neighbour of each time; the last sample stands alone.
        left = np.clip(np.searchsorted(times, at, side="right") - 1, 0, times.size - 1)
        right = np.minimum(left + 1, times.size - 1)
        span = times[right] - times[left]
        weight = np.divide(at - times[left], span, out=np.zeros(at.size), where=span > 0.0)
        near_left = np.abs(at - times[left]) <= self.tolerance
        near_right = ~near_left & (np.abs(times[right] - at) <= self.tolerance)
        out = []
        for v in values:
            mixed = v[left] + weight * (v[right] - v[left])
            out.append(np.where(near_left, v[left], np.where(near_right, v[right], mixed)))
        return out
