// The data a read takes: a path, or a bytes-like object of the caller's.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "common.h"

namespace quillbox {
namespace python {

// The data from byte `start`: a file opened by its path (str or os.PathLike), or any
// object with the buffer protocol (bytes, bytearray, memoryview, mmap, a numpy array of
// bytes), whose buffer is held, not copied, while the run reads it. Made and destroyed
// with the interpreter lock held.
class DataInput {
public:
    DataInput(const py::object& data, uint64_t start);
    ~DataInput();
    DataInput(const DataInput&) = delete;
    DataInput& operator=(const DataInput&) = delete;
    // The bytes to read, as far as known (0 when not).
    uint64_t Size() const { return size_; }
    std::FILE* File() const { return file_; }
    // The file's path; empty for bytes.
    const std::string& Path() const { return path_; }

private:
    Py_buffer view_{};
    bool viewed_ = false;
    std::FILE* file_ = nullptr;
    uint64_t size_ = 0;
    std::string path_;
};

// The most rows `input` holds for records of `length` bytes (no more than `count`).
size_t RowsAtMost(const DataInput& input, int length, long long count);

// Raises what ended a run, if anything did: a fault as DataError naming the data's file
// and the record, or the Python error of an interrupted run.
void RaiseFailure(const DataFailure& failure, const DataInput& input);

}  // namespace python
}  // namespace quillbox
