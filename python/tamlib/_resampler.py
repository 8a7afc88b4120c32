"""The streaming resampler: one C resampler handle, its channels, and the read-out per pass."""

from __future__ import annotations

import math
import threading
from typing import Dict, List, Optional, Tuple

import numpy as np
from numpy.typing import ArrayLike, NDArray

from . import _core

METHODS: Dict[str, int] = {
    "hold": _core.METHOD_HOLD,
    "linear": _core.METHOD_LINEAR,
    "aliasfree": _core.METHOD_ALIAS_FREE,
}

# The library joins channels whose rate and offset agree within this absolute tolerance.
_GROUP_TOLERANCE = 2.220446049250313e-16


def method_code(method: str) -> int:
    """Return the library's code of a method name ("hold", "linear" or "aliasfree")."""
    try:
        return METHODS[method]
    except KeyError:
        raise ValueError(
            f"Unknown method {method!r}; choose one of {', '.join(METHODS)}."
        ) from None


class _Group:
    """What the library keeps per channel group, as far as reading results needs it."""

    __slots__ = ("rate", "offset", "channels")

    def __init__(self, rate: float, offset: float) -> None:
        self.rate = rate
        self.offset = offset
        self.channels: List["Channel"] = []

    def matches(self, rate: float, offset: float) -> bool:
        return (
            abs(self.rate - rate) <= _GROUP_TOLERANCE
            and abs(offset - self.offset) <= _GROUP_TOLERANCE
        )


class Channel:
    """A registered input channel. Returned by the ``add_*_channel`` methods of :class:`Resampler`.

    Attributes
    ----------
    kind : str
        The registration that made it: ``"sync"``, ``"async"`` or ``"array"``.
    array_size : int
        Values per sample: 1 for scalar channels.
    """

    __slots__ = ("_handle", "_group", "kind", "_times", "_values", "__weakref__")

    def __init__(self, handle: "_core.CoreChannel", group: _Group, kind: str) -> None:
        self._handle = handle
        self._group = group
        self.kind = kind
        self._times: List[NDArray[np.float64]] = []
        self._values: List[NDArray[np.float64]] = []

    @property
    def array_size(self) -> int:
        return int(self._handle.array_size)

    @property
    def is_array(self) -> bool:
        return bool(self._handle.is_array)

    def __repr__(self) -> str:
        return f"<tamlib.Channel {self.kind} array_size={self.array_size}>"


class Resampler:
    """Puts channels of measurement data on one common time grid, block by block.

    A thin layer over the library's C interface: every call forwards to the export of the same
    name, so results are those a C host gets. After each :meth:`calculate` the outputs of the pass
    are copied out of the library's rings and kept per channel until :meth:`read`.

    Parameters
    ----------
    method : {"hold", "linear", "aliasfree"}
        Sample-and-hold, linear interpolation, or rational polyphase FIR filtering.
    rate : float
        Output grid rate in Hz.
    offset : float
        Earliest first output time in seconds.
    input_buffer, output_buffer : int, optional
        Ring sizes in samples (library default 1000 each). The input ring must hold what is
        added per channel between two passes, the output ring what one pass produces.
    max_wait : float, optional
        How long, in seconds, a pass waits for a channel that lags its block end before holding
        its value. ``max_wait_ms``, the same in milliseconds, is accepted too.
    tolerance : float, optional
        Time tolerance in seconds for hold and linear (default a thousandth of an output period).
    transition_percent : int, optional
        Alias-free transition band in percent of the lower rate (10 to 100, default 16).
    attenuation_db : float, optional
        Alias-free stop-band attenuation in dB (0 to 400, default 60).
    explicit_times : bool
        Output times come from :meth:`add_master_times` instead of the rate (not alias-free).

    Raises
    ------
    ValueError
        With the library's message, for any parameter it refuses.

    Notes
    -----
    Calling order: create, register channels, :meth:`initialize` (done by the first :meth:`add`
    when left out), then repeatedly :meth:`add`, :meth:`calculate` and :meth:`read`, and at the
    end :meth:`finish`. Use it as a context manager, or call :meth:`close`; a collected resampler
    closes itself. Calls from several threads are serialised.

    Examples
    --------
    >>> import numpy as np, tamlib
    >>> with tamlib.Resampler("linear", rate=10.0) as r:
    ...     ch = r.add_async_channel()
    ...     r.add(ch, [0.0, 1.0, 2.0], times=[0.0, 0.1, 0.2])
    ...     r.finish(0.2)
    ...     times, values = r.read(ch)
    >>> values
    array([0., 1., 2.])
    """

    def __init__(
        self,
        method: str = "linear",
        rate: float = 1000.0,
        offset: float = 0.0,
        *,
        input_buffer: Optional[int] = None,
        output_buffer: Optional[int] = None,
        max_wait: Optional[float] = None,
        max_wait_ms: Optional[float] = None,
        tolerance: Optional[float] = None,
        transition_percent: Optional[int] = None,
        attenuation_db: Optional[float] = None,
        explicit_times: bool = False,
    ) -> None:
        if max_wait is not None:
            if max_wait_ms is not None:
                raise ValueError("Give max_wait (s) or max_wait_ms, not both.")
            max_wait_ms = 1000.0 * float(max_wait)
        self.method = method
        self._core = _core.CoreResampler(method_code(method))
        self._lock = threading.Lock()
        self._groups: List[_Group] = []
        self._initialized = False
        self._offset = float(offset)
        self._output_buffer_size = 1000
        try:
            self._core.set_samplerate(float(rate))
            self._core.set_initial_offset(self._offset)
            if input_buffer is not None:
                self._core.set_input_buffer_size(_count(input_buffer, "input_buffer"))
            if output_buffer is not None:
                self._core.set_output_buffer_size(_count(output_buffer, "output_buffer"))
                self._output_buffer_size = int(output_buffer)
            if max_wait_ms is not None:
                self._core.set_max_wait_time_ms(float(max_wait_ms))
            if tolerance is not None:
                self._core.set_custom_epsilon(float(tolerance))
            if transition_percent is not None:
                self._core.set_transition_bandwidth_percent(int(transition_percent))
            if attenuation_db is not None:
                self._core.set_sidelobe_attenuation_db(float(attenuation_db))
            if explicit_times:
                self._core.set_time_base(_core.TIMEBASE_EXPLICIT)
        except BaseException:
            self._core.close()
            raise
        self.rate = float(rate)

    # ---- lifecycle -------------------------------------------------------------------------

    def close(self) -> None:
        """Delete the library's resampler. Channels of it can no longer be used."""
        with self._lock:
            self._core.close()

    @property
    def closed(self) -> bool:
        return bool(self._core.closed)

    def __enter__(self) -> "Resampler":
        return self

    def __exit__(self, *exc_info: object) -> None:
        self.close()

    def __repr__(self) -> str:
        state = "closed" if self.closed else f"{len(self._groups)} groups"
        return f"<tamlib.Resampler {self.method} {self.rate} Hz, {state}>"

    # ---- channels --------------------------------------------------------------------------

    def _register(self, create, rate: Optional[float], offset: float, kind: str) -> Channel:
        with self._lock:
            handle = create()
            group = None
            if rate is not None:
                group = next((g for g in self._groups if g.matches(rate, offset)), None)
            if group is None:
                group = _Group(1000.0 if rate is None else rate, 0.0 if rate is None else offset)
                self._groups.append(group)
            channel = Channel(handle, group, kind)
            group.channels.append(channel)
            return channel

    def add_channel(self, rate: Optional[float] = None, offset: float = 0.0, count: int = 0,
                    array_size: Optional[int] = None, irregular: bool = False) -> Channel:
        """Register a channel; the numbered methods below are the one-to-one C layer.

        Parameters
        ----------
        rate : float, optional
            Sampling rate in Hz. Without it the channel is time-stamped, in a group of its own.
        offset : float
            Time of the first sample in seconds (with a rate).
        count : int
            Samples expected in total, 0 if unknown (with a rate).
        array_size : int, optional
            Values per sample of a time-stamped array channel (hold only).
        irregular : bool
            With a rate: the channel brings a time stamp per sample and the rate is its nominal
            one (the alias-free method needs it), instead of the rate giving the times.

        Examples
        --------
        >>> import tamlib
        >>> with tamlib.Resampler("hold", rate=100.0) as r:
        ...     [r.add_channel(), r.add_channel(rate=50.0), r.add_channel(rate=50.0, irregular=True)]
        [<tamlib.Channel async array_size=1>, <tamlib.Channel sync array_size=1>, <tamlib.Channel async array_size=1>]
        """
        if array_size is not None:
            if rate is not None:
                raise ValueError("An array channel is time-stamped: give no rate.")
            return self.add_async_array_channel(array_size)
        if rate is None:
            if offset != 0.0 or count != 0:
                raise ValueError("offset and count need a rate.")
            return self.add_async_channel()
        if irregular:
            return self.add_async_channel2(rate, offset, count)
        return self.add_sync_channel(rate, offset, count)

    def add_sync_channel(self, rate: float, offset: float = 0.0, sample_count: int = 0) -> Channel:
        """Register a channel sampled at `rate` Hz whose first sample lies at `offset` s.

        `sample_count`, the samples expected in total (0 if unknown), feeds
        :meth:`expected_count`. Channels with the same rate and offset share one group.
        """
        rate, offset = float(rate), float(offset)
        return self._register(
            lambda: self._core.add_sync_channel(rate, offset, int(sample_count)),
            rate,
            offset,
            "sync",
        )

    def add_sync_channel2(
        self, rate: float, offset: float = 0.0, start_time: float = -1.0, end_time: float = -1.0
    ) -> Channel:
        """Register a channel at `rate` Hz starting at the resampler's offset.

        As the C function, `offset` is ignored; `start_time` and `end_time` (s, -1 if unknown)
        give the expected range.
        """
        rate = float(rate)
        return self._register(
            lambda: self._core.add_sync_channel2(
                rate, float(offset), float(start_time), float(end_time)
            ),
            rate,
            self._offset,
            "sync",
        )

    def add_async_channel(self) -> Channel:
        """Register a channel with a time stamp per sample, in a group of its own."""
        return self._register(self._core.add_async_channel, None, 0.0, "async")

    def add_async_channel2(
        self, rate: float, offset: float = 0.0, sample_count: int = 0
    ) -> Channel:
        """Register a time-stamped channel with a nominal rate (Hz) and offset (s).

        The alias-free method takes time-stamped channels only this way (or through
        :meth:`add_async_channel3`).
        """
        rate, offset = float(rate), float(offset)
        return self._register(
            lambda: self._core.add_async_channel2(rate, offset, int(sample_count)),
            rate,
            offset,
            "async",
        )

    def add_async_channel3(
        self, rate: float, offset: float = 0.0, start_time: float = -1.0, end_time: float = -1.0
    ) -> Channel:
        """As :meth:`add_async_channel2`, with an expected range in s (-1 if unknown)."""
        rate, offset = float(rate), float(offset)
        return self._register(
            lambda: self._core.add_async_channel3(rate, offset, float(start_time), float(end_time)),
            rate,
            offset,
            "async",
        )

    def add_async_array_channel(
        self, array_size: int, start_time: float = -1.0, end_time: float = -1.0
    ) -> Channel:
        """Register a time-stamped channel whose samples are `array_size` values each.

        Only the hold method produces output for it. :meth:`add` takes its values as an
        ``(n, array_size)`` array and :meth:`read` returns them so.
        """
        size = int(array_size)
        try:
            return self._register(
                lambda: self._core.add_async_array_channel(
                    1, size, float(start_time), float(end_time)
                ),
                None,
                0.0,
                "array",
            )
        except ValueError:
            # A refused size keeps its group registered in the library; keep the mirror in step.
            with self._lock:
                if not self._core.closed:
                    self._groups.append(_Group(1000.0, 0.0))
            raise

    # ---- input -----------------------------------------------------------------------------

    def _own(self, channel: Channel) -> Channel:
        if not isinstance(channel, Channel) or channel._group not in self._groups:
            raise ValueError("The channel belongs to another resampler.")
        return channel

    def initialize(self) -> None:
        """Finish the set-up after the last registration (expected counts, filter priming)."""
        with self._lock:
            self._core.initialize()
            self._initialized = True

    def add(self, channel: Channel, values: ArrayLike, times: Optional[ArrayLike] = None) -> None:
        """Append samples to a channel.

        Parameters
        ----------
        channel : Channel
            A channel of this resampler.
        values : array_like
            One value per sample, or an ``(n, array_size)`` array for an array channel.
            Contiguous float64 arrays are passed to the library without a copy.
        times : array_like, optional
            One time stamp (s) per sample, for time-stamped channels. They are stored before the
            values, so a refused block ("Invalid timestamps.", "Timestamps do not match.") leaves
            the channel as it was.
        """
        self._own(channel)
        data = np.asarray(values, dtype=np.float64)
        if channel.is_array:
            if data.ndim == 1 and data.size == channel.array_size:
                data = data.reshape(1, -1)
        elif data.ndim == 0:
            data = data.reshape(1)
        stamps = None
        if times is not None:
            stamps = np.asarray(times, dtype=np.float64)
            if stamps.ndim == 0:
                stamps = stamps.reshape(1)
            if stamps.ndim != 1 or stamps.shape[0] != data.shape[0]:
                raise ValueError(
                    f"Got {stamps.shape[0] if stamps.ndim == 1 else stamps.shape} time stamps "
                    f"for {data.shape[0]} samples."
                )
        with self._lock:
            if not self._initialized:
                self._core.initialize()
                self._initialized = True
            if stamps is not None:
                self._core.add_times(channel._handle, stamps)
            self._core.add_data(channel._handle, data)

    def add_master_times(self, times: ArrayLike) -> None:
        """Append output times (s); for a resampler whose output times come from the host."""
        stamps = np.asarray(times, dtype=np.float64).reshape(-1)
        with self._lock:
            self._core.add_master_times(stamps)

    def add_block_end_time(self, channel: Channel, time_s: float) -> None:
        """Declare the channel's data complete up to `time_s` seconds."""
        self._own(channel)
        with self._lock:
            self._core.add_block_end_time_ms(channel._handle, float(time_s) * 1000.0)

    # ---- processing and output -------------------------------------------------------------

    def calculate(self) -> None:
        """Run one processing pass and collect its outputs for :meth:`read`."""
        with self._lock:
            self._core.calculate()
            self._collect()

    def finish(self, end_time_s: float) -> None:
        """Declare the end of data at `end_time_s` seconds and run the last pass."""
        with self._lock:
            self._core.no_more_data_to_add(float(end_time_s) * 1000.0)
            self._core.calculate()
            self._collect()

    def _collect(self) -> None:
        for group in self._groups:
            if not group.channels:
                continue
            first = group.channels[0]._handle
            count = self._core.resampled_count(first)
            if count == 0:
                continue
            for channel in group.channels:
                if channel.is_array and count * channel.array_size > self._output_buffer_size:
                    raise ValueError(
                        f"One pass produced {count} samples of {channel.array_size} values, more "
                        f"than the output ring of {self._output_buffer_size} entries holds; "
                        "raise output_buffer."
                    )
            times = self._core.read_times(first, count)
            for channel in group.channels:
                channel._times.append(times)
                channel._values.append(self._core.read_data(channel._handle, count))

    def read(self, channel: Channel) -> Tuple[NDArray[np.float64], NDArray[np.float64]]:
        """Return and forget the outputs collected for `channel` since the last read.

        Returns
        -------
        times : ndarray, shape (n,)
            Output times in seconds.
        values : ndarray, shape (n,) or (n, array_size)
            Output values; two-dimensional for an array channel.
        """
        self._own(channel)
        with self._lock:
            times, values = channel._times, channel._values
            channel._times, channel._values = [], []
        width = (channel.array_size,) if channel.is_array else ()
        if not times:
            return np.empty(0), np.empty((0,) + width)
        if len(times) == 1:
            return times[0], values[0]
        return np.concatenate(times), np.concatenate(values)

    def resampled_count(self, channel: Channel) -> int:
        """Outputs the last pass produced for the channel's group (getResampledDataCount)."""
        self._own(channel)
        with self._lock:
            return int(self._core.resampled_count(channel._handle))

    def expected_count(self, channel: Channel) -> int:
        """Outputs expected for the channel's group in total, after :meth:`initialize`."""
        self._own(channel)
        with self._lock:
            return int(self._core.expected_count(channel._handle))

    def all_data_count(self) -> int:
        """Sum over groups of channels times expected outputs."""
        with self._lock:
            return int(self._core.all_data_count())


def _count(value: int, name: str) -> int:
    count = int(value)
    if count < 0:
        raise ValueError(f"{name} must not be negative.")
    return count


def alias_free_filter_length(
    output_rate: float,
    input_rate: float,
    transition_percent: int = 16,
    attenuation_db: float = 60.0,
) -> int:
    """Coefficients per polyphase branch of the alias-free filter for these rates (0 if none)."""
    return int(
        _core.alias_free_filter_length(
            float(output_rate), float(input_rate), int(transition_percent), float(attenuation_db)
        )
    )


# Kaiser's estimate of the filter order, as the library designs it: 2 pi times 2.285.
_KAISER_CONSTANT = 14.357078426905355


def _rate_ratio(output_rate: float, input_rate: float) -> Tuple[int, int]:
    """The library's P/Q: both rates truncated to whole hertz, reduced by their divisor."""
    whole_out, whole_in = int(output_rate), int(input_rate)
    divisor = math.gcd(whole_out, whole_in)
    return whole_out // divisor, whole_in // divisor


def _coefficient_count(output_rate: float, input_rate: float, transition_percent: int,
                       attenuation_db: float) -> int:
    """Coefficients of the library's prototype low-pass for these rates (0 if it designs none).

    A copy of the library's length rule; test_timing pins it to getAliasFreeFilterLength."""
    if int(output_rate) < 1 or int(input_rate) < 1:
        return 0
    up, _ = _rate_ratio(output_rate, input_rate)
    order = ((up * input_rate) * (max(8.0, attenuation_db) - 7.95)) / (
        (min(input_rate, output_rate) * (transition_percent / 100.0)) * _KAISER_CONSTANT)
    return int(math.ceil(order) + 1.0)


def alias_free_delay(
    input_rate: float,
    output_rate: float,
    transition_percent: int = 16,
    attenuation_db: float = 60.0,
) -> float:
    """The delay of the library's alias-free output for this rate pair, in seconds.

    Output at time t holds the input at t - delay. The library puts the centre of its low-pass
    on an output sample; an even coefficient count has its centre between two samples of the
    upsampled stream, and the library then aligns the sample before it, so the output runs one
    upsampled period early: the delay is -1 / (P * input_rate), P the interpolation factor,
    unless the decimation factor is 1. Every other pair gives 0. The window's own asymmetry
    adds under 1 % of an input period. :func:`tamlib.resample` compensates this; C hosts see it.
    """
    input_rate, output_rate = float(input_rate), float(output_rate)
    if not (math.isfinite(input_rate) and math.isfinite(output_rate)):
        raise ValueError("Rates must be finite numbers of hertz.")
    count = _coefficient_count(output_rate, input_rate, int(transition_percent),
                               float(attenuation_db))
    up, down = _rate_ratio(output_rate, input_rate) if count else (1, 1)
    if count % 2 or down == 1:
        return 0.0
    return -1.0 / (up * int(input_rate))
