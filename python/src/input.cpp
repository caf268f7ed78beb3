// The data a read takes (input.h).
#include "input.h"

#include <algorithm>
#include <cerrno>

#include <sys/stat.h>

namespace quillbox {
namespace python {

namespace {

[[noreturn]] void RaiseOsError(int error, const std::string& path) {
    errno = error;
    PyErr_SetFromErrnoWithFilename(PyExc_OSError, path.c_str());
    throw py::error_already_set();
}

}  // namespace

DataInput::DataInput(const py::object& data, uint64_t start) {
    if (PyObject_CheckBuffer(data.ptr())) {
        if (PyObject_GetBuffer(data.ptr(), &view_, PyBUF_SIMPLE) != 0) throw py::error_already_set();
        viewed_ = true;
        const uint64_t size = static_cast<uint64_t>(view_.len);
        if (start > size) start = size;
        // An empty buffer cannot be opened by fmemopen: an empty temporary file stands in.
        file_ = size > start ? fmemopen(static_cast<char*>(view_.buf) + start, size - start, "rb") : std::tmpfile();
        size_ = size - start;
        if (file_ == nullptr) {
            PyBuffer_Release(&view_);
            throw py::value_error("cannot read the bytes");
        }
        return;
    }
    if (!py::isinstance<py::str>(data) && !py::hasattr(data, "__fspath__")) {
        throw py::type_error("the data is a path, bytes-like object or binary file, not " +
                             std::string(py::str(py::type::of(data).attr("__name__"))));
    }
    py::object path = py::module_::import("os").attr("fspath")(data);
    if (!py::isinstance<py::str>(path)) path = py::module_::import("os").attr("fsdecode")(path);
    path_ = path.cast<std::string>();
    file_ = std::fopen(path_.c_str(), "rb");
    if (file_ == nullptr) RaiseOsError(errno, path_);
    struct stat status;
    if (fstat(fileno(file_), &status) != 0) {
        const int error = errno;
        std::fclose(file_);
        RaiseOsError(error, path_);
    }
    if (S_ISDIR(status.st_mode)) {
        std::fclose(file_);
        RaiseOsError(EISDIR, path_);
    }
    if (start > 0 && fseeko(file_, static_cast<off_t>(start), SEEK_SET) != 0) {
        std::fclose(file_);
        throw py::value_error(path_ + ": cannot seek to " + std::to_string(start));
    }
    if (S_ISREG(status.st_mode) && static_cast<uint64_t>(status.st_size) > start) {
        size_ = static_cast<uint64_t>(status.st_size) - start;
    }
}

DataInput::~DataInput() {
    std::fclose(file_);
    if (viewed_) PyBuffer_Release(&view_);
}

size_t RowsAtMost(const DataInput& input, int length, long long count) {
    uint64_t rows = input.Size() / static_cast<uint64_t>(length) + 1;
    if (count >= 0 && static_cast<uint64_t>(count) < rows) rows = static_cast<uint64_t>(count);
    return static_cast<size_t>(std::min<uint64_t>(rows, uint64_t{1} << 32));
}

void RaiseFailure(const DataFailure& failure, const DataInput& input) {
    DataFailure named = failure;
    if (named.path.empty()) named.path = input.Path();
    throw named;
}

}  // namespace python
}  // namespace quillbox
