"""Tamlib Resampler for Python: multichannel measurement data on one common time grid.

The package wraps the C interface of libtamresampler:

- :class:`Resampler` drives one resampler block by block, exactly as a C host does;
- :func:`resample` puts a pandas DataFrame or a dict of channels on a common grid;
- :func:`resample_file` does the same from file to file, streaming, in constant memory;
- :mod:`tamlib.io` reads and writes channels in HDF5 and CSV files;
- :mod:`tamlib.distributed` resamples many recordings on a Dask cluster;
- :mod:`tamlib.plot` draws raw samples against the grid;
- ``python3 -m tamlib`` is the command line.

Bad arguments raise ``ValueError``; other failures of the library raise :class:`Error`
(:class:`ResourceError` when memory runs out). :mod:`tamlib.io`, :mod:`tamlib.distributed` and
:mod:`tamlib.plot` load on first use, so ``import tamlib`` imports neither Dask nor matplotlib.
"""

import importlib
from importlib.metadata import PackageNotFoundError, version

from ._core import Error, ResourceError
from ._file import Summary, resample_file
from ._resampler import METHODS, Channel, Resampler, alias_free_delay, alias_free_filter_length
from ._stream import resample, to_xarray

try:
    __version__ = version("tamlib")
except PackageNotFoundError:  # run from a build tree, not installed
    __version__ = "0+build"

__all__ = ["METHODS", "Channel", "Error", "Resampler", "ResourceError", "Summary",
           "alias_free_delay", "alias_free_filter_length", "distributed", "io", "plot", "resample",
           "resample_file", "to_xarray"]

_LAZY = ("io", "distributed", "plot")


def __getattr__(name):
    if name in _LAZY:
        module = importlib.import_module(f".{name}", __name__)
        globals()[name] = module
        return module
    raise AttributeError(f"module 'tamlib' has no attribute {name!r}")


def __dir__():
    return sorted(set(globals()) | set(_LAZY))
