"""Data files as Dask DataFrames, split at record boundaries.

    import quillbox, quillbox.dask
    from dask.distributed import Client, LocalCluster
    client = Client(LocalCluster(n_workers=2))            # or Client("tcp://scheduler:8786")
    df = quillbox.dask.read_data("orders/*.vb", "ORDERREC.cpy", records="rdw", encoding="ibm-930")
    print(df["ORD-TOTAL-AMT"].sum().compute())

Fixed records are split by arithmetic (a partition is a run of whole records). Files
of variable records (rdw, rdw-block, lines) are first framed by the codec's record
reader, without decoding, into a sparse index of partition starts (a record's start,
in rdw-block a block's): byte ranges of a file are scanned as parallel tasks, each
from a start guessed by the framing alone (the byte after a line end; an offset whose
descriptor words chain), and a task joins them in order, scanning a range again from
where the previous one ended whenever its guess was not that place. The layout
travels to the workers as its copybook text and options.

index_ranges, scan_range, join_scans and read_part are the same steps for engines
other than Dask.
"""

import glob
import math
import os

import quillbox
from quillbox import _core

__all__ = ["read_data", "report", "combine_reports"]


def _block_bytes(blocksize):
    if isinstance(blocksize, str):
        from dask.utils import parse_bytes
        blocksize = parse_bytes(blocksize)
    blocksize = int(blocksize)
    if blocksize <= 0:
        raise ValueError("blocksize must be positive")
    return blocksize


def _paths(path_or_glob):
    if isinstance(path_or_glob, (list, tuple)):
        return [os.fspath(p) for p in path_or_glob]
    path = os.fspath(path_or_glob)
    if glob.has_magic(path):
        paths = sorted(glob.glob(path))
        if not paths:
            raise FileNotFoundError("no file matches " + path)
        return paths
    if not os.path.exists(path):
        raise FileNotFoundError(path)
    return [path]


# The most range scans of a file's index pass: enough to keep a cluster's workers busy,
# few enough that the scans' joining stays cheap.
INDEX_TASKS = 32


def index_ranges(size, blocksize, tasks=None):
    """The byte ranges of a file's index pass: [(begin, end)], each a whole number of
    blocks (the last to the end of the file), at most ``tasks`` of them (INDEX_TASKS
    when not given)."""
    return [tuple(r) for r in _core.index_ranges(size, blocksize, INDEX_TASKS if tasks is None else int(tasks))]


def scan_range(path, layout, blocksize, begin, end, options, start=-1):
    """A range's scan: (start, end, [(offset, records)], (record, fault) or None), from
    a guessed record start unless ``start`` is given."""
    return tuple(_core.scan_range(quillbox._layout(layout)._core, path, options, begin, end, blocksize, start))


def join_scans(path, layout, blocksize, options, ranges, scans):
    """The partitions [(offset, first record number, records)] of the range scans,
    joined in order: a scan that did not begin where the previous one ended (its guess
    was wrong) is done again from there; a framing fault of a scan that counts is
    raised as DataError with its record number."""
    layout = quillbox._layout(layout)
    return [tuple(p) for p in _core.join_scans(layout._core, path, options, list(ranges), list(scans), blocksize)]


def record_index(path, layout, blocksize, tasks=None, **options):
    """The partitions of a file of variable records: [(byte offset, first record number,
    records)], one at the first record start (in rdw-block the first block start) at or
    after every multiple of ``blocksize`` bytes. The range scans run here, one after the
    other; read_data runs them as tasks."""
    layout = quillbox._layout(layout)
    path = os.fspath(path)
    blocksize = _block_bytes(blocksize)
    ranges = index_ranges(os.path.getsize(path), blocksize, tasks)
    scans = [scan_range(path, layout, blocksize, begin, end, options) for begin, end in ranges]
    return join_scans(path, layout, blocksize, options, ranges, scans)


def _fixed_parts(path, length, blocksize):
    size = os.path.getsize(path)
    records = math.ceil(size / length)   # a short last record is read, and reported
    per = max(1, blocksize // length)
    return [(path, first * length, first + 1, min(per, records - first)) for first in range(0, records, per)]


class _Part:
    """A partition: `records` records of `path` from byte `offset`, the first numbered
    `first`."""

    __slots__ = ("path", "offset", "first", "records")

    def __init__(self, path, offset, first, records):
        self.path, self.offset, self.first, self.records = path, offset, first, records

    def __reduce__(self):
        return (_Part, (self.path, self.offset, self.first, self.records))


def _unwrap(value):
    """The value itself: dask.distributed 2022.12 hands the tasks of an in-process
    cluster (LocalCluster(processes=False)) their argument still wrapped for
    serialization."""
    try:
        from distributed.protocol.serialize import Serialize
    except ImportError:
        return value
    return value.data if isinstance(value, Serialize) else value


def read_part(path, layout, offset, first, count, decimals="decimal", columns=None, **options):
    """One partition of an index ([(offset, first, count)], as record_index and
    join_scans give them) as a DataFrame labelled by record numbers from 0: the
    ``count`` records of ``path`` from byte ``offset``, the first numbered ``first``.
    For other engines that run the index pass and the partitions themselves (Spark's
    mapInPandas). ``columns`` (names) as in quillbox.read."""
    layout = quillbox._layout(layout)
    quillbox._check_decimals(decimals)
    given = dict(options)
    given["skip"] = 0
    given["count"] = count
    positions = quillbox._positions(layout, options, columns)
    chunks = _core.Chunks(layout._core, os.fspath(path), decimals, given, offset, first, positions)
    got = chunks.next(max(count, 1))
    report = chunks.report()
    quillbox._warn_bad(report)
    if got is None:
        empty = quillbox._empty_frame(layout, decimals, options)
        if positions is not None:
            empty = empty.iloc[:, positions]
        return quillbox._with_report(empty, report)
    frame = quillbox._frame(got)
    frame.index = range(first - 1, first - 1 + len(frame))
    return quillbox._with_report(frame, report)


def _in_meta_dtypes(frame, meta):
    """``frame`` with the dtypes of ``meta`` (Int64 where on_error="null" or an
    occurrence a record may lack leaves integers empty)."""
    for i, dtype in enumerate(meta.dtypes):
        if str(dtype) != str(frame.dtypes.iloc[i]):
            frame.isetitem(i, frame.iloc[:, i].astype(dtype))
    return frame


class _Projected:
    """A partition task that takes the computation's column projection (dask.dataframe's
    DataFrameIOFunction): ``meta`` holds the columns kept, ``_columns`` their names (None
    for every column); ``_projected(meta, columns)`` makes the same task for fewer."""

    @property
    def columns(self):
        return list(self.meta.columns) if self._columns is None else self._columns

    def project_columns(self, columns):
        columns = list(columns)
        if columns == list(self.meta.columns):
            return self
        wanted = set(columns)
        positions = [i for i, name in enumerate(self.meta.columns) if name in wanted]
        return self._projected(self.meta.iloc[:, positions], columns)


class _PartReader(_Projected):
    """The task of a partition: reads the columns that the computation uses (Dask hands
    the selection to project_columns), into the dtypes of the meta. The layout and the
    options travel in every task; a worker analyses the layout once (quillbox._from_text
    keeps it)."""

    def __init__(self, layout, decimals, options, meta, columns=None):
        self.layout, self.decimals, self.options, self.meta = layout, decimals, options, meta
        self._columns = columns

    def _projected(self, meta, columns):
        return _PartReader(self.layout, self.decimals, self.options, meta, columns)

    def __call__(self, part):
        part = _unwrap(part)
        frame = read_part(part.path, self.layout, part.offset, part.first, part.records, self.decimals,
                          columns=self._columns, **self.options)
        return _in_meta_dtypes(frame, self.meta)


def _read_types_part(part, layout, decimals, options, positions=None):
    """A partition of a file of record types: {record name: DataFrame}, of the columns
    ``positions`` gives ({record name: positions}; None for all)."""
    part = _unwrap(part)
    given = dict(options)
    given["skip"] = 0
    given["count"] = part.records
    chunks = _core.TypeChunks(layout._core, part.path, decimals, given, part.offset, part.first, positions)
    tables, order = chunks.next(max(part.records, 1))
    report = chunks.report()
    quillbox._warn_bad(report)
    return quillbox._type_frames(tables, order, report)


def _table_of(tables, name, meta):
    """One record type's rows of a partition, in the dtypes of its meta."""
    frame = tables[name]
    if not len(frame):
        return quillbox._with_report(meta.copy(), frame.attrs.get("quillbox"))
    return _in_meta_dtypes(frame, meta)


class _TypeReader(_Projected):
    """The task of one record type's partition (as _PartReader): every record of the
    partition is decoded and checked, and objects are made for the columns of this type
    that the computation uses only (none for the other types)."""

    def __init__(self, layout, decimals, options, name, types, meta, columns=None):
        self.layout, self.decimals, self.options, self.name, self.types, self.meta = \
            layout, decimals, options, name, types, meta
        self._columns = columns

    def _projected(self, meta, columns):
        return _TypeReader(self.layout, self.decimals, self.options, self.name, self.types, meta, columns)

    def __call__(self, part):
        names = list(self.meta.columns)
        every = self.types[self.name]
        wanted = set(names)
        positions = {name: [] for name in self.types}
        positions[self.name] = [i for i, column in enumerate(every) if column in wanted]
        tables = _read_types_part(part, self.layout, self.decimals, self.options, positions)
        return _table_of(tables, self.name, self.meta)


def _types_meta(layout, decimals, options):
    """The empty DataFrame of each record type, from the layout alone."""
    chunks = _core.TypeChunks(layout._core, b"", decimals, dict(options), 0, 1)
    tables, _ = chunks.next(1)
    # Integers that may be null are Int64, as quillbox.read gives them when they are:
    # under on_error or blank_numeric "null", and an occurrence of an OCCURS DEPENDING ON
    # table that a record may lack.
    nullable = options.get("on_error") == "null" or options.get("blank_numeric") == "null"
    optional = dict(chunks.optional())
    metas = {}
    for name, _, columns in tables:
        frame = quillbox._frame(columns)
        for i, flag in enumerate(optional[name]):
            if (nullable or flag) and str(frame.dtypes.iloc[i]) == "int64":
                frame.isetitem(i, frame.iloc[:, i].astype("Int64"))
        metas[name] = frame
    return metas


def _types_max_length(layout, options):
    return _core.TypeChunks(layout._core, b"", "decimal", dict(options), 0, 1).max_length


def _report_of(frame):
    return frame.attrs.get("quillbox")


def combine_reports(reports):
    """One run report of the reports of several partitions (in the order of the file):
    the counts and the counts per fault code added, the first faults of each in turn
    (their records are numbered as in the file), 100 at most."""
    total = {"read": 0, "written": 0, "bad": 0, "skipped": 0, "blanks": 0, "padded": 0, "faults": 0,
             "by_code": {}, "first_faults": []}
    for report in reports:
        if not report:
            continue
        for key in ("read", "written", "bad", "skipped", "blanks", "padded", "faults"):
            total[key] += report[key]
        for code, count in report["by_code"].items():
            total["by_code"][code] = total["by_code"].get(code, 0) + count
        total["first_faults"].extend(report["first_faults"][:max(0, 100 - len(total["first_faults"]))])
    return total


def report(frame):
    """The run report of a DataFrame of read_data (one record type's frame of a file of
    record types gives the report of the whole file's records): each partition carries
    its own in its frame's attrs["quillbox"], and this computes the partitions (persist
    the frame first to read the data once) and combines their reports."""
    import dask
    reports = dask.compute(*[dask.delayed(_report_of, pure=True)(part) for part in frame.to_delayed()])
    return combine_reports(reports)


def read_data(path_or_glob, layout, blocksize="64MB", decimals="decimal", record_type=None, record_type_default=None,
              index_tasks=None, **options):
    """The records of one file, a glob or a list of files as a dask DataFrame.

    ``layout`` is a quillbox.Layout or a copybook path; ``blocksize`` the bytes of data
    a partition holds (a number or a text such as "64MB"); ``decimals`` and the data
    options as in quillbox.read (skip and count are not taken: select rows with the
    DataFrame). The column dtypes come from the layout, without reading data.

    Files of variable records are indexed first: a task per byte range of each file
    (``index_tasks`` ranges at most, INDEX_TASKS when not given) finds the partitions'
    record starts, and a task per file joins them.

    With record types (``record_type``, ``record_type_default`` as in quillbox.read)
    the result is a dict {record name: dask DataFrame}. Each type's partitions decode
    and check every record of their range and make objects for the columns of their own
    type that the computation uses only (Dask's column projection, as for one layout);
    computed together, the frames decode each range once per type. Their rows are
    labelled from 0 in each partition (a record type's rows are not numbered as the
    file's records).

    Each partition's frame carries the report of its records in attrs["quillbox"] (as
    quillbox.read's frame does; records numbered as in the file) and warns with a
    quillbox.DataWarning where it skipped or nulled records; report(frame) adds them
    up (combine_reports) for the whole file.
    """
    import dask
    import dask.dataframe as dd

    layout = quillbox._layout(layout)
    quillbox._check_decimals(decimals)
    if options.get("skip") or options.get("count") is not None:
        raise ValueError("read_data takes no skip or count")
    options = {k: v for k, v in options.items() if k not in ("skip", "count")}
    blocksize = _block_bytes(blocksize)
    paths = _paths(path_or_glob)
    records = options.get("records") or "fixed"
    typed = quillbox._record_types(options, record_type, record_type_default)
    parts = []
    if records == "fixed":
        length = _types_max_length(layout, options) if typed else layout.record_length
        for path in paths:
            parts.extend(_fixed_parts(path, length, blocksize))
    else:
        # The index pass: a task per range of each file, and a task joining a file's scans.
        joins = []
        for path in paths:
            ranges = index_ranges(os.path.getsize(path), blocksize, index_tasks)
            scans = [dask.delayed(scan_range, pure=True)(path, layout, blocksize, begin, end, options)
                     for begin, end in ranges]
            joins.append(dask.delayed(join_scans, pure=True)(path, layout, blocksize, options, ranges, scans))
        indexes = dask.compute(*joins)
        for path, index in zip(paths, indexes):
            parts.extend((path, offset, first, count) for offset, first, count in index)
    if not parts:
        parts = [(paths[0], 0, 1, 0)]
    parts = [_Part(*part) for part in parts]
    if typed:
        metas = _types_meta(layout, decimals, options)
        types = {name: list(meta.columns) for name, meta in metas.items()}
        return {name: dd.from_map(_TypeReader(layout, decimals, options, name, types, meta), parts, meta=meta,
                                  label="quillbox-read-" + name, enforce_metadata=False)
                for name, meta in metas.items()}
    meta = quillbox._empty_frame(layout, decimals, options)
    return dd.from_map(_PartReader(layout, decimals, options, meta), parts, meta=meta, label="quillbox-read",
                       enforce_metadata=False)
