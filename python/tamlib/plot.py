"""A figure of raw samples against the resampled grid, drawn off-screen (Agg) into a PNG."""

from __future__ import annotations

import os
from typing import Mapping, Optional, Tuple, Union

import numpy as np
import pandas as pd

PathLike = Union[str, "os.PathLike[str]"]


def plot_channels(
    path: PathLike,
    raw: Mapping[str, Tuple[object, object]],
    resampled: pd.DataFrame,
    window: Optional[Tuple[float, float]] = None,
    title: Optional[str] = None,
) -> None:
    """Write a PNG with one panel per channel: raw samples as dots, the grid as steps and line.

    Parameters
    ----------
    path : str or path
        The PNG to write.
    raw : dict
        name -> ``(times, values)`` as given to :func:`tamlib.resample`.
    resampled : DataFrame
        Its result.
    window : (float, float), optional
        Seconds after the first grid point to show; by default the first 200 grid points.
    title : str, optional
    """
    from matplotlib.backends.backend_agg import FigureCanvasAgg
    from matplotlib.figure import Figure

    names = [name for name in resampled.columns if name in raw]
    if not names:
        raise ValueError("Nothing to plot: no channel of the result is among the raw channels.")
    grid = _seconds(resampled.index, resampled.index[0]) if len(resampled) else np.empty(0)
    if window is None:
        step = grid[1] - grid[0] if grid.size > 1 else 1.0
        window = (0.0, float(grid[min(grid.size, 200) - 1]) + 0.5 * step if grid.size else 1.0)
    lo, hi = float(window[0]), float(window[1])
    if not hi > lo:
        raise ValueError("The plot window must end after it starts.")

    figure = Figure(figsize=(10, 2.2 * len(names) + 0.8), dpi=100)
    FigureCanvasAgg(figure)
    axes = figure.subplots(len(names), 1, sharex=True, squeeze=False)[:, 0]
    shown = (grid >= lo) & (grid <= hi)
    for ax, name in zip(axes, names):
        times, values = raw[name]
        t = _seconds(times, resampled.index[0] if len(resampled) else None)
        values = np.asarray(values, dtype=np.float64)
        in_window = (t >= lo) & (t <= hi)
        ax.plot(t[in_window], values[in_window], "o", ms=2.5, color="tab:orange", zorder=3,
                label="raw samples")
        column = resampled[name].to_numpy()
        ax.plot(grid[shown], column[shown], ".-", ms=4, lw=0.8, color="tab:blue",
                label="resampled")
        ax.set_ylabel(str(name))
        ax.grid(True, alpha=0.3)
    axes[0].legend(loc="upper right", fontsize="small")
    axes[-1].set_xlabel("time after the first grid point [s]")
    axes[-1].set_xlim(lo, hi)
    if title:
        figure.suptitle(title)
    figure.tight_layout()
    figure.savefig(path, format="png")


def _seconds(times, origin) -> np.ndarray:
    """Seconds after origin, for float seconds and for datetimes alike."""
    array = np.asarray(times)
    if isinstance(times, pd.DatetimeIndex) or np.issubdtype(array.dtype, np.datetime64):
        index = pd.DatetimeIndex(times)
        if index.tz is not None:
            index = index.tz_convert("UTC").tz_localize(None)
        start = pd.Timestamp(origin)
        if start.tzinfo is not None:
            start = start.tz_convert("UTC").tz_localize(None)
        return (index - start).total_seconds().to_numpy()
    return array.astype(np.float64) - (0.0 if origin is None else float(origin))
