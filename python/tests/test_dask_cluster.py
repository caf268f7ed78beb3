"""quillbox.dask.read_data over a generated 200 MB file of RDW records through a
dask.distributed LocalCluster of two worker processes: the same rows, sums and values
as a single quillbox.read, every partition a run of whole records from a record start."""

import os
import time

import pandas as pd
import pytest

import quillbox

pytest.importorskip("dask", reason="python3-dask is missing")
distributed = pytest.importorskip("distributed", reason="python3-distributed is missing")

import quillbox.dask as qdask  # noqa: E402

# 120 bytes a record, 124 with its RDW; the FILLER is left out of the columns.
COPYBOOK = ("       01  R.\n"
            "           05  ID      PIC 9(9) COMP.\n"
            "           05  AMT     PIC S9(11)V99 COMP-3.\n"
            "           05  QTY     PIC S9(4) COMP.\n"
            "           05  CODE    PIC 9(6).\n"
            "           05  FILLER  PIC X(101).\n")
FRAMED = 124
SEED = 1000
SIZE = 200 * 1000 * 1000
OPTIONS = dict(records="rdw", decimals="int", no_filler=True)


def seed_rows():
    return [(i, (i * 7919) % 2000003 - 1000000, (i * 31) % 19999 - 9999, (i * 13) % 1000000, "")
            for i in range(1, SEED + 1)]


@pytest.fixture(scope="module")
def big_file(tmp_path_factory):
    """The seed's records written once, their bytes repeated to 200 MB: record n has
    the seed's record (n - 1) % 1000 + 1."""
    layout = quillbox.Layout(COPYBOOK)
    folder = tmp_path_factory.mktemp("big")
    seed = folder / "seed.vb"
    quillbox.write(seed_rows(), seed, layout, records="rdw")
    data = seed.read_bytes()
    assert len(data) == SEED * FRAMED
    copies = -(-SIZE // len(data))
    path = folder / "big.vb"
    with open(path, "wb") as f:
        for _ in range(copies):
            f.write(data)
    return str(path), layout, copies * SEED


def summary(part):
    """A partition's first row number, rows, whether its rows follow one another, and
    whether each row is the seed's record its number says (a start off a record's
    boundary would give other values, or bad data)."""
    index = part.index.to_numpy()
    follows = bool(len(index) == 0 or (index == range(index[0], index[0] + len(index))).all())
    right = bool((part["ID"].to_numpy() == index % SEED + 1).all())
    return pd.DataFrame({"first": [int(index[0]) if len(index) else -1], "rows": [len(part)],
                         "follows": [follows], "right": [right]})


def test_200mb_file_through_two_worker_processes(big_file):
    path, layout, records = big_file
    began = time.time()
    whole = quillbox.read(path, layout, **OPTIONS)
    read_seconds = time.time() - began
    assert len(whole) == records
    blocksize = 24 * 1000 * 1000 + 7   # no multiple of it is a record start
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None) as cluster, distributed.Client(cluster) as client:
        began = time.time()
        frame = qdask.read_data(path, layout, blocksize=blocksize, **OPTIONS)
        index_seconds = time.time() - began
        assert frame.npartitions == -(-os.path.getsize(path) // blocksize)
        assert dict(frame.dtypes.astype(str)) == dict(whole.dtypes.astype(str))
        meta = pd.DataFrame({"first": pd.Series(dtype="int64"), "rows": pd.Series(dtype="int64"),
                             "follows": pd.Series(dtype="bool"), "right": pd.Series(dtype="bool")})
        parts, sums = client.compute([frame.map_partitions(summary, meta=meta),
                                      frame[["AMT", "QTY", "CODE"]].sum()], sync=True)
        sample = client.compute(frame.partitions[[0, frame.npartitions // 2, frame.npartitions - 1]], sync=True)
        dask_seconds = time.time() - began
    # Partitions: runs of whole records one after the other, each starting at the
    # first record at or after a multiple of the block size.
    parts = parts.reset_index(drop=True)
    assert parts["follows"].all() and parts["right"].all()
    assert parts["first"].tolist() == [0] + (parts["first"] + parts["rows"]).tolist()[:-1]
    assert parts["rows"].sum() == records
    assert [first * FRAMED for first in parts["first"]] == [-(-k * blocksize // FRAMED) * FRAMED
                                                            for k in range(frame.npartitions)]
    assert sums.tolist() == whole[["AMT", "QTY", "CODE"]].sum().tolist()
    pd.testing.assert_frame_equal(sample, whole.loc[sample.index])
    print("\n200 MB: read %.1f s, index pass %.1f s, Dask on 2 processes %.1f s" % (read_seconds, index_seconds,
                                                                                    dask_seconds))
