#!/usr/bin/env python3
"""Dask's overhead beside one process: a file of variable blocked records (rdw-block) of
about 200 MB, 750,000 records of 92 columns (text, packed and display decimals, binary
and display integers), read whole by quillbox.read in this process, and by
quillbox.dask.read_data on a LocalCluster of 1 and 2 worker processes (one thread
each), for two kinds of work, each the same in one process and on Dask, the frames freed
within the timing: "sum", the sums and the rows of the 40 integer columns (one process
reads them with columns=, Dask's partitions with its column projection), and "rows",
every column read and the rows counted. The figures are the decoding, not a transfer
of the rows to the client. The workers' CPU time is read from each worker process
(resource.getrusage) before and after. Not a test: it prints seconds, MB/s and ratios;
take the best of --runs.

    PYTHONPATH=build/native/python /usr/bin/python3 bench/python_dask_bench.py \\
        [--mb 200] [--runs 2] [--decimals decimal] [--blocksize 25MB] [--work sum,rows] [--keep DIR] \\
        [--worker-env NAME=VALUE]

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


NUMERIC = None   # the binary and display integer columns (40 of 92), set in main


def one_process(path, layout, decimals, work):
    """The work in this process, the frame freed within the timing (as a worker frees
    its partitions): ("sum", the sums and rows of the numeric columns, read with
    columns=) or ("rows", every column read, rows counted)."""
    if work == "sum":
        frame = quillbox.read(path, layout, decimals=decimals, records=RECORDS, columns=NUMERIC)
        result = (frame.sum(), len(frame))
    else:
        frame = quillbox.read(path, layout, decimals=decimals, records=RECORDS)
        result = (None, len(frame))
    del frame
    return result


def on_dask(frame, work):
    import dask
    if work == "sum":
        numeric = frame[NUMERIC]
        return dask.compute(numeric.sum(), numeric[NUMERIC[0]].size)
    return None, int(frame.map_partitions(_rows_of, meta=(None, "int64")).sum().compute())


def _rows_of(frame):
    """A partition's rows, as a Series of one (every column read: no projection)."""
    import pandas as pd
    return pd.Series([len(frame)], dtype="int64")


def _warm_up(path, copybook):
    import quillbox.dask as qdask
    layout = quillbox.Layout(copybook)
    index = qdask.record_index(path, layout, 8 << 20, records=RECORDS)
    offset, first, count = index[0]
    qdask.read_part(path, layout, offset, first, count, records=RECORDS).sum(numeric_only=True)


def timed(work):
    start, cpu = time.perf_counter(), time.process_time()
    result = work()
    return time.perf_counter() - start, time.process_time() - cpu, result


def main():
    global NUMERIC
    parser = argparse.ArgumentParser()
    parser.add_argument("--mb", type=int, default=200)
    parser.add_argument("--runs", type=int, default=2)
    parser.add_argument("--decimals", default="decimal")
    # 8 partitions of the 200 MB file: as many for each of 2 workers (64MB gives 3 and
    # a small tail, so that one worker reads two of the three large ones).
    parser.add_argument("--blocksize", default="25MB")
    parser.add_argument("--worker-env", action="append", default=[], metavar="NAME=VALUE",
                        help="an environment variable of the worker processes (Dask's nanny sets "
                             "MALLOC_TRIM_THRESHOLD_=65536), e.g. MALLOC_MMAP_THRESHOLD_=33554432")
    parser.add_argument("--work", default="sum,rows")
    parser.add_argument("--keep", help="a folder to keep the data file in")
    args = parser.parse_args()

    folder = args.keep or tempfile.mkdtemp(prefix="quillbox-dask-bench-")
    os.makedirs(folder, exist_ok=True)
    try:
        layout = quillbox.Layout(COPYBOOK)
        NUMERIC = [c for c in layout.columns if c[0] in "BD"]
        path = make_file(folder, layout, args.mb)
        mb = os.path.getsize(path) / 1e6
        print("%s: %.0f MB, %d columns; load average %.2f %.2f %.2f"
              % (os.path.basename(path), mb, len(layout.columns), *os.getloadavg()))
        from dask.distributed import Client, LocalCluster
        import quillbox.dask as qdask
        import dask
        for setting in args.worker_env:
            name, value = setting.split("=", 1)
            dask.config.set({"distributed.nanny.pre-spawn-environ." + name: value})
        for work in args.work.split(","):
            best_one, expected = None, None
            for _ in range(args.runs):
                wall, cpu, expected = timed(lambda: one_process(path, layout, args.decimals, work))
                best_one = wall if best_one is None else min(best_one, wall)
                print("[%s] one process: %.2f s (cpu %.2f s), %.1f MB/s" % (work, wall, cpu, mb / wall))
            for workers in (1, 2):
                with LocalCluster(n_workers=workers, threads_per_worker=1, processes=True,
                                  dashboard_address=None) as cluster, Client(cluster) as client:
                    client.wait_for_workers(workers)
                    # A long-running cluster's workers have read before: the first read of
                    # a process (pages, the interpreter's arenas, imports) is paid here.
                    client.run(_warm_up, path, COPYBOOK)
                    best = None
                    for _ in range(args.runs):
                        before = sum(client.run(worker_cpu).values())
                        frame = qdask.read_data(path, layout, blocksize=args.blocksize, decimals=args.decimals,
                                                records=RECORDS)
                        wall, cpu, got = timed(lambda: on_dask(frame, work))
                        used = sum(client.run(worker_cpu).values()) - before
                        assert got[1] == expected[1] and (got[0] is None or (got[0] == expected[0]).all())
                        best = wall if best is None else min(best, wall)
                        print("[%s] dask, %d worker process(es), %d partitions: %.2f s, %.1f MB/s; workers' cpu "
                              "%.2f s, client's %.2f s" % (work, workers, frame.npartitions, wall, mb / wall, used, cpu))
                    print("[%s] dask, %d worker process(es): best %.2f s, %.2fx one process's throughput"
                          % (work, workers, best, best_one / best))
        print("load average %.2f %.2f %.2f" % os.getloadavg())
    finally:
        if not args.keep:
            shutil.rmtree(folder)


if __name__ == "__main__":
    main()
