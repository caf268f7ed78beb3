"""Data files as Dask DataFrames, split at record boundaries.

    import quillbox, quillbox.dask
    from dask.distributed import Client, LocalCluster
    client = Client(LocalCluster(n_workers=2))            # or Client("tcp://scheduler:8786")
    df = quillbox.dask.read_data("orders/*.vb", "ORDERREC.cpy", records="rdw", encoding="ibm-930")
    print(df["ORD-TOTAL-AMT"].sum().compute())

Fixed records are split by arithmetic (a partition is a run of whole records); files
of variable records (rdw, rdw-block, lines) are first framed by the codec's record
reader, without decoding, into a sparse index of partition starts (a record's start,
in rdw-block a block's), one task per file. The layout travels to the workers as its
copybook text and options.
"""

import glob
import math
import os

import quillbox
from quillbox import _core

__all__ = ["read_data"]


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


def record_index(path, layout, blocksize, **options):
    """The partitions of a file of variable records: [(byte offset, first record number,
    records)], a new one after every ``blocksize`` bytes at the next record (or block)
    start."""
    layout = quillbox._layout(layout)
    return [tuple(p) for p in _core.record_index(layout._core, os.fspath(path), options, int(blocksize))]


def _fixed_parts(path, layout, blocksize):
    length = layout.record_length
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


def _read_part(part, layout, decimals, options, meta_arg):
    meta = meta_arg
    part = _unwrap(part)
    path, offset, first, records = part.path, part.offset, part.first, part.records
    given = dict(options)
    given["skip"] = 0
    given["count"] = records
    chunks = _core.Chunks(layout._core, path, decimals, given, offset, first)
    columns = chunks.next(max(records, 1))
    if columns is None:
        return meta.copy()
    frame = quillbox._frame(columns)
    frame.index = range(first - 1, first - 1 + len(frame))
    # The dtypes of the meta: Int64 where on_error="null" may leave integers empty.
    for i, dtype in enumerate(meta.dtypes):
        if str(dtype) != str(frame.dtypes.iloc[i]):
            frame.isetitem(i, frame.iloc[:, i].astype(dtype))
    return frame


def read_data(path_or_glob, layout, blocksize="64MB", decimals="decimal", **options):
    """The records of one file, a glob or a list of files as a dask DataFrame.

    ``layout`` is a quillbox.Layout or a copybook path; ``blocksize`` the bytes of data
    a partition holds (a number or a text such as "64MB"); ``decimals`` and the data
    options as in quillbox.read (skip and count are not taken: select rows with the
    DataFrame). The column dtypes come from the layout, without reading data.
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
    parts = []
    if records == "fixed":
        for path in paths:
            parts.extend(_fixed_parts(path, layout, blocksize))
    else:
        indexes = dask.compute(*[dask.delayed(record_index, pure=True)(path, layout, blocksize, **options)
                                 for path in paths])
        for path, index in zip(paths, indexes):
            parts.extend((path, offset, first, count) for offset, first, count in index)
    if not parts:
        parts = [(paths[0], 0, 1, 0)]
    meta = quillbox._empty_frame(layout, decimals, options)
    parts = [_Part(*part) for part in parts]
    return dd.from_map(_read_part, parts, layout=layout, decimals=decimals, options=options, meta=meta,
                       meta_arg=meta, label="quillbox-read", enforce_metadata=False)
