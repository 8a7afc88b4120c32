"""The command line: ``python3 -m tamlib INPUT ...`` and ``python3 -m tamlib batch DIR ...``.

Option names are those of the C++ ``tamresample`` wherever they mean the same.
"""

from __future__ import annotations

import argparse
import os
import shutil
import sys
from pathlib import Path
from typing import List, Optional, Sequence

from ._engine import BLOCK
from ._file import resample_file
from ._resampler import METHODS

# Below this input size a run is over before a progress bar would say anything.
PROGRESS_MIN_BYTES = 4 << 20
SUFFIXES = (".h5", ".hdf5", ".csv")


def _common(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("--rate", type=float, required=True, metavar="HZ",
                        help="output grid rate in Hz")
    parser.add_argument("--method", choices=sorted(METHODS), default="linear",
                        help="resampling method (default: linear)")
    parser.add_argument("--block", type=int, default=BLOCK, metavar="N",
                        help=f"samples per channel group and window (default: {BLOCK}); memory "
                        "grows with it, not with the recording")
    parser.add_argument("--block-size", dest="block", type=int, default=argparse.SUPPRESS,
                        help=argparse.SUPPRESS)
    parser.add_argument("--tolerance", type=float, default=None, metavar="S",
                        help="time tolerance in seconds for hold and linear")
    parser.add_argument("--input-rate", type=float, default=None, metavar="HZ",
                        help="nominal input rate for aliasfree (default: from the stamps)")
    parser.add_argument("--transition", type=int, default=None, metavar="PERCENT",
                        help="aliasfree transition band in percent (default: 16)")
    parser.add_argument("--attenuation", type=float, default=None, metavar="DB",
                        help="aliasfree stop-band attenuation in dB (default: 60)")
    parser.add_argument("--max-gap", type=float, default=4.0, metavar="PERIODS",
                        help="aliasfree: intervals longer than this many input periods are gaps, "
                             "left empty (default: 4)")
    parser.add_argument("--workers", type=int, default=None, metavar="N",
                        help="local Dask worker processes")
    parser.add_argument("--scheduler", metavar="ADDRESS",
                        help="use a running Dask scheduler instead of local workers")


def single_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="python3 -m tamlib",
        description="Resample the channels of a recording onto one common time grid. The "
        "recording is streamed in windows: memory does not grow with its length.",
        epilog="Many recordings: python3 -m tamlib batch DIR --rate HZ [--workers N]. "
        "--workers or --scheduler splits one HDF5 recording by channel group across a Dask "
        "cluster into one result file.",
    )
    parser.add_argument("input", metavar="INPUT", help="recording: .h5, .hdf5 or .csv")
    _common(parser)
    parser.add_argument("--offset", type=float, default=None, metavar="S",
                        help="time of the first grid point in the recording's seconds "
                        "(default: its earliest stamp)")
    parser.add_argument("--output", "-o", metavar="FILE", help="write the result: .h5 or .csv")
    parser.add_argument("--compression", metavar="NAME",
                        help="h5py compression filter of the result, e.g. gzip or lzf")
    parser.add_argument("--plot", metavar="FILE.png",
                        help="draw raw samples and the resampled grid into a PNG (reads the "
                        "recording into memory)")
    parser.add_argument("--window", type=float, nargs=2, metavar=("START", "END"),
                        help="plot window in seconds after the first grid point")
    return parser


def batch_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="python3 -m tamlib batch",
        description="Resample every recording of a directory on a Dask cluster, one task per "
        "file, each streamed.",
    )
    parser.add_argument("directory", metavar="DIR", help="directory of .h5/.hdf5/.csv files")
    _common(parser)
    parser.add_argument("--output-dir", metavar="OUT", help="default: DIR/resampled")
    parser.add_argument("--format", choices=("h5", "csv"), default="h5",
                        help="result file format (default: h5)")
    return parser


def _options(args: argparse.Namespace) -> dict:
    return dict(block_size=args.block, tolerance=args.tolerance, input_rate=args.input_rate,
                transition_percent=args.transition, attenuation_db=args.attenuation,
                max_gap=args.max_gap)


def run_single(args: argparse.Namespace) -> int:
    options = dict(_options(args), start=args.offset)
    with _Progress(args.input) as bar:
        if args.workers is not None or args.scheduler:
            from .distributed import resample_split

            if not args.output:
                raise ValueError("--workers and --scheduler need --output FILE.h5.")
            summary = resample_split(args.input, args.output, args.rate, args.method,
                                     _client(args), workers=args.workers or 2, **options)
        else:
            summary = resample_file(args.input, args.output, args.rate, args.method,
                                    compression=args.compression, progress=bar, **options)
    if args.plot:
        from . import io
        from ._stream import resample
        from .plot import plot_channels

        data = io.read(args.input)
        frame = resample(data, args.rate, args.method, **options)
        plot_channels(args.plot, data, frame, window=args.window,
                      title=f"{Path(args.input).name}: {args.method} at {args.rate:g} Hz")
    print(f"{args.input}: {summary.channels} channels, {summary.samples_in} samples in, "
          f"{summary.samples_out} samples out on {summary.grid_points} grid points")
    return 0


def _client(args: argparse.Namespace):
    if not args.scheduler:
        return None
    from distributed import Client

    return Client(args.scheduler)


def run_batch(args: argparse.Namespace) -> int:
    from .distributed import resample_files

    directory = Path(args.directory)
    if not directory.is_dir():
        raise ValueError(f"{directory} is not a directory.")
    paths = sorted(p for p in directory.iterdir() if p.is_file() and p.suffix.lower() in SUFFIXES)
    if not paths:
        raise ValueError(f"{directory} holds no .h5, .hdf5 or .csv files.")
    output_dir = Path(args.output_dir) if args.output_dir else directory / "resampled"
    client = _client(args)
    workers = 2 if args.workers is None else args.workers
    try:
        table = resample_files(paths, args.rate, args.method, output_dir, client,
                               workers=workers, fmt=args.format, **_options(args))
    finally:
        if client is not None:
            client.close()
    with_errors = table["error"].notna()
    print(table.drop(columns=["output"]).to_string(index=False))
    print(f"{len(table) - int(with_errors.sum())} of {len(table)} files resampled into "
          f"{output_dir}")
    return 1 if with_errors.any() else 0


class _Progress:
    """A tqdm bar of seconds of recording on stderr, for large inputs on a terminal."""

    def __init__(self, path: str) -> None:
        self.bar = None
        try:
            large = os.path.getsize(path) >= PROGRESS_MIN_BYTES
        except OSError:
            large = False
        if large and sys.stderr.isatty():
            from tqdm import tqdm

            # A terminal that reports no width would get tqdm's bare counter instead.
            width = shutil.get_terminal_size((80, 24)).columns or 80
            self.bar = tqdm(total=1.0, unit="s", file=sys.stderr, ncols=width, bar_format=(
                "{l_bar}{bar}| {n:.1f}/{total:.1f} s of recording [{elapsed}<{remaining}]"))

    def __enter__(self):
        return self.bar

    def __exit__(self, *exc_info: object) -> None:
        if self.bar is not None:
            self.bar.close()


def main(argv: Optional[Sequence[str]] = None) -> int:
    argv: List[str] = list(sys.argv[1:] if argv is None else argv)
    batch = bool(argv) and argv[0] == "batch"
    parser = batch_parser() if batch else single_parser()
    args = parser.parse_args(argv[1:] if batch else argv)
    try:
        return run_batch(args) if batch else run_single(args)
    except (ValueError, OSError) as error:
        print(f"{parser.prog}: error: {error}", file=sys.stderr)
        return 2
    except KeyboardInterrupt:
        print(f"{parser.prog}: interrupted; no result written", file=sys.stderr)
        return 130
