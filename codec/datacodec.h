// Data files as tables: decoding the records of a data file laid out by a copybook to
// CSV or JSON Lines, and encoding such a table back into records, byte for byte the
// inverse. Numbers stay exact decimal text; text converts between the data's code
// page and UTF-8; bad data is reported with the record number, the item, its offset
// and the reason, under a policy (stop, skip the record, or an empty value).
#ifndef QUILLBOX_DATA_DATACODEC_H
#define QUILLBOX_DATA_DATACODEC_H

#include <cstdint>
#include <cstdio>
#include <string>

#include "cobcpy.h"
#include "records.h"

namespace quillbox {

enum class FloatFormat { kIeeeLe, kIeeeBe, kIbmHex };
enum class OnError { kStop, kSkip, kNull };
enum class TableFormat { kCsv, kJsonl };

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
    OnError onError = OnError::kStop;
    TableFormat format = TableFormat::kCsv;
    bool trim = false;                       // drop trailing blanks of text
    bool serialNo = false;                   // array column suffixes by serial number
    bool crlf = false;                       // CSV (and line records) end in CR LF
    std::string tableEncoding = "utf-8";     // code page of the CSV/JSONL side
    size_t blockSize = 32760;                // largest block written in rdw-block
    bool progress = false;                   // progress bar on standard error
    uint64_t inputSize = 0;                  // bytes of the input, for the bar; 0 unknown
    std::string dataName = "-";              // the data file as named, for messages
    std::string tableName = "-";             // the table file as named, for messages
};

// Parsers of the option values; false on a value they do not know.
bool ParseFloatFormat(const std::string& text, FloatFormat& format);
bool ParseOnError(const std::string& text, OnError& policy);
bool ParseTableFormat(const std::string& text, TableFormat& format);
// "POS,NEG", each a number (0x.. hexadecimal or decimal) from 0 to 255.
bool ParseSignZones(const std::string& text, unsigned& positive, unsigned& negative);

// Exit statuses of the two runs.
constexpr int kExitDone = 0;
constexpr int kExitFailed = 1;     // stopped on bad data, or a file failed
constexpr int kExitUsage = 2;
constexpr int kExitBadData = 3;    // bad data met and skipped or nulled

// Decodes the records read from `in` (laid out by the list from `head`, `recordLength`
// bytes a record) into a table on `out`; messages and the summary go to `err`.
int DecodeData(CopyItem* head, int recordLength, const DataOptions& options, std::FILE* in, std::FILE* out,
               std::FILE* err);
// Encodes the table read from `in` into records on `out`.
int EncodeData(CopyItem* head, int recordLength, const DataOptions& options, std::FILE* in, std::FILE* out,
               std::FILE* err);

}  // namespace quillbox

#endif
