// datadoc: the data window's document, without a window. A data file opened through a
// copybook's layout and the codec's options, shown one row per record and one column
// per table column:
// - a record index: fixed-length records by arithmetic, variable ones (RDW, RDW
//   blocks, lines, OCCURS DEPENDING ON records) by a scan the window runs in slices
//   (ScanSome), which keeps a sparse index (a record's offset every kIndexStep records)
//   so that memory stays small whatever the file's size, while the rows already
//   scanned can be read;
// - row N's cells on demand as Shift_JIS texts (the codec decodes with the table code
//   page cp932), each good or bad with the codec's reason, and the count of bad rows
//   among the rows shown so far;
// - the record detail of a row: every item of the layout with its bytes;
// - find and filter, cancellable through a progress callback; a filter's rows kept as
//   a bit per row (DataRowSet), so that a filter of millions of rows stays small;
// - export as CSV or JSON Lines through the codec's table sink (the bytes of
//   quillbox-cli decode with the same options), and the clipboard's tab-separated text;
// - edits checked by the codec's encoder, kept in memory and saved through a temporary
//   file in the same folder and a rename.
//
// Not thread-safe: every call comes from the window's thread; the window runs the scan
// in slices (a timer or idle time) rather than on a thread of its own.
// Texts given and returned are Shift_JIS unless said otherwise; row numbers (`index`)
// count from 0, the record numbers shown from 1.
#ifndef QUILLBOX_DATADOC_H
#define QUILLBOX_DATADOC_H

#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "cobcpy.h"
#include "datacodec.h"
#include "records.h"

namespace quillbox {

class DataSetup;
class RecordTypes;
struct Field;
class RowDecoder;

// What the window shows in place of a bad value.
extern const char* const DATA_BAD_CELL_TEXT;   // "###"
// The title of the column of a record's type (with record-type rules).
extern const char* const kRecordTypeColumn;   // "レコード種別"

// Called during a long search, filter or export: rows done so far and the rows known
// (the record count so far); false cancels.
using DataProgress = std::function<bool(long long done, long long total)>;

// Rows chosen among a file's (a filter's matches): a bit per row and the count before
// each block of bits, so that a filtered list view finds its k-th row at once and a
// filter matching millions of rows takes a bit each.
class DataRowSet {
public:
    // Adds `row` (from 0); rows come in ascending order.
    void Add(long long row);
    void Clear();
    long long Count() const { return count_; }
    // The `k`-th row of the set (from 0); -1 when k is out of range.
    long long At(long long k) const;
    bool Contains(long long row) const;
    // The rows in order.
    std::vector<long long> Rows() const;

private:
    static constexpr long long kBlockWords = 64;   // 4096 rows a block
    std::vector<uint64_t> bits_;
    std::vector<long long> before_;   // per block: the rows of the set in the blocks before it
    long long count_ = 0;
};

// Rows as sorted, disjoint stretches [first, end): rows met in runs (a list scrolled
// through, a file's bad stretch, a list's selection) take a stretch each, not a flag
// per row.
class DataRowRanges {
public:
    bool Contains(long long row) const;
    // Adds or removes rows [first, end); adjacent stretches join, a stretch with rows
    // removed inside it splits.
    void Add(long long first, long long end);
    void Remove(long long first, long long end);
    void Add(long long row) { Add(row, row + 1); }
    void Remove(long long row) { Remove(row, row + 1); }
    void Clear();
    // The first row of the set at or after `row`; -1 when none.
    long long NextFrom(long long row) const;
    long long Count() const { return count_; }
    size_t Ranges() const { return ranges_.size(); }

private:
    std::map<long long, long long> ranges_;   // first row -> one past the last
    long long count_ = 0;
};

class DataDocument {
public:
    // Records between two entries of the sparse index of variable records.
    static constexpr long long kIndexStep = 64;

    DataDocument();
    ~DataDocument();
    DataDocument(const DataDocument&) = delete;
    DataDocument& operator=(const DataDocument&) = delete;

    // ---- Opening -------------------------------------------------------------------
    // Opens the data file `path` laid out by the list from `head` (`recordLength` bytes
    // a record) with `options` (skip, count and format are export's, not the
    // window's; variableOccurs is taken as given: VariableOccursOf the analysis).
    // With record-type rules (options.recordTypes, recordTypeDefault) each 01 record
    // the rules can choose has its columns, after a first column of the record's name
    // (the columns of the other records are absent in a row), and records are as long
    // as the longest 01 record.
    // Nothing is read beyond the file's size. The file is read-only when `readOnly` or
    // when it cannot be opened for writing (ReadOnlyReason says why). False with
    // `error` when the layout has no record, an encoding is unknown, a record-type rule
    // names what the layout lacks or the file cannot be read; the document is then of
    // no further use. The list must stay as it is while the document is open.
    bool Open(CopyItem* head, int recordLength, const std::string& path, const DataOptions& options,
              std::string& error, bool readOnly = false);
    const std::string& Path() const { return path_; }
    bool ReadOnly() const { return readOnly_; }
    const std::string& ReadOnlyReason() const { return readOnlyReason_; }
    uint64_t FileSize() const { return fileSize_; }

    // ---- The record index ----------------------------------------------------------
    struct ScanProgress {
        long long records = 0;   // records indexed so far
        uint64_t bytes = 0;      // bytes of the file scanned
        uint64_t total = 0;      // the file's size
        bool done = false;
        std::string error;       // framing broken: the records before it stay readable
    };
    // Indexes about `maxBytes` more of a file of variable records (a fixed-length file
    // is indexed at once).
    ScanProgress ScanSome(uint64_t maxBytes);
    // Scans on until row `index` is indexed or the file ends, calling `progress` between
    // slices with the records indexed and those expected (up to the row asked, or the
    // file's records as its bytes so far foretell when fewer); false when cancelled,
    // the records indexed so far staying known.
    bool ScanTo(long long index, const DataProgress& progress);
    bool ScanDone() const { return scanDone_; }
    long long RecordCount() const { return count_; }
    const std::string& ScanError() const { return scanError_; }
    // Where and why the scan stopped, in the window's words: the record it could not read
    // (from 1), the file's byte where that record's framing begins (from 0), the reason
    // (Shift_JIS Japanese). Record 0 while the scan has not stopped on an error.
    struct ScanFault {
        long long record = 0;
        uint64_t offset = 0;
        std::string text;
    };
    const ScanFault& ScanStop() const { return scanFault_; }
    // Entries of the sparse index (its memory: about 16 bytes each).
    size_t IndexEntries() const { return marks_.size(); }

    // ---- Columns ---------------------------------------------------------------------
    size_t ColumnCount() const;
    const std::string& ColumnName(size_t column) const { return columnNames_[column]; }   // Shift_JIS
    bool ColumnIsNumber(size_t column) const;
    // With record types: whether the file's records are chosen among several 01 records,
    // and the record a column belongs to (-1 for the column of the record's name).
    bool RecordTyped() const { return typed_; }
    int ColumnRecord(size_t column) const { return columnView_[column]; }

    // ---- Rows ------------------------------------------------------------------------
    struct ShownCell {
        std::string text;     // Shift_JIS; empty for a bad or absent value
        bool bad = false;     // shown as DATA_BAD_CELL_TEXT
        bool absent = false;  // an occurrence past its DEPENDING ON count
        std::string reason;   // why it is bad (the codec's words)
    };
    struct ShownRow {
        long long index = -1;   // from 0; the record's number is index + 1
        bool bad = false;
        bool edited = false;
        std::string reason;     // the record's own fault (wrong length, counts), or the first cell's
        std::vector<ShownCell> cells;
    };
    // Row `index`: null when there is none or it cannot be read. A row past the
    // records scanned so far is scanned up to first.
    // The row stays valid until the next call of a non-const member.
    const ShownRow* Row(long long index);
    // Of the rows Row gave so far, how many and how many of them bad (as last decoded:
    // an edit that mends or breaks a row counts when the row is shown again).
    long long RowsShown() const { return shown_.Count(); }
    long long BadRowsShown() const { return shownBad_.Count(); }
    // The stretches those counts keep (their memory: a few dozen bytes each).
    size_t ShownRanges() const { return shown_.Ranges() + shownBad_.Ranges(); }

    // ---- Record detail --------------------------------------------------------------------
    struct DetailLine {
        int depth = 0;           // 0 for a level-01 item, one more per group above it
        int level = 0;
        std::string name;        // Shift_JIS, with "(n)" after an array occurrence
        std::string picture;
        std::string usage;       // the item table's 属性 text (PACK, BINARY, ...); empty for display
        int offset = 0;          // the item's first byte in the record as stored, from 0
        int length = 0;
        bool group = false;
        bool view = false;       // a REDEFINES view (or inside one) of bytes shown above
        bool absent = false;     // an occurrence past its count
        bool bad = false;
        std::string value;       // Shift_JIS; empty for groups and bad items
        std::string reason;
        std::string hex;         // the bytes, "F1 F2 ..."; cut after kDetailHexBytes with "..."
        // The line as the pane shows it: indent, level, name, picture, usage, [offset:length],
        // the value (### and the reason when bad), the bytes.
        std::string Text() const;
    };
    // The bytes of a line shown at most (a record of more is cut): a whole record of any
    // usual length.
    static constexpr int kDetailHexBytes = 4096;
    // One line per item of the layout for row `index`; false when the row cannot be read.
    bool Detail(long long index, std::vector<DetailLine>& lines);

    // ---- Find and filter ------------------------------------------------------------------
    // The first row after `from` (forward) or before it (backward; -1 begins at the
    // first or the last row) whose cell of `column` (-1: any column) contains `text` as
    // the item search matches (Latin letters of either case; bad and absent cells never
    // match); -1 when none or `text` is empty, -2 when cancelled. A forward search
    // scans the rest of the file when the index is not complete.
    long long Find(const std::string& text, int column, long long from, bool forward, const DataProgress& progress);

    enum class Compare { kEqual, kNotEqual, kLess, kGreater, kContains };
    // The rows whose cell of `column` compares with `value` as `compare` says: numbers
    // as exact decimals, text as Shift_JIS bytes with trailing blanks left out (kContains:
    // as Find matches). Bad and absent cells match nothing. False with `error` when the
    // value is no number for a numeric column, or when cancelled (error empty).
    bool Filter(size_t column, Compare compare, const std::string& value, DataRowSet& rows,
                const DataProgress& progress, std::string& error);

    // ---- Export and copy --------------------------------------------------------------------
    // Writes every row (`rows` null) or the rows listed (ascending) as `format` (kCsv,
    // kJsonl) to `target`, through a temporary file that replaces it only when the run
    // ends well or with bad data skipped or nulled (the options' onError, as decode). The
    // bytes are decode's with the same options; edited records are written as edited.
    // With record types only JSON Lines, each row naming its record in a "record" key
    // (decode's one stream). False with `error` (and `result`) when the run stopped,
    // failed or was cancelled (`error` empty).
    bool Export(const std::string& target, TableFormat format, const std::vector<long long>* rows, RunResult& result,
                std::string& error, const DataProgress& progress = DataProgress());
    // The same for the rows of a filter.
    bool Export(const std::string& target, TableFormat format, const DataRowSet& rows, RunResult& result,
                std::string& error, const DataProgress& progress = DataProgress());
    // The clipboard text of rows: a header of "No" and the column names, then a line per
    // row (its number, then its cells; bad values as DATA_BAD_CELL_TEXT), tab-separated,
    // each line ended by CR LF.
    std::string CopyText(const std::vector<long long>& rows);

    // ---- Editing ----------------------------------------------------------------------------
    // Sets cell `column` of row `index` to `text`, checked by the codec's encoder; false
    // with `reason` when it is not accepted (the record then stays as it was).
    bool SetCell(long long index, size_t column, const std::string& text, std::string& reason);
    bool Edited(long long index) const { return edits_.count(index) != 0; }
    size_t EditedCount() const { return edits_.size(); }
    bool Modified() const { return !edits_.empty(); }
    void DiscardEdits();
    // Writes the file with the edited records through a temporary file in its folder
    // and a rename; every other byte stays. False with `error` when it failed: the file
    // stays as it was and the edits stay.
    bool Save(std::string& error);

private:
    struct Mark {
        long long record;   // index of the record that starts here
        uint64_t offset;    // the byte of the file where its framing starts
    };
    struct RawRecord {
        std::vector<unsigned char> bytes;
        uint64_t dataOffset = 0;       // the record's first data byte in the file
        bool wrongLength = false;
        std::string reason;
    };
    struct Edit {
        std::vector<unsigned char> bytes;   // the record as edited (its stored length)
        uint64_t dataOffset = 0;
    };

    // A layout the rows are decoded by: the one layout, or one 01 record of several.
    struct View {
        DataSetup* shown = nullptr;
        DataSetup* detail = nullptr;
        std::unique_ptr<RowDecoder> shownDecoder, detailDecoder;
        CopyItem* record = nullptr;   // where the detail's items begin
        bool alone = false;           // the detail ends before the next 01 record
        size_t firstColumn = 0;       // its first column in the window
        std::string name;             // the 01 record's name (record types)
    };

    bool Variable() const { return options_.records != RecordFormat::kFixed; }
    // The view of a record; -1 with `reason` when it has none (wrong length, no
    // record type).
    int ViewOf(const RawRecord& record, std::string& reason);
    const Field& FieldOf(size_t column) const;
    bool VariableLength() const;
    // The record `index` as stored (or as edited).
    bool ReadRecord(long long index, RawRecord& record);
    bool ReadStored(long long index, RawRecord& record);
    // The nearest index entry at or before `index`.
    Mark MarkAtOrBefore(long long index) const;
    void DecodeShown(long long index, const RawRecord& record, ShownRow& row);
    bool EnsureScannedTo(long long index);
    void Forget(long long index);
    // Rows [begin, end) decoded in order into `use(row)`; false when `use` returns false.
    template <typename Use>
    bool EachRow(long long begin, long long end, Use use);
    // Export of `total` rows (-1: every row), the k-th being rowAt(k).
    bool ExportRows(const std::string& target, TableFormat format, long long total,
                    const std::function<long long(long long)>& rowAt, RunResult& result, std::string& error,
                    const DataProgress& progress);

    std::string path_;
    CopyItem* head_ = nullptr;
    int recordLength_ = 0;
    DataOptions options_;
    bool readOnly_ = false;
    std::string readOnlyReason_;
    uint64_t fileSize_ = 0;
    std::FILE* rowFile_ = nullptr;    // read by rows
    std::FILE* scanFile_ = nullptr;   // read by the scan

    std::unique_ptr<DataSetup> shownSetup_;    // table code page cp932, bad values nulled
    std::unique_ptr<DataSetup> detailSetup_;   // the same with every REDEFINES view
    std::unique_ptr<RecordTypes> shownTypes_, detailTypes_;   // the same per 01 record
    bool typed_ = false;
    std::vector<View> views_;
    std::vector<std::string> columnNames_;
    std::vector<int> columnView_;        // per column: its view; -1 the record's name
    std::vector<size_t> columnField_;    // per column: its field in the view's plan

    // The index.
    std::vector<Mark> marks_;
    long long count_ = 0;
    bool scanDone_ = false;
    std::string scanError_;
    ScanFault scanFault_;
    std::unique_ptr<RecordReader> scanReader_;
    uint64_t scanBase_ = 0;     // the file's byte where the scan's reader began
    long long scanCount_ = 0;   // records the scan has passed
    long long sinceMark_ = 0;

    // Sequential reading of rows.
    std::unique_ptr<RecordReader> rowReader_;
    uint64_t rowBase_ = 0;
    long long rowNext_ = -1;

    // Shown rows: a small cache near the last asked, the rows shown and the bad ones.
    std::map<long long, ShownRow> cache_;
    DataRowRanges shown_, shownBad_;

    std::map<long long, Edit> edits_;
};

}  // namespace quillbox

#endif
