// A decode on several threads into a caller's own sinks: the sinks hear, on the calling
// thread, the rows and faults one thread gives them, in the same order, under every
// policy, for one layout and for record types; a sink that fails ends the run as it
// ends one thread's. An encode on several threads writes the records, hears the faults
// and counts what one thread does: --skip and --count across chunk ends, every record
// format, record types.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "cursor.h"
#include "data_test_util.h"
#include "datafile.h"
#include "layoutplan.h"
#include "parallel.h"
#include "rectypes.h"

using namespace quillbox;

namespace {

// What a run gave, in the order it came: rows (their cells) and faults, one line each.
struct Heard {
    std::vector<std::string> lines;
    std::vector<std::thread::id> threads;   // of every call to a sink
};

class LogSink : public RowSink {
public:
    LogSink(Heard& heard, const std::string& name, long long failAt = -1)
        : heard_(heard), name_(name), failAt_(failAt) {}
    bool Begin(const LayoutPlan&) override {
        heard_.threads.push_back(std::this_thread::get_id());
        heard_.lines.push_back(name_ + " begin");
        return failAt_ != 0;
    }
    bool Row(const LayoutPlan&, const RowCells& cells) override {
        heard_.threads.push_back(std::this_thread::get_id());
        if (++rows_ == failAt_) return false;
        std::string line = name_ + " row";
        for (size_t i = 0; i < cells.Size(); ++i) {
            line += cells.Kind(i) == Cell::kNull ? " (null)" : " [" + cells.String(i) + "]";
        }
        heard_.lines.push_back(line);
        return true;
    }
    bool Finish() override {
        heard_.threads.push_back(std::this_thread::get_id());
        heard_.lines.push_back(name_ + " finish");
        return true;
    }
    std::string Failure() const override { return name_ + " is full"; }
    // It stores every other row (a sink that counts what reached its output itself).
    long long Stored(long long given) const override { return given - given / 2; }

private:
    Heard& heard_;
    std::string name_;
    long long rows_ = 0, failAt_;
};

// The same as a BlockRowSink: each row's line made on a worker; a row whose T is "xyz"
// and whose K is the letter `refuse` places after A cannot go (the sink fails there).
class LogBlockSink : public BlockRowSink {
public:
    LogBlockSink(Heard& heard, const std::string& name, int refuse = -1) : heard_(heard), name_(name), refuse_(refuse) {}
    static std::string Line(const std::string& name, const RowCells& cells) {
        std::string line = name + " row";
        for (size_t i = 0; i < cells.Size(); ++i) {
            line += cells.Kind(i) == Cell::kNull ? " (null)" : " [" + cells.String(i) + "]";
        }
        return line;
    }
    static bool Refused(const RowCells& cells, int refuse) {
        return refuse >= 0 && cells.Kind(2) != Cell::kNull && cells.String(2) == "xyz" &&
               cells.String(0) == std::string(1, static_cast<char>('A' + refuse));
    }
    class Lines : public Block {
    public:
        Lines(const std::string& name, int refuse) : name_(name), refuse_(refuse) {}
        bool Add(const LayoutPlan&, const RowCells& cells) override {
            if (refused_ || Refused(cells, refuse_)) return !(refused_ = true);
            lines.push_back(Line(name_, cells));
            threads.push_back(std::this_thread::get_id());
            return true;
        }
        size_t Rows() const override { return lines.size(); }
        void Clear() override {
            lines.clear();
            threads.clear();
            refused_ = false;
        }
        std::vector<std::string> lines;
        std::vector<std::thread::id> threads;

    private:
        std::string name_;
        int refuse_;
        bool refused_ = false;
    };
    bool Begin(const LayoutPlan&) override {
        heard_.lines.push_back(name_ + " begin");
        return true;
    }
    bool Row(const LayoutPlan&, const RowCells& cells) override {
        if (Refused(cells, refuse_)) return false;
        heard_.lines.push_back(Line(name_, cells));
        return true;
    }
    bool Finish() override {
        heard_.lines.push_back(name_ + " finish");
        return true;
    }
    std::string Failure() const override { return name_ + " refused a row"; }
    std::unique_ptr<Block> NewBlock() override {
        ++blocks;
        return std::unique_ptr<Block>(new Lines(name_, refuse_));
    }
    bool Take(std::unique_ptr<Block>& block, size_t from, size_t to, size_t& taken) override {
        Lines& lines = static_cast<Lines&>(*block);
        taken = 0;
        for (size_t i = from; i < to; ++i) {
            if (i >= lines.Rows()) return false;
            heard_.lines.push_back(lines.lines[i]);
            if (lines.threads[i] != std::this_thread::get_id()) ++madeOnWorkers;
            ++taken;
        }
        return true;
    }
    int blocks = 0;
    long long madeOnWorkers = 0;

private:
    Heard& heard_;
    std::string name_;
    int refuse_;
};

class LogFaults : public RunObserver {
public:
    explicit LogFaults(Heard& heard) : heard_(heard) {}
    void Fault(const RunFault& fault) override {
        heard_.lines.push_back("fault " + std::to_string(fault.record) + " " + fault.reason);
    }
    void Rejected(long long record, const unsigned char*, size_t length) override {
        heard_.lines.push_back("rejected " + std::to_string(record) + " " + std::to_string(length));
    }

private:
    Heard& heard_;
};

struct TempFile {
    explicit TempFile(const std::string& bytes) : file(std::tmpfile()) {
        std::fwrite(bytes.data(), 1, bytes.size(), file);
        std::rewind(file);
    }
    ~TempFile() { std::fclose(file); }
    std::FILE* file;
};

const std::vector<std::string> kLayout = {"01  R.", "    05  K  PIC X.", "    05  N  PIC S9(5) COMP-3.",
                                          "    05  T  PIC X(3)."};

// `count` 7-byte records; every 97th has a bad packed sign nibble.
std::string Records(int count) {
    std::string data;
    for (int i = 1; i <= count; ++i) {
        data += static_cast<char>('A' + i % 26);
        data += static_cast<char>(i % 10);
        data += static_cast<char>((i % 100 / 10) << 4 | (i % 10));
        data += static_cast<char>(i % 97 == 0 ? 0xAE : 0x0C);
        data += i % 3 == 0 ? "xyz" : "ab ";
    }
    return data;
}

// One thread's run through the record loop, as the reference.
RunResult OneThread(datatest::Layout& layout, const DataOptions& options, const std::string& data, Heard& heard,
                    long long failAt = -1) {
    DataSetup setup;
    std::string error;
    EXPECT_TRUE(setup.Prepare(layout.Head(), layout.Length(), options, error)) << error;
    TempFile file(data);
    RecordReader reader(file.file, options.records, static_cast<size_t>(layout.Length()));
    LogSink sink(heard, "R", failAt);
    LogFaults faults(heard);
    return DecodeRecords(setup, reader, sink, faults);
}

RunResult Threads(datatest::Layout& layout, const DataOptions& options, const std::string& data, Heard& heard,
                  size_t chunkBytes, long long failAt = -1) {
    DecodeWork work(layout.Head(), layout.Length(), options, 3);
    std::string error;
    EXPECT_TRUE(work.Ready(error)) << error;
    TempFile file(data);
    RecordReader reader(file.file, options.records, static_cast<size_t>(layout.Length()));
    LogSink sink(heard, "R", failAt);
    LogFaults faults(heard);
    return DecodeParallelInto(work, reader, {&sink}, faults, chunkBytes);
}

void ExpectSameResult(const RunResult& one, const RunResult& many) {
    EXPECT_EQ(one.read, many.read);
    EXPECT_EQ(one.written, many.written);
    EXPECT_EQ(one.bad, many.bad);
    EXPECT_EQ(one.stopped, many.stopped);
    EXPECT_EQ(one.failed, many.failed);
}

TEST(DecodeParallelInto, GivesTheCallersSinkWhatOneThreadGivesUnderEveryPolicy) {
    datatest::Layout layout(kLayout);
    const std::string data = Records(3000);
    for (OnError policy : {OnError::kSkip, OnError::kNull, OnError::kStop}) {
        DataOptions options;
        options.onError = policy;
        options.skip = 5;
        Heard one, many;
        RunResult a = OneThread(layout, options, data, one);
        // Chunks of a few records: many chunks, each boundary met.
        RunResult b = Threads(layout, options, data, many, 64);
        ExpectSameResult(a, b);
        EXPECT_EQ(one.lines, many.lines) << "policy " << static_cast<int>(policy);
        EXPECT_GT(one.lines.size(), policy == OnError::kStop ? 90u : 2900u);
        // Every call to the sink on the calling thread.
        for (const std::thread::id& id : many.threads) EXPECT_EQ(id, std::this_thread::get_id());
    }
}

TEST(DecodeParallelInto, ASinkThatFailsEndsTheRunWhereOneThreadEndsIt) {
    datatest::Layout layout(kLayout);
    const std::string data = Records(2000);
    DataOptions options;
    options.onError = OnError::kNull;
    for (long long failAt : {0LL, 1LL, 500LL, 1950LL}) {
        Heard one, many;
        RunResult a = OneThread(layout, options, data, one, failAt);
        RunResult b = Threads(layout, options, data, many, 100, failAt);
        EXPECT_TRUE(b.failed);
        // The records read up to the failing row's own, not the whole chunk's.
        ExpectSameResult(a, b);
        EXPECT_EQ(a.blanks, b.blanks) << "fail at " << failAt;
        EXPECT_EQ(a.written, b.written) << "fail at " << failAt;
        EXPECT_EQ(one.lines, many.lines) << "fail at " << failAt;
    }
}

TEST(DecodeParallelInto, ABlockRowSinksRowsAreMadeOnTheWorkersAndTakenAsOneThreadGivesThem) {
    datatest::Layout layout(kLayout);
    const std::string data = Records(3000);
    for (OnError policy : {OnError::kNull, OnError::kSkip, OnError::kStop}) {
        // -1: every row goes; 7: the first row with K "H" and T "xyz" (the 33rd) cannot go.
        for (int refuse : {-1, 7}) {
            DataOptions options;
            options.onError = policy;
            Heard one, many;
            RunResult a, b;
            {
                DataSetup setup;
                std::string error;
                ASSERT_TRUE(setup.Prepare(layout.Head(), layout.Length(), options, error)) << error;
                TempFile file(data);
                RecordReader reader(file.file, options.records, static_cast<size_t>(layout.Length()));
                LogBlockSink sink(one, "R", refuse);
                LogFaults faults(one);
                a = DecodeRecords(setup, reader, sink, faults);
            }
            for (size_t chunkBytes : {size_t{64}, size_t{5000}}) {
                many.lines.clear();
                DecodeWork work(layout.Head(), layout.Length(), options, 3);
                TempFile file(data);
                RecordReader reader(file.file, options.records, static_cast<size_t>(layout.Length()));
                LogBlockSink sink(many, "R", refuse);
                LogFaults faults(many);
                b = DecodeParallelInto(work, reader, {&sink}, faults, chunkBytes);
                ExpectSameResult(a, b);
                EXPECT_EQ(a.blanks, b.blanks);
                EXPECT_EQ(one.lines, many.lines) << "policy " << static_cast<int>(policy) << ", refuse " << refuse
                                                 << ", chunks of " << chunkBytes;
                EXPECT_GT(sink.madeOnWorkers, 0);
                EXPECT_GT(sink.blocks, 1);
            }
            EXPECT_EQ(refuse >= 0, a.failed);
        }
    }
}

TEST(DecodeParallelInto, RecordTypesGoToTheirOwnSinksAndATypeWithoutOneIsSkipped) {
    datatest::Layout layout({"01 HDR.", "   05 H-TYPE PIC X.", "   05 H-NUM PIC S9(3) COMP-3.", "01 DTL.",
                             "   05 D-TYPE PIC X.", "   05 D-QTY PIC 9(2).", "01 TRL.", "   05 T-TYPE PIC X.",
                             "   05 T-CNT PIC 9(3)."},
                            true);
    std::string data;
    for (int i = 0; i < 1500; ++i) {
        if (i % 50 == 0) data += std::string("H\x01\x2C\x00", 4);
        else if (i % 50 == 49) data += i % 7 == 0 ? "T0x1" : "T049";
        else data += i % 13 == 0 ? "DA1 " : "D" + std::to_string(10 + i % 90) + " ";
        if (i == 777) data += "Z999";   // no rule chooses it
    }
    DataOptions options;
    options.recordTypes = {{"H-TYPE", "H", "HDR"}, {"H-TYPE", "D", "DTL"}, {"H-TYPE", "T", "TRL"}};
    for (OnError policy : {OnError::kSkip, OnError::kNull}) {
        options.onError = policy;
        Heard one, many;
        RunResult a, b;
        {
            RecordTypes types;
            std::string error;
            ASSERT_TRUE(types.Prepare(layout.Head(), options, error)) << error;
            TempFile file(data);
            RecordReader reader(file.file, options.records, static_cast<size_t>(types.MaxLength()));
            FileRecords records(reader, 0, -1);
            // DTL's rows made ready on the workers, HDR's given one by one.
            LogSink hdr(one, "HDR");
            LogBlockSink dtl(one, "DTL");
            LogFaults faults(one);
            RecordCursor cursor(types, records, {&hdr, &dtl, nullptr}, faults);
            cursor.Run();
            a = cursor.Finish();
        }
        {
            DecodeWork work(layout.Head(), options, DecodeWork::kTypeTables, 2);
            std::string error;
            ASSERT_TRUE(work.Ready(error)) << error;
            TempFile file(data);
            RecordTypes types;
            ASSERT_TRUE(types.Prepare(layout.Head(), options, error)) << error;
            RecordReader reader(file.file, options.records, static_cast<size_t>(types.MaxLength()));
            LogSink hdr(many, "HDR");
            LogBlockSink dtl(many, "DTL");
            LogFaults faults(many);
            b = DecodeParallelInto(work, reader, {&hdr, &dtl, nullptr}, faults, 200);
        }
        ExpectSameResult(a, b);
        EXPECT_GT(a.bad, 0);
        EXPECT_EQ(one.lines, many.lines);
    }
}

// What an encode gave: its records, its faults in order, its counts.
struct Encoded {
    std::string records;
    std::vector<std::string> faults;
    RunResult result;
};

class FaultList : public RunObserver {
public:
    explicit FaultList(std::vector<std::string>& faults) : faults_(faults) {}
    void Fault(const RunFault& fault) override {
        faults_.push_back(std::to_string(fault.record) + " " + std::to_string(fault.offset) + " " + fault.reason);
    }

private:
    std::vector<std::string>& faults_;
};

// Writes into a string: the records an encode wrote.
struct MemoryOut {
    MemoryOut() : file(open_memstream(&data, &size)) {}
    ~MemoryOut() {
        if (file != nullptr) std::fclose(file);
        std::free(data);
    }
    std::string Take() {
        std::fclose(file);
        file = nullptr;
        return std::string(data != nullptr ? data : "", size);
    }
    char* data = nullptr;
    size_t size = 0;
    std::FILE* file;
};

// `rows` CSV rows of kLayout (with the header) or JSON lines; every 89th row has a number
// too wide for its item, every 211th too few fields, and now and then a quoted text
// holds a line end.
std::string Table(int rows, bool jsonl) {
    std::string table = jsonl ? "" : "K,N,T\n";
    for (int i = 1; i <= rows; ++i) {
        const std::string k(1, static_cast<char>('A' + i % 26));
        const std::string n = i % 89 == 0 ? "1234567" : std::to_string(i % 20000 - 9000);
        const std::string t = i % 17 == 0 ? "a\nb" : i % 3 == 0 ? "xyz" : "ab";
        if (jsonl) {
            table += i % 211 == 0 ? "{\"K\":\"" + k + "\"}\n"
                                  : "{\"K\":\"" + k + "\",\"N\":" + n + ",\"T\":\"" + (i % 17 == 0 ? "a\\nb" : t) + "\"}\n";
        } else {
            table += i % 211 == 0 ? k + "," + n + "\n" : k + "," + n + ",\"" + t + "\"\n";
        }
    }
    return table;
}

Encoded EncodeOneThread(datatest::Layout& layout, const DataOptions& options, const std::string& table) {
    Encoded encoded;
    DataSetup setup;
    std::string error;
    EXPECT_TRUE(setup.Prepare(layout.Head(), layout.Length(), options, error)) << error;
    TempFile in(table);
    MemoryOut out;
    FaultList faults(encoded.faults);
    {
        std::unique_ptr<RowSource> source = MakeTableSource(setup, in.file);
        RecordWriter writer(out.file, options.records, options.blockSize, options.crlf);
        encoded.result = EncodeRows(setup, *source, writer, faults);
    }
    encoded.records = out.Take();
    return encoded;
}

Encoded EncodeThreads(datatest::Layout& layout, const DataOptions& options, const std::string& table,
                      size_t chunkBytes) {
    Encoded encoded;
    TempFile in(table);
    MemoryOut out;
    FaultList faults(encoded.faults);
    encoded.result = EncodeParallel(layout.Head(), layout.Length(), options, 3, in.file, out.file, faults, chunkBytes);
    encoded.records = out.Take();
    return encoded;
}

void ExpectSameEncode(const Encoded& one, const Encoded& many, const std::string& what) {
    EXPECT_EQ(one.records, many.records) << what;
    EXPECT_EQ(one.faults, many.faults) << what;
    ExpectSameResult(one.result, many.result);
    EXPECT_EQ(one.result.blanks, many.result.blanks) << what;
}

TEST(EncodeParallel, SkipAndCountTakeTheRowsOneThreadTakesAcrossChunks) {
    datatest::Layout layout(kLayout);
    // (skip, count): none; within the first chunk; ends inside later chunks; nothing
    // taken; past the table's end; a count that ends where the rows end.
    const std::vector<std::pair<long long, long long>> spans = {{0, -1},   {3, 4},     {100, 57}, {333, 1000}, {0, 0},
                                                                {1000, -1}, {5000, 5}, {2, 2998}, {1777, 1223}};
    for (bool jsonl : {false, true}) {
        const std::string table = Table(3000, jsonl);
        for (OnError policy : {OnError::kSkip, OnError::kNull, OnError::kStop}) {
            for (const auto& span : spans) {
                DataOptions options;
                options.format = jsonl ? TableFormat::kJsonl : TableFormat::kCsv;
                options.onError = policy;
                options.skip = span.first;
                options.count = span.second;
                const std::string what = std::string(jsonl ? "jsonl" : "csv") + " policy " +
                                         std::to_string(static_cast<int>(policy)) + " skip " +
                                         std::to_string(span.first) + " count " + std::to_string(span.second);
                ASSERT_TRUE(EncodeParallelTakes(options));
                Encoded one = EncodeOneThread(layout, options, table);
                // Chunks of a few rows: many chunks, the skip and the count ending inside them.
                ExpectSameEncode(one, EncodeThreads(layout, options, table, 97), what);
                ExpectSameEncode(one, EncodeThreads(layout, options, table, 4096), what);
            }
        }
    }
}

// A row longer than the limit is fatal where one thread reads it: also the row just
// past the count, and a row passed over; not a row further on.
TEST(EncodeParallel, ARowOverTheLimitEndsTheRunWhereOneThreadReadsIt) {
    datatest::Layout layout(kLayout);
    std::string table = "K,N,T\n";
    for (int i = 1; i <= 2000; ++i) table += i == 1201 ? "A,1," + std::string(300, 'x') + "\n" : "A,1,ab\n";
    for (const auto& span : std::vector<std::pair<long long, long long>>{
             {0, 1199}, {0, 1200}, {1100, 100}, {1100, 99}, {1500, -1}, {1200, 0}}) {
        DataOptions options;
        options.maxLine = 100;
        options.skip = span.first;
        options.count = span.second;
        const std::string what = "skip " + std::to_string(span.first) + " count " + std::to_string(span.second);
        Encoded one = EncodeOneThread(layout, options, table);
        ExpectSameEncode(one, EncodeThreads(layout, options, table, 64), what);
    }
}

// Every record format: blocks that group records across chunks (small blocks, the last
// one partial), GnuCOBOL's record headers, lines; with a skip and a count, and a stop.
TEST(EncodeParallel, EveryRecordFormatAsOneThreadWritesIt) {
    datatest::Layout layout(kLayout);
    const std::string table = Table(2500, false);
    for (RecordFormat format : {RecordFormat::kFixed, RecordFormat::kLines, RecordFormat::kRdw, RecordFormat::kRdwBlock,
                                RecordFormat::kGnuCobol, RecordFormat::kGnuCobol1, RecordFormat::kGnuCobol2,
                                RecordFormat::kGnuCobol3}) {
        for (OnError policy : {OnError::kSkip, OnError::kStop}) {
            DataOptions options;
            options.records = format;
            options.onError = policy;
            options.blockSize = 100;
            options.crlf = true;
            const std::string what = "format " + std::to_string(static_cast<int>(format)) + " policy " +
                                     std::to_string(static_cast<int>(policy));
            ASSERT_TRUE(EncodeParallelTakes(options));
            Encoded one = EncodeOneThread(layout, options, table);
            ExpectSameEncode(one, EncodeThreads(layout, options, table, 97), what);
            options.skip = 300;
            options.count = 1900;
            ExpectSameEncode(EncodeOneThread(layout, options, table), EncodeThreads(layout, options, table, 200),
                             what + " skip and count");
        }
    }
}

// Record types from one JSON Lines stream: each row's record named by its "record" key;
// a row naming no record, a record that is none of the copybook's and a type field that
// chooses another record are bad rows where one thread finds them.
TEST(EncodeParallel, RecordTypesFromOneStreamAsOneThreadEncodesThem) {
    datatest::Layout layout({"01 HDR.", "   05 H-TYPE PIC X.", "   05 H-NUM PIC S9(3) COMP-3.", "01 DTL.",
                             "   05 D-TYPE PIC X.", "   05 D-QTY PIC 9(2).", "01 TRL.", "   05 T-TYPE PIC X.",
                             "   05 T-CNT PIC 9(3)."},
                            true);
    std::string table;
    for (int i = 0; i < 2400; ++i) {
        if (i % 50 == 0) table += "{\"record\":\"HDR\",\"HDR\":{\"H-TYPE\":\"H\",\"H-NUM\":" + std::to_string(i % 999) + "}}\n";
        else if (i % 50 == 49) table += "{\"record\":\"TRL\",\"TRL\":{\"T-TYPE\":\"T\",\"T-CNT\":49}}\n";
        else if (i % 331 == 0) table += "{\"DTL\":{\"D-TYPE\":\"D\",\"D-QTY\":1}}\n";
        else if (i % 457 == 0) table += "{\"record\":\"XYZ\",\"DTL\":{\"D-TYPE\":\"D\",\"D-QTY\":1}}\n";
        else if (i % 199 == 0) table += "{\"record\":\"DTL\",\"DTL\":{\"D-TYPE\":\"T\",\"D-QTY\":1}}\n";
        else table += "{\"record\":\"DTL\",\"DTL\":{\"D-TYPE\":\"D\",\"D-QTY\":" + std::to_string(i % 120) + "}}\n";
    }
    for (RecordFormat format : {RecordFormat::kFixed, RecordFormat::kRdwBlock, RecordFormat::kGnuCobol}) {
        for (OnError policy : {OnError::kSkip, OnError::kNull, OnError::kStop}) {
            for (long long skip : {0LL, 700LL}) {
                DataOptions options;
                options.format = TableFormat::kJsonl;
                options.records = format;
                options.onError = policy;
                options.blockSize = 64;
                options.skip = skip;
                options.count = skip > 0 ? 1000 : -1;
                options.recordTypes = {{"H-TYPE", "H", "HDR"}, {"H-TYPE", "D", "DTL"}, {"H-TYPE", "T", "TRL"}};
                const std::string what = "format " + std::to_string(static_cast<int>(format)) + " policy " +
                                         std::to_string(static_cast<int>(policy)) + " skip " + std::to_string(skip);
                ASSERT_TRUE(EncodeParallelTakes(options));
                Encoded one, many;
                {
                    RecordTypes types;
                    std::string error;
                    ASSERT_TRUE(types.Prepare(layout.Head(), options, error)) << error;
                    TempFile in(table);
                    MemoryOut out;
                    FaultList faults(one.faults);
                    {
                        RecordWriter writer(out.file, options.records, options.blockSize, options.crlf);
                        one.result = EncodeRecordTypes(types, in.file, writer, faults);
                    }
                    one.records = out.Take();
                }
                {
                    TempFile in(table);
                    MemoryOut out;
                    FaultList faults(many.faults);
                    many.result = EncodeRecordTypesParallel(layout.Head(), options, 3, in.file, out.file, faults, 300);
                    many.records = out.Take();
                }
                EXPECT_GT(one.result.bad, 0) << what;
                ExpectSameEncode(one, many, what);
            }
        }
    }
}

// A decode on several threads into table files writes what one thread writes, also
// where a chunk's rows outgrow the sink's buffer (part of them written through its
// stream on the way, the rest held for the chunk's turn) and where a chunk is a few
// records.
TEST(DecodeParallel, WritesWhatOneThreadWritesWhateverTheChunksRowsCome) {
    // 60 two-byte binary items: a JSON line is about seven times its record.
    std::vector<std::string> entries = {"01  W."};
    for (int i = 1; i <= 60; ++i) entries.push_back("    05  F" + std::to_string(i) + "  PIC S9(4) COMP.");
    datatest::Layout layout(entries);
    std::string data;
    for (int r = 0; r < 12000; ++r) {
        for (int i = 0; i < 60; ++i) {
            // Now and then a value wider than its four digits: bad data.
            const int value = (r * 61 + i * 7) % 9973 + (r % 401 == 0 && i == 5 ? 20000 : 0);
            data += static_cast<char>(value >> 8);
            data += static_cast<char>(value & 0xFF);
        }
    }
    for (bool jsonl : {false, true}) {
        for (OnError policy : {OnError::kSkip, OnError::kStop}) {
            DataOptions options;
            options.format = jsonl ? TableFormat::kJsonl : TableFormat::kCsv;
            options.onError = policy;
            Encoded one;
            {
                DataSetup setup;
                std::string error;
                ASSERT_TRUE(setup.Prepare(layout.Head(), layout.Length(), options, error)) << error;
                TempFile in(data);
                RecordReader reader(in.file, options.records, static_cast<size_t>(layout.Length()));
                MemoryOut out;
                FaultList faults(one.faults);
                std::unique_ptr<RowSink> sink = MakeTableSink(setup, out.file);
                one.result = DecodeRecords(setup, reader, *sink, faults);
                one.records = out.Take();
            }
            ASSERT_GT(one.records.size(), jsonl ? 4u << 20 : 100u);
            for (size_t chunkBytes : {size_t(1) << 20, size_t(3000)}) {
                const std::string what = std::string(jsonl ? "jsonl" : "csv") + " policy " +
                                         std::to_string(static_cast<int>(policy)) + " chunk " + std::to_string(chunkBytes);
                Encoded many;
                DecodeWork work(layout.Head(), layout.Length(), options, 3);
                std::string error;
                ASSERT_TRUE(work.Ready(error)) << error;
                TempFile in(data);
                RecordReader reader(in.file, options.records, static_cast<size_t>(layout.Length()));
                MemoryOut out;
                FaultList faults(many.faults);
                many.result = DecodeParallel(work, reader, {out.file}, faults, chunkBytes);
                many.records = out.Take();
                ExpectSameEncode(one, many, what);
            }
        }
    }
}

}  // namespace
