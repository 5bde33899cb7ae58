"""ctypes bindings of the decoder library (amrdec/amrnb_decoder_c.h and amrdec/amrnb_file.h).

The library is found once, on first use:

1. the path in the environment variable AMRNB_LIBRARY;
2. the library next to this package (cmake --install puts a link to it in the package's
   directory);
3. the system's library path (LD_LIBRARY_PATH, the loader's cache).
"""

from __future__ import annotations

import ctypes
import os
import sys
import threading
from typing import Optional

# Statuses (amrnb_status).
OK = 0
ERROR_NULL = 3
ERROR_FRAME_SIZE = 7
ERROR_MEMORY = 8
END_OF_STREAM = 9
ERROR_OPEN = 10
ERROR_READ = 11
ERROR_SHORT_HEADER = 12
ERROR_FORMAT_TAG = 13
ERROR_KIND = 14
ERROR_USAGE = 15
ERROR_WRITE = 16

LAYOUT_STORAGE = 0
LAYOUT_IF2 = 1
RESET_FULL = 0
FILE_AMR_WAVE = 1
FILE_STORAGE = 2
FRAME_SAMPLES = 160
MAX_FRAME_BYTES = 32


class WaveHeader(ctypes.Structure):
    IDENTIFIER = ctypes.c_char * 4
    _fields_ = [
        ("riff_id", IDENTIFIER),
        ("chunk_size", ctypes.c_long),
        ("wave_id", IDENTIFIER),
        ("fmt_id", IDENTIFIER),
        ("fmt_size", ctypes.c_long),
        ("audio_format", ctypes.c_uint),
        ("channels", ctypes.c_uint),
        ("sample_rate", ctypes.c_long),
        ("byte_rate", ctypes.c_long),
        ("block_align", ctypes.c_uint),
        ("bits_per_sample", ctypes.c_uint),
        ("extra_format_bytes_len", ctypes.c_uint),
        ("extra_format_bytes", ctypes.c_long),
        ("fact_id", IDENTIFIER),
        ("fact_size", ctypes.c_long),
        ("fact_data", ctypes.c_long),
        ("data_id", IDENTIFIER),
        ("data_size", ctypes.c_long),
    ]


class FileStats(ctypes.Structure):
    _fields_ = [
        ("frames", ctypes.c_ulong),
        ("by_type", ctypes.c_ulong * 16),
        ("by_outcome", ctypes.c_ulong * 5),
        ("dropped_tail_bytes", ctypes.c_ulong),
        ("samples", ctypes.c_ulong),
    ]


class ConvertResult(ctypes.Structure):
    _fields_ = [
        ("exit_status", ctypes.c_int),
        ("message", ctypes.c_char * 256),
        ("frames", ctypes.c_ulong),
        ("concealed", ctypes.c_ulong),
        ("seconds", ctypes.c_double),
    ]


READ_FN = ctypes.CFUNCTYPE(ctypes.c_long, ctypes.c_void_p, ctypes.c_void_p, ctypes.c_size_t)

_pp = ctypes.POINTER(ctypes.c_void_p)
_short_p = ctypes.POINTER(ctypes.c_short)
_int_p = ctypes.POINTER(ctypes.c_int)
_size_p = ctypes.POINTER(ctypes.c_size_t)

# name: (result type, argument types). Every call that can fail returns an amrnb_status (int).
_PROTOTYPES = {
    "amrnb_version": (ctypes.c_char_p, []),
    "amrnb_status_name": (ctypes.c_char_p, [ctypes.c_int]),
    "amrnb_create": (ctypes.c_int, [_pp]),
    "amrnb_destroy": (None, [ctypes.c_void_p]),
    "amrnb_reset": (ctypes.c_int, [ctypes.c_void_p, ctypes.c_int]),
    "amrnb_decode": (ctypes.c_int, [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_size_t,
                                    ctypes.c_int, _short_p, _int_p]),
    "amrnb_conceal": (ctypes.c_int, [ctypes.c_void_p, _short_p, _int_p]),
    "amrnb_frame_bytes": (ctypes.c_int, [ctypes.c_uint, ctypes.c_int]),
    "amrnb_file_open_path": (ctypes.c_int, [ctypes.c_char_p, _pp]),
    "amrnb_file_open_memory": (ctypes.c_int, [ctypes.c_void_p, ctypes.c_size_t, _pp]),
    "amrnb_file_open_callback": (ctypes.c_int, [READ_FN, ctypes.c_void_p, _pp]),
    "amrnb_file_close": (None, [ctypes.c_void_p]),
    "amrnb_file_kind_of": (ctypes.c_int, [ctypes.c_void_p]),
    "amrnb_file_wave_header": (ctypes.c_int, [ctypes.c_void_p, ctypes.POINTER(WaveHeader)]),
    "amrnb_file_read_frame": (ctypes.c_int, [ctypes.c_void_p, ctypes.c_char_p, _size_p, _int_p]),
    "amrnb_file_read_pcm": (ctypes.c_int, [ctypes.c_void_p, _short_p, ctypes.c_size_t, _size_p]),
    "amrnb_file_get_stats": (ctypes.c_int, [ctypes.c_void_p, ctypes.POINTER(FileStats)]),
    "amrnb_convert_file": (ctypes.c_int, [ctypes.c_char_p, ctypes.c_char_p, ctypes.c_int,
                                          ctypes.POINTER(ConvertResult)]),
}

if sys.platform == "win32":
    _NAMES = ["amrnbdec.dll", "libamrnbdec.dll"]
elif sys.platform == "darwin":
    _NAMES = ["libamrnbdec.1.dylib", "libamrnbdec.dylib"]
else:
    _NAMES = ["libamrnbdec.so.1", "libamrnbdec.so"]

_lock = threading.Lock()
_lib: Optional[ctypes.CDLL] = None


def _load() -> ctypes.CDLL:
    tried = []
    path = os.environ.get("AMRNB_LIBRARY")
    if path:
        try:
            return ctypes.CDLL(path, use_errno=True)
        except OSError as e:
            raise OSError(f"AMRNB_LIBRARY={path} cannot be loaded: {e}") from None
    here = os.path.dirname(os.path.abspath(__file__))
    for name in _NAMES:
        candidate = os.path.join(here, name)
        if os.path.exists(candidate):
            return ctypes.CDLL(candidate, use_errno=True)
        tried.append(candidate)
    for name in _NAMES:
        try:
            return ctypes.CDLL(name, use_errno=True)
        except OSError:
            tried.append(name)
    raise OSError("the amrnbdec shared library was not found; set AMRNB_LIBRARY to its path "
                  "(for instance build/shared/amrdec/libamrnbdec.so.1). Tried: " + ", ".join(tried))


def lib() -> ctypes.CDLL:
    """The loaded library, its prototypes declared (loaded on the first call)."""
    global _lib
    if _lib is None:
        with _lock:
            if _lib is None:
                loaded = _load()
                for name, (restype, argtypes) in _PROTOTYPES.items():
                    try:
                        fn = getattr(loaded, name)
                    except AttributeError:
                        continue  # a library without the file interface: only the frame calls work
                    fn.restype = restype
                    fn.argtypes = argtypes
                _lib = loaded
    return _lib


def function(name: str):
    """The library's function `name`; OSError when this library lacks it."""
    try:
        return getattr(lib(), name)
    except AttributeError:
        raise OSError(f"the loaded amrnbdec library has no {name}: it predates the file "
                      "interface (amrnb_file.h); rebuild it") from None


def status_name(status: int) -> str:
    return lib().amrnb_status_name(status).decode()
