// Reading and writing framed records through large buffers.
#include "records.h"

#include <limits>

#include <cstring>

namespace quillbox {

namespace {

constexpr size_t kChunk = 1 << 20;          // bytes read or written at a time
constexpr size_t kMaxDescribed = 0x7FFFFFFF; // the longest block an extended BDW can describe
constexpr size_t kLineSlack = 1 << 20;      // how far past the record length a line may run

}  // namespace

bool ParseRecordFormat(const std::string& name, RecordFormat& format) {
    if (name == "fixed") format = RecordFormat::kFixed;
    else if (name == "lines") format = RecordFormat::kLines;
    else if (name == "rdw") format = RecordFormat::kRdw;
    else if (name == "rdw-block") format = RecordFormat::kRdwBlock;
    else if (name == "gnucobol" || name == "gnucobol-0") format = RecordFormat::kGnuCobol;
    else if (name == "gnucobol-1") format = RecordFormat::kGnuCobol1;
    else if (name == "gnucobol-2") format = RecordFormat::kGnuCobol2;
    else if (name == "gnucobol-3") format = RecordFormat::kGnuCobol3;
    else return false;
    return true;
}

bool VariableFormat(RecordFormat format) { return format != RecordFormat::kFixed; }

const char* RecordOfText(RecordFormat format) {
    switch (format) {
    case RecordFormat::kLines: return "line of ";
    case RecordFormat::kRdw:
    case RecordFormat::kRdwBlock: return "RDW record of ";
    default: return "record of ";
    }
}

namespace {

// The bytes of GnuCOBOL's record header.
size_t GnuCobolHeader(RecordFormat format) { return format == RecordFormat::kGnuCobol3 ? 2 : 4; }

}  // namespace

void RecordReader::PadShortLines(size_t least, unsigned char blank) {
    if (format_ != RecordFormat::kLines || least >= recordLength_) return;
    padLines_ = true;
    padLeast_ = least;
    blank_ = blank;
    paddedRecord_.reset(new unsigned char[recordLength_ + 1]);
}

RecordReader::RecordReader(std::FILE* in, RecordFormat format, size_t recordLength)
    : in_(in),
      format_(format),
      recordLength_(recordLength),
      buffer_(new unsigned char[kChunk + recordLength + 8]),
      capacity_(kChunk + recordLength + 8) {}

// Makes at least `need` unread bytes available, unless the input ends first; true
// when they are there.
bool RecordReader::Fill(size_t need) {
    if (end_ - begin_ >= need) return true;
    if (begin_ > 0) {
        std::memmove(buffer_.get(), buffer_.get() + begin_, end_ - begin_);
        end_ -= begin_;
        begin_ = 0;
    }
    if (capacity_ < need) {
        std::unique_ptr<unsigned char[]> larger(new unsigned char[need + kChunk]);
        std::memcpy(larger.get(), buffer_.get(), end_);
        buffer_.swap(larger);
        capacity_ = need + kChunk;
    }
    while (end_ < need && !eof_) {
        size_t room = capacity_ - end_;
        size_t got = std::fread(buffer_.get() + end_, 1, room, in_);
        end_ += got;
        if (got < room) {
            if (std::ferror(in_)) readFailed_ = true;
            eof_ = true;
        }
    }
    return end_ - begin_ >= need;
}

RecordReader::Status RecordReader::Next(const unsigned char*& data, size_t& length, std::string& reason) {
    switch (format_) {
    case RecordFormat::kFixed: return NextFixed(data, length, reason);
    case RecordFormat::kLines: return NextLine(data, length, reason);
    case RecordFormat::kRdw:
    case RecordFormat::kRdwBlock: return NextRdw(data, length, reason);
    default: return NextGnuCobol(data, length, reason);
    }
}

RecordReader::Status RecordReader::NextFixed(const unsigned char*& data, size_t& length, std::string& reason) {
    if (recordLength_ == 0) return kEnd;
    bool whole = Fill(recordLength_);
    length = end_ - begin_;
    if (length == 0) return kEnd;
    data = buffer_.get() + begin_;
    ++records_;
    if (!whole) {
        begin_ = end_;
        consumed_ += length;
        reason = "short record: " + std::to_string(length) + " of " + std::to_string(recordLength_) + " bytes";
        return kWrongLength;
    }
    length = recordLength_;
    begin_ += length;
    consumed_ += length;
    return kRecord;
}

RecordReader::Status RecordReader::NextLine(const unsigned char*& data, size_t& length, std::string& reason) {
    size_t scanned = 0;
    const unsigned char* newline = nullptr;
    for (;;) {
        newline = static_cast<const unsigned char*>(
            std::memchr(buffer_.get() + begin_ + scanned, '\n', end_ - begin_ - scanned));
        if (newline != nullptr) break;
        scanned = end_ - begin_;
        if (eof_) break;
        if (scanned > recordLength_ + kLineSlack) {
            reason = "a line of more than " + std::to_string(scanned) + " bytes: not a text file of records";
            return kFatal;
        }
        Fill(scanned + kChunk);
    }
    data = buffer_.get() + begin_;
    size_t taken;
    if (newline != nullptr) {
        length = static_cast<size_t>(newline - data);
        taken = length + 1;
        if (length > 0 && data[length - 1] == '\r') --length;
    } else {
        length = end_ - begin_;
        taken = length;
        if (length == 0) return kEnd;
    }
    if (padLines_ && length >= padLeast_ && length < recordLength_ && !shorter_) {
        // Only text positions are missing: GnuCOBOL's READ gives them as blanks.
        std::memcpy(paddedRecord_.get(), data, length);
        std::memset(paddedRecord_.get() + length, blank_, recordLength_ - length);
        data = paddedRecord_.get();
        ++padded_;
        if (firstPadded_.size() < kPaddedShown) firstPadded_.push_back(records_ + 1);
        length = recordLength_;
    }
    return Take(taken, length, "line of ", reason);
}

RecordReader::Status RecordReader::NextGnuCobol(const unsigned char*& data, size_t& length, std::string& reason) {
    const size_t header = GnuCobolHeader(format_);
    if (!Fill(header)) {
        if (end_ == begin_) return kEnd;
        reason = "bad record header: " + std::to_string(end_ - begin_) + " bytes at the end of the file";
        return kFatal;
    }
    const unsigned char* h = buffer_.get() + begin_;
    uint64_t described = 0;
    switch (format_) {
    case RecordFormat::kGnuCobol:
        if (h[2] != 0 || h[3] != 0) {
            reason = "bad record header: bytes 3 and 4 are not zero (is this GnuCOBOL's variable format 0?)";
            return kFatal;
        }
        described = (uint64_t{h[0]} << 8) | h[1];
        break;
    case RecordFormat::kGnuCobol1:
        described = (uint64_t{h[0]} << 24) | (uint64_t{h[1]} << 16) | (uint64_t{h[2]} << 8) | h[3];
        break;
    case RecordFormat::kGnuCobol2:
        described = (uint64_t{h[3]} << 24) | (uint64_t{h[2]} << 16) | (uint64_t{h[1]} << 8) | h[0];
        break;
    default:
        described = (uint64_t{h[0]} << 8) | h[1];
        break;
    }
    // A length far past the record's is no record of this layout: not a buffer to allocate.
    if (described > recordLength_ + kLineSlack) {
        reason = "bad record header: a record of " + std::to_string(described) + " bytes, the record has " +
                 std::to_string(recordLength_);
        return kFatal;
    }
    const size_t whole = header + static_cast<size_t>(described);
    if (!Fill(whole)) {
        reason = "bad record header: record of " + std::to_string(described) + " bytes cut by the end of the file";
        return kFatal;
    }
    data = buffer_.get() + begin_ + header;
    length = static_cast<size_t>(described);
    return Take(whole, length, "record of ", reason);
}

RecordReader::Status RecordReader::NextRdw(const unsigned char*& data, size_t& length, std::string& reason) {
    if (format_ == RecordFormat::kRdwBlock && blockLeft_ == 0) {
        if (inBlock_) inBlock_ = false;
        if (!Fill(4)) {
            if (end_ == begin_) return kEnd;
            reason = "bad BDW: " + std::to_string(end_ - begin_) + " bytes at the end of the file";
            return kFatal;
        }
        const unsigned char* b = buffer_.get() + begin_;
        uint64_t blockLength;
        if (b[0] & 0x80) {
            // Extended (large block) BDW: a 31-bit length.
            blockLength = (uint64_t{b[0] & 0x7Fu} << 24) | (uint64_t{b[1]} << 16) | (uint64_t{b[2]} << 8) | b[3];
        } else {
            blockLength = (uint64_t{b[0]} << 8) | b[1];
            if (b[2] != 0 || b[3] != 0) {
                reason = "bad BDW: bytes 3 and 4 are not zero";
                return kFatal;
            }
        }
        if (blockLength < 8 || blockLength > kMaxDescribed) {
            reason = "bad BDW: block length " + std::to_string(blockLength);
            return kFatal;
        }
        begin_ += 4;
        consumed_ += 4;
        blockLeft_ = blockLength - 4;
        inBlock_ = true;
    }
    if (!Fill(4)) {
        if (end_ == begin_ && format_ == RecordFormat::kRdw) return kEnd;
        reason = "bad RDW: " + std::to_string(end_ - begin_) + " bytes where a descriptor word belongs";
        return kFatal;
    }
    const unsigned char* r = buffer_.get() + begin_;
    size_t described = (size_t{r[0]} << 8) | r[1];
    if (r[2] != 0 || r[3] != 0) {
        reason = "bad RDW: bytes 3 and 4 are not zero (spanned records are not read)";
        return kFatal;
    }
    if (described < 4) {
        reason = "bad RDW: record length " + std::to_string(described);
        return kFatal;
    }
    if (format_ == RecordFormat::kRdwBlock) {
        if (described > blockLeft_) {
            reason = "bad RDW: record of " + std::to_string(described) + " bytes in a block with " +
                     std::to_string(blockLeft_) + " left";
            return kFatal;
        }
        blockLeft_ -= described;
    }
    if (!Fill(described)) {
        reason = "bad RDW: record of " + std::to_string(described) + " bytes cut by the end of the file";
        return kFatal;
    }
    data = buffer_.get() + begin_ + 4;
    length = described - 4;
    return Take(described, length, "RDW record of ", reason);
}

RecordReader::Status RecordReader::Take(size_t taken, size_t length, const char* what, std::string& reason) {
    begin_ += taken;
    consumed_ += taken;
    ++records_;
    if (length != recordLength_ && !shorter_) {
        reason = what + std::to_string(length) + " bytes, the record has " + std::to_string(recordLength_);
        return kWrongLength;
    }
    return kRecord;
}

bool RecordReader::Skip(long long count, std::string& reason) {
    if (count <= 0) return true;
    if (format_ == RecordFormat::kFixed && begin_ == end_ && recordLength_ > 0) {
        // More bytes than a file can hold: past the end, nothing is left to read.
        if (count > std::numeric_limits<long long>::max() / static_cast<long long>(recordLength_)) return false;
        long long bytes = count * static_cast<long long>(recordLength_);
#ifdef _WIN32
        bool sought = _fseeki64(in_, bytes, SEEK_CUR) == 0;
#else
        bool sought = fseeko(in_, static_cast<off_t>(bytes), SEEK_CUR) == 0;
#endif
        if (sought) {
            consumed_ += static_cast<uint64_t>(bytes);
            records_ += count;
            return true;
        }
        std::clearerr(in_);
    }
    const unsigned char* data;
    size_t length;
    for (long long i = 0; i < count; ++i) {
        Status status = Next(data, length, reason);
        if (status == kEnd || status == kFatal) return false;
    }
    return true;
}

RecordWriter::RecordWriter(std::FILE* out, RecordFormat format, size_t blockSize, bool crlf)
    : out_(out), format_(format), blockSize_(blockSize), crlf_(crlf) {
    pending_.reserve(kChunk + 64);
}

RecordWriter::~RecordWriter() = default;

void RecordWriter::Hold(std::string* held) {
    held_ = held;
    held_->clear();
    // A room already used (the caller's from an earlier run) in place of a fresh one.
    if (pending_.empty() && held_->capacity() >= pending_.capacity()) pending_.swap(*held_);
}

bool RecordWriter::Drain(bool all) {
    if (failed_) return false;
    if (held_ != nullptr) {
        if (!pending_.empty() && (all || pending_.size() >= kChunk)) {
            if (held_->empty()) {
                held_->swap(pending_);
                pending_.clear();
                if (pending_.capacity() < kChunk + 64) pending_.reserve(kChunk + 64);
            } else {
                held_->append(pending_);
                pending_.clear();
            }
            written_ += pendingRecords_;
            pendingRecords_ = 0;
        }
        return true;
    }
    if (!pending_.empty() && (all || pending_.size() >= kChunk)) {
        // Through the stream's own buffer too: the records counted are those the output took.
        if (std::fwrite(pending_.data(), 1, pending_.size(), out_) != pending_.size() || std::fflush(out_) != 0) {
            failed_ = true;
        } else {
            written_ += pendingRecords_;
        }
        pending_.clear();
        pendingRecords_ = 0;
    }
    return !failed_;
}

bool RecordWriter::FlushBlock() {
    if (block_.empty()) return true;
    // A block up to 32767 bytes has the length in its first two bytes; a longer one
    // takes the extended form, a 31-bit length with the top bit set.
    uint32_t total = static_cast<uint32_t>(block_.size() + 4);
    uint32_t word = total > 0x7FFF ? (0x80000000u | total) : (total << 16);
    char bdw[4] = {static_cast<char>(word >> 24), static_cast<char>(word >> 16), static_cast<char>(word >> 8),
                   static_cast<char>(word)};
    pending_.append(bdw, 4);
    pending_ += block_;
    block_.clear();
    pendingRecords_ += blockRecords_;
    blockRecords_ = 0;
    return Drain(false);
}

bool RecordWriter::Write(const unsigned char* data, size_t length) {
    const char* bytes = reinterpret_cast<const char*>(data);
    refused_.clear();
    switch (format_) {
    case RecordFormat::kFixed:
        pending_.append(bytes, length);
        break;
    case RecordFormat::kLines:
        if (trimLines_) {
            while (length > trimLeast_ && data[length - 1] == trimBlank_) --length;
        }
        pending_.append(bytes, length);
        pending_.append(crlf_ ? "\r\n" : "\n");
        break;
    case RecordFormat::kGnuCobol:
    case RecordFormat::kGnuCobol1:
    case RecordFormat::kGnuCobol2:
    case RecordFormat::kGnuCobol3: {
        // The header holds the data's length alone.
        const bool two = format_ == RecordFormat::kGnuCobol || format_ == RecordFormat::kGnuCobol3;
        if ((two && length > 0xFFFF) || length > 0x7FFFFFFF) {
            // Not the output's failure: the records before it stand.
            refused_ = "a record of " + std::to_string(length) + " bytes is longer than its header can describe (" +
                       (two ? "65535 bytes at most; --records gnucobol-1 or gnucobol-2 take longer ones)"
                            : "2147483647 bytes at most)");
            return false;
        }
        const uint32_t n = static_cast<uint32_t>(length);
        char header[4] = {0, 0, 0, 0};
        if (two) {
            header[0] = static_cast<char>(n >> 8);
            header[1] = static_cast<char>(n & 0xFF);
        } else if (format_ == RecordFormat::kGnuCobol1) {
            header[0] = static_cast<char>(n >> 24);
            header[1] = static_cast<char>(n >> 16);
            header[2] = static_cast<char>(n >> 8);
            header[3] = static_cast<char>(n);
        } else {
            header[0] = static_cast<char>(n);
            header[1] = static_cast<char>(n >> 8);
            header[2] = static_cast<char>(n >> 16);
            header[3] = static_cast<char>(n >> 24);
        }
        pending_.append(header, GnuCobolHeader(format_));
        pending_.append(bytes, length);
        break;
    }
    case RecordFormat::kRdw:
    case RecordFormat::kRdwBlock: {
        size_t described = length + 4;
        if (described > 0xFFFF) {
            refused_ = "a record of " + std::to_string(length) +
                       " bytes is longer than an RDW can describe (65531 bytes at most; --records gnucobol-1 or "
                       "fixed take longer ones)";
            return false;
        }
        char rdw[4] = {static_cast<char>(described >> 8), static_cast<char>(described & 0xFF), 0, 0};
        if (format_ == RecordFormat::kRdw) {
            pending_.append(rdw, 4);
            pending_.append(bytes, length);
            break;
        }
        if (!block_.empty() && block_.size() + described + 4 > blockSize_ && !FlushBlock()) return false;
        block_.append(rdw, 4);
        block_.append(bytes, length);
        ++blockRecords_;
        return Drain(false);
    }
    }
    ++pendingRecords_;
    return Drain(false);
}

bool RecordWriter::Finish() {
    if (!FlushBlock()) return false;
    if (!Drain(true)) return false;
    if (held_ == nullptr && std::fflush(out_) != 0) failed_ = true;
    return !failed_;
}

}  // namespace quillbox
