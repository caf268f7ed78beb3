"""quillbox.dask.read_data: partitions at record boundaries for fixed, rdw, rdw-block and
lines files, blocks that every record straddles, the same rows as quillbox.read, under
the threaded scheduler and dask.distributed."""

import decimal
import os
import random

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


def test_columns_a_computation_uses_are_the_columns_read(files, layout, tmp_path):
    whole = quillbox.read(files["rdw"], layout, records="rdw")
    frame = qdask.read_data(files["rdw"], layout, blocksize=10000, records="rdw")
    picked = frame[["QTY", "ID"]]
    # Dask hands the selection to the partitions' reader: the other columns cost no objects.
    from dask.dataframe.optimize import optimize_dataframe_getitem
    graph = optimize_dataframe_getitem(picked.__dask_graph__(), keys=[k[0] for k in picked.__dask_keys__()])
    readers = [layer.io_func for layer in graph.layers.values() if hasattr(layer, "io_func")]
    assert readers and all(sorted(r.columns) == ["ID", "QTY"] for r in readers)
    pd.testing.assert_frame_equal(picked.compute(scheduler="sync"), whole[["QTY", "ID"]])
    assert int(frame["QTY"].sum().compute(scheduler="sync")) == int(whole["QTY"].sum())
    assert list(quillbox.read(files["rdw"], layout, records="rdw", columns=["NAME", "ID"]).columns) == ["ID", "NAME"]
    with pytest.raises(ValueError, match="NOPE"):
        quillbox.read(files["rdw"], layout, records="rdw", columns=["ID", "NOPE"])
    # A bad value in a column left out is still bad data.
    path = tmp_path / "bad.dat"
    quillbox.write(rows(10), path, layout)
    data = bytearray(path.read_bytes())
    data[LENGTH * 3 + 8] = 0xAB   # the packed item of record 4
    path.write_bytes(bytes(data))
    with pytest.raises(quillbox.DataError) as failure:
        qdask.read_data(str(path), layout)[["ID"]].compute(scheduler="sync")
    assert (failure.value.record, failure.value.item) == (4, "AMT")


@pytest.mark.parametrize("on_error", ["null", "skip"])
def test_columns_left_out_change_no_row(tmp_path, layout, on_error):
    # The columns left out are decoded and dropped row by row: the rows, their values and
    # their nulls are those of the whole read, with bad data in the columns kept and in
    # those left out, in chunks of a partition's size and of a whole file.
    path = tmp_path / "bad.dat"
    quillbox.write(rows(50000), path, layout)
    data = bytearray(path.read_bytes())
    for record in (4, 2500, 49999):
        data[LENGTH * (record - 1) + 8] = 0xAB          # AMT
    for record in (100, 2500, 30000):
        data[LENGTH * (record - 1) + 2] = ord("X")      # ID
    path.write_bytes(bytes(data))
    with pytest.warns(quillbox.DataWarning):
        whole = quillbox.read(str(path), layout, on_error=on_error)
    assert len(whole) == (50000 if on_error == "null" else 50000 - 5)
    for columns in (["ID"], ["AMT"], ["QTY", "NAME"], ["NAME"], ["ID", "AMT", "QTY", "NAME"]):
        with pytest.warns(quillbox.DataWarning):
            got = quillbox.read(str(path), layout, on_error=on_error, columns=columns)
        pd.testing.assert_frame_equal(got, whole[columns])
        with pytest.warns(quillbox.DataWarning):
            part = qdask.read_part(str(path), layout, 0, 1, 50000, columns=columns, on_error=on_error)
        pd.testing.assert_frame_equal(part.reset_index(drop=True), whole[columns].reset_index(drop=True))


def test_chunks_kept_and_freed_in_any_order(tmp_path, layout):
    # Columns of 256 KB to 2 MB share regions of memory: chunks kept while later ones are
    # read and others freed keep their values (a region is filled again only when none of
    # its columns is left).
    path = tmp_path / "many.dat"
    quillbox.write(rows(120000), path, layout)
    whole = quillbox.read(str(path), layout)
    kept = []
    for n, chunk in enumerate(quillbox.iter_records(str(path), layout, chunksize=40000)):
        if n % 2 == 0:
            kept.append(chunk)
        del chunk
        for again in quillbox.iter_records(str(path), layout, chunksize=35000):
            pass
    for chunk in kept:
        pd.testing.assert_frame_equal(chunk, whole.iloc[chunk.index[0]:chunk.index[-1] + 1])
    parts = [qdask.read_part(str(path), layout, LENGTH * first, first + 1, 33000, columns=["QTY", "AMT"])
             for first in (0, 33000, 66000)]
    del parts[1]
    parts.append(qdask.read_part(str(path), layout, 0, 1, 120000, columns=["QTY"]))
    for part in parts:
        pd.testing.assert_frame_equal(part, whole.loc[part.index, part.columns])


def test_partitions_carry_their_reports(tmp_path, layout):
    path = tmp_path / "bad.dat"
    quillbox.write(rows(100), path, layout)
    data = bytearray(path.read_bytes())
    for record in (15, 71, 72):
        data[LENGTH * (record - 1) + 8] = 0xAB   # the packed item
    path.write_bytes(bytes(data))
    with pytest.warns(quillbox.DataWarning):
        whole = quillbox.read(path, layout, on_error="skip").attrs["quillbox"]
    frame = qdask.read_data(str(path), layout, blocksize=LENGTH * 10, on_error="skip")
    with pytest.warns(quillbox.DataWarning):
        parts = [p.compute(scheduler="sync").attrs["quillbox"] for p in frame.to_delayed()]
    assert [p["bad"] for p in parts] == [0, 1, 0, 0, 0, 0, 0, 2, 0, 0]
    assert [f["record"] for f in parts[7]["first_faults"]] == [71, 72]   # numbered as in the file
    with pytest.warns(quillbox.DataWarning):
        combined = qdask.report(frame)
    assert combined == whole


ODO_TYPES = """       01  HDR.
           05  KIND  PIC X.
           05  NAME  PIC X(5).
       01  DET.
           05  KIND2  PIC X.
           05  CNT   PIC 9.
           05  ITEMS OCCURS 0 TO 3 DEPENDING ON CNT.
               10  V  PIC 9(3).
"""


def test_record_types_with_odo_tables(tmp_path):
    # A record type whose records lack occurrences: Int64 in the meta, as read gives it.
    def rdw(record):
        return (len(record) + 4).to_bytes(2, "big") + b"\0\0" + record
    path = tmp_path / "odo.vb"
    path.write_bytes(b"".join(rdw(r) for r in [b"HABCDE", b"D2001002", b"D0", b"D3001002003"] * 40))
    layout = quillbox.Layout(ODO_TYPES, cobol=True)
    rules = ["KIND=H:HDR", "KIND=D:DET"]
    tables = quillbox.read(path, layout, record_type=rules, records="rdw")
    frames = qdask.read_data(str(path), layout, blocksize=64, record_type=rules, records="rdw")
    assert frames["DET"].npartitions > 1
    assert [str(t) for t in frames["DET"].dtypes] == ["object", "int64", "Int64", "Int64", "Int64"]
    for name in ("HDR", "DET"):
        pd.testing.assert_frame_equal(frames[name].compute(scheduler="sync").reset_index(drop=True), tables[name])


def test_distributed_cluster(files, layout):
    distributed = pytest.importorskip("distributed", reason="python3-distributed is missing")
    whole = quillbox.read(files["rdw"], layout, records="rdw")
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=False, dashboard_address=None) as cluster, \
            distributed.Client(cluster) as client:
        frame = qdask.read_data(files["rdw"], layout, blocksize=4000, records="rdw")
        result = client.compute(frame).result()
    pd.testing.assert_frame_equal(result, whole)


# ---- The index pass: range scans joined in order

def rdw_file(path, payloads):
    """A file of RDW records of the given payloads."""
    with open(path, "wb") as f:
        for payload in payloads:
            f.write((len(payload) + 4).to_bytes(2, "big") + b"\0\0" + payload)


def record_starts(path, records):
    """The offsets where the records (in rdw-block the blocks) of a file start, framed
    here from their descriptor words."""
    data = open(path, "rb").read()
    starts, at = [], 0
    while at < len(data):
        starts.append(at)
        if records == "lines":
            at = data.index(b"\n", at) + 1
        else:
            at += int.from_bytes(data[at:at + 2], "big")
    return starts


@pytest.mark.parametrize("records", ["rdw", "rdw-block", "lines"])
def test_records_straddle_every_block_boundary(tmp_path, layout, records):
    # 41 bytes a record (45 with its RDW): with 1000-byte blocks of data, no multiple of
    # the block size is a record start, so every range scan begins with a guess.
    path = tmp_path / ("straddle." + records)
    quillbox.write(rows(600), path, layout, records=records, block_size=1000)
    starts = record_starts(path, records)
    size = os.path.getsize(path)
    blocksize = next(b for b in range(900, 1100) if not set(range(b, size, b)) & set(starts))
    boundaries = range(blocksize, size, blocksize)
    sequential = qdask.record_index(path, layout, blocksize, tasks=1, records=records)
    ranged = qdask.record_index(path, layout, blocksize, tasks=1000, records=records)
    assert ranged == sequential
    # A partition at the first start at or after each boundary, numbered as the file's records.
    assert [offset for offset, _, _ in ranged] == sorted({min(s for s in starts + [size] if s >= b)
                                                           for b in [0, *boundaries]} - {size})
    assert [first for _, first, _ in ranged] == [1] + [f + n for _, f, n in ranged[:-1]]
    assert sum(count for _, _, count in ranged) == 600
    frame = qdask.read_data(str(path), layout, blocksize=blocksize, records=records)
    check_partitions(frame, quillbox.read(path, layout, records=records))


def test_tiny_blocks_over_records_of_varied_lengths(tmp_path):
    # OCCURS DEPENDING ON in RDW records: each record as long as its count says (1 to 12
    # lines of 14 bytes); blocks of 7 bytes put a boundary inside every record.
    odo = quillbox.Layout(os.path.join(os.path.dirname(__file__), "..", "..", "examples", "cobol", "ODOREC.cpy"),
                          cobol=True)
    columns = odo.columns_of()
    table = []
    for n in range(1, 200):
        count = n % 12 + 1
        row = {"OH-ORDER-NO": n, "OH-LINE-COUNT": count, "OH-TRAILER": "T%d" % n}
        for k in range(1, 13):
            present = k <= count
            row["OL-ITEM-NO_%d" % k] = n * 100 + k if present else None
            row["OL-QUANTITY_%d" % k] = k - 6 if present else None
            row["OL-PRICE_%d" % k] = decimal.Decimal(n * k) / 100 if present else None
        table.append([row.get(c["name"]) for c in columns])
    path = tmp_path / "odo.vb"
    assert quillbox.write(table, path, odo, records="rdw", on_error="null") == 199
    lengths = {int.from_bytes(open(path, "rb").read()[s:s + 2], "big") for s in record_starts(path, "rdw")}
    assert len(lengths) == 12
    whole = quillbox.read(path, odo, records="rdw")
    index = qdask.record_index(path, odo, 7, tasks=10000, records="rdw")
    assert index == qdask.record_index(path, odo, 7, tasks=1, records="rdw")
    assert [offset for offset, _, _ in index] == record_starts(path, "rdw")
    frame = qdask.read_data(str(path), odo, blocksize=7, records="rdw")
    assert frame.npartitions == 199
    check = pd.concat([frame.get_partition(i).compute(scheduler="sync") for i in range(0, 199, 1)])
    pd.testing.assert_frame_equal(check, whole)
    # The chunks of iter_records read the same variable records, and records laid out at
    # the largest count (a fixed file) with the occurrences past the count empty.
    pd.testing.assert_frame_equal(pd.concat(quillbox.iter_records(path, odo, chunksize=50, records="rdw")), whole)
    fixed = tmp_path / "odo.dat"
    quillbox.write(table, fixed, odo, on_error="null")
    pd.testing.assert_frame_equal(pd.concat(quillbox.iter_records(fixed, odo, chunksize=50)), whole)
    pd.testing.assert_frame_equal(qdask.read_data(str(fixed), odo, blocksize=1000).compute(scheduler="sync"), whole)


def test_wrong_guesses_are_scanned_again(tmp_path):
    # Records whose contents look like descriptor words: a range scan that starts inside
    # one guesses a false start; joined, the range is scanned again from the true one.
    fake = quillbox.Layout("       01  R.\n           05  W  PIC S9(9) COMP OCCURS 32.\n")
    rdw = b"\x00\x04\x00\x00" * 32                          # a chain of empty RDW records
    blocks = (b"\x00\x10\x00\x00" + b"\x00\x0c\x00\x00" + b"\x01" * 8) * 8   # of one-record blocks
    for records, payload in (("rdw", rdw), ("rdw-block", blocks)):
        path = tmp_path / ("fake." + records)
        words = [int.from_bytes(payload[j:j + 4], "big", signed=True) for j in range(0, 128, 4)]
        quillbox.write([words] * 300, path, fake, records=records, block_size=600)
        ranges = qdask.index_ranges(os.path.getsize(path), 50, 10000)
        scans = [qdask.scan_range(str(path), fake, 50, b, e, {"records": records}) for b, e in ranges]
        true = set(record_starts(path, records))
        assert any(start not in true and start < end for (start, _, _, _), (_, end) in zip(scans, ranges))
        index = qdask.record_index(path, fake, 50, tasks=10000, records=records)
        assert index == qdask.record_index(path, fake, 50, tasks=1, records=records)
        assert all(offset in true for offset, _, _ in index)
        frame = qdask.read_data(str(path), fake, blocksize=50, records=records)
        pd.testing.assert_frame_equal(frame.compute(scheduler="sync"), quillbox.read(path, fake, records=records))


def test_broken_framing_names_its_record(tmp_path, layout):
    path = tmp_path / "broken.vb"
    quillbox.write(rows(500), path, layout, records="rdw")
    data = bytearray(path.read_bytes())
    data[(LENGTH + 4) * 321 + 2] = 1   # record 322's RDW: bytes 3 and 4 not zero
    path.write_bytes(bytes(data))
    with pytest.raises(quillbox.DataError) as expected:
        quillbox.read(path, layout, records="rdw")
    for tasks in (1, 7, 1000):
        with pytest.raises(quillbox.DataError) as failure:
            qdask.record_index(path, layout, 100, tasks=tasks, records="rdw")
        assert failure.value.record == expected.value.record == 322
        assert failure.value.reason == expected.value.reason
    with pytest.raises(quillbox.DataError):
        qdask.read_data(str(path), layout, blocksize=100, records="rdw")


def test_record_types_as_dask_frames(tmp_path):
    examples = os.path.join(os.path.dirname(__file__), "..", "..", "examples")
    layout = quillbox.Layout(os.path.join(examples, "cobol", "ORDTYPES.cpy"), cobol=True)
    rules = ["ORD-TYPE=H:ORD-HEADER", "ORD-TYPE=D:ORD-LINE", "ORD-TYPE=T:ORD-TRAILER"]
    # The example file eight times over: 64 records of three types.
    path = tmp_path / "types.vb"
    path.write_bytes(open(os.path.join(examples, "ordtypes.vb"), "rb").read() * 8)
    options = dict(encoding="ibm-037", records="rdw")
    whole = quillbox.read(path, layout, record_type=rules, **options)
    frames = qdask.read_data(str(path), layout, blocksize=40, record_type=rules, **options)
    assert list(frames) == list(whole) and frames["ORD-LINE"].npartitions > 10
    computed = dask.compute(*frames.values(), scheduler="sync")
    for (name, expected), got in zip(whole.items(), computed):
        assert dict(frames[name].dtypes.astype(str)) == dict(expected.dtypes.astype(str))
        pd.testing.assert_frame_equal(got.reset_index(drop=True), expected)
    # A bad type code stops with its record's number in the file.
    data = bytearray(path.read_bytes())
    starts = record_starts(path, "rdw")
    number = next(n for n in range(35, 64) if data[starts[n - 1] + 4] == 0xC4)   # an EBCDIC "D": a line
    data[starts[number - 1] + 4] = 0xE7                                          # "X": no rule matches
    path.write_bytes(bytes(data))
    with pytest.raises(quillbox.DataError) as expected_error:
        quillbox.read(path, layout, record_type=rules, **options)
    frames = qdask.read_data(str(path), layout, blocksize=40, record_type=rules, **options)
    with pytest.raises(quillbox.DataError) as failure:
        dask.compute(*frames.values(), scheduler="sync")
    assert failure.value.record == expected_error.value.record == number


def test_record_types_take_columns(tmp_path):
    examples = os.path.join(os.path.dirname(__file__), "..", "..", "examples")
    layout = quillbox.Layout(os.path.join(examples, "cobol", "ORDTYPES.cpy"), cobol=True)
    rules = ["ORD-TYPE=H:ORD-HEADER", "ORD-TYPE=D:ORD-LINE", "ORD-TYPE=T:ORD-TRAILER"]
    path = tmp_path / "types.vb"
    path.write_bytes(open(os.path.join(examples, "ordtypes.vb"), "rb").read() * 8)
    options = dict(encoding="ibm-037", records="rdw")
    whole = quillbox.read(path, layout, record_type=rules, **options)
    # Names for every type: each gives those it has, in its order; a type given none
    # keeps its rows.
    picked = quillbox.read(path, layout, record_type=rules, columns=["LINE-PRICE", "ORD-NO", "LINE-TYPE"], **options)
    pd.testing.assert_frame_equal(picked["ORD-HEADER"], whole["ORD-HEADER"][["ORD-NO"]])
    pd.testing.assert_frame_equal(picked["ORD-LINE"], whole["ORD-LINE"][["LINE-TYPE", "LINE-PRICE"]])
    assert list(picked["ORD-TRAILER"].columns) == [] and len(picked["ORD-TRAILER"]) == len(whole["ORD-TRAILER"])
    # Per type: the types not named come whole.
    picked = quillbox.read(path, layout, record_type=rules, columns={"ORD-LINE": ["LINE-QTY"]}, **options)
    pd.testing.assert_frame_equal(picked["ORD-LINE"], whole["ORD-LINE"][["LINE-QTY"]])
    pd.testing.assert_frame_equal(picked["ORD-HEADER"], whole["ORD-HEADER"])
    assert picked["ORD-LINE"].attrs["quillbox"] == whole["ORD-LINE"].attrs["quillbox"]
    for wrong, message in ((["NOPE"], "NOPE"), ({"ORD-LINE": ["ORD-NO"]}, "ORD-LINE has no column ORD-NO"),
                           ({"ORD-NONE": ["X"]}, "no record type ORD-NONE")):
        with pytest.raises(ValueError, match=message):
            quillbox.read(path, layout, record_type=rules, columns=wrong, **options)
    # Dask: each type's frame takes the projection of the computation.
    frames = qdask.read_data(str(path), layout, blocksize=40, record_type=rules, **options)
    lines = frames["ORD-LINE"][["LINE-PRICE", "LINE-QTY"]]
    from dask.dataframe.optimize import optimize_dataframe_getitem
    graph = optimize_dataframe_getitem(lines.__dask_graph__(), keys=[k[0] for k in lines.__dask_keys__()])
    readers = [layer.io_func for layer in graph.layers.values() if hasattr(layer, "io_func")]
    assert readers and all(sorted(r.columns) == ["LINE-PRICE", "LINE-QTY"] for r in readers)
    got = lines.compute(scheduler="sync").reset_index(drop=True)
    pd.testing.assert_frame_equal(got, whole["ORD-LINE"][["LINE-PRICE", "LINE-QTY"]])
    header, trailer = dask.compute(frames["ORD-HEADER"]["ORD-NO"], frames["ORD-TRAILER"], scheduler="sync")
    pd.testing.assert_series_equal(header.reset_index(drop=True), whole["ORD-HEADER"]["ORD-NO"])
    pd.testing.assert_frame_equal(trailer.reset_index(drop=True), whole["ORD-TRAILER"])
    # Bad data in a type left out still stops the frame of another.
    data = bytearray(path.read_bytes())
    starts = record_starts(path, "rdw")
    number = next(n for n in range(35, 64) if data[starts[n - 1] + 4] == 0xC4)   # a line
    data[starts[number - 1] + 4] = 0xE7                                          # no rule matches
    path.write_bytes(bytes(data))
    frames = qdask.read_data(str(path), layout, blocksize=40, record_type=rules, **options)
    with pytest.raises(quillbox.DataError) as failure:
        frames["ORD-HEADER"]["ORD-NO"].compute(scheduler="sync")
    assert failure.value.record == number


def test_index_steps_for_other_engines(files, layout):
    # The steps as another engine runs them: ranges scanned apart, joined, each
    # partition read by itself.
    path = files["rdw-block"]
    ranges = qdask.index_ranges(os.path.getsize(path), 3000, tasks=5)
    assert len(ranges) == 5 and ranges[0][0] == 0 and ranges[-1][1] == os.path.getsize(path)
    assert all(b % 3000 == 0 for b, _ in ranges)
    scans = [qdask.scan_range(path, layout, 3000, b, e, {"records": "rdw-block"}) for b, e in ranges]
    index = qdask.join_scans(path, layout, 3000, {"records": "rdw-block"}, ranges, scans)
    frames = [qdask.read_part(path, layout, offset, first, count, records="rdw-block")
              for offset, first, count in index]
    pd.testing.assert_frame_equal(pd.concat(frames), quillbox.read(path, layout, records="rdw-block"))
    frame = qdask.read_data(path, layout, blocksize=3000, index_tasks=2, records="rdw-block")
    assert frame.npartitions == len(index)


def outcome(work):
    try:
        return ("index", work())
    except quillbox.DataError as error:
        return ("error", error.record, error.reason)


@pytest.mark.parametrize("records", ["rdw", "rdw-block", "lines"])
def test_ranged_index_equals_one_scan_on_random_files(tmp_path, records):
    # Random short records of bytes that often look like descriptor words, a fifth of
    # the files with one byte changed: every range scanned apart and joined gives the
    # index (or the error, at the same record) of one scan from the start.
    text = quillbox.Layout("       01  R.\n           05  A  PIC X(10).\n")
    rng = random.Random(20261209)
    path = tmp_path / "random.dat"
    for _ in range(120):
        payloads = [bytes(rng.choice(b"\0\0\4\x08\x0a\x41") for _ in range(rng.randrange(0, 30)))
                    for _ in range(rng.randrange(0, 60))]
        if records == "lines":
            data = b"".join(p.replace(b"\n", b"x") + b"\n" for p in payloads)
        else:
            framed = [(len(p) + 4).to_bytes(2, "big") + b"\0\0" + p for p in payloads]
            if records == "rdw-block":
                blocks, i = [], 0
                while i < len(framed):
                    k = rng.randrange(1, 5)
                    block = b"".join(framed[i:i + k])
                    blocks.append((len(block) + 4).to_bytes(2, "big") + b"\0\0" + block)
                    i += k
                framed = blocks
            data = b"".join(framed)
        changed = bool(data) and rng.random() < 0.2
        if changed:
            data = bytearray(data)
            data[rng.randrange(len(data))] = rng.randrange(256)
        path.write_bytes(bytes(data))
        blocksize = rng.randrange(1, 80)
        whole = outcome(lambda: qdask.record_index(path, text, blocksize, tasks=1, records=records))
        assert outcome(lambda: qdask.record_index(path, text, blocksize, tasks=10 ** 6, records=records)) == whole
        if not changed:
            assert whole[0] == "index" and sum(count for _, _, count in whole[1]) == len(payloads)


def test_a_layout_travels_with_its_copy_members(tmp_path):
    # The member changed, then removed, between read_data and compute in worker
    # processes: the workers decode by the layout as it was analysed.
    books = tmp_path / "books"
    books.mkdir()
    member = books / "KV.cpy"
    member.write_text("           05  K  PIC 9(2).\n           05  V  PIC 9(1).\n")
    copybook = books / "REC.cpy"
    copybook.write_text("       01  R.\n           COPY KV.\n")
    data = tmp_path / "kv.dat"
    for layout in (quillbox.Layout(copybook, cobol=True),
                   quillbox.Layout(copybook.read_text(), cobol=True, include=[books])):
        quillbox.write([(i, i) for i in range(4)], data, layout)
        frame = qdask.read_data(str(data), layout, blocksize=6)
        assert frame.npartitions == 2
        member.write_text("           05  K  PIC 9(1).\n           05  V  PIC 9(2).\n")
        got = frame.compute(scheduler="processes")
        assert got["K"].tolist() == [0, 1, 2, 3] and got["V"].tolist() == [0, 1, 2, 3]
        member.unlink()
        got = frame.compute(scheduler="processes")
        assert got["K"].tolist() == [0, 1, 2, 3] and got["V"].tolist() == [0, 1, 2, 3]
        member.write_text("           05  K  PIC 9(2).\n           05  V  PIC 9(1).\n")
