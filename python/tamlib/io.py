"""Channels in files: HDF5 (through h5py) and CSV (long and wide).

Every reader returns a :class:`ChannelData`: a dict of channel name -> ``(times, values)`` with
the units in its ``units`` attribute. Times are float64 seconds or datetime64[ns] values;
:func:`tamlib.resample` takes such a dict as it is.

HDF5 layout
-----------
One group per channel at the root of the file, named after the channel (names may not contain
"/"). Each group holds

- ``time``: float64 seconds, or int64 nanoseconds since 1970-01-01 UTC when the group attribute
  ``time_unit`` is ``"ns since epoch"`` (it is ``"s"`` otherwise);
- ``value``: float64, shape (n,) or (n, k) for a channel of k values per sample;
- the optional group attribute ``unit``: the unit of the values.

The root carries ``format = "tamlib-channels"`` and ``version = 1``. Groups without both
datasets are ignored when reading.

CSV layouts
-----------
Long: a header ``channel,time,value`` and one row per sample. Wide: a first column ``time``
and one column per channel; an empty cell means no sample of that channel at that time. Times
are seconds or ISO 8601 date-times. Units are not stored in CSV.
"""

from __future__ import annotations

import os
from typing import Dict, Mapping, Optional, Tuple, Union

import numpy as np
import pandas as pd
from numpy.typing import NDArray

PathLike = Union[str, "os.PathLike[str]"]
FORMAT = "tamlib-channels"
_NS_SINCE_EPOCH = "ns since epoch"


class ChannelData(dict):
    """A dict of channel name -> ``(times, values)``, with ``units`` (name -> unit string)."""

    def __init__(self, *args, units: Optional[Mapping[str, str]] = None, **kwargs) -> None:
        super().__init__(*args, **kwargs)
        self.units: Dict[str, str] = dict(units or {})


def from_frame(frame: pd.DataFrame) -> ChannelData:
    """Split a DataFrame into channels, each keeping the rows where its column is not NaN."""
    times = frame.index.to_numpy()
    if isinstance(frame.index, pd.DatetimeIndex):
        times = _datetimes(frame.index)
    data = ChannelData()
    for name in frame.columns:
        values = frame[name].to_numpy(dtype=np.float64)
        keep = ~np.isnan(values)
        data[str(name)] = (times[keep], values[keep])
    return data


def to_frame(data: Mapping[str, Tuple[object, object]]) -> pd.DataFrame:
    """Join channels into one DataFrame on the union of their times (NaN where one has none)."""
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


def write_hdf5(
    path: PathLike,
    data: Union[Mapping[str, Tuple[object, object]], pd.DataFrame],
    units: Optional[Mapping[str, str]] = None,
) -> None:
    """Write channels to an HDF5 file in the layout above, replacing the file.

    Parameters
    ----------
    path : str or path
    data : dict or DataFrame
        name -> ``(times, values)``, or a DataFrame (split with :func:`from_frame`).
    units : dict, optional
        name -> unit; by default ``data.units`` when `data` is a :class:`ChannelData`.
    """
    import h5py

    if isinstance(data, pd.DataFrame):
        data = from_frame(data)
    if units is None:
        units = getattr(data, "units", {})
    with h5py.File(path, "w") as f:
        f.attrs["format"] = FORMAT
        f.attrs["version"] = 1
        for name, (times, values) in data.items():
            name = str(name)
            if not name or "/" in name or name in (".", ".."):
                raise ValueError(f"Channel name {name!r} cannot name an HDF5 group.")
            stamps, time_unit = _storable_times(times)
            values = np.asarray(values, dtype=np.float64)
            if values.shape[:1] != stamps.shape:
                raise ValueError(
                    f"Channel {name!r} has {stamps.shape[0]} time stamps and "
                    f"{values.shape[0] if values.ndim else 0} values."
                )
            group = f.create_group(name)
            group.create_dataset("time", data=stamps)
            group.create_dataset("value", data=values)
            group.attrs["time_unit"] = time_unit
            if name in units:
                group.attrs["unit"] = str(units[name])


def read_hdf5(path: PathLike) -> ChannelData:
    """Read the channels of an HDF5 file written in the layout above.

    Returns
    -------
    ChannelData
        name -> ``(times, values)`` in file order, with ``units``.

    Raises
    ------
    ValueError
        When the file holds no channel or a channel's datasets disagree in length.
    """
    import h5py

    data = ChannelData()
    with h5py.File(path, "r") as f:
        for name, group in f.items():
            if not isinstance(group, h5py.Group) or "time" not in group or "value" not in group:
                continue
            times = group["time"][()]
            values = np.asarray(group["value"][()], dtype=np.float64)
            if times.ndim != 1 or values.shape[:1] != times.shape:
                raise ValueError(f"Channel {name!r} in {os.fspath(path)}: time and value differ.")
            if _text(group.attrs.get("time_unit", "s")) == _NS_SINCE_EPOCH:
                times = np.asarray(times, dtype=np.int64).view("datetime64[ns]")
            else:
                times = np.asarray(times, dtype=np.float64)
            data[name] = (times, values)
            if "unit" in group.attrs:
                data.units[name] = _text(group.attrs["unit"])
    if not data:
        raise ValueError(f"{os.fspath(path)} holds no channel groups with time and value.")
    return data


def _storable_times(times) -> Tuple[NDArray, str]:
    if isinstance(times, pd.DatetimeIndex) or np.issubdtype(np.asarray(times).dtype, np.datetime64):
        return _datetimes(times).view(np.int64), _NS_SINCE_EPOCH
    stamps = np.asarray(times, dtype=np.float64)
    if stamps.ndim != 1:
        raise ValueError("Time stamps must be one-dimensional.")
    return stamps, "s"


def _datetimes(times) -> NDArray:
    index = pd.DatetimeIndex(times)
    if index.tz is not None:
        index = index.tz_convert("UTC").tz_localize(None)
    return index.to_numpy(dtype="datetime64[ns]")


def _text(value) -> str:
    return value.decode() if isinstance(value, bytes) else str(value)


# ---- CSV ---------------------------------------------------------------------------------------


def write_csv(
    path: PathLike,
    data: Union[Mapping[str, Tuple[object, object]], pd.DataFrame],
    layout: str = "wide",
) -> None:
    """Write scalar channels to CSV, ``layout="wide"`` or ``"long"`` (see above).

    Times are written with 17 significant digits, so float seconds read back unchanged.
    """
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
            columns=["channel", "time", "value"]
        )
        frame.to_csv(path, index=False, float_format="%.17g")
    elif layout == "wide":
        frame = to_frame(data)
        frame.to_csv(path, float_format="%.17g")
    else:
        raise ValueError(f"Unknown CSV layout {layout!r}; choose wide or long.")


def read_csv(path: PathLike) -> ChannelData:
    """Read channels from a long or a wide CSV file; the header tells which."""
    frame = pd.read_csv(path, float_precision="round_trip")
    columns = [str(c).strip().lower() for c in frame.columns]
    if columns[:3] == ["channel", "time", "value"] and len(columns) == 3:
        data = ChannelData()
        times = _csv_times(frame.iloc[:, 1], path)
        values = pd.to_numeric(frame.iloc[:, 2], errors="coerce").to_numpy(dtype=np.float64)
        names = frame.iloc[:, 0].astype(str).to_numpy()
        for name in pd.unique(names):
            rows = names == name
            data[name] = (times[rows], values[rows])
        return data
    if not columns or columns[0] != "time" or len(columns) < 2:
        raise ValueError(
            f"{os.fspath(path)}: expected a header 'channel,time,value' or 'time,<channels>'."
        )
    times = _csv_times(frame.iloc[:, 0], path)
    data = ChannelData()
    for name in frame.columns[1:]:
        values = pd.to_numeric(frame[name], errors="coerce").to_numpy(dtype=np.float64)
        keep = ~np.isnan(values)
        data[str(name)] = (times[keep], values[keep])
    return data


def _csv_times(column: pd.Series, path) -> NDArray:
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
