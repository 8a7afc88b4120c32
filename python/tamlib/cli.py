"""The command line: ``python3 -m tamlib INPUT ...`` and ``python3 -m tamlib batch DIR ...``."""

from __future__ import annotations

import argparse
import sys
from pathlib import Path
from typing import List, Optional, Sequence

from . import io
from ._resampler import METHODS
from ._stream import resample

# Below this many input samples a run is over before a progress bar would say anything.
PROGRESS_MIN_SAMPLES = 200_000
SUFFIXES = (".h5", ".hdf5", ".csv")


def _common(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("--rate", type=float, required=True, metavar="HZ",
                        help="output grid rate in Hz")
    parser.add_argument("--method", choices=sorted(METHODS), default="linear",
                        help="resampling method (default: linear)")
    parser.add_argument("--block-size", type=int, default=65536, metavar="N",
                        help="samples per channel and block (default: 65536)")
    parser.add_argument("--tolerance", type=float, default=None, metavar="S",
                        help="time tolerance in seconds for hold and linear")


def single_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="python3 -m tamlib",
        description="Resample the channels of a recording onto one common time grid.",
        epilog="Many recordings: python3 -m tamlib batch DIR --rate HZ [--workers N]",
    )
    parser.add_argument("input", metavar="INPUT", help="recording: .h5, .hdf5 or .csv")
    _common(parser)
    parser.add_argument("--output", metavar="FILE", help="write the result: .h5 or .csv")
    parser.add_argument("--plot", metavar="FILE.png",
                        help="draw raw samples and the resampled grid into a PNG")
    parser.add_argument("--window", type=float, nargs=2, metavar=("START", "END"),
                        help="plot window in seconds after the first grid point")
    return parser


def batch_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="python3 -m tamlib batch",
        description="Resample every recording of a directory on a Dask cluster.",
    )
    parser.add_argument("directory", metavar="DIR", help="directory of .h5/.hdf5/.csv files")
    _common(parser)
    parser.add_argument("--workers", type=int, default=2, metavar="N",
                        help="local Dask worker processes; 0 runs serially (default: 2)")
    parser.add_argument("--scheduler", metavar="ADDRESS",
                        help="use a running Dask scheduler instead of local workers")
    parser.add_argument("--output-dir", metavar="OUT", help="default: DIR/resampled")
    parser.add_argument("--format", choices=("h5", "csv"), default="h5",
                        help="result file format (default: h5)")
    return parser


def run_single(args: argparse.Namespace) -> int:
    data = io.read(args.input)
    total = sum(len(times) for times, _ in data.values())
    options = dict(block_size=args.block_size, tolerance=args.tolerance)
    with _progress(total) as bar:
        frame = resample(data, args.rate, args.method, progress=bar, **options)
    if args.output:
        io.write(args.output, io.from_frame(frame), units=data.units)
    if args.plot:
        from .plot import plot_channels

        plot_channels(args.plot, data, frame, window=args.window,
                      title=f"{Path(args.input).name}: {args.method} at {args.rate:g} Hz")
    produced = int(frame.notna().to_numpy().sum())
    print(f"{args.input}: {len(data)} channels, {total} samples in, {produced} samples out "
          f"on {len(frame)} grid points")
    return 0


def run_batch(args: argparse.Namespace) -> int:
    from .distributed import resample_files

    directory = Path(args.directory)
    if not directory.is_dir():
        raise ValueError(f"{directory} is not a directory.")
    paths = sorted(p for p in directory.iterdir() if p.is_file() and p.suffix.lower() in SUFFIXES)
    if not paths:
        raise ValueError(f"{directory} holds no .h5, .hdf5 or .csv files.")
    output_dir = Path(args.output_dir) if args.output_dir else directory / "resampled"
    options = dict(block_size=args.block_size, tolerance=args.tolerance)
    if args.scheduler:
        from distributed import Client

        with Client(args.scheduler) as client:
            table = resample_files(paths, args.rate, args.method, output_dir, client,
                                   fmt=args.format, **options)
    else:
        table = resample_files(paths, args.rate, args.method, output_dir,
                               workers=args.workers, fmt=args.format, **options)
    with_errors = table["error"].notna()
    print(table.drop(columns=["output"]).to_string(index=False))
    print(f"{len(table) - int(with_errors.sum())} of {len(table)} files resampled into "
          f"{output_dir}")
    return 1 if with_errors.any() else 0


class _progress:
    """A tqdm bar on stderr for long inputs when stderr is a terminal; else nothing."""

    def __init__(self, total: int) -> None:
        self.bar = None
        if total >= PROGRESS_MIN_SAMPLES and sys.stderr.isatty():
            from tqdm import tqdm

            self.bar = tqdm(total=total, unit="samples", unit_scale=True, file=sys.stderr)

    def __enter__(self):
        return self.bar.update if self.bar is not None else None

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
