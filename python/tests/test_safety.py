"""quillbox under threads, signals, subinterpreters and repeated reads: reads from many
threads in a fresh interpreter, Ctrl-C during a large read, the refusal of a
subinterpreter, concurrent writes to one path, both ways of making Decimals and the
arena allocator on and off, memory over repeated reads, and argument errors that name
the argument and the file."""

import decimal
import math
import os
import pathlib
import pickle
import signal
import subprocess
import sys
import textwrap
import threading
import time

import numpy as np
import pandas as pd
import pytest

import quillbox
from conftest import EXAMPLES

CUSTMAST = os.path.join(EXAMPLES, "CUSTMAST.cpy")
CUSTDATA = os.path.join(EXAMPLES, "custmast.dat")
ORDERREC = os.path.join(EXAMPLES, "ORDERREC.cpy")

COPYBOOK = ("       01  R.\n"
            "           05  ID    PIC 9(8).\n"
            "           05  AMT   PIC S9(7)V99 COMP-3.\n"
            "           05  BIG   PIC S9(15)V99.\n"
            "           05  NAME  PIC X(20).\n")


def run_python(code, timeout=60, env=None):
    """Runs ``code`` in a fresh interpreter with the module's path; (returncode, stdout, stderr)."""
    full = dict(os.environ)
    full.update(env or {})
    done = subprocess.run([sys.executable, "-c", textwrap.dedent(code)], capture_output=True, text=True,
                          timeout=timeout, env=full)
    return done.returncode, done.stdout, done.stderr


def test_first_reads_from_eight_threads_in_a_fresh_interpreter():
    # Nothing imported before quillbox (not pandas): the first reads of the process come
    # from 8 threads at once, 20 times, each in a fresh interpreter; none may hang.
    code = """
        import sys, threading
        import quillbox._core as core
        import quillbox
        layout = quillbox.Layout(%r)
        results, errors = [None] * 8, []
        def read(i):
            try:
                results[i] = core.read(layout._core, %r, "decimal", {})[0]
            except BaseException as failure:
                errors.append(repr(failure))
        threads = [threading.Thread(target=read, args=(i,)) for i in range(8)]
        for t in threads: t.start()
        for t in threads: t.join()
        assert not errors, errors
        first = [(name, kind, values.tolist()) for name, kind, values, mask in results[0]]
        for result in results[1:]:
            assert [(name, kind, values.tolist()) for name, kind, values, mask in result] == first
        print("ok", len(first[0][2]))
    """ % (CUSTMAST, CUSTDATA)
    for _ in range(20):
        code_, out, err = run_python(code, timeout=30)
        assert code_ == 0, err
        assert out.startswith("ok ")


def big_file(tmp_path, megabytes):
    layout = quillbox.Layout(COPYBOOK)
    one = tmp_path / "one.dat"
    quillbox.write([(i, decimal.Decimal(i) / 100, i, "NAME%d" % i) for i in range(1000)], one, layout)
    block = one.read_bytes()
    path = tmp_path / "big.dat"
    with open(path, "wb") as f:
        for _ in range(megabytes * (1 << 20) // len(block) + 1):
            f.write(block)
    return path


def test_ctrl_c_during_a_large_read_is_heard_at_once(tmp_path):
    # SIGINT 0.3 s into a large read: KeyboardInterrupt within 0.5 s, the memory back. The
    # file is made large enough that one read takes at least 2 s on this machine, or a read
    # that ignored signals could end inside the bound and pass.
    path = big_file(tmp_path, 100)
    started = time.monotonic()
    quillbox.read(str(path), quillbox.Layout(COPYBOOK), decimals="float")
    seconds = time.monotonic() - started
    copies = min(16, max(1, math.ceil(2.0 / seconds)))
    if copies > 1:
        block = path.read_bytes()
        with open(path, "ab") as f:
            for _ in range(copies - 1):
                f.write(block)
    code = """
        import os, signal, threading, time, resource
        import quillbox
        layout = quillbox.Layout(%r)
        def rss():
            with open("/proc/self/statm") as f:
                return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")
        before = rss()
        sent = []
        def interrupt():
            sent.append(time.monotonic())
            os.kill(os.getpid(), signal.SIGINT)
        for decimals in ("decimal", "float"):
            sent.clear()
            timer = threading.Timer(0.3, interrupt)
            timer.start()
            try:
                quillbox.read(%r, layout, decimals=decimals)
                print("finished")
            except KeyboardInterrupt:
                print("interrupted %%.3f" %% (time.monotonic() - sent[0]))
            timer.join()
        print("rss %%d" %% ((rss() - before) >> 20))
    """ % (COPYBOOK, str(path))
    code_, out, err = run_python(code, timeout=120)
    assert code_ == 0, err
    lines = out.split("\n")
    for line in lines[:2]:
        assert line.startswith("interrupted "), out
        assert float(line.split()[1]) < 0.5, out
    assert int(lines[2].split()[1]) < 50, out


def test_a_subinterpreter_is_refused_with_an_import_error(tmp_path):
    interpreters = None
    for name in ("_interpreters", "_xxsubinterpreters"):
        try:
            interpreters = __import__(name)
            break
        except ImportError:
            continue
    if interpreters is None:
        pytest.skip("this Python has no subinterpreters module")
    out = tmp_path / "said.txt"
    script = textwrap.dedent("""
        try:
            import quillbox
            said = "imported"
        except ImportError as failure:
            said = "ImportError: " + str(failure)
        with open(%r, "w") as f:
            f.write(said)
    """ % str(out))
    # Imported first in the subinterpreter, and after the main interpreter imported it.
    for first in (True, False):
        code = """
            import sys
            import %s as interpreters
            if not %r:
                import quillbox
            interp = interpreters.create()
            interpreters.run_string(interp, %r)
            interpreters.destroy(interp)
            print("done")
        """ % (interpreters.__name__, first, script)
        code_, stdout, err = run_python(code, timeout=60)
        assert code_ == 0, err
        said = out.read_text()
        assert said.startswith("ImportError: quillbox cannot be imported in a subinterpreter"), said


def test_ctrl_c_is_heard_where_every_record_is_left_out(tmp_path):
    # Records that give no rows and reach no column sink (too short for the layout,
    # under on_error="skip"); the read still hears SIGINT within 0.5 s.
    path = tmp_path / "short.vb"
    path.write_bytes(b"\x00\x05\x00\x00A" * (8 << 20))   # 8 million RDW records of 1 byte
    code = """
        import os, signal, threading, time, warnings
        import quillbox
        warnings.simplefilter("ignore")
        layout = quillbox.Layout("       01  R.\\n           05  A  PIC S9(17) COMP-3.\\n"
                                 "           05  B  PIC X.\\n")
        sent = []
        def interrupt():
            sent.append(time.monotonic())
            os.kill(os.getpid(), signal.SIGINT)
        for chunked in (False, True):
            threading.Timer(0.2, interrupt).start()
            try:
                if chunked:
                    list(quillbox.iter_records(%r, layout, chunksize=1000, on_error="skip", records="rdw"))
                else:
                    quillbox.read(%r, layout, on_error="skip", records="rdw")
                print("finished")
            except KeyboardInterrupt:
                print("interrupted %%.3f" %% (time.monotonic() - sent[-1]))
    """ % (str(path), str(path))
    code_, out, err = run_python(code, timeout=120)
    assert code_ == 0, err
    lines = out.split()
    assert lines[0::2] == ["interrupted", "interrupted"], out
    assert all(float(seconds) < 0.5 for seconds in lines[1::2]), out


def test_writes_from_two_threads_to_one_path(tmp_path):
    layout = quillbox.Layout(COPYBOOK)
    path = tmp_path / "out.dat"
    rows = {n: [(i, decimal.Decimal(n), n, "W%d" % n) for i in range(2000)] for n in (1, 2)}
    for _ in range(20):
        errors = []

        def write(n):
            try:
                quillbox.write(rows[n], path, layout)
            except BaseException as failure:
                errors.append(failure)
        threads = [threading.Thread(target=write, args=(n,)) for n in (1, 2)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        assert not errors
        got = quillbox.read(path, layout)
        assert len(got) == 2000 and got["NAME"].nunique() == 1   # one writer's file, whole
    assert sorted(os.listdir(tmp_path)) == ["out.dat"]   # no temporary file left


def test_a_write_keeps_the_mode_of_the_file_it_replaces(tmp_path):
    layout = quillbox.Layout(COPYBOOK)
    path = tmp_path / "out.dat"
    path.write_bytes(b"")
    os.chmod(path, 0o640)
    quillbox.write([(1, 1, 1, "A")], path, layout)
    assert os.stat(path).st_mode & 0o777 == 0o640
    fresh = tmp_path / "fresh.dat"
    quillbox.write([(1, 1, 1, "A")], fresh, layout)
    umask = os.umask(0)
    os.umask(umask)
    assert os.stat(fresh).st_mode & 0o777 == 0o666 & ~umask


def test_a_write_keeps_links_and_refuses_a_folder(tmp_path):
    layout = quillbox.Layout(COPYBOOK)
    path, link = tmp_path / "out.dat", tmp_path / "link.dat"
    quillbox.write([(1, 1, 1, "OLD")], path, layout)
    os.link(path, link)
    quillbox.write([(2, 2, 2, "NEW")], path, layout)
    assert os.path.samefile(path, link)                       # still one file of two names
    assert quillbox.read(link, layout)["NAME"].str.strip().tolist() == ["NEW"]
    with pytest.raises(IsADirectoryError) as failure:
        quillbox.write([(1, 1, 1, "A")], tmp_path, layout)
    assert str(tmp_path) in str(failure.value)
    assert sorted(os.listdir(tmp_path)) == ["link.dat", "out.dat"]


def test_decimal_makers_and_arena_allocators_give_equal_frames(tmp_path):
    # The direct Decimal and the constructor's, the huge-page arenas and the
    # interpreter's own: the same frames, pickled to compare them across processes.
    code = """
        import pickle, sys
        import quillbox, quillbox._core as core
        frames = [quillbox.read(%r, %r, decimals=d) for d in ("decimal", "float", "int")]
        frames.append(quillbox.read(%r, quillbox.Layout(%r)))
        sys.stdout.buffer.write(pickle.dumps((core.direct_decimals, core.huge_arenas, frames)))
    """ % (CUSTDATA, CUSTMAST, str(big_file(tmp_path, 1)), COPYBOOK)
    seen = {}
    for constructor in ("0", "1"):
        for arenas in ("1", "0"):
            env = dict(os.environ, QUILLBOX_DECIMAL_CONSTRUCTOR=constructor, QUILLBOX_HUGE_ARENAS=arenas)
            done = subprocess.run([sys.executable, "-c", textwrap.dedent(code)], capture_output=True, env=env,
                                  timeout=120)
            assert done.returncode == 0, done.stderr.decode()
            direct, huge, frames = pickle.loads(done.stdout)
            assert direct == (constructor == "0" and quillbox._core.direct_decimals)
            assert huge == (arenas == "1" and quillbox._core.huge_arenas)
            seen[constructor, arenas] = frames
    first = seen["0", "1"]
    for frames in seen.values():
        for a, b in zip(first, frames):
            pd.testing.assert_frame_equal(a, b)
            for column in a.columns[a.dtypes == object]:
                assert [type(v) for v in a[column]] == [type(v) for v in b[column]]
                assert [str(v) for v in a[column]] == [str(v) for v in b[column]]


def test_memory_stays_flat_over_repeated_decimal_reads(tmp_path):
    path = big_file(tmp_path, 2)
    code = """
        import os, gc
        import quillbox
        layout = quillbox.Layout(%r)
        def rss():
            with open("/proc/self/statm") as f:
                return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")
        sizes = []
        for i in range(250):
            frame = quillbox.read(%r, layout, decimals="decimal")
            del frame
            if i in (20, 249):
                gc.collect()
                sizes.append(rss())
        print((sizes[1] - sizes[0]) >> 20)
    """ % (COPYBOOK, str(path))
    code_, out, err = run_python(code, timeout=300)
    assert code_ == 0, err
    assert int(out) < 20, out


def test_argument_errors_name_the_argument(tmp_path):
    with pytest.raises(TypeError, match="Layout takes a copybook's path or its text"):
        quillbox.Layout(123)
    with pytest.raises(TypeError, match="Layout takes"):
        quillbox.Layout(None)
    with pytest.raises(ValueError, match="skip takes a number from 0"):
        quillbox.read(CUSTDATA, CUSTMAST, skip=2 ** 63)
    with pytest.raises(ValueError, match="skip takes a number from 0"):
        quillbox.read(CUSTDATA, CUSTMAST, skip=-1)
    with pytest.raises(TypeError, match="skip takes an int, not str"):
        quillbox.read(CUSTDATA, CUSTMAST, skip="2")
    with pytest.raises(TypeError, match="count takes an int, not float"):
        quillbox.read(CUSTDATA, CUSTMAST, count=2.0)
    with pytest.raises(TypeError, match="trim takes True or False, not str 'yes'"):
        quillbox.read(CUSTDATA, CUSTMAST, trim="yes")
    with pytest.raises(TypeError, match="encoding takes a str, not int"):
        quillbox.read(CUSTDATA, CUSTMAST, encoding=932)
    with pytest.raises(TypeError, match="crlf takes True or False"):
        quillbox.write([], tmp_path / "x.dat", CUSTMAST, crlf="no")
    # numpy's integers and bools are taken as Python's.
    whole = quillbox.read(CUSTDATA, CUSTMAST)
    got = quillbox.read(CUSTDATA, CUSTMAST, skip=np.int64(1), count=np.int32(2), trim=np.bool_(False))
    pd.testing.assert_frame_equal(got.reset_index(drop=True), whole.iloc[1:3].reset_index(drop=True))


def test_bytes_like_data_and_copybooks():
    whole = quillbox.read(CUSTDATA, CUSTMAST)
    data = pathlib.Path(CUSTDATA).read_bytes()
    for given in (bytearray(data), memoryview(data), np.frombuffer(data, dtype=np.uint8)):
        pd.testing.assert_frame_equal(quillbox.read(given, CUSTMAST), whole)
    text = pathlib.Path(CUSTMAST).read_bytes()
    for given in (text, bytearray(text), memoryview(text)):
        assert quillbox.Layout(given).columns == quillbox.Layout(CUSTMAST).columns


def test_errors_name_the_file(tmp_path):
    with pytest.raises(IsADirectoryError) as failure:
        quillbox.read("/", CUSTMAST)
    assert failure.value.filename == "/"
    with pytest.raises(FileNotFoundError) as failure:
        quillbox.read(tmp_path / "none.dat", CUSTMAST)
    assert failure.value.filename == str(tmp_path / "none.dat")
    bad = tmp_path / "bad.dat"
    data = bytearray(pathlib.Path(CUSTDATA).read_bytes())
    data[3] = ord("X")   # CUST-NO, a display number
    bad.write_bytes(bytes(data))
    with pytest.raises(quillbox.DataError) as failure:
        quillbox.read(bad, CUSTMAST)
    assert failure.value.path == str(bad)
    assert str(failure.value).startswith(str(bad) + ": record 1, item CUST-NO (offset 3)")
    assert failure.value.record == 1 and failure.value.item == "CUST-NO" and isinstance(failure.value.code, str)
    with pytest.raises(quillbox.DataError) as failure:
        list(quillbox.iter_records(bad, CUSTMAST))
    assert failure.value.path == str(bad)
    # Bytes have no path.
    with pytest.raises(quillbox.DataError) as failure:
        quillbox.read(bytes(data), CUSTMAST)
    assert failure.value.path is None and str(failure.value).startswith("record 1, item CUST-NO")
