// Decode and encode of every usage, code page and record format: the bytes encode
// writes, the table decode writes, and the round trip between them.
#include <gtest/gtest.h>

#include "data_test_util.h"

using datatest::Bytes;
using datatest::Layout;
using datatest::RunResult;

namespace {

const std::vector<std::string> kEveryUsage = {
    "01 REC.",
    "   05 T-TEXT     PIC X(6).",
    "   05 N-DISP     PIC 9(5).",
    "   05 S-DISP     PIC S9(5)V99.",
    "   05 P-SIGNED   PIC S9(7)V99 COMP-3.",
    "   05 P-UNSIGNED PIC 9(4) COMP-3.",
    "   05 B-SIGNED   PIC S9(4) COMP.",
    "   05 B-UNSIGNED PIC 9(9) BINARY.",
    "   05 C5         PIC S9(18) COMP-5.",
    "   05 NAT        PIC N(4).",
    "   05 BITS       PIC 1(10) USAGE BIT.",
    "   05 FLAGS      PIC 1(3).",
    "   05 F1         COMP-1.",
    "   05 F2         COMP-2.",
};

const std::string kHeader =
    "T-TEXT,N-DISP,S-DISP,P-SIGNED,P-UNSIGNED,B-SIGNED,B-UNSIGNED,C5,NAT,BITS,FLAGS,F1,F2\n";

// Two rows: ordinary values, then the extremes of every item.
const std::string kRows = std::string(kHeader) +
    u8"ABC   ,12345,-123.45,1234567.89,9999,-2,123456789,-123456789012345678,日本語　,1010101011,101,1.5,-0.375\n" +
    u8"a\"b,c ,0,99999.99,-9999999.99,0,9999,999999999,999999999999999999,　　　　,0000000001,000,-0,1048576.25\n";

const char* const kEncodings[] = {"cp932", "ascii", "utf-8", "ibm-037", "ibm-1140", "ibm-500",
                                  "ibm-1047", "ibm-930", "ibm-939", "ibm-1390", "ibm-1399"};

const RecordFormat kFormats[] = {RecordFormat::kFixed, RecordFormat::kRdw, RecordFormat::kRdwBlock};

// The CSV as the decoder writes it: the comma text quoted.
std::string Expected() {
    std::string rows = kRows;
    size_t at = rows.find(u8"a\"b,c ,");
    rows.replace(at, 7, u8"\"a\"\"b,c \",");
    return rows;
}

TEST(RoundTrip, EveryUsageInEveryEncodingAndRecordFormat) {
    Layout layout(kEveryUsage);
    ASSERT_EQ(layout.Length(), 6 + 5 + 7 + 5 + 3 + 2 + 4 + 8 + 8 + 2 + 3 + 4 + 8);
    for (const char* encoding : kEncodings) {
        for (RecordFormat format : kFormats) {
            SCOPED_TRACE(std::string(encoding) + " format " + std::to_string(static_cast<int>(format)));
            DataOptions options;
            options.encoding = encoding;
            options.records = format;
            RunResult encoded = layout.Encode(Expected(), options);
            ASSERT_EQ(encoded.status, kExitDone) << encoded.err;
            size_t framing = format == RecordFormat::kFixed ? 0 : format == RecordFormat::kRdw ? 8 : 12;
            ASSERT_EQ(encoded.out.size(), 2 * static_cast<size_t>(layout.Length()) + framing);
            RunResult decoded = layout.Decode(encoded.out, options);
            ASSERT_EQ(decoded.status, kExitDone) << decoded.err;
            EXPECT_EQ(decoded.out, Expected());
            RunResult again = layout.Encode(decoded.out, options);
            EXPECT_EQ(again.out, encoded.out);
        }
    }
}

TEST(RoundTrip, StoredFormsOfTheFirstRecord) {
    Layout layout(kEveryUsage);
    DataOptions options;
    RunResult encoded = layout.Encode(Expected(), options);
    ASSERT_EQ(encoded.status, kExitDone) << encoded.err;
    const std::string& r = encoded.out;
    EXPECT_EQ(r.substr(0, 6), "ABC   ");
    EXPECT_EQ(r.substr(6, 5), "12345");
    EXPECT_EQ(r.substr(11, 7), "001234U");   // -123.45, negative zone 0x50
    EXPECT_EQ(r.substr(18, 5), Bytes({0x12, 0x34, 0x56, 0x78, 0x9C}));
    EXPECT_EQ(r.substr(23, 3), Bytes({0x09, 0x99, 0x9F}));
    EXPECT_EQ(r.substr(26, 2), Bytes({0xFF, 0xFE}));
    EXPECT_EQ(r.substr(28, 4), Bytes({0x07, 0x5B, 0xCD, 0x15}));
    EXPECT_EQ(r.substr(32, 8), Bytes({0xB2, 0x0C, 0xCF, 0x59, 0xB4, 0x64, 0x49, 0xFE}));
    EXPECT_EQ(r.substr(40, 8), "\x93\xFA\x96\x7B\x8C\xEA\x81\x40");   // Shift_JIS
    EXPECT_EQ(r.substr(48, 2), Bytes({0xAA, 0xC0}));
    EXPECT_EQ(r.substr(50, 3), "101");
    EXPECT_EQ(r.substr(53, 4), Bytes({0x00, 0x00, 0xC0, 0x3F}));
    EXPECT_EQ(r.substr(57, 8), Bytes({0, 0, 0, 0, 0, 0, 0xD8, 0xBF}));
}

TEST(RoundTrip, EbcdicZonedDecimalsAndTextInTheFirstRecord) {
    Layout layout(kEveryUsage);
    DataOptions options;
    options.encoding = "ibm-037";
    options.floats = FloatFormat::kIbmHex;
    RunResult encoded = layout.Encode(Expected(), options);
    ASSERT_EQ(encoded.status, kExitDone) << encoded.err;
    const std::string& r = encoded.out;
    EXPECT_EQ(r.substr(0, 6), Bytes({0xC1, 0xC2, 0xC3, 0x40, 0x40, 0x40}));
    EXPECT_EQ(r.substr(6, 5), Bytes({0xF1, 0xF2, 0xF3, 0xF4, 0xF5}));
    EXPECT_EQ(r.substr(11, 7), Bytes({0xF0, 0xF0, 0xF1, 0xF2, 0xF3, 0xF4, 0xD5}));
    EXPECT_EQ(r.substr(40, 8), Bytes({0x65, 0xE5, 0x67, 0x2C, 0x8A, 0x9E, 0x30, 0x00}));   // UTF-16BE
    EXPECT_EQ(r.substr(50, 3), Bytes({0xF1, 0xF0, 0xF1}));
    EXPECT_EQ(r.substr(53, 4), Bytes({0x41, 0x18, 0x00, 0x00}));   // 1.5 in IBM hexadecimal
    EXPECT_EQ(r.substr(57, 8), Bytes({0xC0, 0x60, 0, 0, 0, 0, 0, 0}));   // -0.375
    RunResult decoded = layout.Decode(encoded.out, options);
    EXPECT_EQ(decoded.out, Expected()) << decoded.err;
}

TEST(RoundTrip, SignZonesCDAndFInEbcdic) {
    Layout layout({"01 REC.", "   05 A PIC S9(3).", "   05 B PIC S9(3).", "   05 C PIC S9(3)."});
    DataOptions options;
    options.encoding = "ibm-1047";
    std::string data = Bytes({0xF1, 0xF2, 0xC3, 0xF4, 0xF5, 0xD6, 0xF7, 0xF8, 0xF9});
    RunResult decoded = layout.Decode(data, options);
    ASSERT_EQ(decoded.status, kExitDone) << decoded.err;
    EXPECT_EQ(decoded.out, "A,B,C\n123,-456,789\n");
    // The unsigned zone F reads as positive; encoding writes the preferred sign C.
    RunResult encoded = layout.Encode(decoded.out, options);
    EXPECT_EQ(encoded.out, Bytes({0xF1, 0xF2, 0xC3, 0xF4, 0xF5, 0xD6, 0xF7, 0xF8, 0xC9}));
}

TEST(RoundTrip, GnuCobolSignZonesGivenOnTheCommandLine) {
    Layout layout({"01 REC.", "   05 A PIC S9(3).", "   05 B PIC S9(3)V9."});
    DataOptions options;
    ASSERT_TRUE(ParseSignZones("0x30,0x70", options.positiveZone, options.negativeZone));
    options.signZonesGiven = true;
    RunResult decoded = layout.Decode("123456y", options);
    ASSERT_EQ(decoded.status, kExitDone) << decoded.err;
    EXPECT_EQ(decoded.out, "A,B\n123,-456.9\n");
    EXPECT_EQ(layout.Encode(decoded.out, options).out, "123456y");
}

TEST(RoundTrip, JapaneseEbcdicTextWithShiftCodesAndNationalWithout) {
    Layout layout({"01 REC.", "   05 NAME PIC X(10).", "   05 KANJI PIC N(2)."});
    for (const char* encoding : {"ibm-930", "ibm-939", "ibm-1390", "ibm-1399"}) {
        SCOPED_TRACE(encoding);
        DataOptions options;
        options.encoding = encoding;
        RunResult encoded = layout.Encode(u8"NAME,KANJI\nA日本,漢字\n", options);
        ASSERT_EQ(encoded.status, kExitDone) << encoded.err;
        const std::string& r = encoded.out;
        ASSERT_EQ(r.size(), 14u);
        EXPECT_EQ(static_cast<unsigned char>(r[0]), 0xC1);
        EXPECT_EQ(static_cast<unsigned char>(r[1]), 0x0E);   // shift-out before the double bytes
        EXPECT_EQ(static_cast<unsigned char>(r[6]), 0x0F);   // shift-in after them
        EXPECT_EQ(r.substr(7, 3), Bytes({0x40, 0x40, 0x40}));
        EXPECT_NE(r.substr(10, 4).find('\x0E'), 0u);
        EXPECT_EQ(r.substr(10, 4).find_first_of("\x0E\x0F"), std::string::npos);
        RunResult decoded = layout.Decode(r, options);
        EXPECT_EQ(decoded.out, u8"NAME,KANJI\nA日本   ,漢字\n") << decoded.err;
    }
}

TEST(RoundTrip, LineRecordsAndTrimmedText) {
    Layout layout({"01 REC.", "   05 CODE PIC X(4).", "   05 QTY PIC 9(3)."});
    DataOptions options;
    options.records = RecordFormat::kLines;
    RunResult encoded = layout.Encode("CODE,QTY\nAB  ,007\nWXYZ,100\n", options);
    ASSERT_EQ(encoded.status, kExitDone);
    EXPECT_EQ(encoded.out, "AB  007\nWXYZ100\n");
    EXPECT_EQ(layout.Decode(encoded.out, options).out, "CODE,QTY\nAB  ,7\nWXYZ,100\n");
    options.trim = true;
    options.crlf = true;
    EXPECT_EQ(layout.Decode("AB  007\r\n", options).out, "CODE,QTY\r\nAB,7\r\n");
}

TEST(RoundTrip, ALineThatWouldEndInACarriageReturnIsRefusedNotReadBackShort) {
    // The reader takes a CR before the LF as part of a CR LF line end: a record whose line
    // ends in one would come back with a blank in its place, so encode refuses it.
    Layout text({"01 REC.", "   05 A PIC X(3).", "   05 B PIC X(2)."});
    Layout number({"01 REC.", "   05 A PIC X(2).", "   05 P PIC 9(4) COMP."});
    for (bool lineSequential : {false, true}) {
        DataOptions options;
        options.records = RecordFormat::kLines;
        options.lineSequential = lineSequential;
        options.onError = OnError::kSkip;
        RunResult encoded = text.Encode("A,B\n\"ab\r\",xy\nab,\"x\r\"\n", options);
        EXPECT_EQ(encoded.status, kExitBadData) << lineSequential;
        // A CR inside the line stays, and is read back.
        EXPECT_EQ(encoded.out, "ab\rxy\n") << lineSequential;
        EXPECT_EQ(text.Decode(encoded.out, options).out, "A,B\n\"ab\r\",xy\n");
        EXPECT_NE(encoded.err.find("record 2, item B (offset 4): the record's line would end in a carriage return"),
                  std::string::npos) << encoded.err;
        // A binary 13 at the end of the record is a CR too.
        RunResult binary = number.Encode("A,P\nab,13\nab,3328\n", options);
        EXPECT_EQ(binary.status, kExitBadData) << lineSequential;
        EXPECT_EQ(binary.out, std::string("ab\x0D\x00\n", 5)) << lineSequential;
        EXPECT_NE(binary.err.find("record 1, item P (offset 3): the record's line would end in a carriage return"),
                  std::string::npos) << binary.err;
    }
    // GnuCOBOL's LINE SEQUENTIAL write drops trailing blanks: a CR before them ends the line.
    DataOptions options;
    options.records = RecordFormat::kLines;
    options.lineSequential = true;
    RunResult refused = text.Encode("A,B\n\"ab\r\",\n", options);
    EXPECT_EQ(refused.status, kExitFailed);
    EXPECT_NE(refused.err.find("record 1, item A (offset 2): the record's line would end in a carriage return"),
              std::string::npos) << refused.err;
    options.lineSequential = false;
    RunResult kept = text.Encode("A,B\n\"ab\r\",\n", options);
    EXPECT_EQ(kept.status, kExitDone) << kept.err;
    EXPECT_EQ(text.Decode(kept.out, options).out, "A,B\n\"ab\r\",  \n");
}

TEST(RoundTrip, SkipAndCountCutTheFileIntoPieces) {
    Layout layout({"01 REC.", "   05 N PIC 9(2)."});
    DataOptions options;
    options.skip = 2;
    options.count = 3;
    EXPECT_EQ(layout.Decode("00010203040506", options).out, "N\n2\n3\n4\n");
    options.records = RecordFormat::kRdw;
    std::string rdw;
    for (int i = 0; i < 7; ++i) rdw += Bytes({0, 6, 0, 0, '0', '0' + i});
    EXPECT_EQ(layout.Decode(rdw, options).out, "N\n2\n3\n4\n");
    options.skip = 6;
    EXPECT_EQ(layout.Decode(rdw, options).out, "N\n6\n");
}

TEST(RoundTrip, JsonLinesNestGroupsAndArraysAndShowViewsWithAll) {
    Layout layout({"01 REC.",
                   "   05 ID PIC 9(2).",
                   "   05 ITEMS OCCURS 2.",
                   "      10 CODE PIC X(2).",
                   "      10 AMT PIC S9(3) COMP-3.",
                   "   05 TAGS PIC X(1) OCCURS 3.",
                   "   05 RAW PIC X(4).",
                   "   05 NUM REDEFINES RAW PIC 9(4)."});
    DataOptions options;
    options.format = TableFormat::kJsonl;
    std::string data = "07" "AB" + Bytes({0x01, 0x2C}) + "CD" + Bytes({0x00, 0x5D}) + "xyz" + "0042";
    RunResult decoded = layout.Decode(data, options);
    ASSERT_EQ(decoded.status, kExitDone) << decoded.err;
    EXPECT_EQ(decoded.out,
              "{\"REC\":{\"ID\":7,\"ITEMS\":[{\"CODE\":\"AB\",\"AMT\":12},{\"CODE\":\"CD\",\"AMT\":-5}],"
              "\"TAGS\":[\"x\",\"y\",\"z\"],\"RAW\":\"0042\"}}\n");
    EXPECT_EQ(layout.Encode(decoded.out, options).out, data);
    options.redefinesAll = true;
    decoded = layout.Decode(data, options);
    EXPECT_NE(decoded.out.find("\"RAW\":\"0042\",\"NUM\":42}"), std::string::npos) << decoded.out;
    EXPECT_EQ(layout.Encode(decoded.out, options).out, data);
    // A view that does not decode: null, noted, and no bad record.
    decoded = layout.Decode(data.substr(0, 13) + "AB42", options);
    EXPECT_EQ(decoded.status, kExitDone);
    EXPECT_NE(decoded.out.find("\"NUM\":null"), std::string::npos);
    EXPECT_NE(decoded.err.find("item NUM (offset 13)"), std::string::npos) << decoded.err;
}

TEST(RoundTrip, JsonLinesNestAnInnerTableInEveryOccurrenceUnderTheCobolRules) {
    // The COBOL rules keep the OCCURS count on an elementary table's first copy only.
    for (bool cobol : {false, true}) {
        Layout layout({"01 R.", "   05 T2 OCCURS 2.", "      10 M PIC X.", "      10 U PIC X OCCURS 3."}, cobol);
        DataOptions options;
        options.format = TableFormat::kJsonl;
        RunResult decoded = layout.Decode("AabcBdef", options);
        ASSERT_EQ(decoded.status, kExitDone) << decoded.err;
        EXPECT_EQ(decoded.out, "{\"R\":{\"T2\":[{\"M\":\"A\",\"U\":[\"a\",\"b\",\"c\"]},"
                               "{\"M\":\"B\",\"U\":[\"d\",\"e\",\"f\"]}]}}\n")
            << (cobol ? "COBOL rules" : "default analysis");
        EXPECT_EQ(layout.Encode(decoded.out, options).out, "AabcBdef");
    }
}

TEST(RoundTrip, CsvColumnsFollowTheDdlNamesAndSerialNumbers) {
    Layout layout({"01 REC.", "   05 A PIC X OCCURS 2.", "   05 B PIC X(2).", "   05 C REDEFINES B PIC 99."});
    DataOptions options;
    EXPECT_EQ(layout.Decode("xy12", options).out, "A_1,A_2,B\nx,y,12\n");
    options.serialNo = true;
    options.redefinesAll = true;
    EXPECT_EQ(layout.Decode("xy12", options).out, "A_2,A_3,B,C\nx,y,12,12\n");
}

TEST(RoundTrip, ShiftJisTableForExcel) {
    Layout layout({"01 REC.", "   05 NAME PIC X(6)."});
    DataOptions options;
    options.tableEncoding = "cp932";
    RunResult decoded = layout.Decode("\x93\xFA\x96\x7B  ", options);
    EXPECT_EQ(decoded.out, "NAME\n\x93\xFA\x96\x7B  \n");
    EXPECT_EQ(layout.Encode(decoded.out, options).out, "\x93\xFA\x96\x7B  ");
}

TEST(RoundTrip, FloatFormats) {
    Layout layout({"01 REC.", "   05 F1 COMP-1.", "   05 F2 COMP-2."});
    DataOptions options;
    options.floats = FloatFormat::kIeeeBe;
    std::string big = Bytes({0x3F, 0xC0, 0, 0, 0xBF, 0xB9, 0x99, 0x99, 0x99, 0x99, 0x99, 0x9A});
    RunResult decoded = layout.Decode(big, options);
    EXPECT_EQ(decoded.out, "F1,F2\n1.5,-0.1\n");
    EXPECT_EQ(layout.Encode(decoded.out, options).out, big);
    options.floats = FloatFormat::kIbmHex;
    // 0.1 in IBM long hexadecimal keeps 56 bits of fraction: it comes back exactly.
    std::string ibm = Bytes({0xC1, 0x10, 0, 0, 0x40, 0x19, 0x99, 0x99, 0x99, 0x99, 0x99, 0x9A});
    decoded = layout.Decode(ibm, options);
    EXPECT_EQ(decoded.out.substr(0, 9), "F1,F2\n-1,") << decoded.out;
    EXPECT_EQ(layout.Encode(decoded.out, options).out, ibm);
}

}  // namespace

namespace {

TEST(RoundTrip, CobolRulesLayoutWithSignClausesConditionsAndRenames) {
    Layout layout({"01 REC.",
                   "   05 LEAD-SEP PIC S9(3) SIGN LEADING SEPARATE.",
                   "   05 TRAIL-SEP PIC S9(3) SIGN TRAILING SEPARATE.",
                   "   05 LEAD-ZONE PIC S9(3) SIGN LEADING.",
                   "   05 STATUS-CODE PIC X.",
                   "      88 ACTIVE VALUE 'A'.",
                   "   05 SCALED PIC 9(3)PP.",
                   "66 ALL-SIGNS RENAMES LEAD-SEP THRU LEAD-ZONE."},
                  true);
    ASSERT_EQ(layout.Length(), 4 + 4 + 3 + 1 + 3);
    DataOptions options;
    std::string data = "-012" "345+" "P67" "A" "123";
    RunResult decoded = layout.Decode(data, options);
    ASSERT_EQ(decoded.status, kExitDone) << decoded.err;
    EXPECT_EQ(decoded.out, "LEAD-SEP,TRAIL-SEP,LEAD-ZONE,STATUS-CODE,SCALED\n-12,345,-67,A,12300\n");
    EXPECT_EQ(layout.Encode(decoded.out, options).out, data);
    options.encoding = "ibm-037";
    std::string ebcdic = Bytes({0x60, 0xF0, 0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0x4E, 0xD0, 0xF6, 0xF7, 0xC1, 0xF1, 0xF2, 0xF3});
    EXPECT_EQ(layout.Encode(decoded.out, options).out, ebcdic);
    EXPECT_EQ(layout.Decode(ebcdic, options).out, decoded.out);
    options.encoding = "cp932";
    RunResult notMultiple = layout.Encode("LEAD-SEP,TRAIL-SEP,LEAD-ZONE,STATUS-CODE,SCALED\n1,2,3,A,12345\n", options);
    EXPECT_EQ(notMultiple.status, kExitFailed);
    EXPECT_NE(notMultiple.err.find("is not a multiple of 100"), std::string::npos) << notMultiple.err;
}

}  // namespace

namespace {

TEST(RoundTrip, JsonLinesEscapesAndMissingKeys) {
    Layout layout({"01 REC.", "   05 T PIC X(8).", "   05 N PIC S9(3)V9 COMP-3.", "   05 G.", "      10 U PIC X(2)."});
    DataOptions options;
    options.encoding = "utf-8";
    options.format = TableFormat::kJsonl;
    RunResult encoded = layout.Encode("{\"REC\": {\"T\": \"a\\u00e9\\ud83d\\ude00\", \"N\": -12.5, \"G\": {}}}\n\n", options);
    ASSERT_EQ(encoded.status, kExitDone) << encoded.err;
    EXPECT_EQ(encoded.out, "a\xC3\xA9\xF0\x9F\x98\x80 " + Bytes({0x00, 0x12, 0x5D}) + "  ");
    EXPECT_EQ(layout.Decode(encoded.out, options).out,
              "{\"REC\":{\"T\":\"a\xC3\xA9\xF0\x9F\x98\x80 \",\"N\":\"-12.5\",\"G\":{\"U\":\"  \"}}}\n");
    RunResult broken = layout.Encode("{\"REC\": {\"T\": \"\\ud83d\"}}\n[1]\n{\"REC\": 5\n", options);
    EXPECT_EQ(broken.status, kExitFailed);
    EXPECT_NE(broken.err.find("-: record 1: lone surrogate in a JSON string"), std::string::npos) << broken.err;
    options.onError = OnError::kSkip;
    broken = layout.Encode("[1]\n{\"REC\": 5\n{\"REC\":{\"N\":1}}\n", options);
    EXPECT_EQ(broken.status, kExitBadData);
    EXPECT_NE(broken.err.find("record 1: a line that is no JSON object"), std::string::npos) << broken.err;
    EXPECT_NE(broken.err.find("record 2: ',' or '}' missing in a JSON object"), std::string::npos) << broken.err;
    EXPECT_EQ(broken.out, "        " + Bytes({0x00, 0x01, 0x0C}) + "  ");
}

}  // namespace

namespace {

TEST(RoundTrip, BlocksOfEverySizeIncludingTheExtendedDescriptorWord) {
    Layout layout({"01 REC.", "   05 N PIC 9(6)."});
    std::string table = "N\n";
    for (int i = 0; i < 6000; ++i) table += std::to_string(i) + "\n";
    DataOptions options;
    options.records = RecordFormat::kRdwBlock;
    for (size_t blockSize : {size_t{24}, size_t{64}, size_t{32760}, size_t{70000}}) {
        SCOPED_TRACE(blockSize);
        options.blockSize = blockSize;
        RunResult encoded = layout.Encode(table, options);
        ASSERT_EQ(encoded.status, kExitDone) << encoded.err;
        size_t perBlock = (blockSize - 4) / 10;
        size_t blocks = (6000 + perBlock - 1) / perBlock;
        EXPECT_EQ(encoded.out.size(), 6000 * 10 + blocks * 4);
        const unsigned char* bdw = reinterpret_cast<const unsigned char*>(encoded.out.data());
        // Blocks over 32767 bytes carry the extended form: a 31-bit length, top bit set.
        EXPECT_EQ((bdw[0] & 0x80) != 0, blockSize > 32767);
        EXPECT_EQ(layout.Decode(encoded.out, options).out, table);
    }
}

}  // namespace

namespace {

// An entry with two usages: decode reads the bytes in the form encode (and CopyRecord)
// wrote them, under both analyses (the COBOL rules keep the last usage, as GnuCOBOL).
TEST(RoundTrip, TwoUsagesAreReadInTheFormTheyWereWritten) {
    struct Case {
        const char* entry;
        bool cobol;
        std::string bytes;   // of 12345
    } cases[] = {
        {"05 A PIC 9(5) COMP COMP-5.", false, datatest::Bytes({0x39, 0x30, 0x00, 0x00})},
        {"05 A PIC 9(5) COMP COMP-5.", true, datatest::Bytes({0x39, 0x30, 0x00, 0x00})},
        {"05 A PIC 9(5) COMP-3 COMP.", false, datatest::Bytes({0x00, 0x00, 0x30, 0x39})},
        {"05 A PIC 9(5) COMP-3 COMP.", true, datatest::Bytes({0x00, 0x00, 0x30, 0x39})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.entry) + (c.cobol ? " (COBOL rules)" : ""));
        datatest::Layout layout({"01 R.", c.entry}, c.cobol);
        DataOptions options;
        datatest::RunResult encoded = layout.Encode("A\n12345\n", options);
        ASSERT_EQ(encoded.status, 0) << encoded.err;
        EXPECT_EQ(encoded.out, c.bytes);
        datatest::RunResult decoded = layout.Decode(encoded.out, options);
        ASSERT_EQ(decoded.status, 0) << decoded.err;
        EXPECT_EQ(decoded.out, "A\n12345\n");
    }
}

}  // namespace
