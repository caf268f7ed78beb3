// What the data runs' loops share (decode and encode, of one layout or of record
// types): their faults and the encoding of a row. Internal to the codec.
#ifndef QUILLBOX_CODEC_RUNFAULTS_H
#define QUILLBOX_CODEC_RUNFAULTS_H

#include <cstdio>
#include <string>
#include <vector>

#include "datacodec.h"
#include "valuecodec.h"

namespace quillbox {

// A whole record or row that is bad (counted, heard); true when the run stops on it.
bool BadRecord(RunFault::Side side, long long record, const std::string& reason, FaultCode code,
               const DataOptions& options, RunObserver& observer, RunResult& result);
// A failure that ends the run.
RunFault Fatal(RunFault::Side side, long long record, std::string reason, FaultCode code = FaultCode::kOther);

struct Cell;

// Encodes rows into records of a setup's layout, `recordLength` bytes (blanks after the
// layout's own bytes: the longest record type's length in a fixed file).
class RowEncoder {
public:
    RowEncoder(DataSetup& setup, size_t recordLength);
    // Row `number` (`lent`, texts lent from `cells` or from the source; `cells` count the
    // variable tables) into a record: true with the `bytes` and `length` to write (the
    // present occurrences only in a variable record). False when the row is left out,
    // or the run stops (`result.stopped`); its faults heard by `observer` and counted in
    // `result`. The texts within `span` may be read past their ends.
    bool Encode(long long number, const std::vector<Cell>& cells, std::vector<LentCell>& lent, LentSpan span,
                RunObserver& observer, RunResult& result, const unsigned char*& bytes, size_t& length);

private:
    DataSetup& setup_;
    size_t length_;
    std::vector<unsigned char> record_;
    std::vector<std::string> converted_;
    std::vector<QuickStore> quick_;   // each column's quick form
};

// Lends the texts of `cells` to `lent`.
void LendCells(const std::vector<Cell>& cells, std::vector<LentCell>& lent);

// The rows of an encode run, each of a record type (0 with one layout).
class TypedRowSource {
public:
    virtual ~TypedRowSource() = default;
    // Before the first row; false with `error` when the table cannot be read.
    virtual bool Begin(std::string& /*error*/) { return true; }
    // The next row: its type, its cells and their lent texts (Cells(), Lent()). False at
    // the end, with `error` when the table broke off; `rowError` set for a row that does
    // not fit (the rows after it can be read).
    virtual bool Next(size_t& type, std::string& rowError, std::string& error) = 0;
    virtual const std::vector<Cell>& Cells() const = 0;
    virtual std::vector<LentCell>& Lent() = 0;
    // Where the texts of Lent() lie (RowSource::LentBytes); empty by default.
    virtual LentSpan LentBytes() const { return LentSpan(); }
    virtual uint64_t Consumed() const = 0;
    virtual bool ReadFailed() const = 0;
};

class RecordTypes;

// A part of a table encoded alone (a run on several threads): the rows of it passed
// over and taken at most (in place of the options' skip and count), and, once the loop
// has ended, the rows it read (passed over, bad and the one past the count included).
struct RowSpan {
    long long skip = 0;
    long long count = -1;   // -1: every row
    long long rows = 0;
};

// The one encode loop: the rows of `rows` (skip and count of `span` applied: the
// options' own for a whole table) into records by the encoder of their type, written to `writer`.
// With `types`, a record whose record-type field does not choose the row's type is bad
// data.
RunResult EncodeLoop(TypedRowSource& rows, const std::vector<RowEncoder*>& encoders, RecordTypes* types,
                     const DataOptions& options, RecordWriter& writer, RunObserver& observer,
                     RowSpan& span);

// EncodeRows over a span of a table.
RunResult EncodeRows(DataSetup& setup, RowSource& source, RecordWriter& writer, RunObserver& observer,
                     RowSpan& span);
// EncodeRecordTypes over JSON lines in memory, read where they are (they must outlive
// the run).
RunResult EncodeRecordTypes(RecordTypes& types, const char* lines, size_t size, RecordWriter& writer,
                            RunObserver& observer, RowSpan& span);

}  // namespace quillbox

#endif
