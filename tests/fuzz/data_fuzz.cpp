// libFuzzer target: arbitrary bytes as a data file, decoded with a few fixed layouts
// (some with OCCURS DEPENDING ON tables or numbers wider than 64 bits, analysed by the
// COBOL rules, in records of their present length or at the maximum) in every record
// format, code page and policy, and the table decoded encoded back.
// Bad input must end as reported bad data; a table decode wrote without bad data must
// encode again without any, to as many bytes as the records had. A first byte 0xFF
// takes a copybook of several 01 records instead, the record types chosen by rules on
// a type field (and a default or none), through the JSON Lines with the record key; a
// first byte 0xFE takes record-type rules from the input before the data. Where threads
// are built, the inputs of an odd length are decoded (and their tables encoded, with a
// skip and a count) on three threads too, in chunks of a few bytes, which must give the
// output, the messages and the status of one thread; and into sinks of a program's own
// (DecodeParallelInto): one that takes rows one by one and one whose rows the workers
// make ready, each failing at a row the input chooses, which must hear the rows, the
// messages and the counts of one thread.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "cobcpy.h"
#include "cobolrules.h"
#include "data_run.h"
#ifdef QB_HAVE_PARALLEL
#include "parallel.h"
#endif
#include "rectypes.h"

using namespace quillbox;

namespace {

const char* const kLayouts[] = {
    "       01 R.\n"
    "          05 A PIC S9(3) COMP-3.\n"
    "          05 B PIC X(3).\n"
    "          05 C PIC S99.\n"
    "          05 N PIC N(1).\n",

    "       01 R.\n"
    "          05 T PIC X(4).\n"
    "          05 D PIC S9(5)V99.\n"
    "          05 P PIC 9(4) COMP-3.\n"
    "          05 B PIC S9(4) COMP.\n"
    "          05 U PIC 9(9) BINARY.\n"
    "          05 C PIC S9(18) COMP-5.\n"
    "          05 K PIC 1(10) USAGE BIT.\n"
    "          05 F PIC 1(2).\n",

    "       01 R.\n"
    "          05 G OCCURS 2.\n"
    "             10 X PIC X(2).\n"
    "             10 Y PIC 9(2).\n"
    "          05 RAW PIC X(4).\n"
    "          05 NUM REDEFINES RAW PIC S9(4).\n"
    "          05 F1 COMP-1.\n"
    "          05 F2 COMP-2.\n",

    // From here on the COBOL rules: tables of a counted length.
    "       01 R.\n"
    "          05 CNT PIC 9(2).\n"
    "          05 T OCCURS 1 TO 3 DEPENDING ON CNT.\n"
    "             10 V PIC 9(2).\n"
    "             10 W PIC X.\n"
    "          05 TAIL PIC X(2).\n",

    "       01 R.\n"
    "          05 N1 PIC S9(3) COMP-3.\n"
    "          05 K PIC 9 COMP.\n"
    "          05 T1 OCCURS 0 TO 4 DEPENDING ON N1.\n"
    "             10 M PIC X.\n"
    "             10 U OCCURS 0 TO 3 DEPENDING ON K PIC 9.\n"
    "          05 N2 PIC 9.\n"
    "          05 T2 OCCURS 0 TO 2 DEPENDING ON N2 PIC S9(3) COMP-3.\n"
    "          05 TAIL PIC X.\n",

    // A copybook that starts below 01: one record, its table counted all the same.
    "       03 CNT PIC S9(4) BINARY.\n"
    "       03 ITEMS OCCURS 1 TO 5 DEPENDING ON CNT.\n"
    "          05 ITM PIC X(3).\n"
    "       03 AFTER PIC 9(2).\n",

    // Numbers of more digits than 64 bits hold, in every form that takes them.
    "       01 R.\n"
    "          05 P PIC S9(29)V9(9) COMP-3.\n"
    "          05 D PIC S9(31) SIGN LEADING SEPARATE.\n"
    "          05 Z PIC 9(25)V99.\n"
    "          05 T PIC S9(20).\n"
    "          05 Q PIC 9(20) COMP-3.\n",
};
constexpr int kLayoutCount = sizeof kLayouts / sizeof kLayouts[0];
constexpr int kFirstCobolLayout = 3;

// fixed, lines, rdw, rdw-block and GnuCOBOL's four variable formats.
constexpr unsigned kFormatCount = 8;

const char* const kEncodings[] = {"cp932", "ascii", "utf-8", "ibm-037", "ibm-1047", "ibm-930", "ibm-1399",
                                  "latin-1", "ibm-1141"};
constexpr int kEncodingCount = sizeof kEncodings / sizeof kEncodings[0];

// The analysed layouts, kept for the whole run.
std::vector<CopyAnalyzer*>& Analyzers() {
    static std::vector<CopyAnalyzer*>* analyzers = new std::vector<CopyAnalyzer*>([] {
        std::vector<CopyAnalyzer*> list;
        const char* dir = std::getenv("TMPDIR");
        for (int i = 0; i < kLayoutCount; ++i) {
            std::string path = std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/data_fuzz_" +
                               std::to_string(static_cast<long>(getpid())) + "_" + std::to_string(i) + ".cpy";
            std::FILE* file = std::fopen(path.c_str(), "wb");
            std::fputs(kLayouts[i], file);
            std::fclose(file);
            CopyAnalyzer* analyzer =
                i >= kFirstCobolLayout ? new CobolAnalyzer(path.c_str()) : new CopyAnalyzer(path.c_str());
            analyzer->Analyze();
            std::remove(path.c_str());
            list.push_back(analyzer);
        }
        return list;
    }());
    return *analyzers;
}

void Fail(const char* what) {
    std::fprintf(stderr, "data_fuzz: %s\n", what);
    std::abort();
}

// What a decode gave: its status, its table and its messages.
struct Decoded {
    int status = 0;
    std::string table, messages;
};

// Runs `decode` (given the input, the table's and the messages' streams) over `data`.
template <typename Run>
Decoded DecodeInMemory(const uint8_t* data, size_t size, Run decode) {
    Decoded result;
    std::FILE* in = fmemopen(const_cast<uint8_t*>(data), size, "rb");
    char* table = nullptr;
    char* messages = nullptr;
    size_t tableSize = 0, messagesSize = 0;
    std::FILE* out = open_memstream(&table, &tableSize);
    std::FILE* err = open_memstream(&messages, &messagesSize);
    result.status = decode(in, out, err);
    std::fclose(in);
    std::fclose(out);
    std::fclose(err);
    result.table.assign(table != nullptr ? table : "", tableSize);
    result.messages.assign(messages != nullptr ? messages : "", messagesSize);
    std::free(table);
    std::free(messages);
    return result;
}

// The same decode on one thread and on three must give the same.
template <typename Run>
void ExpectThreadsSame(const uint8_t* data, size_t size, DataOptions options, Run decode) {
#ifdef QB_HAVE_PARALLEL
    // Chunks of a few bytes: many of them, records across their ends.
    static const bool chunked = setenv("QUILLBOX_CHUNK_BYTES", "37", 1) == 0;
    (void)chunked;
    if (size == 0) return;
    options.threads = 1;
    Decoded one = DecodeInMemory(data, size, [&](std::FILE* in, std::FILE* out, std::FILE* err) {
        return decode(options, in, out, err);
    });
    options.threads = 3;
    Decoded three = DecodeInMemory(data, size, [&](std::FILE* in, std::FILE* out, std::FILE* err) {
        return decode(options, in, out, err);
    });
    if (one.status != three.status) Fail("three threads ended with another status");
    if (one.table != three.table) Fail("three threads wrote another table");
    if (one.messages != three.messages) Fail("three threads wrote other messages");
#else
    (void)data;
    (void)size;
    (void)options;
    (void)decode;
#endif
}

#ifdef QB_HAVE_PARALLEL
// A row as a line of text.
std::string LineOf(const RowCells& cells) {
    std::string line;
    for (size_t i = 0; i < cells.Size(); ++i) {
        line += cells.Kind(i) == Cell::kNull ? "|~" : "|" + cells.String(i);
    }
    return line + "\n";
}

// A program's sink: the rows as lines, one by one; it fails at row `failAt` (from 1;
// 0: never) and refuses a row whose line is of a length `refuse` divides (0: none).
class LineSink : public RowSink {
public:
    LineSink(std::string& lines, long long failAt, size_t refuse) : lines_(lines), failAt_(failAt), refuse_(refuse) {}
    bool Begin(const LayoutPlan&) override {
        lines_ += "begin\n";
        return true;
    }
    bool Row(const LayoutPlan&, const RowCells& cells) override {
        std::string line = LineOf(cells);
        if (Refused(line, refuse_)) return false;
        return Put(line);
    }
    bool Finish() override {
        lines_ += "finish\n";
        return true;
    }
    std::string Failure() const override { return "the sink is full"; }
    long long Stored(long long given) const override { return given - given / 3; }
    static bool Refused(const std::string& line, size_t refuse) { return refuse > 0 && line.size() % refuse == 0; }

protected:
    bool Put(const std::string& line) {
        if (++rows_ == failAt_) return false;
        lines_ += line;
        return true;
    }
    std::string& lines_;
    long long failAt_, rows_ = 0;
    size_t refuse_;
};

// The same, its lines made on the decoding workers; a record whose first byte three
// divides goes straight from its bytes (unless its line is refused), as a database's
// sink takes its good values.
class ReadyLineSink : public BlockRowSink {
public:
    ReadyLineSink(std::string& lines, long long failAt, size_t refuse) : sink_(lines, failAt, refuse), refuse_(refuse) {}
    bool Begin(const LayoutPlan& plan) override { return sink_.Begin(plan); }
    bool Row(const LayoutPlan& plan, const RowCells& cells) override { return sink_.Row(plan, cells); }
    bool DirectRow(ValueCodec&, const unsigned char* record, bool& failed) override {
        std::string line;
        if (!Straight(record, refuse_, line)) return false;
        failed = !sink_.Put(line);
        return true;
    }
    // The line of a record taken straight from its bytes: false when it is not.
    static bool Straight(const unsigned char* record, size_t refuse, std::string& line) {
        if (record[0] % 3 != 0) return false;
        line = "straight " + std::to_string(record[0]) + "\n";
        return !LineSink::Refused(line, refuse);
    }
    bool Finish() override { return sink_.Finish(); }
    std::string Failure() const override { return sink_.Failure(); }
    long long Stored(long long given) const override { return sink_.Stored(given); }
    class Lines : public Block {
    public:
        explicit Lines(size_t refuse) : refuse_(refuse) {}
        bool Add(const LayoutPlan&, const RowCells& cells) override {
            std::string line = LineOf(cells);
            if (refused_ || LineSink::Refused(line, refuse_)) {
                refused_ = true;
                return false;
            }
            lines.push_back(line);
            return true;
        }
        bool AddRecord(ValueCodec&, const unsigned char* record) override {
            std::string line;
            if (refused_ || !Straight(record, refuse_, line)) return false;
            lines.push_back(line);
            return true;
        }
        size_t Rows() const override { return lines.size(); }
        void Clear() override {
            lines.clear();
            refused_ = false;
        }
        std::vector<std::string> lines;

    private:
        size_t refuse_;
        bool refused_ = false;
    };
    std::unique_ptr<Block> NewBlock() override { return std::unique_ptr<Block>(new Lines(refuse_)); }
    bool Take(std::unique_ptr<Block>& block, size_t from, size_t to, size_t& taken) override {
        Lines& lines = static_cast<Lines&>(*block);
        taken = 0;
        for (size_t i = from; i < to; ++i, ++taken) {
            if (i >= lines.Rows() || !sink_.Put(lines.lines[i])) return false;
        }
        return true;
    }

private:
    class Open : public LineSink {
    public:
        using LineSink::LineSink;
        using LineSink::Put;
    } sink_;
    size_t refuse_;
};
#endif

// The same decode into sinks of a program's own on one thread and on three must give
// the same rows, messages (every count told) and status. `decode` runs with the options,
// the input, a sink maker (for its sinks) and the messages' stream.
template <typename Run>
void ExpectSinksSame(const uint8_t* data, size_t size, DataOptions options, unsigned choice, Run decode) {
#ifdef QB_HAVE_PARALLEL
    if (size == 0) return;
    const bool ready = (choice & 1) != 0;
    const long long failAt = (choice >> 1) % 5 == 0 ? static_cast<long long>((choice >> 4) % 64) + 1 : 0;
    const size_t refuse = ready && (choice >> 1) % 5 == 1 ? 7 + (choice >> 4) % 11 : 0;
    Decoded runs[2];
    for (int run = 0; run < 2; ++run) {
        options.threads = run == 0 ? 1 : 3;
        std::string lines;
        std::vector<std::unique_ptr<RowSink>> sinks;
        auto sinkOf = [&]() -> RowSink* {
            if (ready) sinks.emplace_back(new ReadyLineSink(lines, failAt, refuse));
            else sinks.emplace_back(new LineSink(lines, failAt, refuse));
            return sinks.back().get();
        };
        runs[run] = DecodeInMemory(data, size, [&](std::FILE* in, std::FILE*, std::FILE* err) {
            return decode(options, in, sinkOf, err);
        });
        runs[run].table = lines;
    }
    if (runs[0].status != runs[1].status) Fail("three threads into a sink ended with another status");
    if (runs[0].table != runs[1].table) Fail("three threads gave a sink other rows");
    if (runs[0].messages != runs[1].messages) Fail("three threads into a sink wrote other messages");
#else
    (void)data;
    (void)size;
    (void)options;
    (void)choice;
    (void)decode;
#endif
}

// Record types: three 01 records over the same bytes (the COBOL rules), the type in
// the first byte, one record's type field a number.
const char kTypedLayout[] =
    "       01 H-REC.\n"
    "          05 H-TYPE PIC X.\n"
    "          05 H-N PIC S9(3) COMP-3.\n"
    "       01 D-REC.\n"
    "          05 D-TYPE PIC X.\n"
    "          05 D-T PIC X(3).\n"
    "          05 D-V PIC S9(5)V99.\n"
    "          05 D-G OCCURS 2.\n"
    "             10 D-B PIC 9(4) COMP.\n"
    "       01 T-REC.\n"
    "          05 T-TYPE PIC 9.\n"
    "          05 T-C PIC 9(3).\n"
    "       01 O-REC REDEFINES T-REC.\n"
    "          05 O-TYPE PIC X.\n"
    "          05 O-N PIC S9(3) COMP-3.\n";

CopyAnalyzer& TypedAnalyzer() {
    static CopyAnalyzer* analyzer = [] {
        const char* dir = std::getenv("TMPDIR");
        std::string path = std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/data_fuzz_" +
                           std::to_string(static_cast<long>(getpid())) + "_typed.cpy";
        std::FILE* file = std::fopen(path.c_str(), "wb");
        std::fputs(kTypedLayout, file);
        std::fclose(file);
        CopyAnalyzer* made = new CobolAnalyzer(path.c_str());
        made->Analyze();
        std::remove(path.c_str());
        return made;
    }();
    return *analyzer;
}

int TypedRecords(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    unsigned control = data[0];
    ++data;
    --size;
    DataOptions options;
    options.records = static_cast<RecordFormat>(control % kFormatCount);
    control /= kFormatCount;
    options.encoding = (control & 1) ? "ibm-037" : "cp932";
    options.onError = static_cast<OnError>((control >> 1) % 3);
    control /= 6;
    options.format = TableFormat::kJsonl;
    options.blockSize = 64;
    options.recordTypes = {{"H-TYPE", "H", "H-REC"}, {"D-TYPE", "D", "D-REC"}, {"T-TYPE", "9", "T-REC"},
                           {"O-TYPE", "O", "O-REC"}};
    if (control & 1) options.recordTypeDefault = "D-REC";

    CopyItem* head = TypedAnalyzer().GetHead();
    if (size % 2 == 1) {
        ExpectThreadsSame(data, size, options, [&](const DataOptions& o, std::FILE* in, std::FILE* out, std::FILE* err) {
            return DecodeRecordTypeData(head, o, in, nullptr, out, err);
        });
        // A sink per type taken (T-REC's rows not taken).
        ExpectSinksSame(data, size, options, control + (unsigned{data[size - 1]} << 3), [&](const DataOptions& o, std::FILE* in, auto& sinkOf, std::FILE* err) {
            RunDisplay display;
            display.verbose = true;
            return DecodeRecordTypesInto(head, o, in, [&](RecordTypes& types, size_t type) -> RowSink* {
                return types.Name(type) == "T-REC" ? nullptr : sinkOf();
            }, err, display);
        });
    }
    std::FILE* null = std::fopen("/dev/null", "wb");
    std::FILE* in = fmemopen(const_cast<uint8_t*>(data), size, "rb");
    char* table = nullptr;
    size_t tableSize = 0;
    std::FILE* out = open_memstream(&table, &tableSize);
    int decoded = DecodeRecordTypeData(head, options, in, nullptr, out, null);
    std::fclose(in);
    std::fclose(out);
    if (decoded != kExitDone && decoded != kExitFailed && decoded != kExitBadData) Fail("decode ended oddly");
    if (decoded == kExitDone && tableSize > 0) {
        in = fmemopen(table, tableSize, "rb");
        char* records = nullptr;
        size_t recordsSize = 0;
        out = open_memstream(&records, &recordsSize);
        int encoded = EncodeRecordTypeData(head, options, in, out, null);
        std::fclose(in);
        std::fclose(out);
        if (size % 2 == 1) {   // on three threads too, with a skip and a count
            DataOptions spanned = options;
            spanned.skip = static_cast<long long>(size / 2 % 3);
            spanned.count = size % 5 == 0 ? -1 : static_cast<long long>(size / 2 % 7);
            ExpectThreadsSame(reinterpret_cast<const uint8_t*>(table), tableSize, spanned,
                              [&](const DataOptions& o, std::FILE* from, std::FILE* to, std::FILE* err) {
                return EncodeRecordTypeData(head, o, from, to, err);
            });
        }
        if (encoded != kExitDone) Fail("a table of record types decode wrote does not encode");
        if (options.records == RecordFormat::kFixed && recordsSize != size) Fail("encode wrote another length");
        std::free(records);
    }
    std::free(table);
    std::fclose(null);
    return 0;
}

// Record-type rules from the input: lines of FIELD=VALUE:RECORD up to an empty line, the
// rest a data file decoded by them. A rule the layout cannot take (no such field or
// record, a value the field never shows, an overlap) must end the run as a failure
// before anything is read, never as a crash.
int FuzzedRules(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    size_t end = text.find("\n\n");
    if (end == std::string::npos) end = text.size();
    DataOptions options;
    options.records = RecordFormat::kLines;
    options.format = TableFormat::kJsonl;
    options.onError = OnError::kNull;
    for (size_t at = 0; at < end;) {
        size_t line = text.find('\n', at);
        if (line == std::string::npos || line > end) line = end;
        RecordTypeRule rule;
        if (ParseRecordTypeRule(text.substr(at, line - at), rule)) options.recordTypes.push_back(rule);
        at = line + 1;
    }
    if (options.recordTypes.size() > 16) return 0;
    std::string rest = end + 2 <= text.size() ? text.substr(end + 2) : std::string();
    if (rest.empty()) rest = "\n";   // fmemopen takes no empty buffer
    std::FILE* null = std::fopen("/dev/null", "wb");
    std::FILE* in = fmemopen(const_cast<char*>(rest.data()), rest.size(), "rb");
    int decoded = DecodeRecordTypeData(TypedAnalyzer().GetHead(), options, in, nullptr, null, null);
    std::fclose(in);
    std::fclose(null);
    if (decoded != kExitDone && decoded != kExitFailed && decoded != kExitBadData) Fail("decode ended oddly");
    return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 0 && size <= 4096 && data[0] == 0xFF) return TypedRecords(data + 1, size - 1);
    if (size > 0 && size <= 4096 && data[0] == 0xFE) return FuzzedRules(data + 1, size - 1);
    if (size < 4 || size > 4096) return 0;
    // Four control bytes: layout, format, code page and policy alone take more than 16 bits.
    uint32_t control = data[0] | (uint32_t{data[1]} << 8) | (uint32_t{data[2]} << 16) | (uint32_t{data[3]} << 24);
    data += 4;
    size -= 4;
    CopyAnalyzer* analyzer = Analyzers()[control % kLayoutCount];
    control /= kLayoutCount;
    DataOptions options;
    options.records = static_cast<RecordFormat>(control % kFormatCount);
    control /= kFormatCount;
    options.encoding = kEncodings[control % kEncodingCount];
    control /= kEncodingCount;
    options.onError = static_cast<OnError>(control % 3);
    control /= 3;
    options.format = (control & 1) ? TableFormat::kJsonl : TableFormat::kCsv;
    options.redefinesAll = (control & 2) != 0;
    options.floats = static_cast<FloatFormat>((control >> 2) % 3);
    // The byte order, blank numbers and JSON numbers from what is left of the control bits.
    unsigned rest = (control >> 2) / 3;
    options.blankNumeric = static_cast<quillbox::BlankNumeric>(rest % 3);
    rest /= 3;
    options.jsonNumbers = static_cast<quillbox::JsonNumbers>(rest % 3);
    rest /= 3;
    options.nativeOrder = static_cast<quillbox::NativeOrder>(rest % 3);
    rest /= 3;
    options.blockSize = 64;
    options.variableOccurs = VariableOccursOf(*analyzer);
    options.odo = options.records == RecordFormat::kFixed || (rest & 1) ? OdoRecords::kMax : OdoRecords::kAuto;
    options.lineSequential = (rest & 2) != 0;

    int recordLength = static_cast<int>(analyzer->GetRecordLength());
    if (size % 2 == 1) {   // the input's length chooses: the control bits are all taken
        ExpectThreadsSame(data, size, options, [&](const DataOptions& o, std::FILE* in, std::FILE* out, std::FILE* err) {
            return DecodeData(analyzer->GetHead(), recordLength, o, in, out, err);
        });
        ExpectSinksSame(data, size, options, (rest >> 2) ^ (unsigned{data[size - 1]} << 1), [&](const DataOptions& o, std::FILE* in, auto& sinkOf, std::FILE* err) {
            RunDisplay display;
            display.verbose = true;
            return DecodeData(analyzer->GetHead(), recordLength, o, in, *sinkOf(), err, display);
        });
    }
    std::FILE* null = std::fopen("/dev/null", "wb");
    std::FILE* in = fmemopen(const_cast<uint8_t*>(data), size, "rb");
    char* table = nullptr;
    size_t tableSize = 0;
    std::FILE* out = open_memstream(&table, &tableSize);
    int decoded = DecodeData(analyzer->GetHead(), recordLength, options, in, out, null);
    std::fclose(in);
    std::fclose(out);
    if (decoded != kExitDone && decoded != kExitFailed && decoded != kExitBadData) Fail("decode ended oddly");

    if (decoded == kExitDone && tableSize > 0) {
        in = fmemopen(table, tableSize, "rb");
        char* records = nullptr;
        size_t recordsSize = 0;
        out = open_memstream(&records, &recordsSize);
        int encoded = EncodeData(analyzer->GetHead(), recordLength, options, in, out, null);
        std::fclose(in);
        std::fclose(out);
        if (size % 2 == 1) {   // encode on three threads too, the table cut into chunks of a few bytes
            // A skip and a count (the input's length chooses) whose ends fall inside chunks.
            DataOptions spanned = options;
            spanned.skip = static_cast<long long>(size / 2 % 3);
            spanned.count = size % 5 == 0 ? -1 : static_cast<long long>(size / 2 % 7);
            ExpectThreadsSame(reinterpret_cast<const uint8_t*>(table), tableSize, spanned,
                              [&](const DataOptions& o, std::FILE* from, std::FILE* to, std::FILE* err) {
                return EncodeData(analyzer->GetHead(), recordLength, o, from, to, err);
            });
        }
        if (encoded != kExitDone) Fail("a table decode wrote does not encode");
        if (options.records == RecordFormat::kFixed && recordsSize != size) Fail("encode wrote another length");
        std::free(records);
    }
    std::free(table);
    std::fclose(null);
    return 0;
}
