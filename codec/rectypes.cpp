// Record types: the rules that choose a record's 01, and the decode and encode runs
// over files of several record types.
#include "rectypes.h"
#include "runfaults.h"
#include "variableoccurs.h"

#include <algorithm>
#include <cstring>

#include "columnnames.h"
#include "layoutplan.h"
#include "tableio.h"
#include "textcodec.h"
#include "valuecodec.h"

namespace quillbox {

namespace {

// Names of the copybook (records, items) compare as COBOL compares them: case folded.
bool SameName(const std::string& a, const std::string& b) { return CompareNoCase(a.c_str(), b.c_str()) == 0; }

// A rule's field and a column: the same name whatever the columns' naming (the copybook's
// HDR-REC-TYPE is the column HDR_REC_TYPE under --names sql, and either is taken).
bool SameColumn(std::string column, std::string given) {
    std::replace(column.begin(), column.end(), '-', '_');
    std::replace(given.begin(), given.end(), '-', '_');
    return SameName(column, given);
}

std::string TrimmedBlanks(const std::string& text) {
    size_t end = text.size();
    while (end > 0 && text[end - 1] == ' ') --end;
    return text.substr(0, end);
}

bool IsNumber(const Field& field) {
    return field.kind != Field::kText && field.kind != Field::kNational && field.kind != Field::kBits &&
           field.kind != Field::kBoolChars;
}

// Whether the decoded `shown` is `wanted`: the same text, the same text without trailing
// blanks, or for a number the same value (a rule's "01" is the "1" a PIC 99 shows).
bool Matches(const Field& field, const std::string& shown, const std::string& wanted) {
    if (shown == wanted) return true;
    if (!IsNumber(field)) return TrimmedBlanks(shown) == TrimmedBlanks(wanted);
    if (field.kind == Field::kFloat || field.kind == Field::kDouble) return false;
    bool negativeShown, negativeWanted;
    uint64_t shownValue, wantedValue;
    std::string reason;
    return ParseDecimal(shown, field.scale, negativeShown, shownValue, reason) &&
           ParseDecimal(wanted, field.scale, negativeWanted, wantedValue, reason) && shownValue == wantedValue &&
           (negativeShown == negativeWanted || shownValue == 0);
}

bool Variable(RecordFormat format) { return format != RecordFormat::kFixed; }

// Why a rule's `wanted` can never be what `field` shows (the rule would never choose),
// or empty when it can be.
std::string NeverShown(const Field& field, const std::string& wanted) {
    if (field.kind == Field::kFloat || field.kind == Field::kDouble) {
        return "a floating-point field is no record-type code";
    }
    if (!IsNumber(field)) {
        // Every character takes at least a byte of the field.
        size_t characters = 0;
        for (unsigned char c : TrimmedBlanks(wanted)) characters += (c & 0xC0) != 0x80;
        if (characters > static_cast<size_t>(field.length)) {
            return "\"" + wanted + "\" is longer than the field's " + std::to_string(field.length) + " bytes";
        }
        return "";
    }
    bool negative;
    uint64_t magnitude;
    std::string reason;
    if (!ParseDecimal(wanted, field.scale, negative, magnitude, reason)) {
        return "\"" + wanted + "\" is no value of the field (" + reason + ")";
    }
    if (negative && magnitude != 0 && !field.isSigned) return "the field is unsigned";
    // Display and packed numbers hold the digits of their PICTURE; binary ones what their bytes hold.
    const bool binary = field.kind == Field::kBinary || field.kind == Field::kComp5;
    const int digits = binary ? -1 : field.digits + (field.scale < 0 ? -field.scale : 0);
    if (digits >= 0 && digits < 20) {
        uint64_t limit = 1;
        for (int i = 0; i < digits; ++i) limit *= 10;
        if (magnitude >= limit) {
            return "\"" + wanted + "\" has more digits than the field's " + std::to_string(field.digits);
        }
    } else if (binary && field.length < 8) {
        const uint64_t limit = uint64_t{1} << (8 * field.length - (field.isSigned ? 1 : 0));
        if (magnitude > limit || (magnitude == limit && !negative)) {
            return "\"" + wanted + "\" does not fit the field's " + std::to_string(field.length) + " bytes";
        }
    }
    return "";
}

}  // namespace

bool ParseRecordTypeRule(const std::string& text, RecordTypeRule& rule) {
    size_t equals = text.find('=');
    size_t colon = text.rfind(':');
    if (equals == std::string::npos || colon == std::string::npos || colon < equals || equals == 0 ||
        colon + 1 == text.size()) {
        return false;
    }
    rule.field = text.substr(0, equals);
    rule.value = text.substr(equals + 1, colon - equals - 1);
    rule.record = text.substr(colon + 1);
    return true;
}

std::vector<CopyItem*> RecordsOf(CopyItem* head) {
    std::vector<CopyItem*> records;
    for (CopyItem* item = head; item != nullptr; item = item->next) {
        if (item->parent == nullptr && item->level == 1) records.push_back(item);
    }
    return records;
}

std::string RecordName(const CopyItem* record) { return ShiftJisToUtf8(record->name); }

RecordTypes::RecordTypes() = default;
RecordTypes::~RecordTypes() = default;

int RecordTypes::Find(const std::string& name) const {
    // As written first: of HDR and Hdr, "Hdr" is the second.
    for (int folded = 0; folded < 2; ++folded) {
        for (size_t i = 0; i < types_.size(); ++i) {
            for (const std::string* own : {&types_[i].name, &types_[i].recordName}) {
                if (folded ? SameName(*own, name) : *own == name) return static_cast<int>(i);
            }
        }
    }
    return -1;
}

bool RecordTypes::Prepare(CopyItem* head, const DataOptions& options, std::string& error) {
    types_.clear();
    rules_.clear();
    default_ = -1;
    maxLength_ = 0;
    for (CopyItem* record : RecordsOf(head)) {
        Type type;
        type.record = record;
        type.name = RecordName(record);
        type.recordName = type.name;
        type.length = static_cast<int>(record->byteLength);
        if (record->position != 1) {
            // The default analysis lays the 01 records one after the other in one record.
            error = "record " + type.name + " starts at byte " + std::to_string(record->position) +
                    ", not at the record's first byte: record types need the COBOL rules (--cobol), which lay "
                    "every 01 record over the same bytes";
            return false;
        }
        type.setup.reset(new DataSetup);
        bool prepared = false;
        WithRecordAlone(record, [&] { prepared = type.setup->Prepare(record, type.length, options, error); });
        if (!prepared) {
            error = "record " + type.name + ": " + error;
            return false;
        }
        if (type.length > maxLength_) maxLength_ = type.length;
        types_.push_back(std::move(type));
    }
    if (types_.empty()) {
        error = "the copybook describes no record";
        return false;
    }
    std::vector<std::string> names;
    for (const Type& type : types_) names.push_back(type.name);
    NumberRepeatedNames(names, false);
    for (size_t i = 0; i < types_.size(); ++i) types_[i].name = names[i];
    auto record = [&](const std::string& name, int& type) {
        type = Find(name);
        if (type >= 0) return true;
        error = "the copybook has no 01 record " + name;
        return false;
    };
    for (const RecordTypeRule& given : options.recordTypes) {
        int type;
        if (!record(given.record, type)) return false;
        Rule rule{0, 0, given.value, static_cast<size_t>(type)};
        bool found = false;
        // The field is looked for in every record, the chosen one first: the common part
        // is often named once per record (H-TYPE, D-TYPE).
        for (size_t k = 0; k <= types_.size() && !found; ++k) {
            size_t t = k == 0 ? static_cast<size_t>(type) : k - 1;
            if (t >= types_.size()) continue;
            const std::vector<Field>& fields = types_[t].setup->Plan().fields;
            for (size_t f = 0; f < fields.size(); ++f) {
                if (SameColumn(fields[f].column, given.field)) {
                    rule.keyType = t;
                    rule.keyField = f;
                    found = true;
                    break;
                }
            }
        }
        const std::string shown = "--record-type " + given.field + "=" + given.value + ":" + given.record;
        if (!found) {
            error = "no record has a column " + given.field + " (" + shown + ")";
            return false;
        }
        // A rule that can never choose is a mistake to say now, not records refused later.
        const Field& key = types_[rule.keyType].setup->Plan().fields[rule.keyField];
        std::string never = NeverShown(key, given.value);
        if (!never.empty()) {
            error = shown + " can never match: " + never;
            return false;
        }
        for (size_t r = 0; r < rules_.size(); ++r) {
            const Rule& earlier = rules_[r];
            const Field& earlierKey = types_[earlier.keyType].setup->Plan().fields[earlier.keyField];
            if (earlierKey.offset != key.offset || earlierKey.length != key.length || earlierKey.kind != key.kind ||
                !Matches(key, given.value, earlier.value)) {
                continue;
            }
            const RecordTypeRule& first = options.recordTypes[r];
            error = shown + " overlaps the earlier --record-type " + first.field + "=" + first.value + ":" +
                    first.record + (earlier.type == rule.type ? ", which chooses the same record"
                                                               : ", which chooses its records first");
            return false;
        }
        types_[rule.type].chosen = true;
        rules_.push_back(std::move(rule));
    }
    if (!options.recordTypeDefault.empty()) {
        if (!record(options.recordTypeDefault, default_)) return false;
        types_[static_cast<size_t>(default_)].chosen = true;
    }
    return true;
}

int RecordTypes::Choose(const unsigned char* data, size_t length, const Field*& field, Fault& fault) {
    // A rule whose field is no value in this record (bytes of another type's layout, a
    // record too short) does not match; the first rule's field says why when none does.
    field = nullptr;
    bool firstKnown = false;
    const Rule* decoded = nullptr;
    bool decodedGood = false;
    std::string shown;
    for (const Rule& rule : rules_) {
        DataSetup& setup = *types_[rule.keyType].setup;
        const Field& key = setup.Plan().fields[rule.keyField];
        if (decoded == nullptr || decoded->keyType != rule.keyType || decoded->keyField != rule.keyField) {
            decoded = &rule;
            Fault keyFault;
            keyFault.offset = key.offset;
            decodedGood = false;
            if (static_cast<size_t>(key.offset) + static_cast<size_t>(key.length) > length) {
                keyFault.reason = "a record of " + std::to_string(length) + " bytes ends before its record-type field";
                keyFault.code = FaultCode::kShortRecord;
            } else if (setup.Values().Decode(key, data, cell_, keyFault)) {
                decodedGood = true;
                shown = cell_.text;
                keyFault.reason = "record type \"" + shown +
                                  "\" matches no --record-type rule and there is no --record-type-default";
                keyFault.code = FaultCode::kRecordType;
            } else {
                keyFault.reason = "the record-type field: " + keyFault.reason;
            }
            if (!firstKnown) {
                firstKnown = true;
                field = &key;
                fault = keyFault;
            }
        }
        if (decodedGood && Matches(key, shown, rule.value)) return static_cast<int>(rule.type);
    }
    if (default_ >= 0) return default_;
    if (!firstKnown) {
        fault.offset = 0;
        fault.reason = "no --record-type rule and no --record-type-default";
        fault.code = FaultCode::kRecordType;
    }
    return -1;
}

namespace {

constexpr size_t kFlushAt = 1 << 20;   // output bytes gathered before a write

// The one stream of JSON lines that the record-key sinks share.
class RecordKeyStream {
public:
    explicit RecordKeyStream(std::FILE* out) : out_(out) {}
    void Put(const std::string& prefix, const JsonRowWriter& writer, const RowCells& cells) {
        row_.resize(writer.Room(cells));
        char* end = writer.Put(&row_[0], cells);
        Put(prefix, row_.data(), static_cast<size_t>(end - row_.data()));
    }
    // A row's object, "{...}\n": the record key goes before its first member.
    void Put(const std::string& prefix, const char* row, size_t length) {
        buffer_ += prefix;
        if (length > 3 && row[1] != '}') buffer_ += ',';
        buffer_.append(row + 1, length - 1);
        ++buffered_;
    }
    bool Flush(bool always) {
        if (failed_) return false;
        if (!always && buffer_.size() < kFlushAt) return true;
        if (!buffer_.empty() && (std::fwrite(buffer_.data(), 1, buffer_.size(), out_) != buffer_.size() ||
                                 std::fflush(out_) != 0)) {
            failed_ = true;
        } else {
            stored_ += buffered_;
        }
        buffer_.clear();
        buffered_ = 0;
        return !failed_;
    }
    long long Stored() const { return stored_; }

private:
    std::FILE* out_;
    std::string buffer_, row_;
    long long buffered_ = 0, stored_ = 0;
    bool failed_ = false;
};

class RecordKeySink : public RowSink {
public:
    RecordKeySink(std::shared_ptr<RecordKeyStream> stream, const std::string& name, bool first, JsonNumbers numbers,
                  const VariableRecords* variable)
        : stream_(std::move(stream)), first_(first), numbers_(numbers), variable_(variable) {
        prefix_ = "{\"record\":";
        AppendJsonString(prefix_, name);
    }
    bool Begin(const LayoutPlan& plan) override {
        writer_.reset(new JsonRowWriter(plan, numbers_));
        return true;
    }
    bool Row(const LayoutPlan& plan, const RowCells& cells) override {
        // The table side's code page is the row's already (RowDecoder converted it).
        if (variable_ != nullptr) {
            // The arrays of DEPENDING ON tables as long as their counts.
            line_.clear();
            AppendJsonRowPresent(line_, plan, cells, variable_->Absent(), numbers_);
            stream_->Put(prefix_, line_.data(), line_.size());
        } else {
            stream_->Put(prefix_, *writer_, cells);
        }
        return stream_->Flush(false);
    }
    bool Finish() override { return stream_->Flush(true); }
    // The stream's count is the run's: the first sink gives it, the others none.
    long long Stored(long long) const override { return first_ ? stream_->Stored() : 0; }

private:
    std::shared_ptr<RecordKeyStream> stream_;
    bool first_;
    std::string prefix_;
    std::unique_ptr<JsonRowWriter> writer_;
    JsonNumbers numbers_;
    const VariableRecords* variable_;
    std::string line_;
};

}  // namespace

std::vector<std::unique_ptr<RowSink>> MakeRecordKeySinks(RecordTypes& types, std::FILE* out) {
    std::shared_ptr<RecordKeyStream> stream(new RecordKeyStream(out));
    std::vector<std::unique_ptr<RowSink>> sinks;
    bool first = true;
    for (size_t t = 0; t < types.Count(); ++t) {
        if (!types.Chosen(t)) {
            sinks.emplace_back();
            continue;
        }
        // The record's name in the table's code page, as the rest of the line.
        std::string name = types.Name(t), converted;
        TextCodec* table = types.Setup(t).TableText();
        if (table != nullptr && table->Encode(name.data(), name.size(), converted)) name = converted;
        sinks.emplace_back(new RecordKeySink(stream, name, first, types.Setup(t).Options().jsonNumbers,
                                             types.Setup(t).Variable()));
        first = false;
    }
    return sinks;
}

bool TakeRecordKey(std::string& line, std::string& record) {
    // A scan of the top-level object's members: strings skipped with their escapes,
    // nesting counted, until a key "record" at depth 1.
    size_t i = 0, n = line.size();
    auto skipSpace = [&] {
        while (i < n && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r' || line[i] == '\n')) ++i;
    };
    auto skipString = [&] {   // at the opening quote; after the closing one; false when unclosed
        for (++i; i < n; ++i) {
            if (line[i] == '\\') ++i;
            else if (line[i] == '"') {
                ++i;
                return true;
            }
        }
        return false;
    };
    skipSpace();
    if (i >= n || line[i] != '{') return false;
    ++i;
    int depth = 1;
    size_t memberStart = i;   // after the '{' or the ',' before the member
    bool expectKey = true;
    while (i < n && depth > 0) {
        char c = line[i];
        if (c == '"') {
            size_t keyStart = i;
            if (!skipString()) return false;
            if (depth == 1 && expectKey) {
                expectKey = false;
                if (line.compare(keyStart, i - keyStart, "\"record\"") != 0) continue;
                skipSpace();
                if (i >= n || line[i] != ':') return false;
                ++i;
                skipSpace();
                if (i >= n || line[i] != '"') return false;
                size_t valueStart = i;
                if (!skipString()) return false;
                std::string value = line.substr(valueStart + 1, i - valueStart - 2);
                if (value.find('\\') != std::string::npos) return false;
                record = value;
                skipSpace();
                // The member and one comma next to it go; the object stays well formed.
                if (i < n && line[i] == ',') {
                    line.erase(memberStart, i + 1 - memberStart);
                } else if (memberStart > 0 && line[memberStart - 1] == ',') {
                    line.erase(memberStart - 1, i - memberStart + 1);
                } else {
                    line.erase(memberStart, i - memberStart);
                }
                return true;
            }
            continue;
        }
        if (c == '{' || c == '[') ++depth;
        else if (c == '}' || c == ']') --depth;
        else if (c == ',' && depth == 1) {
            expectKey = true;
            memberStart = i + 1;
        }
        ++i;
    }
    return false;
}

namespace {

// JSON lines of several record types, each naming its record in a "record" key.
class RecordKeyRows : public TypedRowSource {
public:
    RecordKeyRows(RecordTypes& types, std::FILE* in)
        : types_(types), first_(types.Setup(0)), reader_(in, first_.Options().maxLine), cells_(types.Count()) {
        for (size_t t = 0; t < types.Count(); ++t) cells_[t].resize(types.Setup(t).Plan().fields.size());
    }
    RecordKeyRows(RecordTypes& types, const char* lines, size_t size)
        : types_(types), first_(types.Setup(0)), reader_(nullptr, 0, lines, size, first_.Options().maxLine),
          cells_(types.Count()) {
        for (size_t t = 0; t < types.Count(); ++t) cells_[t].resize(types.Setup(t).Plan().fields.size());
    }
    bool Next(size_t& type, std::string& rowError, std::string& error) override {
        if (!reader_.NextLine(line_, error)) return false;
        const DataOptions& options = first_.Options();
        converted_.clear();
        int chosen = -1;
        TextCodec* table = first_.TableText();
        if (!TakeRecordKey(line_, name_)) {
            rowError = "the line has no \"record\" key naming its 01 record";
        } else if (table != nullptr &&
                   !table->Decode(reinterpret_cast<const unsigned char*>(name_.data()), name_.size(), converted_)) {
            rowError = "\"record\": the value is no " + options.tableEncoding + " text";
        } else if ((chosen = types_.Find(table != nullptr ? converted_ : name_)) < 0) {
            rowError = "\"record\": the copybook has no 01 record " + ShownText(name_);
        }
        type = chosen < 0 ? 0 : static_cast<size_t>(chosen);
        type_ = type;
        if (!rowError.empty()) return true;
        std::vector<Cell>& row = cells_[type];
        for (Cell& cell : row) {
            cell.kind = Cell::kNull;
            cell.text.clear();
        }
        ReadJsonRow(line_, types_.Setup(type).Plan(), row, rowError, options.ignoreUnknown);
        if (rowError.empty()) LendCells(row, lent_);
        return true;
    }
    const std::vector<Cell>& Cells() const override { return cells_[type_]; }
    std::vector<LentCell>& Lent() override { return lent_; }
    uint64_t Consumed() const override { return reader_.Consumed(); }
    bool ReadFailed() const override { return reader_.ReadFailed(); }

private:
    RecordTypes& types_;
    DataSetup& first_;
    TableReader reader_;
    std::vector<std::vector<Cell>> cells_;
    std::vector<LentCell> lent_;
    std::string line_, name_, converted_;
    size_t type_ = 0;
};

}  // namespace

namespace {

RunResult EncodeKeyedRows(RecordTypes& types, RecordKeyRows& rows, RecordWriter& writer, RunObserver& observer,
                          RowSpan& span) {
    const DataOptions& options = types.Setup(0).Options();
    // A fixed-length file's records are all as long as the longest record type.
    std::vector<std::unique_ptr<RowEncoder>> owned;
    std::vector<RowEncoder*> encoders;
    for (size_t t = 0; t < types.Count(); ++t) {
        size_t length = static_cast<size_t>(Variable(options.records) ? types.Length(t) : types.MaxLength());
        owned.emplace_back(new RowEncoder(types.Setup(t), length));
        encoders.push_back(owned.back().get());
    }
    return EncodeLoop(rows, encoders, &types, options, writer, observer, span);
}

}  // namespace

RunResult EncodeRecordTypes(RecordTypes& types, std::FILE* in, RecordWriter& writer, RunObserver& observer) {
    RowSpan span;
    span.skip = types.Setup(0).Options().skip;
    span.count = types.Setup(0).Options().count;
    RecordKeyRows rows(types, in);
    return EncodeKeyedRows(types, rows, writer, observer, span);
}

RunResult EncodeRecordTypes(RecordTypes& types, const char* lines, size_t size, RecordWriter& writer,
                            RunObserver& observer, RowSpan& span) {
    RecordKeyRows rows(types, lines, size);
    return EncodeKeyedRows(types, rows, writer, observer, span);
}

}  // namespace quillbox
