"""One channel set of a run through the alias-free filter, at its real times; see _engine.

The filter counts samples: the set goes through a regridder onto the even times
``a + d + k / rate``, where ``a`` is a grid point and ``d`` the filter's residual lag
(:func:`tamlib.alias_free_delay`), so that output ``j`` belongs to grid point ``a + j / rate``.
A gap ends a segment: the resampler is flushed and closed, and the next segment gets a fresh
one with its own grid point ``a``.
"""

from __future__ import annotations

import math
from typing import List, Mapping, Optional, Tuple

import numpy as np
from numpy.typing import NDArray

from ._regrid import Regrid
from ._resampler import (Resampler, _coefficient_count, _rate_ratio, alias_free_delay,
                         alias_free_filter_length)
from ._run import INF, Run

# The nominal rate is the median of a channel's first intervals: a rule that needs no more of
# the channel than this, in memory and from files alike. tamresample applies the same rule
# (tools/RegistrationRules.h); keep the two in step.
NOMINAL_INTERVALS = 10000
# A stamp this close to an even time, in input periods, gives its value as it is.
STAMP_TOLERANCE = 1e-3


class AliasFreeRun(Run):
    """One channel set through one alias-free resampler per segment."""

    def __init__(self, *args, **kwargs) -> None:
        super().__init__(*args, **kwargs)
        self.whole = 1
        self.regrid: Optional[Regrid] = None
        self.irregular = False
        self.segments = 0
        self.segment_fed = 0
        self.delay = 0.0
        self.edge = 0.0
        self.blank_start = False
        self.tail_from = INF

    @property
    def ready(self) -> bool:
        return self.regrid is not None

    def _begin(self, final: bool) -> bool:
        if not self.pieces:
            return False
        found = self._nominal_rate(final)
        if found is None:
            return False
        self.nominal, stamps = found
        s = self.settings
        self.whole = int(self.nominal) if 1.0 <= self.nominal < 2.0**31 else 1
        self.percent = 16 if s.transition_percent is None else int(s.transition_percent)
        self.attenuation = 60.0 if s.attenuation_db is None else float(s.attenuation_db)
        self.delay = alias_free_delay(self.whole, s.rate, self.percent, self.attenuation)
        # Outputs closer than half the filter to a segment's edge see its zero history.
        count = _coefficient_count(s.rate, self.whole, self.percent, self.attenuation)
        up, _ = _rate_ratio(s.rate, self.whole)
        self.edge = (count / 2 + 1) / (up * self.whole)
        tolerance = STAMP_TOLERANCE / self.whole
        even = stamps[0] + np.arange(stamps.size) / self.whole
        self.irregular = bool(np.any(np.abs(stamps - even) > tolerance))
        self.regrid = Regrid(self.whole, tolerance, s.max_gap / self.whole, self._start_of)
        return True

    def _nominal_rate(self, final: bool) -> Optional[Tuple[float, NDArray[np.float64]]]:
        """The set's nominal rate and its first stamps, or None until enough have come."""
        stamps, have = [], 0
        for times, _ in self.pieces:
            stamps.append(times[:NOMINAL_INTERVALS + 1 - have])
            have += stamps[-1].size
            if have > NOMINAL_INTERVALS:
                break
        first = np.concatenate(stamps)
        given = self.settings.input_rate
        if isinstance(given, Mapping):
            given = given.get(self.names[0])
        if given is not None:
            return float(given), first
        if have <= NOMINAL_INTERVALS and not final:
            return None
        name = self.names[0]
        if have < 2:
            raise ValueError(
                f"Channel {name!r} needs two samples for an input rate; give input_rate.")
        interval = float(np.median(np.diff(first)))
        if not interval > 0.0:
            raise ValueError(f"Channel {name!r} has no sampling interval; give input_rate.")
        # Halves round away from zero, as in tamresample (Python's round() would go to even).
        return float(max(1.0, math.floor(1.0 / interval + 0.5))), first

    def _start_of(self, first_time: float) -> Tuple[float, int]:
        """The first grid point whose even time, lag added, lies at or after the first sample."""
        tolerance = STAMP_TOLERANCE / self.whole
        anchor = self.grid.search(first_time - self.delay - tolerance)
        return self._point(anchor) + self.delay, anchor

    # ---- input -----------------------------------------------------------------------------

    def _feed_piece(self, times: NDArray[np.float64], values: List[NDArray]) -> None:
        self.fed += times.size
        s = self.settings
        # At most a block of samples, and a block of output periods, per pass.
        block = max(1, min(s.block, int(s.block * s.dt * self.whole)))
        for anchor, even, ended in self.regrid.push(times, values):
            if anchor is not None:
                self._open(anchor)
            n = even[0].size
            for i in range(0, n, block):
                j = min(n, i + block)
                k = self.segment_fed
                self._pass(np.arange(k, k + j - i, dtype=np.float64) / self.whole,
                           [v[i:j] for v in even])
                self.segment_fed += j - i
            if ended:
                self._close(gap=True)

    def _open(self, anchor: int) -> None:
        s = self.settings
        if self.segments == 0:
            self.lo = anchor
        self.blank_start = self.irregular or self.segments > 0
        self.segments += 1
        self.anchor = anchor
        self.segment_fed = 0
        self.reached, self.limited = 0.0, False
        self.next_local, self.previous, self.tail_from = None, -INF, INF
        taps = alias_free_filter_length(s.rate, self.nominal, self.percent, self.attenuation)
        delay = int(math.ceil(taps * max(s.rate / self.whole, 1.0)))
        # A pass adds at most a block, and leaves at most a filter's length unconsumed.
        self.resampler = Resampler("aliasfree", s.rate, 0.0, input_buffer=s.block + 16,
                                   output_buffer=s.block + 2 * delay + 32,
                                   transition_percent=s.transition_percent,
                                   attenuation_db=s.attenuation_db)
        self.channels = [self.resampler.add_async_channel2(self.nominal, 0.0, 0)
                         for _ in self.names]
        self.resampler.initialize()

    def _close(self, gap: bool) -> None:
        """Flush the segment's filter and keep the outputs up to its last even sample."""
        r, dt = self.resampler, self.settings.dt
        newest = (self.segment_fed - 1) / self.whole
        blank = gap or self.irregular
        self.tail_from = newest + self.delay + (-self.edge if blank else 0.001 * dt)
        try:
            if self.segment_fed:
                r.finish(newest + 0.5 * dt)
                self._place()
        finally:
            r.close()

    def finish(self, count: int) -> None:
        self.finished = True
        if not self.started:
            return
        self.feed(final=True)
        if self.resampler is not None and not self.resampler.closed:
            self._close(gap=False)

    # ---- output ----------------------------------------------------------------------------

    def _place(self) -> None:
        outputs = [self.resampler.read(channel) for channel in self.channels]
        times, values = outputs[0][0], [v for _, v in outputs]
        keep = times <= self.tail_from
        if self.blank_start:
            keep &= times >= self.edge + self.delay
        if not keep.all():
            times, values = times[keep], [v[keep] for v in values]
        self._place_outputs(times, values)
