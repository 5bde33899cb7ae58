"""convert-tree: converts every recording under a folder into the same tree under another.

    python3 -m amrnb convert-tree SOURCE_DIR DEST_DIR [--jobs N] [--scheduler ADDRESS] [--amr]

Sources are the files named *.wav or *.amr (any case). Each one is converted by
amrnb.convert, so it holds exactly what `amrconv SOURCE DESTINATION 1` (or 2 with --amr)
writes, under the same relative path with the extension .wav (or .amr with --amr). A
"#!AMR\n" storage file, which amrconv does not read, converts as amrconv converts the same
frames in an AMR-in-WAV file. Of two sources with one destination (a.wav and a.amr) the
second in name order fails.

- Workers: N local processes (--jobs, default the machine's cores), or with
  --scheduler tcp://HOST:PORT the workers of a Dask distributed cluster, one task per file
  (sources and destinations must then be on a filesystem that every worker sees under the
  same paths, and every worker must import amrnb and find the library).
- Each destination is written under a temporary name (".NAME.amrnb-part" beside it) and
  renamed when complete: an interrupted run leaves no partial file under a final name, and a
  rerun converts only the destinations that are missing or older than their source (a killed
  run may leave temporary files; the rerun replaces them). Two runs must not write the same
  DEST_DIR at once.
- A file amrconv refuses is reported with its message and exit status and the run goes on;
  the run ends with a summary and exit status 1 if any file failed.
- Ctrl-C (or SIGTERM) stops cleanly: no new file starts, the files begun are completed, the
  summary is printed and the exit status is 130 (143). A second one exits at once.
- On a terminal a progress bar shows files, audio hours, rate and time left; otherwise each
  converted or failed file is one line on standard output.
"""

from __future__ import annotations

import concurrent.futures
import os
import shutil
import signal
import struct
import sys
import tempfile
import threading
import time
from dataclasses import dataclass
from typing import Dict, Iterator, List, Optional, TextIO

import amrnb

TEMP_SUFFIX = ".amrnb-part"
SOURCE_EXTENSIONS = (".wav", ".amr")


@dataclass(frozen=True)
class Task:
    relative: str     #: the source's path under SOURCE_DIR
    source: str
    destination: str


def temporary_name(destination: str) -> str:
    """Where a destination is written before it is renamed: a hidden name beside it."""
    head, tail = os.path.split(destination)
    return os.path.join(head, "." + tail + TEMP_SUFFIX)


def convert_one(source: str, destination: str, event_type: int) -> Dict[str, object]:
    """Converts one file under its temporary name, then renames it. Runs in a worker process
    (local or Dask); returns {"status", "message", "seconds", "frames"}, status 0 on success
    and amrconv's exit status otherwise (the temporary file is then removed).

    amrconv reads AMR-in-WAV only; a "#!AMR\n" storage file is first wrapped, frames
    unchanged, into a temporary AMR-in-WAV file, so that it converts as amrconv converts the
    same frames."""
    temporary = temporary_name(destination)
    wrapped = None
    try:
        os.makedirs(os.path.dirname(destination), exist_ok=True)
        wrapped = _wrap_storage_file(source)
        converted = amrnb.convert(wrapped or source, temporary, event_type)
        os.replace(temporary, destination)
    except amrnb.AmrError as e:
        _remove(temporary)
        return {"status": e.status, "message": e.message, "seconds": 0.0, "frames": 0}
    except OSError as e:
        _remove(temporary)
        return {"status": 3, "message": str(e), "seconds": 0.0, "frames": 0}
    finally:
        if wrapped:
            _remove(wrapped)
    return {"status": 0, "message": "", "seconds": converted.seconds, "frames": converted.frames}


def _wrap_storage_file(source: str) -> Optional[str]:
    """For a "#!AMR\n" file, the path of a temporary AMR-in-WAV file holding its frames
    behind a 62-byte header with audio format tag 310; None for any other file."""
    with open(source, "rb") as storage:
        if storage.read(6) != b"#!AMR\n":
            return None
        size = min(os.fstat(storage.fileno()).st_size - 6, 0xFFFFFFFF - 54)
        header = struct.pack("<4sI4s4sIHHIIHHHI4sII4sI", b"RIFF", 54 + size, b"WAVE", b"fmt ",
                             20, 310, 1, 8000, 1600, 32, 0, 2, 0, b"fact", 4, 0, b"data", size)
        handle, path = tempfile.mkstemp(prefix="amrnb-", suffix=".wav")
        try:
            with os.fdopen(handle, "wb") as wrapped:
                wrapped.write(header)
                shutil.copyfileobj(storage, wrapped)
        except BaseException:
            _remove(path)
            raise
    return path


def _remove(path: str) -> None:
    try:
        os.remove(path)
    except OSError:
        pass


def destination_for(relative: str, amr: bool) -> str:
    return os.path.splitext(relative)[0] + (".amr" if amr else ".wav")


def plan(source_dir: str, dest_dir: str, amr: bool) -> Iterator[tuple]:
    """Walks SOURCE_DIR in name order and yields (task, up_to_date) for every source; a
    destination is up to date when it exists and is not older than its source. DEST_DIR is
    not walked when it lies inside SOURCE_DIR."""
    source_dir = os.path.abspath(source_dir)
    dest_dir = os.path.abspath(dest_dir)
    for directory, subdirs, files in os.walk(source_dir):
        subdirs[:] = sorted(d for d in subdirs if os.path.join(directory, d) != dest_dir)
        for name in sorted(files):
            if not name.lower().endswith(SOURCE_EXTENSIONS):
                continue
            source = os.path.join(directory, name)
            relative = os.path.relpath(source, source_dir)
            destination = os.path.join(dest_dir, destination_for(relative, amr))
            try:
                up_to_date = os.stat(destination).st_mtime >= os.stat(source).st_mtime
            except OSError:
                up_to_date = False
            yield Task(relative, source, destination), up_to_date


def _start_worker(driver: int) -> None:
    # Local workers finish the file they are converting; the driver decides when to stop.
    signal.signal(signal.SIGINT, signal.SIG_IGN)
    signal.signal(signal.SIGTERM, signal.SIG_DFL)
    # A worker whose driver is gone (killed) exits at once, its file left under the temporary
    # name: its queue would never tell it, as it holds both ends of the queue's pipe.
    threading.Thread(target=_watch_driver, args=(driver,), daemon=True).start()


def _watch_driver(driver: int) -> None:
    while os.getppid() == driver:
        time.sleep(0.5)
    os._exit(1)


class _LocalWorkers:
    def __init__(self, jobs: int) -> None:
        self.slots = jobs
        self._pool = concurrent.futures.ProcessPoolExecutor(
            max_workers=jobs, initializer=_start_worker, initargs=(os.getpid(),))

    def submit(self, task: Task, event_type: int):
        return self._pool.submit(convert_one, task.source, task.destination, event_type)

    def wait_any(self, futures, timeout: float) -> set:
        return concurrent.futures.wait(futures, timeout=timeout,
                                       return_when=concurrent.futures.FIRST_COMPLETED).done

    def stop(self, futures) -> None:
        # Files not yet handed to a worker are dropped; those begun complete.
        self._pool.shutdown(wait=True, cancel_futures=True)

    def close(self) -> None:
        self._pool.shutdown(wait=True)


class _DaskWorkers:
    def __init__(self, address: str) -> None:
        import distributed  # only needed with --scheduler

        self._distributed = distributed
        self._client = distributed.Client(address)
        workers = self._client.scheduler_info().get("workers", {})
        self.slots = max(1, sum(w.get("nthreads", 1) for w in workers.values()))

    def submit(self, task: Task, event_type: int):
        return self._client.submit(convert_one, task.source, task.destination, event_type,
                                   pure=False)

    def wait_any(self, futures, timeout: float) -> set:
        try:
            return self._distributed.wait(list(futures), timeout=timeout,
                                          return_when="FIRST_COMPLETED").done
        except TimeoutError:
            return set()

    def stop(self, futures) -> None:
        # The scheduler hands tasks to workers ahead of time, and a cancelled task that a
        # worker has begun still completes (and renames its file) unseen: the few in flight
        # (four per worker thread) are waited for instead, and reported.
        self._distributed.wait(list(futures))

    def close(self) -> None:
        self._client.close()


class _Report:
    """Progress on a terminal (one redrawn line on standard error) or plain lines."""

    def __init__(self, total: int, out: TextIO, err: TextIO) -> None:
        self.total = total
        self.out = out
        self.err = err
        self.bar = err.isatty()
        self.done = self.converted = self.failed = 0
        self.seconds = 0.0
        self.started = time.monotonic()
        self._drawn = 0.0

    def result(self, task: Task, result: Dict[str, object]) -> None:
        self.done += 1
        if result["status"] == 0:
            self.converted += 1
            self.seconds += float(result["seconds"])
            if not self.bar:
                print(f"converted {task.relative} ({float(result['seconds']):.1f} s of audio)",
                      file=self.out, flush=True)
        else:
            self.failed += 1
            message = " / ".join(str(result["message"]).splitlines())
            self._clear()
            print(f"failed {task.relative}: status {result['status']}: {message}",
                  file=self.out if not self.bar else self.err, flush=True)
        self.draw()

    def _clear(self) -> None:
        if self.bar:
            self.err.write("\r\x1b[K")

    def draw(self, force: bool = False) -> None:
        now = time.monotonic()
        if not self.bar or (not force and now - self._drawn < 0.1 and self.done < self.total):
            return
        self._drawn = now
        elapsed = max(now - self.started, 1e-6)
        rate = self.done / elapsed
        left = (self.total - self.done) / rate if rate > 0 else 0.0
        width = 30
        filled = width * self.done // max(self.total, 1)
        self.err.write(f"\r\x1b[K[{'#' * filled}{'.' * (width - filled)}] {self.done}/{self.total} "
                       f"files, {self.seconds / 3600:.2f} h audio, {rate:.1f} files/s, "
                       f"{_clock(left)} left")
        self.err.flush()

    def finish(self, skipped: int, interrupted: bool) -> None:
        if self.bar:
            self.draw(force=True)
            self.err.write("\n")
        wall = time.monotonic() - self.started
        print(f"{'interrupted: ' if interrupted else ''}{self.converted} converted, "
              f"{skipped} skipped (up to date), {self.failed} failed, "
              f"{self.seconds / 3600:.3f} hours of audio, {wall:.1f} s wall time", file=self.out,
              flush=True)


class _Interrupts:
    """Within `with`, SIGINT and SIGTERM ask the run to stop (self.signal holds the number);
    a second one exits at once. Outside the main thread nothing is installed."""

    def __init__(self) -> None:
        self.signal = 0
        self._previous = {}

    def _handle(self, number, _frame) -> None:
        if self.signal:
            os._exit(128 + number)
        self.signal = number

    def __enter__(self) -> "_Interrupts":
        try:
            for number in (signal.SIGINT, signal.SIGTERM):
                self._previous[number] = signal.signal(number, self._handle)
        except ValueError:  # not the main thread
            pass
        return self

    def __exit__(self, *exc) -> None:
        for number, handler in self._previous.items():
            signal.signal(number, handler)


def _outcome(future) -> Dict[str, object]:
    # A task that raised (a worker lost, amrnb missing on a worker) fails its file, not the run.
    try:
        return future.result()
    except Exception as e:
        return {"status": 1, "message": f"worker error: {e!r}", "seconds": 0.0, "frames": 0}


def _clock(seconds: float) -> str:
    seconds = int(seconds)
    return f"{seconds // 3600}:{seconds // 60 % 60:02d}:{seconds % 60:02d}"


def convert_tree(source_dir: str, dest_dir: str, amr: bool = False, jobs: Optional[int] = None,
                 scheduler: Optional[str] = None, out: TextIO = sys.stdout,
                 err: TextIO = sys.stderr) -> int:
    """Converts the tree (see the module's help); returns the exit status: 0, 1 if a file
    failed, 128 + the signal's number when interrupted (130 for Ctrl-C)."""
    if not os.path.isdir(source_dir):
        print(f"convert-tree: {source_dir} is not a folder", file=err)
        return 2
    stop = _Interrupts()
    with stop:  # from the start: an interrupt while the tree is walked stops the run too
        tasks: List[Task] = []
        clashes: List[tuple] = []  # a.wav and a.amr would both write a.wav: the second fails
        first_source: Dict[str, str] = {}
        skipped = 0
        for task, up_to_date in plan(source_dir, dest_dir, amr):
            if stop.signal:
                break
            if task.destination in first_source:
                clashes.append((task, first_source[task.destination]))
            elif up_to_date:
                skipped += 1
            else:
                tasks.append(task)
            first_source.setdefault(task.destination, task.relative)
        event_type = 2 if amr else 1
        if scheduler:
            workers = _DaskWorkers(scheduler)
        else:
            workers = _LocalWorkers(jobs or os.cpu_count() or 1)
        report = _Report(len(tasks) + len(clashes), out, err)
        for task, other in clashes:
            report.result(task, {"status": 1, "message": f"same destination as {other}",
                                 "seconds": 0.0, "frames": 0})
        # Enough tasks in flight to keep every worker busy, few enough that a million files
        # cost the driver no memory and an interrupt drops the queue at once.
        window = 4 * workers.slots
        in_flight: Dict[object, Task] = {}
        queue = iter(tasks)
        while not stop.signal:
            task = next(queue, None) if len(in_flight) < window else None
            if task is not None:
                in_flight[workers.submit(task, event_type)] = task
                continue
            if not in_flight:
                break
            for future in workers.wait_any(in_flight, timeout=0.25):
                report.result(in_flight.pop(future), _outcome(future))
            report.draw()
        if stop.signal:
            if report.bar:
                report.err.write("\n")
            print("interrupted: completing the files being converted", file=err, flush=True)
            workers.stop(in_flight)
            for future, task in in_flight.items():
                if future.done() and not future.cancelled():
                    report.result(task, _outcome(future))
        workers.close()
    interrupted = stop.signal != 0
    report.finish(skipped, interrupted)
    if interrupted:
        return 128 + stop.signal
    return 1 if report.failed else 0
