// The table side of decode and encode: CSV (RFC 4180) and JSON Lines rows, written
// from and read into the cells of a layout plan's columns.
#ifndef QUILLBOX_DATA_TABLEIO_H
#define QUILLBOX_DATA_TABLEIO_H

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "layoutplan.h"
#include "valuecodec.h"

namespace quillbox {

// Appends one CSV field (quoted when it holds a comma, a quote or a line end).
void AppendCsvField(std::string& out, const std::string& text);
// Appends a JSON string literal.
void AppendJsonString(std::string& out, const std::string& text);

// Appends a CSV row (the header line; the rows have CsvRowWriter).
void AppendCsvRow(std::string& out, const std::vector<Cell>& cells, const char* lineEnd);

// Rows written straight into a buffer: the caller gives room for Room(row) bytes.
// Whether `n` bytes of text hold a character that CSV quotes (comma, quote, CR, LF), or
// one that a JSON string escapes.
bool NeedsCsvQuotes(const char* p, size_t n);
bool NeedsJsonEscapes(const char* p, size_t n);

class CsvRowWriter {
public:
    explicit CsvRowWriter(const char* lineEnd) : lineEnd_(lineEnd) {}
    static size_t Room(const RowCells& row) { return 2 * row.TextBytes() + 3 * row.Size() + 2 + RowCells::kSlack; }
    // Writes the CSV line of `row` at `out`; returns its end.
    char* Put(char* out, const RowCells& row) const;

private:
    std::string lineEnd_;
};

// JSON Lines of a plan's nesting: the keys and the punctuation between the values are
// made once, so that a row is the values with those pieces between them.
class JsonRowWriter {
public:
    // `numbers`: which number columns are written as JSON strings (JsonNumberAsString),
    // decided here once for each column.
    explicit JsonRowWriter(const LayoutPlan& plan, JsonNumbers numbers = JsonNumbers::kNumber);
    size_t Room(const RowCells& row) const { return 6 * row.TextBytes() + 8 * row.Size() + fixed_ + RowCells::kSlack; }
    char* Put(char* out, const RowCells& row) const;
    // The JSON line of a record's good values written straight from its bytes (room:
    // FixedBytes() and each column's ValueCodec::CellRoom + 2); null when a value needs
    // the general path.
    char* PutDirect(char* out, ValueCodec& values, const DirectPlan& row, const unsigned char* record) const;
    size_t FixedBytes() const { return fixed_; }

private:
    struct Step {
        size_t at, length;   // the text before the value in pieces_: keys, braces, brackets, commas
        int field;           // the value's column; -1 for none (null)
        bool quoted;         // a number column written as a JSON string
    };
    std::vector<Step> steps_;
    std::string pieces_;      // the texts before the values, then the text after the last
                              // (the line end included), then RowCells::kSlack bytes
    DirectJson direct_;       // the same for PutDirect, a quoted number's quotes around its place
    size_t after_ = 0, afterLength_ = 0;
    size_t fixed_ = 0;        // the bytes of all the pieces
};

// Reads the input of encode in large blocks.
class TableReader {
public:
    // `maxLine`: the most bytes of a row or line; a longer one is refused, not held.
    explicit TableReader(std::FILE* in, uint64_t maxLine = kDefaultMaxLine);
    // Reads bytes in memory, `first` then `second` (a table's header row, then rows of
    // it), where they are: nothing copied. They must outlive the reader.
    TableReader(const char* first, size_t firstSize, const char* second, size_t secondSize,
                uint64_t maxLine = kDefaultMaxLine);
    static constexpr uint64_t kDefaultMaxLine = 64ull << 20;
    // The next CSV row into `fields`; false at the end. `error` is set (and false
    // returned) for a quote that is never closed and a row longer than the limit.
    bool NextCsvRow(std::vector<std::string>& fields, std::string& error);
    // The same as views: into the reader's buffer when the row lies in it unquoted,
    // otherwise into the strings of `store`. They stay valid until the next call.
    bool NextCsvRow(std::vector<std::string_view>& fields, std::vector<std::string>& store, std::string& error);
    // The same straight into `cells` (null for an empty field), as many as it has room
    // for; `count` is the number of fields the row has, also when that is more.
    bool NextCsvRow(std::vector<LentCell>& cells, size_t& count, std::vector<std::string>& store, std::string& error);
    // The next non-empty line; false at the end, with `error` set for a line longer
    // than the limit.
    bool NextLine(std::string& line, std::string& error);
    bool ReadFailed() const { return readFailed_; }
    // The bytes of the block at hand, which the texts of a row lent from the reader's
    // buffer lie in (until the next call).
    LentSpan Block() const { return LentSpan{data_, data_ + end_}; }
    // Bytes read from the input so far.
    uint64_t Consumed() const { return consumed_; }

private:
    int Get() {
        int c = Peek();
        if (c != EOF) ++begin_;
        return c;
    }
    int Peek() { return begin_ < end_ ? static_cast<unsigned char>(data_[begin_]) : Refill(); }
    // The bytes taken from the input so far.
    uint64_t Position() const { return consumed_ - (end_ - begin_); }
    bool TooLong(uint64_t start, std::string& error) const;
    // Reads the next block when the buffer is used up; its first byte or EOF.
    int Refill();
    std::FILE* in_;                    // null: the bytes are in pieces_
    std::unique_ptr<char[]> buffer_;   // not cleared: only bytes read are looked at
    const char* data_ = nullptr;       // the block at hand: buffer_, or a piece in memory
    std::pair<const char*, size_t> pieces_[2] = {};
    size_t piece_ = 0;                 // the next piece
    size_t begin_ = 0, end_ = 0;
    bool eof_ = false, readFailed_ = false;
    uint64_t consumed_ = 0;
    uint64_t maxLine_;
};

// Fills `cells` (one per column of `plan`) from a JSON object line; false with
// `error` when the line is no JSON object.
// Keys the layout does not have, keys given twice and values whose JSON type does not
// fit their item are refused (`error` names them), unless `ignoreUnknown` lets unknown
// keys pass.
bool ReadJsonRow(const std::string& line, const LayoutPlan& plan, std::vector<Cell>& cells, std::string& error,
                 bool ignoreUnknown = false);

}  // namespace quillbox

#endif
