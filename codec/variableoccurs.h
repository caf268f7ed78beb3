// Records of a layout with OCCURS ... DEPENDING ON tables: a table has as many
// occurrences as its counter (the DEPENDING ON object) says in that record, between the
// declared least and most counts. In a variable-length record (COBOL's, as IBM and
// GnuCOBOL write it) only those occurrences are stored and the items after a table
// follow its last present occurrence; in a record laid out at the maximum every
// occurrence has its place and those past the count are not part of the value.
//
// The codec decodes and encodes a layout at its maximum (the plan's offsets). This
// class moves a variable record's items to those places and back, and says which
// columns are occurrences past their count (absent: empty CSV cells, left out of JSON
// arrays).
#ifndef QUILLBOX_CODEC_VARIABLEOCCURS_H
#define QUILLBOX_CODEC_VARIABLEOCCURS_H

#include <cstddef>
#include <string>
#include <vector>

#include "datacodec.h"
#include "layoutplan.h"
#include "valuecodec.h"

namespace quillbox {

// What does not fit the counts of a record or row: a counter out of its range or with
// no value, a record that ends before its present occurrences, an occurrence past its
// count that has a value. `column` is -1 for the record as a whole.
struct PlaceFault {
    int column = -1;
    int offset = 0;   // the byte in the record as stored, from 0
    std::string reason;
    FaultCode code = FaultCode::kOther;
};

class VariableRecords {
public:
    // The layout's tables from `options.variableOccurs`; false with `error` when a
    // counter is not found before its table, lies in a table, is no integer item, or
    // the layout has a DEPENDING ON table the options do not describe.
    bool Build(CopyItem* head, const LayoutPlan& plan, const DataOptions& options, std::string& error);
    // Whether the layout has DEPENDING ON tables at all.
    bool Any() const { return !tables_.empty(); }
    // Whether records hold the present occurrences only (otherwise: laid out at the maximum).
    bool VariableLength() const { return variable_; }

    // Decode: the record of `length` bytes placed at the layout's offsets (a buffer of
    // this object's, or `data` itself for records at the maximum) and the absent columns
    // marked. False with `fault` when the counts do not fit the record; the columns
    // whose place is then unknown are marked absent too.
    bool Place(const unsigned char* data, size_t length, ValueCodec& values, const unsigned char*& placed,
               PlaceFault& fault);
    // Encode: the counts from the row's cells and the absent columns marked; false with
    // `fault` for a counter without a value in range or an absent occurrence given a value.
    bool Count(const std::vector<Cell>& cells, PlaceFault& fault);
    // Encode: the present items of `full` (laid out at the maximum, counts as the last
    // Count) moved to their places in a variable record; its bytes and length.
    const unsigned char* Compact(const unsigned char* full, size_t& length);

    // Per column: 1 when it is an occurrence past its count (or its place is unknown).
    const std::vector<unsigned char>& Absent() const { return absent_; }
    // The byte of the stored record where column `column` starts (after Place).
    int StoredOffset(size_t column) const { return stored_[column]; }

private:
    struct Node {
        int offset = 0, length = 0;   // at the maximum
        int column = -1;              // the plan's column of an elementary item
        int table = -1;               // an occurrence of tables_[table]
        int element = 0;              // its occurrence number
        int redefines = -1;           // the node it shares its bytes with
        std::vector<int> children;
    };
    struct Table {
        int counter = -1;             // the counter's column
        long long minimum = 0, maximum = 0;
        std::string name, counterName;   // UTF-8, for messages
    };
    enum Mode { kDecodeVariable, kDecodeMax, kCount, kCompact };
    static constexpr int kUnplaced = -2;   // after a fault: where the item is stored is unknown

    int AddNode(CopyItem* item, std::vector<Node>& nodes, const std::vector<int>& columnOf,
                std::vector<int>& nodeOf, std::vector<CopyItem*>& order);
    // Walks node `g` stored from `start`: its stored size (the sizes at the maximum of
    // those after a failure).
    // `absentBy`: -1 when present, else the table whose count leaves it out, or kUnplaced.
    long long Walk(int g, long long start, int absentBy);
    void Visit(const Node& node, long long start, int absentBy);
    bool CountOf(int table, long long& count);
    bool Run(Mode mode);
    void Fail(int column, long long offset, std::string reason, FaultCode code);

    const LayoutPlan* plan_ = nullptr;
    std::vector<Node> nodes_;
    std::vector<int> roots_;
    std::vector<Table> tables_;
    bool variable_ = false;
    int recordLength_ = 0;

    // The walk's state.
    Mode mode_ = kDecodeMax;
    const unsigned char* data_ = nullptr;   // the stored record (decode), the full one (compact)
    size_t length_ = 0;
    unsigned char* out_ = nullptr;          // the placed record (decode) or the stored one (compact)
    const std::vector<Cell>* cells_ = nullptr;
    ValueCodec* values_ = nullptr;
    std::vector<long long> starts_;         // per node: where it is stored
    std::vector<unsigned char> absent_;
    std::vector<int> absentBy_;             // per column: the table that leaves it out
    std::vector<long long> counts_;         // the counts of the last decode or Count, in walk order
    size_t nextCount_ = 0;
    long long storedLength_ = 0;
    std::vector<int> stored_;
    std::vector<unsigned char> buffer_;
    long long end_ = 0;                     // compact: the stored record's end
    bool broken_ = false;
    PlaceFault fault_;
    Cell cell_;
};

// Appends the JSON line of a row whose absent columns (`absent`) are left out: a table's
// occurrences past its count are not in its array. Numbers as `numbers` says.
void AppendJsonRowPresent(std::string& out, const LayoutPlan& plan, const RowCells& cells,
                          const std::vector<unsigned char>& absent, JsonNumbers numbers);

}  // namespace quillbox

#endif
