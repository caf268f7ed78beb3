// The table side of decode and encode: CSV (RFC 4180) and JSON Lines rows, written
// from and read into the cells of a layout plan's columns.
#ifndef QUILLBOX_DATA_TABLEIO_H
#define QUILLBOX_DATA_TABLEIO_H

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "layoutplan.h"
#include "valuecodec.h"

namespace quillbox {

// Appends one CSV field (quoted when it holds a comma, a quote or a line end).
void AppendCsvField(std::string& out, const std::string& text);
// Appends a JSON string literal.
void AppendJsonString(std::string& out, const std::string& text);

// Appends a row: the CSV line, or the JSON object nesting groups and arrays.
void AppendCsvRow(std::string& out, const std::vector<Cell>& cells, const char* lineEnd);
void AppendJsonRow(std::string& out, const LayoutPlan& plan, const std::vector<Cell>& cells);

// Reads the input of encode in large blocks.
class TableReader {
public:
    explicit TableReader(std::FILE* in);
    // The next CSV row into `fields`; false at the end. `error` is set (and false
    // returned) for a quote that is never closed.
    bool NextCsvRow(std::vector<std::string>& fields, std::string& error);
    // The next non-empty line; false at the end.
    bool NextLine(std::string& line);
    bool ReadFailed() const { return readFailed_; }
    // Bytes read from the input so far.
    uint64_t Consumed() const { return consumed_; }

private:
    int Get();
    int Peek();
    std::FILE* in_;
    std::unique_ptr<char[]> buffer_;   // not cleared: only bytes read are looked at
    size_t begin_ = 0, end_ = 0;
    bool eof_ = false, readFailed_ = false;
    uint64_t consumed_ = 0;
};

// Fills `cells` (one per column of `plan`) from a JSON object line; false with
// `error` when the line is no JSON object.
bool ReadJsonRow(const std::string& line, const LayoutPlan& plan, std::vector<Cell>& cells, std::string& error);

}  // namespace quillbox

#endif
