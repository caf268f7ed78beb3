// Data files through a copybook for C++ programs: a layout analysed from a copybook, a
// reader that iterates the records of a data file and gives each column's value as
// exact text or as a typed value, and a writer that encodes records the other way.
// Failures are thrown as quillbox::Error, with the record, item and offset they are at.
//
//     quillbox::Layout layout("CUSTMAST.cpy");
//     quillbox::DataOptions options;
//     options.encoding = "ibm-930";
//     options.records = quillbox::RecordFormat::kRdw;
//     quillbox::DataReader reader(layout, "custmast.vb", options);
//     while (reader.Next()) std::cout << reader.Text("CUST-NO") << '\n';
//
// A layout analysed by the COBOL rules (LayoutOptions::cobol) may have OCCURS ...
// DEPENDING ON tables: the reader and the writer take them from the layout
// (DataOptions::variableOccurs, when not given) and store records as DataOptions::odo
// says; the occurrences past a count are null columns, and a writer's record holds the
// occurrences its counter says (a value set past them is an Error).
#ifndef QUILLBOX_CODEC_DATAFILE_H
#define QUILLBOX_CODEC_DATAFILE_H

#include <cstdint>
#include <cstdio>
#include <exception>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "cobcpy.h"
#include "cursor.h"
#include "datacodec.h"
#include "layoutplan.h"
#include "records.h"
#include "valuecodec.h"

class FileReplacement;

namespace quillbox {

// A failure of the data file API: `what()` is English text naming the place.
class Error : public std::exception {
public:
    explicit Error(std::string reason, long long record = 0, std::string item = std::string(), int offset = -1);
    const char* what() const noexcept override { return what_.c_str(); }
    // The record (from 1) the failure is in; 0 when it is in no record.
    long long Record() const noexcept { return record_; }
    // The column (UTF-8) the failure is in; empty when none.
    const std::string& Item() const noexcept { return item_; }
    // The byte of the record, from 0; -1 when none.
    int Offset() const noexcept { return offset_; }
    // What is wrong, without the place.
    const std::string& Reason() const noexcept { return reason_; }

private:
    std::string reason_, item_, what_;
    long long record_;
    int offset_;
};

// How a copybook is analysed.
struct LayoutOptions {
    bool cobol = false;                       // the COBOL rules (copybooks as written), not the default analysis
    std::vector<std::string> includeDirs;     // folders searched for COPY members
    bool freeFormat = false;                  // free-format source
    std::vector<std::pair<std::string, std::string>> replacements;   // TAG -> TEXT in every word
    int pointerSize = 4;                      // bytes of a POINTER item: 4 or 8
};

// A copybook's layout: the analysis it owns, the record length and the table columns.
class Layout {
public:
    // Analyses the copybook file; throws Error with the analysis' message (UTF-8) and
    // the file and line where it knows them.
    explicit Layout(const std::string& copybookPath, const LayoutOptions& options = LayoutOptions());
    ~Layout();
    Layout(const Layout&) = delete;
    Layout& operator=(const Layout&) = delete;

    int RecordLength() const { return recordLength_; }
    CopyItem* Head() const { return head_; }
    CopyAnalyzer& Analyzer() const { return *analyzer_; }

private:
    std::unique_ptr<CopyAnalyzer> analyzer_;
    CopyItem* head_ = nullptr;
    int recordLength_ = 0;
};

// A column's value as a program takes it.
class Value {
public:
    enum Kind {
        kNull,      // no value (bad data under OnError::kNull)
        kDecimal,   // a decimal number: Unscaled() / 10^Scale(); Text() is exact
        kFloat,     // COMP-1/COMP-2: AsDouble()
        kText       // text (UTF-8) or a string of bits
    };
    Value() = default;
    Value(Kind kind, std::string text, int scale);
    // The decimal number `unscaled` / 10^`scale`, its text exact ("-12.50").
    static Value Decimal(int64_t unscaled, int scale);

    Kind GetKind() const { return kind_; }
    bool IsNull() const { return kind_ == kNull; }
    // The exact text: "-1234.50", "1.5E10", UTF-8 text; empty for null.
    const std::string& Text() const { return text_; }
    // A decimal number's digits without the point, and the places after it; throws
    // Error when the number has more digits than 64 bits hold.
    int64_t Unscaled() const;
    int Scale() const { return scale_; }
    // Whether Unscaled() holds the number.
    bool FitsInt64() const;
    // The number as int64 when it has no fraction (Error otherwise), as double.
    int64_t AsInt64() const;
    double AsDouble() const;

private:
    Kind kind_ = kNull;
    std::string text_;
    int scale_ = 0;
};

// The records of a data file, one at a time. Bad data follows the options' policy:
// Error under OnError::kStop (the default), the record left out under kSkip, null
// values under kNull (Faults() says which).
class DataReader {
public:
    DataReader(const Layout& layout, const std::string& dataPath, const DataOptions& options = DataOptions());
    // Reads from a stream of the caller's, which stays open.
    DataReader(const Layout& layout, std::FILE* data, const DataOptions& options = DataOptions());
    ~DataReader();
    DataReader(const DataReader&) = delete;
    DataReader& operator=(const DataReader&) = delete;

    // The next record; false at the end of the file (or of `count`).
    bool Next();
    // The record's number in the file, from 1.
    long long RecordNumber() const { return number_; }

    size_t ColumnCount() const;
    const std::string& ColumnName(size_t column) const;
    // The column of a name (the CSV header's names); throws Error when none has it.
    size_t ColumnIndex(const std::string& name) const;

    bool IsNull(size_t column) const;
    const std::string& Text(size_t column) const;
    const std::string& Text(const std::string& name) const { return Text(ColumnIndex(name)); }
    Value Get(size_t column) const;
    Value Get(const std::string& name) const { return Get(ColumnIndex(name)); }
    // The bad data of the current record (OnError::kNull) and of records left out
    // before it (kSkip).
    const std::vector<Error>& Faults() const { return faults_; }
    // The counts of the records read so far and their first faults, with their codes.
    const RunReport& Report() const { return cursor_->Report(); }

private:
    void Start(const Layout& layout, const DataOptions& options);
    void Check(size_t column) const;
    class Collector;
    class Keeper;
    std::FILE* file_ = nullptr;
    bool owned_ = false;
    std::unique_ptr<DataSetup> setup_;
    std::unique_ptr<RecordReader> reader_;
    std::unique_ptr<FileRecords> records_;
    std::unique_ptr<Keeper> keeper_;
    std::unique_ptr<Collector> collector_;
    std::unique_ptr<RecordCursor> cursor_;
    std::vector<Cell> cells_;
    std::vector<Error> faults_;
    long long number_ = 0;
};

// Records written to a data file: set the columns' values, then Write() each record;
// Close() at the end. The file is written to a temporary file beside it and takes its
// name only when Close() succeeds, so a failed run leaves an earlier file as it was.
class DataWriter {
public:
    DataWriter(const Layout& layout, const std::string& dataPath, const DataOptions& options = DataOptions());
    ~DataWriter();   // without Close(): the temporary file is removed, nothing replaced
    DataWriter(const DataWriter&) = delete;
    DataWriter& operator=(const DataWriter&) = delete;

    size_t ColumnCount() const;
    size_t ColumnIndex(const std::string& name) const;
    // The value of a column as exact text (a decimal number, UTF-8 text, bits); columns
    // not set are blank text and zero numbers.
    void Set(size_t column, const std::string& text);
    void Set(const std::string& name, const std::string& text) { Set(ColumnIndex(name), text); }
    // A decimal number: `unscaled` / 10^`scale`.
    void Set(size_t column, int64_t unscaled, int scale = 0);
    void Set(const std::string& name, int64_t unscaled, int scale = 0) { Set(ColumnIndex(name), unscaled, scale); }
    void SetNull(size_t column);
    // Encodes the values set into a record and writes it; the values are cleared.
    // Throws Error (nothing written) when a value does not fit its item.
    void Write();
    // Writes what is buffered and gives the file its name; throws Error when it cannot.
    void Close();

private:
    std::unique_ptr<DataSetup> setup_;
    std::string path_;
    std::unique_ptr<FileReplacement> output_;   // written beside the file, put in place by Close()
    std::FILE* file_ = nullptr;                 // output_'s stream while open
    std::unique_ptr<RecordWriter> writer_;
    std::vector<Cell> cells_;
    std::vector<unsigned char> record_;
    long long number_ = 0;
};

class RecordTypes;

// The records of a file of several record types: the options' recordTypes rules
// (FIELD=VALUE:RECORD) and recordTypeDefault choose each record's 01 record, whose
// columns the record then has. Bad data follows the options' policy as in DataReader; a
// record that no rule and no default choose is bad data in its type field (left out
// under kSkip and kNull).
//
//     options.recordTypes = {{"HDR-TYPE", "H", "HDR-REC"}, {"HDR-TYPE", "D", "DTL-REC"}};
//     quillbox::RecordTypeReader reader(layout, "orders.vb", options);
//     while (reader.Next()) if (reader.RecordType() == "DTL-REC") total += reader.Get("DTL-AMT").Unscaled();
class RecordTypeReader {
public:
    RecordTypeReader(const Layout& layout, const std::string& dataPath, const DataOptions& options);
    // Reads from a stream of the caller's, which stays open.
    RecordTypeReader(const Layout& layout, std::FILE* data, const DataOptions& options);
    ~RecordTypeReader();
    RecordTypeReader(const RecordTypeReader&) = delete;
    RecordTypeReader& operator=(const RecordTypeReader&) = delete;

    // The 01 records of the layout (UTF-8 names), each a record type.
    std::vector<std::string> TypeNames() const;
    // The next record; false at the end of the file (or of `count`).
    bool Next();
    long long RecordNumber() const { return number_; }
    // The name of the current record's 01 record.
    const std::string& RecordType() const;

    // The columns of the current record's type, as DataReader gives them.
    size_t ColumnCount() const;
    const std::string& ColumnName(size_t column) const;
    size_t ColumnIndex(const std::string& name) const;
    bool IsNull(size_t column) const;
    const std::string& Text(size_t column) const;
    const std::string& Text(const std::string& name) const { return Text(ColumnIndex(name)); }
    Value Get(size_t column) const;
    Value Get(const std::string& name) const { return Get(ColumnIndex(name)); }
    const std::vector<Error>& Faults() const { return faults_; }
    // The counts of the records read so far and their first faults, with their codes.
    const RunReport& Report() const { return cursor_->Report(); }

private:
    void Start(const Layout& layout, const DataOptions& options);
    void Check(size_t column) const;
    const std::vector<Field>& Fields() const;
    class Collector;
    class Keeper;
    std::FILE* file_ = nullptr;
    bool owned_ = false;
    std::unique_ptr<RecordTypes> types_;
    std::unique_ptr<RecordReader> reader_;
    std::unique_ptr<FileRecords> records_;
    std::vector<std::unique_ptr<Keeper>> keepers_;
    std::unique_ptr<Collector> collector_;
    std::unique_ptr<RecordCursor> cursor_;
    std::vector<Cell> cells_;
    std::vector<Error> faults_;
    int type_ = -1;
    long long number_ = 0;
};

}  // namespace quillbox

#endif
