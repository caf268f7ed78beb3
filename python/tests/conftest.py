"""Shared set-up of the Python module's tests: the module built by CMake (PYTHONPATH),
quillbox-cli beside it (QB_CLI) and the source tree's examples (QB_SOURCE_DIR). Without
pandas (or the built module) the run ends as skipped, with the reason."""

import csv
import io
import os
import subprocess

import pytest


def pytest_configure(config):
    for module, package in (("numpy", "python3-numpy"), ("pandas", "python3-pandas")):
        try:
            __import__(module)
        except ImportError:
            pytest.exit("skipped: %s is missing (Debian package %s)" % (module, package), returncode=77)
    try:
        import quillbox  # noqa: F401
    except ImportError as failure:
        pytest.exit("skipped: the module quillbox is not built (%s)" % failure, returncode=77)


SOURCE = os.environ.get("QB_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", ".."))
EXAMPLES = os.path.join(SOURCE, "examples")


def cli():
    path = os.environ.get("QB_CLI")
    if not path or not os.path.exists(path):
        pytest.skip("quillbox-cli is not given (QB_CLI)")
    return path


def cli_decode(copybook, data, *options):
    """quillbox-cli decode's CSV rows (header, then rows of texts)."""
    out = subprocess.run([cli(), "decode", copybook, data, *options], check=True, capture_output=True).stdout
    return list(csv.reader(io.StringIO(out.decode("utf-8"), newline="")))


def cli_encode(copybook, table, out, *options):
    subprocess.run([cli(), "encode", copybook, table, "-o", out, *options], check=True, capture_output=True)


@pytest.fixture
def examples():
    return EXAMPLES
