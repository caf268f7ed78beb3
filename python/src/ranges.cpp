// quillbox._core.index_ranges, scan_range and join_scans: the codec's index pass of a
// file of variable records, as steps that Dask (or another engine) runs as tasks.
#include <pybind11/stl.h>

#include <string>
#include <utility>
#include <vector>

#include "input.h"
#include "layout.h"
#include "ranges.h"

namespace quillbox {
namespace python {

namespace {

// The framing of the index pass: the records option of `given` (a variable format).
RecordFormat FormatOf(const py::dict& given) {
    DataOptions options = MakeOptions(given);
    if (options.records == RecordFormat::kFixed) throw py::value_error("the index pass is for variable records");
    return options.records;
}

uint64_t BlockSize(long long blockSize) {
    if (blockSize <= 0) throw py::value_error("block_size must be positive");
    return static_cast<uint64_t>(blockSize);
}

// [(begin, end)] of IndexRanges.
py::list IndexRangesOf(uint64_t size, long long blockSize, int tasks) {
    py::list out;
    for (const ByteRange& range : IndexRanges(size, BlockSize(blockSize), tasks)) {
        out.append(py::make_tuple(range.begin, range.end));
    }
    return out;
}

// A scan as Python keeps it: (start, end, [(offset, records)], (record, fault) or None).
py::tuple ToTuple(const RangeScan& scan) {
    py::list pieces;
    for (const auto& piece : scan.pieces) pieces.append(py::make_tuple(piece.first, piece.second));
    py::object fault =
        scan.fault.empty() ? py::object(py::none()) : py::object(py::make_tuple(scan.faultRecord, scan.fault));
    return py::make_tuple(scan.start, scan.end, pieces, fault);
}

RangeScan FromTuple(const py::handle& tuple) {
    RangeScan scan;
    py::tuple t = py::reinterpret_borrow<py::tuple>(tuple);
    if (t.size() != 4) throw py::value_error("a scan is (start, end, pieces, fault)");
    scan.start = t[0].cast<uint64_t>();
    scan.end = t[1].cast<uint64_t>();
    for (const py::handle& piece : t[2]) {
        py::tuple p = py::reinterpret_borrow<py::tuple>(piece);
        scan.pieces.emplace_back(p[0].cast<uint64_t>(), p[1].cast<long long>());
    }
    if (!t[3].is_none()) {
        py::tuple f = py::reinterpret_borrow<py::tuple>(t[3]);
        scan.faultRecord = f[0].cast<long long>();
        scan.fault = f[1].cast<std::string>();
    }
    return scan;
}

// Scans the range [begin, end) of the data from `start` when it is known (not
// negative), otherwise from a guessed start.
py::tuple ScanRangeOf(const PyLayout& layout, const py::object& data, const py::dict& given, uint64_t begin,
                      uint64_t end, long long blockSize, long long start) {
    const RecordFormat format = FormatOf(given);
    const uint64_t block = BlockSize(blockSize);
    DataInput input(data, 0);
    RangeScan scan;
    {
        py::gil_scoped_release unlocked;
        scan = ScanRange(input.File(), input.Size(), format, static_cast<size_t>(layout.RecordLength()),
                         ByteRange{begin, end}, block, start);
    }
    return ToTuple(scan);
}

// The partitions [(offset, first record, records)] of the scans of `ranges`, joined
// (JoinScans): a framing fault of a scan that counts is a DataError naming its record.
py::list JoinScansOf(const PyLayout& layout, const py::object& data, const py::dict& given, const py::list& ranges,
                     const py::list& scans, long long blockSize) {
    const RecordFormat format = FormatOf(given);
    const uint64_t block = BlockSize(blockSize);
    std::vector<ByteRange> byteRanges;
    for (const py::handle& range : ranges) {
        py::tuple r = py::reinterpret_borrow<py::tuple>(range);
        byteRanges.push_back(ByteRange{r[0].cast<uint64_t>(), r[1].cast<uint64_t>()});
    }
    std::vector<RangeScan> rangeScans;
    for (const py::handle& scan : scans) rangeScans.push_back(FromTuple(scan));
    DataInput input(data, 0);
    std::vector<Partition> parts;
    long long faultRecord = 0;
    std::string fault;
    bool joined;
    {
        py::gil_scoped_release unlocked;
        const size_t length = static_cast<size_t>(layout.RecordLength());
        Rescan rescan = [&](const ByteRange& range, uint64_t start) {
            return ScanRange(input.File(), input.Size(), format, length, range, block, static_cast<long long>(start));
        };
        joined = JoinScans(byteRanges, rangeScans, rescan, parts, faultRecord, fault);
    }
    if (!joined) {
        DataFailure failure{Error(fault, faultRecord), std::string()};
        failure.code = fault == "read error" ? FaultCode::kIo : FaultCode::kFraming;
        RaiseFailure(failure, input);
    }
    py::list out;
    for (const Partition& part : parts) out.append(py::make_tuple(part.offset, part.first, part.records));
    return out;
}

}  // namespace

void BindRanges(py::module_& m) {
    m.def("index_ranges", &IndexRangesOf, py::arg("size"), py::arg("block_size"), py::arg("tasks") = kIndexTasks);
    m.def("scan_range", &ScanRangeOf, py::arg("layout"), py::arg("data"), py::arg("options"), py::arg("begin"),
          py::arg("end"), py::arg("block_size"), py::arg("start") = -1);
    m.def("join_scans", &JoinScansOf, py::arg("layout"), py::arg("data"), py::arg("options"), py::arg("ranges"),
          py::arg("scans"), py::arg("block_size"));
}

}  // namespace python
}  // namespace quillbox
