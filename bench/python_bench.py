#!/usr/bin/env python3
"""The Python module's speed, beside quillbox-cli decode to CSV on the same file in the
same run: a file of 200-byte records with the layout of bench/data_bench (display,
signed display with GnuCOBOL's sign zones, packed, binary, COMP-5, national and text
items; 26 numeric items) read by quillbox.read in each decimals mode, by two threads at
once (the interpreter lock is released while decoding), and by quillbox.dask.read_data
as an RDW file on a LocalCluster of 1 and 2 worker processes (the index pass, which
finds the partitions' record starts, timed apart from the decoding). Not a test: it
prints MB/s and ratios.

    PYTHONPATH=build/native/python /usr/bin/python3 bench/python_bench.py \\
        --cli build/native/cli/quillbox-cli [--mb 100] [--dask-mb 200]

The records are written by quillbox.write (1000 distinct ones, repeated), so that the
data is the codec's own encoding. The files go to a temporary folder, removed at the end.
"""

import argparse
import decimal
import os
import random
import shutil
import subprocess
import tempfile
import threading
import time

import pandas  # noqa: F401  (imported before the timings: the first read would pay for it)

import quillbox

COPYBOOK = """       01  REC.
           05  ID     PIC 9(8).
           05  NAME   PIC X(20).
           05  KANJI  PIC N(10).
""" + "".join("           05  D%d     PIC 9(6).\n" % i for i in range(1, 6)) + \
    "".join("           05  S%d     PIC S9(5)V99.\n" % i for i in range(1, 6)) + \
    "".join("           05  P%d     PIC S9(7)V99 COMP-3.\n" % i for i in range(1, 6)) + \
    "".join("           05  B%d     PIC S9(9) COMP.\n" % i for i in range(1, 6)) + \
    "".join("           05  C%d     PIC S9(4) COMP-5.\n" % i for i in range(1, 6)) + \
    "           05  NOTE   PIC X(32).\n"
OPTIONS = dict(sign_zones="0x30,0x70")


def sample_rows(count):
    rng = random.Random(20261209)
    rows = []
    for n in range(count):
        row = [n, "NAME%08d" % rng.randrange(10 ** 8), "日本語"]
        row += [rng.randrange(10 ** 6) for _ in range(5)]
        row += [decimal.Decimal(rng.randrange(-10 ** 7 + 1, 10 ** 7)) / 100 for _ in range(5)]
        row += [decimal.Decimal(rng.randrange(-10 ** 9 + 1, 10 ** 9)) / 100 for _ in range(5)]
        row += [rng.randrange(-10 ** 9 + 1, 10 ** 9) for _ in range(5)]
        row += [rng.randrange(-9999, 10000) for _ in range(5)]
        row += ["NOTE %d" % rng.randrange(10 ** 6)]
        rows.append(row)
    return rows


def make_file(folder, layout, mb, records):
    seed = os.path.join(folder, "seed." + records)
    quillbox.write(sample_rows(1000), seed, layout, records=records, **OPTIONS)
    block = open(seed, "rb").read()
    path = os.path.join(folder, "data." + records)
    repeat = max(1, (mb << 20) // len(block))
    with open(path, "wb") as out:
        for _ in range(repeat):
            out.write(block)
    return path


def timed(work):
    start, cpu = time.perf_counter(), time.process_time()
    result = work()
    return time.perf_counter() - start, time.process_time() - cpu, result


def cli_decode(cli, copybook, path):
    before = os.times()
    start = time.perf_counter()
    subprocess.run([cli, "decode", copybook, path, "--sign-zones", "0x30,0x70", "-o", "/dev/null"], check=True)
    wall = time.perf_counter() - start
    after = os.times()
    return wall, (after.children_user - before.children_user) + (after.children_system - before.children_system)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cli", required=True)
    parser.add_argument("--mb", type=int, default=100)
    parser.add_argument("--dask-mb", type=int, default=200)
    parser.add_argument("--no-dask", action="store_true")
    args = parser.parse_args()

    folder = tempfile.mkdtemp(prefix="quillbox-bench-")
    try:
        copybook = os.path.join(folder, "BENCH.cpy")
        with open(copybook, "w", encoding="ascii") as f:
            f.write(COPYBOOK)
        layout = quillbox.Layout(copybook)
        assert layout.record_length == 200, layout.record_length
        path = make_file(folder, layout, args.mb, "fixed")
        mb = os.path.getsize(path) / 1e6
        print("file: %.0f MB of %d-byte records" % (mb, layout.record_length))

        # pandas sets up parts of itself on the first DataFrame it makes (half a second
        # here): a read of a few records pays for that before the timings.
        with open(path, "rb") as sample:
            quillbox.read(sample.read(20 * layout.record_length), layout, decimals="int", **OPTIONS)
        wall, cpu = cli_decode(args.cli, copybook, path)
        cli_rate = mb / wall
        print("quillbox-cli decode to CSV   %7.1f MB/s  (%.2f s, cpu %.2f s)" % (cli_rate, wall, cpu))
        for decimals in ("int", "float", "decimal"):
            wall, cpu, frame = timed(lambda: quillbox.read(path, layout, decimals=decimals, **OPTIONS))
            print("quillbox.read decimals=%-8s %7.1f MB/s  (%.2f s, cpu %.2f s)  %.2fx the CLI's time"
                  % (decimals, mb / wall, wall, cpu, wall / (mb / cli_rate)))
            del frame
        # The same run again, to see the CLI's figure on a machine whose load moves.
        wall, cpu = cli_decode(args.cli, copybook, path)
        print("quillbox-cli decode to CSV   %7.1f MB/s  (%.2f s, cpu %.2f s) (again)" % (mb / wall, wall, cpu))

        # Two threads at once: with the lock released they overlap.
        def two():
            threads = [threading.Thread(target=lambda: quillbox.read(path, layout, decimals="int", **OPTIONS))
                       for _ in range(2)]
            for t in threads:
                t.start()
            for t in threads:
                t.join()
        wall1, _, _ = timed(lambda: quillbox.read(path, layout, decimals="int", **OPTIONS))
        wall2, _, _ = timed(two)
        print("two threads reading at once: %.2f s for twice the work of %.2f s (%.2fx)"
              % (wall2, wall1, 2 * wall1 / wall2))

        if args.no_dask:
            return
        from dask.distributed import Client, LocalCluster
        import quillbox.dask as qdask
        rdw = make_file(folder, layout, args.dask_mb, "rdw")
        mb = os.path.getsize(rdw) / 1e6
        wall, _, whole = timed(lambda: quillbox.read(rdw, layout, decimals="int", records="rdw", **OPTIONS))
        print("RDW file: %.0f MB; quillbox.read %.1f MB/s (%.2f s)" % (mb, mb / wall, wall))
        total = int(whole["B1"].sum())
        del whole
        wall, _, index = timed(lambda: qdask.record_index(rdw, layout, "32MB", tasks=1, records="rdw"))
        print("index pass in this process, one scan: %.2f s (%.0f MB/s, %d partitions)" % (wall, mb / wall, len(index)))
        base = None
        for workers in (1, 2):
            with LocalCluster(n_workers=workers, threads_per_worker=1, processes=True,
                              dashboard_address=None) as cluster, Client(cluster) as client:
                client.wait_for_workers(workers)
                # The index pass: range scans as tasks on the workers, joined in one task.
                index_wall, _, frame = timed(lambda: qdask.read_data(rdw, layout, blocksize="32MB", decimals="int",
                                                                     records="rdw", **OPTIONS))
                wall, _, got = timed(lambda: int(frame["B1"].sum().compute()))
                assert got == total
                base = base or wall
                print("dask, %d worker process(es): index pass %.2f s; decode %.1f MB/s (%.2f s, %d partitions), "
                      "speed-up %.2fx; both %.2f s"
                      % (workers, index_wall, mb / wall, wall, frame.npartitions, base / wall, index_wall + wall))
    finally:
        shutil.rmtree(folder)


if __name__ == "__main__":
    main()
