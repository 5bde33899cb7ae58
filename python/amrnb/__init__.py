"""Read and convert AMR-NB speech recordings with the amrconv project's decoder.

The package loads the project's shared library, libamrnbdec, through ctypes: no compiled
extension. The library is looked up in this order: the path in the environment variable
AMRNB_LIBRARY, the package's own directory (where `cmake --install` links it), then the
system's library path.

Files
    `file` arguments take a path (str, bytes or os.PathLike), a bytes-like object holding the
    whole file, or a binary file object opened for reading (read from its current position,
    never seeked). Two kinds of file are read, told apart by their first bytes:
    AMR-in-WAV (a 62-byte RIFF/WAVE header with audio format tag 310, then storage-layout
    frames) and "#!AMR\\n" storage files. Damaged input follows amrconv: a last frame cut
    short is dropped, a header byte of frame type 10 to 14 is a one-byte frame decoded as a
    damaged frame.

Calls
    read(file, dtype="int16", start=0, stop=None) -> (samples, 8000)
        Every sample as one 1-D NumPy array.
    blocks(file, blocksize=8000, dtype="int16")
        The same samples as consecutive arrays of `blocksize`, the last one shorter.
    info(file) -> Info
        Kind of file, frames, duration, frames by type, concealed frames, header fields.
    convert(source, destination, event_type=1) -> Converted
        Writes exactly the file `amrconv SOURCE DESTINATION EVENT_TYPE` writes.
    Decoder()
        Frame by frame: decode(frame, layout="storage" or "if2"), conceal(), reset().

dtype is "int16" (the decoder's samples), "float32" or "float64" (the int16 values divided
by 32768, so in [-1, 1)).

Errors
    AmrError, a ValueError, for a file amrconv refuses: its `message` is amrconv's message and
    its `status` amrconv's exit status (3: cannot open, 12: header cut short, 14: audio
    format tag not 310, ...). No input crashes the interpreter.

Example
    >>> import numpy as np, amrnb
    >>> samples, rate = amrnb.read("call.wav", dtype="float32")
    >>> frames = samples[: len(samples) // 160 * 160].reshape(-1, 160)
    >>> level_db = 10 * np.log10(np.mean(frames ** 2, axis=1) + 1e-10)   # per 20 ms

Command line
    python3 -m amrnb convert-tree SOURCE_DIR DEST_DIR [--jobs N] [--scheduler ADDRESS] [--amr]
    converts a folder tree on worker processes or on a Dask cluster (see amrnb.tree).
"""

from __future__ import annotations

import ctypes
import enum
import os
from dataclasses import dataclass, field
from typing import BinaryIO, Dict, Iterator, Optional, Tuple, Union

import numpy as np

from . import _lib

__all__ = ["read", "blocks", "info", "convert", "Decoder", "AmrError", "Outcome", "Info",
           "WaveHeader", "Converted", "frame_bytes", "SAMPLE_RATE", "FRAME_SAMPLES"]

SAMPLE_RATE = 8000
FRAME_SAMPLES = _lib.FRAME_SAMPLES

FileLike = Union[str, bytes, "os.PathLike[str]", bytearray, memoryview, BinaryIO]

_DTYPES = ("int16", "float32", "float64")
_READ_CHUNK = 1 << 22  # samples decoded per library call (about 9 minutes)


class AmrError(ValueError):
    """A file amrconv refuses, or a frame the decoder refuses.

    `message` holds amrconv's message lines (without their leading line breaks) and `status`
    amrconv's exit status for the same input: 3 (cannot open), 12 (header cut short), 14
    (audio format tag not 310), 6 (header job: write failed), 10 (the decoder refused a
    frame), 13 or 16 (decode job: the WAV header could not be written), ...
    """

    def __init__(self, message: str, status: int) -> None:
        super().__init__(message)
        self.message = message
        self.status = status

    def __str__(self) -> str:
        return f"{self.message} (status {self.status})"

    def __reduce__(self):  # picklable, for worker processes
        return (AmrError, (self.message, self.status))


class Outcome(enum.IntEnum):
    """What a decoded frame turned out to be."""

    SPEECH = 0         #: a good speech frame
    CONCEALED = 1      #: damaged, lost or invalid speech frame: concealed speech
    COMFORT_NOISE = 2  #: a SID frame: comfort noise
    NO_DATA = 3        #: no data: comfort noise goes on, or speech is concealed
    HOMING = 4         #: a decoder homing frame: 160 samples of 8, decoder reset


@dataclass(frozen=True)
class WaveHeader:
    """The 62-byte AMR-in-WAV header, field by field (identifiers as their four bytes)."""

    riff_id: bytes
    chunk_size: int
    wave_id: bytes
    fmt_id: bytes
    fmt_size: int
    audio_format: int
    channels: int
    sample_rate: int
    byte_rate: int
    block_align: int
    bits_per_sample: int
    extra_format_bytes_len: int
    extra_format_bytes: int
    fact_id: bytes
    fact_size: int
    fact_data: int
    data_id: bytes
    data_size: int


@dataclass(frozen=True)
class Info:
    """What info() found in a file (it decodes every frame to count the concealed ones)."""

    kind: str                    #: "amr-wave" (AMR-in-WAV, tag 310) or "storage" ("#!AMR\\n")
    frames: int                  #: frames in the file
    duration: float              #: seconds: frames * 0.02
    frame_types: Dict[int, int]  #: frames by frame type (0..7 modes, 8 SID, 15 no data, ...)
    concealed: int               #: frames decoded as concealed speech (Outcome.CONCEALED)
    outcomes: Dict[Outcome, int]  #: decoded frames by outcome
    dropped_tail_bytes: int      #: bytes of a last frame cut short, not decoded
    header: Optional[WaveHeader] = None  #: AMR-in-WAV header; None for a storage file
    samplerate: int = SAMPLE_RATE

    @property
    def samples(self) -> int:
        return self.frames * FRAME_SAMPLES


@dataclass(frozen=True)
class Converted:
    """What convert() did: frames converted, concealed frames (event type 1), audio seconds."""

    frames: int
    concealed: int
    seconds: float


def frame_bytes(first_byte: int, layout: str = "storage") -> int:
    """Bytes of the frame that begins with `first_byte`, first byte included, in the storage
    layout (frame type in bits 6..3) or "if2" (frame type in bits 3..0)."""
    return _lib.function("amrnb_frame_bytes")(first_byte & 0xFF, _layout(layout))


def _layout(layout: str) -> int:
    if layout == "storage":
        return _lib.LAYOUT_STORAGE
    if layout == "if2":
        return _lib.LAYOUT_IF2
    raise ValueError(f'layout must be "storage" or "if2", not {layout!r}')


def _check_dtype(dtype) -> np.dtype:
    name = np.dtype(dtype).name
    if name not in _DTYPES:
        raise ValueError(f"dtype must be one of {', '.join(_DTYPES)}, not {name}")
    return np.dtype(name)


def _as_dtype(samples: np.ndarray, dtype: np.dtype) -> np.ndarray:
    if dtype == np.int16:
        return samples
    out = samples.astype(dtype)
    out *= 1.0 / 32768  # a power of two: exactly the division
    return out


class _Source:
    """An open amrnb_file with what must outlive it (the bytes, the read callback)."""

    def __init__(self, file: FileLike) -> None:
        self._handle = ctypes.c_void_p()
        self._keep = None
        self._callback_error: Optional[BaseException] = None
        self._prefix = b""  # the first bytes a file object gave, for the format tag message
        if isinstance(file, (str, os.PathLike)):
            self.name = os.fsdecode(file)
            path = os.fsencode(file)
            status = _lib.function("amrnb_file_open_path")(path, ctypes.byref(self._handle))
            errno = ctypes.get_errno()
            self._check_open(status, errno, lambda: _read_prefix(path))
        elif isinstance(file, (bytes, bytearray, memoryview)):
            self.name = "<bytes>"
            data = bytes(file)
            self._keep = data
            status = _lib.function("amrnb_file_open_memory")(
                ctypes.c_char_p(data), len(data), ctypes.byref(self._handle))
            self._check_open(status, 0, lambda: data[:62])
        elif hasattr(file, "read"):
            self.name = str(getattr(file, "name", "<stream>"))
            self._keep = _lib.READ_FN(self._make_reader(file))
            status = _lib.function("amrnb_file_open_callback")(
                self._keep, None, ctypes.byref(self._handle))
            self._check_open(status, 0, lambda: self._prefix)
        else:
            raise TypeError(f"file must be a path, bytes or a binary file object, not "
                            f"{type(file).__name__}")

    def _make_reader(self, fileobj):
        readinto = getattr(fileobj, "readinto", None)

        def reader(_user, buffer, size):
            try:
                view = (ctypes.c_char * size).from_address(buffer)
                if readinto is not None:
                    count = readinto(view) or 0
                else:
                    data = fileobj.read(size) or b""
                    if not isinstance(data, bytes):
                        raise TypeError("the file object must be opened in binary mode")
                    count = len(data)
                    ctypes.memmove(buffer, data, count)
                if len(self._prefix) < 62:
                    self._prefix += bytes(view[:count])[: 62 - len(self._prefix)]
                return count
            except BaseException as e:  # handed back to Python after the library call
                self._callback_error = e
                return -1

        return reader

    def _check_open(self, status: int, errno: int, prefix) -> None:
        if status == _lib.OK:
            return
        self._raise_callback_error()
        tail = f"Failed to Read File ({self.name})"
        if status == _lib.ERROR_OPEN:
            raise AmrError(f"Failed to open AMR File. Error({errno})\n{tail}", 3)
        if status in (_lib.ERROR_SHORT_HEADER, _lib.ERROR_READ):
            raise AmrError(f"Failed to read AMR File. Error({errno})\n{tail}", 12)
        if status == _lib.ERROR_FORMAT_TAG:
            head = prefix()
            tag = int.from_bytes(head[20:22], "little") if len(head) >= 22 else -1
            raise AmrError(f"Invalid Encoded Format({tag})\n{tail}", 14)
        if status == _lib.ERROR_MEMORY:
            raise MemoryError("the decoder's memory could not be allocated")
        raise AmrError(f"{_lib.status_name(status)}\n{tail}", 3)

    def _raise_callback_error(self) -> None:
        if self._callback_error is not None:
            error, self._callback_error = self._callback_error, None
            raise error

    def check(self, status: int) -> None:
        if status == _lib.OK:
            return
        self._raise_callback_error()
        if status == _lib.ERROR_READ:
            raise OSError(f"reading {self.name} failed")
        raise AmrError(f"{_lib.status_name(status)} while reading {self.name}", 12)

    def read_pcm(self, out: np.ndarray) -> int:
        """Decodes into `out` (int16, contiguous); returns the samples stored (0 at the end)."""
        got = ctypes.c_size_t()
        status = _lib.lib().amrnb_file_read_pcm(
            self._handle, out.ctypes.data_as(_lib._short_p), out.size, ctypes.byref(got))
        self.check(status)
        return got.value

    def stats(self) -> _lib.FileStats:
        stats = _lib.FileStats()
        self.check(_lib.lib().amrnb_file_get_stats(self._handle, ctypes.byref(stats)))
        return stats

    def kind(self) -> int:
        return _lib.lib().amrnb_file_kind_of(self._handle)

    def wave_header(self) -> Optional[WaveHeader]:
        raw = _lib.WaveHeader()
        if _lib.lib().amrnb_file_wave_header(self._handle, ctypes.byref(raw)) != _lib.OK:
            return None
        fields = {}
        for name, ctype in raw._fields_:
            if ctype is _lib.WaveHeader.IDENTIFIER:  # all four bytes, NULs included
                offset = getattr(_lib.WaveHeader, name).offset
                fields[name] = ctypes.string_at(ctypes.addressof(raw) + offset, 4)
            else:
                fields[name] = getattr(raw, name)
        return WaveHeader(**fields)

    def close(self) -> None:
        if self._handle:
            _lib.lib().amrnb_file_close(self._handle)
            self._handle = ctypes.c_void_p()

    def __enter__(self) -> "_Source":
        return self

    def __exit__(self, *exc) -> None:
        self.close()

    def __del__(self) -> None:
        self.close()


def _read_prefix(path: bytes) -> bytes:
    try:
        with open(path, "rb") as f:
            return f.read(62)
    except OSError:
        return b""


def _input_bytes(file: FileLike) -> int:
    """The input's size in bytes, where it is known without reading it (else 0)."""
    try:
        if isinstance(file, (str, os.PathLike)):
            return os.path.getsize(file)
        if isinstance(file, (bytes, bytearray, memoryview)):
            return memoryview(file).nbytes
    except OSError:
        pass  # opening reports it
    return 0


def read(file: FileLike, dtype: str = "int16", start: int = 0,
         stop: Optional[int] = None) -> Tuple[np.ndarray, int]:
    """Decodes a file and returns (samples, 8000).

    samples is a 1-D NumPy array of `dtype` ("int16", or "float32"/"float64" holding the
    int16 values divided by 32768). `start` and `stop` select samples as a slice does
    (negative values count from the end); every frame before `stop` is still decoded, as the
    decoder's state depends on them. Raises AmrError for a file amrconv refuses.
    """
    dtype = _check_dtype(dtype)
    limit = stop if stop is not None and stop >= 0 and start >= 0 else None
    # One array, sized from the input's bytes (a frame of 13 bytes or more each: 160 samples)
    # and grown in place when 1-byte frames make it short; only the samples written are
    # touched, and the array is cut to them at the end.
    capacity = (_input_bytes(file) // 13 + 1) * FRAME_SAMPLES
    if limit is not None:
        capacity = min(capacity, limit)
    samples = np.empty(max(capacity, FRAME_SAMPLES), dtype=np.int16)
    total = 0
    with _Source(file) as source:
        while limit is None or total < limit:
            if total == len(samples):
                samples.resize(2 * len(samples), refcheck=False)
            end = min(len(samples), total + _READ_CHUNK)
            if limit is not None:
                end = min(end, limit)
            got = source.read_pcm(samples[total:end])
            if got == 0:
                break
            total += got
    samples.resize(total, refcheck=False)
    if start or stop is not None:
        samples = samples[start:stop]
    return _as_dtype(samples, dtype), SAMPLE_RATE


def blocks(file: FileLike, blocksize: int = 8000, dtype: str = "int16") -> Iterator[np.ndarray]:
    """Yields the decoded samples as consecutive arrays of `blocksize` samples, the last one
    shorter (never empty). The file is read as the blocks are taken; it is closed when the
    generator ends or is closed. Raises AmrError for a file amrconv refuses."""
    dtype = _check_dtype(dtype)
    if blocksize < 1:
        raise ValueError("blocksize must be at least 1")
    with _Source(file) as source:
        while True:
            block = np.empty(blocksize, dtype=np.int16)
            filled = 0
            while filled < blocksize:
                got = source.read_pcm(block[filled:])
                if got == 0:
                    break
                filled += got
            if filled:
                yield _as_dtype(block[:filled], dtype)
            if filled < blocksize:
                return


def info(file: FileLike) -> Info:
    """Describes a file: its kind, frames, duration, frames by type, concealed frames, and for
    AMR-in-WAV the header's fields. Decodes every frame (about 3000 times faster than real
    time). Raises AmrError for a file amrconv refuses."""
    with _Source(file) as source:
        scratch = np.empty(_READ_CHUNK, dtype=np.int16)
        while source.read_pcm(scratch):
            pass
        stats = source.stats()
        kind = "storage" if source.kind() == _lib.FILE_STORAGE else "amr-wave"
        header = source.wave_header() if kind == "amr-wave" else None
    return Info(kind=kind, frames=stats.frames, duration=stats.frames * 0.02,
                frame_types={t: n for t, n in enumerate(stats.by_type) if n},
                concealed=stats.by_outcome[Outcome.CONCEALED],
                outcomes={Outcome(o): n for o, n in enumerate(stats.by_outcome) if n},
                dropped_tail_bytes=stats.dropped_tail_bytes, header=header)


def convert(source: Union[str, "os.PathLike[str]"], destination: Union[str, "os.PathLike[str]"],
            event_type: int = 1) -> Converted:
    """Converts an AMR-in-WAV file as `amrconv SOURCE DESTINATION EVENT_TYPE` does, writing
    the same bytes: event type 1 decodes into a 16-bit 8000 Hz mono PCM WAV file, 2 copies the
    frames behind "#!AMR\\n". Raises AmrError with amrconv's message and exit status when
    amrconv would fail (the destination then holds what amrconv's would)."""
    if event_type not in (1, 2):
        raise ValueError("event_type must be 1 (decode to WAV) or 2 (\"#!AMR\\n\" file)")
    result = _lib.ConvertResult()
    status = _lib.function("amrnb_convert_file")(
        os.fsencode(source), os.fsencode(destination), event_type, ctypes.byref(result))
    if status != _lib.OK:
        raise AmrError(_lib.status_name(status), 1)
    if result.exit_status != 0:
        message = result.message.decode("utf-8", "replace").strip("\n")
        raise AmrError(message, result.exit_status)
    return Converted(frames=result.frames, concealed=result.concealed, seconds=result.seconds)


class Decoder:
    """One AMR-NB stream, frame by frame: 160 samples at 8000 Hz per frame.

    >>> decoder = amrnb.Decoder()
    >>> samples, outcome = decoder.decode(frame)            # storage layout, header byte first
    >>> samples, outcome = decoder.decode(frame, "if2")     # or IF2
    >>> samples, outcome = decoder.conceal()                # a frame lost in transport
    >>> decoder.reset()                                     # start a new stream
    """

    def __init__(self) -> None:
        self._handle = ctypes.c_void_p()
        self._pcm = np.empty(FRAME_SAMPLES, dtype=np.int16)
        self._outcome = ctypes.c_int()
        status = _lib.lib().amrnb_create(ctypes.byref(self._handle))
        if status != _lib.OK:
            raise MemoryError("the decoder's memory could not be allocated")

    def _result(self, status: int, what: str) -> Tuple[np.ndarray, Outcome]:
        if status != _lib.OK:
            raise AmrError(f"Decoder error: 0x{status:08x}, exiting... "
                           f"({_lib.status_name(status)}: {what})\nFailed to Decode AMR..", 10)
        return self._pcm.copy(), Outcome(self._outcome.value)

    def decode(self, frame: bytes, layout: str = "storage") -> Tuple[np.ndarray, Outcome]:
        """Decodes one frame (first byte first) into (160 int16 samples, Outcome). Bytes beyond
        what its frame type needs are ignored; a frame too short raises AmrError."""
        frame = bytes(frame)
        status = _lib.lib().amrnb_decode(self._handle, frame, len(frame), _layout(layout),
                                         self._pcm.ctypes.data_as(_lib._short_p),
                                         ctypes.byref(self._outcome))
        return self._result(status, f"a frame of {len(frame)} bytes")

    def conceal(self) -> Tuple[np.ndarray, Outcome]:
        """The 160 samples of a frame lost in transport: speech concealed from the previous
        frames, or comfort noise going on."""
        status = _lib.lib().amrnb_conceal(self._handle, self._pcm.ctypes.data_as(_lib._short_p),
                                          ctypes.byref(self._outcome))
        return self._result(status, "conceal")

    def reset(self) -> None:
        """Starts a new stream: every value of the decoder back to its initial state."""
        self._result(_lib.lib().amrnb_reset(self._handle, _lib.RESET_FULL), "reset")

    def close(self) -> None:
        """Frees the decoder (also done when it is garbage-collected)."""
        if self._handle:
            _lib.lib().amrnb_destroy(self._handle)
            self._handle = ctypes.c_void_p()

    def __enter__(self) -> "Decoder":
        return self

    def __exit__(self, *exc) -> None:
        self.close()

    def __del__(self) -> None:
        self.close()
