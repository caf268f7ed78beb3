"""quillbox against quillbox-cli decode and encode: the same values for every usage,
code page and record format, the decimals modes, the errors and their places, and the
inputs and outputs (paths, bytes, file objects, chunks, pickled layouts)."""

import decimal
import io
import os
import re
import pickle
import struct
import warnings

import numpy as np
import pandas as pd
import pytest

import quillbox
from conftest import EXAMPLES, cli_decode, cli_encode

CUSTMAST = os.path.join(EXAMPLES, "CUSTMAST.cpy")
ORDERREC = os.path.join(EXAMPLES, "ORDERREC.cpy")
MIXEDUSE = os.path.join(EXAMPLES, "MIXEDUSE.cpy")


def assert_same_as_cli(frame, rows):
    """The DataFrame's values are the CLI's texts: numbers equal as exact decimals, text equal."""
    header, body = rows[0], rows[1:]
    assert list(frame.columns) == header
    assert len(frame) == len(body)
    for i, column in enumerate(zip(*body) if body else [[]] * len(header)):
        name = header[i]
        for value, text in zip(frame.iloc[:, i].tolist(), column):
            if value is None or value is pd.NA or (isinstance(value, float) and value != value and text == ""):
                assert text == "", name   # an empty cell: no value (bad data under null, an absent occurrence)
            elif isinstance(value, str):
                assert value == text, name
            elif isinstance(value, float):
                assert value == float(text), name
            else:
                assert decimal.Decimal(str(value)) == decimal.Decimal(text), name


MIXED_ROW = {
    "MX-REC-TYPE": "MX", "MX-BIN-SMALL": -1234, "MX-BIN-MID": 123456789, "MX-BIN-LARGE": -123456789012345678,
    "MX-BIN-COMP4": 54321, "MX-NATIVE-SHORT": -32, "MX-NATIVE-LONG": 4000000000,
    "MX-PACKED": decimal.Decimal("-1234567.89"), "MX-PACKED-EVEN": 123456, "MX-AMT-1": -99999,
    "MX-AMT-2": decimal.Decimal("1234567.89"), "MX-CNT-1": 9999, "MX-CNT-2_1": 1, "MX-CNT-2_2": 22,
    "MX-CNT-2_3": 333, "MX-RATE": 0.5, "MX-RATE-DOUBLE": -1234.5, "MX-KANJI-NAME": "山田　太郎",
    "MX-KANJI-NOTES_1": "備考一", "MX-KANJI-NOTES_2": "備考二", "MX-OPTION-BITS": "1010101010101010",
    "MX-FLAG-A": "101", "MX-FLAG-B": "000011110000", "MX-SIGNED-DISPLAY": decimal.Decimal("-12345.67"),
    "MX-EDITED-AMT": "-123,456.78", "MX-EDITED-DATE": "2024/01/31",
}


@pytest.mark.parametrize("encoding", ["cp932", "ibm-930", "ibm-939"])
@pytest.mark.parametrize("records", ["fixed", "rdw", "rdw-block"])
def test_examples_as_cli_decodes_them(tmp_path, encoding, records):
    # Every code page and record format, through the CLI's encode of the examples' tables.
    for copybook, table in ((CUSTMAST, "custmast.csv"), (ORDERREC, "orders.csv")):
        if encoding != "cp932" and copybook == CUSTMAST:
            continue   # its addresses hold characters the Japanese EBCDIC pages lack
        data = str(tmp_path / "data")
        options = ["--encoding", encoding, "--records", records]
        cli_encode(copybook, os.path.join(EXAMPLES, table), data, *options)
        frame = quillbox.read(data, copybook, encoding=encoding, records=records)
        assert_same_as_cli(frame, cli_decode(copybook, data, *options))


@pytest.mark.parametrize("encoding", ["cp932", "ibm-930"])
def test_every_usage_written_and_read_as_the_cli(tmp_path, encoding):
    layout = quillbox.Layout(MIXEDUSE)
    data = tmp_path / "mixed.dat"
    second = dict(MIXED_ROW, **{"MX-BIN-SMALL": 7, "MX-PACKED": decimal.Decimal("0.01"), "MX-RATE": -2.25})
    assert quillbox.write([MIXED_ROW, second], data, layout, encoding=encoding) == 2
    rows = cli_decode(MIXEDUSE, str(data), "--encoding", encoding)
    frame = quillbox.read(data, layout, encoding=encoding)
    assert_same_as_cli(frame, rows)
    assert frame["MX-PACKED"].tolist() == [decimal.Decimal("-1234567.89"), decimal.Decimal("0.01")]
    assert frame["MX-BIN-LARGE"].dtype == np.int64
    assert frame["MX-BIN-MID"].dtype == np.int64
    assert frame["MX-RATE"].tolist() == [0.5, -2.25]
    # The CLI's encode of the CLI's table gives the same bytes as write.
    table = tmp_path / "mixed.csv"
    table.write_text("\n".join(",".join('"%s"' % c for c in row) for row in rows) + "\n", encoding="utf-8")
    cli_encode(MIXEDUSE, str(table), str(tmp_path / "cli.dat"), "--encoding", encoding)
    assert (tmp_path / "cli.dat").read_bytes() == data.read_bytes()


def test_decimals_modes():
    exact = quillbox.read(os.path.join(EXAMPLES, "custmast.dat"), CUSTMAST)
    floats = quillbox.read(os.path.join(EXAMPLES, "custmast.dat"), CUSTMAST, decimals="float")
    ints = quillbox.read(os.path.join(EXAMPLES, "custmast.dat"), CUSTMAST, decimals="int")
    assert exact["CUST-BALANCE"].tolist()[:3] == [decimal.Decimal("-12345.67"), decimal.Decimal("98000.00"),
                                                   decimal.Decimal("0.50")]
    assert floats["CUST-BALANCE"].dtype == np.float64
    assert floats["CUST-BALANCE"].tolist() == [float(d) for d in exact["CUST-BALANCE"]]
    assert ints["CUST-BALANCE"].dtype == np.int64
    assert ints["CUST-BALANCE"].tolist() == [int(d * 100) for d in exact["CUST-BALANCE"]]
    assert dict(exact.dtypes.astype(str)) == quillbox.dtypes(CUSTMAST)
    assert dict(floats.dtypes.astype(str)) == quillbox.dtypes(CUSTMAST, "float")
    with pytest.raises(ValueError):
        quillbox.read(os.path.join(EXAMPLES, "custmast.dat"), CUSTMAST, decimals="money")


def test_decimals_are_the_objects_decimal_makes_of_the_clis_texts(tmp_path):
    # Decimals come from the digits straight (no text between): each must be the very
    # object Decimal(text) gives: digits, exponent and sign, hash, arithmetic, pickling.
    pictures = ["S9(%d)V9(%d)" % (whole, places) for whole, places in ((1, 1), (4, 2), (9, 9), (1, 17), (16, 2))]
    usages = ["", " COMP-3", " COMP", " SIGN LEADING SEPARATE"]
    items = [(p, u) for p in pictures for u in usages]
    copybook = tmp_path / "DEC.cpy"
    copybook.write_text("       01  R.\n" + "".join("           05  F%d  PIC %s%s.\n" % (i, p, u)
                                                    for i, (p, u) in enumerate(items)), encoding="ascii")

    def value(picture, n):
        whole, places = (int(x) for x in re.findall(r"\((\d+)\)", picture))
        top = 10 ** (whole + places) - 1
        magnitude = [0, 1, top, top // 7, 10 ** places, 5 * 10 ** (whole + places - 1)][n % 6]
        return decimal.Decimal(magnitude if n % 2 else -magnitude).scaleb(-places)

    rows = [[value(p, n + i) for i, (p, _) in enumerate(items)] for n in range(12)]
    quillbox.write(rows, tmp_path / "dec.dat", str(copybook))
    frame = quillbox.read(tmp_path / "dec.dat", str(copybook))
    texts = cli_decode(str(copybook), str(tmp_path / "dec.dat"))[1:]
    for got_row, text_row in zip(frame.values.tolist(), texts):
        for got, text in zip(got_row, text_row):
            want = decimal.Decimal(text)
            assert type(got) is decimal.Decimal
            assert got.as_tuple() == want.as_tuple() and repr(got) == repr(want)
            assert hash(got) == hash(want) and got + 1 == want + 1 and got * 3 == want * 3
            assert pickle.loads(pickle.dumps(got)).as_tuple() == want.as_tuple()
    assert frame.values.tolist() == [[decimal.Decimal(t) for t in row] for row in texts]


def test_float_mode_rounds_as_the_codec(tmp_path):
    # Digits beyond a double's 53 bits take the codec's text conversion, not a division.
    copybook = tmp_path / "BIG.cpy"
    copybook.write_text("       01  R.\n           05  A  PIC S9(16)V99 COMP-3.\n", encoding="ascii")
    values = [decimal.Decimal("9999999999999999.99"), decimal.Decimal("-0.07"), decimal.Decimal("1234567890123.45")]
    quillbox.write([[v] for v in values], tmp_path / "big.dat", str(copybook))
    frame = quillbox.read(tmp_path / "big.dat", str(copybook), decimals="float")
    assert frame["A"].tolist() == [float(v) for v in values]


def test_wide_integers_and_scaling_positions(tmp_path):
    # An unsigned 8-byte binary item holds more than int64; a P picture's zeros count.
    layout = quillbox.Layout("       01  R.\n           05  A  PIC 9(3)PP.\n           05  B  PIC SVPP9(2).\n"
                             "           05  C  PIC 9(18) COMP.\n           05  D  PIC 9(17)PP.\n", cobol=True)
    data = b"123" + b"\x31\x32" + b"\xff" * 8 + b"1" * 17
    frame = quillbox.read(data, layout, decimals="int")
    assert frame.values.tolist() == [[12300, 12, 2 ** 64 - 1, int("1" * 17 + "00")]]
    assert [str(t) for t in frame.dtypes] == ["int64", "int64", "object", "object"]
    assert quillbox.read(data, layout)["B"].tolist() == [decimal.Decimal("0.0012")]
    assert dict(frame.dtypes.astype(str)) == quillbox.dtypes(layout, "int")


def packed_file(tmp_path):
    """Three 5-byte records of PIC S9(3)V99 COMP-3 and PIC 9(4) COMP; the second's
    packed nibble is no digit."""
    copybook = tmp_path / "BAD.cpy"
    copybook.write_text("       01  R.\n           05  AMT  PIC S9(3)V99 COMP-3.\n"
                        "           05  QTY  PIC 9(4) COMP.\n", encoding="ascii")
    data = b"\x12\x34\x5C" + struct.pack(">H", 7) + b"\x1A\x34\x5C" + struct.pack(">H", 8) + \
        b"\x00\x00\x1D" + struct.pack(">H", 9)
    return str(copybook), data


def test_bad_data_stop_skip_null(tmp_path):
    copybook, data = packed_file(tmp_path)
    with pytest.raises(quillbox.DataError) as failure:
        quillbox.read(data, copybook)
    error = failure.value
    assert (error.record, error.item, error.offset) == (2, "AMT", 0)
    assert "nibble" in error.reason and "record 2" in str(error)
    assert isinstance(error, quillbox.Error)

    skipped = quillbox.read(data, copybook, on_error="skip")
    assert skipped["QTY"].tolist() == [7, 9]
    nulled = quillbox.read(data, copybook, on_error="null", decimals="int")
    assert str(nulled["AMT"].dtype) == "Int64"
    assert nulled["AMT"].isna().tolist() == [False, True, False]
    assert nulled["QTY"].tolist() == [7, 8, 9]
    assert quillbox.read(data, copybook, on_error="null")["AMT"].tolist()[1] is None


def test_run_report_and_data_warning(tmp_path):
    copybook, data = packed_file(tmp_path)
    bad = data + data[5:10]   # records 2 and 4 have a bad packed nibble
    with pytest.warns(quillbox.DataWarning, match=r"2 of 4 records had bad data \(2 skipped\).*record 2, item AMT"):
        skipped = quillbox.read(bad, copybook, on_error="skip")
    report = skipped.attrs["quillbox"]
    assert (report["read"], report["written"], report["bad"], report["skipped"]) == (4, 2, 2, 2)
    assert report["faults"] == 2 and report["by_code"] == {report["first_faults"][0]["code"]: 2}
    assert [(f["record"], f["item"], f["offset"], f["fatal"]) for f in report["first_faults"]] == \
        [(2, "AMT", 0, False), (4, "AMT", 0, False)]
    assert "nibble" in report["first_faults"][0]["reason"]
    with pytest.warns(quillbox.DataWarning, match=r"2 with null values"):
        nulled = quillbox.read(bad, copybook, on_error="null")
    assert (nulled.attrs["quillbox"]["written"], nulled.attrs["quillbox"]["skipped"]) == (4, 0)
    # Chunks: each frame carries the report so far; the warning comes when the records end.
    with pytest.warns(quillbox.DataWarning, match="2 of 4 records"):
        chunks = list(quillbox.iter_records(bad, copybook, chunksize=1, on_error="skip"))
    assert [c.attrs["quillbox"]["bad"] for c in chunks] == [0, 1]   # record 4 comes after the last row
    with pytest.warns(quillbox.DataWarning):
        assert len(list(quillbox.iter_records(bad, copybook, on_error="skip"))) == 2
    # Good data: a report of no faults, and no warning.
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        good = quillbox.read(data[:5] + data[10:], copybook).attrs["quillbox"]
    assert (good["read"], good["written"], good["bad"], good["by_code"], good["first_faults"]) == (2, 2, 0, {}, [])


def test_record_type_reports(tmp_path):
    layout = quillbox.Layout(ORDTYPES, cobol=True)
    data = os.path.join(EXAMPLES, "ordtypes.vb")
    with pytest.warns(quillbox.DataWarning, match="skipped"):
        tables = quillbox.read(data, layout, record_type=TYPE_RULES[:2], on_error="skip", encoding="ibm-037",
                               records="rdw")
    report = tables["ORD-HEADER"].attrs["quillbox"]
    assert report is tables["ORD-LINE"].attrs["quillbox"]
    assert report["written"] == 6 and report["skipped"] == report["bad"] == report["read"] - 6 > 0
    assert report["first_faults"][0]["record"] == 5 and report["first_faults"][0]["item"] == "ORD-TYPE"


def test_framing_and_option_errors(tmp_path):
    with pytest.raises(quillbox.DataError) as failure:
        quillbox.read(b"\x00\x09\x00\x00", CUSTMAST, records="rdw")
    assert failure.value.record == 1
    # Pickled (as a Dask worker sends it back), the error keeps its place.
    copy = pickle.loads(pickle.dumps(failure.value))
    assert type(copy) is quillbox.DataError and (copy.record, copy.reason) == (1, failure.value.reason)
    copybook, data = packed_file(tmp_path)
    with pytest.raises(quillbox.DataError) as failure:
        quillbox.read(data[:9], copybook)
    assert failure.value.record == 2 and "short record" in failure.value.reason
    assert failure.value.item is None and failure.value.offset is None
    with pytest.raises(ValueError):
        quillbox.read(b"", CUSTMAST, records="spanned")
    with pytest.raises(TypeError):
        quillbox.read(b"", CUSTMAST, no_such_option=1)
    with pytest.raises(quillbox.DataError):
        quillbox.read(b"", CUSTMAST, encoding="no-such-page")
    with pytest.raises(OSError):
        quillbox.read(tmp_path / "missing.dat", CUSTMAST)


def test_layout_errors_and_items(tmp_path):
    with pytest.raises(quillbox.LayoutError) as failure:
        quillbox.Layout("       01  R.\n           05  A  PIC Q(3).\n")
    assert isinstance(failure.value, quillbox.Error)
    layout = quillbox.Layout(ORDERREC)
    items = {item["name"]: item for item in layout.items}
    assert layout.record_length == max(i["offset"] + i["length"] for i in layout.items)
    assert items["ORD-NO"]["offset"] == 0 and items["ORD-NO"]["length"] > 0
    lines = [i for i in layout.items if i["name"] == "ORD-LINE"]
    assert lines[0]["occurs"] == 5
    assert "CREATE TABLE" in layout.ddl("ORDERS")
    assert '"ORD-NO"' in layout.to_json()
    # The layout travels as its text: pickled, it reads the same.
    copy = pickle.loads(pickle.dumps(layout))
    assert copy.columns == layout.columns and copy.record_length == layout.record_length
    text = quillbox.Layout(open(CUSTMAST, "rb").read())
    assert text.columns == quillbox.Layout(CUSTMAST).columns


def test_inputs_chunks_and_ranges():
    path = os.path.join(EXAMPLES, "custmast.dat")
    whole = quillbox.read(path, CUSTMAST)
    raw = open(path, "rb").read()
    pd.testing.assert_frame_equal(quillbox.read(raw, CUSTMAST), whole)
    pd.testing.assert_frame_equal(quillbox.read(io.BytesIO(raw), CUSTMAST), whole)
    chunks = list(quillbox.iter_records(path, CUSTMAST, chunksize=3))
    assert [len(c) for c in chunks] == [3, 1]
    pd.testing.assert_frame_equal(pd.concat(chunks), whole)
    rows = list(quillbox.iter_records(path, CUSTMAST))
    assert rows == whole.to_dict("records")
    part = quillbox.read(path, CUSTMAST, skip=1, count=2)
    assert part["CUST-NO"].tolist() == whole["CUST-NO"].tolist()[1:3]
    assert len(quillbox.read(b"", CUSTMAST)) == 0


def test_large_reads_give_their_memory_back():
    # Column memory and the objects of a large read live in memory of their own (huge
    # pages): every read's memory must go back when its DataFrame goes, and the values
    # must stay right through chunks.
    import gc
    path = os.path.join(EXAMPLES, "custmast.dat")
    raw = open(path, "rb").read()
    first = quillbox.read(raw, CUSTMAST)
    chunks = list(quillbox.iter_records(raw * 5000, CUSTMAST, chunksize=7000))
    pd.testing.assert_frame_equal(chunks[-1].iloc[-4:].reset_index(drop=True), first)
    assert sum(len(c) for c in chunks) == 20000

    def resident():
        with open("/proc/self/statm") as statm:
            return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")

    big = raw * 64000   # 4 records, 64,000 times: columns of 2 MB and more
    frame = quillbox.read(big, CUSTMAST)
    assert len(frame) == 64000 * len(first)
    pd.testing.assert_frame_equal(frame.iloc[-len(first):].reset_index(drop=True), first)
    del frame
    gc.collect()
    before = resident()
    for decimals in ("decimal", "float", "int") * 2:
        frame = quillbox.read(big, CUSTMAST, decimals=decimals)
        del frame
        gc.collect()
    assert resident() - before < 16 << 20


def test_write_round_trip(tmp_path):
    path = os.path.join(EXAMPLES, "orders.vb")
    options = dict(encoding="ibm-930", records="rdw-block")
    frame = quillbox.read(path, ORDERREC, **options)
    out = tmp_path / "orders.vb"
    assert quillbox.write(frame, out, ORDERREC, **options) == len(frame)
    assert out.read_bytes() == open(path, "rb").read()
    # Values that do not fit stop with the row and item; skip leaves the row out.
    customers = quillbox.read(os.path.join(EXAMPLES, "custmast.dat"), CUSTMAST)
    customers.loc[1, "CUST-NO"] = 123456789
    with pytest.raises(quillbox.DataError) as failure:
        quillbox.write(customers, tmp_path / "c.dat", CUSTMAST)
    assert failure.value.record == 2 and failure.value.item == "CUST-NO"
    assert not (tmp_path / "c.dat").exists()
    assert quillbox.write(customers, tmp_path / "c.dat", CUSTMAST, on_error="skip") == len(customers) - 1
    # A number left out is no value, or zero under on_error="null"; text is blanks.
    with pytest.raises(quillbox.DataError) as failure:
        quillbox.write([{"CUST-NO": 1}], tmp_path / "c.dat", CUSTMAST)
    assert failure.value.reason == "no value"
    assert quillbox.write([{"CUST-NO": 1}], tmp_path / "c.dat", CUSTMAST, on_error="null") == 1
    back = quillbox.read(tmp_path / "c.dat", CUSTMAST, on_error="null")   # a redefined date is left blank
    assert back["CUST-NO"].tolist() == [1] and back["CUST-BALANCE"].tolist() == [decimal.Decimal("0.00")]
    assert back["CUST-RANK"].tolist() == [" "]
    with pytest.raises(ValueError):
        quillbox.write([{"NO-SUCH": 1}], tmp_path / "c.dat", CUSTMAST)


@pytest.mark.parametrize("name", ["ODOREC.cpy", "SYNCTAB.cpy", "CUSTCOND.cpy", "COPYREPL.cpy"])
def test_cobol_rules_copybooks_as_the_cli(tmp_path, name):
    # OCCURS DEPENDING ON laid out at its largest count (a fixed file), SYNC slack bytes, condition
    # names and COPY REPLACING: the columns and values of the CLI under --cobol.
    folder = os.path.join(EXAMPLES, "cobol")
    path = os.path.join(folder, name)
    layout = quillbox.Layout(path, cobol=True, include=[os.path.join(folder, "COPYLIB")], replace={":PFX:": "PAY"})
    columns = layout.columns_of()
    rows = []
    for n in range(1, 4):
        row = {}
        for c in columns:
            if c["kind"] in ("display", "packed", "binary", "comp-5"):
                row[c["name"]] = decimal.Decimal(n).scaleb(-max(c["scale"], 0)) if c["digits"] > 1 else n % 2
            elif c["kind"] in ("float", "double"):
                row[c["name"]] = n / 4
            elif c["kind"] in ("text", "national"):
                row[c["name"]] = "A%d" % n if c["length"] >= 2 * (c["kind"] == "national") + 2 else ""
        if name == "ODOREC.cpy":
            # The occurrences past the counter (n) are absent: no value.
            for c in columns:
                suffix = re.search(r"_(\d+)$", c["name"])
                if c["name"].startswith("OL-") and suffix and int(suffix.group(1)) > n:
                    row[c["name"]] = None
        rows.append([row.get(c["name"]) for c in columns])
    data = tmp_path / "data"
    assert quillbox.write(rows, data, layout, on_error="null") == 3
    options = ["--cobol", "-I", os.path.join(folder, "COPYLIB"), "--replace", ":PFX:=PAY"]
    assert_same_as_cli(quillbox.read(data, layout, on_error="null"),
                       cli_decode(path, str(data), *options, "--on-error", "null"))


def test_native_order_and_blank_numbers():
    # COMP-5 in EBCDIC data is big-endian (IBM Z) unless native_order says otherwise;
    # a display number of spaces is "no value" under blank_numeric="null".
    layout = quillbox.Layout("       01  R.\n           05  C5  PIC S9(4) COMP-5.\n           05  N  PIC 9(3).\n")
    data = b"\x00\x01" + b"\xf1\xf2\xf3"
    frame = quillbox.read(data, layout, encoding="ibm-037")
    assert frame["C5"].tolist() == [1]
    assert quillbox.read(data, layout, encoding="ibm-037", native_order="little")["C5"].tolist() == [256]
    blank = quillbox.read(b"\x00\x01" + b"\x40\x40\x40", layout, encoding="ibm-037", blank_numeric="null")
    assert blank["N"].isna().tolist() == [True]
    with pytest.raises(quillbox.DataError):
        quillbox.read(b"\x00\x01" + b"\x40\x40\x40", layout, encoding="ibm-037")


ORDTYPES = os.path.join(EXAMPLES, "cobol", "ORDTYPES.cpy")
TYPE_RULES = ["ORD-TYPE=H:ORD-HEADER", "ORD-TYPE=D:ORD-LINE", "ORD-TYPE=T:ORD-TRAILER"]


def cli_decode_types(tmp_path, copybook, data, *options):
    """quillbox-cli decode -o DIR/: {record name: CSV rows} of the tables it wrote."""
    import csv
    import subprocess
    from conftest import cli
    folder = tmp_path / "types"
    subprocess.run([cli(), "decode", "--cobol", copybook, data, *options, "-o", str(folder) + "/"], check=True,
                   capture_output=True)
    return {name[:-4]: list(csv.reader(open(folder / name, encoding="utf-8", newline="")))
            for name in sorted(os.listdir(folder))}


def test_record_types_as_the_cli_decodes_them(tmp_path):
    layout = quillbox.Layout(ORDTYPES, cobol=True)
    data = os.path.join(EXAMPLES, "ordtypes.vb")
    options = dict(encoding="ibm-037", records="rdw")
    rules = [a for rule in TYPE_RULES for a in ("--record-type", rule)]
    expected = cli_decode_types(tmp_path, ORDTYPES, data, "--encoding", "ibm-037", "--records", "rdw", *rules)
    tables = quillbox.read(data, layout, record_type=TYPE_RULES, **options)
    assert list(tables) == list(expected) == ["ORD-HEADER", "ORD-LINE", "ORD-TRAILER"]
    for name, frame in tables.items():
        assert_same_as_cli(frame, expected[name])
    assert tables["ORD-LINE"]["LINE-PRICE"].tolist()[0] == decimal.Decimal("0.12")
    # The rules as a dict; iter_records in the file's order; chunks of every type.
    as_dict = quillbox.read(data, layout, record_type={r.rsplit(":", 1)[0]: r.rsplit(":", 1)[1] for r in TYPE_RULES},
                            **options)
    for name in tables:
        pd.testing.assert_frame_equal(as_dict[name], tables[name])
    pairs = list(quillbox.iter_records(data, layout, record_type=TYPE_RULES, **options))
    assert [name for name, _ in pairs] == ["ORD-HEADER", "ORD-LINE", "ORD-LINE", "ORD-LINE", "ORD-TRAILER",
                                           "ORD-HEADER", "ORD-LINE", "ORD-TRAILER"]
    assert [row for name, row in pairs if name == "ORD-LINE"] == tables["ORD-LINE"].to_dict("records")
    chunks = list(quillbox.iter_records(data, layout, chunksize=3, record_type=TYPE_RULES, **options))
    assert len(chunks) == 3 and all(list(c) == list(tables) for c in chunks)
    for name in tables:
        pd.testing.assert_frame_equal(pd.concat([c[name] for c in chunks], ignore_index=True), tables[name],
                                      check_index_type=False)
    # skip and count over the whole file, records numbered as in the file.
    part = list(quillbox.iter_records(data, layout, record_type=TYPE_RULES, skip=2, count=4, **options))
    assert [name for name, _ in part] == [name for name, _ in pairs][2:6]


def test_record_type_default_and_bad_types(tmp_path):
    layout = quillbox.Layout(ORDTYPES, cobol=True)
    data = os.path.join(EXAMPLES, "ordtypes.vb")
    options = dict(encoding="ibm-037", records="rdw")
    # Trailers match no rule: bad data in the type field, named with its record.
    with pytest.raises(quillbox.DataError) as failure:
        quillbox.read(data, layout, record_type=TYPE_RULES[:2], **options)
    assert (failure.value.record, failure.value.item) == (5, "ORD-TYPE")
    for chunksize in (None, 2):
        with pytest.raises(quillbox.DataError) as failure:
            list(quillbox.iter_records(data, layout, chunksize=chunksize, record_type=TYPE_RULES[:2], **options))
        assert failure.value.record == 5
    skipped = quillbox.read(data, layout, record_type=TYPE_RULES[:2], on_error="skip", **options)
    assert [len(f) for f in skipped.values()] == [2, 4]
    # The default takes what no rule matches, as the CLI's --record-type-default.
    rules = ["--record-type", TYPE_RULES[0], "--record-type", TYPE_RULES[2], "--record-type-default", "ORD-LINE"]
    expected = cli_decode_types(tmp_path, ORDTYPES, data, "--encoding", "ibm-037", "--records", "rdw", *rules)
    tables = quillbox.read(data, layout, record_type=[TYPE_RULES[0], TYPE_RULES[2]], record_type_default="ORD-LINE",
                           **options)
    for name, frame in tables.items():
        assert_same_as_cli(frame, expected[name])
    with pytest.raises(quillbox.DataError):
        quillbox.read(data, layout, record_type=["ORD-TYPE=H:NO-SUCH-RECORD"], **options)
    with pytest.raises(ValueError):
        quillbox.read(data, layout, record_type=["ORD-TYPE"], **options)
    # An empty file: every type's table, empty, with its dtypes.
    empty = quillbox.read(b"", layout, record_type=TYPE_RULES, **options)
    assert [len(f) for f in empty.values()] == [0, 0, 0]
    assert str(empty["ORD-HEADER"]["ORD-NO"].dtype) == "int64"


@pytest.mark.parametrize("dialect", ["generic", "sqlite", "postgresql", "db2"])
def test_ddl_dialects_as_the_cli(tmp_path, dialect):
    import subprocess
    from conftest import cli
    for path, cobol, extra in ((CUSTMAST, False, []), (ORDTYPES, True, ["--cobol"]),
                               (MIXEDUSE, False, ["--no-filler", "--names", "sql"])):
        out = tmp_path / "t.sql"
        subprocess.run([cli(), "ddl", "--dialect", dialect, "--table", "t1", *extra, path, str(out)], check=True,
                       capture_output=True)
        expected = out.read_bytes().decode("cp932").replace("\r\n", "\n")
        layout = quillbox.Layout(path, cobol=cobol)
        given = dict(no_filler="--no-filler" in extra, names="sql" if "--names" in extra else "cobol")
        if dialect == "generic" and cobol:
            continue   # the desktop program's file names one table; the CLI writes one per record
        assert layout.ddl("t1", dialect=dialect, **given).replace("\r\n", "\n") == expected
    with pytest.raises(ValueError):
        quillbox.Layout(CUSTMAST).ddl(dialect="oracle")


def test_no_filler_and_sql_names_as_the_cli(tmp_path):
    layout = quillbox.Layout(MIXEDUSE)
    data = tmp_path / "mixed.dat"
    quillbox.write([MIXED_ROW], data, layout)
    options = ["--no-filler", "--names", "sql"]
    frame = quillbox.read(data, layout, no_filler=True, names="sql")
    assert_same_as_cli(frame, cli_decode(MIXEDUSE, str(data), *options))
    assert "MX_REC_TYPE" in frame.columns
    assert list(frame.columns) == list(quillbox.dtypes(layout, no_filler=True, names="sql"))
    # Written back under the same options: the same bytes.
    quillbox.write(frame, tmp_path / "back.dat", layout, no_filler=True, names="sql")
    assert (tmp_path / "back.dat").read_bytes() == data.read_bytes()
