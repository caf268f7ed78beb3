// The index pass over byte ranges of a file of variable records.
#include "ranges.h"

#include <algorithm>

namespace quillbox {

namespace {

bool SeekTo(std::FILE* file, uint64_t at) {
#ifdef _WIN32
    return _fseeki64(file, static_cast<long long>(at), SEEK_SET) == 0;
#else
    return fseeko(file, static_cast<off_t>(at), SEEK_SET) == 0;
#endif
}

// The data's bytes at absolute offsets, through a buffer read around them.
class DataWindow {
public:
    DataWindow(std::FILE* file, uint64_t size) : file_(file), size_(size) {}
    uint64_t Size() const { return size_; }
    // The `n` bytes from `at`; null when the data ends (or cannot be read) first.
    const unsigned char* Bytes(uint64_t at, size_t n) {
        if (at > size_ || n > size_ - at) return nullptr;
        if (at < base_ || at + n > base_ + buffer_.size()) {
            size_t want = std::max<size_t>(n, kWindow);
            buffer_.resize(static_cast<size_t>(std::min<uint64_t>(want, size_ - at)));
            base_ = at;
            if (!SeekTo(file_, at) || std::fread(&buffer_[0], 1, buffer_.size(), file_) != buffer_.size()) {
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
// The longest block an extended BDW describes (as RecordReader takes it).
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
    // from where the one before it ended (JoinScans).
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

}  // namespace

std::vector<ByteRange> IndexRanges(uint64_t size, uint64_t blockSize, int tasks) {
    if (blockSize == 0) blockSize = 1;
    const uint64_t parts = static_cast<uint64_t>(tasks < 1 ? 1 : tasks);
    const uint64_t blocks = std::max<uint64_t>(1, size / blockSize + (size % blockSize != 0 ? 1 : 0));
    const uint64_t perRange = blocks / parts + (blocks % parts != 0 ? 1 : 0);
    // A span of more bytes than the file holds is the whole file.
    const uint64_t span = perRange > UINT64_MAX / blockSize ? UINT64_MAX : perRange * blockSize;
    std::vector<ByteRange> ranges;
    const uint64_t last = std::max<uint64_t>(size, 1);
    for (uint64_t begin = 0; begin < last;) {
        ByteRange range;
        range.begin = begin;
        range.end = span > size - begin ? size : begin + span;
        ranges.push_back(range);
        if (span > last - begin) break;
        begin += span;
    }
    return ranges;
}

RangeScan ScanRange(std::FILE* file, uint64_t size, RecordFormat format, size_t recordLength, ByteRange range,
                    uint64_t blockSize, long long start) {
    RangeScan scan;
    if (blockSize == 0) blockSize = 1;
    if (start >= 0) {
        scan.start = static_cast<uint64_t>(start);
    } else {
        DataWindow window(file, size);
        scan.start = GuessStart(window, format, range.begin, range.end);
    }
    if (!SeekTo(file, scan.start)) {
        scan.end = scan.start;
        scan.faultRecord = 1;
        scan.fault = "read error";
        return scan;
    }
    RecordReader reader(file, format, recordLength);
    uint64_t next = 0;   // the next multiple of the block size a partition starts after
    long long number = 0;
    std::string reason;
    for (;;) {
        const uint64_t at = scan.start + reader.Consumed();
        if (reader.AtBoundary()) {
            if (at >= range.end) break;
            if (scan.pieces.empty() || at >= next) {
                scan.pieces.emplace_back(at, 0);
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
        // Inside a block, a record's start is no boundary: it counts in the piece of its block.
        if (scan.pieces.empty()) scan.pieces.emplace_back(at, 0);
        ++scan.pieces.back().second;
    }
    scan.end = scan.start + reader.Consumed();
    // Pieces without records (a block of none) are no partitions.
    scan.pieces.erase(std::remove_if(scan.pieces.begin(), scan.pieces.end(),
                                     [](const std::pair<uint64_t, long long>& piece) { return piece.second == 0; }),
                      scan.pieces.end());
    return scan;
}

bool JoinScans(const std::vector<ByteRange>& ranges, const std::vector<RangeScan>& scans, const Rescan& rescan,
               std::vector<Partition>& parts, long long& faultRecord, std::string& fault) {
    parts.clear();
    uint64_t at = 0;
    long long number = 1;
    for (size_t i = 0; i < ranges.size() && i < scans.size(); ++i) {
        RangeScan again;
        const RangeScan* scan = &scans[i];
        if (scan->start != at || !scan->fault.empty()) {
            // From where the previous scan ended; a fault there is the file's.
            again = rescan(ranges[i], at);
            scan = &again;
            if (!scan->fault.empty()) {
                faultRecord = number + scan->faultRecord - 1;
                fault = scan->fault;
                return false;
            }
        }
        for (const auto& piece : scan->pieces) {
            parts.push_back(Partition{piece.first, number, piece.second});
            number += piece.second;
        }
        at = scan->end;
    }
    return true;
}

}  // namespace quillbox
