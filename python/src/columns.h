// The column buffers of a read and the row sink that fills them: how each column's
// values come out in Python (the DataFrame's dtypes) and how the codec's values get
// there, with the interpreter lock released.
#pragma once

#include <chrono>
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common.h"
#include "memory.h"
#include "valuecodec.h"

namespace quillbox {
namespace python {

// How a column's values come out in Python.
enum Output {
    kInt64,     // int64 (a number without decimals, or a scaled number's digits)
    kFloat64,   // float64
    kDecimal,   // decimal.Decimal: of the digits kept in `ints` (`scale` places), or of the text
    kBigInt,    // Python int of the text: more digits than int64 holds
    kString     // str
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
    bool kept = true;             // false: decoded and checked, its values dropped at the row's end
};

// 10^0 .. 10^22: every one exact as a double.
inline constexpr double kPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                          1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// The largest magnitude an int64 holds with the sign given.
inline uint64_t Int64Limit(bool negative) {
    return negative ? uint64_t{1} << 63 : static_cast<uint64_t>(INT64_MAX);
}

// Signals while a run decodes without the interpreter lock: every so many rows the
// clock is read, and every kEvery of work the lock is taken to run the interpreter's
// signal handlers. A handler's exception (KeyboardInterrupt) stops the run and stays
// set for the caller to raise (Raise).
class Interrupts {
public:
    // Whether the run is to stop; called for every row, without the lock.
    bool Stop() {
        if (stopped_) return true;
        if (++rows_ % kRows != 0) return false;
        return StopNow();
    }
    // The same, the clock read at once (between runs of records that may give no rows).
    bool StopNow() {
        if (stopped_) return true;
        const auto now = std::chrono::steady_clock::now();
        if (now - last_ < kEvery) return false;
        last_ = now;
        PyGILState_STATE state = PyGILState_Ensure();
        stopped_ = PyErr_CheckSignals() != 0;
        PyGILState_Release(state);
        return stopped_;
    }
    bool Stopped() const { return stopped_; }

private:
    static constexpr unsigned kRows = 256;
    static constexpr std::chrono::milliseconds kEvery{20};
    std::chrono::steady_clock::time_point last_ = std::chrono::steady_clock::now();
    unsigned rows_ = 0;
    bool stopped_ = false;
};

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

    bool DirectRow(ValueCodec&, const unsigned char* record, bool& failed) override {
        if (interrupts_.Stop()) {
            failed = true;
            return true;
        }
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
        DropUnkept();
        ++rows_;
        return true;
    }

    bool Row(const LayoutPlan&, const RowCells& cells) override {
        if (interrupts_.Stop()) return false;
        for (size_t i = 0; i < columns_.size(); ++i) {
            Column& c = columns_[i];
            bool null = cells.Kind(i) == Cell::kNull;
            // The null flags are kept from a column's first null on.
            if (null && !c.anyNull && c.kept) {
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
        DropUnkept();
        ++rows_;
        return true;
    }

    // Keeps the values of the columns `wanted` marks only (all when it is empty): the
    // others are still decoded and checked, row by row, and take no memory beyond a row.
    void Keep(const std::vector<bool>& wanted) {
        dropped_.clear();
        for (size_t i = 0; i < columns_.size(); ++i) {
            columns_[i].kept = wanted.empty() || (i < wanted.size() && wanted[i]);
            if (!columns_[i].kept) dropped_.push_back(i);
        }
    }

    // Room for `rows` rows, so that the buffers do not move while they fill.
    void Reserve(size_t rows) {
        for (Column& c : columns_) {
            if (!c.kept) continue;
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
    // Whether a signal handler's exception stopped the run (it is the Python error set).
    bool Interrupted() const { return interrupts_.Stopped(); }
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
    void DropUnkept() {
        for (size_t i : dropped_) {
            Column& c = columns_[i];
            c.ints.clear();
            c.floats.clear();
            c.texts.Resize(0);
            c.ends.clear();
        }
    }

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
    Interrupts interrupts_;
    std::vector<Column> columns_;
    std::vector<size_t> dropped_;   // the columns not kept
    size_t rows_ = 0;
    std::string failure_ = "cannot keep the rows";
};

// The Python objects of a chunk's buffers: [(name, kind, values, mask or None)] with
// kind "int64", "float64" or "object", of the columns `wanted` marks (every column when
// it is empty). Checks for signals as it goes.
py::list ToPython(ColumnSink& sink, const std::vector<bool>& wanted = std::vector<bool>());

}  // namespace python
}  // namespace quillbox
