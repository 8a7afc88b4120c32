"""Channels in files: HDF5 (through h5py) and CSV (long and wide).

Every reader returns a :class:`ChannelData`: a dict of channel name -> ``(times, values)`` with
the units in its ``units`` attribute and the channel groups in ``groups``. Times are float64
seconds or datetime64[ns] values; :func:`tamlib.resample` takes such a dict as it is.
:func:`tamlib.resample_file` reads the same layouts a window at a time, in constant memory.

HDF5 layout
-----------
Channels live in groups at the root of the file. A group that holds a ``time`` dataset is a
*channel group*: each other dataset in it is a channel sampled at those times, and its
channels go through the library as one group, with their time stamps read once.

- ``time``: float64 seconds, or int64 nanoseconds since 1970-01-01 UTC when the group attribute
  ``time_unit`` is ``"ns since epoch"`` (it is ``"s"`` otherwise). Times increase (equal
  neighbours allowed) and are finite.
- a dataset named ``value`` is the channel named after its group; any other dataset ``d`` of
  group ``g`` is the channel ``g/d``. Values are numbers, shape (n,), or (n, k) for k values
  per sample, with n the length of ``time``.
- ``unit``: an attribute of a value dataset, or for ``value`` of its group, with the unit.

So the one-channel-per-group layout (``rec.h5/pressure/{time,value}``) and channel groups as
measurement formats have them (``rec.h5/engine/{time,rpm,torque}``: channels ``engine/rpm`` and
``engine/torque``) are one rule. In a group of one channel a NaN value marks a missing sample,
which readers leave out; in a group of several channels a NaN stays a value, since the
channels share their stamps. Results of :func:`tamlib.resample_file` use the layout too: one
group per input group, each with the grid as ``time`` (stored once, linked into every group)
and NaN where a channel has no output. The root carries ``format = "tamlib-channels"`` and
``version = 1``; groups without ``time`` or without another dataset are ignored.

CSV layouts
-----------
Long: a header ``channel,time,value`` and one row per sample. Wide: a first column ``time``
and one column per channel; an empty cell means no sample of that channel at that time. Times
are seconds or ISO 8601 date-times. Units are not stored in CSV. :func:`read_csv` takes the
rows in any order; streaming (:func:`tamlib.resample_file`) needs them in time order, which
:func:`write_csv` keeps.
"""

from __future__ import annotations

import os
from typing import TYPE_CHECKING, Dict, List, Mapping, Optional, Sequence, Tuple, Union

import numpy as np
from numpy.typing import NDArray

from ._readers import NS_SINCE_EPOCH, Hdf5Reader, csv_header, csv_options, open_reader

if TYPE_CHECKING:
    import pandas as pd

PathLike = Union[str, "os.PathLike[str]"]
FORMAT = "tamlib-channels"

__all__ = ["ChannelData", "from_frame", "open_reader", "read", "read_csv", "read_hdf5",
           "to_frame", "write", "write_csv", "write_hdf5"]


class ChannelData(dict):
    """A dict of channel name -> ``(times, values)``.

    Attributes
    ----------
    units : dict
        name -> unit string.
    groups : list of list
        The names of channels that share one time axis, for each group of more than one.
    """

    def __init__(self, *args, units: Optional[Mapping[str, str]] = None,
                 groups: Sequence[Sequence[str]] = (), **kwargs) -> None:
        super().__init__(*args, **kwargs)
        self.units: Dict[str, str] = dict(units or {})
        self.groups: List[List[str]] = [list(g) for g in groups]


def from_frame(frame: "pd.DataFrame") -> ChannelData:
    """Split a DataFrame into channels, each keeping the rows where its column is not NaN."""
    import pandas as pd

    times = frame.index.to_numpy()
    if isinstance(frame.index, pd.DatetimeIndex):
        times = _datetimes(frame.index)
    data = ChannelData()
    for name in frame.columns:
        values = frame[name].to_numpy(dtype=np.float64)
        keep = ~np.isnan(values)
        data[str(name)] = (times[keep], values[keep])
    return data


def to_frame(data: Mapping[str, Tuple[object, object]]) -> "pd.DataFrame":
    """Join channels into one DataFrame on the union of their times (NaN where one has none)."""
    import pandas as pd

    columns = {}
    for name, (times, values) in data.items():
        values = np.asarray(values, dtype=np.float64)
        if values.ndim != 1:
            raise ValueError(f"Channel {name!r} has {values.shape[1]} values per sample.")
        columns[name] = pd.Series(values, index=pd.Index(np.asarray(times)))
    frame = pd.DataFrame(columns)
    frame.index.name = "time"
    return frame


# ---- HDF5 --------------------------------------------------------------------------------------


def hdf5_place(name: str) -> Tuple[str, str]:
    """The group and dataset of a channel name: ``g`` is ``g/value``, ``g/d`` is ``g/d``."""
    parts = str(name).split("/")
    if len(parts) > 2 or any(p in ("", ".", "..") for p in parts) or parts[-1] == "time":
        raise ValueError(f"Channel name {name!r} cannot name an HDF5 group and dataset.")
    return (parts[0], "value") if len(parts) == 1 else (parts[0], parts[1])


def write_hdf5(
    path: PathLike,
    data: Union[Mapping[str, Tuple[object, object]], "pd.DataFrame"],
    units: Optional[Mapping[str, str]] = None,
) -> None:
    """Write channels to an HDF5 file in the layout above, replacing the file.

    Parameters
    ----------
    path : str or path
    data : dict or DataFrame
        name -> ``(times, values)``, or a DataFrame (split with :func:`from_frame`). Channels
        named ``g/d`` go to group ``g`` and must share their times.
    units : dict, optional
        name -> unit; by default ``data.units`` when `data` is a :class:`ChannelData`.
    """
    import h5py
    import pandas as pd

    if isinstance(data, pd.DataFrame):
        data = from_frame(data)
    if units is None:
        units = getattr(data, "units", {})
    groups: Dict[str, List[Tuple[str, str]]] = {}
    for name in data:
        group, dataset = hdf5_place(str(name))
        groups.setdefault(group, []).append((dataset, name))
    with h5py.File(path, "w") as f:
        f.attrs["format"] = FORMAT
        f.attrs["version"] = 1
        for group_name, members in groups.items():
            stamps, time_unit = _storable_times(data[members[0][1]][0])
            group = f.create_group(group_name)
            group.create_dataset("time", data=stamps)
            group.attrs["time_unit"] = time_unit
            for dataset, name in members:
                times, values = data[name]
                values = np.asarray(values, dtype=np.float64)
                if values.shape[:1] != stamps.shape:
                    raise ValueError(
                        f"Channel {name!r} has {stamps.shape[0]} time stamps and "
                        f"{values.shape[0] if values.ndim else 0} values.")
                if not np.array_equal(_storable_times(times)[0], stamps):
                    raise ValueError(f"Channel {name!r} does not share the times of group "
                                     f"{group_name!r}.")
                stored = group.create_dataset(dataset, data=values)
                if name in units:
                    (group if dataset == "value" else stored).attrs["unit"] = str(units[name])


def read_hdf5(path: PathLike) -> ChannelData:
    """Read the channels of an HDF5 file written in the layout above.

    Returns
    -------
    ChannelData
        name -> ``(times, values)`` in file order, with ``units`` and ``groups``.

    Raises
    ------
    OSError
        When the file is no readable HDF5 file, or a part of it cannot be read.
    ValueError
        When the file holds no channel, or a channel breaks the layout (lengths, types,
        times that are not finite or go backwards). The message names the file, the channel
        and the sample.
    """
    data = ChannelData()
    with Hdf5Reader(path) as reader:
        reader.start(seconds=False)
        for k, names in enumerate(reader.sets):
            while reader.horizon(k) != float("inf"):
                reader.advance([k])
            pieces = reader.take(k)
            datetime = reader.datetimes[k]
            times = _joined([t for t, _ in pieces], np.int64 if datetime else np.float64)
            if datetime:
                times = times.view("datetime64[ns]")
            for j, name in enumerate(names):
                width = reader.widths[name]
                values = _joined([v[j] for _, v in pieces], np.float64, width)
                data[name] = (times, values)
            if len(names) > 1:
                data.groups.append(list(names))
        data.units.update(reader.units)
    return data


def _joined(parts: List[NDArray], dtype, width: Tuple[int, ...] = ()) -> NDArray:
    if not parts:
        return np.empty((0,) + width, dtype=dtype)
    return parts[0] if len(parts) == 1 else np.concatenate(parts)


def _storable_times(times) -> Tuple[NDArray, str]:
    import pandas as pd

    if isinstance(times, pd.DatetimeIndex) or np.issubdtype(np.asarray(times).dtype, np.datetime64):
        return _datetimes(times).view(np.int64), NS_SINCE_EPOCH
    stamps = np.asarray(times, dtype=np.float64)
    if stamps.ndim != 1:
        raise ValueError("Time stamps must be one-dimensional.")
    return stamps, "s"


def _datetimes(times) -> NDArray:
    import pandas as pd

    index = pd.DatetimeIndex(times)
    if index.tz is not None:
        index = index.tz_convert("UTC").tz_localize(None)
    return index.to_numpy(dtype="datetime64[ns]")


# ---- CSV ---------------------------------------------------------------------------------------


def write_csv(
    path: PathLike,
    data: Union[Mapping[str, Tuple[object, object]], "pd.DataFrame"],
    layout: str = "wide",
) -> None:
    """Write scalar channels to CSV, ``layout="wide"`` or ``"long"`` (see above).

    Rows are in time order. Times are written with 17 significant digits, so float seconds
    read back unchanged.
    """
    import pandas as pd

    if isinstance(data, pd.DataFrame):
        data = from_frame(data)
    if layout == "long":
        parts = []
        for name, (times, values) in data.items():
            values = np.asarray(values, dtype=np.float64)
            if values.ndim != 1:
                raise ValueError(f"Channel {name!r} has several values per sample; use HDF5.")
            parts.append(pd.DataFrame({"channel": name, "time": times, "value": values}))
        frame = pd.concat(parts, ignore_index=True) if parts else pd.DataFrame(
            columns=["channel", "time", "value"])
        frame = frame.sort_values("time", kind="stable")
        frame.to_csv(path, index=False, float_format="%.17g")
    elif layout == "wide":
        frame = to_frame(data)
        frame.to_csv(path, float_format="%.17g")
    else:
        raise ValueError(f"Unknown CSV layout {layout!r}; choose wide or long.")


def read_csv(path: PathLike) -> ChannelData:
    """Read channels from a long or a wide CSV file; the header tells which."""
    import pandas as pd

    path = os.fspath(path)
    layout, header = csv_header(path)
    frame = pd.read_csv(path, **csv_options(layout, header))
    data = ChannelData()
    if layout == "long":
        times = _csv_times(frame.iloc[:, 1], path)
        values = pd.to_numeric(frame.iloc[:, 2], errors="coerce").to_numpy(dtype=np.float64)
        names = frame.iloc[:, 0].astype(str).to_numpy()
        for name in pd.unique(names):
            rows = (names == name) & ~np.isnan(values)
            data[name] = (times[rows], values[rows])
        return data
    times = _csv_times(frame.iloc[:, 0], path)
    for name in frame.columns[1:]:
        values = pd.to_numeric(frame[name], errors="coerce").to_numpy(dtype=np.float64)
        keep = ~np.isnan(values)
        data[str(name).strip()] = (times[keep], values[keep])
    return data


def _csv_times(column: "pd.Series", path) -> NDArray:
    import pandas as pd

    numbers = pd.to_numeric(column, errors="coerce")
    if not numbers.isna().any():
        return numbers.to_numpy(dtype=np.float64)
    try:
        return _datetimes(pd.to_datetime(column))
    except (ValueError, TypeError):
        raise ValueError(f"{os.fspath(path)}: times are neither seconds nor date-times.") from None


# ---- any supported file ------------------------------------------------------------------------


def read(path: PathLike) -> ChannelData:
    """Read channels from a file by its extension: .h5/.hdf5 or .csv."""
    suffix = os.path.splitext(os.fspath(path))[1].lower()
    if suffix in (".h5", ".hdf5"):
        return read_hdf5(path)
    if suffix == ".csv":
        return read_csv(path)
    raise ValueError(f"{os.fspath(path)}: unknown file type; use .h5, .hdf5 or .csv.")


def write(path: PathLike, data, units: Optional[Mapping[str, str]] = None) -> None:
    """Write channels to a file by its extension: .h5/.hdf5 or .csv (wide)."""
    suffix = os.path.splitext(os.fspath(path))[1].lower()
    if suffix in (".h5", ".hdf5"):
        write_hdf5(path, data, units)
    elif suffix == ".csv":
        write_csv(path, data)
    else:
        raise ValueError(f"{os.fspath(path)}: unknown file type; use .h5, .hdf5 or .csv.")

