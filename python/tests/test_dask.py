"""quillbox.dask.read_data: partitions at record boundaries for fixed, rdw, rdw-block and
lines files, blocks that every record straddles, the same rows as quillbox.read, under
the threaded scheduler and dask.distributed."""

import decimal
import os

import pandas as pd
import pytest

import quillbox

dask = pytest.importorskip("dask", reason="python3-dask is missing")
import dask.dataframe  # noqa: E402

import quillbox.dask as qdask  # noqa: E402

COPYBOOK = ("       01  R.\n"
            "           05  ID    PIC 9(8).\n"
            "           05  AMT   PIC S9(7)V99 COMP-3.\n"
            "           05  QTY   PIC S9(9) COMP.\n"
            "           05  NAME  PIC X(20).\n")
LENGTH = 8 + 5 + 4 + 20


def rows(count):
    # QTY odd: none of its bytes is a line end, which a file of lines cannot hold.
    return [(i, decimal.Decimal(i * 7 % 100000) / 100 - 250, ((i * 31) % 1000 - 500) * 2 + 1, "NAME%06d" % i)
            for i in range(1, count + 1)]


@pytest.fixture(scope="module")
def layout():
    return quillbox.Layout(COPYBOOK)


@pytest.fixture(scope="module")
def files(tmp_path_factory, layout):
    folder = tmp_path_factory.mktemp("dask")
    made = {}
    for records in ("fixed", "rdw", "rdw-block", "lines"):
        path = folder / ("data." + records)
        quillbox.write(rows(3000), path, layout, records=records, block_size=1000)
        made[records] = str(path)
    return made


def check_partitions(frame, whole):
    """The partitions, each a run of whole records, together the whole file."""
    parts = [frame.get_partition(i).compute(scheduler="sync") for i in range(frame.npartitions)]
    assert len(parts) > 1
    starts = [p.index[0] for p in parts if len(p)]
    assert starts == sorted(starts) and starts[0] == 0
    for part in parts:
        assert list(part.index) == list(range(part.index[0], part.index[0] + len(part)))
        assert part["ID"].tolist() == [i + 1 for i in part.index]
    pd.testing.assert_frame_equal(pd.concat(parts), whole)


@pytest.mark.parametrize("records", ["fixed", "rdw", "rdw-block", "lines"])
def test_partitions_at_record_boundaries(files, layout, records):
    whole = quillbox.read(files[records], layout, records=records)
    assert len(whole) == 3000
    # 1000 bytes: no partition start falls on a multiple of the record's length plus framing.
    frame = qdask.read_data(files[records], layout, blocksize=1000, records=records)
    assert frame.npartitions > 50
    check_partitions(frame, whole)
    assert dict(frame.dtypes.astype(str)) == dict(whole.dtypes.astype(str))


def test_index_pass_offsets_are_record_starts(files, layout):
    index = qdask.record_index(files["rdw"], layout, 1000, records="rdw")
    assert [offset % (LENGTH + 4) for offset, _, _ in index] == [0] * len(index)
    assert [first for _, first, _ in index] == [offset // (LENGTH + 4) + 1 for offset, _, _ in index]
    assert sum(count for _, _, count in index) == 3000
    blocks = qdask.record_index(files["rdw-block"], layout, 1000, records="rdw-block")
    data = open(files["rdw-block"], "rb").read()
    for offset, _, _ in blocks:   # each a block descriptor: its length, then two zero bytes
        assert data[offset + 2:offset + 4] == b"\0\0" and int.from_bytes(data[offset:offset + 2], "big") >= 8


def test_glob_sums_and_threads(files, layout, tmp_path):
    data = open(files["rdw"], "rb").read()
    for name in ("a.vb", "b.vb"):
        (tmp_path / name).write_bytes(data)
    frame = qdask.read_data(str(tmp_path / "*.vb"), layout, blocksize="10kB", records="rdw", decimals="int")
    assert frame.npartitions > 4
    with dask.config.set(scheduler="threads"):
        assert int(frame["QTY"].sum().compute()) == 2 * sum(r[2] for r in rows(3000))
        assert int(frame["AMT"].sum().compute()) == 2 * int(sum(r[1] for r in rows(3000)) * 100)
        assert len(frame) == 6000


def test_bad_data_names_the_file_record(tmp_path, layout):
    path = tmp_path / "bad.dat"
    quillbox.write(rows(100), path, layout)
    data = bytearray(path.read_bytes())
    data[LENGTH * 70 + 8] = 0xAB   # the packed item of record 71
    path.write_bytes(bytes(data))
    frame = qdask.read_data(str(path), layout, blocksize=LENGTH * 10)
    with pytest.raises(quillbox.DataError) as failure:
        frame.compute(scheduler="sync")
    assert failure.value.record == 71 and failure.value.item == "AMT"
    nulled = qdask.read_data(str(path), layout, blocksize=LENGTH * 10, on_error="null", decimals="int")
    assert str(nulled.dtypes["ID"]) == "Int64"
    result = nulled.compute(scheduler="sync")
    assert result["AMT"].isna().sum() == 1 and len(result) == 100


def test_distributed_cluster(files, layout):
    distributed = pytest.importorskip("distributed", reason="python3-distributed is missing")
    whole = quillbox.read(files["rdw"], layout, records="rdw")
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=False, dashboard_address=None) as cluster, \
            distributed.Client(cluster) as client:
        frame = qdask.read_data(files["rdw"], layout, blocksize=4000, records="rdw")
        result = client.compute(frame).result()
    pd.testing.assert_frame_equal(result, whole)
