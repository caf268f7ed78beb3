// The data file API over the codec's setup, record framing and value codec.
#include "datafile.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "cobolrules.h"
#include "english.h"
#include "filereplace.h"
#include "rectypes.h"
#include "textcodec.h"
#include "variableoccurs.h"

namespace quillbox {

namespace {

// The options with the layout's DEPENDING ON tables, when the caller gave none.
DataOptions WithTables(const Layout& layout, const DataOptions& options) {
    DataOptions given = options;
    if (given.variableOccurs.empty()) given.variableOccurs = VariableOccursOf(layout.Analyzer());
    return given;
}

std::string Place(const std::string& reason, long long record, const std::string& item, int offset) {
    std::string text;
    if (record > 0) text = "record " + std::to_string(record);
    if (!item.empty()) {
        text += std::string(text.empty() ? "" : ", ") + "item " + item;
        if (offset >= 0) text += " (offset " + std::to_string(offset) + ")";
    }
    return text.empty() ? reason : text + ": " + reason;
}

Error FaultError(const RunFault& fault) {
    return Error(fault.reason, fault.record, fault.field != nullptr ? fault.field->column : std::string(),
                 fault.field != nullptr ? fault.offset : -1);
}

const char* Posix(int error) { return std::strerror(error); }

// Keeps the faults a reader's records meet, for Faults().
class FaultList : public RunObserver {
public:
    explicit FaultList(std::vector<Error>& faults) : faults_(faults) {}
    void Fault(const RunFault& fault) override { faults_.push_back(FaultError(fault)); }

private:
    std::vector<Error>& faults_;
};

// A sink that keeps the row decoded last as a program's cells (a cell a column).
class CellKeeper : public RowSink {
public:
    explicit CellKeeper(std::vector<Cell>& cells) : cells_(cells) {}
    bool Begin(const LayoutPlan&) override { return true; }
    bool Row(const LayoutPlan&, const RowCells& row) override {
        cells_.resize(row.Size());
        for (size_t i = 0; i < row.Size(); ++i) {
            cells_[i].kind = row.Kind(i);
            cells_[i].text.assign(row.Text(i), row.Length(i));
        }
        return true;
    }
    bool Finish() override { return true; }

private:
    std::vector<Cell>& cells_;
};

// Steps a reader's cursor to its next row (`faults` hearing its faults); false at the
// end. The fault that stopped the run, or a read error, is thrown.
bool StepToRow(RecordCursor& cursor, const RecordReader& reader, const std::vector<Error>& faults, long long& number) {
    for (;;) {
        const size_t before = faults.size();
        RecordCursor::Step step = cursor.Next();
        number = cursor.Number();
        switch (step) {
        case RecordCursor::kRow: return true;
        case RecordCursor::kSkipped: continue;
        case RecordCursor::kEnd:
            if (reader.ReadFailed()) throw Error("read error");
            return false;
        case RecordCursor::kStopped:
        case RecordCursor::kFatal:
            if (faults.size() > before) throw faults[before];
            throw Error("cannot keep the record", number);
        }
    }
}

// The data file a reader opens itself.
std::FILE* OpenData(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) throw Error(path + ": " + Posix(errno));
    return file;
}

// A decoded cell of `field` as a program takes it.
Value ValueOf(const Cell& cell, const Field& field) {
    if (cell.kind == Cell::kNull) return Value();
    if (cell.kind == Cell::kText) return Value(Value::kText, cell.text, 0);
    if (field.kind == Field::kFloat || field.kind == Field::kDouble) return Value(Value::kFloat, cell.text, 0);
    return Value(Value::kDecimal, cell.text, field.scale);
}

}  // namespace

Error::Error(std::string reason, long long record, std::string item, int offset)
    : reason_(std::move(reason)), item_(std::move(item)), record_(record), offset_(offset) {
    what_ = Place(reason_, record_, item_, offset_);
}

// ---- Layout

Layout::Layout(const std::string& copybookPath, const LayoutOptions& options) {
    if (options.cobol) {
        CobolOptions cobol;
        cobol.includeDirs = options.includeDirs;
        cobol.freeFormat = options.freeFormat;
        cobol.replacements = options.replacements;
        cobol.pointerSize = options.pointerSize;
        analyzer_.reset(new CobolAnalyzer("", cobol));
    } else {
        analyzer_.reset(new CopyAnalyzer(""));
    }
    if (!analyzer_->SetFileName(copybookPath.c_str())) throw Error(copybookPath + ": the path is too long");
    try {
        head_ = analyzer_->Analyze();
    } catch (CCobolException& refusal) {
        std::string file = refusal.GetCopybookFile();
        std::string place = file.empty() ? copybookPath : ShiftJisToUtf8(file);
        if (refusal.GetCopybookLine() > 0) place += ":" + std::to_string(refusal.GetCopybookLine());
        throw Error(place + ": " + ShiftJisToUtf8(WithEnglish(refusal.GetMessageText())));
    } catch (CException& failure) {
        throw Error(copybookPath + ": " + ShiftJisToUtf8(WithEnglish(failure.GetMessageText())));
    } catch (CGIException& failure) {
        throw Error(copybookPath + ": " + ShiftJisToUtf8(WithEnglish(failure.GetMessageText())));
    }
    recordLength_ = static_cast<int>(analyzer_->GetRecordLength());
    if (head_ == nullptr || recordLength_ <= 0) throw Error(copybookPath + ": the copybook describes no record");
}

Layout::~Layout() = default;

// ---- Value

Value::Value(Kind kind, std::string text, int scale) : kind_(kind), text_(std::move(text)), scale_(scale) {}

Value Value::Decimal(int64_t unscaled, int scale) {
    std::string text;
    bool negative = unscaled < 0;
    AppendDecimal(text, negative, negative ? 0 - static_cast<uint64_t>(unscaled) : static_cast<uint64_t>(unscaled), scale);
    return Value(kDecimal, text, scale);
}

bool Value::FitsInt64() const {
    if (kind_ != kDecimal) return false;
    bool negative;
    uint64_t magnitude;
    std::string reason;
    if (!ParseDecimal(text_, scale_, negative, magnitude, reason)) return false;
    return negative ? magnitude <= static_cast<uint64_t>(INT64_MAX) + 1 : magnitude <= static_cast<uint64_t>(INT64_MAX);
}

int64_t Value::Unscaled() const {
    if (kind_ != kDecimal) throw Error("the value " + text_ + " is no decimal number");
    bool negative;
    uint64_t magnitude;
    std::string reason;
    if (!ParseDecimal(text_, scale_, negative, magnitude, reason) || !FitsInt64()) {
        throw Error("the value " + text_ + " has more digits than 64 bits hold");
    }
    return negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
}

int64_t Value::AsInt64() const {
    int64_t unscaled = Unscaled();
    for (int i = 0; i < scale_; ++i) {
        if (unscaled % 10 != 0) throw Error("the value " + text_ + " has a fraction");
        unscaled /= 10;
    }
    for (int i = 0; i > scale_; --i) {
        if (unscaled > INT64_MAX / 10 || unscaled < INT64_MIN / 10) throw Error("the value " + text_ + " is beyond 64 bits");
        unscaled *= 10;
    }
    return unscaled;
}

double Value::AsDouble() const {
    if (kind_ != kDecimal && kind_ != kFloat) throw Error("the value \"" + text_ + "\" is no number");
    if (text_ == "NaN") return std::strtod("nan", nullptr);
    if (text_ == "Infinity") return HUGE_VAL;
    if (text_ == "-Infinity") return -HUGE_VAL;
    return std::strtod(text_.c_str(), nullptr);
}

// ---- DataReader

// Keeps the faults of a record for Faults(); the first that stops the run is thrown.
class DataReader::Collector : public FaultList {
    using FaultList::FaultList;
};

// The row a reader's cursor decodes, kept as the program's cells.
class DataReader::Keeper : public CellKeeper {
    using CellKeeper::CellKeeper;
};

DataReader::DataReader(const Layout& layout, const std::string& dataPath, const DataOptions& options)
    : file_(OpenData(dataPath)), owned_(true) {
    try {
        Start(layout, options);
    } catch (...) {
        std::fclose(file_);
        throw;
    }
}

DataReader::DataReader(const Layout& layout, std::FILE* data, const DataOptions& options) : file_(data) {
    Start(layout, options);
}

DataReader::~DataReader() {
    if (owned_) std::fclose(file_);
}

void DataReader::Start(const Layout& layout, const DataOptions& options) {
    setup_.reset(new DataSetup);
    std::string error;
    if (!setup_->Prepare(layout.Head(), layout.RecordLength(), WithTables(layout, options), error)) throw Error(error);
    reader_.reset(new RecordReader(file_, options.records, static_cast<size_t>(layout.RecordLength())));
    records_.reset(new FileRecords(*reader_, options.skip, options.count));
    keeper_.reset(new Keeper(cells_));
    collector_.reset(new Collector(faults_));
    cursor_.reset(new RecordCursor(*setup_, *records_, {keeper_.get()}, *collector_));
    cells_.resize(setup_->Plan().fields.size());
}

bool DataReader::Next() {
    faults_.clear();
    return StepToRow(*cursor_, *reader_, faults_, number_);
}

size_t DataReader::ColumnCount() const { return cells_.size(); }

void DataReader::Check(size_t column) const {
    if (column >= cells_.size()) {
        throw Error("column " + std::to_string(column) + " beyond the layout's " + std::to_string(cells_.size()));
    }
}

const std::string& DataReader::ColumnName(size_t column) const {
    Check(column);
    return setup_->Plan().fields[column].column;
}

size_t DataReader::ColumnIndex(const std::string& name) const {
    const std::vector<Field>& fields = setup_->Plan().fields;
    for (size_t i = 0; i < fields.size(); ++i) {
        if (fields[i].column == name) return i;
    }
    throw Error("no column is named " + name);
}

bool DataReader::IsNull(size_t column) const {
    Check(column);
    return cells_[column].kind == Cell::kNull;
}

const std::string& DataReader::Text(size_t column) const {
    Check(column);
    return cells_[column].text;
}

Value DataReader::Get(size_t column) const {
    Check(column);
    return ValueOf(cells_[column], setup_->Plan().fields[column]);
}

// ---- DataWriter

DataWriter::DataWriter(const Layout& layout, const std::string& dataPath, const DataOptions& options)
    : setup_(new DataSetup), path_(dataPath) {
    std::string error;
    if (!setup_->Prepare(layout.Head(), layout.RecordLength(), WithTables(layout, options), error)) throw Error(error);
    // A temporary file in the same folder, renamed into place at Close().
    output_.reset(new FileReplacement);
    if (!output_->Open(dataPath)) {
        if (output_->Why() == FileReplacement::kSystem)
            throw Error(dataPath + ": cannot create a temporary file beside it (" + Posix(output_->Error()) + ")");
        throw Error(dataPath + ": " + output_->Reason());
    }
    file_ = output_->File();
    writer_.reset(new RecordWriter(file_, options.records, options.blockSize, options.crlf));
    cells_.resize(setup_->Plan().fields.size());
    record_.resize(static_cast<size_t>(layout.RecordLength()) + 16);
}

DataWriter::~DataWriter() {
    // The writer flushes into the stream before the replacement removes it.
    writer_.reset();
}

size_t DataWriter::ColumnCount() const { return cells_.size(); }

size_t DataWriter::ColumnIndex(const std::string& name) const {
    const std::vector<Field>& fields = setup_->Plan().fields;
    for (size_t i = 0; i < fields.size(); ++i) {
        if (fields[i].column == name) return i;
    }
    throw Error("no column is named " + name);
}

void DataWriter::Set(size_t column, const std::string& text) {
    if (column >= cells_.size()) throw Error("column " + std::to_string(column) + " beyond the layout's " + std::to_string(cells_.size()));
    const Field& field = setup_->Plan().fields[column];
    bool number = field.kind != Field::kText && field.kind != Field::kNational && field.kind != Field::kBits &&
                  field.kind != Field::kBoolChars;
    cells_[column].kind = number ? Cell::kNumber : Cell::kText;
    cells_[column].text = text;
}

void DataWriter::Set(size_t column, int64_t unscaled, int scale) { Set(column, Value::Decimal(unscaled, scale).Text()); }

void DataWriter::SetNull(size_t column) {
    if (column >= cells_.size()) throw Error("column " + std::to_string(column) + " beyond the layout's " + std::to_string(cells_.size()));
    cells_[column].kind = Cell::kNull;
    cells_[column].text.clear();
}

void DataWriter::Write() {
    if (file_ == nullptr) throw Error(path_ + ": the writer is closed");
    ++number_;
    const std::vector<Field>& fields = setup_->Plan().fields;
    ValueCodec& values = setup_->Values();
    int length = setup_->Plan().recordLength;
    values.Blank(record_.data(), length);
    VariableRecords* variable = setup_->Variable();
    PlaceFault placeFault;
    if (variable != nullptr && !variable->Count(cells_, placeFault)) {
        for (size_t i = 0; i < cells_.size(); ++i) SetNull(i);
        std::string column = placeFault.column >= 0 ? fields[static_cast<size_t>(placeFault.column)].column : "";
        throw Error(placeFault.reason, number_, column, placeFault.offset);
    }
    for (size_t i = 0; i < fields.size(); ++i) {
        Cell& cell = cells_[i];
        if (variable != nullptr && variable->Absent()[i]) continue;
        // A column not set: zero for numbers, blanks for text.
        if (cell.kind == Cell::kNull && !fields[i].overlaid) {
            values.Clear(fields[i], record_.data());
            continue;
        }
        Fault fault;
        if (!values.Encode(fields[i], cell, record_.data(), fault)) {
            for (Cell& c : cells_) SetNull(static_cast<size_t>(&c - cells_.data()));
            throw Error(fault.reason, number_, fields[i].column, fault.offset);
        }
    }
    for (size_t i = 0; i < cells_.size(); ++i) SetNull(i);
    const unsigned char* bytes = record_.data();
    size_t stored = static_cast<size_t>(length);
    if (variable != nullptr && variable->VariableLength()) bytes = variable->Compact(record_.data(), stored);
    if (!writer_->Write(bytes, stored)) {
        throw Error(path_ + ": " + (writer_->Refused().empty() ? "cannot write the record" : writer_->Refused()), number_);
    }
}

void DataWriter::Close() {
    if (file_ == nullptr) return;
    bool ok = writer_->Finish();
    writer_.reset();
    file_ = nullptr;
    if (!ok) {
        output_->Abandon();
        throw Error(path_ + ": cannot write the file");
    }
    if (!output_->Commit()) {
        if (output_->Why() == FileReplacement::kSystem)
            throw Error(path_ + ": cannot replace the file (" + Posix(output_->Error()) + ")");
        throw Error(path_ + ": cannot replace the file: " + output_->Reason());
    }
}

// ---- RecordTypeReader

class RecordTypeReader::Collector : public FaultList {
    using FaultList::FaultList;
};

class RecordTypeReader::Keeper : public CellKeeper {
    using CellKeeper::CellKeeper;
};

RecordTypeReader::RecordTypeReader(const Layout& layout, const std::string& dataPath, const DataOptions& options)
    : file_(OpenData(dataPath)), owned_(true) {
    try {
        Start(layout, options);
    } catch (...) {
        std::fclose(file_);
        throw;
    }
}

RecordTypeReader::RecordTypeReader(const Layout& layout, std::FILE* data, const DataOptions& options) : file_(data) {
    Start(layout, options);
}

RecordTypeReader::~RecordTypeReader() {
    if (owned_) std::fclose(file_);
}

void RecordTypeReader::Start(const Layout& layout, const DataOptions& options) {
    types_.reset(new RecordTypes);
    std::string error;
    if (!types_->Prepare(layout.Head(), WithTables(layout, options), error)) throw Error(error);
    reader_.reset(new RecordReader(file_, options.records, static_cast<size_t>(types_->MaxLength())));
    records_.reset(new FileRecords(*reader_, options.skip, options.count));
    std::vector<RowSink*> sinks;
    for (size_t t = 0; t < types_->Count(); ++t) {
        keepers_.emplace_back(new Keeper(cells_));
        sinks.push_back(keepers_.back().get());
    }
    collector_.reset(new Collector(faults_));
    cursor_.reset(new RecordCursor(*types_, *records_, sinks, *collector_));
}

std::vector<std::string> RecordTypeReader::TypeNames() const {
    std::vector<std::string> names;
    for (size_t t = 0; t < types_->Count(); ++t) names.push_back(types_->Name(t));
    return names;
}

bool RecordTypeReader::Next() {
    faults_.clear();
    type_ = -1;
    cells_.clear();
    if (!StepToRow(*cursor_, *reader_, faults_, number_)) return false;
    type_ = static_cast<int>(cursor_->Type());
    return true;
}

const std::string& RecordTypeReader::RecordType() const {
    if (type_ < 0) throw Error("no record has been read");
    return types_->Name(static_cast<size_t>(type_));
}

const std::vector<Field>& RecordTypeReader::Fields() const {
    if (type_ < 0) throw Error("no record has been read");
    return types_->Setup(static_cast<size_t>(type_)).Plan().fields;
}

size_t RecordTypeReader::ColumnCount() const { return cells_.size(); }

void RecordTypeReader::Check(size_t column) const {
    if (column >= cells_.size()) {
        throw Error("column " + std::to_string(column) + " beyond the record's " + std::to_string(cells_.size()));
    }
}

const std::string& RecordTypeReader::ColumnName(size_t column) const {
    Check(column);
    return Fields()[column].column;
}

size_t RecordTypeReader::ColumnIndex(const std::string& name) const {
    const std::vector<Field>& fields = Fields();
    for (size_t i = 0; i < fields.size(); ++i) {
        if (fields[i].column == name) return i;
    }
    throw Error("record " + RecordType() + " has no column " + name);
}

bool RecordTypeReader::IsNull(size_t column) const {
    Check(column);
    return cells_[column].kind == Cell::kNull;
}

const std::string& RecordTypeReader::Text(size_t column) const {
    Check(column);
    return cells_[column].text;
}

Value RecordTypeReader::Get(size_t column) const {
    Check(column);
    return ValueOf(cells_[column], Fields()[column]);
}

}  // namespace quillbox
