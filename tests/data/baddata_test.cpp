// Bad data: every reason is reported with the file, the record number, the item and
// its offset; the three policies stop, skip the record, or leave the value empty.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "data_test_util.h"

using datatest::Bytes;
using datatest::Layout;
using datatest::RunResult;

namespace {

const std::vector<std::string> kLayout = {
    "01 REC.",
    "   05 NAME PIC X(3).",
    "   05 QTY  PIC S9(3).",
    "   05 AMT  PIC S9(3) COMP-3.",
    "   05 CNT  PIC 9(3) COMP-3.",
    "   05 KANA PIC N(1).",
    "   05 FLAG PIC 1(2).",
    "   05 BITS PIC 1(4) USAGE BIT.",
};

// A good record: ABC, +12 (zone 0x40), -7, 5, a full-width space, 10, 1010.
std::string Good() { return "ABC" "01B" + Bytes({0x00, 0x7D, 0x00, 0x5F, 0x81, 0x40}) + "10" + Bytes({0xA0}); }

struct Case {
    const char* what;
    int offset;      // of the byte changed
    int value;       // its new value
    const char* item;
    const char* reason;
};

const Case kDecodeCases[] = {
    {"display byte not a digit", 3, 'x', "QTY (offset 3)", "display byte 0x78 is not a digit"},
    {"sign zone neither", 5, 0x62, "QTY (offset 5)", "is neither the positive nor the negative zone"},
    {"packed nibble", 6, 0x0A, "AMT (offset 6)", "packed nibble A of byte 0x0A is not a digit"},
    {"packed sign", 7, 0x71, "AMT (offset 7)", "packed sign nibble 1 is no sign"},
    {"unsigned packed negative", 9, 0x5D, "CNT (offset 9)", "negative sign in an unsigned packed item"},
    {"text does not convert", 1, 0x80, "NAME (offset 0)", "text does not convert from cp932"},
    {"national half-width", 10, 0x41, "KANA (offset 10)", "national text does not convert"},
    {"bit character", 12, '2', "FLAG (offset 12)", "byte 0x32 is not a bit character"},
    {"bits beyond the picture", 14, 0xA1, "BITS (offset 14)", "bits beyond the item's 4 are set"},
};

TEST(BadData, EveryReasonStopsWithRecordItemOffsetAndReason) {
    Layout layout(kLayout);
    ASSERT_EQ(layout.Length(), 15);
    DataOptions options;
    RunDisplay display;
    display.dataName = "in.dat";
    RunResult good = layout.Decode(Good(), options, display);
    ASSERT_EQ(good.status, kExitDone) << good.err;
    EXPECT_EQ(good.out, u8"NAME,QTY,AMT,CNT,KANA,FLAG,BITS\nABC,12,-7,5,　,10,1010\n");
    for (const Case& c : kDecodeCases) {
        SCOPED_TRACE(c.what);
        std::string bad = Good();
        bad[static_cast<size_t>(c.offset)] = static_cast<char>(c.value);
        RunResult result = layout.Decode(Good() + bad + Good(), options, display);
        EXPECT_EQ(result.status, kExitFailed);
        EXPECT_NE(result.err.find(std::string("in.dat: record 2, item ") + c.item + ": "), std::string::npos) << result.err;
        EXPECT_NE(result.err.find(c.reason), std::string::npos) << result.err;
        // Only the record before the bad one was written.
        EXPECT_EQ(result.out, good.out);
    }
}

TEST(BadData, SkipAndNullGoOnAndEndWithStatusThreeAndASummary) {
    Layout layout(kLayout);
    std::string bad = Good();
    bad[6] = 0x0A;
    DataOptions options;
    options.onError = OnError::kSkip;
    RunResult skipped = layout.Decode(Good() + bad + Good(), options);
    EXPECT_EQ(skipped.status, kExitBadData);
    EXPECT_EQ(skipped.out, u8"NAME,QTY,AMT,CNT,KANA,FLAG,BITS\nABC,12,-7,5,　,10,1010\nABC,12,-7,5,　,10,1010\n");
    EXPECT_NE(skipped.err.find("decode: 3 records read, 2 written, 1 bad"), std::string::npos) << skipped.err;
    EXPECT_NE(skipped.err.find("bad: -: record 2, item AMT (offset 6)"), std::string::npos) << skipped.err;
    options.onError = OnError::kNull;
    RunResult nulled = layout.Decode(bad, options);
    EXPECT_EQ(nulled.status, kExitBadData);
    EXPECT_EQ(nulled.out, u8"NAME,QTY,AMT,CNT,KANA,FLAG,BITS\nABC,12,,5,　,10,1010\n");
    options.format = TableFormat::kJsonl;
    EXPECT_NE(layout.Decode(bad, options).out.find("\"AMT\":null"), std::string::npos);
}

TEST(BadData, RecordsOfTheWrongLengthAreReportedNeverPaddedOrDropped) {
    Layout layout({"01 REC.", "   05 N PIC 9(4)."});
    DataOptions options;
    RunResult shortLast = layout.Decode("12345", options);
    EXPECT_EQ(shortLast.status, kExitFailed);
    EXPECT_NE(shortLast.err.find("-: record 2: short record: 1 of 4 bytes"), std::string::npos) << shortLast.err;
    options.records = RecordFormat::kLines;
    options.onError = OnError::kSkip;
    RunResult lines = layout.Decode("1234\n123\n12345\n5678\n", options);
    EXPECT_EQ(lines.status, kExitBadData);
    EXPECT_EQ(lines.out, "N\n1234\n5678\n");
    EXPECT_NE(lines.err.find("record 2: line of 3 bytes, the record has 4"), std::string::npos) << lines.err;
    options.records = RecordFormat::kRdw;
    RunResult rdw = layout.Decode(Bytes({0, 8, 0, 0}) + "1234" + Bytes({0, 7, 0, 0}) + "123", options);
    EXPECT_EQ(rdw.status, kExitBadData);
    EXPECT_NE(rdw.err.find("record 2: RDW record of 3 bytes, the record has 4"), std::string::npos) << rdw.err;
}

TEST(BadData, BrokenDescriptorWordsEndTheRunWhateverThePolicy) {
    Layout layout({"01 REC.", "   05 N PIC 9(4)."});
    DataOptions options;
    options.onError = OnError::kSkip;
    options.records = RecordFormat::kRdw;
    struct {
        std::string data;
        const char* message;
    } cases[] = {
        {Bytes({0, 8, 0, 0}) + "1234" + Bytes({0, 2, 0, 0}), "record 2: bad RDW: record length 2"},
        {Bytes({0, 8, 0, 1}) + "1234", "record 1: bad RDW: bytes 3 and 4 are not zero"},
        {Bytes({0, 8, 0, 0}) + "12", "record 1: bad RDW: record of 8 bytes cut by the end of the file"},
        {Bytes({0, 8, 0, 0}) + "1234" + Bytes({0, 8}), "record 2: bad RDW: 2 bytes where a descriptor word belongs"},
    };
    for (const auto& c : cases) {
        RunResult result = layout.Decode(c.data, options);
        EXPECT_EQ(result.status, kExitFailed);
        EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
    }
    options.records = RecordFormat::kRdwBlock;
    RunResult block = layout.Decode(Bytes({0, 12, 0, 0, 0, 9, 0, 0}) + "1234", options);
    EXPECT_EQ(block.status, kExitFailed);
    EXPECT_NE(block.err.find("bad RDW: record of 9 bytes in a block with 8 left"), std::string::npos) << block.err;
    block = layout.Decode(Bytes({0, 3, 0, 0}), options);
    EXPECT_NE(block.err.find("bad BDW: block length 3"), std::string::npos) << block.err;
}

TEST(BadData, ValuesThatDoNotFitAreNeverCut) {
    Layout layout(kLayout);
    DataOptions options;
    RunDisplay display;
    display.tableName = "in.csv";
    const std::string header = "NAME,QTY,AMT,CNT,KANA,FLAG,BITS\n";
    struct {
        const char* row;
        const char* message;
    } cases[] = {
        {"ABCD,1,1,1,,10,1", "item NAME (offset 0): text of 4 bytes does not fit the item's 3"},
        {"A,1000,1,1,,10,1", "item QTY (offset 3): 1000 has more digits than the picture's 3"},
        {"A,1.5,1,1,,10,1", "item QTY (offset 3): \"1.5\" has more than 0 decimal places"},
        {"A,1,x1,1,,10,1", "item AMT (offset 6): \"x1\" is not a decimal number"},
        {"A,1,1,-1,,10,1", "item CNT (offset 8): negative value -1 for an unsigned item"},
        {"A,1,1,1,A,10,1", "item KANA (offset 10): \"A\" is not all double-byte (\xE5\x85\xA8\xE8\xA7\x92) characters, as a PIC N item must be"},
        {"A,1,1,1,,12,1", "item FLAG (offset 12): \"12\" is not a string of 0 and 1"},
        {"A,1,1,1,,10,10101", "item BITS (offset 14): \"10101\" has more than the item's 4 bits"},
        {"A,,1,1,,10,1", "item QTY (offset 3): no value"},
        {"A,1,1", "in.csv: record 1: a row of 3 fields, the layout has 7"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.row);
        RunResult result = layout.Encode(header + c.row + "\n", options, display);
        EXPECT_EQ(result.status, kExitFailed);
        EXPECT_EQ(result.out, "");
        EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
    }
    options.onError = OnError::kNull;
    RunResult nulled = layout.Encode(header + "A,1000,1,1,,10,1\n", options);
    EXPECT_EQ(nulled.status, kExitBadData);
    EXPECT_EQ(nulled.out.substr(0, 6), "A  00@");
    RunResult header2 = layout.Encode("NAME,QTY\n", options);
    EXPECT_EQ(header2.status, kExitFailed);
    EXPECT_NE(header2.err.find("header column 3 is (none), the layout has AMT"), std::string::npos) << header2.err;
}

}  // namespace

namespace {

// encode takes the table strictly: keys and columns the layout lacks, keys given twice
// and JSON types that do not fit are refused with their names (--ignore-unknown lets
// unknown ones pass); a line record cannot hold the line end; a float never becomes
// Infinity by overflow.
TEST(BadData, EncodeRefusesWhatTheLayoutCannotTake) {
    Layout layout({"01 R.", "05 G.", "10 NAME PIC X(3).", "10 QTY PIC 9(3).", "05 B PIC 9(4) COMP.",
                   "05 F PIC X(1)."});
    DataOptions options;
    options.format = TableFormat::kJsonl;
    struct {
        const char* row;
        const char* message;
    } cases[] = {
        {R"({"R":{"G":{"NAME":"AB","QTY":1},"B":1,"F":"x","EXTRA":1}})", "the layout has no item \"EXTRA\""},
        {R"({"R":{"G":{"NAM":"AB","QTY":1},"B":1,"F":"x"}})", "R.G: the layout has no item \"NAM\""},
        {R"({"R":{"G":{"NAME":"AB","NAME":"CD","QTY":1},"B":1,"F":"x"}})", "\"NAME\" is given twice"},
        {R"({"R":{"G":{"NAME":{"X":1},"QTY":1},"B":1,"F":"x"}})", "R.G.NAME: an object does not fit the item"},
        {R"({"R":{"G":"AB","B":1,"F":"x"}})", "R.G: a string where the layout has a group"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.row);
        datatest::RunResult result = layout.Encode(std::string(c.row) + "\n", options);
        EXPECT_EQ(result.status, kExitFailed);
        EXPECT_EQ(result.out, "");
        EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
    }
    options.ignoreUnknown = true;
    datatest::RunResult passed = layout.Encode(std::string(cases[0].row) + "\n", options);
    EXPECT_EQ(passed.status, kExitDone) << passed.err;
    EXPECT_EQ(passed.out, std::string("AB 001") + datatest::Bytes({0, 1}) + "x");

    // CSV: by default the header must be the layout's; with --ignore-unknown columns are
    // found by name and others pass.
    options = DataOptions();
    datatest::RunResult extra = layout.Encode("NAME,QTY,B,F,NOTE\nAB,1,1,x,hello\n", options);
    EXPECT_EQ(extra.status, kExitFailed);
    EXPECT_NE(extra.err.find("header column 5 is NOTE, the layout has (none)"), std::string::npos) << extra.err;
    options.ignoreUnknown = true;
    extra = layout.Encode("NOTE,F,B,QTY,NAME\nhello,x,1,1,AB\n", options);
    EXPECT_EQ(extra.status, kExitDone) << extra.err;
    EXPECT_EQ(extra.out, passed.out);
    EXPECT_NE(layout.Encode("NAME,QTY,B,F,QTY\nAB,1,1,x,2\n", options).err.find("header column 5 repeats QTY"),
              std::string::npos);

    // A binary value whose bytes hold the line end cannot be a line record.
    options = DataOptions();
    options.records = RecordFormat::kLines;
    datatest::RunResult lines = layout.Encode("NAME,QTY,B,F\nAB,1,10,x\nAB,1,11,x\n", options);
    EXPECT_EQ(lines.status, kExitFailed);
    EXPECT_NE(lines.err.find("record 1, item B (offset 7): the record holds the line end"), std::string::npos)
        << lines.err;
    options.onError = OnError::kSkip;
    lines = layout.Encode("NAME,QTY,B,F\nAB,1,10,x\nAB,1,11,x\n", options);
    EXPECT_EQ(lines.status, kExitBadData);
    EXPECT_EQ(lines.out, std::string("AB 001") + datatest::Bytes({0, 11}) + "x\n");
}

// Names read from the input (a CSV header's columns, JSON keys) are shown escaped and
// bounded, so that a message stays one line and cannot drive a terminal; a run that
// cannot start says so with the program's prefix.
TEST(BadData, NamesFromTheInputAreEscapedInMessages) {
    Layout layout({"01 R.", "05 N PIC 9(3).", "05 T PIC X(4)."});
    DataOptions options;
    datatest::RunResult header = layout.Encode("N,\"T\nX\x1b[2J\"\n1,a\n", options);
    EXPECT_EQ(header.status, kExitFailed);
    EXPECT_NE(header.err.find("quillbox-cli: "), std::string::npos) << header.err;
    EXPECT_NE(header.err.find("header column 2 is T\\x0AX\\x1B[2J, the layout has T\n"), std::string::npos)
        << header.err;
    EXPECT_EQ(header.err.find('\x1b'), std::string::npos);
    options.ignoreUnknown = true;
    datatest::RunResult repeated = layout.Encode("N,T,\"N\"\n1,a,2\n", options);
    EXPECT_NE(repeated.err.find("header column 3 repeats N"), std::string::npos) << repeated.err;
    datatest::RunResult longName = layout.Encode("N,\"T" + std::string(500, 'x') + "\"\n1,a\n", DataOptions());
    EXPECT_NE(longName.err.find("... (501 bytes), the layout has T"), std::string::npos) << longName.err;

    options = DataOptions();
    options.format = TableFormat::kJsonl;
    datatest::RunResult key = layout.Encode("{\"R\":{\"N\":1,\"T\":\"a\",\"K\\u001b]0;x\\n\\u009b\":1}}\n", options);
    EXPECT_EQ(key.status, kExitFailed);
    EXPECT_NE(key.err.find("the layout has no item \"K\\x1B]0;x\\x0A\\xC2\\x9B\""), std::string::npos) << key.err;
    EXPECT_EQ(key.err.find('\x1b'), std::string::npos);
    datatest::RunResult twice = layout.Encode("{\"R\":{\"N\":1,\"T\":\"a\",\"N\":2}}\n", options);
    EXPECT_NE(twice.err.find("\"N\" is given twice"), std::string::npos) << twice.err;
}

TEST(BadData, FloatsBeyondTheirRangeAreRefused) {
    Layout layout({"01 R.", "05 S COMP-1.", "05 D COMP-2."}, true);
    DataOptions options;
    for (const char* row : {"3.5e38,1", "1,1e400", "-1e39,0"}) {
        SCOPED_TRACE(row);
        datatest::RunResult result = layout.Encode(std::string("S,D\n") + row + "\n", options);
        EXPECT_EQ(result.status, kExitFailed);
        EXPECT_NE(result.err.find("is out of the range of IEEE"), std::string::npos) << result.err;
    }
    EXPECT_EQ(layout.Encode("S,D\n3.4e38,1e300\nInfinity,-Infinity\n", options).status, kExitDone);
}

}  // namespace

namespace {

// Messages show at most 80 bytes of a bad value, control bytes escaped; a row longer
// than the limit stops the run instead of being held; text that the Japanese EBCDIC
// pages would change on the way (one-way mappings) is refused.
TEST(BadData, MessagesLinesAndOneWayCharactersAreBounded) {
    Layout layout({"01 R.", "05 N PIC 9(3).", "05 T PIC X(4)."});
    DataOptions options;
    RunDisplay display;
    display.tableName = "in.csv";
    const std::string bad = "1\x1b[31m" + std::string(200, 'x');
    datatest::RunResult shown = layout.Encode("N,T\n\"" + bad + "\",a\n", options, display);
    EXPECT_EQ(shown.status, kExitFailed);
    EXPECT_NE(shown.err.find("\"1\\x1B[31mxxx"), std::string::npos) << shown.err;
    EXPECT_NE(shown.err.find("... (206 bytes)\" is not a decimal number"), std::string::npos) << shown.err;
    EXPECT_EQ(shown.err.find('\x1b'), std::string::npos);
    EXPECT_EQ(shown.err.find(std::string(100, 'x')), std::string::npos);   // not the whole value

    options.maxLine = 64;
    datatest::RunResult longLine = layout.Encode("N,T\n1,ab\n1," + std::string(100, 'y') + "\n1,cd\n", options, display);
    EXPECT_EQ(longLine.status, kExitFailed);
    EXPECT_NE(longLine.err.find("in.csv: record 2: a line longer than 64 bytes"), std::string::npos) << longLine.err;
    options.format = TableFormat::kJsonl;
    longLine = layout.Encode("{\"R\":{\"N\":1,\"T\":\"" + std::string(100, 'y') + "\"}}\n", options, display);
    EXPECT_NE(longLine.err.find("a line longer than 64 bytes"), std::string::npos) << longLine.err;

    options = DataOptions();
    options.encoding = "ibm-930";
    // A backslash and a tilde, which iconv writes one way only in 930, are written as the
    // bytes decode reads them from, so that they come back.
    for (const char* text : {"a\\b", "a~b"}) {
        SCOPED_TRACE(text);
        datatest::RunResult oneWay = layout.Encode(std::string("N,T\n1,") + text + "\n", options);
        ASSERT_EQ(oneWay.status, kExitDone) << oneWay.err;
        datatest::RunResult back = layout.Decode(oneWay.out, options);
        ASSERT_EQ(back.status, kExitDone) << back.err;
        EXPECT_EQ(back.out, std::string("N,T\n1,") + text + " \n");
    }
    EXPECT_EQ(layout.Encode("N,T\n1,AB\n", options).status, kExitDone);
}

// The progress line shows on several threads too, where the rows are told a chunk at a
// time (counts that are seldom a multiple of 1024; the line showed only at those).
TEST(RunDisplay, ProgressShownOnOneThreadAndOnSeveral) {
    Layout layout({"01 R.", "05 N PIC 9(4)."});
    std::string data;
    for (int i = 0; i < 20000; ++i) data += "1234";
    // A sink slow enough that the run lasts beyond the half second before the first line.
    class SlowSink : public quillbox::RowSink {
    public:
        bool Begin(const quillbox::LayoutPlan&) override { return true; }
        bool Row(const quillbox::LayoutPlan&, const quillbox::RowCells&) override {
            if (++rows_ % 1000 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(40));
            return true;
        }
        bool Finish() override { return true; }

    private:
        long long rows_ = 0;
    };
    for (int threads : {1, 4}) {
        SCOPED_TRACE(threads);
        quillbox::DataOptions options;
        options.threads = threads;
        RunDisplay display;
        display.progress = true;
        std::FILE* in = std::tmpfile();
        std::FILE* err = std::tmpfile();
        std::fwrite(data.data(), 1, data.size(), in);
        std::rewind(in);
        SlowSink sink;
        EXPECT_EQ(DecodeData(layout.Head(), layout.Length(), options, in, sink, err, display), kExitDone);
        const std::string said = datatest::ReadAll(err);
        std::fclose(in);
        std::fclose(err);
        EXPECT_NE(said.find(" records, "), std::string::npos) << said;
    }
}

}  // namespace
