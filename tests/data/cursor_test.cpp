// The record cursor stepped as the front ends step it (a record, n records, n rows, to
// the end), its run report with fault codes, encode's check of the record-type field,
// and the index pass over byte ranges of a variable file.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "cursor.h"
#include "data_test_util.h"
#include "datafile.h"
#include "layoutplan.h"
#include "ranges.h"
#include "rectypes.h"
#include "verify_report.h"


using namespace quillbox;

namespace {

// Rows a test keeps: the first column's text of each.
class FirstColumns : public RowSink {
public:
    bool Begin(const LayoutPlan&) override { return true; }
    bool Row(const LayoutPlan&, const RowCells& cells) override {
        texts.push_back(cells.Kind(0) == Cell::kNull ? "(null)" : cells.String(0));
        return true;
    }
    bool Finish() override {
        ++finished;
        return true;
    }
    std::vector<std::string> texts;
    int finished = 0;
};

class Quiet : public RunObserver {
public:
    void Fault(const RunFault& fault) override { heard.push_back(fault); }
    std::vector<RunFault> heard;
};

struct TempFile {
    explicit TempFile(const std::string& bytes) : file(std::tmpfile()) {
        std::fwrite(bytes.data(), 1, bytes.size(), file);
        std::rewind(file);
    }
    ~TempFile() { std::fclose(file); }
    std::FILE* file;
};

// Ten 4-byte records "K" + 3-byte packed number: records 3 and 7 hold a bad nibble.
std::string TenRecords() {
    std::string data;
    for (int i = 1; i <= 10; ++i) {
        data += static_cast<char>('A' + i - 1);
        data += std::string("\x00\x12", 2);
        data += static_cast<char>(i == 3 || i == 7 ? 0xAC : 0x3C);
    }
    return data;
}

const std::vector<std::string> kTen = {"01  R.", "    05  K  PIC X.", "    05  N  PIC S9(5) COMP-3."};

TEST(RecordCursor, StepsRecordsAndRowsAndKeepsItsPlaceWithAReport) {
    datatest::Layout layout(kTen);
    TempFile data(TenRecords());
    DataOptions options;
    options.onError = OnError::kSkip;
    DataSetup setup;
    std::string error;
    ASSERT_TRUE(setup.Prepare(layout.Head(), layout.Length(), options, error)) << error;
    RecordReader reader(data.file, options.records, static_cast<size_t>(layout.Length()));
    FileRecords records(reader, 1, -1);   // record 1 passed over
    FirstColumns sink;
    Quiet heard;
    RecordCursor cursor(setup, records, {&sink}, heard);

    // Two records: 2 gives a row, 3 is bad and left out.
    EXPECT_EQ(cursor.Run(2), RecordCursor::kSkipped);
    EXPECT_EQ(cursor.Number(), 3);
    EXPECT_EQ(sink.texts, (std::vector<std::string>{"B"}));
    // Three rows: records 4, 5, 6; record 7 (bad) not yet read.
    EXPECT_EQ(cursor.Run(-1, 3), RecordCursor::kRow);
    EXPECT_EQ(cursor.Number(), 6);
    EXPECT_EQ(cursor.Next(), RecordCursor::kSkipped);
    EXPECT_FALSE(cursor.Done());
    EXPECT_EQ(cursor.Run(), RecordCursor::kEnd);
    EXPECT_TRUE(cursor.Done());
    EXPECT_EQ(cursor.Next(), RecordCursor::kEnd);
    RunResult result = cursor.Finish();
    cursor.Finish();   // once only
    EXPECT_EQ(sink.finished, 1);
    EXPECT_EQ(sink.texts, (std::vector<std::string>{"B", "D", "E", "F", "H", "I", "J"}));
    EXPECT_EQ(result.read, 9);
    EXPECT_EQ(result.written, 7);
    EXPECT_EQ(result.bad, 2);

    const RunReport& report = cursor.Report();
    EXPECT_EQ(report.skipped, 2);
    EXPECT_EQ(report.faults, 2);
    EXPECT_EQ(report.byCode.at(FaultCode::kPackedNibble), 2);
    ASSERT_EQ(report.first.size(), 2u);
    EXPECT_EQ(report.first[0].code, FaultCode::kPackedNibble);
    EXPECT_EQ(report.first[0].record, 3);
    EXPECT_EQ(report.first[0].item, "N");
    EXPECT_EQ(report.first[0].offset, 3);
    EXPECT_EQ(report.first[1].record, 7);
    ASSERT_EQ(heard.heard.size(), 2u);
    EXPECT_EQ(heard.heard[1].code, FaultCode::kPackedNibble);
}

TEST(RecordCursor, PoliciesAndFaultCodesOfRecordsAndFraming) {
    datatest::Layout layout(kTen);
    // A short last record; under stop the run ends at the first bad one.
    std::string bytes = TenRecords() + "Z";
    for (OnError policy : {OnError::kStop, OnError::kNull, OnError::kSkip}) {
        TempFile data(bytes);
        DataOptions options;
        options.onError = policy;
        DataSetup setup;
        std::string error;
        ASSERT_TRUE(setup.Prepare(layout.Head(), layout.Length(), options, error));
        RecordReader reader(data.file, options.records, static_cast<size_t>(layout.Length()));
        FileRecords records(reader, 0, -1);
        FirstColumns sink;
        Quiet heard;
        RecordCursor cursor(setup, records, {&sink}, heard);
        RecordCursor::Step last = cursor.Run();
        RunResult result = cursor.Finish();
        const RunReport& report = cursor.Report();
        if (policy == OnError::kStop) {
            EXPECT_EQ(last, RecordCursor::kStopped);
            EXPECT_TRUE(result.stopped);
            EXPECT_EQ(result.read, 3);
            EXPECT_EQ(result.written, 2);   // the rows before the stop are kept
            continue;
        }
        EXPECT_EQ(last, RecordCursor::kEnd);
        EXPECT_EQ(result.read, 11);
        EXPECT_EQ(result.bad, 3);
        EXPECT_EQ(result.written, policy == OnError::kNull ? 10 : 8);
        EXPECT_EQ(report.skipped, policy == OnError::kNull ? 1 : 3);   // the short record has no row
        EXPECT_EQ(report.byCode.at(FaultCode::kShortRecord), 1);
        EXPECT_EQ(report.first.back().code, FaultCode::kShortRecord);
        EXPECT_EQ(report.first.back().offset, -1);
        if (policy == OnError::kNull) {
            EXPECT_EQ(sink.texts[2], "C");
        }
    }
    // A broken descriptor word ends the run as fatal, with its code and record.
    TempFile broken(std::string("\x00\x08\x00\x00" "A\x00\x12\x3C" "\x00\x08\x01\x00" "B\x00\x12\x3C", 16));
    DataOptions options;
    options.records = RecordFormat::kRdw;
    DataSetup setup;
    std::string error;
    ASSERT_TRUE(setup.Prepare(layout.Head(), layout.Length(), options, error));
    RecordReader reader(broken.file, options.records, static_cast<size_t>(layout.Length()));
    FileRecords records(reader, 0, -1);
    FirstColumns sink;
    Quiet heard;
    RecordCursor cursor(setup, records, {&sink}, heard);
    EXPECT_EQ(cursor.Run(), RecordCursor::kFatal);
    RunResult result = cursor.Finish();
    EXPECT_TRUE(result.failed);
    EXPECT_EQ(result.written, 1);
    ASSERT_FALSE(cursor.Report().first.empty());
    EXPECT_EQ(cursor.Report().first[0].code, FaultCode::kFraming);
    EXPECT_EQ(cursor.Report().first[0].record, 2);
}

TEST(RecordCursor, FunctionRecordsAndTheReadersReport) {
    datatest::Layout layout(kTen);
    const std::string bytes = TenRecords();
    // A caller's records: every other record of the file, numbered as in it.
    long long next = 0;
    FunctionRecords rows([&](long long& number, const unsigned char*& data, size_t& length, std::string&) {
        if (next >= 10) return RecordSource::kEnd;
        number = next + 1;
        data = reinterpret_cast<const unsigned char*>(bytes.data()) + 4 * next;
        length = 4;
        next += 2;
        return RecordSource::kRecord;
    });
    DataOptions options;
    options.onError = OnError::kNull;
    DataSetup setup;
    std::string error;
    ASSERT_TRUE(setup.Prepare(layout.Head(), layout.Length(), options, error));
    FirstColumns sink;
    Quiet heard;
    RecordCursor cursor(setup, rows, {&sink}, heard);
    cursor.Run();
    RunResult result = cursor.Finish();
    EXPECT_EQ(sink.texts, (std::vector<std::string>{"A", "C", "E", "G", "I"}));
    EXPECT_EQ(result.bad, 2);
    EXPECT_EQ(cursor.Report().first[1].record, 7);

    // The C++ reader steps the same cursor and gives its report.
    TempFile data(bytes);
    DataOptions skip;
    skip.onError = OnError::kSkip;
    quillbox::Layout api(layout.Path());
    DataReader reader(api, data.file, skip);
    int rowsRead = 0;
    while (reader.Next()) ++rowsRead;
    EXPECT_EQ(rowsRead, 8);
    EXPECT_EQ(reader.Report().read, 10);
    EXPECT_EQ(reader.Report().bad, 2);
    EXPECT_EQ(reader.Report().byCode.at(FaultCode::kPackedNibble), 2);
}

// ---- encode of record types

const std::vector<std::string> kTyped = {
    "01  HDR-REC.", "    05  HDR-TYPE  PIC X.", "    05  HDR-NO    PIC 9(3).",
    "01  DTL-REC.", "    05  DTL-TYPE  PIC X.", "    05  DTL-TEXT  PIC X(3).",
};

TEST(EncodeRecordTypes, ARowWhoseTypeFieldChoosesAnotherRecordIsBadData) {
    datatest::Layout layout(kTyped, true);
    const std::string lines = "{\"record\":\"HDR-REC\",\"HDR-REC\":{\"HDR-TYPE\":\"H\",\"HDR-NO\":1}}\n"
                              "{\"record\":\"DTL-REC\",\"DTL-REC\":{\"DTL-TYPE\":\"H\",\"DTL-TEXT\":\"ABC\"}}\n"
                              "{\"record\":\"DTL-REC\",\"DTL-REC\":{\"DTL-TYPE\":\"X\",\"DTL-TEXT\":\"DEF\"}}\n"
                              "{\"record\":\"DTL-REC\",\"DTL-REC\":{\"DTL-TYPE\":\"D\",\"DTL-TEXT\":\"GHI\"}}\n";
    for (OnError policy : {OnError::kSkip, OnError::kStop}) {
        TempFile in(lines);
        std::FILE* out = std::tmpfile();
        DataOptions options;
        options.onError = policy;
        options.records = RecordFormat::kLines;
        options.recordTypes = {{"HDR-TYPE", "H", "HDR-REC"}, {"HDR-TYPE", "D", "DTL-REC"}};
        RecordTypes types;
        std::string error;
        ASSERT_TRUE(types.Prepare(layout.Head(), options, error)) << error;
        Quiet heard;
        RunResult result;
        {
            RecordWriter writer(out, options.records, options.blockSize, false);
            result = EncodeRecordTypes(types, in.file, writer, heard);
        }
        std::rewind(out);
        std::string written(64, '\0');
        written.resize(std::fread(&written[0], 1, written.size(), out));
        std::fclose(out);
        ASSERT_FALSE(heard.heard.empty());
        EXPECT_EQ(heard.heard[0].code, FaultCode::kRecordType);
        EXPECT_EQ(heard.heard[0].record, 2);
        ASSERT_NE(heard.heard[0].field, nullptr);
        EXPECT_EQ(heard.heard[0].field->column, "HDR-TYPE");
        EXPECT_NE(heard.heard[0].reason.find("DTL-REC"), std::string::npos) << heard.heard[0].reason;
        EXPECT_NE(heard.heard[0].reason.find("chooses HDR-REC"), std::string::npos) << heard.heard[0].reason;
        if (policy == OnError::kStop) {
            EXPECT_TRUE(result.stopped);
            EXPECT_EQ(written, "H001\n");
            continue;
        }
        EXPECT_EQ(result.bad, 2);
        EXPECT_EQ(result.written, 2);
        EXPECT_NE(heard.heard[1].reason.find("chooses no record"), std::string::npos) << heard.heard[1].reason;
        EXPECT_EQ(written, "H001\nDGHI\n");
    }
}

// ---- the index pass

std::string RdwFile(int count) {
    std::string out;
    for (int i = 0; i < count; ++i) {
        // Records of 3 to 40 bytes whose data looks like descriptor words, to mislead a guess.
        int n = 3 + (i * 7) % 38;
        out += static_cast<char>((n + 4) >> 8);
        out += static_cast<char>((n + 4) & 0xFF);
        out += std::string(2, '\0');
        for (int k = 0; k < n; ++k) out += static_cast<char>(k % 4 < 2 ? 0x00 : 0x08);
    }
    return out;
}

TEST(IndexPass, RangesScansAndTheirJoinGiveTheSerialPartitions) {
    EXPECT_EQ(IndexRanges(0, 100).size(), 1u);
    EXPECT_EQ(IndexRanges(0, 100)[0].end, 0u);
    std::vector<ByteRange> ranges = IndexRanges(1050, 100, 4);   // 11 blocks, 3 a range
    ASSERT_EQ(ranges.size(), 4u);
    EXPECT_EQ(ranges[1].begin, 300u);
    EXPECT_EQ(ranges[3].end, 1050u);
    EXPECT_EQ(IndexRanges(UINT64_MAX, UINT64_MAX / 2, 1).size(), 1u);

    const std::string bytes = RdwFile(400);
    TempFile data(bytes);
    const uint64_t size = bytes.size();
    for (uint64_t block : {64u, 500u, 4096u}) {
        // Serially: one scan of the whole file.
        RangeScan whole = ScanRange(data.file, size, RecordFormat::kRdw, 41, ByteRange{0, size}, block, 0);
        ASSERT_TRUE(whole.fault.empty()) << whole.fault;
        long long total = 0;
        for (const auto& piece : whole.pieces) total += piece.second;
        EXPECT_EQ(total, 400);
        for (int tasks : {1, 3, 7, 32}) {
            std::vector<ByteRange> cut = IndexRanges(size, block, tasks);
            std::vector<RangeScan> scans;
            for (const ByteRange& range : cut) scans.push_back(ScanRange(data.file, size, RecordFormat::kRdw, 41, range, block));
            Rescan rescan = [&](const ByteRange& range, uint64_t start) {
                return ScanRange(data.file, size, RecordFormat::kRdw, 41, range, block, static_cast<long long>(start));
            };
            std::vector<Partition> parts;
            long long record = 0;
            std::string fault;
            ASSERT_TRUE(JoinScans(cut, scans, rescan, parts, record, fault)) << fault;
            ASSERT_EQ(parts.size(), whole.pieces.size()) << block << " " << tasks;
            long long first = 1;
            for (size_t i = 0; i < parts.size(); ++i) {
                EXPECT_EQ(parts[i].offset, whole.pieces[i].first);
                EXPECT_EQ(parts[i].records, whole.pieces[i].second);
                EXPECT_EQ(parts[i].first, first);
                first += parts[i].records;
            }
        }
    }
    // A broken descriptor word in the middle: the join names its record.
    std::string broken = bytes;
    size_t at = 0;
    for (int i = 0; i < 250; ++i) at += static_cast<size_t>((static_cast<unsigned char>(broken[at]) << 8) | static_cast<unsigned char>(broken[at + 1]));
    broken[at + 2] = 1;
    TempFile bad(broken);
    std::vector<ByteRange> cut = IndexRanges(size, 256, 5);
    std::vector<RangeScan> scans;
    for (const ByteRange& range : cut) scans.push_back(ScanRange(bad.file, size, RecordFormat::kRdw, 41, range, 256));
    Rescan rescan = [&](const ByteRange& range, uint64_t start) {
        return ScanRange(bad.file, size, RecordFormat::kRdw, 41, range, 256, static_cast<long long>(start));
    };
    std::vector<Partition> parts;
    long long record = 0;
    std::string fault;
    EXPECT_FALSE(JoinScans(cut, scans, rescan, parts, record, fault));
    EXPECT_EQ(record, 251);
    EXPECT_NE(fault.find("bad RDW"), std::string::npos) << fault;
}

}  // namespace

namespace {

TEST(VerifyReport, FaultsOfOneKindCountTogetherWhateverTheirValues) {
    quillbox::DataOptions options;
    RunTally tally(options, nullptr);
    quillbox::Field field;
    field.column = "AMT";
    for (const char* reason : {"packed nibble A of byte 0x1A is not a digit", "packed nibble F of byte 0xF1 is not a digit"}) {
        quillbox::RunFault fault;
        fault.record = 4;
        fault.field = &field;
        fault.offset = 2;
        fault.reason = reason;
        fault.code = quillbox::FaultCode::kPackedNibble;
        tally.Fault(fault);
    }
    quillbox::RunResult result;
    result.read = 4;
    result.bad = 1;
    const std::string json = tally.Report(result, "C.cpy", "D.dat", 16);
    EXPECT_NE(json.find("\"badByReason\": {\n    \"packed-nibble\": 2\n  }"), std::string::npos) << json;
    EXPECT_NE(json.find("\"code\": \"packed-nibble\""), std::string::npos) << json;
}

}  // namespace
