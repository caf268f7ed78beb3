// Data files as tables: decoding the records of a data file laid out by a copybook to
// rows (CSV, JSON Lines, or any other row sink), and encoding rows back into records,
// byte for byte the inverse. Numbers stay exact decimal text; text converts between
// the data's code page and UTF-8; bad data is reported through an observer with the
// record number, the item, its offset and the reason, and the loop applies the policy
// (stop, skip the record, or an empty value).
#ifndef QUILLBOX_CODEC_DATACODEC_H
#define QUILLBOX_CODEC_DATACODEC_H

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "cobcpy.h"
#include "columnnames.h"
#include "faultcode.h"
#include "records.h"

namespace quillbox {

enum class FloatFormat { kIeeeLe, kIeeeBe, kIbmHex };
enum class OnError { kStop, kSkip, kNull };
enum class TableFormat { kCsv, kJsonl, kSqlite };
// Byte order of native binary (COMP-5, POINTER, INDEX): by the encoding (big-endian
// with an EBCDIC code page, as on IBM Z; little-endian otherwise), or as given.
enum class NativeOrder { kByEncoding, kBig, kLittle };
// A numeric item whose bytes are all spaces (of the data's code page) or all
// low-values: bad data, an empty (null) value, or 0.
enum class BlankNumeric { kError, kNull, kZero };
// Numbers in JSON Lines: kExact, integers of up to 15 digits (by the item's PICTURE) as
// JSON numbers and every other decimal number as a string of its exact text, so that
// readers that take JSON numbers as doubles lose no digit; kNumber, every number a JSON
// number; kString, every number a string.
enum class JsonNumbers { kExact, kNumber, kString };

// A rule choosing a record's layout: when the item `field` shows `value`, the record is
// the 01 record named `record`.
struct RecordTypeRule {
    std::string field;    // a column name of the common part (UTF-8)
    std::string value;    // the value as decode shows it
    std::string record;   // the 01 record's name (UTF-8)
};

// OCCURS ... DEPENDING ON: records that hold a table's present occurrences only
// (variable length), or every occurrence (laid out at the maximum); kAuto takes
// variable with rdw, rdw-block and lines records, max with fixed ones.
enum class OdoRecords { kAuto, kVariable, kMax };

// An occurrence of a table whose count is another item's value (OCCURS m TO n
// DEPENDING ON object), as the COBOL rules analyse it.
struct VariableOccurs {
    const CopyItem* item;
    std::string object;   // the counter's name as written (Shift_JIS)
    int minimum;          // m
};

struct DataOptions {
    std::string encoding = "cp932";          // code page of the data's text
    bool signZonesGiven = false;             // positiveZone/negativeZone given by the user
    unsigned positiveZone = 0x40;            // zone of a positive signed display number
    unsigned negativeZone = 0x50;
    RecordFormat records = RecordFormat::kFixed;
    FloatFormat floats = FloatFormat::kIeeeLe;
    bool redefinesAll = false;               // every REDEFINES view, not only the first
    long long skip = 0;                      // records passed over first
    long long count = -1;                    // records taken at most; -1 all
    int threads = 1;                         // decode: threads decoding one input (parallel.h)
    OnError onError = OnError::kStop;
    TableFormat format = TableFormat::kCsv;
    bool trim = false;                       // drop trailing blanks of text
    bool serialNo = false;                   // array column suffixes by serial number
    bool crlf = false;                       // CSV (and line records) end in CR LF
    std::string tableEncoding = "utf-8";     // code page of the CSV/JSONL side
    size_t blockSize = 32760;                // largest block written in rdw-block
    // Lines as GnuCOBOL's LINE SEQUENTIAL files hold them: encode drops trailing blanks of
    // text (decode pads a short line whose missing bytes are all text with blanks anyway).
    bool lineSequential = false;
    bool ignoreUnknown = false;              // encode: table columns and keys the layout lacks pass
    uint64_t maxLine = 64ull << 20;          // encode: the most bytes of a CSV row or JSON line
    // The table's columns: FILLER dropped (encode fills them with blanks), SQL-safe names.
    bool noFiller = false;
    ColumnNaming naming = ColumnNaming::kCobol;

    // Byte order, blank numbers and exact JSON numbers.
    NativeOrder nativeOrder = NativeOrder::kByEncoding;   // COMP-5, POINTER, INDEX
    BlankNumeric blankNumeric = BlankNumeric::kError;     // display and packed items of blanks or low-values
    JsonNumbers jsonNumbers = JsonNumbers::kExact;        // JSON Lines: which numbers are strings

    // Record types: the 01 record that lays out each record (rectypes.h)
    std::vector<RecordTypeRule> recordTypes;   // the first rule that matches chooses
    std::string recordTypeDefault;             // the 01 of records no rule matches; empty: none

    // OCCURS DEPENDING ON
    OdoRecords odo = OdoRecords::kAuto;          // how records of variable tables are stored
    std::vector<VariableOccurs> variableOccurs;  // the layout's DEPENDING ON tables (VariableOccursOf)
};

// "variable" or "max"; false for anything else.
bool ParseOdoRecords(const std::string& text, OdoRecords& odo);
// Every occurrence of a DEPENDING ON table in the list `analyzer` analysed last (none
// unless it is a CobolAnalyzer), for DataOptions::variableOccurs.
std::vector<VariableOccurs> VariableOccursOf(CopyAnalyzer& analyzer);

// Parsers of the option values; false on a value they do not know.
bool ParseFloatFormat(const std::string& text, FloatFormat& format);
bool ParseOnError(const std::string& text, OnError& policy);
bool ParseTableFormat(const std::string& text, TableFormat& format);
bool ParseNativeOrder(const std::string& text, NativeOrder& order);        // big, little
bool ParseBlankNumeric(const std::string& text, BlankNumeric& policy);     // error, null, zero
bool ParseJsonNumbers(const std::string& text, JsonNumbers& numbers);      // exact, number, string
// "POS,NEG", each a number (0x.. hexadecimal or decimal) from 0 to 255.
bool ParseSignZones(const std::string& text, unsigned& positive, unsigned& negative);

struct Field;
struct LayoutPlan;
struct Cell;
class RowCells;
class ValueCodec;
class TextCodec;
class VariableRecords;

// Something a run met: bad data in a value or a record, a redefining view that did not
// decode (with every view taken), or a failure that ends the run.
struct RunFault {
    enum Kind {
        kValue,     // an item's bytes or value: `field` and `offset` say which
        kRecord,    // a whole record or row (wrong length, a row that does not parse)
        kView,      // a redefining view's item did not decode; the row goes on
        kFatal      // the run cannot go on (framing broken, a file that cannot be read or written)
    };
    enum Side { kData, kTable };   // the file the fault is in: the data file or the table
    Kind kind = kValue;
    Side side = kData;
    long long record = 0;          // the record or row, from 1; 0 when none
    const Field* field = nullptr;  // kValue, kView
    int offset = 0;                // the byte in the record, from 0
    std::string reason;
    FaultCode code = FaultCode::kOther;   // the kind of fault, for reports and translations
};

// Hears what a run meets. The loop applies the policy: a kValue or kRecord fault stops
// the run under OnError::kStop, skips the row under kSkip, empties the value under kNull.
class RunObserver {
public:
    virtual ~RunObserver();
    virtual void Fault(const RunFault& fault) = 0;
    // After every row written; `bytes` of the input consumed so far.
    virtual void Progress(long long /*records*/, uint64_t /*bytes*/) {}
    // Decode: the bytes of record `record`, which had bad data (whatever the policy made
    // of it), as the reader gave them; valid until the call returns.
    virtual void Rejected(long long /*record*/, const unsigned char* /*data*/, size_t /*length*/) {}
};

// Output bytes a sink gathered in room of its own and has not written to its stream.
struct HeldBytes {
    std::unique_ptr<char[]> data;
    size_t room = 0, size = 0;
};

// Where decoded rows go: a table file, a database, a window's list, a program's objects.
class RowSink {
public:
    virtual ~RowSink();
    // Before the first row; false when the sink failed (the run ends as failed).
    virtual bool Begin(const LayoutPlan& plan) = 0;
    // One row, a cell per column of the plan (null cells: bad data under OnError::kNull);
    // false when the sink failed. The row's texts stay valid until the call returns.
    virtual bool Row(const LayoutPlan& plan, const RowCells& cells) = 0;
    // After the last row (also after a stop); false when the sink failed.
    virtual bool Finish() = 0;
    // What to say when the sink failed.
    virtual std::string Failure() const { return "cannot write the output"; }
    // Of `given` rows, those that reached the output (fewer after a failure).
    virtual long long Stored(long long given) const { return given; }
    // A sink that writes a row of good values straight from the record's bytes: true when
    // it took the row (`failed` set when it could not write it); false leaves the row,
    // decoded, to Row (bad data, a value the direct form does not cover). `values` is the
    // codec of the record's layout, for the sink to read the values with.
    virtual bool DirectRow(ValueCodec& /*values*/, const unsigned char* /*record*/, bool& /*failed*/) { return false; }
    // In place of Finish, for a caller that writes the bytes itself: a sink that gathers
    // its rows' bytes in room of its own hands what it holds over in `held` (those rows
    // count as stored) and takes `held`'s room for its next rows. False when it does not
    // (or it failed): Finish is to be called.
    virtual bool SwapHeld(HeldBytes& /*held*/) { return false; }
};

// A cell of a row lent by its source: null, or text kept by the source.
struct LentCell {
    bool null = true;
    std::string_view text;   // UTF-8, or the table's code page before conversion
};

// Where the texts of a row lie, when they lie in one block of memory (a table reader's
// buffer): each text may be read past its end up to `end`. Empty for texts anywhere else.
struct LentSpan {
    const char* begin = nullptr;
    const char* end = nullptr;
};

// Where encode's rows come from: a table file or a program.
class RowSource {
public:
    virtual ~RowSource();
    // Before the first row (a CSV header is checked here); false with `error` when the
    // table cannot be read as the layout's.
    virtual bool Begin(const LayoutPlan& plan, std::string& error) = 0;
    // The next row into `cells` (a cell per column); false at the end, with `error` set
    // when the table broke off (nothing more can be read). `rowError` set (and true
    // returned) for a row that does not fit the layout; the rows after it can be read.
    virtual bool Next(const LayoutPlan& plan, std::vector<Cell>& cells, std::string& rowError, std::string& error) = 0;
    virtual bool ReadFailed() const { return false; }
    virtual uint64_t Consumed() const { return 0; }
    // A source that can lend its rows' texts instead of copying them into cells: true,
    // and NextLent is used instead of Next (the same rows, the same errors); the texts
    // stay valid until the next call.
    virtual bool LendsRows() const { return false; }
    virtual bool NextLent(const LayoutPlan& /*plan*/, std::vector<LentCell>& /*cells*/, std::string& /*rowError*/,
                          std::string& /*error*/) {
        return false;
    }
    // The memory the texts of the row NextLent lent lie in, when they lie in one block:
    // any byte of it may be read (until the next call). Empty by default.
    virtual LentSpan LentBytes() const { return LentSpan(); }
};

// The counts of a run and how it ended.
struct RunResult {
    long long read = 0;      // records (decode) or rows (encode) read
    long long written = 0;   // rows or records written
    long long bad = 0;       // records or rows with bad data
    long long blanks = 0;    // numeric values of blanks or low-values read as null or 0 (BlankNumeric)
    long long padded = 0;    // short lines read as the record padded with blanks (RecordReader::PadShortLines)
    std::vector<long long> firstPadded;   // the numbers of the first of them
    bool stopped = false;    // ended on bad data under OnError::kStop
    bool failed = false;     // ended on a fatal fault
};

// Everything a run needs of a layout and the options: the plan, the value codec and the
// table side's code page (none for UTF-8).
class DataSetup {
public:
    // False with `error` when the layout has no record, an item lies outside the record
    // or an encoding is unknown.
    bool Prepare(CopyItem* head, int recordLength, const DataOptions& options, std::string& error);
    DataSetup();
    ~DataSetup();
    const LayoutPlan& Plan() const { return *plan_; }
    ValueCodec& Values() { return *values_; }
    TextCodec* TableText() { return table_.get(); }
    // The blank (space) byte of the data's code page.
    unsigned char BlankByte();
    const DataOptions& Options() const { return options_; }
    // The counts and places of OCCURS DEPENDING ON records; null when the layout has no
    // such table. Its Absent() marks the columns of the row decoded last that are
    // occurrences past their count.
    VariableRecords* Variable() { return variable_.get(); }

private:
    std::unique_ptr<VariableRecords> variable_;
    std::unique_ptr<LayoutPlan> plan_;
    std::unique_ptr<ValueCodec> values_;
    std::unique_ptr<TextCodec> table_;
    DataOptions options_;
};

// Tells `reader` (of the setup's records) what the layout allows: variable records of
// any length when DEPENDING ON tables make their length, and short text lines padded
// with blanks when only text is missing (RecordReader::PadShortLines).
void PrepareReader(DataSetup& setup, RecordReader& reader);

// One record's cells, decoded and (for text) converted to the table's code page.
// Faults go to `observer`; the outcome applies the policy of the setup's options.
class RowDecoder {
public:
    enum Outcome {
        kGood,    // every cell decoded
        kNulled,  // bad data left empty cells (OnError::kNull)
        kSkip,    // bad data: the row is left out (OnError::kSkip)
        kStop     // bad data: the run stops (OnError::kStop)
    };
    explicit RowDecoder(DataSetup& setup);
    ~RowDecoder();
    Outcome Decode(long long record, const unsigned char* data, RowCells& cells, RunObserver& observer);
    // The same into a string for each cell.
    Outcome Decode(long long record, const unsigned char* data, std::vector<Cell>& cells, RunObserver& observer);
    // A record as read, of `length` bytes: with OCCURS DEPENDING ON tables placed by its
    // counts first (a counter out of range or a record shorter than its present
    // occurrences is bad data), the occurrences past a count null.
    Outcome DecodeRecord(long long record, const unsigned char* data, size_t length, RowCells& cells,
                         RunObserver& observer);
    Outcome DecodeRecord(long long record, const unsigned char* data, size_t length, std::vector<Cell>& cells,
                         RunObserver& observer);

private:
    // Places a record by its counts; kGood when it fits them.
    Outcome Place(long long record, const unsigned char* data, size_t length, const unsigned char*& placed,
                  RunObserver& observer);
    VariableRecords* placing_ = nullptr;   // during DecodeRecord: the absent columns and stored offsets
    DataSetup& setup_;
    std::string converted_;
    std::unique_ptr<RowCells> row_;   // the row of the second form
};

// Decodes the records from `reader` into `sink`, `options.skip` and `options.count`
// applied.
RunResult DecodeRecords(DataSetup& setup, RecordReader& reader, RowSink& sink, RunObserver& observer);
// Encodes the rows from `source` into records on `writer`.
RunResult EncodeRows(DataSetup& setup, RowSource& source, RecordWriter& writer, RunObserver& observer);

// The row sink of a table file (CSV with its header row, or JSON Lines) writing to
// `out`, in the table code page of the setup.
std::unique_ptr<RowSink> MakeTableSink(DataSetup& setup, std::FILE* out);
// The row source of a table file read from `in`.
std::unique_ptr<RowSource> MakeTableSource(DataSetup& setup, std::FILE* in);
// The same over bytes in memory, `first` then `second` (a header row, then rows), read
// where they are; they must outlive the source.
std::unique_ptr<RowSource> MakeTableSource(DataSetup& setup, const char* first, size_t firstSize, const char* second,
                                           size_t secondSize);

}  // namespace quillbox

#endif
