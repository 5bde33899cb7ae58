"""Shared by the amrnb tests: the amrconv program they compare with, and the library.

AMRCONV (default build/release/app/amrconv) and AMRNB_LIBRARY (default
build/shared/amrdec/libamrnbdec.so.1) may point elsewhere; a missing one fails the run."""

import os
import subprocess
import sys
from pathlib import Path

import pytest

REPO = Path(__file__).resolve().parents[2]
CONFORMANCE = REPO / "tests" / "data" / "conformance"
STREAMS = sorted(p.stem for p in CONFORMANCE.glob("*.wav") if not p.name.endswith(".out.wav"))
AMRCONV = Path(os.environ.get("AMRCONV", REPO / "build" / "release" / "app" / "amrconv"))
os.environ.setdefault("AMRNB_LIBRARY",
                      str(REPO / "build" / "shared" / "amrdec" / "libamrnbdec.so.1"))
# Worker processes (local and Dask) import the package from here too.
os.environ["PYTHONPATH"] = os.pathsep.join(
    [str(REPO / "python")] + [p for p in os.environ.get("PYTHONPATH", "").split(os.pathsep) if p])
sys.path.insert(0, str(REPO / "python"))

if len(STREAMS) < 15 or not AMRCONV.is_file() or not Path(os.environ["AMRNB_LIBRARY"]).is_file():
    raise pytest.UsageError(f"needs the conformance streams in {CONFORMANCE}, {AMRCONV} and "
                            f"{os.environ['AMRNB_LIBRARY']}: build them first")


def run_amrconv(source, destination, event_type):
    """Runs the program; returns (exit status, standard output)."""
    done = subprocess.run([str(AMRCONV), str(source), str(destination), str(event_type)],
                          capture_output=True, stdin=subprocess.DEVNULL)
    return done.returncode, done.stdout.decode("utf-8", "replace")


def pytest_configure(config):
    # Debian's tornado warns about its own event-loop calls inside distributed.
    config.addinivalue_line("filterwarnings", "ignore::DeprecationWarning:tornado.*")
