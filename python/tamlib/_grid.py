"""The output grid as the library sums it, generated a chunk at a time for grids of any length."""

from __future__ import annotations

import bisect
import threading
from collections import OrderedDict
from typing import List, Tuple

import numpy as np
from numpy.typing import NDArray

CHUNK = 65536
_CACHED_CHUNKS = 8


class Grid:
    """Grid point k is point k - 1 plus one period, from 0: the library's repeated addition.

    The sums drift from ``k / rate`` by their rounding, so positions are found in the grid itself.
    Only the first point of every chunk is kept; a chunk is summed again from it when needed,
    which gives the same bits, since the sum is sequential.
    """

    def __init__(self, rate: float) -> None:
        self.dt = 1.0 / rate
        self._starts: List[float] = [0.0]
        self._cache: "OrderedDict[int, NDArray[np.float64]]" = OrderedDict()
        # Channel sets place their outputs from several threads; the chunks they get are
        # never changed, only the list of starts and the cache are shared.
        self._lock = threading.RLock()

    def chunk(self, c: int) -> NDArray[np.float64]:
        with self._lock:
            return self._chunk(c)

    def _chunk(self, c: int) -> NDArray[np.float64]:
        values = self._cache.get(c)
        if values is not None:
            self._cache.move_to_end(c)
            return values
        while len(self._starts) <= c:
            last = self._sum(len(self._starts) - 1)
            self._starts.append(float(last[-1]) + self.dt)
        values = self._sum(c)
        self._cache[c] = values
        if len(self._cache) > _CACHED_CHUNKS:
            self._cache.popitem(last=False)
        return values

    def _sum(self, c: int) -> NDArray[np.float64]:
        values = self._cache.get(c)
        if values is None:
            steps = np.full(CHUNK, self.dt)
            steps[0] = self._starts[c]
            values = np.add.accumulate(steps)
        return values

    def values(self, lo: int, hi: int) -> NDArray[np.float64]:
        """Points lo to hi - 1."""
        if hi <= lo:
            return np.empty(0)
        first, last = lo // CHUNK, (hi - 1) // CHUNK
        parts = [self.chunk(c) for c in range(first, last + 1)]
        joined = parts[0] if len(parts) == 1 else np.concatenate(parts)
        return joined[lo - first * CHUNK:hi - first * CHUNK]

    def search(self, x: float, side: str = "left") -> int:
        """np.searchsorted over the whole grid: the first index whose point is >= x (> x)."""
        if not x > 0.0 and not (side == "right" and x == 0.0):
            return 0
        if x == float("inf"):
            raise ValueError("The grid has no end to search for.")
        with self._lock:
            while self._starts[-1] <= x:
                self._chunk(len(self._starts))
            c = max(bisect.bisect_right(self._starts, x) - 1, 0)
            values = self._chunk(c)
        return c * CHUNK + int(np.searchsorted(values, x, side=side))

    def nearest(self, times: NDArray[np.float64]) -> Tuple[NDArray[np.int64], NDArray[np.float64]]:
        """Index of the grid point nearest to each of the increasing times, and that point."""
        lo = max(self.search(float(times[0])) - 1, 0)
        hi = self.search(float(times[-1])) + 2
        points = self.values(lo, hi)
        right = np.clip(np.searchsorted(points, times), 1, points.size - 1)
        closer_left = (times - points[right - 1]) < (points[right] - times)
        local = right - closer_left
        return local.astype(np.int64) + lo, points[local]


class Axis:
    """How a recording's time stamps map to seconds after its origin, and back.

    Datetimes are int64 nanoseconds since the epoch (UTC), plain times float64 seconds; ``tz`` and
    ``name`` are what the output index carries.
    """

    __slots__ = ("is_datetime", "origin", "tz", "name")

    def __init__(self, is_datetime: bool, origin=0.0, tz=None, name=None) -> None:
        self.is_datetime = is_datetime
        self.origin = np.int64(origin) if is_datetime else origin
        self.tz = tz
        self.name = name

    def seconds(self, raw: NDArray) -> NDArray[np.float64]:
        if self.is_datetime:
            return (raw - self.origin).astype(np.float64) / 1e9
        return raw - self.origin

    def stamps(self, grid: NDArray[np.float64]) -> NDArray:
        """The grid's times as the input gave them: int64 ns since the epoch, or seconds."""
        if self.is_datetime:
            return self.origin + np.rint(grid * 1e9).astype(np.int64)
        return grid + self.origin
