"""convert-tree against amrconv, file by file: on local processes (interrupted, killed and
resumed) and on a Dask cluster of two worker processes over TCP."""

import hashlib
import os
import signal
import subprocess
import sys
import time

import pytest

from conftest import CONFORMANCE, STREAMS, run_amrconv


def make_tree(root, repeat=1):
    """Every conformance stream in three nested folders (45 files; with `repeat`, each one's
    frames repeated) and one as a "#!AMR\n" file, a second source for its destination, a
    damaged recording and a file that is not a recording. Returns {destination path without
    extension: the AMR-in-WAV file amrconv reads for it}."""
    sources = {}
    for index, folder in enumerate(("", "calls/2024", "calls/2024/june/late")):
        (root / folder).mkdir(parents=True, exist_ok=True)
        for name in STREAMS:
            data = (CONFORMANCE / f"{name}.wav").read_bytes()
            path = root / folder / f"{name}_{index}.WAV"
            path.write_bytes(data[:62] + data[62:] * repeat)
            sources[os.path.join(folder, f"{name}_{index}")] = path
    (root / "calls" / "stored.amr").write_bytes(b"#!AMR\n" + path.read_bytes()[62:])
    sources["calls/stored"] = path
    (root / "calls" / "stored.wav").write_bytes(data)  # the same destination: refused
    (root / "calls" / "damaged.wav").write_bytes(data[:50])
    (root / "calls" / "notes.txt").write_text("not a recording")
    return sources


def expected_outputs(sources, scratch, event_type):
    """The digest of amrconv's output for each source, by its destination path in the tree."""
    wanted = {}
    for stem, source in sources.items():
        assert run_amrconv(source, scratch, event_type)[0] == 0
        wanted[stem + (".wav" if event_type == 1 else ".amr")] = digest(scratch)
    return wanted


def digest(path):
    return hashlib.sha256(path.read_bytes()).hexdigest()


def tree_files(root):
    return {os.path.relpath(os.path.join(d, f), root) for d, _, fs in os.walk(root) for f in fs}


def convert_tree(*args, **popen):
    return subprocess.Popen([sys.executable, "-m", "amrnb", "convert-tree", *map(str, args)],
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, **popen)


def converted_names(stdout):
    """The destinations of the sources that a run reports converted."""
    return [os.path.splitext(line.split()[1])[0] + ".wav" for line in stdout.splitlines()
            if line.startswith("converted ")]


def wait_for_outputs(process, dest, count):
    while process.poll() is None and sum(f.endswith(".wav") for f in tree_files(dest)) < count:
        time.sleep(0.01)
    assert process.poll() is None, "the run ended before it could be interrupted"


def test_interrupted_killed_and_resumed_run_converts_each_file_once(tmp_path):
    source, dest = tmp_path / "rec", tmp_path / "out"
    wanted = expected_outputs(make_tree(source, repeat=30),  # a run of seconds
                              tmp_path / "scratch", 1)

    # Ctrl-C: the files being converted complete, then a summary and status 130.
    run = convert_tree(source, dest, "--jobs", "2", start_new_session=True)
    wait_for_outputs(run, dest, 4)
    os.killpg(run.pid, signal.SIGINT)
    stdout, stderr = run.communicate(timeout=60)
    assert run.returncode == 130 and "interrupted: " in stdout, stderr
    first = set(converted_names(stdout))
    assert first == tree_files(dest) and len(first) < len(wanted)

    # The driver and its workers killed outright in the middle of a file: only temporary
    # names may be left incomplete.
    run = convert_tree(source, dest, "--jobs", "1", start_new_session=True)
    wait_for_outputs(run, dest, len(first) + 5)
    os.killpg(run.pid, signal.SIGKILL)
    run.communicate(timeout=30)
    finished = {f for f in tree_files(dest) if not f.endswith(".amrnb-part")}
    for name in finished:
        assert digest(dest / name) == wanted[name]
    before = {name: os.stat(dest / name).st_mtime_ns for name in finished}

    run = convert_tree(source, dest, "--jobs", "2")
    stdout, _ = run.communicate(timeout=300)
    assert run.returncode == 1  # the damaged file
    assert "failed calls/damaged.wav: status 12: " in stdout
    assert set(converted_names(stdout)) == set(wanted) - finished
    assert {name: os.stat(dest / name).st_mtime_ns for name in finished} == before
    assert tree_files(dest) == set(wanted)
    for name, content in wanted.items():
        assert digest(dest / name) == content, name


def test_dask_cluster_converts_tree_as_amrconv(tmp_path):
    distributed = pytest.importorskip("distributed")
    source, dest = tmp_path / "rec", tmp_path / "out"
    wanted = expected_outputs(make_tree(source), tmp_path / "scratch", 2)
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  host="127.0.0.1", protocol="tcp", dashboard_address=None,
                                  silence_logs=40) as cluster:
        assert cluster.scheduler_address.startswith("tcp://127.0.0.1:")
        run = convert_tree(source, dest, "--amr", "--scheduler", cluster.scheduler_address)
        stdout, stderr = run.communicate(timeout=300)
        with distributed.Client(cluster) as client:
            pids = client.run(os.getpid)
        assert len(set(pids.values()) - {os.getpid()}) == 2
        rerun = convert_tree(source, dest, "--amr", "--scheduler", cluster.scheduler_address)
        again, _ = rerun.communicate(timeout=300)
    assert run.returncode == 1, stderr
    assert "failed calls/damaged.wav: status 12: Failed to read AMR File" in stdout
    assert "failed calls/stored.wav: status 1: same destination as calls/stored.amr" in stdout
    assert f"{len(wanted)} converted, 0 skipped (up to date), 2 failed" in stdout
    assert tree_files(dest) == set(wanted)
    for name, content in wanted.items():
        assert digest(dest / name) == content, name
    assert f"0 converted, {len(wanted)} skipped (up to date), 2 failed" in again
