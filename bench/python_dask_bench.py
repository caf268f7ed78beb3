#!/usr/bin/env python3
"""Dask's overhead beside one process: a file of variable blocked records (rdw-block) of
about 200 MB, 750,000 records of 92 columns (text, packed and display decimals, binary
and display integers), read whole by quillbox.read in this process, and by
quillbox.dask.read_data on a LocalCluster of 1 and 2 worker processes (one thread
each), computing a reduction over every numeric column and the row count, so that the
figures are the workers' decoding and not the transfer of the rows to the client. The
workers' CPU time is read from each worker process (resource.getrusage) before and
after. Not a test: it prints seconds, MB/s and ratios; take the best of --runs.

    PYTHONPATH=build/native/python /usr/bin/python3 bench/python_dask_bench.py \\
        [--mb 200] [--runs 2] [--decimals decimal] [--blocksize 64MB] [--keep DIR]

The records are written by quillbox.write (1000 distinct ones, repeated); with --keep
the file is made once in DIR and used again by later runs.
"""

import argparse
import decimal
import os
import random
import resource
import shutil
import tempfile
import time

import pandas  # noqa: F401  (imported before the timings)

import quillbox

COPYBOOK = ("       01  REC.\n           05  ID     PIC 9(8).\n" +
            "".join("           05  T%d  PIC X(3).\n" % i for i in range(1, 21)) +
            "".join("           05  P%d  PIC S9(5)V99 COMP-3.\n" % i for i in range(1, 21)) +
            "".join("           05  B%d  PIC S9(4) COMP.\n" % i for i in range(1, 21)) +
            "".join("           05  D%d  PIC 9(2).\n" % i for i in range(1, 21)) +
            "".join("           05  S%d  PIC S9(3)V99.\n" % i for i in range(1, 12)))
RECORDS = "rdw-block"


def sample_rows(count):
    rng = random.Random(20261210)
    rows = []
    for n in range(count):
        row = [n] + ["T%02d" % rng.randrange(100) for _ in range(20)]
        row += [decimal.Decimal(rng.randrange(-10 ** 7 + 1, 10 ** 7)) / 100 for _ in range(20)]
        row += [rng.randrange(-9999, 10000) for _ in range(20)]
        row += [rng.randrange(100) for _ in range(20)]
        row += [decimal.Decimal(rng.randrange(-10 ** 5 + 1, 10 ** 5)) / 100 for _ in range(11)]
        rows.append(row)
    return rows


def make_file(folder, layout, mb):
    path = os.path.join(folder, "data-%d.%s" % (mb, RECORDS))
    if os.path.exists(path):
        return path
    seed = os.path.join(folder, "seed." + RECORDS)
    quillbox.write(sample_rows(1000), seed, layout, records=RECORDS, block_size=27998)
    block = open(seed, "rb").read()
    repeat = max(1, (mb * 10 ** 6) // len(block))
    with open(path + ".part", "wb") as out:
        for _ in range(repeat):
            out.write(block)
    os.rename(path + ".part", path)
    return path


def worker_cpu():
    usage = resource.getrusage(resource.RUSAGE_SELF)
    return usage.ru_utime + usage.ru_stime


def summary(frame):
    """A reduction of every numeric column and the rows: what a job computes."""
    numeric = [c for c in frame.columns if c[0] in "BD"]
    return frame[numeric].sum(), frame.shape[0]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--mb", type=int, default=200)
    parser.add_argument("--runs", type=int, default=2)
    parser.add_argument("--decimals", default="decimal")
    parser.add_argument("--blocksize", default="64MB")
    parser.add_argument("--keep", help="a folder to keep the data file in")
    args = parser.parse_args()

    folder = args.keep or tempfile.mkdtemp(prefix="quillbox-dask-bench-")
    os.makedirs(folder, exist_ok=True)
    try:
        layout = quillbox.Layout(COPYBOOK)
        path = make_file(folder, layout, args.mb)
        mb = os.path.getsize(path) / 1e6
        print("load average %.2f %.2f %.2f" % os.getloadavg())
        best = None
        for _ in range(args.runs):
            start, cpu = time.perf_counter(), time.process_time()
            whole = quillbox.read(path, layout, decimals=args.decimals, records=RECORDS)
            wall, cpu = time.perf_counter() - start, time.process_time() - cpu
            rows = len(whole)
            sums = whole[[c for c in whole.columns if c[0] in "BD"]].sum()
            del whole
            best = wall if best is None else min(best, wall)
            print("quillbox.read: %d records, %d columns, %.0f MB: %.2f s (cpu %.2f s), %.1f MB/s"
                  % (rows, len(layout.columns), mb, wall, cpu, mb / wall))
        one = best

        import dask
        from dask.distributed import Client, LocalCluster
        import quillbox.dask as qdask
        for workers in (1, 2):
            with LocalCluster(n_workers=workers, threads_per_worker=1, processes=True,
                              dashboard_address=None) as cluster, Client(cluster) as client:
                client.wait_for_workers(workers)
                client.run(lambda: __import__("quillbox") and None)
                best = None
                for _ in range(args.runs):
                    before = sum(client.run(worker_cpu).values())
                    start, cpu = time.perf_counter(), time.process_time()
                    frame = qdask.read_data(path, layout, blocksize=args.blocksize, decimals=args.decimals,
                                            records=RECORDS)
                    got, count = dask.compute(*summary(frame))
                    wall, cpu = time.perf_counter() - start, time.process_time() - cpu
                    used = sum(client.run(worker_cpu).values()) - before
                    assert count == rows and (got == sums).all()
                    best = wall if best is None else min(best, wall)
                    print("dask, %d worker process(es), %d partitions: %.2f s, %.1f MB/s; workers' cpu %.2f s, "
                          "client's %.2f s" % (workers, frame.npartitions, wall, mb / wall, used, cpu))
                print("dask, %d worker process(es): best %.2f s, %.2fx one process's throughput"
                      % (workers, best, one / best))
        print("load average %.2f %.2f %.2f" % os.getloadavg())
    finally:
        if not args.keep:
            shutil.rmtree(folder)


if __name__ == "__main__":
    main()
