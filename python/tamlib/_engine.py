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
from dataclasses import dataclass
from typing import Callable, List, Mapping, NamedTuple, Optional, Union

import numpy as np
from numpy.typing import NDArray

from ._aliasfree import AliasFreeRun
from ._grid import Grid
from ._resampler import method_code
from ._run import INF, Run
from ._sets import side_by_side

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
    max_gap: float = 4.0

    def __post_init__(self) -> None:
        method_code(self.method)
        self.rate = float(self.rate)
        if not (math.isfinite(self.rate) and self.rate > 0.0):
            raise ValueError("rate must be a finite positive number of hertz.")
        self.block = int(self.block)
        if self.block < 2:
            raise ValueError("block must be at least 2.")
        self.max_gap = float(self.max_gap)
        if not self.max_gap > 1.0:
            raise ValueError("max_gap must be more than one input period.")

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
    kind = AliasFreeRun if settings.method == "aliasfree" else Run
    for names in reader.sets:
        runs.append(kind(names, column, settings, grid, sink, sink_lock, count - 1))
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


def _in_step(reader, runs: List[Run], sink, end: float, progress) -> float:
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
