// Record framing of data files: fixed-length records, text lines, variable records
// with a record descriptor word (RDW) and RDW records in blocks with a block
// descriptor word (BDW). Reading and writing go through large buffers, so that memory
// does not depend on the file's size.
#ifndef QUILLBOX_DATA_RECORDS_H
#define QUILLBOX_DATA_RECORDS_H

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace quillbox {

// kGnuCobol..kGnuCobol3: GnuCOBOL's variable-length sequential files, each record after
// a header holding the length of its data alone, in the forms of its runtime's
// COB_VARSEQ_FORMAT 0 to 3: 0, 2 bytes big-endian and 2 zero bytes (its default); 1, 4
// bytes big-endian; 2, 4 bytes in the machine's order (little-endian, as on the PCs it
// runs on); 3, 2 bytes big-endian.
enum class RecordFormat { kFixed, kLines, kRdw, kRdwBlock, kGnuCobol, kGnuCobol1, kGnuCobol2, kGnuCobol3 };

// Parses "fixed", "lines", "rdw", "rdw-block", "gnucobol" (also "gnucobol-0"),
// "gnucobol-1", "gnucobol-2", "gnucobol-3"; false for anything else.
bool ParseRecordFormat(const std::string& name, RecordFormat& format);
// Whether records of `format` carry their own length (every format but fixed).
bool VariableFormat(RecordFormat format);
// How a record of `format` is named in messages: "line of ", "RDW record of ", "record of ".
const char* RecordOfText(RecordFormat format);

// Of the short lines a reader pads with blanks, the first ones whose numbers it keeps.
constexpr size_t kPaddedShown = 5;

class RecordReader {
public:
    enum Status {
        kRecord,     // a record of the layout's length
        kWrongLength,// a record of another length (reported; the next one can be read)
        kFatal,      // framing broken (bad descriptor word, line too long): nothing more can be read
        kEnd
    };
    RecordReader(std::FILE* in, RecordFormat format, size_t recordLength);

    // The next record: its bytes stay valid until the next call. `reason` tells what
    // is wrong for kWrongLength and kFatal.
    Status Next(const unsigned char*& data, size_t& length, std::string& reason);
    // Passes over `count` records: by seeking in a fixed-length file when it can,
    // otherwise by reading them. False when the input ended or broke first.
    bool Skip(long long count, std::string& reason);
    // Bytes consumed from the input so far.
    uint64_t Consumed() const { return consumed_; }
    // The input, and whether nothing of it has been read yet (a parallel run may then
    // read it by other means, from the input's place on).
    std::FILE* Input() const { return in_; }
    bool Untouched() const { return end_ == 0 && consumed_ == 0 && !eof_ && !readFailed_; }
    RecordFormat Format() const { return format_; }
    size_t RecordLength() const { return recordLength_; }
    bool ReadFailed() const { return readFailed_; }
    // Whether a reader opened at Consumed() reads the next record: always, except inside
    // a block of rdw-block records (a reader starts at a block descriptor).
    bool AtBoundary() const { return blockLeft_ == 0; }
    // Records of lines or with an RDW of any length are records too (kRecord): variable
    // records, whose length their contents say (OCCURS DEPENDING ON). Longer ones too, so
    // that the layout names what makes them so (a counter past its table's maximum).
    void AcceptShorter() { shorter_ = true; }
    // Lines (kLines) shorter than the record but at least `least` bytes long are the
    // record with the missing bytes `blank`, as GnuCOBOL reads a LINE SEQUENTIAL file
    // whose trailing blanks were dropped: the caller gives the least length that holds
    // every item that is not text.
    void PadShortLines(size_t least, unsigned char blank);
    // Records read so far (those passed over by Skip too), and the lines padded: how
    // many, and the numbers of the first ones.
    long long Padded() const { return padded_; }
    const std::vector<long long>& FirstPadded() const { return firstPadded_; }

private:
    bool Fill(size_t need);
    Status NextFixed(const unsigned char*& data, size_t& length, std::string& reason);
    Status NextLine(const unsigned char*& data, size_t& length, std::string& reason);
    Status NextRdw(const unsigned char*& data, size_t& length, std::string& reason);
    Status NextGnuCobol(const unsigned char*& data, size_t& length, std::string& reason);
    // Moves past the `taken` bytes of a record of `length` bytes; kWrongLength (with `reason`
    // starting with `what`) when that is not the record length.
    Status Take(size_t taken, size_t length, const char* what, std::string& reason);

    std::FILE* in_;
    RecordFormat format_;
    size_t recordLength_;
    std::unique_ptr<unsigned char[]> buffer_;   // not cleared: only bytes read are looked at
    size_t capacity_;
    size_t begin_ = 0;   // first unread byte
    size_t end_ = 0;     // end of the bytes read
    bool eof_ = false;
    bool readFailed_ = false;
    uint64_t consumed_ = 0;
    uint64_t blockLeft_ = 0;   // bytes of records left in the current block (rdw-block)
    bool inBlock_ = false;
    bool shorter_ = false;
    bool padLines_ = false;               // PadShortLines
    size_t padLeast_ = 0;
    unsigned char blank_ = ' ';
    std::unique_ptr<unsigned char[]> paddedRecord_;
    long long records_ = 0, padded_ = 0;
    std::vector<long long> firstPadded_;
};

class RecordWriter {
public:
    // `blockSize`: the most bytes of a block, its BDW included (rdw-block); `crlf`:
    // lines end in CR LF (lines).
    RecordWriter(std::FILE* out, RecordFormat format, size_t blockSize, bool crlf);
    ~RecordWriter();
    RecordWriter(const RecordWriter&) = delete;
    RecordWriter& operator=(const RecordWriter&) = delete;
    // False when the output cannot be written, or when the record is longer than its
    // format can describe (Refused() says so; the writer takes the records after it).
    bool Write(const unsigned char* data, size_t length);
    // Why the last record Write refused was refused; empty when the output failed.
    const std::string& Refused() const { return refused_; }
    // Lines (kLines) written as GnuCOBOL's LINE SEQUENTIAL WRITE writes them: trailing
    // `blank` bytes dropped, but never below `least` bytes (every item that is not text),
    // so that PadShortLines reads the record back.
    void TrimLines(size_t least, unsigned char blank) {
        trimLines_ = true;
        trimLeast_ = least;
        trimBlank_ = blank;
    }
    // The records' bytes gathered into `held` instead of written to the output, for a
    // caller that writes them itself: swapped into it while it is empty (nothing
    // copied), added to it after that; they count as written. `held`'s room is taken
    // for the writer's own buffer until then. The writer's output is then never used (it
    // may be null); call Hold before the first Write.
    void Hold(std::string* held);
    // Writes what is buffered (and the last block); false when the output failed.
    bool Finish();
    // Records whose bytes reached the output.
    long long RecordsWritten() const { return written_; }

private:
    bool FlushBlock();
    bool Drain(bool all);

    std::FILE* out_;
    RecordFormat format_;
    size_t blockSize_;
    bool crlf_;
    bool failed_ = false;
    std::string refused_;
    std::string pending_;   // bytes waiting for the output
    std::string* held_ = nullptr;   // Hold
    std::string block_;     // the block being filled (rdw-block)
    long long pendingRecords_ = 0, blockRecords_ = 0, written_ = 0;
    bool trimLines_ = false;   // TrimLines
    size_t trimLeast_ = 0;
    unsigned char trimBlank_ = ' ';
};

}  // namespace quillbox

#endif
