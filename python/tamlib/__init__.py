"""Tamlib Resampler for Python: multichannel measurement data on one common time grid.

The package wraps the C interface of libtamresampler:

- :class:`Resampler` drives one resampler block by block, exactly as a C host does;
- :func:`resample` puts a pandas DataFrame or a dict of channels on a common grid;
- :func:`resample_file` does the same from file to file, streaming, in constant memory;
- :mod:`tamlib.io` reads and writes channels in HDF5 and CSV files;
- :mod:`tamlib.distributed` resamples many recordings on a Dask cluster;
- ``python3 -m tamlib`` is the command line.
"""

from ._file import Summary, resample_file
from ._resampler import METHODS, Channel, Resampler, alias_free_filter_length
from ._stream import resample

__all__ = ["METHODS", "Channel", "Resampler", "Summary", "alias_free_filter_length", "resample",
           "resample_file"]
