// The data window's document: a Shift_JIS fixed file, an EBCDIC (cp930) file of RDW
// records, a large generated file, the sparse index against a sequential read, find
// and filter, export against quillbox-cli decode, edits saved byte for byte, a save
// that fails, and bad data.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

#include "cobcpy.h"
#include "cobolrules.h"
#include "datadoc.h"
#include "records.h"
#include "test_util.h"
#include "textcodec.h"

using quillbox::DataDocument;
using quillbox::DataOptions;
using quillbox::RecordFormat;
using quillbox::TableFormat;

namespace {

std::string Scratch(const std::string& name) { return qbtest::ProcessUniqueName("datadoc_", name); }

// A copybook of the given entries, analysed (by the COBOL rules when `cobol`).
class Copybook {
public:
    explicit Copybook(const std::vector<std::string>& entries, bool cobol = false)
        : analyzer_(cobol ? new CobolAnalyzer("") : new CopyAnalyzer("")) {
        static int counter = 0;
        path_ = Scratch(std::to_string(++counter) + ".cpy");
        std::string text;
        for (const std::string& entry : entries) text += "       " + entry + "\n";
        qbtest::WriteFileBytes(path_, text);
        analyzer_->SetFileName(path_.c_str());
        analyzer_->Analyze();
    }
    ~Copybook() { std::remove(path_.c_str()); }
    CopyItem* Head() { return analyzer_->GetHead(); }
    int Length() { return static_cast<int>(analyzer_->GetRecordLength()); }
    CopyAnalyzer& Analyzer() { return *analyzer_; }
    const std::string& Path() const { return path_; }

private:
    std::unique_ptr<CopyAnalyzer> analyzer_;
    std::string path_;
};

// A customer record in Shift_JIS: CODE 9(4), NAME X(10), AMT 9(5)V99, 21 bytes.
const std::vector<std::string> kCustomer = {
    "01 CUST-REC.", "   05 CUST-CODE PIC 9(4).", "   05 CUST-NAME PIC X(10).", "   05 CUST-AMT  PIC 9(5)V99.",
};

std::string Customer(const std::string& code, const std::string& name, const std::string& amount) {
    std::string padded = name;
    padded.resize(10, ' ');
    return code + padded + amount;
}

// Six customers; row 4 (index 3) has a bad code, and the file ends in a short record.
std::string CustomerFile() {
    return Customer("0001", "山田太郎", "0012345") + Customer("0002", "鈴木花子", "0010000") +
           Customer("0003", "ABC Corp", "0000050") + Customer("00X4", "田中", "0099999") +
           Customer("0005", "田村一郎", "0010050") + Customer("0006", "abc", "0000000") + "0007";
}

// Writes `bytes` to a scratch file removed with the object.
class DataFile {
public:
    DataFile(const std::string& name, const std::string& bytes) : path_(Scratch(name)) {
        qbtest::WriteFileBytes(path_, bytes);
    }
    ~DataFile() { std::remove(path_.c_str()); }
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

std::string CellText(DataDocument& doc, long long row, size_t column) {
    const DataDocument::ShownRow* shown = doc.Row(row);
    if (shown == nullptr) return "<no row>";
    return shown->cells[column].bad ? "###" : shown->cells[column].text;
}

#ifdef QB_CLI_PATH
// quillbox-cli's standard output for `arguments`.
std::string Cli(const std::string& arguments) {
    std::string out = Scratch("cli.out");
    int status = std::system(("'" + std::string(QB_CLI_PATH) + "' " + arguments + " >" + out + " 2>/dev/null").c_str());
    (void)status;
    std::string bytes = qbtest::ReadFileBytes(out);
    std::remove(out.c_str());
    return bytes;
}
#endif

TEST(DataDocument, ShiftJisFixedFileRowsDetailAndBadData) {
    Copybook copybook(kCustomer);
    DataFile data("cust.dat", CustomerFile());
    DataDocument doc;
    std::string error;
    ASSERT_TRUE(doc.Open(copybook.Head(), copybook.Length(), data.Path(), DataOptions(), error)) << error;
    // Fixed records are indexed at once: six whole records and the short seventh.
    EXPECT_TRUE(doc.ScanDone());
    EXPECT_EQ(doc.RecordCount(), 7);
    EXPECT_FALSE(doc.ReadOnly());
    ASSERT_EQ(doc.ColumnCount(), 3u);
    EXPECT_EQ(doc.ColumnName(1), "CUST-NAME");
    EXPECT_TRUE(doc.ColumnIsNumber(2));
    EXPECT_FALSE(doc.ColumnIsNumber(1));

    EXPECT_EQ(CellText(doc, 0, 0), "1");
    EXPECT_EQ(CellText(doc, 0, 1), "山田太郎  ");
    EXPECT_EQ(CellText(doc, 0, 2), "123.45");
    EXPECT_EQ(doc.BadRowsShown(), 0);

    // Bad data: the cell is bad with the codec's reason, the others decoded.
    const DataDocument::ShownRow* bad = doc.Row(3);
    ASSERT_NE(bad, nullptr);
    EXPECT_TRUE(bad->bad);
    EXPECT_TRUE(bad->cells[0].bad);
    EXPECT_NE(bad->cells[0].reason.find("0x58"), std::string::npos) << bad->cells[0].reason;   // the X
    EXPECT_EQ(bad->cells[1].text, "田中      ");
    EXPECT_FALSE(bad->cells[1].bad);
    // The short last record: a bad row of the wrong length.
    const DataDocument::ShownRow* shortRow = doc.Row(6);
    ASSERT_NE(shortRow, nullptr);
    EXPECT_TRUE(shortRow->bad);
    EXPECT_EQ(shortRow->reason, "レコードが短すぎます (4 バイト、レイアウトは 21 バイト)");
    EXPECT_EQ(doc.Row(7), nullptr);
    // Rows asked again are not counted again.
    doc.Row(3);
    EXPECT_EQ(doc.RowsShown(), 3);
    EXPECT_EQ(doc.BadRowsShown(), 2);

    // The record detail: every item, the group first, values and bytes.
    std::vector<DataDocument::DetailLine> lines;
    ASSERT_TRUE(doc.Detail(3, lines));
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_TRUE(lines[0].group);
    EXPECT_EQ(lines[0].depth, 0);
    EXPECT_EQ(lines[0].length, 21);
    EXPECT_EQ(lines[1].name, "CUST-CODE");
    EXPECT_EQ(lines[1].depth, 1);
    EXPECT_TRUE(lines[1].bad);
    EXPECT_EQ(lines[1].hex, "30 30 58 34");
    EXPECT_EQ(lines[2].value, "田中      ");
    EXPECT_EQ(lines[2].offset, 4);
    EXPECT_EQ(lines[3].value, "999.99");
    EXPECT_EQ(lines[3].picture, "9(5)V99");
    EXPECT_EQ(lines[2].Text().substr(0, 17), "  05 CUST-NAME PI");
    EXPECT_NE(lines[1].Text().find("###"), std::string::npos);

    // The clipboard's text: a header, then the rows asked, bad values as ###.
    EXPECT_EQ(doc.CopyText({0, 3}),
              "No\tCUST-CODE\tCUST-NAME\tCUST-AMT\r\n"
              "1\t1\t山田太郎  \t123.45\r\n"
              "4\t###\t田中      \t999.99\r\n");
}

TEST(DataDocument, RedefinesViewsAndArraysInTheDetail) {
    Copybook copybook({"01 R.", "   05 A PIC X(4).", "   05 B REDEFINES A PIC 9(4).", "   05 T OCCURS 2.",
                       "      10 T-X PIC X."});
    DataFile data("redef.dat", "12ABxy");
    DataDocument doc;
    std::string error;
    ASSERT_TRUE(doc.Open(copybook.Head(), copybook.Length(), data.Path(), DataOptions(), error)) << error;
    EXPECT_EQ(doc.ColumnCount(), 3u);   // the first view only, as decode
    std::vector<DataDocument::DetailLine> lines;
    ASSERT_TRUE(doc.Detail(0, lines));
    std::vector<std::string> names;
    for (const auto& line : lines) names.push_back(line.name);
    ASSERT_GE(lines.size(), 6u) << ::testing::PrintToString(names);
    EXPECT_EQ(lines[1].name, "A");
    EXPECT_EQ(lines[1].value, "12AB");
    EXPECT_EQ(lines[2].name, "B");
    EXPECT_TRUE(lines[2].view);
    EXPECT_TRUE(lines[2].bad);   // "12AB" is no number: the view is marked, the row is not bad
    EXPECT_FALSE(doc.Row(0)->bad);
    EXPECT_EQ(lines.back().value, "y");
    EXPECT_EQ(lines.back().offset, 5);
}

// EBCDIC Japanese (cp930) records with an RDW: a big-endian binary key, text with
// SO/SI double-byte characters and a packed amount.
class EbcdicRdw : public ::testing::Test {
protected:
    const std::vector<std::string> entries = {"01 EREC.", "   05 E-KEY PIC 9(8) COMP.", "   05 E-NAME PIC X(12).",
                                              "   05 E-AMT PIC S9(5) COMP-3."};
    std::string Record(unsigned key, const std::string& utf8Name, int amount) {
        std::string error, name;
        std::unique_ptr<quillbox::TextCodec> codec = quillbox::TextCodec::Create("ibm-930", error);
        EXPECT_TRUE(codec && codec->Encode(utf8Name.data(), utf8Name.size(), name)) << error;
        name.resize(12, '\x40');
        std::string body;
        for (int shift = 24; shift >= 0; shift -= 8) body.push_back(static_cast<char>((key >> shift) & 0xFF));
        body += name;
        unsigned magnitude = static_cast<unsigned>(amount < 0 ? -amount : amount);
        unsigned char packed[3] = {0, 0, 0};
        // 5 digits and the sign nibble in three bytes.
        unsigned digits[5];
        for (int i = 4; i >= 0; --i, magnitude /= 10) digits[i] = magnitude % 10;
        packed[0] = static_cast<unsigned char>(digits[0] << 4 | digits[1]);
        packed[1] = static_cast<unsigned char>(digits[2] << 4 | digits[3]);
        packed[2] = static_cast<unsigned char>(digits[4] << 4 | (amount < 0 ? 0xD : 0xC));
        body.append(reinterpret_cast<char*>(packed), 3);
        std::string rdw;
        rdw.push_back(static_cast<char>((body.size() + 4) >> 8));
        rdw.push_back(static_cast<char>((body.size() + 4) & 0xFF));
        rdw += std::string(2, '\0');
        return rdw + body;
    }
    DataOptions Options() {
        DataOptions options;
        options.encoding = "ibm-930";
        options.records = RecordFormat::kRdw;
        return options;
    }
};

TEST_F(EbcdicRdw, JapaneseTextComesOutAsShiftJisAndTheSparseIndexGivesTheSequentialRows) {
    Copybook copybook(entries);
    std::string bytes;
    const int kRecords = 1000;
    for (int i = 0; i < kRecords; ++i) {
        bytes += Record(static_cast<unsigned>(70000 + i), i % 2 ? "\xE6\x9D\xB1\xE4\xBA\xAC" /* 東京 */ : "OSAKA", i - 500);
    }
    DataFile data("e.rdw", bytes);
    DataDocument doc;
    std::string error;
    ASSERT_TRUE(doc.Open(copybook.Head(), copybook.Length(), data.Path(), Options(), error)) << error;
    EXPECT_FALSE(doc.ScanDone());
    EXPECT_EQ(doc.RecordCount(), 0);
    // The first slice makes the first rows readable before the scan ends.
    DataDocument::ScanProgress progress = doc.ScanSome(500);
    EXPECT_FALSE(progress.done);
    EXPECT_GT(progress.records, 10);
    EXPECT_LT(progress.records, kRecords);
    EXPECT_EQ(CellText(doc, 1, 1), "東京      ");   // SO, SI and the blanks after them
    EXPECT_EQ(CellText(doc, 1, 0), "70001");
    EXPECT_EQ(CellText(doc, 1, 2), "-499");
    int slices = 1;
    while (!doc.ScanSome(2000).done) ++slices;
    EXPECT_GT(slices, 5);
    EXPECT_EQ(doc.RecordCount(), kRecords);
    EXPECT_TRUE(doc.ScanError().empty());
    EXPECT_LE(doc.IndexEntries(), static_cast<size_t>(kRecords / DataDocument::kIndexStep + 2));

    // Rows asked backwards and by jumps equal a sequential read by a second document.
    DataDocument sequential;
    ASSERT_TRUE(sequential.Open(copybook.Head(), copybook.Length(), data.Path(), Options(), error));
    std::vector<std::vector<std::string>> expected;
    for (long long i = 0; i < kRecords; ++i) {
        const DataDocument::ShownRow* row = sequential.Row(i);
        ASSERT_NE(row, nullptr) << i;
        expected.push_back({row->cells[0].text, row->cells[1].text, row->cells[2].text});
    }
    EXPECT_EQ(expected[999][0], "70999");
    EXPECT_EQ(expected[998][1], "OSAKA       ");
    for (long long i = kRecords - 1; i >= 0; i -= 7) {
        for (size_t c = 0; c < 3; ++c) EXPECT_EQ(CellText(doc, i, c), expected[static_cast<size_t>(i)][c]) << i;
    }
    for (long long i : {640LL, 3LL, 999LL, 64LL, 63LL, 128LL, 500LL}) {
        EXPECT_EQ(CellText(doc, i, 0), expected[static_cast<size_t>(i)][0]) << i;
    }
    EXPECT_EQ(doc.BadRowsShown(), 0);
}

TEST_F(EbcdicRdw, RecordsInBlocksAreIndexedAtBlockStarts) {
    Copybook copybook(entries);
    // Blocks of at most 300 bytes: about a dozen records each, so that entries of the
    // index fall at block starts, not every 64th record.
    const std::string path = Scratch("blocks.rdw");
    {
        std::FILE* file = std::fopen(path.c_str(), "wb");
        ASSERT_NE(file, nullptr);
        quillbox::RecordWriter writer(file, RecordFormat::kRdwBlock, 300, false);
        for (int i = 0; i < 2000; ++i) {
            std::string record = Record(static_cast<unsigned>(i), "B", i).substr(4);
            ASSERT_TRUE(writer.Write(reinterpret_cast<const unsigned char*>(record.data()), record.size()));
        }
        ASSERT_TRUE(writer.Finish());
        ASSERT_EQ(std::fclose(file), 0);
    }
    DataOptions options = Options();
    options.records = RecordFormat::kRdwBlock;
    DataDocument doc;
    std::string error, reason;
    ASSERT_TRUE(doc.Open(copybook.Head(), copybook.Length(), path, options, error)) << error;
    doc.ScanSome(20000);
    ASSERT_FALSE(doc.ScanDone());
    const long long scanned = doc.RecordCount();
    // An edit saved while the scan is under way: the scan goes on where it was.
    ASSERT_TRUE(doc.SetCell(5, 2, "-77", reason)) << reason;
    ASSERT_TRUE(doc.Save(error)) << error;
    EXPECT_EQ(doc.RecordCount(), scanned);
    while (!doc.ScanSome(3000).done) {
    }
    EXPECT_EQ(doc.RecordCount(), 2000);
    EXPECT_GT(doc.IndexEntries(), 2000u / (64 + 16));   // the first block start after each 64th record
    EXPECT_LE(doc.IndexEntries(), 2000u / 64 + 1);
    for (long long i = 1999; i >= 0; i -= 13) EXPECT_EQ(CellText(doc, i, 0), std::to_string(i)) << i;
    EXPECT_EQ(CellText(doc, 5, 2), "-77");
    EXPECT_EQ(doc.Find("-77", 2, 1999, false, quillbox::DataProgress()), 5);
    EXPECT_EQ(doc.Find("1990", 0, -1, true, quillbox::DataProgress()), 1990);
    std::remove(path.c_str());
}

TEST_F(EbcdicRdw, BrokenFramingEndsTheScanAndKeepsTheRowsBefore) {
    Copybook copybook(entries);
    std::string bytes = Record(1, "A", 1) + Record(2, "B", 2) + std::string("\x00\x02\x00\x00", 4) + Record(3, "C", 3);
    DataFile data("broken.rdw", bytes);
    DataDocument doc;
    std::string error;
    ASSERT_TRUE(doc.Open(copybook.Head(), copybook.Length(), data.Path(), Options(), error)) << error;
    EXPECT_TRUE(doc.ScanSome(1 << 20).done);
    EXPECT_EQ(doc.RecordCount(), 2);
    EXPECT_NE(doc.ScanError().find("record 3"), std::string::npos) << doc.ScanError();
    EXPECT_EQ(CellText(doc, 1, 0), "2");
    // For the window: the record, the byte where its descriptor word begins, the reason
    // in Japanese.
    const DataDocument::ScanFault& stop = doc.ScanStop();
    EXPECT_EQ(stop.record, 3);
    EXPECT_EQ(stop.offset, static_cast<uint64_t>(Record(1, "A", 1).size() + Record(2, "B", 2).size()));
    EXPECT_EQ(stop.text.rfind("RDW (レコード記述語) が正しくありません", 0), 0u) << stop.text;
}

// A go-to (or an export) beyond the rows indexed scans on with progress between slices
// and can be cancelled; what was scanned stays readable and the scan goes on after.
TEST_F(EbcdicRdw, ScanToARowReportsProgressAndCanBeCancelled) {
    Copybook copybook(entries);
    std::string bytes;
    const std::string record = Record(7, "A", 1);
    const long long kRecords = 12 * 1024 * 1024 / static_cast<long long>(record.size()) + 1;   // a few slices
    bytes.reserve(static_cast<size_t>(kRecords) * record.size());
    for (long long i = 0; i < kRecords; ++i) bytes += record;
    DataFile data("scanto.rdw", bytes);
    DataDocument doc;
    std::string error;
    ASSERT_TRUE(doc.Open(copybook.Head(), copybook.Length(), data.Path(), Options(), error)) << error;
    int calls = 0;
    long long lastDone = 0, lastExpected = 0;
    auto cancelSecond = [&](long long done, long long expected) {
        EXPECT_GT(done, lastDone);
        EXPECT_GE(expected, done);
        lastDone = done;
        lastExpected = expected;
        return ++calls < 2;
    };
    EXPECT_FALSE(doc.ScanTo(kRecords - 1, cancelSecond));
    EXPECT_EQ(calls, 2);
    EXPECT_FALSE(doc.ScanDone());
    EXPECT_EQ(doc.RecordCount(), lastDone);
    EXPECT_LT(doc.RecordCount(), kRecords);
    // The records of the whole file foretold from the bytes so far (all alike here).
    EXPECT_EQ(lastExpected, kRecords);
    EXPECT_EQ(CellText(doc, doc.RecordCount() - 1, 0), "7");
    // Scanned on to a row within reach, then past the end: true, and the count is whole.
    calls = 0;
    lastDone = doc.RecordCount();
    EXPECT_TRUE(doc.ScanTo(lastDone + 10, cancelSecond));
    EXPECT_GT(doc.RecordCount(), lastDone + 10);
    EXPECT_TRUE(doc.ScanTo(kRecords * 2, quillbox::DataProgress()));
    EXPECT_TRUE(doc.ScanDone());
    EXPECT_EQ(doc.RecordCount(), kRecords);
    EXPECT_TRUE(doc.ScanTo(kRecords * 2, cancelSecond));   // nothing left: asks nothing

    // An export of every row completes the index first; cancelled there, it writes nothing.
    DataDocument fresh;
    ASSERT_TRUE(fresh.Open(copybook.Head(), copybook.Length(), data.Path(), Options(), error)) << error;
    const std::string target = Scratch("scanto.csv");
    quillbox::RunResult result;
    calls = 0;
    lastDone = 0;
    EXPECT_FALSE(fresh.Export(target, TableFormat::kCsv, nullptr, result, error, cancelSecond));
    EXPECT_TRUE(error.empty()) << error;
    EXPECT_FALSE(fresh.ScanDone());
    std::FILE* made = std::fopen(target.c_str(), "rb");
    EXPECT_EQ(made, nullptr);
    if (made != nullptr) std::fclose(made);
}

TEST(DataRowRanges, StretchesJoinSplitAndCount) {
    quillbox::DataRowRanges ranges;
    EXPECT_EQ(ranges.NextFrom(0), -1);
    ranges.Add(10, 20);
    ranges.Add(30, 40);
    EXPECT_EQ(ranges.Count(), 20);
    EXPECT_EQ(ranges.Ranges(), 2u);
    ranges.Add(20);   // touches the first: joined
    ranges.Add(25, 30);   // touches the second
    EXPECT_EQ(ranges.Ranges(), 2u);
    EXPECT_EQ(ranges.Count(), 26);
    ranges.Add(15, 27);   // overlaps both: one stretch [10, 40)
    EXPECT_EQ(ranges.Ranges(), 1u);
    EXPECT_EQ(ranges.Count(), 30);
    EXPECT_TRUE(ranges.Contains(10));
    EXPECT_TRUE(ranges.Contains(39));
    EXPECT_FALSE(ranges.Contains(40));
    EXPECT_FALSE(ranges.Contains(9));
    ranges.Remove(20);   // splits it
    EXPECT_EQ(ranges.Ranges(), 2u);
    EXPECT_EQ(ranges.Count(), 29);
    EXPECT_FALSE(ranges.Contains(20));
    EXPECT_EQ(ranges.NextFrom(20), 21);
    EXPECT_EQ(ranges.NextFrom(0), 10);
    EXPECT_EQ(ranges.NextFrom(15), 15);
    EXPECT_EQ(ranges.NextFrom(40), -1);
    ranges.Remove(5, 12);   // the front of the first
    ranges.Remove(35, 1000);   // the back of the second
    EXPECT_EQ(ranges.Count(), 8 + 14);
    EXPECT_EQ(ranges.NextFrom(0), 12);
    ranges.Remove(25);
    ranges.Remove(100);   // not there: nothing changes
    ranges.Remove(25);
    EXPECT_EQ(ranges.Count(), 21);
    EXPECT_EQ(ranges.Ranges(), 3u);
    ranges.Remove(0, 1000);
    EXPECT_EQ(ranges.Count(), 0);
    EXPECT_EQ(ranges.Ranges(), 0u);
    ranges.Add(3);
    ranges.Add(3);
    EXPECT_EQ(ranges.Count(), 1);
    ranges.Clear();
    EXPECT_EQ(ranges.NextFrom(0), -1);
}

// The counts of rows shown and bad ones keep stretches of rows, not a flag per row,
// and follow a row whose badness an edit changed when it is shown again.
TEST(DataDocument, CountsOfShownRowsKeepStretchesNotAFlagPerRow) {
    Copybook copybook(kCustomer);
    const long long kRecords = 3000;
    std::string bytes;
    const std::string good = Customer("0001", "X", "0000001"), bad = Customer("00X4", "Y", "0000002");
    for (long long i = 0; i < kRecords; ++i) bytes += i >= 1000 && i < 1500 ? bad : good;
    DataFile data("counts.dat", bytes);
    DataDocument doc;
    std::string error, reason;
    ASSERT_TRUE(doc.Open(copybook.Head(), copybook.Length(), data.Path(), DataOptions(), error)) << error;
    // Every 7th row first, then a stretch upward across the bad ones, then all: each row
    // counted once.
    for (long long i = 0; i < kRecords; i += 7) ASSERT_NE(doc.Row(i), nullptr);
    EXPECT_EQ(doc.RowsShown(), (kRecords + 6) / 7);
    for (long long i = 1600; i >= 900; --i) ASSERT_NE(doc.Row(i), nullptr);
    EXPECT_EQ(doc.BadRowsShown(), 500);
    for (long long i = 0; i < kRecords; ++i) ASSERT_NE(doc.Row(i), nullptr);
    EXPECT_EQ(doc.RowsShown(), kRecords);
    EXPECT_EQ(doc.BadRowsShown(), 500);
    EXPECT_EQ(doc.ShownRanges(), 2u);   // the rows shown, the bad stretch
    // An edit mends a bad row: counted good when shown again; the edit given up, bad again.
    ASSERT_TRUE(doc.SetCell(1200, 0, "4", reason)) << reason;
    EXPECT_EQ(doc.BadRowsShown(), 500);   // not shown since
    EXPECT_FALSE(doc.Row(1200)->bad);
    EXPECT_EQ(doc.BadRowsShown(), 499);
    EXPECT_EQ(doc.ShownRanges(), 3u);
    doc.Row(1200);
    EXPECT_EQ(doc.BadRowsShown(), 499);
    doc.DiscardEdits();
    EXPECT_TRUE(doc.Row(1200)->bad);
    EXPECT_EQ(doc.BadRowsShown(), 500);
    EXPECT_EQ(doc.RowsShown(), kRecords);
    EXPECT_EQ(doc.ShownRanges(), 2u);
}

TEST(DataDocument, LargeFixedFileOpensAtOnceAndDecodesADistantRow) {
    Copybook copybook({"01 BIG.", "   05 BIG-NO PIC 9(10).", "   05 BIG-TEXT PIC X(90)."});
    const std::string path = Scratch("big.dat");
    const long long kRecords = 2000000;   // 200 MB, sparse but for two records
    {
        std::FILE* file = std::fopen(path.c_str(), "wb");
        ASSERT_NE(file, nullptr);
        std::string record = "0001000000" + std::string("百万番目のレコード") + std::string(72, ' ');
        ASSERT_EQ(record.size(), 100u);
        ASSERT_EQ(fseeko(file, static_cast<off_t>(999999) * 100, SEEK_SET), 0);
        std::fwrite(record.data(), 1, record.size(), file);
        ASSERT_EQ(fseeko(file, static_cast<off_t>(kRecords) * 100 - 1, SEEK_SET), 0);
        std::fputc(' ', file);
        ASSERT_EQ(std::fclose(file), 0);
    }
    auto start = std::chrono::steady_clock::now();
    DataDocument doc;
    std::string error;
    ASSERT_TRUE(doc.Open(copybook.Head(), copybook.Length(), path, DataOptions(), error)) << error;
    EXPECT_EQ(doc.RecordCount(), kRecords);
    EXPECT_EQ(CellText(doc, 999999, 0), "1000000");
    EXPECT_EQ(CellText(doc, 999999, 1).substr(0, 18), "百万番目のレコード");
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(seconds, 1.0);
    EXPECT_EQ(doc.IndexEntries(), 0u);   // arithmetic, no index
    // The rows of zero bytes are bad numbers; the last row is there.
    EXPECT_TRUE(doc.Row(kRecords - 1)->bad);
    std::remove(path.c_str());
}

TEST(DataDocument, FindAndFilter) {
    Copybook copybook(kCustomer);
    DataFile data("find.dat", CustomerFile());
    DataDocument doc;
    std::string error;
    ASSERT_TRUE(doc.Open(copybook.Head(), copybook.Length(), data.Path(), DataOptions(), error)) << error;
    auto none = quillbox::DataProgress();
    // Forward and backward, in a column and in all, Latin letters of either case.
    EXPECT_EQ(doc.Find("田", 1, -1, true, none), 0);
    EXPECT_EQ(doc.Find("田", 1, 0, true, none), 3);
    EXPECT_EQ(doc.Find("田", 1, 4, true, none), -1);
    EXPECT_EQ(doc.Find("田", 1, 3, false, none), 0);
    EXPECT_EQ(doc.Find("田", 1, -1, false, none), 4);
    EXPECT_EQ(doc.Find("abc", -1, -1, true, none), 2);
    EXPECT_EQ(doc.Find("abc", -1, 2, true, none), 5);
    EXPECT_EQ(doc.Find("99999", 2, -1, true, none), -1);   // shown as 999.99
    EXPECT_EQ(doc.Find("999.99", -1, -1, true, none), 3);
    EXPECT_EQ(doc.Find("", -1, -1, true, none), -1);

    using C = DataDocument::Compare;
    quillbox::DataRowSet rows;
    ASSERT_TRUE(doc.Filter(2, C::kGreater, "100.4", rows, none, error)) << error;
    EXPECT_EQ(rows.Rows(), (std::vector<long long>{0, 3, 4}));   // 123.45, 999.99, 100.50; the short record matches nothing
    ASSERT_TRUE(doc.Filter(2, C::kEqual, "100.500", rows, none, error));
    EXPECT_EQ(rows.Rows(), (std::vector<long long>{4}));
    ASSERT_TRUE(doc.Filter(2, C::kLess, "0.51", rows, none, error));
    EXPECT_EQ(rows.Rows(), (std::vector<long long>{2, 5}));
    ASSERT_TRUE(doc.Filter(0, C::kNotEqual, "2", rows, none, error));
    EXPECT_EQ(rows.Rows(), (std::vector<long long>{0, 2, 4, 5}));   // the bad code and the short record match nothing
    ASSERT_TRUE(doc.Filter(1, C::kEqual, "鈴木花子", rows, none, error));
    EXPECT_EQ(rows.Rows(), (std::vector<long long>{1}));
    ASSERT_TRUE(doc.Filter(1, C::kContains, "ABC", rows, none, error));
    EXPECT_EQ(rows.Rows(), (std::vector<long long>{2, 5}));
    ASSERT_TRUE(doc.Filter(1, C::kLess, "B", rows, none, error));
    EXPECT_EQ(rows.Rows(), (std::vector<long long>{2}));
    EXPECT_FALSE(doc.Filter(2, C::kEqual, "12x", rows, none, error));
    EXPECT_FALSE(error.empty());
}

TEST(DataDocument, RowSetFindsItsKthRowAcrossBlocks) {
    quillbox::DataRowSet set;
    const std::vector<long long> rows = {0, 5, 63, 64, 4095, 4096, 20000, 100000, 100001, 999999};
    for (long long row : rows) set.Add(row);
    set.Add(5);   // once only
    ASSERT_EQ(set.Count(), static_cast<long long>(rows.size()));
    for (size_t k = 0; k < rows.size(); ++k) EXPECT_EQ(set.At(static_cast<long long>(k)), rows[k]) << k;
    EXPECT_EQ(set.At(-1), -1);
    EXPECT_EQ(set.At(static_cast<long long>(rows.size())), -1);
    EXPECT_TRUE(set.Contains(4096));
    EXPECT_FALSE(set.Contains(4097));
    EXPECT_FALSE(set.Contains(5000000));
    EXPECT_EQ(set.Rows(), rows);
    set.Clear();
    EXPECT_EQ(set.Count(), 0);
    EXPECT_EQ(set.At(0), -1);
}

TEST(DataDocument, LongSearchesReportProgressAndCanBeCancelled) {
    Copybook copybook(kCustomer);
    std::string bytes;
    for (int i = 0; i < 20000; ++i) bytes += Customer("0001", "X", "0000001");
    DataFile data("many.dat", bytes);
    DataDocument doc;
    std::string error;
    ASSERT_TRUE(doc.Open(copybook.Head(), copybook.Length(), data.Path(), DataOptions(), error)) << error;
    int calls = 0;
    auto cancelSecond = [&](long long done, long long total) {
        EXPECT_EQ(total, 20000);
        EXPECT_GT(done, 0);
        return ++calls < 2;
    };
    EXPECT_EQ(doc.Find("nowhere", -1, -1, true, cancelSecond), -2);
    EXPECT_EQ(calls, 2);
    calls = 0;
    quillbox::DataRowSet rows;
    EXPECT_FALSE(doc.Filter(0, DataDocument::Compare::kEqual, "1", rows, cancelSecond, error));
    EXPECT_EQ(rows.Count(), 0);
    calls = 0;
    EXPECT_EQ(doc.Find("nowhere", -1, -1, false, cancelSecond), -2);
    // Export cancelled: the target is not made.
    const std::string target = Scratch("cancelled.csv");
    quillbox::RunResult result;
    calls = 0;
    EXPECT_FALSE(doc.Export(target, TableFormat::kCsv, nullptr, result, error, cancelSecond));
    EXPECT_EQ(qbtest::ReadFileBytes(target), "");
    std::FILE* made = std::fopen(target.c_str(), "rb");
    EXPECT_EQ(made, nullptr);
    if (made != nullptr) std::fclose(made);
}

#ifdef QB_CLI_PATH
TEST(DataDocument, ExportEqualsTheBytesOfDecode) {
    Copybook copybook(kCustomer);
    // Without the bad rows, so that decode runs under its default (stop on bad data).
    std::string good = Customer("0001", "山田太郎", "0012345") + Customer("0002", "鈴木花子", "0010000") +
                       Customer("0003", "ABC, \"Corp\"", "0000050") + Customer("0005", "田村一郎", "0010050");
    DataFile data("export.dat", good);
    DataDocument doc;
    std::string error;
    ASSERT_TRUE(doc.Open(copybook.Head(), copybook.Length(), data.Path(), DataOptions(), error)) << error;
    const std::string target = Scratch("export.out");
    const std::string args = "'" + copybook.Path() + "' '" + data.Path() + "'";
    quillbox::RunResult result;
    ASSERT_TRUE(doc.Export(target, TableFormat::kCsv, nullptr, result, error)) << error;
    EXPECT_EQ(result.written, 4);
    std::string csv = qbtest::ReadFileBytes(target);
    EXPECT_EQ(csv, Cli("decode " + args));
    EXPECT_NE(csv.find("\xE5\xB1\xB1\xE7\x94\xB0"), std::string::npos);   // 山田 in UTF-8
    ASSERT_TRUE(doc.Export(target, TableFormat::kJsonl, nullptr, result, error)) << error;
    EXPECT_EQ(qbtest::ReadFileBytes(target), Cli("decode --format jsonl " + args));
    // A list of rows: decode's rows of the same records.
    std::vector<long long> rows = {1, 2};
    ASSERT_TRUE(doc.Export(target, TableFormat::kCsv, &rows, result, error)) << error;
    const std::string middle = Cli("decode --skip 1 --count 2 " + args);
    EXPECT_EQ(qbtest::ReadFileBytes(target), middle);
    // The rows of a filter: amounts from 0.50 to 100.00.
    quillbox::DataRowSet filtered;
    ASSERT_TRUE(doc.Filter(2, DataDocument::Compare::kLess, "100.01", filtered, quillbox::DataProgress(), error));
    ASSERT_EQ(filtered.Rows(), rows);
    ASSERT_TRUE(doc.Export(target, TableFormat::kCsv, filtered, result, error)) << error;
    EXPECT_EQ(qbtest::ReadFileBytes(target), middle);
    std::remove(target.c_str());

    // Bad data under the options' policy, as decode.
    DataFile bad("exportbad.dat", CustomerFile());
    DataOptions nulls;
    nulls.onError = quillbox::OnError::kNull;
    DataDocument badDoc;
    ASSERT_TRUE(badDoc.Open(copybook.Head(), copybook.Length(), bad.Path(), nulls, error)) << error;
    ASSERT_TRUE(badDoc.Export(target, TableFormat::kCsv, nullptr, result, error)) << error;
    EXPECT_EQ(result.bad, 2);
    EXPECT_EQ(qbtest::ReadFileBytes(target), Cli("decode --on-error null '" + copybook.Path() + "' '" + bad.Path() + "'"));
    std::remove(target.c_str());
    // Under stop the export fails, says where, and makes no file.
    DataDocument stopDoc;
    ASSERT_TRUE(stopDoc.Open(copybook.Head(), copybook.Length(), bad.Path(), DataOptions(), error)) << error;
    EXPECT_FALSE(stopDoc.Export(target, TableFormat::kCsv, nullptr, result, error));
    EXPECT_EQ(error.rfind("レコード 4、項目 ", 0), 0u) << error;   // in the window's words
    std::FILE* made = std::fopen(target.c_str(), "rb");
    EXPECT_EQ(made, nullptr);
    if (made != nullptr) std::fclose(made);
}

TEST_F(EbcdicRdw, ExportEqualsTheBytesOfDecode) {
    Copybook copybook(entries);
    std::string bytes;
    for (int i = 0; i < 300; ++i) bytes += Record(static_cast<unsigned>(i), i % 3 ? "\xE6\x9D\xB1\xE4\xBA\xAC" : "K", i * 7 - 900);
    DataFile data("export.rdw", bytes);
    DataDocument doc;
    std::string error;
    ASSERT_TRUE(doc.Open(copybook.Head(), copybook.Length(), data.Path(), Options(), error)) << error;
    const std::string target = Scratch("export-e.out");
    quillbox::RunResult result;
    ASSERT_TRUE(doc.Export(target, TableFormat::kJsonl, nullptr, result, error)) << error;
    const std::string args = "--encoding ibm-930 --records rdw '" + copybook.Path() + "' '" + data.Path() + "'";
    EXPECT_EQ(qbtest::ReadFileBytes(target), Cli("decode --format jsonl " + args));
    std::vector<long long> rows;
    for (long long i = 100; i < 250; ++i) rows.push_back(i);
    ASSERT_TRUE(doc.Export(target, TableFormat::kCsv, &rows, result, error)) << error;
    EXPECT_EQ(qbtest::ReadFileBytes(target), Cli("decode --skip 100 --count 150 " + args));
    std::remove(target.c_str());
}
#endif

TEST(DataDocument, EditsAreCheckedByTheCodecAndSavedByteForByte) {
    Copybook copybook(kCustomer);
    const std::string original = CustomerFile();
    DataFile data("edit.dat", original);
    DataDocument doc;
    std::string error, reason;
    ASSERT_TRUE(doc.Open(copybook.Head(), copybook.Length(), data.Path(), DataOptions(), error)) << error;
    // Refused: not a number, too many digits, too long a text, a short record, no Shift_JIS.
    EXPECT_FALSE(doc.SetCell(1, 2, "12a", reason));
    EXPECT_FALSE(reason.empty());
    EXPECT_FALSE(doc.SetCell(1, 2, "123456.00", reason));
    EXPECT_FALSE(doc.SetCell(1, 2, "1.234", reason));
    EXPECT_FALSE(doc.SetCell(1, 1, "あいうえおか", reason));
    EXPECT_FALSE(doc.SetCell(6, 0, "7", reason));
    EXPECT_FALSE(doc.SetCell(1, 1, "\x81", reason));
    EXPECT_FALSE(doc.Modified());
    // Accepted: the row shows the value and is marked.
    ASSERT_TRUE(doc.SetCell(1, 1, "佐藤", reason)) << reason;
    ASSERT_TRUE(doc.SetCell(1, 2, "5", reason)) << reason;
    ASSERT_TRUE(doc.SetCell(3, 0, "4", reason)) << reason;   // mends the bad code
    EXPECT_EQ(doc.EditedCount(), 2u);
    EXPECT_TRUE(doc.Row(1)->edited);
    EXPECT_EQ(CellText(doc, 1, 1), "佐藤      ");
    EXPECT_EQ(CellText(doc, 1, 2), "5.00");
    EXPECT_FALSE(doc.Row(3)->bad);
    // Not saved yet: the file is as it was.
    EXPECT_EQ(qbtest::ReadFileBytes(data.Path()), original);

    ASSERT_TRUE(doc.Save(error)) << error;
    std::string expected = original;
    expected.replace(21 + 4, 17, "佐藤      0000500");
    expected.replace(63, 4, "0004");
    EXPECT_EQ(qbtest::ReadFileBytes(data.Path()), expected);
    EXPECT_FALSE(doc.Modified());
    EXPECT_EQ(CellText(doc, 1, 1), "佐藤      ");
    EXPECT_EQ(CellText(doc, 5, 1), "abc       ");
}

TEST_F(EbcdicRdw, EditOfAVariableRecordKeepsEveryOtherByte) {
    Copybook copybook(entries);
    std::string bytes;
    for (int i = 0; i < 200; ++i) bytes += Record(static_cast<unsigned>(i), "N", i);
    DataFile data("edit.rdw", bytes);
    DataDocument doc;
    std::string error, reason;
    ASSERT_TRUE(doc.Open(copybook.Head(), copybook.Length(), data.Path(), Options(), error)) << error;
    while (!doc.ScanSome(1000).done) {
    }
    ASSERT_TRUE(doc.SetCell(150, 1, "東京", reason)) << reason;
    ASSERT_TRUE(doc.SetCell(150, 2, "-12345", reason)) << reason;
    EXPECT_FALSE(doc.SetCell(150, 2, "123456", reason));
    ASSERT_TRUE(doc.Save(error)) << error;
    std::string expected = bytes;
    std::string edited = Record(150, "\xE6\x9D\xB1\xE4\xBA\xAC", -12345);
    expected.replace(150 * edited.size(), edited.size(), edited);
    EXPECT_EQ(qbtest::ReadFileBytes(data.Path()), expected);
    EXPECT_EQ(CellText(doc, 150, 1), "東京      ");
    EXPECT_EQ(CellText(doc, 199, 0), "199");
}

TEST(DataDocument, EditThatWouldChangeARecordsLengthIsRefused) {
    Copybook copybook({"01 OREC.", "   05 O-N PIC 9.", "   05 O-T OCCURS 1 TO 3 DEPENDING ON O-N.",
                       "      10 O-X PIC X(2).", "   05 O-END PIC X."},
                      true);
    DataOptions options;
    options.records = RecordFormat::kLines;
    options.variableOccurs = quillbox::VariableOccursOf(copybook.Analyzer());
    ASSERT_EQ(options.variableOccurs.size(), 3u);
    DataFile data("odo.txt", "2AABBZ\n1CCY\n");
    DataDocument doc;
    std::string error, reason;
    ASSERT_TRUE(doc.Open(copybook.Head(), copybook.Length(), data.Path(), options, error)) << error;
    doc.ScanSome(1 << 20);
    ASSERT_EQ(doc.RecordCount(), 2);
    EXPECT_EQ(CellText(doc, 0, 2), "BB");
    EXPECT_TRUE(doc.Row(0)->cells[3].absent);
    EXPECT_EQ(CellText(doc, 0, 4), "Z");
    EXPECT_FALSE(doc.SetCell(0, 0, "3", reason));
    EXPECT_NE(reason.find("OCCURS DEPENDING ON"), std::string::npos) << reason;
    EXPECT_FALSE(doc.SetCell(0, 3, "QQ", reason));   // past the count
    ASSERT_TRUE(doc.SetCell(0, 0, "2", reason)) << reason;   // the same count
    ASSERT_TRUE(doc.SetCell(1, 4, "W", reason)) << reason;   // the item after the table, where it is stored
    ASSERT_TRUE(doc.SetCell(0, 2, "DD", reason)) << reason;
    ASSERT_TRUE(doc.Save(error)) << error;
    EXPECT_EQ(qbtest::ReadFileBytes(data.Path()), "2AADDZ\n1CCW\n");
}

TEST(DataDocument, AnEditThatPutsALineEndIntoALineRecordIsRefused) {
    // The binary count 13 is stored as 00 0D: a CR inside a line is data. The count 10
    // (00 0A) would end the line there, and a CR at a line's end would be read as part of
    // a CR LF: both would move every record after it, whatever the record held before.
    Copybook copybook({"01 LREC.", "   05 L-N PIC 9(4) COMP.", "   05 L-X PIC X."}, true);
    DataOptions options;
    options.records = RecordFormat::kLines;
    DataFile data("lines.txt", std::string("\x00\x0DZ\n\x00\x01Y\n", 8));
    DataDocument doc;
    std::string error, reason;
    ASSERT_TRUE(doc.Open(copybook.Head(), copybook.Length(), data.Path(), options, error)) << error;
    doc.ScanSome(1 << 20);
    ASSERT_EQ(doc.RecordCount(), 2);
    EXPECT_EQ(CellText(doc, 0, 0), "13");
    EXPECT_FALSE(doc.SetCell(0, 0, "10", reason));
    EXPECT_FALSE(doc.SetCell(1, 1, "\r", reason));
    ASSERT_TRUE(doc.SetCell(0, 0, "14", reason)) << reason;
    ASSERT_TRUE(doc.Save(error)) << error;
    EXPECT_EQ(qbtest::ReadFileBytes(data.Path()), std::string("\x00\x0EZ\n\x00\x01Y\n", 8));
}

// A file of two record types chosen by the first byte (the COBOL rules lay both 01
// records over the same bytes).
class RecordTypesFile : public ::testing::Test {
protected:
    Copybook copybook{{"01 HDR-REC.", "   05 H-TYPE PIC X.", "   05 H-DATE PIC 9(8).", "01 DTL-REC.",
                       "   05 D-TYPE PIC X.", "   05 D-ITEM PIC X(4).", "   05 D-QTY PIC 9(3)."},
                      true};
    DataOptions Options() {
        DataOptions options;
        options.recordTypes = {{"H-TYPE", "H", "HDR-REC"}, {"H-TYPE", "D", "DTL-REC"}};
        return options;
    }
    const std::string rules = "--cobol --record-type H-TYPE=H:HDR-REC --record-type H-TYPE=D:DTL-REC";
};

TEST_F(RecordTypesFile, EachRecordShowsTheColumnsOfItsType) {
    DataFile data("types.dat", "H20240131DPEN 012 DINK 300 X12345678");
    DataDocument doc;
    std::string error, reason;
    ASSERT_TRUE(doc.Open(copybook.Head(), copybook.Length(), data.Path(), Options(), error)) << error;
    ASSERT_TRUE(doc.RecordTyped());
    ASSERT_EQ(doc.ColumnCount(), 6u);   // the record's name, H-TYPE, H-DATE, D-TYPE, D-ITEM, D-QTY
    EXPECT_EQ(doc.ColumnName(0), "レコード種別");
    EXPECT_EQ(doc.ColumnName(4), "D-ITEM");
    EXPECT_EQ(doc.ColumnRecord(4), 1);
    EXPECT_EQ(doc.RecordCount(), 4);
    const DataDocument::ShownRow* header = doc.Row(0);
    ASSERT_NE(header, nullptr);
    EXPECT_EQ(header->cells[0].text, "HDR-REC");
    EXPECT_EQ(header->cells[2].text, "20240131");
    EXPECT_TRUE(header->cells[4].absent);
    const DataDocument::ShownRow* detail = doc.Row(2);
    EXPECT_EQ(detail->cells[4].text, "INK ");
    EXPECT_EQ(detail->cells[5].text, "300");
    EXPECT_TRUE(detail->cells[2].absent);
    // A record no rule chooses: bad, with the reason; its record's name is ###.
    const DataDocument::ShownRow* unknown = doc.Row(3);
    EXPECT_TRUE(unknown->bad);
    EXPECT_TRUE(unknown->cells[0].bad);
    EXPECT_EQ(unknown->reason.rfind("どのレコード種別にも当たらないレコードです", 0), 0u) << unknown->reason;
    EXPECT_EQ(doc.BadRowsShown(), 1);
    // The detail walks the record's own 01.
    std::vector<DataDocument::DetailLine> lines;
    ASSERT_TRUE(doc.Detail(1, lines));
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0].name, "DTL-REC");
    EXPECT_EQ(lines[3].value, "12");
    // Find and filter over the columns of one type.
    EXPECT_EQ(doc.Find("ink", -1, -1, true, quillbox::DataProgress()), 2);
    quillbox::DataRowSet rows;
    ASSERT_TRUE(doc.Filter(5, DataDocument::Compare::kGreater, "100", rows, quillbox::DataProgress(), error));
    EXPECT_EQ(rows.Rows(), (std::vector<long long>{2}));
    // Edits: a column of the record's own type only.
    EXPECT_FALSE(doc.SetCell(0, 4, "PAD", reason));
    EXPECT_FALSE(doc.SetCell(0, 0, "DTL-REC", reason));
    ASSERT_TRUE(doc.SetCell(1, 5, "7", reason)) << reason;
    ASSERT_TRUE(doc.Save(error)) << error;
    EXPECT_EQ(qbtest::ReadFileBytes(data.Path()), "H20240131DPEN 007 DINK 300 X12345678");
}

#ifdef QB_CLI_PATH
TEST_F(RecordTypesFile, ExportIsDecodesJsonLinesWithTheRecordKey) {
    DataFile data("types-export.dat", "H20240131DPEN 012 DINK 300 H20991231");
    DataDocument doc;
    std::string error;
    ASSERT_TRUE(doc.Open(copybook.Head(), copybook.Length(), data.Path(), Options(), error)) << error;
    const std::string target = Scratch("types.jsonl");
    quillbox::RunResult result;
    EXPECT_FALSE(doc.Export(target, TableFormat::kCsv, nullptr, result, error));
    EXPECT_FALSE(error.empty());
    ASSERT_TRUE(doc.Export(target, TableFormat::kJsonl, nullptr, result, error)) << error;
    const std::string args = rules + " '" + copybook.Path() + "' '" + data.Path() + "'";
    const std::string all = Cli("decode " + args);
    EXPECT_NE(all.find("\"record\""), std::string::npos) << all;
    EXPECT_EQ(qbtest::ReadFileBytes(target), all);
    std::vector<long long> rows = {1, 2};
    ASSERT_TRUE(doc.Export(target, TableFormat::kJsonl, &rows, result, error)) << error;
    EXPECT_EQ(qbtest::ReadFileBytes(target), Cli("decode --skip 1 --count 2 " + args));
    std::remove(target.c_str());
}
#endif

TEST(DataDocument, AFailedSaveOrAReadOnlyFileLosesNothing) {
    Copybook copybook(kCustomer);
    const std::string original = CustomerFile();
    const std::string folder = Scratch("folder"), moved = Scratch("moved");
    ASSERT_EQ(std::system(("rm -rf " + folder + " " + moved + " && mkdir " + folder).c_str()), 0);
    const std::string path = folder + "/data.dat";
    ASSERT_TRUE(qbtest::WriteFileBytes(path, original));
    DataDocument doc;
    std::string error, reason;
    ASSERT_TRUE(doc.Open(copybook.Head(), copybook.Length(), path, DataOptions(), error)) << error;
    ASSERT_TRUE(doc.SetCell(0, 1, "変更", reason)) << reason;
    // The folder is gone when saving: no temporary file can be made there.
    ASSERT_EQ(std::rename(folder.c_str(), moved.c_str()), 0);
    EXPECT_FALSE(doc.Save(error));
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(doc.Modified());
    EXPECT_EQ(qbtest::ReadFileBytes(moved + "/data.dat"), original);
    ASSERT_EQ(std::rename(moved.c_str(), folder.c_str()), 0);
    EXPECT_EQ(CellText(doc, 0, 1), "変更      ");
    // Back in place, the same edits save.
    ASSERT_TRUE(doc.Save(error)) << error;
    EXPECT_EQ(qbtest::ReadFileBytes(path).substr(4, 10), "変更      ");
    EXPECT_EQ(qbtest::ReadFileBytes(path).substr(14), original.substr(14));

    // A folder that may not be written (not for the superuser, whom nothing stops).
    if (geteuid() != 0) {
        ASSERT_TRUE(doc.SetCell(0, 1, "再変更", reason)) << reason;
        ASSERT_EQ(std::system(("chmod 555 " + folder).c_str()), 0);
        const std::string before = qbtest::ReadFileBytes(path);
        EXPECT_FALSE(doc.Save(error));
        EXPECT_TRUE(doc.Modified());
        EXPECT_EQ(qbtest::ReadFileBytes(path), before);
        ASSERT_EQ(std::system(("chmod 755 " + folder).c_str()), 0);
    }

    // The file grew after it was opened: the save is refused, the file and the edits stay.
    DataDocument grown;
    ASSERT_TRUE(grown.Open(copybook.Head(), copybook.Length(), path, DataOptions(), error)) << error;
    ASSERT_TRUE(grown.SetCell(1, 1, "X", reason)) << reason;
    const std::string longer = qbtest::ReadFileBytes(path) + "0008";
    ASSERT_TRUE(qbtest::WriteFileBytes(path, longer));
    EXPECT_FALSE(grown.Save(error));
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(grown.Modified());
    EXPECT_EQ(qbtest::ReadFileBytes(path), longer);

    // Opened read-only: no edit, no save, and it says so.
    DataDocument readOnly;
    ASSERT_TRUE(readOnly.Open(copybook.Head(), copybook.Length(), path, DataOptions(), error, true)) << error;
    EXPECT_TRUE(readOnly.ReadOnly());
    EXPECT_FALSE(readOnly.ReadOnlyReason().empty());
    EXPECT_FALSE(readOnly.SetCell(0, 1, "X", reason));
    EXPECT_FALSE(reason.empty());
    EXPECT_FALSE(readOnly.Save(error));
    std::system(("rm -rf " + folder).c_str());
}

}  // namespace
