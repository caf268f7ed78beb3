// quillbox._core: the data codec for Python. A layout analysed from a copybook, the
// records of a data file decoded into column buffers (numbers into int64 and float64
// arrays, text and exact decimals kept as UTF-8 text) with the interpreter lock
// released, and rows encoded back into records. Every value rule is the codec's: this
// module only moves the codec's cells into arrays and Python objects.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <dlfcn.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "datafile.h"
#include "quillbox.h"
#include "rectypes.h"
#include "sqltable.h"
#include "storage.h"
#include "textcodec.h"
#include "valuecodec.h"
#include "variableoccurs.h"

namespace py = pybind11;
using namespace quillbox;

namespace {

// ---- Errors

// A copybook the analysis refused.
struct LayoutFailure {
    std::string message;
};

// Bad data or a failed run, with its place.
struct DataFailure {
    Error error;
};

py::object layoutErrorType, dataErrorType;

DataFailure FromFault(const RunFault& fault) {
    return DataFailure{Error(fault.reason, fault.record, fault.field != nullptr ? fault.field->column : std::string(),
                             fault.field != nullptr ? fault.offset : -1)};
}

// ---- Options

// The keyword arguments of read, iter_records, write and the Dask reader as the codec's
// options, one line an option; None leaves the default.
template <typename T>
void Named(bool (*parse)(const std::string&, T&), const py::handle& value, T& target, const char* option) {
    std::string text = py::str(value);
    if (!parse(text, target)) throw py::value_error(std::string("unknown ") + option + " value: " + text);
}

// record_type: rules "FIELD=VALUE:RECORD" as the command line takes them.
void AddRecordTypeRules(const py::handle& rules, DataOptions& options) {
    if (py::isinstance<py::str>(rules)) throw py::type_error("record_type takes a list of FIELD=VALUE:RECORD rules");
    for (auto given : rules) {
        std::string text = py::str(given);
        RecordTypeRule rule;
        if (!ParseRecordTypeRule(text, rule)) {
            throw py::value_error("record_type rules are FIELD=VALUE:RECORD, such as REC-TYPE=H:HDR-REC: " + text);
        }
        options.recordTypes.push_back(rule);
    }
}

// The data options of the keyword arguments; with `layout`, its OCCURS DEPENDING ON
// tables too.
DataOptions MakeOptions(const py::dict& given, const Layout* layout = nullptr) {
    DataOptions options;
    for (auto entry : given) {
        std::string key = py::str(entry.first);
        py::handle value = entry.second;
        if (value.is_none()) continue;
        if (key == "encoding") options.encoding = py::str(value);
        else if (key == "records") Named(ParseRecordFormat, value, options.records, "records");
        else if (key == "float_format") Named(ParseFloatFormat, value, options.floats, "float_format");
        else if (key == "on_error") Named(ParseOnError, value, options.onError, "on_error");
        else if (key == "native_order") Named(ParseNativeOrder, value, options.nativeOrder, "native_order");
        else if (key == "blank_numeric") Named(ParseBlankNumeric, value, options.blankNumeric, "blank_numeric");
        else if (key == "odo") Named(ParseOdoRecords, value, options.odo, "odo");
        else if (key == "sign_zones") {
            std::string text = py::isinstance<py::tuple>(value) || py::isinstance<py::list>(value)
                                   ? std::string(py::str(value[py::int_(0)])) + "," + std::string(py::str(value[py::int_(1)]))
                                   : std::string(py::str(value));
            if (!ParseSignZones(text, options.positiveZone, options.negativeZone)) {
                throw py::value_error("sign_zones takes POS,NEG, each from 0 to 255: " + text);
            }
            options.signZonesGiven = true;
        } else if (key == "redefines") {
            std::string text = py::str(value);
            if (text != "first" && text != "all") throw py::value_error("redefines takes first or all: " + text);
            options.redefinesAll = text == "all";
        } else if (key == "skip") options.skip = value.cast<long long>();
        else if (key == "count") options.count = value.cast<long long>();
        else if (key == "trim") options.trim = value.cast<bool>();
        else if (key == "serial_no") options.serialNo = value.cast<bool>();
        else if (key == "crlf") options.crlf = value.cast<bool>();
        else if (key == "block_size") options.blockSize = value.cast<size_t>();
        else if (key == "record_type") AddRecordTypeRules(value, options);
        else if (key == "record_type_default") options.recordTypeDefault = py::str(value);
        else if (key == "no_filler") options.noFiller = value.cast<bool>();
        else if (key == "names") {
            std::string text = py::str(value);
            if (text != "cobol" && text != "sql") throw py::value_error("names takes cobol or sql: " + text);
            options.naming = text == "sql" ? ColumnNaming::kSql : ColumnNaming::kCobol;
        }
        else throw py::type_error("unknown data option: " + key);
    }
    if (options.skip < 0) throw py::value_error("skip must not be negative");
    if (options.count < -1) throw py::value_error("count must not be negative");
    if (layout != nullptr) options.variableOccurs = VariableOccursOf(layout->Analyzer());
    return options;
}

// ---- Layout

class PyLayout {
public:
    // Analyses the copybook at `path`.
    PyLayout(const std::string& path, bool cobol, const std::vector<std::string>& include,
             const std::vector<std::pair<std::string, std::string>>& replace, int pointerSize, bool freeFormat) {
        options_.cobol = cobol;
        options_.includeDirs = include;
        options_.replacements = replace;
        options_.pointerSize = pointerSize;
        options_.freeFormat = freeFormat;
        if (pointerSize != 4 && pointerSize != 8) throw py::value_error("pointer_size is 4 or 8");
        try {
            layout_.reset(new Layout(path, options_));
        } catch (const Error& failure) {
            throw LayoutFailure{failure.what()};
        }
    }
    const Layout& Get() const { return *layout_; }
    int RecordLength() const { return layout_->RecordLength(); }

    py::list Items() const {
        py::list items;
        for (CopyItem* item = layout_->Head(); item != nullptr; item = item->next) {
            py::dict d;
            const unsigned f = item->flags;
            d["serial_no"] = item->serialNo;
            d["level"] = item->level;
            d["name"] = ShiftJisToUtf8(ItemText(item->name).Get());
            d["picture"] = ShiftJisToUtf8(ItemText(item->picture).Get());
            const ItemFlagName* category = ItemCategory(f);
            d["category"] = category != nullptr ? py::object(py::str(category->name)) : py::object(py::none());
            const ItemFlagName* names[USAGE_NAME_COUNT];
            int count = UsageNamesOf(f, names);
            py::list usages;
            for (int i = 0; i < count; ++i) usages.append(names[i]->name);
            d["usage"] = usages;
            d["signed"] = (f & ITEM_SIGNED) != 0;
            d["digits"] = item->digits;
            d["scale"] = item->scale;
            d["offset"] = item->position - 1;
            d["length"] = item->byteLength;
            d["occurs"] = item->occursCount;
            d["element_no"] = item->elementNo;
            d["dimension"] = item->dimension;
            d["redefines"] = item->redefines != nullptr ? py::object(py::str(ShiftJisToUtf8(ItemText(item->redefines->name).Get())))
                                                        : py::object(py::none());
            d["remark"] = ShiftJisToUtf8(ItemText(item->remark).Get());
            items.append(d);
        }
        return items;
    }

    // The table columns of the codec's plan under `options` (redefines, serial_no,
    // no_filler, names).
    py::list Columns(const py::dict& given) const {
        DataOptions options = MakeOptions(given);
        LayoutPlan plan;
        std::string error;
        ColumnChoice choice;
        choice.noFiller = options.noFiller;
        choice.naming = options.naming;
        if (!BuildLayoutPlan(layout_->Head(), layout_->RecordLength(), options.redefinesAll, options.serialNo, choice,
                             plan, error)) {
            throw LayoutFailure{error};
        }
        static const char* const kinds[] = {"display", "packed", "binary", "comp-5", "float", "double",
                                            "text", "national", "bits", "boolean"};
        // The occurrences of DEPENDING ON tables that a record may lack (past the minimum).
        std::vector<const CopyItem*> optional;
        for (const VariableOccurs& table : VariableOccursOf(layout_->Analyzer())) {
            if (table.item->elementNo > table.minimum) optional.push_back(table.item);
        }
        py::list columns;
        for (const Field& field : plan.fields) {
            py::dict d;
            bool absent = false;
            for (const CopyItem* item = field.item; item != nullptr && !absent; item = item->parent) {
                absent = std::find(optional.begin(), optional.end(), item) != optional.end();
            }
            d["optional"] = absent;
            d["name"] = field.column;
            d["kind"] = kinds[field.kind];
            d["offset"] = field.offset;
            d["length"] = field.length;
            d["digits"] = field.digits;
            d["scale"] = field.scale;
            d["signed"] = field.isSigned;
            columns.append(d);
        }
        return columns;
    }

    // The CREATE TABLE text: in the generic dialect the desktop program's export (UTF-8
    // here), in a database's dialect (sqlite, postgresql, db2) the codec's statement for
    // the data table decode writes. `noFiller` leaves FILLER items out; `names` "sql"
    // writes SQL-safe names.
    std::string Ddl(const std::string& table, bool serialNo, bool quoteNames, const std::string& dialectName,
                    bool noFiller, const std::string& names) const {
        SqlDialect dialect;
        if (!ParseSqlDialect(dialectName, dialect)) {
            throw py::value_error("dialect takes generic, sqlite, postgresql or db2: " + dialectName);
        }
        if (names != "cobol" && names != "sql") throw py::value_error("names takes cobol or sql: " + names);
        const ColumnNaming naming = names == "sql" ? ColumnNaming::kSql : ColumnNaming::kCobol;
        if (dialect != SqlDialect::kGeneric) {
            std::string error;
            ColumnChoice choice;
            choice.noFiller = noFiller;
            choice.naming = naming;
            auto create = [&](CopyItem* head, int length, const std::string& name) {
                LayoutPlan plan;
                if (!CheckTableName(name, dialect, error)) throw py::value_error(error);
                if (!BuildLayoutPlan(head, length, false, serialNo, choice, plan, error)) throw LayoutFailure{error};
                return CreateTableSql(plan, name, dialect, quoteNames);
            };
            // Under the COBOL rules 01 records laid over the same bytes are record types:
            // a table each, named TABLE_RECORD (as quillbox-cli ddl names them).
            std::vector<CopyItem*> records = RecordsOf(layout_->Head());
            if (!options_.cobol || records.size() < 2 || records[1]->position != 1) {
                return create(layout_->Head(), layout_->RecordLength(), table);
            }
            std::string sql;
            for (CopyItem* record : records) {
                WithRecordAlone(record, [&] {
                    sql += (sql.empty() ? "" : "\n") +
                           create(record, static_cast<int>(record->byteLength), table + "_" + RecordName(record));
                });
            }
            return sql;
        }
        std::string name;
        if (!Utf8ToShiftJis(table, name) || name.empty() || name.size() >= TABLE_NAME_CAPACITY) {
            throw py::value_error("the table name is empty, too long or has no Shift_JIS form");
        }
        std::FILE* file = std::tmpfile();
        if (file == nullptr) throw py::value_error("cannot create a temporary file");
        bool ok = WriteCreateTable(file, layout_->Head(), name.c_str(), serialNo, quoteNames, noFiller, naming);
        std::string text;
        std::rewind(file);
        char buffer[65536];
        size_t got;
        while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, got);
        std::fclose(file);
        if (!ok) throw py::value_error("cannot write the CREATE TABLE text");
        return ShiftJisToUtf8(text);
    }

private:
    LayoutOptions options_;
    std::unique_ptr<Layout> layout_;
};

// ---- Columns

// How a column's values come out in Python.
enum Output {
    kInt64,     // int64 (a number without decimals, or a scaled number's digits)
    kFloat64,   // float64
    kDecimal,   // decimal.Decimal: of the digits kept in `ints` (`scale` places), or of the text
    kBigInt,    // Python int of the text: more digits than int64 holds
    kString     // str
};

enum class Decimals { kDecimal, kFloat, kInt };

// Memory for column values. A column of a large read is written once, from start to
// end, and then handed to numpy as it is: blocks of 2 MB and more are mapped on their
// own and asked for as huge pages, so that filling them takes one page fault for 2 MB
// rather than one for each 4 KB (the faults, not the decoding, were most of a large
// read's time).
class Pages {
public:
    static constexpr size_t kHuge = size_t{2} << 20;

    static void* Allocate(size_t bytes) {
        if (bytes < kHuge) return std::malloc(bytes);
        // Rounded up to whole huge pages, with room to start on one.
        size_t length = (bytes + kHuge - 1) / kHuge * kHuge + kHuge;
        void* mapped = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (mapped == MAP_FAILED) return nullptr;
        uintptr_t start = reinterpret_cast<uintptr_t>(mapped);
        uintptr_t aligned = (start + kHuge - 1) / kHuge * kHuge;
        // The unaligned head and the tail past the block go back at once.
        if (aligned > start) munmap(mapped, aligned - start);
        size_t kept = (bytes + kHuge - 1) / kHuge * kHuge;
        uintptr_t end = start + length;
        if (aligned + kept < end) munmap(reinterpret_cast<void*>(aligned + kept), end - (aligned + kept));
#ifdef MADV_HUGEPAGE
        madvise(reinterpret_cast<void*>(aligned), kept, MADV_HUGEPAGE);
#endif
        return reinterpret_cast<void*>(aligned);
    }
    static void Free(void* block, size_t bytes) {
        if (block == nullptr) return;
        if (bytes < kHuge) std::free(block);
        else munmap(block, (bytes + kHuge - 1) / kHuge * kHuge);
    }
};

// A growable array of numbers (int64, double, text ends) in Pages memory.
template <typename T>
class Buffer {
public:
    Buffer() = default;
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;
    Buffer(Buffer&& other) noexcept { *this = std::move(other); }
    Buffer& operator=(Buffer&& other) noexcept {
        std::swap(data_, other.data_);
        std::swap(size_, other.size_);
        std::swap(capacity_, other.capacity_);
        return *this;
    }
    ~Buffer() { Pages::Free(data_, capacity_ * sizeof(T)); }

    void reserve(size_t n) {
        if (n <= capacity_) return;
        T* data = static_cast<T*>(Pages::Allocate(n * sizeof(T)));
        if (data == nullptr) throw std::bad_alloc();
        if (size_ > 0) std::memcpy(data, data_, size_ * sizeof(T));
        Pages::Free(data_, capacity_ * sizeof(T));
        data_ = data;
        capacity_ = n;
    }
    void push_back(T value) {
        if (size_ == capacity_) reserve(capacity_ < 16 ? 16 : capacity_ * 2);
        data_[size_++] = value;
    }
    void pop_back() { --size_; }
    void clear() { size_ = 0; }
    bool empty() const { return size_ == 0; }
    size_t size() const { return size_; }
    T& back() { return data_[size_ - 1]; }
    T& operator[](size_t i) { return data_[i]; }
    T* data() { return data_; }

private:
    T* data_ = nullptr;
    size_t size_ = 0, capacity_ = 0;
};

// Texts one after another in Pages memory, grown by doubling; no byte is cleared
// before it is written.
class TextStore {
public:
    TextStore() = default;
    TextStore(const TextStore&) = delete;
    TextStore& operator=(const TextStore&) = delete;
    TextStore(TextStore&& other) noexcept {
        std::swap(data_, other.data_);
        std::swap(capacity_, other.capacity_);
        std::swap(used_, other.used_);
    }
    ~TextStore() { Pages::Free(data_, capacity_); }
    // Room for `n` more bytes at the end.
    char* Room(size_t n) {
        if (capacity_ - used_ < n) Grow(n);
        return data_ + used_;
    }
    void Reserve(size_t n) {
        if (capacity_ - used_ < n) Grow(n);
    }
    void Append(const char* text, size_t n) {
        if (n > 0) std::memcpy(Room(n), text, n);
        used_ += n;
    }
    void SetEnd(const char* end) { used_ = static_cast<size_t>(end - data_); }
    void Resize(size_t n) { used_ = n; }
    size_t Size() const { return used_; }
    const char* Data() const { return data_; }

private:
    void Grow(size_t n) {
        size_t capacity = std::max(capacity_ * 2, used_ + n);
        char* data = static_cast<char*>(Pages::Allocate(capacity));
        if (data == nullptr) throw std::bad_alloc();
        if (used_ > 0) std::memcpy(data, data_, used_);
        Pages::Free(data_, capacity_);
        data_ = data;
        capacity_ = capacity;
    }
    char* data_ = nullptr;
    size_t capacity_ = 0, used_ = 0;
};

// How a good value goes straight from the record's bytes into its column (DirectRow).
enum Direct {
    kDirectNone,      // only through the codec's cells (floating point items, bits...)
    kDirectInt,       // the number's digits as int64
    kDirectFloat,     // the number as a double
    kDirectText       // the text's UTF-8
};

struct Column {
    const Field* field;
    Output output;
    Direct direct;
    int intScale;                 // kInt64, kDecimal in `ints`: the places the digits are read with
    bool textual;                 // the values kept as texts (with `ends`)
    Buffer<int64_t> ints;
    Buffer<double> floats;
    TextStore texts;              // the texts one after another
    Buffer<uint64_t> ends;        // where each row's text ends
    std::vector<uint8_t> nulls;   // a flag a row once the column has a null
    bool anyNull = false;
};

bool IsNumber(const Field& field) {
    return field.kind == Field::kDisplay || field.kind == Field::kPacked || field.kind == Field::kBinary ||
           field.kind == Field::kComp5;
}

// 10^0 .. 10^22: every one exact as a double.
const double kPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                          1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// The largest magnitude an int64 holds with the sign given.
inline uint64_t Int64Limit(bool negative) {
    return negative ? uint64_t{1} << 63 : static_cast<uint64_t>(INT64_MAX);
}

// The codec's values appended to column buffers: a row sink for DecodeRecords, and the
// same for the chunks of iter_records. A record of good values goes straight from its
// bytes into the columns (the codec's numbers as digits and sign, its texts as UTF-8);
// any other record comes as the codec's cells.
class ColumnSink : public RowSink {
public:
    ColumnSink(DataSetup& setup, Decimals decimals) : values_(setup.Values()) {
        const LayoutPlan& plan = setup.Plan();
        columns_.resize(plan.fields.size());
        for (size_t i = 0; i < plan.fields.size(); ++i) {
            const Field& field = plan.fields[i];
            Column& c = columns_[i];
            c.field = &field;
            c.intScale = 0;
            c.direct = kDirectNone;
            if (field.kind == Field::kFloat || field.kind == Field::kDouble) {
                c.output = kFloat64;
            } else if (!IsNumber(field)) {
                c.output = kString;
                if (field.kind == Field::kText || field.kind == Field::kNational) c.direct = kDirectText;
            } else if (field.scale > 0 && decimals == Decimals::kFloat) {
                c.output = kFloat64;
                if (field.scale <= 22) c.direct = kDirectFloat;
            } else {
                // Integers and scaled digits in int64 while their digits fit (with the
                // zeros of a picture's P); an unsigned binary item of 8 bytes may hold
                // more than int64 does, whatever its picture's digits.
                bool wide = field.digits + (field.scale < 0 ? -field.scale : 0) > 18 ||
                            ((field.kind == Field::kBinary || field.kind == Field::kComp5) && field.length >= 8 &&
                             !field.isSigned);
                bool decimal = field.scale > 0 && decimals == Decimals::kDecimal;
                c.output = decimal ? kDecimal : wide ? (field.scale > 0 ? kDecimal : kBigInt) : kInt64;
                c.intScale = field.scale > 0 ? field.scale : 0;
                if (!wide && field.scale >= 0) c.direct = kDirectInt;
            }
            c.textual = c.output == kString || c.output == kBigInt || (c.output == kDecimal && c.direct != kDirectInt);
        }
    }
    bool Begin(const LayoutPlan&) override { return true; }
    bool Finish() override { return true; }
    std::string Failure() const override { return failure_; }

    bool DirectRow(const unsigned char* record, bool&) override {
        for (size_t i = 0; i < columns_.size(); ++i) {
            Column& c = columns_[i];
            const Field& field = *c.field;
            bool negative;
            uint64_t magnitude;
            switch (c.direct) {
            case kDirectInt:
                if (!values_.NumberOf(field, record, negative, magnitude) || magnitude > Int64Limit(negative)) {
                    return Undo(i);
                }
                c.ints.push_back(negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude));
                break;
            case kDirectFloat: {
                if (!values_.NumberOf(field, record, negative, magnitude) || magnitude >= (uint64_t{1} << 53)) {
                    return Undo(i);
                }
                double value = static_cast<double>(magnitude) / kPowers[field.scale];
                c.floats.push_back(negative ? -value : value);
                break;
            }
            case kDirectText: {
                char* out = c.texts.Room(ValueCodec::CellRoom(field));
                char* end = values_.TextCellInto(field, record, out);
                if (end == nullptr) return Undo(i);
                c.texts.SetEnd(end);
                c.ends.push_back(c.texts.Size());
                break;
            }
            case kDirectNone: return Undo(i);
            }
        }
        for (Column& c : columns_) {
            if (c.anyNull) c.nulls.push_back(0);
        }
        ++rows_;
        return true;
    }

    bool Row(const LayoutPlan&, const RowCells& cells) override {
        for (size_t i = 0; i < columns_.size(); ++i) {
            Column& c = columns_[i];
            bool null = cells.Kind(i) == Cell::kNull;
            // The null flags are kept from a column's first null on.
            if (null && !c.anyNull) {
                c.nulls.assign(rows_, 0);
                c.anyNull = true;
            }
            if (c.anyNull) c.nulls.push_back(null ? 1 : 0);
            if (c.textual) {
                if (!null) c.texts.Append(cells.Text(i), cells.Length(i));
                c.ends.push_back(c.texts.Size());
            } else if (c.output == kFloat64) {
                c.floats.push_back(null ? std::nan("") : Number(c, cells.Text(i), cells.Length(i)));
            } else {
                int64_t value = 0;
                if (!null) {
                    bool negative;
                    uint64_t magnitude;
                    std::string reason;
                    std::string_view text(cells.Text(i), cells.Length(i));
                    if (!ParseDecimal(text, c.intScale, negative, magnitude, reason) || magnitude > Int64Limit(negative)) {
                        failure_ = "the value " + std::string(text) + " of " + c.field->column + " is beyond 64 bits";
                        return false;
                    }
                    value = negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
                }
                c.ints.push_back(value);
            }
        }
        ++rows_;
        return true;
    }

    // Room for `rows` rows, so that the buffers do not move while they fill.
    void Reserve(size_t rows) {
        for (Column& c : columns_) {
            if (c.textual) {
                c.ends.reserve(rows);
                // UTF-8 of two-byte text takes at most 3 bytes for 2, of one-byte text 3 for 1.
                c.texts.Reserve(rows * (c.output == kString ? 3 * static_cast<size_t>(c.field->length) / 2 + 1
                                                            : static_cast<size_t>(c.field->digits) + 3));
            } else if (c.output == kFloat64) {
                c.floats.reserve(rows);
            } else {
                c.ints.reserve(rows);
            }
        }
    }
    size_t Rows() const { return rows_; }
    std::vector<Column>& Columns() { return columns_; }
    // Empties the buffers for the next chunk.
    void Clear() {
        for (Column& c : columns_) {
            c.ints.clear();
            c.floats.clear();
            c.texts.Resize(0);
            c.ends.clear();
            c.nulls.clear();
            c.anyNull = false;
        }
        rows_ = 0;
    }

private:
    // Takes back the values a record left in the columns before `column`, so that the
    // codec's cells can bring the record; false for DirectRow to return.
    bool Undo(size_t column) {
        for (size_t i = 0; i < column; ++i) {
            Column& c = columns_[i];
            if (c.direct == kDirectText) {
                c.ends.pop_back();
                c.texts.Resize(c.ends.empty() ? 0 : c.ends.back());
            } else if (c.direct == kDirectFloat) {
                c.floats.pop_back();
            } else {
                c.ints.pop_back();
            }
        }
        return false;
    }

    // A float item's text, or a decimal number's, as the codec's Value gives it as a
    // double: the digits and scale of a decimal divide exactly-held doubles (one
    // rounding, the text's nearest double) when they fit, the codec otherwise.
    double Number(const Column& c, const char* text, size_t length) {
        std::string_view view(text, length);
        if (IsNumber(*c.field) && c.field->scale >= 0 && c.field->scale <= 22) {
            bool negative;
            uint64_t magnitude;
            std::string reason;
            if (ParseDecimal(view, c.field->scale, negative, magnitude, reason) && magnitude < (uint64_t{1} << 53)) {
                double value = static_cast<double>(magnitude) / kPowers[c.field->scale];
                return negative ? -value : value;
            }
        }
        Value value(IsNumber(*c.field) ? Value::kDecimal : Value::kFloat, std::string(view), c.field->scale);
        return value.AsDouble();
    }

    ValueCodec& values_;
    std::vector<Column> columns_;
    size_t rows_ = 0;
    std::string failure_ = "cannot keep the rows";
};

// Hears the faults of a run: the one that ended it (stop or fatal) and a count of the
// others (records skipped, values left empty).
class FaultKeeper : public RunObserver {
public:
    void Fault(const RunFault& fault) override {
        if (fault.kind == RunFault::kView) return;
        if (fault.kind == RunFault::kFatal) {
            if (!fatal_) fatal_.reset(new DataFailure(FromFault(fault)));
            return;
        }
        last_.reset(new DataFailure(FromFault(fault)));
        ++bad_;
    }
    std::unique_ptr<DataFailure> fatal_, last_;
    long long bad_ = 0;
};

// ---- Data input

// The data: a path, or bytes of the caller's (held while the run reads them).
class DataInput {
public:
    DataInput(const py::object& data, uint64_t start) {
        if (py::isinstance<py::bytes>(data) || py::isinstance<py::bytearray>(data) ||
            py::isinstance<py::memoryview>(data)) {
            keep_ = py::bytes(data);
            char* buffer;
            ssize_t size;
            PyBytes_AsStringAndSize(keep_.ptr(), &buffer, &size);
            if (start > static_cast<uint64_t>(size)) start = static_cast<uint64_t>(size);
            // An empty buffer cannot be opened by fmemopen: an empty temporary file stands in.
            file_ = size > static_cast<ssize_t>(start) ? fmemopen(buffer + start, static_cast<size_t>(size) - start, "rb")
                                                       : std::tmpfile();
            size_ = static_cast<uint64_t>(size) - start;
            if (file_ == nullptr) throw py::value_error("cannot read the bytes");
            return;
        }
        std::string path = py::str(py::module_::import("os").attr("fspath")(data));
        file_ = std::fopen(path.c_str(), "rb");
        if (file_ == nullptr) {
            PyErr_SetFromErrnoWithFilename(PyExc_OSError, path.c_str());
            throw py::error_already_set();
        }
        if (start > 0 && fseeko(file_, static_cast<off_t>(start), SEEK_SET) != 0) {
            std::fclose(file_);
            throw py::value_error(path + ": cannot seek to " + std::to_string(start));
        }
        struct stat status;
        if (fstat(fileno(file_), &status) == 0 && S_ISREG(status.st_mode) && static_cast<uint64_t>(status.st_size) > start) {
            size_ = static_cast<uint64_t>(status.st_size) - start;
        }
    }
    ~DataInput() { std::fclose(file_); }
    // The bytes to read, as far as known (0 when not).
    uint64_t Size() const { return size_; }
    DataInput(const DataInput&) = delete;
    DataInput& operator=(const DataInput&) = delete;
    std::FILE* File() const { return file_; }

private:
    py::object keep_;
    std::FILE* file_ = nullptr;
    uint64_t size_ = 0;
};

// The most rows `input` holds for records of `length` bytes (no more than `count`).
size_t RowsAtMost(const DataInput& input, int length, long long count) {
    uint64_t rows = input.Size() / static_cast<uint64_t>(length) + 1;
    if (count >= 0 && static_cast<uint64_t>(count) < rows) rows = static_cast<uint64_t>(count);
    return static_cast<size_t>(std::min<uint64_t>(rows, uint64_t{1} << 32));
}

Decimals ParseDecimals(const std::string& text) {
    if (text == "decimal") return Decimals::kDecimal;
    if (text == "float") return Decimals::kFloat;
    if (text == "int") return Decimals::kInt;
    throw py::value_error("decimals takes decimal, float or int: " + text);
}

// ---- Decimal objects

// decimal.Decimal objects made from digits and a scale. CPython's decimal module keeps a
// value as libmpdec's number in the object itself (four words of 19 digits each, held
// in place); where the interpreter's Decimal has that form, checked on values made by
// Decimal itself when the module loads, a Decimal is filled in directly, as its own
// constructor would fill it. Anywhere else the constructor is called with the text.
class DecimalMaker {
public:
    DecimalMaker() : type_(py::module_::import("decimal").attr("Decimal")) {
        direct_ = Probe("-1234.56", true, -2, 6, 123456, 0) && Probe("12345678901234567890", false, 0, 20,
                                                                        2345678901234567890ull, 1) &&
                  Probe("0.000", false, -3, 1, 0, 0) && Probe("7", false, 0, 1, 7, 0);
    }
    // The Decimal of `negative` `magnitude` over 10^`scale`; a new reference, or null
    // with the Python error set.
    PyObject* Make(bool negative, uint64_t magnitude, int scale) {
        if (!direct_) {
            std::string text;
            AppendDecimal(text, negative, magnitude, scale);
            py::str value(text);
            return FromText(value.ptr());
        }
        PyTypeObject* type = reinterpret_cast<PyTypeObject*>(type_.ptr());
        DecObject* object = PyObject_New(DecObject, type);
        if (object == nullptr) return nullptr;
        object->hash = -1;
        object->dec.flags = kStatic | kStaticData | (negative && magnitude != 0 ? kNegative : 0);
        object->dec.exp = -scale;
        object->dec.digits = DigitsOf(magnitude);
        object->dec.len = magnitude >= kRadix ? 2 : 1;
        object->dec.alloc = kWords;
        object->dec.data = object->data;
        object->data[0] = magnitude % kRadix;
        object->data[1] = magnitude / kRadix;
        return reinterpret_cast<PyObject*>(object);
    }
    // The Decimal of a str (digits beyond what Make takes); a new reference, or null.
    PyObject* FromText(PyObject* text) { return PyObject_CallOneArg(type_.ptr(), text); }

private:
    // libmpdec's number (mpd_t) and CPython's Decimal object on a 64-bit machine.
    struct Mpd {
        uint8_t flags;
        int64_t exp, digits, len, alloc;
        uint64_t* data;
    };
    static constexpr int kWords = 4;
    struct DecObject {
        PyObject_HEAD
        Py_hash_t hash;
        Mpd dec;
        uint64_t data[kWords];
    };
    static constexpr uint8_t kNegative = 1, kStatic = 16, kStaticData = 32;
    static constexpr uint64_t kRadix = 10000000000000000000ull;   // 10^19, a word's digits

    static int64_t DigitsOf(uint64_t v) {
        int64_t digits = 1;
        while (v >= 10) {
            v /= 10;
            ++digits;
        }
        return digits;
    }
    // Whether Decimal(`text`) holds what Make would put in it.
    bool Probe(const char* text, bool negative, int64_t exp, int64_t digits, uint64_t low, uint64_t high) const {
        if (sizeof(void*) != 8) return false;
        PyTypeObject* type = reinterpret_cast<PyTypeObject*>(type_.ptr());
        // An object the garbage collector tracks has its header in front of it, which
        // PyObject_New does not make: such a Decimal is made by its constructor.
        if (type->tp_basicsize != static_cast<Py_ssize_t>(sizeof(DecObject)) || type->tp_itemsize != 0 ||
            (type->tp_flags & Py_TPFLAGS_HAVE_GC) != 0) {
            return false;
        }
        py::object value = type_(py::str(text));
        const DecObject* object = reinterpret_cast<const DecObject*>(value.ptr());
        const Mpd& d = object->dec;
        return object->hash == -1 && d.flags == (kStatic | kStaticData | (negative ? kNegative : 0)) && d.exp == exp &&
               d.digits == digits && d.len == (high != 0 ? 2 : 1) && d.alloc == kWords && d.data == object->data &&
               object->data[0] == low && (high == 0 || object->data[1] == high);
    }

    py::object type_;
    bool direct_ = false;
};

// While a chunk's Python objects are made (millions of strs and Decimals), the
// interpreter's small-object arenas are taken from huge pages, as the column memory is
// (Pages): with 4 KB pages every 4 KB of new objects costs a page fault. The arenas are
// carved from 2 MB-aligned mappings asked for as huge pages; each is a mapping of its
// own as far as freeing goes (the interpreter frees an arena by unmapping it, as it
// frees its own), so the arenas outlive the scope like any other. The interpreter's
// allocator is put back when the scope ends; the lock is held throughout.
class HugeArenas {
public:
    HugeArenas() {
        PyObject_GetArenaAllocator(&previous_);
        // Only in place of the interpreter's own allocator, which maps and unmaps each
        // arena: one that an embedding program set may not free what is mapped here.
        Dl_info own, current;
        if (previous_.ctx != nullptr || dladdr(reinterpret_cast<void*>(&PyObject_Malloc), &own) == 0 ||
            dladdr(reinterpret_cast<void*>(previous_.alloc), &current) == 0 || own.dli_fbase != current.dli_fbase) {
            return;
        }
        PyObjectArenaAllocator huge{this, &Allocate, &Free};
        PyObject_SetArenaAllocator(&huge);
        installed_ = true;
    }
    ~HugeArenas() {
        if (!installed_) return;
        PyObject_SetArenaAllocator(&previous_);
        if (left_ > 0) munmap(next_, left_);
    }
    HugeArenas(const HugeArenas&) = delete;
    HugeArenas& operator=(const HugeArenas&) = delete;

private:
    static constexpr size_t kRegion = size_t{32} << 20;

    static void* Allocate(void* context, size_t size) {
        HugeArenas& self = *static_cast<HugeArenas*>(context);
        if (self.left_ < size) {
            if (self.left_ > 0) munmap(self.next_, self.left_);
            self.left_ = 0;
            size_t region = std::max(kRegion, (size + Pages::kHuge - 1) / Pages::kHuge * Pages::kHuge);
            void* block = Pages::Allocate(region);
            if (block == nullptr) return self.previous_.alloc(self.previous_.ctx, size);
            self.next_ = static_cast<char*>(block);
            self.left_ = region;
        }
        void* arena = self.next_;
        self.next_ += size;
        self.left_ -= size;
        return arena;
    }
    static void Free(void*, void* arena, size_t size) { munmap(arena, size); }

    PyObjectArenaAllocator previous_;
    bool installed_ = false;
    char* next_ = nullptr;
    size_t left_ = 0;
};

// The buffers of a chunk as Python columns: (name, kind, values, mask or None) with kind
// "int64", "float64" or "object".
py::list ToPython(ColumnSink& sink) {
    static DecimalMaker* decimals = new DecimalMaker();   // lives as long as the interpreter
    HugeArenas arenas;
    py::list result;
    const size_t rows = sink.Rows();
    for (Column& c : sink.Columns()) {
        py::object mask = py::none();
        if (c.anyNull && c.output == kInt64) {
            py::array_t<bool> m(static_cast<py::ssize_t>(rows));
            bool* out = m.mutable_data();
            for (size_t r = 0; r < rows; ++r) out[r] = c.nulls[r] != 0;
            mask = m;
        }
        if (c.output == kInt64 || c.output == kFloat64) {
            py::array values;
            if (c.output == kInt64) {
                auto* held = new Buffer<int64_t>(std::move(c.ints));
                py::capsule owner(held, [](void* p) { delete static_cast<Buffer<int64_t>*>(p); });
                values = py::array_t<int64_t>(static_cast<py::ssize_t>(held->size()), held->data(), owner);
            } else {
                auto* held = new Buffer<double>(std::move(c.floats));
                py::capsule owner(held, [](void* p) { delete static_cast<Buffer<double>*>(p); });
                values = py::array_t<double>(static_cast<py::ssize_t>(held->size()), held->data(), owner);
            }
            result.append(py::make_tuple(c.field->column, c.output == kInt64 ? "int64" : "float64", values, mask));
            continue;
        }
        std::vector<py::ssize_t> shape{static_cast<py::ssize_t>(rows)};
        py::array values(py::dtype("O"), shape);
        PyObject** out = static_cast<PyObject**>(values.mutable_data());
        uint64_t begin = 0;
        for (size_t r = 0; r < rows; ++r) {
            PyObject* object;
            if (c.anyNull && c.nulls[r]) {
                object = Py_None;
                Py_INCREF(object);
            } else if (!c.textual) {
                // A Decimal of the digits kept.
                int64_t digits = c.ints[r];
                object = decimals->Make(digits < 0, digits < 0 ? 0 - static_cast<uint64_t>(digits) : static_cast<uint64_t>(digits),
                                        c.intScale);
            } else {
                const char* text = c.texts.Data() + begin;
                object = PyUnicode_DecodeUTF8(text, static_cast<Py_ssize_t>(c.ends[r] - begin), "strict");
                if (object != nullptr && c.output != kString) {
                    PyObject* number = c.output == kDecimal ? decimals->FromText(object)
                                                            : PyLong_FromUnicodeObject(object, 10);
                    Py_DECREF(object);
                    object = number;
                }
            }
            if (c.textual) begin = c.ends[r];
            if (object == nullptr) throw py::error_already_set();
            PyObject* old = out[r];
            out[r] = object;
            Py_XDECREF(old);
        }
        result.append(py::make_tuple(c.field->column, "object", values, mask));
    }
    return result;
}

// Raises what ended a run, if anything did.
void Raise(const RunResult& result, const FaultKeeper& keeper, const ColumnSink& sink) {
    if (keeper.fatal_) throw *keeper.fatal_;
    if (result.stopped && keeper.last_) throw *keeper.last_;
    if (result.failed) throw DataFailure{Error(sink.Failure())};
}

// quillbox.read: every record of the data into columns.
py::list Read(const PyLayout& layout, const py::object& data, const std::string& decimals, const py::dict& given) {
    DataOptions options = MakeOptions(given, &layout.Get());
    Decimals mode = ParseDecimals(decimals);
    DataInput input(data, 0);
    DataSetup setup;
    std::string error;
    if (!setup.Prepare(layout.Get().Head(), layout.RecordLength(), options, error)) throw DataFailure{Error(error)};
    ColumnSink sink(setup, mode);
    sink.Reserve(RowsAtMost(input, layout.RecordLength(), options.count));
    FaultKeeper keeper;
    RunResult result;
    {
        py::gil_scoped_release unlocked;
        RecordReader reader(input.File(), options.records, static_cast<size_t>(layout.RecordLength()));
        result = DecodeRecords(setup, reader, sink, keeper);
    }
    Raise(result, keeper, sink);
    return ToPython(sink);
}

// The records of a data file chunk by chunk (iter_records, a Dask partition): from
// byte `start` (a record's start; in rdw-block a block's), the first record numbered
// `first`, `count` records at most.
class Chunks {
public:
    Chunks(const PyLayout& layout, const py::object& data, const std::string& decimals, const py::dict& given,
           uint64_t start, long long first)
        : layout_(layout), options_(MakeOptions(given, &layout.Get())), input_(data, start), number_(first - 1) {
        std::string error;
        if (!setup_.Prepare(layout.Get().Head(), layout.RecordLength(), options_, error)) throw DataFailure{Error(error)};
        sink_.reset(new ColumnSink(setup_, ParseDecimals(decimals)));
        reader_.reset(new RecordReader(input_.File(), options_.records, static_cast<size_t>(layout.RecordLength())));
        PrepareReader(setup_, *reader_);
        decoder_.reset(new RowDecoder(setup_));
    }

    // The next `rows` rows at most; None at the end.
    py::object Next(long long rows) {
        if (done_) return py::none();
        sink_->Clear();
        if (rows <= 0) throw py::value_error("rows must be positive");
        sink_->Reserve(std::min(RowsAtMost(input_, layout_.RecordLength(), options_.count), static_cast<size_t>(rows)));
        RunResult result;
        {
            py::gil_scoped_release unlocked;
            Fill(rows, result);
        }
        Raise(result, keeper_, *sink_);
        if (sink_->Rows() == 0 && done_) return py::none();
        return ToPython(*sink_);
    }

private:
    // The loop of DecodeRecords, resumable: skip and count applied over the whole run.
    void Fill(long long rows, RunResult& result) {
        std::string reason;
        if (!started_) {
            started_ = true;
            if (!reader_->Skip(options_.skip, reason)) {
                if (!reason.empty()) keeper_.Fault(Fatal(reason, 0));
                done_ = true;
                return;
            }
            number_ += options_.skip;
        }
        while (static_cast<long long>(sink_->Rows()) < rows) {
            if (options_.count >= 0 && taken_ >= options_.count) {
                done_ = true;
                return;
            }
            const unsigned char* data;
            size_t length;
            RecordReader::Status status = reader_->Next(data, length, reason);
            if (status == RecordReader::kEnd) {
                if (reader_->ReadFailed()) keeper_.Fault(Fatal("read error", 0));
                done_ = true;
                return;
            }
            ++number_;
            ++taken_;
            if (status == RecordReader::kFatal) {
                keeper_.Fault(Fatal(reason, number_));
                done_ = true;
                return;
            }
            if (status == RecordReader::kWrongLength) {
                RunFault fault;
                fault.kind = RunFault::kRecord;
                fault.record = number_;
                fault.reason = reason;
                keeper_.Fault(fault);
                if (options_.onError == OnError::kStop) {
                    result.stopped = done_ = true;
                    return;
                }
                continue;
            }
            bool directFailed = false;
            if (setup_.Variable() == nullptr && sink_->DirectRow(data, directFailed)) continue;
            RowDecoder::Outcome outcome = decoder_->DecodeRecord(number_, data, length, cells_, keeper_);
            if (outcome == RowDecoder::kStop) {
                result.stopped = done_ = true;
                return;
            }
            if (outcome == RowDecoder::kSkip) continue;
            if (!sink_->Row(setup_.Plan(), cells_)) {
                result.failed = done_ = true;
                return;
            }
        }
    }
    static RunFault Fatal(const std::string& reason, long long record) {
        RunFault fault;
        fault.kind = RunFault::kFatal;
        fault.record = record;
        fault.reason = reason;
        return fault;
    }

    const PyLayout& layout_;
    DataOptions options_;
    DataInput input_;
    DataSetup setup_;
    std::unique_ptr<ColumnSink> sink_;
    std::unique_ptr<RecordReader> reader_;
    std::unique_ptr<RowDecoder> decoder_;
    RowCells cells_;
    FaultKeeper keeper_;
    long long number_, taken_ = 0;
    bool started_ = false, done_ = false;
};

// ---- Record types

// A type's rows into its column buffers, each row's type noted in the order of the file.
class TypeSink : public RowSink {
public:
    TypeSink(ColumnSink& columns, std::vector<uint16_t>& order, uint16_t type)
        : columns_(columns), order_(order), type_(type) {}
    bool Begin(const LayoutPlan& plan) override { return columns_.Begin(plan); }
    bool Finish() override { return columns_.Finish(); }
    std::string Failure() const override { return columns_.Failure(); }
    bool Row(const LayoutPlan& plan, const RowCells& cells) override {
        if (!columns_.Row(plan, cells)) return false;
        order_.push_back(type_);
        return true;
    }
    bool DirectRow(const unsigned char* record, bool& failed) override {
        if (!columns_.DirectRow(record, failed)) return false;
        order_.push_back(type_);
        return true;
    }

private:
    ColumnSink& columns_;
    std::vector<uint16_t>& order_;
    uint16_t type_;
};

// The faults of a run that began at record `shift` + 1, numbered as in the whole file.
class ShiftedFaults : public RunObserver {
public:
    ShiftedFaults(FaultKeeper& keeper, long long shift) : keeper_(keeper), shift_(shift) {}
    void Fault(const RunFault& fault) override {
        RunFault shifted = fault;
        if (shifted.record > 0) shifted.record += shift_;
        keeper_.Fault(shifted);
    }

private:
    FaultKeeper& keeper_;
    long long shift_;
};

// The records of a file of several record types (record_type rules), a run of them at
// a time: from byte `start` (a record's start; in rdw-block a block's), the first
// record numbered `first`. Each call decodes the next `rows` records at most (bad ones
// included) through the codec's record-type decode.
class TypeChunks {
public:
    TypeChunks(const PyLayout& layout, const py::object& data, const std::string& decimals, const py::dict& given,
               uint64_t start, long long first)
        : layout_(layout), given_(given), mode_(ParseDecimals(decimals)), input_(data, start), number_(first - 1) {
        DataOptions options = MakeOptions(given, &layout.Get());
        if (options.recordTypes.empty() && options.recordTypeDefault.empty()) {
            throw py::value_error("record types need record_type rules or record_type_default");
        }
        skip_ = options.skip;
        left_ = options.count;
        records_ = options.records;
        // The types and their columns, checked before any data is read.
        std::string error;
        if (!types_.Prepare(layout.Get().Head(), options, error)) throw DataFailure{Error(error)};
        reader_.reset(new RecordReader(input_.File(), records_, static_cast<size_t>(types_.MaxLength())));
    }

    int MaxLength() const { return types_.MaxLength(); }

    // The names of the types a rule or the default chooses, in the copybook's order.
    py::list Names() {
        py::list names;
        for (size_t t = 0; t < types_.Count(); ++t) {
            if (types_.Chosen(t)) names.append(types_.Name(t));
        }
        return names;
    }

    // The next `rows` records at most: ([(name, columns)], the type index of each row in
    // the order of the file); None at the end.
    py::object Next(long long rows) {
        if (rows <= 0) throw py::value_error("rows must be positive");
        if (done_ && started_) return py::none();
        DataOptions options = MakeOptions(given_, &layout_.Get());
        options.skip = skip_;
        options.count = left_ >= 0 ? std::min(left_, rows) : rows;
        std::string error;
        // Prepared again for the run's skip and count (the codec's decode takes them from
        // its setups); the types and columns are those of the first preparing.
        if (!types_.Prepare(layout_.Get().Head(), options, error)) throw DataFailure{Error(error)};
        std::vector<std::unique_ptr<ColumnSink>> columns;
        std::vector<std::unique_ptr<TypeSink>> sinks;
        std::vector<RowSink*> targets;
        std::vector<uint16_t> order;
        for (size_t t = 0; t < types_.Count(); ++t) {
            columns.emplace_back(new ColumnSink(types_.Setup(t), mode_));
            sinks.emplace_back(new TypeSink(*columns.back(), order, static_cast<uint16_t>(t)));
            targets.push_back(types_.Chosen(t) ? sinks.back().get() : nullptr);
        }
        FaultKeeper keeper;
        ShiftedFaults shifted(keeper, number_);
        RunResult result;
        {
            py::gil_scoped_release unlocked;
            result = DecodeRecordTypes(types_, *reader_, targets, shifted);
        }
        if (keeper.fatal_) throw *keeper.fatal_;
        if (result.stopped && keeper.last_) throw *keeper.last_;
        if (result.failed) throw DataFailure{Error("cannot keep the rows")};
        const long long passed = skip_ + result.read;
        number_ += passed;
        skip_ = 0;
        if (left_ >= 0) left_ -= result.read;
        if (result.read < options.count || left_ == 0) done_ = true;
        // The first call gives every type's columns, rows or not (the tables' dtypes).
        if (result.read == 0 && started_) return py::none();
        started_ = true;
        py::list tables;
        for (size_t t = 0; t < types_.Count(); ++t) {
            if (types_.Chosen(t)) tables.append(py::make_tuple(types_.Name(t), t, ToPython(*columns[t])));
        }
        py::array_t<uint16_t> types(static_cast<py::ssize_t>(order.size()));
        std::copy(order.begin(), order.end(), types.mutable_data());
        return py::make_tuple(tables, types);
    }

private:
    const PyLayout& layout_;
    py::dict given_;
    Decimals mode_;
    DataInput input_;
    RecordTypes types_;
    std::unique_ptr<RecordReader> reader_;
    RecordFormat records_;
    long long number_, skip_ = 0, left_ = -1;
    bool done_ = false, started_ = false;
};

// ---- The index pass

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
        throw DataFailure{Error(scan.fault, first + scan.faultRecord - 1)};
    }
    py::list parts;
    for (const auto& part : scan.parts) {
        if (part.second > 0) parts.append(py::make_tuple(part.first, part.second));
    }
    py::object fault =
        scan.fault.empty() ? py::object(py::none()) : py::object(py::make_tuple(scan.faultRecord, scan.fault));
    return py::make_tuple(scan.start, scan.end, parts, fault);
}

// ---- Writing

// Text for the codec of a Python value: str as it is, int and Decimal as plain decimal
// text, float as its shortest text (decimal items get it without an exponent).
class PyRows : public RowSource {
public:
    PyRows(py::iterator rows, const Field* fields, size_t count) : rows_(std::move(rows)), fields_(fields), count_(count) {
        decimal_ = py::module_::import("decimal").attr("Decimal");
        format_ = py::module_::import("builtins").attr("format");
    }
    bool Begin(const LayoutPlan&, std::string&) override { return true; }
    bool Next(const LayoutPlan&, std::vector<Cell>& cells, std::string& rowError, std::string& error) override {
        if (rows_ == py::iterator::sentinel()) return false;
        py::object row = py::reinterpret_borrow<py::object>(*rows_);
        ++rows_;
        py::sequence values = row.cast<py::sequence>();
        if (values.size() != count_) {
            rowError = "the row has " + std::to_string(values.size()) + " values, the layout " + std::to_string(count_) + " columns";
            return true;
        }
        (void)error;
        for (size_t i = 0; i < count_; ++i) {
            py::object value = values[i];
            Cell& cell = cells[i];
            if (Missing(value)) {
                cell.kind = Cell::kNull;
                cell.text.clear();
                continue;
            }
            cell.kind = IsNumber(fields_[i]) || fields_[i].kind == Field::kFloat || fields_[i].kind == Field::kDouble
                            ? Cell::kNumber
                            : Cell::kText;
            cell.text = Text(value, fields_[i]);
        }
        return true;
    }

private:
    static bool Missing(const py::object& value) {
        if (value.is_none()) return true;
        if (PyFloat_Check(value.ptr())) return std::isnan(PyFloat_AsDouble(value.ptr()));
        // pandas' NA and NaT.
        std::string type = py::str(py::type::of(value).attr("__name__"));
        return type == "NAType" || type == "NaTType";
    }
    std::string Text(const py::object& value, const Field& field) {
        if (PyUnicode_Check(value.ptr())) return value.cast<std::string>();
        if (PyBool_Check(value.ptr())) return value.ptr() == Py_True ? "1" : "0";
        if (PyFloat_Check(value.ptr())) {
            std::string text = py::repr(value);
            if (IsNumber(field) && text.find_first_of("eE") != std::string::npos) {
                text = py::str(format_(decimal_(text), "f"));
            }
            return text;
        }
        if (PyIndex_Check(value.ptr())) return py::str(py::reinterpret_steal<py::object>(PyNumber_Index(value.ptr())));
        if (py::isinstance(value, decimal_)) return py::str(format_(value, "f"));
        if (py::hasattr(value, "dtype")) return Text(value.attr("item")(), field);   // a numpy scalar
        return py::str(value);
    }

    py::iterator rows_;
    const Field* fields_;
    size_t count_;
    py::object decimal_, format_;
};

// quillbox.write: the rows (sequences in the layout's column order) encoded into `path`,
// written beside it and renamed when done. Returns the records written.
long long Write(const PyLayout& layout, const py::iterable& rows, const std::string& path, const py::dict& given) {
    DataOptions options = MakeOptions(given, &layout.Get());
    DataSetup setup;
    std::string error;
    if (!setup.Prepare(layout.Get().Head(), layout.RecordLength(), options, error)) throw DataFailure{Error(error)};
    std::string temporary = path + ".tmp" + std::to_string(getpid());
    std::FILE* file = std::fopen(temporary.c_str(), "wb");
    if (file == nullptr) {
        PyErr_SetFromErrnoWithFilename(PyExc_OSError, temporary.c_str());
        throw py::error_already_set();
    }
    const std::vector<Field>& fields = setup.Plan().fields;
    PyRows source(py::iter(rows), fields.data(), fields.size());
    FaultKeeper keeper;
    RunResult result;
    try {
        RecordWriter writer(file, options.records, options.blockSize, options.crlf);
        result = EncodeRows(setup, source, writer, keeper);
    } catch (...) {
        std::fclose(file);
        std::remove(temporary.c_str());
        throw;
    }
    bool closed = std::fclose(file) == 0;
    if (keeper.fatal_ || result.stopped || !closed) {
        std::remove(temporary.c_str());
        if (keeper.fatal_) throw *keeper.fatal_;
        if (result.stopped && keeper.last_) throw *keeper.last_;
        throw DataFailure{Error(path + ": cannot write the file")};
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::remove(temporary.c_str());
        PyErr_SetFromErrnoWithFilename(PyExc_OSError, path.c_str());
        throw py::error_already_set();
    }
    return result.written;
}

}  // namespace

PYBIND11_MODULE(_core, m) {
    m.doc() = "The Quillbox data codec: copybook layouts and data files";
    py::object base = py::module_::import("builtins").attr("Exception");
    py::object errorType = py::reinterpret_steal<py::object>(PyErr_NewException("quillbox.Error", base.ptr(), nullptr));
    layoutErrorType = py::reinterpret_steal<py::object>(PyErr_NewException("quillbox.LayoutError", errorType.ptr(), nullptr));
    dataErrorType = py::reinterpret_steal<py::object>(PyErr_NewException("quillbox.DataError", errorType.ptr(), nullptr));
    m.attr("Error") = errorType;
    m.attr("LayoutError") = layoutErrorType;
    m.attr("DataError") = dataErrorType;
    py::register_exception_translator([](std::exception_ptr thrown) {
        try {
            if (thrown) std::rethrow_exception(thrown);
        } catch (const LayoutFailure& failure) {
            PyErr_SetString(layoutErrorType.ptr(), failure.message.c_str());
        } catch (const DataFailure& failure) {
            const Error& e = failure.error;
            py::object error = dataErrorType(e.what());
            error.attr("record") = e.Record() > 0 ? py::object(py::int_(e.Record())) : py::object(py::none());
            error.attr("item") = e.Item().empty() ? py::object(py::none()) : py::object(py::str(e.Item()));
            error.attr("offset") = e.Offset() >= 0 ? py::object(py::int_(e.Offset())) : py::object(py::none());
            error.attr("reason") = e.Reason();
            PyErr_SetObject(dataErrorType.ptr(), error.ptr());
        } catch (const Error& e) {
            PyErr_SetString(dataErrorType.ptr(), e.what());
        }
    });
    // The exception types live as long as the interpreter.
    layoutErrorType.inc_ref();
    dataErrorType.inc_ref();

    py::class_<PyLayout>(m, "Layout")
        .def(py::init<const std::string&, bool, const std::vector<std::string>&,
                      const std::vector<std::pair<std::string, std::string>>&, int, bool>(),
             py::arg("path"), py::arg("cobol"), py::arg("include"), py::arg("replace"), py::arg("pointer_size"),
             py::arg("free_format"))
        .def_property_readonly("record_length", &PyLayout::RecordLength)
        .def("items", &PyLayout::Items)
        .def("columns", &PyLayout::Columns, py::arg("options"))
        .def("ddl", &PyLayout::Ddl, py::arg("table"), py::arg("serial_no"), py::arg("quote_names"), py::arg("dialect"),
             py::arg("no_filler"), py::arg("names"));
    m.def("read", &Read, py::arg("layout"), py::arg("data"), py::arg("decimals"), py::arg("options"));
    py::class_<Chunks>(m, "Chunks")
        .def(py::init<const PyLayout&, const py::object&, const std::string&, const py::dict&, uint64_t, long long>(),
             py::arg("layout"), py::arg("data"), py::arg("decimals"), py::arg("options"), py::arg("start"),
             py::arg("first"), py::keep_alive<1, 2>())
        .def("next", &Chunks::Next, py::arg("rows"));
    py::class_<TypeChunks>(m, "TypeChunks")
        .def(py::init<const PyLayout&, const py::object&, const std::string&, const py::dict&, uint64_t, long long>(),
             py::arg("layout"), py::arg("data"), py::arg("decimals"), py::arg("options"), py::arg("start"),
             py::arg("first"), py::keep_alive<1, 2>())
        .def("names", &TypeChunks::Names)
        .def_property_readonly("max_length", [](const TypeChunks& chunks) { return chunks.MaxLength(); })
        .def("next", &TypeChunks::Next, py::arg("rows"));
    m.def("scan_range", &ScanRange, py::arg("layout"), py::arg("data"), py::arg("options"), py::arg("begin"),
          py::arg("end"), py::arg("block_size"), py::arg("start"),
          py::arg("first") = 0);
    m.def("write", &Write, py::arg("layout"), py::arg("rows"), py::arg("path"), py::arg("options"));
}
