"""Channel sets streamed side by side, each from its first window to its last.

Sets share nothing but the grid and the sink (both locked), and the library lets go of the
interpreter while it works, so on several processors their passes run in parallel. Each
thread reads a set's window and feeds it at once, while it is still in the cache. The outputs
do not depend on the order in which the sets run. It needs a reader whose sets read
independently and a sink that takes rows in any order; see :func:`tamlib._engine.run`.
"""

from __future__ import annotations

import math
import os
import queue
import threading
from concurrent.futures import ThreadPoolExecutor, wait

# Threads that stream sets at once.
MAX_THREADS = 4
# How long, in seconds, the calling thread waits at most before it looks for Ctrl-C again.
_WAIT = 0.1


class _Stopped(Exception):
    """A set's stream ended early because another failed or the run was interrupted."""


def side_by_side(reader, runs, end: float, progress, count: int) -> float:
    """Stream every set to its end and finish it on a grid of `count` points, so that only the
    sets in flight hold a resampler. Returns the seconds reported done to `progress`, which is
    told the mean of the seconds the sets have reached, in the calling thread."""
    reached = [0.0] * len(runs)
    stop = threading.Event()

    def stream(k: int, window_done) -> None:
        one = runs[k]
        while True:
            if stop.is_set():
                raise _Stopped
            horizon = reader.horizon(k)
            if horizon == math.inf:
                break
            reader.advance([k])
            horizon = reader.horizon(k)
            one.add(reader.take(k))
            if one.pieces or horizon == math.inf:
                one.feed(final=horizon == math.inf)
            window_done(k, min(horizon, end))
        one.add(reader.take(k))
        one.finish(count)

    done = 0.0

    def report(k: int, seconds: float) -> None:
        nonlocal done
        reached[k] = seconds
        seconds = sum(reached) / len(runs) if runs else end
        if progress is not None and seconds > done:
            progress(seconds - done)
            done = seconds

    threads = min(len(runs), os.cpu_count() or 1, MAX_THREADS)
    if threads < 2:
        for k in range(len(runs)):
            stream(k, report)
        return done
    # Each window done (its set and seconds) and each set ended (its future) is an event for
    # the calling thread, which reports them one by one.
    events: "queue.SimpleQueue" = queue.SimpleQueue()
    with ThreadPoolExecutor(threads, thread_name_prefix="tamlib-set") as pool:
        futures = []
        for k in range(len(runs)):
            futures.append(pool.submit(stream, k, lambda *window: events.put(window)))
            futures[-1].add_done_callback(events.put)
        try:
            ended = 0
            while ended < len(futures):
                try:
                    event = events.get(timeout=_WAIT)
                except queue.Empty:
                    continue
                if isinstance(event, tuple):
                    report(*event)
                    continue
                ended += 1
                if event.exception() is not None:
                    break
        finally:
            # Ctrl-C, a failing progress callback or a failing set: the others stop at their
            # next window, and the pool is left only when they have.
            stop.set()
            for future in futures:
                future.cancel()
            wait(futures)
    errors = [f.exception() for f in futures if not f.cancelled() and f.exception() is not None]
    real = [e for e in errors if not isinstance(e, _Stopped)]
    if real:
        raise real[0]
    return done
