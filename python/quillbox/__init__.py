"""Quillbox for Python: COBOL copybook layouts, and data files as pandas DataFrames.

    import quillbox
    layout = quillbox.Layout("CUSTMAST.cpy")
    df = quillbox.read("custmast.dat", layout)                     # exact Decimals
    df = quillbox.read("orders.vb", "ORDERREC.cpy", encoding="ibm-930", records="rdw-block")
    quillbox.write(df, "copy.dat", layout)

Every value is decoded and encoded by the Quillbox data codec (C++), with the
interpreter lock released while records are decoded. The data options are the
command line's: encoding, records (fixed, lines, rdw, rdw-block), sign_zones
("0x30,0x70" or a pair), float_format (ieee-le, ieee-be, ibm-hex), redefines (first,
all), on_error (stop, skip, null), skip, count, trim, native_order, blank_numeric,
odo, no_filler (FILLER items give no column), names ("sql": "-" as "_"), and
record_type / record_type_default for files of several record types; write also takes
block_size and crlf.
"""

import json
import os

from . import _core

# A subinterpreter that imports quillbox after the main interpreter did is given a copy
# of the module without its initialisation (which refuses a subinterpreter itself).
if not _core._main_interpreter():
    raise ImportError("quillbox cannot be imported in a subinterpreter: its module serves the main interpreter "
                      "only (import it there, or in a process of its own)")

from ._core import DataError, DataWarning, Error, LayoutError  # noqa: E402

__all__ = ["Layout", "read", "iter_records", "write", "Error", "LayoutError", "DataError", "DataWarning"]

_DECIMALS = ("decimal", "float", "int")


class Layout:
    """A copybook's record layout.

    ``source`` is a path to a copybook, or the copybook's text (str, or bytes in
    Shift_JIS). ``cobol`` selects the COBOL rules (copybooks as compilers read them),
    ``include`` the folders of COPY members, ``replace`` a mapping TAG -> TEXT,
    ``pointer_size`` 4 or 8, ``free_format`` free-format source.
    """

    def __init__(self, source, cobol=False, include=(), replace=None, pointer_size=4, free_format=False,
                 _members=None):
        if isinstance(include, (str, bytes, os.PathLike)):
            include = [include]
        include = [os.fspath(d) for d in include]
        replace = dict(replace or {})
        path = None
        if isinstance(source, (str, os.PathLike)) and not _looks_like_text(source):
            path = os.fspath(source)
            with open(path, "rb") as f:
                text = f.read()
        elif isinstance(source, str):
            text = source.encode("cp932")
        elif isinstance(source, (bytes, bytearray, memoryview)):
            text = bytes(source)
        else:
            raise TypeError("Layout takes a copybook's path or its text (str, or bytes in Shift_JIS), not %s"
                            % type(source).__name__)
        self._text = text
        self._args = dict(cobol=bool(cobol), include=include, replace=replace, pointer_size=int(pointer_size),
                          free_format=bool(free_format))
        self._name = path or "<copybook>"
        self._core = self._analyse(path, _members)
        # The COPY members as the analysis read them: a pickled layout carries them, so
        # that where it is analysed again (a Dask worker) no file is read again.
        self._members = _members if _members is not None else _read_members(self._core.sources()[1:])
        self._items = None

    def _analyse(self, path, members=None):
        replace = [(str(k), str(v)) for k, v in self._args["replace"].items()]
        cobol, pointer_size, free_format = self._args["cobol"], self._args["pointer_size"], self._args["free_format"]
        if path is not None:
            return _core.Layout(path, cobol, self._args["include"], replace, pointer_size, free_format)
        import tempfile
        with tempfile.TemporaryDirectory(prefix="quillbox-") as folder:
            # The copybook's members beside it (found there first), and no folder of the
            # machine's when they are given.
            include = self._args["include"] if members is None else []
            for name, data in members or ():
                with open(os.path.join(folder, name), "wb") as f:
                    f.write(data)
            copybook = os.path.join(folder, "copybook.cpy")
            with open(copybook, "wb") as f:
                f.write(self._text)
            return _core.Layout(copybook, cobol, include, replace, pointer_size, free_format)

    # Travels as its copybook text, its COPY members and options (to Dask workers,
    # through pickle): never as a path to read again.
    def __reduce__(self):
        return (_from_text, (self._text, self._args, self._members))

    @property
    def record_length(self):
        """The record's length in bytes."""
        return self._core.record_length

    @property
    def items(self):
        """Every item of the layout, arrays expanded: dicts with level, name, picture,
        category, usage, signed, digits, scale, offset (from 0), length, occurs,
        element_no, dimension, redefines (the name redefined, or None) and remark."""
        if self._items is None:
            self._items = self._core.items()
        return [dict(item) for item in self._items]

    def columns_of(self, redefines="first", serial_no=False, no_filler=False, names="cobol"):
        """The data table's columns: dicts with name, kind, offset, length, digits,
        scale, signed and optional (an occurrence of an OCCURS DEPENDING ON table that
        a record may lack)."""
        return self._core.columns({"redefines": redefines, "serial_no": serial_no, "no_filler": no_filler,
                                   "names": names})

    @property
    def columns(self):
        """The names of the data table's columns (read's DataFrame columns)."""
        return [c["name"] for c in self.columns_of()]

    def ddl(self, table="TABLE1", serial_no=False, quote_names=False, dialect="generic", no_filler=False,
            names="cobol"):
        """The CREATE TABLE text of the layout's elementary items. ``dialect`` "generic"
        (the desktop program's CREATE TABLE file), "sqlite", "postgresql" or "db2" (the
        data table as decode writes it, with the database's column types);
        ``no_filler`` leaves FILLER items out; ``names`` "sql" writes "-" as "_"."""
        return self._core.ddl(table, bool(serial_no), bool(quote_names), str(dialect), bool(no_filler), str(names))

    def to_json(self):
        """The items as a JSON array."""
        return json.dumps(self.items, ensure_ascii=False)

    def __repr__(self):
        return "<quillbox.Layout %s: %d bytes>" % (self._name, self.record_length)


def _read_members(paths):
    """[(file name, bytes)] of the COPY members the analysis read, each once."""
    members, names = [], set()
    for path in paths:
        name = os.path.basename(path)
        if name in names or name == "copybook.cpy":
            continue
        names.add(name)
        with open(path, "rb") as f:
            members.append((name, f.read()))
    return members


# The layouts unpickled in this process, by their pickled form: a Dask worker is handed
# the layout with every task, and analyses it once.
_UNPICKLED = {}
_UNPICKLED_MOST = 16


def _from_text(text, args, members=()):
    key = (text, repr(sorted(args.items())), tuple(members))
    layout = _UNPICKLED.get(key)
    if layout is None:
        layout = Layout(text, _members=list(members), **args)
        if len(_UNPICKLED) >= _UNPICKLED_MOST:
            _UNPICKLED.pop(next(iter(_UNPICKLED)))
        _UNPICKLED[key] = layout
    return layout


def _looks_like_text(source):
    return isinstance(source, str) and ("\n" in source or "\r" in source) and not os.path.exists(source)


def _layout(layout):
    return layout if isinstance(layout, Layout) else Layout(layout)


def _check_decimals(decimals):
    if decimals not in _DECIMALS:
        raise ValueError("decimals takes decimal, float or int, not %r" % (decimals,))


def _data(data):
    """A path or bytes for the codec; a binary file object is read."""
    if hasattr(data, "read"):
        return data.read()
    return data


def _frame(columns, index=None):
    import pandas as pd
    data = {}
    for i, (name, kind, values, mask) in enumerate(columns):
        if mask is not None:
            values = pd.arrays.IntegerArray(values, mask)
        data[i] = values
    frame = pd.DataFrame(data, index=index, copy=False)
    # Names may repeat (an element number of an inner array): set after the columns.
    frame.columns = [c[0] for c in columns]
    return frame


def _empty_frame(layout, decimals, options):
    """A DataFrame of no rows with the column dtypes the layout gives."""
    import pandas as pd
    nullable = options.get("on_error") == "null" or options.get("blank_numeric") == "null"
    types = column_dtypes(layout, decimals, nullable=nullable, **_table_options(options))
    frame = pd.DataFrame({i: pd.Series([], dtype=dtype) for i, (_, dtype) in enumerate(types)})
    frame.columns = [name for name, _ in types]
    return frame


def _table_options(options):
    """The options of read, write and read_data that choose and name the columns."""
    return dict(redefines=options.get("redefines") or "first", serial_no=bool(options.get("serial_no")),
                no_filler=bool(options.get("no_filler")), names=options.get("names") or "cobol")


def dtypes(layout, decimals="decimal", redefines="first", serial_no=False, nullable=False, no_filler=False,
           names="cobol"):
    """The DataFrame dtype of every column, from the layout alone (no data read):
    int64 (Int64 when values may be null: ``nullable``, or an occurrence of an OCCURS
    DEPENDING ON table that a record may lack), float64, or object."""
    return dict(column_dtypes(layout, decimals, redefines, serial_no, nullable, no_filler, names))


def column_dtypes(layout, decimals="decimal", redefines="first", serial_no=False, nullable=False, no_filler=False,
                  names="cobol"):
    """[(column, dtype)] in the columns' order (names may repeat)."""
    _check_decimals(decimals)
    out = []
    for c in _layout(layout).columns_of(redefines, serial_no, no_filler, names):
        number = c["kind"] in ("display", "packed", "binary", "comp-5")
        if c["kind"] in ("float", "double"):
            out.append((c["name"], "float64"))
        elif not number:
            out.append((c["name"], "object"))
        elif c["scale"] > 0 and decimals == "decimal":
            out.append((c["name"], "object"))
        elif c["scale"] > 0 and decimals == "float":
            out.append((c["name"], "float64"))
        elif c["digits"] + max(-c["scale"], 0) > 18 or \
                (c["kind"] in ("binary", "comp-5") and c["length"] >= 8 and not c["signed"]):
            out.append((c["name"], "object"))
        else:
            out.append((c["name"], "Int64" if nullable or c["optional"] else "int64"))
    return out


def read(data, layout, decimals="decimal", record_type=None, record_type_default=None, columns=None, **options):
    """The records of ``data`` (a path, bytes or a binary file object) as a DataFrame,
    a column per elementary item. Numbers with decimals come as decimal.Decimal
    (``decimals="decimal"``, exact), float (``"float"``) or their digits as int64
    (``"int"``); integers as int64 (Int64 when ``on_error="null"`` left some empty);
    text as str. Bad data raises DataError unless ``on_error`` is "skip" or "null".

    The frame's ``attrs["quillbox"]`` holds the run's report: records ``read``, rows
    ``written``, ``bad`` records, ``skipped`` records (left out), ``blanks``, ``padded``
    lines, ``faults`` (bad values and records), ``by_code`` {fault code: count} and
    ``first_faults`` [{record, item, offset, code, reason, fatal}] (the first 100).
    When records were skipped or given null values for bad data, a
    quillbox.DataWarning says how many and names the first fault.

    ``columns`` (names) gives only those columns, in the layout's order: every record
    is still decoded and checked whole, but no Python objects are made for the others.
    With record types, ``columns`` is a list of names (each record type gives those of
    its columns, possibly none) or a dict {record name: [names]} (the types not named
    give all their columns).

    With ``record_type`` (rules "FIELD=VALUE:RECORD" as the command line's
    --record-type takes them, the first that matches choosing, or a dict
    {"FIELD=VALUE": "RECORD"}) and/or ``record_type_default`` (the 01 record of
    records no rule matches), each record is decoded by its own 01 record of a
    copybook analysed with cobol=True: the result is a dict {record name: DataFrame},
    each with its record's columns."""
    layout = _layout(layout)
    _check_decimals(decimals)
    if _record_types(options, record_type, record_type_default):
        positions = _type_positions(layout, options, columns)
        chunks = _core.TypeChunks(layout._core, _data(data), decimals, options, 0, 1, positions)
        tables, order = chunks.next(_ALL)
        report = chunks.report()
        _warn_bad(report, stacklevel=3)
        return _type_frames(tables, order, report)
    got, report = _core.read(layout._core, _data(data), decimals, options, _positions(layout, options, columns))
    _warn_bad(report, stacklevel=3)
    return _with_report(_frame(got), report)


def _positions(layout, options, columns):
    """The positions of the columns named (every column of a name that repeats); None
    for all."""
    if columns is None:
        return None
    if isinstance(columns, str):
        columns = [columns]
    names = [c["name"] for c in layout.columns_of(**_table_options(options))]
    wanted = set(columns)
    unknown = [str(c) for c in columns if c not in set(names)]
    if unknown:
        raise ValueError("columns: the layout has no column " + ", ".join(unknown[:5]))
    return [i for i, name in enumerate(names) if name in wanted]


def _type_columns(layout, options):
    """{record name: [column names]} of the record types the options choose."""
    tables, _ = _core.TypeChunks(layout._core, b"", "int", dict(options), 0, 1).next(1)
    return {name: [c[0] for c in columns] for name, _, columns in tables}


def _type_positions(layout, options, columns):
    """{record name: positions of its columns named} of record types for TypeChunks;
    None for all. ``columns``: names for every type, or {record name: names}."""
    if columns is None:
        return None
    names = _type_columns(layout, options)
    if isinstance(columns, dict):
        unknown = [str(name) for name in columns if name not in names]
        if unknown:
            raise ValueError("columns: no record type %s (the types are %s)"
                             % (", ".join(unknown), ", ".join(names)))
        wanted = {name: ([picked] if isinstance(picked, str) else list(picked)) for name, picked in columns.items()}
        for name, picked in wanted.items():
            missing = [str(c) for c in picked if c not in set(names[name])]
            if missing:
                raise ValueError("columns: the record %s has no column %s" % (name, ", ".join(missing[:5])))
    else:
        picked = [columns] if isinstance(columns, str) else list(columns)
        known = set(n for each in names.values() for n in each)
        missing = [str(c) for c in picked if c not in known]
        if missing:
            raise ValueError("columns: no record type has a column " + ", ".join(missing[:5]))
        wanted = {name: picked for name in names}
    return {name: [i for i, n in enumerate(names[name]) if n in set(picked)] for name, picked in wanted.items()}


def _type_frames(tables, order, report):
    """{record name: DataFrame} of TypeChunks' tables: a type given no column keeps the
    count of its rows (a frame of no columns and as many rows)."""
    frames = {}
    for name, index, columns in tables:
        if columns:
            frames[name] = _with_report(_frame(columns), report)
        else:
            frames[name] = _with_report(_frame(columns, index=range(int((order == index).sum()))), report)
    return frames


def _with_report(frame, report):
    """``frame`` with the run's report in attrs["quillbox"]."""
    frame.attrs["quillbox"] = report
    return frame


def _warn_bad(report, stacklevel=2):
    """A DataWarning when the run left records out or gave rows with null values for
    bad data (the report says which)."""
    bad, skipped = report["bad"], report["skipped"]
    if not bad:
        return
    import warnings
    nulled = bad - skipped if bad > skipped else 0
    parts = []
    if skipped:
        parts.append("%d skipped" % skipped)
    if nulled:
        parts.append("%d with null values" % nulled)
    message = "%d of %d records had bad data (%s)" % (bad, report["read"], ", ".join(parts) or "kept")
    first = [f for f in report["first_faults"] if not f["fatal"]]
    if first:
        f = first[0]
        where = "record %s" % f["record"] if f["record"] is not None else "a record"
        if f["item"] is not None:
            where += ", item %s at offset %s" % (f["item"], f["offset"])
        message += "; first: %s: %s [%s]" % (where, f["reason"], f["code"])
    message += "; the counts are in attrs[\"quillbox\"]"
    warnings.warn(message, DataWarning, stacklevel=stacklevel + 1)


# Rows enough for any file in one run.
_ALL = 1 << 62


def _record_types(options, rules, default):
    """Puts record_type rules (as texts) and record_type_default into ``options``;
    whether there are record types."""
    if rules is not None:
        if isinstance(rules, str):
            rules = [rules]
        elif isinstance(rules, dict):
            rules = ["%s:%s" % (key, record) for key, record in rules.items()]
        options["record_type"] = [str(rule) for rule in rules]
    if default is not None:
        options["record_type_default"] = str(default)
    return bool(options.get("record_type")) or bool(options.get("record_type_default"))


def _rows_of(columns):
    """The rows of decoded columns as dicts."""
    names = [c[0] for c in columns]
    lists = []
    for name, kind, values, mask in columns:
        values = values.tolist()
        if mask is not None:
            values = [None if m else v for v, m in zip(values, mask.tolist())]
        lists.append(values)
    for row in zip(*lists):
        yield dict(zip(names, row))


def iter_records(data, layout, decimals="decimal", chunksize=None, record_type=None, record_type_default=None,
                 **options):
    """The records of ``data`` one at a time as dicts, or with ``chunksize`` as
    DataFrames of that many rows; memory stays that of a chunk. (A dict keeps the last
    of columns of one name, as the element numbers of nested arrays give; the
    DataFrames keep them all.)

    With record types (``record_type``, ``record_type_default`` as in read): pairs
    (record name, dict) in the file's order, or with ``chunksize`` a dict {record name:
    DataFrame} per ``chunksize`` records (every record type, empty or not)."""
    layout = _layout(layout)
    _check_decimals(decimals)
    rows = 4096 if chunksize is None else int(chunksize)
    if rows <= 0:
        raise ValueError("chunksize must be positive")
    if _record_types(options, record_type, record_type_default):
        yield from _iter_types(layout, _data(data), decimals, chunksize, rows, options)
        return
    chunks = _core.Chunks(layout._core, _data(data), decimals, options, 0, 1)
    start = 0
    while True:
        columns = chunks.next(rows)
        if columns is None:
            _warn_bad(chunks.report(), stacklevel=3)
            return
        if chunksize is not None:
            frame = _with_report(_frame(columns), chunks.report())
            frame.index = range(start, start + len(frame))
            start += len(frame)
            yield frame
            continue
        yield from _rows_of(columns)


def _iter_types(layout, data, decimals, chunksize, rows, options):
    chunks = _core.TypeChunks(layout._core, data, decimals, options, 0, 1)
    first = True
    while True:
        got = chunks.next(rows)
        if got is None:
            _warn_bad(chunks.report(), stacklevel=4)
            return
        tables, order = got
        if chunksize is not None:
            if first or len(order):
                report = chunks.report()
                yield {name: _with_report(_frame(columns), report) for name, _, columns in tables}
            first = False
            continue
        first = False
        iterators = {index: (name, _rows_of(columns)) for name, index, columns in tables}
        for index in order.tolist():
            name, each = iterators[index]
            yield name, next(each)


def write(rows, path, layout, ignore_unknown=False, **options):
    """Encodes ``rows`` (a DataFrame, or an iterable of dicts or of sequences in the
    layout's column order) into the data file ``path``, the inverse of read. A
    missing or null (None, NaN, NA) text is blanks; a missing or null number is bad
    data ("no value") unless ``on_error="null"`` (zero; "skip" leaves the row out).
    The file is written beside ``path`` and takes its name when all is written.
    Returns the records written."""
    layout = _layout(layout)
    names = [c["name"] for c in layout.columns_of(**_table_options(options))]
    return _core.write(layout._core, _rows(rows, names, ignore_unknown), os.fspath(path), options)


def _rows(rows, names, ignore_unknown):
    try:
        import pandas as pd
        is_frame = isinstance(rows, pd.DataFrame)
    except ImportError:
        is_frame = False
    if is_frame and list(rows.columns) == names:
        yield from rows.itertuples(index=False, name=None)
        return
    if is_frame:
        _check_names(rows.columns, names, ignore_unknown)
        present = [n for n in names if n in rows.columns]
        frame = rows[present]
        at = {n: i for i, n in enumerate(present)}
        for values in frame.itertuples(index=False, name=None):
            yield tuple(values[at[n]] if n in at else None for n in names)
        return
    for row in rows:
        if isinstance(row, dict):
            _check_names(row.keys(), names, ignore_unknown)
            yield tuple(row.get(n) for n in names)
        else:
            yield row


def _check_names(given, names, ignore_unknown):
    if ignore_unknown:
        return
    known = set(names)
    unknown = [str(n) for n in given if n not in known]
    if unknown:
        raise ValueError("columns the layout does not have: " + ", ".join(unknown[:5]))
