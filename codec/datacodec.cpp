// The decode and encode runs: records in, table rows out, and back.
#include "datacodec.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "layoutplan.h"
#include "runfaults.h"
#include "tableio.h"
#include "textcodec.h"
#include "valuecodec.h"
#include "variableoccurs.h"

namespace quillbox {

namespace {

template <typename T>
struct OptionName {
    const char* text;
    T value;
};

// Sets `value` to the entry named `text`; false (value untouched) when no entry has that name.
template <typename T, size_t N>
bool ParseOptionName(const std::string& text, const OptionName<T> (&names)[N], T& value) {
    for (const OptionName<T>& name : names) {
        if (text == name.text) {
            value = name.value;
            return true;
        }
    }
    return false;
}

}  // namespace

bool ParseFloatFormat(const std::string& text, FloatFormat& format) {
    static const OptionName<FloatFormat> names[] = {
        {"ieee-le", FloatFormat::kIeeeLe}, {"ieee-be", FloatFormat::kIeeeBe}, {"ibm-hex", FloatFormat::kIbmHex}};
    return ParseOptionName(text, names, format);
}

bool ParseOnError(const std::string& text, OnError& policy) {
    static const OptionName<OnError> names[] = {
        {"stop", OnError::kStop}, {"skip", OnError::kSkip}, {"null", OnError::kNull}};
    return ParseOptionName(text, names, policy);
}

bool ParseTableFormat(const std::string& text, TableFormat& format) {
    static const OptionName<TableFormat> names[] = {
        {"csv", TableFormat::kCsv}, {"jsonl", TableFormat::kJsonl}, {"sqlite", TableFormat::kSqlite}};
    return ParseOptionName(text, names, format);
}

bool ParseNativeOrder(const std::string& text, NativeOrder& order) {
    static const OptionName<NativeOrder> names[] = {{"big", NativeOrder::kBig}, {"little", NativeOrder::kLittle}};
    return ParseOptionName(text, names, order);
}

bool ParseBlankNumeric(const std::string& text, BlankNumeric& policy) {
    static const OptionName<BlankNumeric> names[] = {
        {"error", BlankNumeric::kError}, {"null", BlankNumeric::kNull}, {"zero", BlankNumeric::kZero}};
    return ParseOptionName(text, names, policy);
}

bool ParseJsonNumbers(const std::string& text, JsonNumbers& numbers) {
    static const OptionName<JsonNumbers> names[] = {
        {"exact", JsonNumbers::kExact}, {"number", JsonNumbers::kNumber}, {"string", JsonNumbers::kString}};
    return ParseOptionName(text, names, numbers);
}

bool ParseSignZones(const std::string& text, unsigned& positive, unsigned& negative) {
    size_t comma = text.find(',');
    if (comma == std::string::npos) return false;
    auto number = [](const std::string& part, unsigned& value) {
        if (part.empty()) return false;
        char* end = nullptr;
        unsigned long v = std::strtoul(part.c_str(), &end, 0);
        if (end != part.c_str() + part.size() || v > 0xFF) return false;
        value = static_cast<unsigned>(v);
        return true;
    };
    return number(text.substr(0, comma), positive) && number(text.substr(comma + 1), negative);
}

RunObserver::~RunObserver() = default;
RowSink::~RowSink() = default;
RowSource::~RowSource() = default;

DataSetup::DataSetup() = default;
DataSetup::~DataSetup() = default;

bool DataSetup::Prepare(CopyItem* head, int recordLength, const DataOptions& options, std::string& error) {
    options_ = options;
    plan_.reset(new LayoutPlan);
    if (head == nullptr || recordLength <= 0) {
        error = "the copybook describes no record";
        return false;
    }
    ColumnChoice choice;
    choice.noFiller = options.noFiller;
    choice.naming = options.naming;
    if (!BuildLayoutPlan(head, recordLength, options.redefinesAll, options.serialNo, choice, *plan_, error)) return false;
    variable_.reset(new VariableRecords);
    if (!variable_->Build(head, *plan_, options, error)) return false;
    if (!variable_->Any()) variable_.reset();
    values_ = ValueCodec::Create(options, recordLength, error);
    if (!values_) return false;
    ApplyNativeOrder(*plan_, NativeBigEndian(options.nativeOrder, values_->Text().IsEbcdic()));
    std::string name = options.tableEncoding;
    for (char& c : name) c = FoldByte(c);
    if (name == "utf-8" || name == "utf8") return true;
    table_ = TextCodec::Create(options.tableEncoding, error);
    return table_ != nullptr;
}

unsigned char DataSetup::BlankByte() {
    unsigned char blank = ' ';
    values_->Blank(&blank, 1);
    return blank;
}

namespace {

void EmptyCell(Cell& cell) {
    cell.kind = Cell::kNull;
    cell.text.clear();
}

}  // namespace

bool BadRecord(RunFault::Side side, long long record, const std::string& reason, FaultCode code,
               const DataOptions& options, RunObserver& observer, RunResult& result) {
    ++result.bad;
    RunFault fault;
    fault.kind = RunFault::kRecord;
    fault.side = side;
    fault.record = record;
    fault.reason = reason;
    fault.code = code;
    observer.Fault(fault);
    if (options.onError != OnError::kStop) return false;
    result.stopped = true;
    return true;
}

RunFault Fatal(RunFault::Side side, long long record, std::string reason, FaultCode code) {
    RunFault fault;
    fault.kind = RunFault::kFatal;
    fault.side = side;
    fault.record = record;
    fault.reason = std::move(reason);
    fault.code = code;
    return fault;
}

RowDecoder::RowDecoder(DataSetup& setup) : setup_(setup) {}
RowDecoder::~RowDecoder() = default;

RowDecoder::Outcome RowDecoder::Decode(long long record, const unsigned char* data, RowCells& cells,
                                       RunObserver& observer) {
    const DataOptions& options = setup_.Options();
    const std::vector<Field>& fields = setup_.Plan().fields;
    ValueCodec& values = setup_.Values();
    TextCodec* table = setup_.TableText();
    Outcome outcome = kGood;
    cells.Start(fields.size());
    Fault valueFault;
    const std::vector<unsigned char>* absent = placing_ != nullptr ? &placing_->Absent() : nullptr;
    for (size_t i = 0; i < fields.size(); ++i) {
        const Field& field = fields[i];
        if (absent != nullptr && (*absent)[i]) {
            cells.Put(i, Cell::kNull, nullptr, 0);
            continue;
        }
        bool good = values.Decode(field, data, cells, i, valueFault);
        if (good && table != nullptr && cells.Kind(i) == Cell::kText) {
            if (table->Encode(cells.Text(i), cells.Length(i), converted_)) {
                cells.Null(i);
                cells.Put(i, Cell::kText, converted_.data(), converted_.size());
            } else {
                good = false;
                valueFault.offset = field.offset;
                valueFault.reason = "text has no form in " + options.tableEncoding;
                valueFault.code = FaultCode::kTextForm;
            }
        }
        if (good) continue;
        cells.Null(i);
        RunFault fault;
        fault.kind = options.redefinesAll && field.view ? RunFault::kView : RunFault::kValue;
        fault.record = record;
        fault.field = &field;
        fault.offset = valueFault.offset;
        // In a variable record the item is stored elsewhere than in the layout at its maximum.
        if (placing_ != nullptr && placing_->VariableLength()) fault.offset += placing_->StoredOffset(i) - field.offset;
        fault.reason = std::move(valueFault.reason);
        fault.code = valueFault.code;
        observer.Fault(fault);
        if (fault.kind == RunFault::kView) continue;
        if (options.onError == OnError::kStop) return kStop;
        if (options.onError == OnError::kSkip) return kSkip;
        outcome = kNulled;
    }
    return outcome;
}

RowDecoder::Outcome RowDecoder::Decode(long long record, const unsigned char* data, std::vector<Cell>& cells,
                                       RunObserver& observer) {
    if (!row_) row_.reset(new RowCells);
    Outcome outcome = Decode(record, data, *row_, observer);
    // The cells after a stop or a skip were not decoded: empty, as the row is not used.
    for (size_t i = 0; i < cells.size(); ++i) {
        if (i < row_->Size() && (outcome == kGood || outcome == kNulled)) {
            cells[i].kind = row_->Kind(i);
            cells[i].text.assign(row_->Text(i), row_->Length(i));
        } else {
            EmptyCell(cells[i]);
        }
    }
    return outcome;
}

RowDecoder::Outcome RowDecoder::Place(long long record, const unsigned char* data, size_t length,
                                      const unsigned char*& placed, RunObserver& observer) {
    PlaceFault placeFault;
    placing_ = setup_.Variable();
    if (placing_->Place(data, length, setup_.Values(), placed, placeFault)) return kGood;
    RunFault fault;
    fault.kind = placeFault.column >= 0 ? RunFault::kValue : RunFault::kRecord;
    fault.record = record;
    if (placeFault.column >= 0) fault.field = &setup_.Plan().fields[static_cast<size_t>(placeFault.column)];
    fault.offset = placeFault.offset;
    fault.reason = std::move(placeFault.reason);
    fault.code = placeFault.code;
    observer.Fault(fault);
    OnError policy = setup_.Options().onError;
    return policy == OnError::kStop ? kStop : policy == OnError::kSkip ? kSkip : kNulled;
}

RowDecoder::Outcome RowDecoder::DecodeRecord(long long record, const unsigned char* data, size_t length,
                                             RowCells& cells, RunObserver& observer) {
    if (setup_.Variable() == nullptr) return Decode(record, data, cells, observer);
    const unsigned char* placed = data;
    Outcome placing = Place(record, data, length, placed, observer);
    if (placing == kStop || placing == kSkip) {
        placing_ = nullptr;
        return placing;
    }
    Outcome outcome = Decode(record, placed, cells, observer);
    placing_ = nullptr;
    return outcome == kGood ? placing : outcome;
}

RowDecoder::Outcome RowDecoder::DecodeRecord(long long record, const unsigned char* data, size_t length,
                                             std::vector<Cell>& cells, RunObserver& observer) {
    if (setup_.Variable() == nullptr) return Decode(record, data, cells, observer);
    const unsigned char* placed = data;
    Outcome placing = Place(record, data, length, placed, observer);
    Outcome outcome = placing;
    if (placing != kStop && placing != kSkip) {
        outcome = Decode(record, placed, cells, observer);
        if (outcome == kGood) outcome = placing;
    } else {
        for (Cell& cell : cells) EmptyCell(cell);
    }
    placing_ = nullptr;
    return outcome;
}

RowEncoder::RowEncoder(DataSetup& setup, size_t recordLength)
    : setup_(setup), length_(recordLength), record_(recordLength + 16),
      converted_(setup.TableText() != nullptr ? setup.Plan().fields.size() : 0),
      quick_(setup.Values().QuickStores(setup.Plan().fields)) {}

bool RowEncoder::Encode(long long number, const std::vector<Cell>& cells, std::vector<LentCell>& lent, LentSpan span,
                        RunObserver& observer, RunResult& result, const unsigned char*& bytes, size_t& length) {
    const DataOptions& options = setup_.Options();
    const std::vector<Field>& fields = setup_.Plan().fields;
    ValueCodec& values = setup_.Values();
    TextCodec* table = setup_.TableText();
    VariableRecords* variable = setup_.Variable();
    unsigned char* record = record_.data();
    values.Blank(record, static_cast<int>(length_));
    bool skipRecord = false, recordBad = false;
    PlaceFault placeFault;
    if (variable != nullptr && !variable->Count(cells, placeFault)) {
        // Without its counts the row has no record: it is left out unless the run stops.
        RunFault fault;
        fault.kind = placeFault.column >= 0 ? RunFault::kValue : RunFault::kRecord;
        fault.side = RunFault::kTable;
        fault.record = number;
        if (placeFault.column >= 0) fault.field = &fields[static_cast<size_t>(placeFault.column)];
        fault.offset = placeFault.offset;
        fault.reason = std::move(placeFault.reason);
        fault.code = placeFault.code;
        observer.Fault(fault);
        ++result.bad;
        if (options.onError == OnError::kStop) result.stopped = true;
        return false;
    }
    // The usual values in a few steps, a run of columns at a time; the others, and every
    // refusal, by Encode.
    const bool quick = table == nullptr && variable == nullptr;
    for (size_t i = 0; i < fields.size(); ++i) {
        if (quick) {
            i = values.EncodeQuickRun(quick_, lent, i, record, span);
            if (i == fields.size()) break;
        }
        LentCell& cell = lent[i];
        if (variable != nullptr && variable->Absent()[i]) continue;
        if (table == nullptr && !cell.null && values.EncodeQuick(quick_[i], cell.text, record)) continue;
        Fault valueFault;
        bool good = true;
        if (table != nullptr && !cell.null) {
            converted_[i].clear();
            if (table->Decode(reinterpret_cast<const unsigned char*>(cell.text.data()), cell.text.size(), converted_[i])) {
                cell.text = converted_[i];
            } else {
                good = false;
                valueFault.offset = fields[i].offset;
                valueFault.reason = "the value is no " + options.tableEncoding + " text";
                valueFault.code = FaultCode::kTextDecode;
            }
        }
        if (good) good = values.Encode(fields[i], cell.null ? Cell::kNull : Cell::kText, cell.text, record, valueFault);
        if (good) continue;
        recordBad = true;
        RunFault fault;
        fault.side = RunFault::kTable;
        fault.record = number;
        fault.field = &fields[i];
        fault.offset = valueFault.offset;
        fault.reason = std::move(valueFault.reason);
        fault.code = valueFault.code;
        observer.Fault(fault);
        if (options.onError == OnError::kStop) {
            result.stopped = true;
            break;
        }
        if (options.onError == OnError::kSkip) {
            skipRecord = true;
            break;
        }
        values.Clear(fields[i], record);
    }
    // The record's bytes as stored: the present occurrences only in a variable record.
    bytes = record;
    length = length_;
    bool stored = variable != nullptr && variable->VariableLength();
    if (!result.stopped && !skipRecord && stored) bytes = variable->Compact(record, length);
    if (!result.stopped && !skipRecord && options.records == RecordFormat::kLines) {
        // A record of text lines cannot hold the line end: it would read back as two. Nor
        // can its line end in a carriage return (as written, after the blanks a LINE
        // SEQUENTIAL write drops): a reader takes it for the CR of a CR LF and drops it.
        const unsigned char* end = static_cast<const unsigned char*>(std::memchr(bytes, '\n', length));
        const char* reason = "the record holds the line end (byte 0x0A), which --records lines cannot keep";
        if (end == nullptr && length > 0) {
            size_t kept = length;
            if (options.lineSequential && variable == nullptr) {
                const unsigned char blank = setup_.BlankByte();
                while (kept > 0 && bytes[kept - 1] == blank) --kept;
                if (kept < length && kept > 0 && bytes[kept - 1] == '\r' && LeastNonTextLength(setup_.Plan()) > kept) {
                    kept = 0;   // the blanks after it are kept: the line ends in a blank
                }
            }
            if (kept > 0 && bytes[kept - 1] == '\r') {
                end = bytes + kept - 1;
                reason = "the record's line would end in a carriage return (byte 0x0D), which reads back as part of a CR LF line end";
            }
        }
        if (end != nullptr) {
            RunFault fault;
            fault.side = RunFault::kTable;
            fault.record = number;
            fault.offset = static_cast<int>(end - bytes);
            for (size_t f = 0; f < fields.size(); ++f) {
                const Field& field = fields[f];
                if (variable != nullptr && variable->Absent()[f]) continue;
                int start = stored ? variable->StoredOffset(f) : field.offset;
                if (fault.offset >= start && fault.offset < start + field.length) {
                    fault.field = &field;
                    break;
                }
            }
            if (fault.field == nullptr) fault.kind = RunFault::kRecord;
            fault.reason = reason;
            fault.code = FaultCode::kTextEncode;
            observer.Fault(fault);
            recordBad = true;
            if (options.onError == OnError::kStop) result.stopped = true;
            else skipRecord = true;   // the bytes cannot be written: the record is left out
        }
    }
    if (recordBad) ++result.bad;
    return !result.stopped && !skipRecord;
}

void LendCells(const std::vector<Cell>& cells, std::vector<LentCell>& lent) {
    lent.resize(cells.size());
    for (size_t i = 0; i < cells.size(); ++i) {
        lent[i].null = cells[i].kind == Cell::kNull;
        lent[i].text = cells[i].text;
    }
}

namespace {

// The rows of a RowSource, all of the one layout.
class SourceRows : public TypedRowSource {
public:
    SourceRows(DataSetup& setup, RowSource& source)
        : setup_(setup), source_(source), cells_(setup.Plan().fields.size()), lent_(setup.Plan().fields.size()) {
        // Variable records count their occurrences from the cells: those rows are read into cells.
        lends_ = source.LendsRows() && setup.Variable() == nullptr;
    }
    bool Begin(std::string& error) override { return source_.Begin(setup_.Plan(), error); }
    bool Next(size_t& type, std::string& rowError, std::string& error) override {
        type = 0;
        const LayoutPlan& plan = setup_.Plan();
        if (lends_) return source_.NextLent(plan, lent_, rowError, error);
        if (!source_.Next(plan, cells_, rowError, error)) return false;
        if (rowError.empty()) LendCells(cells_, lent_);
        return true;
    }
    const std::vector<Cell>& Cells() const override { return cells_; }
    std::vector<LentCell>& Lent() override { return lent_; }
    LentSpan LentBytes() const override { return lends_ ? source_.LentBytes() : LentSpan(); }
    uint64_t Consumed() const override { return source_.Consumed(); }
    bool ReadFailed() const override { return source_.ReadFailed(); }

private:
    DataSetup& setup_;
    RowSource& source_;
    std::vector<Cell> cells_;
    std::vector<LentCell> lent_;
    bool lends_;
};

}  // namespace

RunResult EncodeRows(DataSetup& setup, RowSource& source, RecordWriter& writer, RunObserver& observer) {
    RowSpan span;
    span.skip = setup.Options().skip;
    span.count = setup.Options().count;
    return EncodeRows(setup, source, writer, observer, span);
}

RunResult EncodeRows(DataSetup& setup, RowSource& source, RecordWriter& writer, RunObserver& observer,
                     RowSpan& span) {
    // GnuCOBOL's LINE SEQUENTIAL WRITE drops trailing blanks (never a number's bytes).
    const DataOptions& options = setup.Options();
    if (options.lineSequential && options.records == RecordFormat::kLines && setup.Variable() == nullptr) {
        writer.TrimLines(LeastNonTextLength(setup.Plan()), setup.BlankByte());
    }
    RowEncoder encoder(setup, static_cast<size_t>(setup.Plan().recordLength));
    SourceRows rows(setup, source);
    return EncodeLoop(rows, {&encoder}, nullptr, setup.Options(), writer, observer, span);
}

namespace {

constexpr size_t kFlushAt = 1 << 20;   // output bytes gathered before a write

// CSV (with its header row) or JSON Lines into a stream, in large writes. Rows are
// written straight into the buffer, which is written out once it holds kFlushAt bytes.
class TableSink : public RowSink {
public:
    TableSink(DataSetup& setup, std::FILE* out)
        : setup_(setup), out_(out), csvWriter_(setup.Options().crlf ? "\r\n" : "\n") {
        lineEnd_ = setup.Options().crlf ? "\r\n" : "\n";
        lineEndText_ = lineEnd_;
        csv_ = setup.Options().format == TableFormat::kCsv;
        Reserve(kFlushAt + 64 * 1024);
    }
    bool Begin(const LayoutPlan& plan) override {
        // Rows of good values are written straight from the record when every column has
        // a direct form and the table is UTF-8.
        direct_ = setup_.TableText() == nullptr;
        directRoom_ = 2 * plan.fields.size() + 16 + RowCells::kSlack;
        if (direct_) directPlan_ = setup_.Values().CompileDirect(plan);
        for (const Field& field : plan.fields) {
            direct_ = direct_ && ValueCodec::HasCsvCell(field);
            directRoom_ += ValueCodec::CellRoom(field) + 2;
        }
        if (!csv_) {
            jsonWriter_.reset(new JsonRowWriter(plan, setup_.Options().jsonNumbers));
            directRoom_ += jsonWriter_->FixedBytes();
            return true;
        }
        const std::vector<Field>& fields = plan.fields;
        std::vector<Cell> header(fields.size());
        TextCodec* table = setup_.TableText();
        for (size_t i = 0; i < fields.size(); ++i) {
            header[i].kind = Cell::kText;
            header[i].text = fields[i].column;
            if (table != nullptr && !table->Encode(fields[i].column.data(), fields[i].column.size(), header[i].text)) {
                header[i].text = fields[i].column;
            }
        }
        std::string line;
        AppendCsvRow(line, header, lineEnd_);
        Reserve(line.size());
        std::memcpy(buffer_.get() + used_, line.data(), line.size());
        used_ += line.size();
        return true;
    }
    bool Row(const LayoutPlan& plan, const RowCells& cells) override {
        if (!csv_ && setup_.Variable() != nullptr) return VariableRow(plan, cells);
        size_t room = csv_ ? CsvRowWriter::Room(cells) : jsonWriter_->Room(cells);
        if (capacity_ - used_ < room) {
            if (used_ > 0 && !Flush()) return false;
            Reserve(room);
        }
        char* at = buffer_.get() + used_;
        char* end = csv_ ? csvWriter_.Put(at, cells) : jsonWriter_->Put(at, cells);
        used_ += static_cast<size_t>(end - at);
        ++buffered_;
        return used_ < kFlushAt || Flush();
    }
    bool DirectRow(ValueCodec&, const unsigned char* record, bool& failed) override {
        if (!direct_) return false;
        if (capacity_ - used_ < directRoom_) {
            if (used_ > 0 && !Flush()) {
                failed = true;
                return true;
            }
            Reserve(directRoom_);
        }
        char* at = buffer_.get() + used_;
        char* end = csv_ ? setup_.Values().CsvRowInto(directPlan_, record, at, lineEndText_)
                         : jsonWriter_->PutDirect(at, setup_.Values(), directPlan_, record);
        if (end == nullptr) return false;
        used_ = static_cast<size_t>(end - buffer_.get());
        ++buffered_;
        failed = used_ >= kFlushAt && !Flush();
        return true;
    }
    // A JSON line whose tables hold their present occurrences only.
    bool VariableRow(const LayoutPlan& plan, const RowCells& cells) {
        line_.clear();
        AppendJsonRowPresent(line_, plan, cells, setup_.Variable()->Absent(), setup_.Options().jsonNumbers);
        if (capacity_ - used_ < line_.size()) {
            if (used_ > 0 && !Flush()) return false;
            Reserve(line_.size());
        }
        std::memcpy(buffer_.get() + used_, line_.data(), line_.size());
        used_ += line_.size();
        ++buffered_;
        return used_ < kFlushAt || Flush();
    }
    bool Finish() override {
        if (!Flush()) return false;
        if (std::fflush(out_) != 0) failed_ = true;
        return !failed_;
    }
    bool SwapHeld(HeldBytes& held) override {
        if (failed_) return false;
        held.data.swap(buffer_);
        std::swap(held.room, capacity_);
        held.size = used_;
        stored_ += buffered_;
        used_ = 0;
        buffered_ = 0;
        // Room to gather up to a flush without growing on the way.
        if (capacity_ < kFlushAt + 64 * 1024) {
            buffer_.reset(new char[kFlushAt + 64 * 1024]);
            capacity_ = kFlushAt + 64 * 1024;
        }
        return true;
    }
    long long Stored(long long) const override { return stored_; }

private:
    // Room for `n` more bytes after those buffered.
    void Reserve(size_t n) {
        if (capacity_ - used_ >= n) return;
        size_t capacity = used_ + n;
        std::unique_ptr<char[]> larger(new char[capacity]);
        if (used_ > 0) std::memcpy(larger.get(), buffer_.get(), used_);
        buffer_.swap(larger);
        capacity_ = capacity;
    }
    // Hands the rows to the output and through the stream's own buffer, so that the
    // rows counted as stored are the ones the output took.
    bool Flush() {
        if (failed_) return false;
        if (used_ > 0 && (std::fwrite(buffer_.get(), 1, used_, out_) != used_ || std::fflush(out_) != 0)) failed_ = true;
        else stored_ += buffered_;
        used_ = 0;
        buffered_ = 0;
        return !failed_;
    }
    DataSetup& setup_;
    std::FILE* out_;
    std::unique_ptr<char[]> buffer_;
    size_t capacity_ = 0, used_ = 0;
    const char* lineEnd_;
    bool csv_;
    CsvRowWriter csvWriter_;
    std::unique_ptr<JsonRowWriter> jsonWriter_;
    bool direct_ = false;
    DirectPlan directPlan_;   // the columns' direct forms, when direct_
    size_t directRoom_ = 0;
    std::string lineEndText_;
    bool failed_ = false;
    long long buffered_ = 0, stored_ = 0;
    std::string line_;   // a JSON line of a layout with DEPENDING ON tables
};

// CSV rows (after the header, which must name the layout's columns) or JSON Lines.
class TableSource : public RowSource {
public:
    TableSource(DataSetup& setup, std::FILE* in) : setup_(setup), reader_(in, setup.Options().maxLine) {
        csv_ = setup.Options().format == TableFormat::kCsv;
    }
    TableSource(DataSetup& setup, const char* first, size_t firstSize, const char* second, size_t secondSize)
        : setup_(setup), reader_(first, firstSize, second, secondSize, setup.Options().maxLine) {
        csv_ = setup.Options().format == TableFormat::kCsv;
    }
    bool Begin(const LayoutPlan& plan, std::string& error) override {
        if (!csv_) return true;
        const std::vector<Field>& fields = plan.fields;
        if (!reader_.NextCsvRow(row_, error)) {
            if (error.empty()) error = "no header row";
            return false;
        }
        // A UTF-8 byte order mark (spreadsheets write one) is no part of the first name.
        if (!row_.empty() && row_[0].compare(0, 3, "\xEF\xBB\xBF") == 0) row_[0].erase(0, 3);
        TextCodec* table = setup_.TableText();
        std::string converted;
        for (size_t i = 0; i < row_.size() && i < fields.size(); ++i) {
            converted.clear();
            if (table != nullptr &&
                table->Decode(reinterpret_cast<const unsigned char*>(row_[i].data()), row_[i].size(), converted)) {
                row_[i].swap(converted);
            }
        }
        if (setup_.Options().ignoreUnknown) return MapHeader(fields, error);
        for (size_t i = 0; i < fields.size() || i < row_.size(); ++i) {
            std::string expected = i < fields.size() ? fields[i].column : "(none)";
            std::string found = i < row_.size() ? row_[i] : "(none)";
            if (expected != found) {
                error = "header column " + std::to_string(i + 1) + " is " + ShownText(found) + ", the layout has " +
                        ShownText(expected);
                return false;
            }
        }
        return true;
    }
    bool Next(const LayoutPlan& plan, std::vector<Cell>& cells, std::string& rowError, std::string& error) override {
        const std::vector<Field>& fields = plan.fields;
        if (csv_) {
            if (!reader_.NextCsvRow(row_, error)) return false;
            if (!columnOf_.empty()) {
                if (row_.size() != columnOf_.size()) {
                    rowError = "a row of " + std::to_string(row_.size()) + " fields, the header has " +
                               std::to_string(columnOf_.size());
                    return true;
                }
                for (size_t i = 0; i < row_.size(); ++i) {
                    if (columnOf_[i] < 0) continue;
                    Cell& cell = cells[static_cast<size_t>(columnOf_[i])];
                    cell.kind = row_[i].empty() ? Cell::kNull : Cell::kText;
                    cell.text.swap(row_[i]);
                }
                return true;
            }
            if (row_.size() != fields.size()) {
                rowError = "a row of " + std::to_string(row_.size()) + " fields, the layout has " +
                           std::to_string(fields.size());
                return true;
            }
            for (size_t i = 0; i < fields.size(); ++i) {
                cells[i].kind = row_[i].empty() ? Cell::kNull : Cell::kText;
                cells[i].text.swap(row_[i]);
            }
            return true;
        }
        if (!reader_.NextLine(line_, error)) return false;
        for (Cell& cell : cells) EmptyCell(cell);
        ReadJsonRow(line_, plan, cells, rowError, setup_.Options().ignoreUnknown);
        return true;
    }
    // CSV rows are lent from the reader's buffer; JSON Lines are read into cells.
    bool LendsRows() const override { return csv_; }
    bool NextLent(const LayoutPlan& plan, std::vector<LentCell>& cells, std::string& rowError, std::string& error) override {
        if (columnOf_.empty() && cells.size() == plan.fields.size()) {
            // The fields split straight into the cells.
            size_t count = 0;
            if (!reader_.NextCsvRow(cells, count, row_, error)) return false;
            if (count != cells.size()) {
                rowError = "a row of " + std::to_string(count) + " fields, the layout has " + std::to_string(cells.size());
            }
            return true;
        }
        if (!reader_.NextCsvRow(views_, row_, error)) return false;
        const size_t columns = columnOf_.empty() ? plan.fields.size() : columnOf_.size();
        if (views_.size() != columns) {
            rowError = "a row of " + std::to_string(views_.size()) + " fields, the " +
                       (columnOf_.empty() ? "layout" : "header") + " has " + std::to_string(columns);
            return true;
        }
        for (size_t i = 0; i < views_.size(); ++i) {
            int column = columnOf_.empty() ? static_cast<int>(i) : columnOf_[i];
            if (column < 0) continue;
            LentCell& cell = cells[static_cast<size_t>(column)];
            cell.null = views_[i].empty();
            cell.text = views_[i];
        }
        return true;
    }
    bool ReadFailed() const override { return reader_.ReadFailed(); }
    uint64_t Consumed() const override { return reader_.Consumed(); }
    LentSpan LentBytes() const override { return reader_.Block(); }

private:
    // --ignore-unknown: the header's columns are found by name; columns the layout
    // lacks pass, every column of the layout must be there once.
    bool MapHeader(const std::vector<Field>& fields, std::string& error) {
        columnOf_.assign(row_.size(), -1);
        std::vector<bool> taken(fields.size(), false);
        for (size_t i = 0; i < row_.size(); ++i) {
            for (size_t f = 0; f < fields.size(); ++f) {
                if (fields[f].column != row_[i]) continue;
                if (taken[f]) {
                    error = "header column " + std::to_string(i + 1) + " repeats " + ShownText(row_[i]);
                    return false;
                }
                taken[f] = true;
                columnOf_[i] = static_cast<int>(f);
            }
        }
        for (size_t f = 0; f < fields.size(); ++f) {
            if (!taken[f]) {
                error = "the header has no column " + fields[f].column;
                return false;
            }
        }
        return true;
    }

    DataSetup& setup_;
    TableReader reader_;
    bool csv_;
    std::vector<std::string> row_;
    std::vector<std::string_view> views_;
    std::vector<int> columnOf_;   // the layout's column of each header column (-1: none)
    std::string line_;
};

}  // namespace

std::unique_ptr<RowSink> MakeTableSink(DataSetup& setup, std::FILE* out) {
    return std::unique_ptr<RowSink>(new TableSink(setup, out));
}

std::unique_ptr<RowSource> MakeTableSource(DataSetup& setup, std::FILE* in) {
    return std::unique_ptr<RowSource>(new TableSource(setup, in));
}

std::unique_ptr<RowSource> MakeTableSource(DataSetup& setup, const char* first, size_t firstSize, const char* second,
                                           size_t secondSize) {
    return std::unique_ptr<RowSource>(new TableSource(setup, first, firstSize, second, secondSize));
}
}  // namespace quillbox
