// The record cursor: the one loop over the records of a data file (or of any other
// record source) that every front end steps. It pulls a record, chooses its record type
// (one layout: always the first), decodes it, applies the bad-data policy, hands the row
// to the type's sink and counts what happened in a run report. It can be stepped one
// record at a time, n records or n rows at a time, or to the end; it keeps its place
// between steps, so a caller may stop and go on (a program's reader, a chunk of rows).
//
//     RecordReader reader(in, options.records, length);
//     FileRecords records(reader, options.skip, options.count);
//     RecordCursor cursor(setup, records, {&sink}, observer);
//     RunResult result = cursor.Finish(cursor.Run());
//
// The faults a step meets go to the caller's observer (RunObserver::Fault, the one
// place that hears bad data) and into Report(); the policy (OnError) of the setups'
// options decides whether the record stops the run, is left out, or gives a row with
// null cells.
#ifndef QUILLBOX_CODEC_CURSOR_H
#define QUILLBOX_CODEC_CURSOR_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "datacodec.h"
#include "records.h"
#include "valuecodec.h"

namespace quillbox {

class RecordTypes;

// Where a cursor's records come from: a data file's reader, a window's edited rows.
class RecordSource {
public:
    enum Status {
        kRecord,        // a record
        kWrongLength,   // a record that is not the layout's length (`reason` says how): bad data
        kFatal,         // nothing more can be read (`reason` says why)
        kEnd            // no more records
    };
    virtual ~RecordSource();
    // The next record: its number (from 1) and bytes, valid until the next call.
    virtual Status Next(long long& number, const unsigned char*& data, size_t& length, std::string& reason) = 0;
    // Bytes of the input consumed so far (for progress); 0 when unknown.
    virtual uint64_t Consumed() const { return 0; }
    // Whether the input failed to read after the records given (checked at the end).
    virtual bool ReadFailed() const { return false; }
    // Records shorter than the longest are records (variable records, OCCURS DEPENDING ON).
    virtual void AcceptShorter() {}
    // Short text lines read as the record padded with blanks (RecordReader::PadShortLines),
    // and how many were, with the numbers of the first.
    virtual void PadShortLines(size_t /*least*/, unsigned char /*blank*/) {}
    virtual long long Padded() const { return 0; }
    virtual std::vector<long long> FirstPadded() const { return {}; }
};

// The records of a RecordReader: `skip` records passed over first (numbers go on after
// them), `count` records at most (-1: all), the first record read numbered `first`.
class FileRecords : public RecordSource {
public:
    FileRecords(RecordReader& reader, long long skip, long long count, long long first = 1);
    Status Next(long long& number, const unsigned char*& data, size_t& length, std::string& reason) override;
    uint64_t Consumed() const override { return reader_.Consumed(); }
    bool ReadFailed() const override { return reader_.ReadFailed(); }
    void AcceptShorter() override { reader_.AcceptShorter(); }
    void PadShortLines(size_t least, unsigned char blank) override { reader_.PadShortLines(least, blank); }
    long long Padded() const override { return reader_.Padded(); }
    std::vector<long long> FirstPadded() const override { return reader_.FirstPadded(); }

private:
    RecordReader& reader_;
    long long skip_, count_, next_, taken_ = 0;
    bool started_ = false, ended_ = false;
};

// Records given by a function of the caller's (a window's rows, edited or read, a
// program's buffers): it is called as RecordSource::Next is.
class FunctionRecords : public RecordSource {
public:
    using NextRecord = std::function<Status(long long& number, const unsigned char*& data, size_t& length,
                                            std::string& reason)>;
    explicit FunctionRecords(NextRecord next) : next_(std::move(next)) {}
    Status Next(long long& number, const unsigned char*& data, size_t& length, std::string& reason) override {
        return next_(number, data, length, reason);
    }

private:
    NextRecord next_;
};

// A fault as a report keeps it: its code and place, the item's name copied.
struct ReportedFault {
    FaultCode code = FaultCode::kOther;
    RunFault::Kind kind = RunFault::kValue;
    RunFault::Side side = RunFault::kData;
    long long record = 0;   // from 1; 0 when in no record
    std::string item;       // the column (UTF-8); empty for a whole record
    int offset = -1;        // the byte in the record; -1 when in no item
    std::string reason;     // English text
};

// What a run did: its counts, how it ended, and its first faults with their codes.
struct RunReport {
    static constexpr size_t kFirstKept = 100;   // faults kept in `first`
    long long read = 0;      // records (decode) or rows (encode) read
    long long written = 0;   // rows (decode) or records (encode) given to the output
    long long bad = 0;       // records or rows with bad data (left out, nulled or stopped on)
    long long skipped = 0;   // records or rows that gave no output: bad ones left out, types not taken
    long long blanks = 0;    // blank numbers read as null or 0
    long long padded = 0;    // short lines padded with blanks
    std::vector<long long> firstPadded;
    bool stopped = false;    // ended on bad data under OnError::kStop
    bool failed = false;     // ended on a fatal fault
    long long faults = 0;    // bad-data faults heard (several may be in one record)
    long long views = 0;     // redefining views that did not decode (every view taken)
    std::map<FaultCode, long long> byCode;   // bad-data faults per code
    std::vector<ReportedFault> first;        // the first kFirstKept faults, fatal ones included

    // Takes `fault` into the counts and the first faults.
    void Add(const RunFault& fault);
    // The counts as the loops' result.
    RunResult Result() const;
};

// The one record loop. Sinks are per record type (index of RecordTypes; one layout: one
// sink); a null sink takes no rows (the type's records count as skipped). The sinks are
// begun at the first step and finished by Finish().
class RecordCursor {
public:
    enum Step {
        kRow,       // a record gave a row (to its type's sink)
        kSkipped,   // a record gave no row: bad data left out, or a type without a sink
        kStopped,   // bad data under OnError::kStop: the run ends
        kEnd,       // no more records
        kFatal      // the run cannot go on (framing, a read or a sink failed)
    };
    // One layout.
    RecordCursor(DataSetup& setup, RecordSource& source, std::vector<RowSink*> sinks, RunObserver& observer);
    // Records of several types, chosen by the types' rules.
    RecordCursor(RecordTypes& types, RecordSource& source, std::vector<RowSink*> sinks, RunObserver& observer);
    ~RecordCursor();
    RecordCursor(const RecordCursor&) = delete;
    RecordCursor& operator=(const RecordCursor&) = delete;

    // One record. After kStopped, kEnd and kFatal every further step gives the same.
    Step Next();
    // Steps until `records` records are read or `rows` rows given (each -1: no limit),
    // or the run ends; the last step's result (kRow or kSkipped when a limit ended it).
    Step Run(long long records = -1, long long rows = -1);
    // Whether the run has ended (stopped, end, fatal).
    bool Done() const { return done_; }

    // The last record read: its number, its type, and (after kRow) its decoded cells,
    // unless the sink took the row straight from the record's bytes (RowSink::DirectRow).
    long long Number() const { return number_; }
    size_t Type() const { return type_; }
    const RowCells& Cells() const { return cells_; }

    // The counts and faults so far.
    const RunReport& Report() const { return report_; }
    // Finishes the sinks (once: the rows before a stop are written too), takes what they
    // stored as written, and gives the counts; a sink or read that failed is a fatal fault.
    RunResult Finish();

private:
    class Tee;
    void Begin();
    DataSetup& SetupOf(size_t type);
    size_t TypeCount() const;
    const DataOptions& Options() const;
    bool VariableFormat() const;
    Step Bad(const RunFault& fault, const unsigned char* data, size_t length);
    Step Fail(RunFault::Side side, long long record, const std::string& reason, FaultCode code);
    Step Decode(const unsigned char* data, size_t length);

    DataSetup* setup_ = nullptr;
    RecordTypes* types_ = nullptr;
    RecordSource& source_;
    std::vector<RowSink*> sinks_;
    RunObserver& observer_;
    std::unique_ptr<Tee> tee_;
    std::vector<std::unique_ptr<RowDecoder>> decoders_;
    std::vector<long long> writtenOf_;
    std::vector<bool> begun_;
    RowCells cells_;
    RunReport report_;
    long long number_ = 0, blanksBefore_ = 0;
    size_t type_ = 0;
    bool started_ = false, done_ = false, finished_ = false, sinkFailed_ = false;
    std::string reason_;
};

}  // namespace quillbox

#endif
