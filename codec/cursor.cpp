// The record cursor: the one decode loop of every front end.
#include "cursor.h"

#include "layoutplan.h"
#include "rectypes.h"
#include "runfaults.h"
#include "variableoccurs.h"

namespace quillbox {

RecordSource::~RecordSource() = default;

namespace {

// The one rule of records shorter than the layout: a record of OCCURS DEPENDING ON
// tables stored as their counts say is as long as what it holds (the decoder checks its
// length); a short text line whose missing bytes are all text is the record padded with
// blanks.
void AllowShortRecords(DataSetup& setup, RecordSource& source) {
    if (setup.Variable() != nullptr && setup.Variable()->VariableLength()) {
        source.AcceptShorter();
    } else if (setup.Options().records == RecordFormat::kLines) {
        source.PadShortLines(LeastNonTextLength(setup.Plan()), setup.BlankByte());
    }
}

}  // namespace

void PrepareReader(DataSetup& setup, RecordReader& reader) {
    FileRecords records(reader, 0, -1);
    AllowShortRecords(setup, records);
}

FileRecords::FileRecords(RecordReader& reader, long long skip, long long count, long long first)
    : reader_(reader), skip_(skip), count_(count), next_(first) {}

RecordSource::Status FileRecords::Next(long long& number, const unsigned char*& data, size_t& length,
                                       std::string& reason) {
    if (ended_) return kEnd;
    if (!started_) {
        started_ = true;
        if (!reader_.Skip(skip_, reason)) {
            // The input ended within the records passed over, or broke there.
            ended_ = true;
            if (reason.empty()) return kEnd;
            number = 0;
            return kFatal;
        }
        if (skip_ > 0) next_ += skip_;
    }
    if (count_ >= 0 && taken_ >= count_) {
        ended_ = true;
        return kEnd;
    }
    RecordReader::Status status = reader_.Next(data, length, reason);
    if (status == RecordReader::kEnd) {
        ended_ = true;
        return kEnd;
    }
    number = next_++;
    ++taken_;
    if (status == RecordReader::kFatal) {
        ended_ = true;
        return kFatal;
    }
    return status == RecordReader::kWrongLength ? kWrongLength : kRecord;
}

void RunReport::Add(const RunFault& fault) {
    if (fault.kind == RunFault::kValue || fault.kind == RunFault::kRecord) {
        ++faults;
        ++byCode[fault.code];
    } else if (fault.kind == RunFault::kView) {
        ++views;
    }
    if (first.size() >= kFirstKept) return;
    ReportedFault kept;
    kept.code = fault.code;
    kept.kind = fault.kind;
    kept.side = fault.side;
    kept.record = fault.record;
    if (fault.field != nullptr) {
        kept.item = fault.field->column;
        kept.offset = fault.offset;
    }
    kept.reason = fault.reason;
    first.push_back(std::move(kept));
}

RunResult RunReport::Result() const {
    RunResult result;
    result.read = read;
    result.written = written;
    result.bad = bad;
    result.blanks = blanks;
    result.padded = padded;
    result.firstPadded = firstPadded;
    result.stopped = stopped;
    result.failed = failed;
    return result;
}

// The caller's observer, with the report hearing every fault first.
class RecordCursor::Tee : public RunObserver {
public:
    Tee(RunObserver& observer, RunReport& report) : observer_(observer), report_(report) {}
    void Fault(const RunFault& fault) override {
        report_.Add(fault);
        observer_.Fault(fault);
    }
    void Progress(long long records, uint64_t bytes) override { observer_.Progress(records, bytes); }
    void Rejected(long long record, const unsigned char* data, size_t length) override {
        observer_.Rejected(record, data, length);
    }

private:
    RunObserver& observer_;
    RunReport& report_;
};

RecordCursor::RecordCursor(DataSetup& setup, RecordSource& source, std::vector<RowSink*> sinks,
                           RunObserver& observer)
    : setup_(&setup), source_(source), sinks_(std::move(sinks)), observer_(observer) {
    sinks_.resize(1);
    AllowShortRecords(setup, source_);
    tee_.reset(new Tee(observer_, report_));
    decoders_.emplace_back(new RowDecoder(setup));
}

RecordCursor::RecordCursor(RecordTypes& types, RecordSource& source, std::vector<RowSink*> sinks,
                           RunObserver& observer)
    : types_(&types), source_(source), sinks_(std::move(sinks)), observer_(observer) {
    sinks_.resize(types.Count());
    tee_.reset(new Tee(observer_, report_));
    for (size_t t = 0; t < types.Count(); ++t) decoders_.emplace_back(new RowDecoder(types.Setup(t)));
}

RecordCursor::~RecordCursor() = default;

size_t RecordCursor::TypeCount() const { return types_ != nullptr ? types_->Count() : 1; }

DataSetup& RecordCursor::SetupOf(size_t type) { return types_ != nullptr ? types_->Setup(type) : *setup_; }

const DataOptions& RecordCursor::Options() const {
    return types_ != nullptr ? types_->Setup(0).Options() : setup_->Options();
}

bool RecordCursor::VariableFormat() const { return Options().records != RecordFormat::kFixed; }

void RecordCursor::Begin() {
    started_ = true;
    writtenOf_.assign(TypeCount(), 0);
    begun_.assign(TypeCount(), false);
    for (size_t t = 0; t < TypeCount(); ++t) blanksBefore_ += SetupOf(t).Values().Blanks();
    for (size_t t = 0; t < TypeCount(); ++t) {
        if (sinks_[t] == nullptr) continue;
        if (!sinks_[t]->Begin(SetupOf(t).Plan())) {
            Fail(RunFault::kTable, 0, sinks_[t]->Failure(), FaultCode::kIo);
            return;
        }
        begun_[t] = true;
    }
}

RecordCursor::Step RecordCursor::Fail(RunFault::Side side, long long record, const std::string& reason,
                                      FaultCode code) {
    RunFault fault = Fatal(side, record, reason);
    fault.code = code;
    tee_->Fault(fault);
    report_.failed = true;
    done_ = true;
    return kFatal;
}

RecordCursor::Step RecordCursor::Bad(const RunFault& fault, const unsigned char* data, size_t length) {
    ++report_.bad;
    tee_->Rejected(fault.record, data, length);
    tee_->Fault(fault);
    // A record that has no layout to decode it by has no row, under kNull too.
    if (Options().onError == OnError::kStop) {
        report_.stopped = true;
        done_ = true;
        return kStopped;
    }
    ++report_.skipped;
    return kSkipped;
}

RecordCursor::Step RecordCursor::Next() {
    if (!started_) Begin();
    if (done_) return report_.failed ? kFatal : report_.stopped ? kStopped : kEnd;
    const unsigned char* data = nullptr;
    size_t length = 0;
    reason_.clear();
    RecordSource::Status status = source_.Next(number_, data, length, reason_);
    if (status == RecordSource::kEnd) {
        done_ = true;
        return kEnd;
    }
    if (status == RecordSource::kFatal) return Fail(RunFault::kData, number_, reason_, FaultCode::kFraming);
    ++report_.read;
    type_ = 0;
    // With record types the source knows only the longest record: a variable record of
    // another length is checked against its own type below.
    if (status == RecordSource::kWrongLength && !(types_ != nullptr && VariableFormat())) {
        RunFault fault;
        fault.kind = RunFault::kRecord;
        fault.record = number_;
        fault.reason = reason_;
        const size_t expected = static_cast<size_t>(types_ != nullptr ? types_->MaxLength() : setup_->Plan().recordLength);
        fault.code = length < expected ? FaultCode::kShortRecord : FaultCode::kRecordLength;
        return Bad(fault, data, length);
    }
    if (types_ != nullptr) {
        const Field* key = nullptr;
        Fault chosenFault;
        int chosen = types_->Choose(data, length, key, chosenFault);
        if (chosen < 0) {
            RunFault fault;
            fault.kind = key != nullptr ? RunFault::kValue : RunFault::kRecord;
            fault.record = number_;
            fault.field = key;
            fault.offset = chosenFault.offset;
            fault.reason = std::move(chosenFault.reason);
            fault.code = chosenFault.code;
            return Bad(fault, data, length);
        }
        type_ = static_cast<size_t>(chosen);
        const VariableRecords* variable = types_->Setup(type_).Variable();
        const bool counted = variable != nullptr && variable->VariableLength();
        const size_t expected = static_cast<size_t>(types_->Length(type_));
        if (VariableFormat() && !counted && length != expected) {
            RunFault fault;
            fault.kind = RunFault::kRecord;
            fault.record = number_;
            fault.reason = RecordOfText(Options().records) +
                           std::to_string(length) + " bytes, record " + types_->Name(type_) + " has " +
                           std::to_string(expected);
            fault.code = length < expected ? FaultCode::kShortRecord : FaultCode::kRecordLength;
            return Bad(fault, data, length);
        }
    }
    return Decode(data, length);
}

RecordCursor::Step RecordCursor::Decode(const unsigned char* data, size_t length) {
    RowSink* sink = sinks_[type_];
    if (sink == nullptr) {
        // The caller takes no rows of this type.
        ++report_.skipped;
        return kSkipped;
    }
    DataSetup& setup = SetupOf(type_);
    bool directFailed = false;
    // Straight from the record's bytes only where the cells would hold the codec's own
    // UTF-8 (not text converted to a table's code page) at the layout's places.
    if (setup.Variable() == nullptr && setup.TableText() == nullptr &&
        sink->DirectRow(setup.Values(), data, directFailed)) {
        if (directFailed) {
            sinkFailed_ = true;
            report_.failed = true;
            done_ = true;
            return kFatal;
        }
    } else {
        RowDecoder::Outcome outcome = decoders_[type_]->DecodeRecord(number_, data, length, cells_, *tee_);
        if (outcome != RowDecoder::kGood) {
            ++report_.bad;
            tee_->Rejected(number_, data, length);
        }
        if (outcome == RowDecoder::kStop) {
            report_.stopped = true;
            done_ = true;
            return kStopped;
        }
        if (outcome == RowDecoder::kSkip) {
            ++report_.skipped;
            return kSkipped;
        }
        if (!sink->Row(setup.Plan(), cells_)) {
            sinkFailed_ = true;
            report_.failed = true;
            done_ = true;
            return kFatal;
        }
    }
    ++report_.written;
    ++writtenOf_[type_];
    tee_->Progress(report_.written, source_.Consumed());
    return kRow;
}

RecordCursor::Step RecordCursor::Run(long long records, long long rows) {
    const long long readBefore = report_.read, writtenBefore = report_.written;
    Step step = kEnd;
    for (;;) {
        if (records >= 0 && report_.read - readBefore >= records) break;
        if (rows >= 0 && report_.written - writtenBefore >= rows) break;
        step = Next();
        if (step == kStopped || step == kEnd || step == kFatal) break;
    }
    return step;
}

RunResult RecordCursor::Finish() {
    if (!started_) Begin();
    if (finished_) return report_.Result();
    finished_ = true;
    done_ = true;
    // Every sink begun is finished, also after a stop: the rows before it are written.
    bool finished = !sinkFailed_;
    std::string failure;
    for (size_t t = 0; t < TypeCount(); ++t) {
        if (!begun_[t]) continue;
        if (!sinks_[t]->Finish() && finished) {
            finished = false;
            failure = sinks_[t]->Failure();
        }
        if (sinkFailed_ && failure.empty()) failure = sinks_[t]->Failure();
    }
    if (!finished) {
        RunFault fault = Fatal(RunFault::kTable, 0, failure.empty() ? "cannot write the output" : failure);
        fault.code = FaultCode::kIo;
        tee_->Fault(fault);
        report_.failed = true;
    }
    // Of the rows given, those the sinks stored: each sink counts its own.
    long long stored = 0;
    for (size_t t = 0; t < TypeCount(); ++t) {
        if (sinks_[t] != nullptr) stored += sinks_[t]->Stored(writtenOf_[t]);
    }
    report_.written = stored;
    long long blanks = 0;
    for (size_t t = 0; t < TypeCount(); ++t) blanks += SetupOf(t).Values().Blanks();
    report_.blanks = blanks - blanksBefore_;
    report_.padded = source_.Padded();
    report_.firstPadded = source_.FirstPadded();
    if (source_.ReadFailed()) {
        RunFault fault = Fatal(RunFault::kData, 0, "read error");
        fault.code = FaultCode::kIo;
        tee_->Fault(fault);
        report_.failed = true;
    }
    return report_.Result();
}

RunResult DecodeRecords(DataSetup& setup, RecordReader& reader, RowSink& sink, RunObserver& observer) {
    FileRecords records(reader, setup.Options().skip, setup.Options().count);
    RecordCursor cursor(setup, records, {&sink}, observer);
    cursor.Run();
    return cursor.Finish();
}

RunResult DecodeRecordTypes(RecordTypes& types, RecordReader& reader, const std::vector<RowSink*>& sinks,
                            RunObserver& observer) {
    const DataOptions& options = types.Setup(0).Options();
    FileRecords records(reader, options.skip, options.count);
    RecordCursor cursor(types, records, sinks, observer);
    cursor.Run();
    return cursor.Finish();
}

RunResult EncodeLoop(TypedRowSource& rows, const std::vector<RowEncoder*>& encoders, RecordTypes* types,
                     const DataOptions& options, RecordWriter& writer, RunObserver& observer, RowSpan& span) {
    RunResult result;
    const long long skip = span.skip;
    const long long count = span.count;
    span.rows = 0;
    std::string error, rowError;
    if (!rows.Begin(error)) {
        observer.Fault(Fatal(RunFault::kTable, 0, error, FaultCode::kBadRow));
        result.failed = true;
        return result;
    }
    long long number = 0;
    for (;;) {
        rowError.clear();
        size_t type = 0;
        if (!rows.Next(type, rowError, error)) {
            if (!error.empty()) {
                observer.Fault(Fatal(RunFault::kTable, number + 1, error, FaultCode::kBadRow));
                result.failed = true;
            }
            break;
        }
        ++number;
        if (number <= skip) continue;
        if (count >= 0 && number - skip > count) break;
        ++result.read;
        if (!rowError.empty()) {
            if (BadRecord(RunFault::kTable, number, rowError, FaultCode::kBadRow, options, observer, result)) break;
            continue;
        }
        const unsigned char* bytes;
        size_t length;
        if (!encoders[type]->Encode(number, rows.Cells(), rows.Lent(), rows.LentBytes(), observer, result, bytes, length)) {
            if (result.stopped) break;
            continue;
        }
        if (types != nullptr && types->HasRules()) {
            // Decode chooses the record's layout by its type field: a record whose field
            // chooses another (or none) would not read back as the row's record.
            const Field* key = nullptr;
            Fault chosenFault;
            int chosen = types->Choose(bytes, length, key, chosenFault);
            if (chosen != static_cast<int>(type)) {
                RunFault fault;
                fault.kind = key != nullptr ? RunFault::kValue : RunFault::kRecord;
                fault.side = RunFault::kTable;
                fault.record = number;
                fault.field = key;
                fault.offset = chosenFault.offset;
                fault.code = FaultCode::kRecordType;
                fault.reason = "the row's \"record\" is " + types->Name(type) + ", but its record-type field " +
                               (key != nullptr ? key->column + " " : std::string()) +
                               (chosen >= 0 ? "chooses " + types->Name(static_cast<size_t>(chosen))
                                            : "chooses no record (" + chosenFault.reason + ")");
                ++result.bad;
                observer.Fault(fault);
                if (options.onError == OnError::kStop) {
                    result.stopped = true;
                    break;
                }
                continue;   // the record cannot be written as another's: it is left out
            }
        }
        if (!writer.Write(bytes, length)) {
            if (!writer.Refused().empty()) {
                // The row's record does not fit the record format: the records before it are kept.
                observer.Fault(Fatal(RunFault::kTable, number, writer.Refused(), FaultCode::kRecordLength));
            } else {
                observer.Fault(Fatal(RunFault::kData, 0, "cannot write the record", FaultCode::kIo));
            }
            result.failed = true;
            break;
        }
        ++result.written;
        observer.Progress(result.written, rows.Consumed());
    }
    if (!writer.Finish()) {
        observer.Fault(Fatal(RunFault::kData, 0, "cannot write the output", FaultCode::kIo));
        result.failed = true;
    }
    result.written = writer.RecordsWritten();
    span.rows = number;
    if (rows.ReadFailed()) {
        observer.Fault(Fatal(RunFault::kTable, 0, "read error", FaultCode::kIo));
        result.failed = true;
    }
    return result;
}

}  // namespace quillbox
