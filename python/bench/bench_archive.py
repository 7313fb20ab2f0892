"""Throughput of the Python package, as ratios against references measured in the same run (the
machine may be shared): texts from 1 thread against N threads (the interpreter lock is released
while a document is read), and an archive run on a local Dask cluster against oasys2txt -r -j N
over the same folder. Not part of ctest.

    make_documents DIR 300 3000    (built with the tests: build/Tests/make_documents; 3000 more lines
                                   a document, so that a document outweighs the cost of a thread)
    PYTHONPATH=build/python python3 python/bench/bench_archive.py --oasys2txt build/Source/tools/oasys2txt DIR
"""

import argparse
import logging
import os
import subprocess
import tempfile
import time
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

import oasysdoc
from oasysdoc.archive import extract_archive


def text_or_none(path: Path):
    try:
        with oasysdoc.open(path) as document:
            return document.text_bytes()
    except oasysdoc.Error:
        return None


def seconds(work) -> float:
    started = time.perf_counter()
    work()
    return time.perf_counter() - started


def main() -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("folder", type=Path)
    parser.add_argument("--oasys2txt", required=True)
    parser.add_argument("-j", type=int, default=os.cpu_count() or 1)
    options = parser.parse_args()
    paths = sorted(p for p in options.folder.rglob("*") if p.suffix in (".DOC", ".oas", ".ole"))
    one = seconds(lambda: list(map(text_or_none, paths)))
    with ThreadPoolExecutor(options.j) as pool:
        many = seconds(lambda: list(pool.map(text_or_none, paths)))
    print(f"{len(paths)} documents: {len(paths) / one:.0f} doc/s with 1 thread; "
          f"{options.j} threads are {one / many:.2f} times as fast")

    from distributed import Client, LocalCluster
    with tempfile.TemporaryDirectory() as scratch, \
            LocalCluster(n_workers=options.j, threads_per_worker=1, processes=True, dashboard_address=None,
                         local_directory=scratch, silence_logs=logging.ERROR) as cluster, Client(cluster) as client:
        tool = seconds(lambda: subprocess.run([options.oasys2txt, "-q", "-r", "-j", str(options.j), "-o",
                                               f"{scratch}/tool", options.folder], check=False))
        print(f"archive run: oasys2txt -j {options.j} {len(paths) / tool:.0f} doc/s; Dask with {options.j} worker "
              f"processes takes, against it:")
        for batch in (1, 4, 16, 64):
            dask = seconds(lambda: extract_archive(options.folder, f"{scratch}/dask{batch}", client=client,
                                                   progress=False, batch=batch))
            print(f"  {batch:3} documents a task: {dask / tool:.1f} times as long")


if __name__ == "__main__":
    main()
