"""pip install ./python (pyproject.toml): the module quillbox built from the project's
sources with setuptools and pybind11; pip install --no-build-isolation ./python does
it with Debian's setuptools and pybind11 (nothing is fetched). The C++ sources are the
ones the CMake build compiles into the support library, the engine, the data codec
and the platform-free core of the layout outputs, read from their CMakeLists.txt
files; the project's metadata (dependencies, the dask extra) is in pyproject.toml."""

import os
import re

from pybind11.setup_helpers import ParallelCompile, Pybind11Extension, build_ext
from setuptools import setup

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)


def version():
    text = open(os.path.join(ROOT, "CMakeLists.txt"), encoding="utf-8").read()
    return re.search(r"project\(Quillbox VERSION ([0-9.]+)", text).group(1)


def library_sources(folder, target):
    """The sources of `add_library(target STATIC ...)` in folder/CMakeLists.txt."""
    text = open(os.path.join(ROOT, folder, "CMakeLists.txt"), encoding="utf-8").read()
    body = re.search(r"add_library\(%s STATIC(.*?)\)" % re.escape(target), text, re.S).group(1)
    return [os.path.relpath(os.path.join(ROOT, folder, name), HERE) for name in body.split() if name.endswith(".cpp")]


LIBRARIES = [("support", "cgiclib"), ("engine", "cobcpy"), ("codec", "quillbox_codec"), ("core", "quillbox_core")]
sources = sorted(os.path.join("src", name) for name in os.listdir(os.path.join(HERE, "src"))
                 if name.endswith(".cpp"))
for folder, target in LIBRARIES:
    sources += library_sources(folder, target)

extension = Pybind11Extension(
    "quillbox._core",
    sources,
    include_dirs=[os.path.join(ROOT, folder) for folder, _ in LIBRARIES],
    cxx_std=17,
    # UTF-8 sources whose texts are Shift_JIS bytes, as every target of the project.
    extra_compile_args=["-finput-charset=UTF-8", "-fexec-charset=CP932", "-O2"],
)

# Two compilers at once (QB_BUILD_JOBS=N for more; 0 for one a processor).
ParallelCompile("QB_BUILD_JOBS", default=2).install()

setup(
    version=version(),
    ext_modules=[extension],
    cmdclass={"build_ext": build_ext},
)
