#!/usr/bin/python3
"""Speed of the Python package against amrconv, as a user sees it.

    PYTHONPATH=python AMRNB_LIBRARY=build/shared/amrdec/libamrnbdec.so.1 \\
      /usr/bin/python3 bench/python_bench.py [BUILD_DIR] [RUNS]      (default build/release, 5)

1. amrnb.read of one hour of speech (hour_mixed: amrstreamgen's bench stream, 180,000 frames)
   against amrconv's decode job on it, RUNS runs of each alternated: wall and CPU time.
2. convert-tree on 200 one-minute recordings with one local worker, with two, and on a Dask
   cluster of two worker processes on this machine: files and audio hours per second.

Wall time on a shared machine varies with the other work: the best run shows what the code
does, the median what a user saw; the load average is printed around each part.
"""

import os
import resource
import statistics
import subprocess
import sys
import tempfile
import time

import amrnb


def load() -> str:
    return " ".join(open("/proc/loadavg").read().split()[:3])


def children_cpu() -> float:
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


def summary(name, walls, cpus, audio_seconds) -> None:
    print(f"{name}: wall best {min(walls):.3f} s, median {statistics.median(walls):.3f} s; "
          f"CPU best {min(cpus):.3f} s, median {statistics.median(cpus):.3f} s; "
          f"{audio_seconds / min(walls):,.0f}x real time at best")


def bench_read(program, stream, work, runs) -> None:
    print(f"load average before: {load()}")
    walls = {"amrconv": [], "amrnb.read": []}
    cpus = {"amrconv": [], "amrnb.read": []}
    for _ in range(runs):
        cpu, start = children_cpu(), time.perf_counter()
        subprocess.run([program, stream, os.path.join(work, "hour.wav"), "1"],
                       stdout=subprocess.DEVNULL, check=True)
        walls["amrconv"].append(time.perf_counter() - start)
        cpus["amrconv"].append(children_cpu() - cpu)
        cpu, start = time.process_time(), time.perf_counter()
        samples, _ = amrnb.read(stream)
        walls["amrnb.read"].append(time.perf_counter() - start)
        cpus["amrnb.read"].append(time.process_time() - cpu)
        del samples
    seconds = amrnb.info(stream).duration
    for name in walls:
        summary(name, walls[name], cpus[name], seconds)
    median = statistics.median
    best = min(walls["amrnb.read"]) / min(walls["amrconv"])
    print(f"amrnb.read / amrconv: wall best {best:.2f}, "
          f"median {median(walls['amrnb.read']) / median(walls['amrconv']):.2f}; "
          f"CPU median {median(cpus['amrnb.read']) / median(cpus['amrconv']):.2f}")
    print(f"load average after: {load()}")


def bench_tree(generator, work) -> None:
    source = os.path.join(work, "rec")
    for index in range(200):
        folder = os.path.join(source, f"day{index % 10}")
        os.makedirs(folder, exist_ok=True)
        subprocess.run([generator, "--gen", "speech", "--mode-change", "0.01", "--dtx", "0.02",
                        "--seconds", "60", "--seed", str(1000 + index),
                        os.path.join(folder, f"call{index}.wav")], check=True,
                       stdout=subprocess.DEVNULL)
    runs = [("one local worker", ["--jobs", "1"]), ("two local workers", ["--jobs", "2"])]
    cluster = None
    try:
        import distributed
        cluster = distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                           host="127.0.0.1", dashboard_address=None,
                                           silence_logs=40)
        runs.append(("Dask, two worker processes", ["--scheduler", cluster.scheduler_address]))
    except ImportError:
        print("python3-distributed is missing: no Dask run")
    for name, options in runs * 2:
        dest = tempfile.mkdtemp(dir=work)
        before = load()
        cpu, start = children_cpu(), time.perf_counter()
        done = subprocess.run([sys.executable, "-m", "amrnb", "convert-tree", source, dest,
                               *options], capture_output=True, text=True)
        wall = time.perf_counter() - start
        hours = 200 / 60
        print(f"{name}: {wall:.2f} s wall, {200 / wall:.1f} files/s, {hours / wall * 3600:,.0f}x "
              f"real time ({hours / wall:.3f} audio hours/s); exit status {done.returncode}; "
              f"load {before} -> {load()}")
    if cluster is not None:
        cluster.close()


def main() -> None:
    build = sys.argv[1] if len(sys.argv) > 1 else "build/release"
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 5
    program = os.path.join(build, "app", "amrconv")
    generator = os.path.join(build, "tools", "amrstreamgen")
    print(f"machine: {os.cpu_count()} cores")
    with tempfile.TemporaryDirectory() as work:
        stream = os.path.join(work, "hour_mixed.wav")
        subprocess.run([generator, "--gen", "speech", "--mode-change", "0.01", "--seconds",
                        "3600", "--seed", "41", stream], check=True, stdout=subprocess.DEVNULL)
        bench_read(program, stream, work, runs)
        bench_tree(generator, work)


if __name__ == "__main__":
    main()
