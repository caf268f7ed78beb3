// quillbox._core.scan_range: the index pass of a file of variable records for Dask and
// other engines.
#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "input.h"
#include "layout.h"

namespace quillbox {
namespace python {

namespace {

// Where the partitions of a file of variable records start, found in parallel over
// byte ranges of the file. A partition starts at the first record start (in rdw-block
// the first block start) at or after each multiple of the block size, so that the
// partitions do not depend on how the ranges are cut. A range's scan guesses its first
// record start by the framing alone (the byte after a line end; an offset whose
// descriptor words chain consistently), then frames records with the codec's reader up
// to the first start at or after the range's end. The scans are joined in order: a scan
// counts only when it began where the previous one ended (the file's first byte for
// the first), and a range whose guess was wrong is scanned again from there, so a
// guess is never used unchecked.

// The data's bytes at absolute offsets, through a buffer read around them.
class DataWindow {
public:
    DataWindow(std::FILE* file, uint64_t size) : file_(file), size_(size) {}
    uint64_t Size() const { return size_; }
    // The `n` bytes from `at`; null when the data ends (or cannot be read) first.
    const unsigned char* Bytes(uint64_t at, size_t n) {
        if (at + n > size_) return nullptr;
        if (at < base_ || at + n > base_ + buffer_.size()) {
            size_t want = std::max<size_t>(n, kWindow);
            buffer_.resize(static_cast<size_t>(std::min<uint64_t>(want, size_ - at)));
            base_ = at;
            if (fseeko(file_, static_cast<off_t>(at), SEEK_SET) != 0 ||
                std::fread(&buffer_[0], 1, buffer_.size(), file_) != buffer_.size()) {
                buffer_.clear();
                return nullptr;
            }
        }
        return buffer_.data() + (at - base_);
    }

private:
    static constexpr size_t kWindow = 1 << 16;
    std::FILE* file_;
    uint64_t size_;
    uint64_t base_ = 0;
    std::vector<unsigned char> buffer_;
};

// How many descriptor words a guessed record start must chain through.
constexpr int kChainRecords = 8;
// The longest block an extended BDW describes (as the codec's reader takes it).
constexpr uint64_t kLongestBlock = 0x7FFFFFFF;

// The length an RDW at `r` describes; 0 when it is no RDW.
size_t RdwLength(const unsigned char* r) {
    if (r == nullptr || r[2] != 0 || r[3] != 0) return 0;
    size_t length = (size_t{r[0]} << 8) | r[1];
    return length >= 4 ? length : 0;
}

// Whether RDW records from `at` chain for kChainRecords records, or exactly to the end.
bool RdwChain(DataWindow& window, uint64_t at) {
    for (int i = 0; i < kChainRecords && at != window.Size(); ++i) {
        size_t length = RdwLength(window.Bytes(at, 4));
        if (length == 0 || at + length > window.Size()) return false;
        at += length;
    }
    return true;
}

// Whether blocks of RDW records from `at` chain, each block's records filling it
// exactly, for kChainRecords records (whole blocks), or exactly to the end.
bool BlockChain(DataWindow& window, uint64_t at) {
    int records = 0;
    while (records < kChainRecords && at != window.Size()) {
        const unsigned char* b = window.Bytes(at, 4);
        if (b == nullptr) return false;
        uint64_t length;
        if (b[0] & 0x80) {
            length = (uint64_t{b[0] & 0x7Fu} << 24) | (uint64_t{b[1]} << 16) | (uint64_t{b[2]} << 8) | b[3];
        } else {
            if (b[2] != 0 || b[3] != 0) return false;
            length = (uint64_t{b[0]} << 8) | b[1];
        }
        if (length < 8 || length > kLongestBlock || at + length > window.Size()) return false;
        const uint64_t end = at + length;
        for (uint64_t p = at + 4; p < end; ++records) {
            size_t described = RdwLength(window.Bytes(p, 4));
            if (described == 0 || p + described > end) return false;
            p += described;
        }
        at = end;
    }
    return true;
}

// The first offset in [from, until) that looks like a record (block) start; `until`
// when none does.
uint64_t GuessStart(DataWindow& window, RecordFormat format, uint64_t from, uint64_t until) {
    if (from == 0) return 0;
    // GnuCOBOL's record headers carry no mark to tell a start by: the range is scanned
    // from where the one before it ended (join_scans).
    if (format != RecordFormat::kLines && format != RecordFormat::kRdw && format != RecordFormat::kRdwBlock) {
        return until;
    }
    until = std::min(until, window.Size());
    for (uint64_t at = from; at < until; ++at) {
        if (format == RecordFormat::kLines) {
            const unsigned char* before = window.Bytes(at - 1, 1);
            if (before == nullptr) return until;
            if (*before == '\n') return at;
        } else if (format == RecordFormat::kRdw ? RdwChain(window, at) : BlockChain(window, at)) {
            return at;
        }
    }
    return until;
}

// A range's scan: the partitions (offset, records) of the records that start in the
// range, from where it began to where the next record starts. `fault` holds the
// framing fault that ended it (records counted from the scan's start), if any.
struct RangeScan {
    uint64_t start = 0, end = 0;
    std::vector<std::pair<uint64_t, long long>> parts;
    long long faultRecord = 0;
    std::string fault;
};

// Scans the range [from, until) of the data: from `start` when it is known (not
// negative), otherwise from a guessed start. Partitions start at the first boundary at
// or after each multiple of `blockSize`. With `first`, the number of the record at a
// known start, a framing fault is raised as the DataError of its record.
py::tuple ScanRange(const PyLayout& layout, const py::object& data, const py::dict& given, uint64_t from,
                    uint64_t until, uint64_t blockSize, long long start, long long first) {
    if (blockSize == 0) throw py::value_error("block_size must be positive");
    DataOptions options = MakeOptions(given);
    if (options.records == RecordFormat::kFixed) throw py::value_error("the index pass is for variable records");
    DataInput whole(data, 0);
    RangeScan scan;
    {
        py::gil_scoped_release unlocked;
        DataWindow window(whole.File(), whole.Size());
        scan.start = start >= 0 ? static_cast<uint64_t>(start) : GuessStart(window, options.records, from, until);
    }
    DataInput input(data, scan.start);
    {
        py::gil_scoped_release unlocked;
        RecordReader reader(input.File(), options.records, static_cast<size_t>(layout.RecordLength()));
        uint64_t next = 0;   // the next multiple of the block size a partition starts after
        long long number = 0;
        std::string reason;
        for (;;) {
            const uint64_t at = scan.start + reader.Consumed();
            if (reader.AtBoundary()) {
                if (at >= until) break;
                if (scan.parts.empty() || at >= next) {
                    scan.parts.emplace_back(at, 0);
                    next = (at / blockSize + 1) * blockSize;
                }
            }
            const unsigned char* bytes;
            size_t length;
            RecordReader::Status status = reader.Next(bytes, length, reason);
            if (status == RecordReader::kEnd) {
                if (reader.ReadFailed()) {
                    scan.faultRecord = number + 1;
                    scan.fault = "read error";
                }
                break;
            }
            ++number;
            if (status == RecordReader::kFatal) {
                scan.faultRecord = number;
                scan.fault = reason;
                break;
            }
            ++scan.parts.back().second;
        }
        scan.end = scan.start + reader.Consumed();
    }
    if (!scan.fault.empty() && start >= 0 && first > 0) {
        RaiseFailure(DataFailure{Error(scan.fault, first + scan.faultRecord - 1), std::string()}, whole);
    }
    py::list parts;
    for (const auto& part : scan.parts) {
        if (part.second > 0) parts.append(py::make_tuple(part.first, part.second));
    }
    py::object fault =
        scan.fault.empty() ? py::object(py::none()) : py::object(py::make_tuple(scan.faultRecord, scan.fault));
    return py::make_tuple(scan.start, scan.end, parts, fault);
}

}  // namespace

void BindRanges(py::module_& m) {
    m.def("scan_range", &ScanRange, py::arg("layout"), py::arg("data"), py::arg("options"), py::arg("begin"),
          py::arg("end"), py::arg("block_size"), py::arg("start"), py::arg("first") = 0);
}

}  // namespace python
}  // namespace quillbox
